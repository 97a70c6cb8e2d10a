// Console front end: TavrinConsole's entry: answers --help and --version, finds its program folder
// (an installed program's is the user's own), then runs exactly one grab and ends with the process
// exit status of the run.
#include <cstdio>
#include <string>
#include <vector>

#include "console/uconsole.h"
#include "engine/uluagrabbers.h"
#include "platform/console.h"
#include "platform/process.h"
#include "util/infoswitches.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (AnswerInfoSwitch(args, ConsoleUsage(CommandName(argv[0], "TavrinConsole")))) return 0;
    std::string error;
    if (!UseProgramFolder(error)) {
        std::fprintf(stderr, "TavrinConsole: %s\n", error.c_str());
        return 1;
    }
    platform::Console console;   // standard output
    platform::CatchStopSignals();   // Ctrl+C and a service stop end the run cleanly
    return RunTavrinConsole(args, console);
}
