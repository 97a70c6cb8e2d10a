// Tavrin, the desktop program's entry: the command line decides between the unattended run, which
// needs no Qt and runs here, and the interactive start, which the windows module runs.
#include <cstdio>
#include <string>
#include <vector>

#include "desktop/startup.h"
#include "desktop/unattended.h"
#include "desktop/windowsmodule.h"

int main(int argc, char** argv) {
    const TStartOptions options = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc), BaseDir);
    SettingsDir = options.SettingsDir;
    if (options.Unattended()) return RunUnattended(options);

    std::string error;
    const TWindowsModule* windows = LoadWindowsModule(error);
    if (!windows) {
        std::fprintf(stderr, "Tavrin: %s\n", error.c_str());
        return 1;
    }
    return windows->RunWindows(argc, argv, &options);
}
