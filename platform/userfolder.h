// The program folder of an installed program. Installed, the programs, init files and shipped
// scripts sit in a folder only root may change (<prefix>/lib/tavrin); each user gets a program folder
// of their own, $XDG_DATA_HOME/tavrin, where the engine keeps settings/, cache/, temp/ and the
// user's own scripts, and which reaches everything shipped through links into the installed
// folder. So the engine sees one program folder laid out as a build's, a package update is seen at
// the next start, and nothing the user stored is touched by either.
//
// A program in a build or an unpacked folder has no marker file and keeps its own folder.
#pragma once

#include <optional>
#include <string>

namespace platform {

// The file the install step leaves in the installed program folder.
inline constexpr const char* kInstalledMarker = "installed";

bool IsInstalledProgramFolder(const std::string& programDir);

// "<XDG_DATA_HOME>/tavrin/" for an absolute XDG_DATA_HOME, else "<home>/.local/share/tavrin/";
// empty when neither is usable (both empty or relative). Arguments may be null.
std::string UserProgramFolder(const char* xdgDataHome, const char* home);

// Makes the user's program folder at the first start and brings its links up to date at every
// start; both folder names end in "/". The first start makes the folder (private to the user) with
// settings/, cache/, temp/ and scripts/, and copies the shipped example settings folder (demo/) and
// the shipped cache pages, which the user may change from then on; it appears whole or not at all.
// Every start then links each shipped entry of the installed folder, and each shipped script or
// script folder into scripts/, where the user's folder has no entry of that name; a link into the
// installed folder whose target has gone (a package update removed it) is removed, and one of a
// shipped name that leads nowhere (the package moved) is made anew. The user's own files and links
// are never changed. False, with the reason in `error`, when the folder cannot be made.
bool PrepareUserProgramFolder(const std::string& installedDir, const std::string& userDir, std::string& error);

// The program folder for this process: the executable's own folder, or for an installed program
// the user's folder from the environment, prepared as above. None, with the reason, when that
// folder cannot be found or made.
std::optional<std::string> ProgramFolder(std::string& error);

}  // namespace platform
