#include "platform/spawn.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform {

namespace {

bool Fail(std::string* error, const std::string& what, int err) {
    if (error) *error = what + ": " + std::strerror(err);
    return false;
}

}  // namespace

bool SpawnDetached(const std::vector<std::string>& argv, const std::string& workingDir, std::string* error) {
    if (argv.empty() || argv[0].empty()) return Fail(error, "Nothing to start", EINVAL);
    // Everything the children need is prepared here: between fork and exec only calls that are safe
    // in a forked copy of a threaded program may run.
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const char* dir = workingDir.empty() ? nullptr : workingDir.c_str();

    // The grandchild reports a failed chdir or exec through this pipe; a successful exec closes it.
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) return Fail(error, "Cannot start " + argv[0], errno);

    const pid_t child = fork();
    if (child < 0) {
        const int err = errno;
        close(report[0]);
        close(report[1]);
        return Fail(error, "Cannot start " + argv[0], err);
    }
    if (child == 0) {
        // The middle process: a new session, one more fork, and gone, so that init adopts the program.
        close(report[0]);
        setsid();
        const pid_t grandchild = fork();
        if (grandchild < 0) {
            const int err = errno;
            (void)!write(report[1], &err, sizeof err);
            _exit(127);
        }
        if (grandchild == 0) {
            int err = 0;
            if (dir && chdir(dir) != 0) err = errno;
            else {
                execvp(args[0], args.data());
                err = errno;
            }
            (void)!write(report[1], &err, sizeof err);
            _exit(127);
        }
        _exit(0);
    }

    close(report[1]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int err = 0;
    ssize_t got;
    while ((got = read(report[0], &err, sizeof err)) < 0 && errno == EINTR) {
    }
    close(report[0]);
    if (got == static_cast<ssize_t>(sizeof err)) return Fail(error, "Cannot start " + argv[0], err);
    return true;
}

}  // namespace platform
