#include "desktop/windowsmodule.h"

#include <dlfcn.h>

#include "platform/files.h"

#ifndef TAVRIN_WINDOWS_MODULE
#error "TAVRIN_WINDOWS_MODULE names the module's file"
#endif

std::string WindowsModulePath() { return platform::ExecutableDir() + TAVRIN_WINDOWS_MODULE; }

const TWindowsModule* LoadWindowsModule(std::string& error) {
    static TWindowsModule module;
    if (module.RunWindows) return &module;
    // By absolute path: the module sits beside the executable wherever that is, and
    // no search path may offer another. Bound at once, so that a missing symbol fails here.
    void* handle = dlopen(WindowsModulePath().c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        error = dlerror();
        return nullptr;
    }
    TWindowsModule found;
    found.RunWindows = reinterpret_cast<decltype(found.RunWindows)>(dlsym(handle, "TavrinRunWindows"));
    found.ShowMessageBox = reinterpret_cast<decltype(found.ShowMessageBox)>(dlsym(handle, "TavrinShowMessageBox"));
    if (!found.RunWindows || !found.ShowMessageBox) {
        error = WindowsModulePath() + ": the module lacks its entries";
        dlclose(handle);
        return nullptr;
    }
    module = found;
    return &module;
}
