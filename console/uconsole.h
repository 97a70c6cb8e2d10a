// TavrinConsole: one unattended grab run shown on a fixed text-mode screen of 79 × 24 cells.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/console.h"

class TLuaGrabbers;

// Start-up values from the command line; they go to the engine, not to the screen.
struct TConsoleOptions {
    int32_t DayLimit = 0;                 // 0: no limit
    std::string SettingsDir = "settings";
    int32_t Priority = -1;                // -1 and every unknown level: normal
};

// Reads /D<days>, /C<settings folder> and /P<priority level> (letters in either case); other
// arguments are ignored and a later switch of a kind overrides an earlier one. A /C folder that is
// not an existing folder below baseDir falls back to "settings".
TConsoleOptions ParseCommandLine(const std::vector<std::string>& args, const std::string& baseDir);

class TConsoleGrabber {
public:
    // Reads the command line, creates the engine, draws the screen and runs the grab. An error that
    // escapes shuts the engine down as a normal end would and leaves the constructor.
    TConsoleGrabber(const std::vector<std::string>& args, platform::Console& console);
    // Shuts the engine down when Finish has not (errors of that shutdown go to standard error).
    ~TConsoleGrabber();
    TConsoleGrabber(const TConsoleGrabber&) = delete;
    TConsoleGrabber& operator=(const TConsoleGrabber&) = delete;

    // Frees the engine: settings, temporary files and the log file are written; its shutdown still
    // sends log lines, which are drawn. Errors of the shutdown (the settings or log file cannot be
    // written) leave here.
    void Finish();

    TLuaGrabbers* Engine() const { return FEngine.get(); }
    // The exit status of the run: 0, or 2 when a pass failed.
    int32_t ExitStatus() const { return FExitStatus; }

    // The engine's callbacks.
    void AddLogLine(const std::string& text);
    void LuaPanic();
    void ShowProgress(int32_t bar, int32_t value, int32_t mode);
    void ShowStatus(int32_t line, const std::string& text);
    void ShowDownloadStats(const std::string& speed, const std::string& remaining, const std::string& downloaded);
    std::string GetLogText() const;

    void DrawFrame();
    void Redraw();
    void DrawBar(int col, int row, int32_t max, int32_t position);

    struct TBar {
        int32_t Max = 0;
        int32_t Position = 0;
    };

    // The screen's state, readable for checks.
    const std::vector<std::string>& Log() const { return FLog; }
    const std::string& Status(int line) const { return FStatus[line - 1]; }
    const TBar& Bar(int bar) const { return FBars[bar - 1]; }
    const std::string& SpeedText() const { return FSpeedText; }
    const std::string& RemainingText() const { return FRemainingText; }
    const std::string& DownloadedText() const { return FDownloadedText; }
    int16_t Cols() const { return FCols; }
    int16_t Rows() const { return FRows; }

private:
    void ShutDownAfterError() noexcept;
    // A stop signal (platform::CatchStopSignals) becomes the engine's Stop, read in every callback.
    void TakeStopRequest();

    platform::Console& FConsole;
    std::vector<std::string> FLog;   // every line received, never trimmed
    bool FDrawing = false;
    int16_t FCols = 0;
    int16_t FRows = 0;
    std::string FStatus[3];
    TBar FBars[2];
    std::string FSpeedText;
    std::string FRemainingText;
    std::string FDownloadedText;
    int32_t FExitStatus = 0;
    std::unique_ptr<TLuaGrabbers> FEngine;   // last: freed while the screen's state still exists
};

// The frame's 24 rows as code page 437 bytes, 79 cells each.
std::vector<std::string> ConsoleFrameRows();

// Bar cells filled for a position of a maximum (a negative position is a finished bar), 0 to 71.
int BarFilledCells(int32_t max, int32_t position);
// The percentage text beside a bar: "%.3d%%", or "0%  " for a maximum of 0.
std::string BarPercentText(int32_t max, int32_t position);

// The --help text, naming the program as it was started.
std::string ConsoleUsage(const std::string& command);

// The program: runs the console and returns the process exit status; an escaping error is
// reported as "TavrinConsole: " and its message on standard error, with status 1.
int RunTavrinConsole(const std::vector<std::string>& args, platform::Console& console);
