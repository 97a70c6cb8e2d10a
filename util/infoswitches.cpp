// The --help and --version answers of both programs. Support utilities layer.
#include "util/infoswitches.h"

#include <cstdio>

#include "util/version.h"

TInfoSwitch FindInfoSwitch(const std::vector<std::string>& args) {
    for (const std::string& arg : args) {
        if (arg == "--help" || arg == "-h") return TInfoSwitch::Help;
        if (arg == "--version" || arg == "-V") return TInfoSwitch::Version;
    }
    return TInfoSwitch::None;
}

std::string CommandName(const char* argv0, const char* fallback) {
    const std::string path = argv0 ? argv0 : "";
    const std::string name = path.substr(path.find_last_of('/') + 1);
    return name.empty() ? fallback : name;
}

std::string SharedSwitchesUsage() {
    return "  /D<days>       grab at most this many days (/D alone: no limit)\n"
           "  /C<folder>     settings folder below the program folder (default: settings)\n"
           "  /P<level>      priority: 0 idle, 1 below normal, 2 normal, 3 above normal, 4 high,\n"
           "                 5 real-time\n"
           "  -h, --help     show this text and end\n"
           "  -V, --version  show the version and end\n";
}

std::string VersionLine() { return std::string("Tavrin ") + kTavrinVersion; }

bool AnswerInfoSwitch(const std::vector<std::string>& args, const std::string& usage) {
    const TInfoSwitch which = FindInfoSwitch(args);
    if (which == TInfoSwitch::None) return false;
    const std::string text = (which == TInfoSwitch::Help ? usage : VersionLine()) + "\n";
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
    return true;
}
