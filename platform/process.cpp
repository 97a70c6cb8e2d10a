// The program's scheduling priority, the priority levels of the settings mapped onto nice values.
// Platform layer: the lowest, it knows nothing of the rest of the program.
#include "platform/process.h"

#include <signal.h>
#include <sys/resource.h>

#include <csignal>

namespace platform {

namespace {

constexpr int kNormal = 2;

int LevelOrNormal(int level) { return level >= 0 && level <= 5 ? level : kNormal; }

bool ApplyNice(int nice) {
    // The program is single-threaded; threads started later (by the HTTP client) inherit this value.
    return setpriority(PRIO_PROCESS, 0, nice) == 0;
}

volatile std::sig_atomic_t StopSignal = 0;

void OnStopSignal(int) {
    StopSignal = 1;
    // The next one takes the default action: a program that does not answer can still be ended.
    ::signal(SIGINT, SIG_DFL);
    ::signal(SIGTERM, SIG_DFL);
}

}  // namespace

int NiceForPriority(int level) {
    static const int nice[6] = {19, 10, 0, -5, -10, -20};
    return nice[LevelOrNormal(level)];
}

bool SetPriorityClass(int level, const std::function<bool(int nice)>& applyNice) {
    level = LevelOrNormal(level);
    if (applyNice(NiceForPriority(level))) return true;
    // Only levels above normal can be refused (a lower nice value needs privileges): step back
    // towards normal until one is granted.
    for (int weaker = level - 1; weaker >= kNormal; --weaker)
        if (applyNice(NiceForPriority(weaker))) break;
    return false;
}

bool SetPriorityClass(int level) { return SetPriorityClass(level, ApplyNice); }

void CatchStopSignals() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;   // reads, writes and waits go on; the request is read between them
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool StopSignalled() { return StopSignal != 0; }

}  // namespace platform
