#include "desktop/unattended.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "desktop/windowsmodule.h"
#include "platform/process.h"
#include "util/shwmsg.h"

namespace {

bool DisplayNamed() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value && *value) return true;
    }
    return false;
}

// Without a display (cron, a server) nobody could answer a box: the text goes to standard error
// without loading Qt. With one, the module creates the application just for the box; a display
// that cannot be reached, or a module that cannot be loaded, leaves standard error again.
void ShowUnattendedMessage(const std::string& text) {
    if (DisplayNamed()) {
        std::string error;
        if (const TWindowsModule* windows = LoadWindowsModule(error)) {
            if (windows->ShowMessageBox(text.c_str())) return;
        } else {
            std::fprintf(stderr, "Tavrin: %s\n", error.c_str());
        }
    }
    std::fprintf(stderr, "%s\n", text.c_str());
}

}  // namespace

int RunUnattended(const TStartOptions& options) {
    const TMessageHandler previous = SetMessageHandler(ShowUnattendedMessage);
    struct Restore {
        const TMessageHandler& Handler;
        ~Restore() { SetMessageHandler(Handler); }
    } restore{previous};

    // Ctrl+C or a service manager's stop ends the run cleanly, settings and log saved, as in
    // TavrinConsole: every callback turns a stop signal into the engine's Stop.
    platform::CatchStopSignals();
    TLuaGrabbers* running = nullptr;
    const auto takeStopRequest = [&running] {
        if (running && platform::StopSignalled()) running->Stop = true;
    };

    // The log is kept for the engine's report; progress, status and statistics go nowhere.
    std::vector<std::string> log;
    TEngineCallbacks callbacks;
    callbacks.OnLog = [&log, &takeStopRequest](const std::string& line) {
        takeStopRequest();
        log.push_back(line);
    };
    callbacks.OnProgress = [&takeStopRequest](int32_t, int32_t, int32_t) { takeStopRequest(); };
    callbacks.OnStatus = [&takeStopRequest](int32_t, const std::string&) { takeStopRequest(); };
    callbacks.OnPanic = [] { ShowMessage("Lua Panic"); };
    callbacks.OnGetLog = [&log] { return JoinLogLines(log); };
    std::unique_ptr<TLuaGrabbers> engine;
    try {
        engine = CreateDesktopEngine(options, callbacks);
    } catch (const std::exception& e) {
        // The engine could not be created (for example, the settings file cannot be read).
        ShowMessage(e.what());
        return 1;
    }
    running = engine.get();
    int exitStatus = 0;
    if (const auto result = GrabOrLogError(*engine, callbacks.OnLog)) exitStatus = *result;
    running = nullptr;   // the shutdown is not stopped
    if (!FreeDesktopEngine(engine)) return 1;
    return exitStatus;
}
