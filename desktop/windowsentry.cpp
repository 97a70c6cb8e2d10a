// The windows module's entries (desktop/windowsmodule.h), which the executable calls after loading
// the module. Built into the module only: the tests link the windows themselves.
#include <QApplication>

#include <clocale>
#include <cstdlib>
#include <string>

#include "desktop/askuser.h"
#include "desktop/umain.h"
#include "desktop/windowsmodule.h"

extern "C" int TavrinRunWindows(int argc, char** argv, const TStartOptions* options) {
    return RunWindows(argc, argv, *options);
}

namespace {

// A box raised in a run without windows must never end that run: whatever platform is named (by
// the display variables, or by the user in QT_QPA_PLATFORM), Qt falls back to the offscreen one
// when it cannot be reached instead of aborting.
void ChooseMessagePlatform() {
    const auto set = [](const char* name) {
        const char* value = std::getenv(name);
        return value && *value;
    };
    std::string platforms;
    if (set("QT_QPA_PLATFORM")) {
        platforms = std::getenv("QT_QPA_PLATFORM");
    } else {
        if (set("WAYLAND_DISPLAY")) platforms += "wayland;";
        if (set("DISPLAY")) platforms += "xcb;";
    }
    if (!platforms.empty() && platforms.back() != ';') platforms += ';';
    setenv("QT_QPA_PLATFORM", (platforms + "offscreen").c_str(), 1);
}

}  // namespace

extern "C" int TavrinShowMessageBox(const char* text) {
    ChooseMessagePlatform();
    static int argc = 1;
    static char name[] = "Tavrin";
    static char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    std::setlocale(LC_ALL, "C");   // the run goes on under the "C" locale Qt has just replaced
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Tavrin"));
    if (!ScreenAvailable()) return 0;
    ShowMessageBox(text);
    return 1;
}
