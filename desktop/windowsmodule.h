// The windows live in a module beside the executable (libtavrin_windows.so in its real folder),
// so that the unattended run never loads Qt. The executable exports the engine; the module uses
// that one engine, BaseDir, SettingsDir and LuaGrabbers. Both sides include this header: the
// module defines the entries, the executable loads it on the first call of LoadWindowsModule.
#pragma once

#include <string>

#include "desktop/startup.h"

extern "C" {
// The interactive start: the application, the main window and its dialogs, until the window
// closes. Returns the process exit status.
int TavrinRunWindows(int argc, char** argv, const TStartOptions* options);
// Shows a message box for a run without windows, creating the application only for it. Returns 0,
// having shown nothing, when no screen can be reached.
int TavrinShowMessageBox(const char* text);
}

struct TWindowsModule {
    decltype(&TavrinRunWindows) RunWindows = nullptr;
    decltype(&TavrinShowMessageBox) ShowMessageBox = nullptr;
};

// The module's path: the executable's real folder and the module's file name. That is the program
// folder (BaseDir) of a build; an installed program's program folder is the user's own.
std::string WindowsModulePath();

// Loads the module once and finds its entries; null, with the loader's message in `error`, when
// it cannot be loaded. The module stays loaded to the end of the process.
const TWindowsModule* LoadWindowsModule(std::string& error);
