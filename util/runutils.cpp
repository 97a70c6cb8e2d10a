#include "util/runutils.h"

#include <utility>

#include "platform/files.h"
#include "platform/spawn.h"
#include "util/shwmsg.h"

namespace {

bool DesktopOpen(const std::string& target, const std::string& workingDir) {
    // "--" is not understood by xdg-open; a target that starts with "-" is made a path instead.
    const std::string arg = !target.empty() && target[0] == '-' ? "./" + target : target;
    return platform::SpawnDetached({"xdg-open", arg}, workingDir);
}

TOpener& Opener() {
    static TOpener opener;
    return opener;
}

bool Open(const std::string& target, const std::string& workingDir) {
    const TOpener& opener = Opener();
    return opener ? opener(target, workingDir) : DesktopOpen(target, workingDir);
}

}  // namespace

TOpener SetOpener(TOpener opener) { return std::exchange(Opener(), std::move(opener)); }

bool IsAddress(const std::string& target) {
    // A scheme: a letter, then letters, digits, "+", "-" or "."; at least two characters, so that a
    // Windows drive letter ("C:\...") still counts as a path.
    const size_t colon = target.find(':');
    if (colon == std::string::npos || colon < 2) return false;
    for (size_t i = 0; i < colon; ++i) {
        const char c = target[i];
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!letter && (i == 0 || !((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.'))) return false;
    }
    return true;
}

void RunProgram(const std::string& target) { (void)Open(target, ""); }

void OpenFile(const std::string& target) {
    if (IsAddress(target)) {
        (void)Open(target, "");
        return;
    }
    const std::string path = platform::NativePath(target);
    if (!platform::FileExists(path) && !platform::DirectoryExists(path)) {
        ShowMessageFmt("File not found: \"%s\"", target.c_str());
        return;
    }
    const size_t slash = path.find_last_of('/');
    (void)Open(path, slash == std::string::npos ? "" : path.substr(0, slash + 1));
}
