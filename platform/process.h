// Process services: the scheduling priority of the running program.
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

}  // namespace platform
