#include "platform/process.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <vector>

TEST(Process, NiceValueOfEachLevel) {
    struct { int level, nice; } cases[] = {
        {0, 19}, {1, 10}, {2, 0}, {3, -5}, {4, -10}, {5, -20},
        {-1, 0}, {6, 0}, {INT_MIN, 0}, {INT_MAX, 0},  // anything else is normal
    };
    for (const auto& c : cases) EXPECT_EQ(platform::NiceForPriority(c.level), c.nice) << c.level;
}

TEST(Process, RefusedLevelsFallBackTowardsNormal) {
    const int nothing = INT_MAX;  // a system that grants no change at all
    struct {
        int level;
        int lowestGranted;  // the smallest nice value the system allows
        std::vector<int> tried;
        bool applied;
    } cases[] = {
        {5, -20, {-20}, true},
        {5, 0, {-20, -10, -5, 0}, false},
        {5, -5, {-20, -10, -5}, false},
        {4, 0, {-10, -5, 0}, false},
        {3, 0, {-5, 0}, false},
        {3, -5, {-5}, true},
        {0, 0, {19}, true},
        {1, 0, {10}, true},
        {2, 0, {0}, true},
        {-1, 0, {0}, true},
        {1, nothing, {10}, false},  // lowering the priority is never retried with another level
        {5, nothing, {-20, -10, -5, 0}, false},
    };
    for (const auto& c : cases) {
        std::vector<int> tried;
        const bool applied = platform::SetPriorityClass(c.level, [&](int nice) {
            tried.push_back(nice);
            return nice >= c.lowestGranted;
        });
        EXPECT_EQ(tried, c.tried) << "level " << c.level << ", lowest " << c.lowestGranted;
        EXPECT_EQ(applied, c.applied) << "level " << c.level << ", lowest " << c.lowestGranted;
    }
}

namespace {

struct ChildResult {
    int before = 0, after = 0;
    bool applied = false;
};

// Runs the real call in a child process, so the test program keeps its own priority.
ChildResult SetInChild(int level) {
    int fds[2];
    if (pipe(fds) != 0) ADD_FAILURE() << "pipe";
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        ChildResult r;
        errno = 0;
        r.before = getpriority(PRIO_PROCESS, 0);
        r.applied = platform::SetPriorityClass(level);
        r.after = getpriority(PRIO_PROCESS, 0);
        const bool sent = write(fds[1], &r, sizeof r) == static_cast<ssize_t>(sizeof r);
        _exit(sent ? 0 : 1);
    }
    close(fds[1]);
    ChildResult r;
    const bool got = read(fds[0], &r, sizeof r) == static_cast<ssize_t>(sizeof r);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(got && WIFEXITED(status) && WEXITSTATUS(status) == 0);
    return r;
}

}  // namespace

TEST(Process, SetsTheProcessNiceValue) {
    for (int level : {0, 1, 2, 3, 4, 5, 42}) {
        const ChildResult r = SetInChild(level);
        const int target = platform::NiceForPriority(level);
        // Reporting success means the level took effect, and a refusal never lowers the priority.
        EXPECT_EQ(r.applied, r.after == target) << "level " << level;
        if (!r.applied) {
            EXPECT_GE(r.after, target) << "level " << level;
        }
        if (target >= r.before) {
            EXPECT_TRUE(r.applied) << "level " << level;  // lowering the priority is always allowed
        }
    }
}
