// Process services: the scheduling priority of the running program, and the signals that ask it to
// stop.
#pragma once

#include <functional>

namespace platform {

// Priority levels are those of the settings and the P switch: 0 idle, 1 below normal, 2 normal,
// 3 above normal, 4 high, 5 real-time; any other value means normal. Each stands for a nice value.
int NiceForPriority(int level);

// Gives the program the priority `level`. Raising the priority above normal needs privileges; without
// them the next weaker level is tried, down to normal, and nothing is reported. Returns whether the
// level asked for was applied.
bool SetPriorityClass(int level);

// The same, with the call that applies a nice value supplied (it returns false when refused); the
// call is made once per level tried, strongest first.
bool SetPriorityClass(int level, const std::function<bool(int nice)>& applyNice);

// From here on SIGINT and SIGTERM (Ctrl+C, a service manager's stop) ask the program to stop: the
// first one only sets the request, which the program reads at its own pace and answers by ending
// its work cleanly; a second one ends the process at once, as the signal does by default.
void CatchStopSignals();
// Whether a stop signal has arrived.
bool StopSignalled();

}  // namespace platform
