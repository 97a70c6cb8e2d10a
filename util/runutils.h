// Opening a document, program or web address with the desktop's own choice of program.
#pragma once

#include <functional>
#include <string>

// Asks the desktop to open `target` with `workingDir` as the current folder (empty: this
// program's). Returns whether the request could be made; the default starts "xdg-open" detached.
using TOpener = std::function<bool(const std::string& target, const std::string& workingDir)>;

// Installs `opener` (an empty one restores the default) and returns the one it replaces.
TOpener SetOpener(TOpener opener);

// Opens the target; the outcome is not reported.
void RunProgram(const std::string& target);
// Opens the target in its own folder. A local path that does not exist is reported with
// ShowMessageFmt("File not found: \"%s\"") instead; web addresses are handed on as they are.
void OpenFile(const std::string& target);

// Whether the target begins with a scheme such as "http:" or "mailto:" rather than being a path.
bool IsAddress(const std::string& target);
