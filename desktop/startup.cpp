#include "desktop/startup.h"

#include <exception>

#include "engine/inifile.h"
#include "platform/files.h"
#include "util/infoswitches.h"
#include "util/shwmsg.h"

// ---- command line -----------------------------------------------------------------------------

namespace {

bool IsSwitch(const std::string& arg, char upper) {
    return arg.size() >= 2 && arg[0] == '/' && (arg[1] == upper || arg[1] == upper + ('a' - 'A'));
}

bool SameNoCase(const std::string& a, const char* b) {
    size_t i = 0;
    for (; i < a.size() && b[i]; ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return i == a.size() && !b[i];
}

}  // namespace

TStartOptions ParseCommandLine(const std::vector<std::string>& args, const std::string& baseDir) {
    TStartOptions options;
    for (const std::string& arg : args) {
        int32_t value = 0;
        if (IsSwitch(arg, 'D')) options.GrabDays = ParseDecimalInt32(arg.substr(2), value) ? value : 0;
        if (SameNoCase(arg, "/Grab")) options.GrabOnStart = true;
        if (SameNoCase(arg, "/Silent")) options.SilentRun = true;
        if (IsSwitch(arg, 'P') && arg.size() >= 3)
            options.PriorityLevel = ParseDecimalInt32(arg.substr(2), value) ? value : -1;
        if (IsSwitch(arg, 'C') && arg.size() >= 3) {
            options.SettingsDir = arg.substr(2);
            if (!platform::DirectoryExists(baseDir + options.SettingsDir)) options.SettingsDir.clear();
        }
    }
    return options;
}

std::string DesktopUsage(const std::string& command) {
    return "Usage: " + command + " [/Grab [/Silent]] [/D<days>] [/C<folder>] [/P<level>]\n"
           "Opens the Tavrin window: the run's log and progress, the settings, the grabbers and\n"
           "post processors.\n"
           "\n"
           "  /Grab          start a grab at once; the window closes when it ends\n"
           "  /Silent        with /Grab: no window at all, for unattended runs\n" +
           SharedSwitchesUsage() +
           "\n"
           "Exit status: 0 done or no run, 2 a pass of the run failed, 1 an error ended the program.\n"
           "The manual page tavrin(1) tells more.";
}

// ---- the engine -------------------------------------------------------------------------------

std::unique_ptr<TLuaGrabbers> CreateDesktopEngine(const TStartOptions& options, TEngineCallbacks callbacks) {
    auto engine = std::make_unique<TLuaGrabbers>(std::move(callbacks.OnLog), std::move(callbacks.OnPanic));
    engine->AllowMail = options.GrabOnStart;   // the log is mailed only after runs started with /Grab
    engine->OnProgress = std::move(callbacks.OnProgress);
    engine->OnStatus = std::move(callbacks.OnStatus);
    engine->OnDownloadStats = std::move(callbacks.OnDownloadStats);
    engine->DayLimit = options.GrabDays;
    engine->OnGetLog = std::move(callbacks.OnGetLog);
    engine->SetPriority(options.PriorityLevel);
    return engine;
}

std::optional<int32_t> GrabOrLogError(TLuaGrabbers& engine, const TLogEvent& log) {
    try {
        return engine.Grab();
    } catch (const std::exception& e) {
        if (log) log(std::string("Error downloading listings: ") + e.what());
        return std::nullopt;
    }
}

bool FreeDesktopEngine(std::unique_ptr<TLuaGrabbers>& engine) {
    if (!engine) return true;
    bool ok = true;
    try {
        engine->Destroy();
    } catch (const std::exception& e) {
        ShowMessage(e.what());
        ok = false;
    }
    engine.reset();
    return ok;
}
