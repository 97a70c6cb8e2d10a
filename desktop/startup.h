// Tavrin's start without Qt: the command line, and the engine as the desktop program wires it,
// shared by the main window and the unattended run. Nothing here may include a Qt header: the
// executable is built from it and runs the unattended grab without loading Qt at all.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/uluagrabbers.h"

// Values of the command line, set once before any window exists.
struct TStartOptions {
    bool GrabOnStart = false;             // /Grab: run at once, then close
    bool SilentRun = false;               // /Silent: with /Grab, never show a window
    int32_t GrabDays = 0;                 // /D<days>; 0: no limit
    int32_t PriorityLevel = -1;           // /P<level>; -1 and unknown levels: normal
    std::string SettingsDir = "settings"; // /C<folder>; empty when the folder does not exist

    // /Grab with /Silent: one grab without any window.
    bool Unattended() const { return GrabOnStart && SilentRun; }
};

// Reads the switches, first to last, a later one overriding an earlier one; letters in either case,
// anything else ignored. A /C folder that is not an existing folder below baseDir gives an empty
// settings folder (the settings then live in the program folder itself).
TStartOptions ParseCommandLine(const std::vector<std::string>& args, const std::string& baseDir);

// The --help text, naming the program as it was started.
std::string DesktopUsage(const std::string& command);

// The callbacks a front end gives the engine; an unset one does nothing.
struct TEngineCallbacks {
    TLogEvent OnLog;
    TPanicEvent OnPanic;
    TProgressEvent OnProgress;
    TStatusEvent OnStatus;
    TDownloadStatsEvent OnDownloadStats;
    TGetLogEvent OnGetLog;
};

// Creates the engine in the desktop program's order: log and panic callbacks at creation, the log
// mailed only after runs started with /Grab, the other callbacks, the day limit, the log text, the
// priority. Raises what the engine's creation raises.
std::unique_ptr<TLuaGrabbers> CreateDesktopEngine(const TStartOptions& options, TEngineCallbacks callbacks);

// One run: its result, or none after an error escaped it, which is handed to `log` as the line
// "Error downloading listings: <message>".
std::optional<int32_t> GrabOrLogError(TLuaGrabbers& engine, const TLogEvent& log);

// Frees the engine: settings, channel files and log file are written, the log may be mailed. A
// failure of that shutdown is shown with ShowMessage and gives false; the engine is gone either way.
bool FreeDesktopEngine(std::unique_ptr<TLuaGrabbers>& engine);
