// Tavrin, the desktop program's entry: --help and --version are answered at once; otherwise the
// program folder is found (an installed program's is the user's own) and the command line decides
// between the unattended run, which needs no Qt and runs here, and the interactive start, which the
// windows module runs.
#include <cstdio>
#include <string>
#include <vector>

#include "desktop/startup.h"
#include "desktop/unattended.h"
#include "desktop/windowsmodule.h"
#include "util/infoswitches.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (AnswerInfoSwitch(args, DesktopUsage(CommandName(argv[0], "Tavrin")))) return 0;
    std::string error;
    if (!UseProgramFolder(error)) {
        std::fprintf(stderr, "Tavrin: %s\n", error.c_str());
        return 1;
    }
    const TStartOptions options = ParseCommandLine(args, BaseDir);
    SettingsDir = options.SettingsDir;
    if (options.Unattended()) return RunUnattended(options);

    const TWindowsModule* windows = LoadWindowsModule(error);
    if (!windows) {
        std::fprintf(stderr, "Tavrin: %s\n", error.c_str());
        return 1;
    }
    return windows->RunWindows(argc, argv, &options);
}
