// The unattended run (/Grab with /Silent) without Qt: the engine wired as the main window wires it,
// one grab, the engine freed. No window is ever created; a message for the user (the engine could
// not start or shut down, "Lua Panic") is shown in a box only when a display is named, through the
// windows module, and otherwise written to standard error.
#pragma once

#include "desktop/startup.h"

// Returns the process exit status: the run's result, or 1 when the engine could not be created
// or its shutdown failed. SettingsDir must already be set from the options.
int RunUnattended(const TStartOptions& options);
