// The switches both programs answer at once, before anything else starts: --help (-h) prints the
// usage, --version (-V) the version line; either ends the program with status 0.
#pragma once

#include <string>
#include <vector>

enum class TInfoSwitch { None, Help, Version };

// The first of --help, -h, --version and -V among the arguments, spelled exactly so; None when
// there is none. The programs' own switches start with "/", so none of them is taken here.
TInfoSwitch FindInfoSwitch(const std::vector<std::string>& args);

// The name the program was started by, without its folder (argv[0]): "tavrin-console" through the
// installed command, "TavrinConsole" in a build; `fallback` when there is none.
std::string CommandName(const char* argv0, const char* fallback);

// The usage lines both programs share: the /D, /C and /P switches, -h and -V, each line ended by a
// line break.
std::string SharedSwitchesUsage();

// "Tavrin 3.12.00W".
std::string VersionLine();

// When the arguments hold an info switch: prints `usage` or the version line, each ended by a line
// break, to standard output and returns true (the caller then ends with status 0).
bool AnswerInfoSwitch(const std::vector<std::string>& args, const std::string& usage);
