// Starting another program beside this one, without waiting for it.
#pragma once

#include <string>
#include <vector>

namespace platform {

// Starts argv[0] (searched on PATH) with the arguments argv[1..] in `workingDir` (the current
// folder when empty), detached: no shell reads the arguments, the new program is not this one's
// child (nothing is left to reap) and the call returns as soon as it has been started. False, with
// `error` set, when it could not be started (no such program, a folder that cannot be entered).
bool SpawnDetached(const std::vector<std::string>& argv, const std::string& workingDir, std::string* error = nullptr);

}  // namespace platform
