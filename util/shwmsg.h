// Messages for the user. The text goes to one handler that the program chooses: the desktop
// program shows a message box, tests record the text; until one is installed it goes to standard
// error, so a program without windows loses nothing.
#pragma once

#include <functional>
#include <string>

using TMessageHandler = std::function<void(const std::string& text)>;

// Installs `handler` (an empty one restores standard error) and returns the one it replaces.
TMessageHandler SetMessageHandler(TMessageHandler handler);

void ShowMessage(const std::string& text);
void ShowMessageFmt(const char* format, ...) __attribute__((format(printf, 1, 2)));
