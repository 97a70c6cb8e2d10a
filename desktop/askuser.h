// Questions and messages of the desktop program. Each goes through one replaceable function, so
// that tests answer the questions and read the messages without a person at the screen.
#pragma once

#include <QString>

#include <functional>
#include <string>

class QWidget;

// An OK/Cancel question with a question icon: true for OK.
using TConfirmHandler = std::function<bool(QWidget* parent, const QString& text)>;

// Installs `handler` (an empty one restores the message box) and returns the one it replaces.
TConfirmHandler SetConfirmHandler(TConfirmHandler handler);
bool Confirm(QWidget* parent, const QString& text);

// A modal box owned by no window: caption "Message", an information icon and OK.
void ShowMessageBox(const std::string& text);
// Whether the application runs on a screen someone can see (not Qt's offscreen platform).
bool ScreenAvailable();
// Makes ShowMessage show ShowMessageBox. Not without a screen, where nobody could answer the box:
// there the messages stay on standard error.
void InstallMessageBox();

// Text from the engine and the scripts, for a widget: UTF-8 when it is valid UTF-8, otherwise
// read as ISO-8859-1, so that no byte is dropped.
QString DisplayText(const std::string& text);
