// Console front end: TavrinConsole's entry: runs exactly one grab and ends with the process exit
// status of the run.
#include <string>
#include <vector>

#include "console/uconsole.h"
#include "platform/console.h"
#include "platform/process.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    platform::Console console;   // standard output
    platform::CatchStopSignals();   // Ctrl+C and a service stop end the run cleanly
    return RunTavrinConsole(args, console);
}
