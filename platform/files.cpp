// Files and folders on a POSIX system, shaped like the Windows services the host was written for:
// either separator, wildcard listings, file times, whole-file reading, and SaveFile, the one way
// files are replaced. Platform layer: the lowest, it knows nothing of the rest of the program.
#include "platform/files.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

static char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string NativePath(std::string_view path) {
    std::string result(path);
    std::replace(result.begin(), result.end(), '\\', '/');
    return result;
}

bool MatchesMask(std::string_view name, std::string_view mask) {
    if (mask == "*.*") return true;  // on Windows this also takes names without a dot
    // Greedy match with one backtrack point: the last "*" seen absorbs one more byte on a mismatch.
    size_t n = 0, m = 0;
    size_t starMask = std::string_view::npos, starName = 0;
    while (n < name.size()) {
        if (m < mask.size() && mask[m] == '*') {
            starMask = m++;
            starName = n;
        } else if (m < mask.size() && (mask[m] == '?' || LowerAscii(mask[m]) == LowerAscii(name[n]))) {
            ++m;
            ++n;
        } else if (starMask != std::string_view::npos) {
            m = starMask + 1;
            n = ++starName;
        } else {
            return false;
        }
    }
    while (m < mask.size() && mask[m] == '*') ++m;
    return m == mask.size();
}

// ---- listing and plain file operations ----

static bool StatPath(const std::string& path, struct stat& st) { return ::stat(path.c_str(), &st) == 0; }

static bool NameLess(const DirEntry& a, const DirEntry& b) {
    const size_t len = std::min(a.Name.size(), b.Name.size());
    for (size_t i = 0; i < len; ++i) {
        const unsigned char ca = static_cast<unsigned char>(LowerAscii(a.Name[i]));
        const unsigned char cb = static_cast<unsigned char>(LowerAscii(b.Name[i]));
        if (ca != cb) return ca < cb;
    }
    if (a.Name.size() != b.Name.size()) return a.Name.size() < b.Name.size();
    return a.Name < b.Name;
}

std::vector<DirEntry> ListDirectory(std::string_view folder, std::string_view mask) {
    std::vector<DirEntry> entries;
    std::string dir = NativePath(folder);
    if (dir.empty()) dir = ".";
    DIR* d = ::opendir(dir.c_str());
    if (!d) return entries;
    if (dir.back() != '/') dir += '/';
    while (const dirent* e = ::readdir(d)) {
        const std::string_view name(e->d_name);
        if (name == "." || name == ".." || !MatchesMask(name, mask)) continue;
        DirEntry entry;
        entry.Name = std::string(name);
        if (e->d_type == DT_DIR) {
            entry.IsDirectory = true;
        } else if (e->d_type == DT_LNK || e->d_type == DT_UNKNOWN) {
            struct stat st;
            entry.IsLink = e->d_type == DT_LNK ||
                           (::lstat((dir + entry.Name).c_str(), &st) == 0 && S_ISLNK(st.st_mode));
            entry.IsDirectory = StatPath(dir + entry.Name, st) && S_ISDIR(st.st_mode);
        }
        entries.push_back(std::move(entry));
    }
    ::closedir(d);
    std::sort(entries.begin(), entries.end(), NameLess);
    return entries;
}

bool FileExists(std::string_view path) {
    struct stat st;
    return !path.empty() && StatPath(NativePath(path), st) && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(std::string_view path) {
    struct stat st;
    return !path.empty() && StatPath(NativePath(path), st) && S_ISDIR(st.st_mode);
}

bool DeleteFile(std::string_view path) {
    const std::string native = NativePath(path);
    struct stat st;
    if (native.empty() || ::lstat(native.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
    return ::unlink(native.c_str()) == 0;
}

bool ForceDirectories(std::string_view path) {
    const std::string native = NativePath(path);
    if (native.empty()) return false;
    // Walk the path prefix by prefix; each missing folder is made in turn.
    size_t pos = 0;
    while (pos <= native.size()) {
        size_t slash = native.find('/', pos);
        if (slash == std::string::npos) slash = native.size();
        if (slash > 0 && native[slash - 1] != '/') {
            const std::string prefix = native.substr(0, slash);
            if (::mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) {
                // A folder we may not create can still exist (a read-only parent); only a miss fails.
                if (!DirectoryExists(prefix)) return false;
            }
        }
        pos = slash + 1;
    }
    return DirectoryExists(native);
}

std::optional<std::string> CanonicalPath(std::string_view path) {
    const std::string native = NativePath(path);
    if (native.empty()) return std::nullopt;
    char* resolved = ::realpath(native.c_str(), nullptr);
    if (!resolved) return std::nullopt;
    std::string result(resolved);
    std::free(resolved);
    return result;
}

bool SameFile(std::string_view a, std::string_view b) {
    const std::string x = NativePath(a), y = NativePath(b);
    if (x.empty() || y.empty()) return false;
    struct stat sx, sy;
    if (StatPath(x, sx) && StatPath(y, sy)) return sx.st_dev == sy.st_dev && sx.st_ino == sy.st_ino;
    std::error_code ex, ey;
    const std::filesystem::path px = std::filesystem::weakly_canonical(x, ex);
    const std::filesystem::path py = std::filesystem::weakly_canonical(y, ey);
    return !ex && !ey && px == py;
}

std::string CurrentDir() {
    std::string buffer(256, '\0');
    while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE) return std::string();
        buffer.resize(buffer.size() * 2);
    }
    buffer.resize(std::strlen(buffer.c_str()));
    return buffer;
}

bool SetCurrentDir(std::string_view path) {
    const std::string native = NativePath(path);
    return !native.empty() && ::chdir(native.c_str()) == 0;
}

std::string ExecutableDir() {
    std::string buffer(PATH_MAX, '\0');
    const ssize_t len = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (len <= 0 || static_cast<size_t>(len) >= buffer.size()) return CurrentDir() + "/";
    buffer.resize(static_cast<size_t>(len));
    return buffer.substr(0, buffer.rfind('/') + 1);
}

// ---- times ----

std::optional<int64_t> FileModifiedMs(std::string_view path) {
    struct stat st;
    if (path.empty() || !StatPath(NativePath(path), st)) return std::nullopt;
    return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000;
}

std::optional<SYSTEMTIME> FileModifiedLocal(std::string_view path) {
    if (auto ms = FileModifiedMs(path)) return LocalFromUnixMs(*ms);
    return std::nullopt;
}

std::optional<SYSTEMTIME> FileModifiedUtc(std::string_view path) {
    if (auto ms = FileModifiedMs(path)) return UtcFromUnixMs(*ms);
    return std::nullopt;
}

bool SetFileModifiedMs(std::string_view path, int64_t unixMs) {
    const std::string native = NativePath(path);
    if (native.empty()) return false;
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;  // access time stays
    const std::chrono::milliseconds ms(unixMs);
    const auto secs = std::chrono::floor<std::chrono::seconds>(ms);
    times[1].tv_sec = static_cast<time_t>(secs.count());
    times[1].tv_nsec = static_cast<long>((ms - secs).count() * 1000000);
    return ::utimensat(AT_FDCWD, native.c_str(), times, 0) == 0;
}

// ---- reading and safe writing ----

static std::string Reason(const std::string& what, int err) { return what + ": " + std::strerror(err); }

bool ReadWholeFile(std::string_view path, std::string& content, std::string* error) {
    content.clear();
    const std::string native = NativePath(path);
    const int fd = ::open(native.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (error) *error = Reason("Cannot open \"" + native + "\"", errno);
        return false;
    }
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        if (error) *error = Reason("Cannot read \"" + native + "\"", EISDIR);
        return false;
    }
    if (st.st_size > 0) content.reserve(static_cast<size_t>(st.st_size));
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got == 0) break;
        if (got < 0) {
            if (errno == EINTR) continue;
            const int err = errno;
            ::close(fd);
            content.clear();
            if (error) *error = Reason("Cannot read \"" + native + "\"", err);
            return false;
        }
        content.append(buffer, static_cast<size_t>(got));
    }
    ::close(fd);
    return true;
}

static mode_t NewFileMode() {
    const mode_t mask = ::umask(022);  // reading the mask means setting it; put it straight back
    ::umask(mask);
    return 0666 & ~mask;
}

static int FailingFlushes = 0;
static int FailingFlushError = 0;

void FailFlushesForTest(int err, int count) {
    FailingFlushError = err;
    FailingFlushes = count;
}

// fsync, or the failure a test asked for.
static int FlushToDisk(int fd) {
    if (FailingFlushes > 0) {
        --FailingFlushes;
        errno = FailingFlushError;
        return -1;
    }
    return ::fsync(fd);
}

SaveFile::~SaveFile() { Discard(); }

bool SaveFile::Fail(const std::string& what, int err) {
    FError = Reason(what, err);
    FErrorNumber = err;
    Discard();
    return false;
}

// The file a write to `target` replaces: the target, or the file a link there leads to.
static std::string ReplacedFile(const std::string& target) {
    struct stat st;
    if (::lstat(target.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
        if (auto resolved = CanonicalPath(target)) return *resolved;
    return target;
}

// The unique part mkstemp puts in place of its six X: letters and digits.
static constexpr size_t kTempUniqueLength = 6;

bool SaveFile::Open(std::string_view target) {
    Discard();
    FError.clear();
    FErrorNumber = 0;
    FFlushStarted = 0;
    FInPlace = false;
    FTarget = NativePath(target);
    if (FTarget.empty() || FTarget.back() == '/') return Fail("Cannot write \"" + FTarget + "\"", EISDIR);

    // A FIFO or a device (/dev/stdout piped into another tool) is written where it is: it holds no
    // file to keep, and a rename would put a plain file in its place.
    struct stat targetStat;
    const bool targetExists = StatPath(FTarget, targetStat);
    if (targetExists && S_ISDIR(targetStat.st_mode)) return Fail("Cannot write \"" + FTarget + "\"", EISDIR);
    if (targetExists && !S_ISREG(targetStat.st_mode)) {
        int fd;
        do fd = ::open(FTarget.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
        while (fd < 0 && errno == EINTR);
        if (fd < 0) return Fail("Cannot write \"" + FTarget + "\"", errno);
        FFd = fd;
        FInPlace = true;
        return true;
    }
    // Writing through a link replaces the file it points to, not the link.
    FTarget = ReplacedFile(FTarget);

    // A folder holding the plain temporary name is somebody's data, and a sign that something is
    // amiss: no way round it.
    if (struct stat st; ::lstat((FTarget + ".tmp").c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        return Fail("Cannot create a temporary file for \"" + FTarget + "\"", EISDIR);
    // Every writer makes a name of its own, never opened where it is: two runs writing one file at
    // once each replace it whole. The lock tells a later start that the file is still being written.
    std::string temp = FTarget + ".tmp" + std::string(kTempUniqueLength, 'X');
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return Fail("Cannot create a temporary file for \"" + FTarget + "\"", errno);
    ::flock(fd, LOCK_EX);
    FFd = fd;
    FTempName = temp;
    const mode_t mode = targetExists ? (targetStat.st_mode & 07777) : NewFileMode();
    ::fchmod(FFd, mode);  // made private; give it the mode the target has or would get
    return true;
}

bool SaveFile::Write(std::string_view data) {
    if (FFd < 0) return false;
    const char* p = data.data();
    size_t left = data.size();
    while (left > 0) {
        const ssize_t put = ::write(FFd, p, left);
        if (put < 0) {
            if (errno == EINTR) continue;
            return Fail("Cannot write \"" + FTarget + "\"", errno);
        }
        p += put;
        left -= static_cast<size_t>(put);
    }
    return true;
}

bool SaveFile::Commit() {
    if (FFd < 0) {
        if (FError.empty()) {
            FError = "No file is open for writing";
            FErrorNumber = EBADF;
        }
        return false;
    }
    if (FInPlace) {
        // Nothing to flush or rename: a pipe or a device has taken the bytes as they came.
        const int fd = FFd;
        FFd = -1;
        if (::close(fd) != 0 && errno != EINTR) return Fail("Cannot write \"" + FTarget + "\"", errno);
        return true;
    }
    if (FlushToDisk(FFd) != 0) return Fail("Cannot write \"" + FTarget + "\"", errno);
    const int fd = FFd;
    FFd = -1;
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(FTempName.c_str());
        FTempName.clear();
        return Fail("Cannot write \"" + FTarget + "\"", err);
    }
    if (::rename(FTempName.c_str(), FTarget.c_str()) != 0) {
        const int err = errno;
        ::unlink(FTempName.c_str());
        FTempName.clear();
        return Fail("Cannot replace \"" + FTarget + "\"", err);
    }
    FTempName.clear();
    // Make the rename itself durable; a failure here leaves a complete file either way.
    const size_t slash = FTarget.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : FTarget.substr(0, slash));
    const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

void SaveFile::StartFlush() {
    if (FFd < 0 || FInPlace) return;
    const off_t end = ::lseek(FFd, 0, SEEK_CUR);
    if (end <= FFlushStarted) return;
    ::sync_file_range(FFd, FFlushStarted, end - FFlushStarted, SYNC_FILE_RANGE_WRITE);  // a hint: no result
    FFlushStarted = end;
}

void SaveFile::Discard() {
    if (FFd >= 0) {
        ::close(FFd);
        FFd = -1;
    }
    if (!FTempName.empty()) {
        ::unlink(FTempName.c_str());
        FTempName.clear();
    }
}

static bool IsLetterOrDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

std::vector<std::string> RemoveStaleTempFiles(std::string_view target) {
    std::vector<std::string> removed;
    const std::string file = ReplacedFile(NativePath(target));
    const size_t slash = file.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : file.substr(0, slash + 1);
    const std::string prefix = (slash == std::string::npos ? file : file.substr(slash + 1)) + ".tmp";
    if (prefix == ".tmp") return removed;
    for (const DirEntry& entry : ListDirectory(folder, prefix + "*")) {
        const std::string_view rest = std::string_view(entry.Name).substr(std::min(prefix.size(), entry.Name.size()));
        if (entry.Name.compare(0, prefix.size(), prefix) != 0 ||
            !(rest.empty() || (rest.size() == kTempUniqueLength && std::all_of(rest.begin(), rest.end(), IsLetterOrDigit))))
            continue;
        const std::string path = (slash == std::string::npos ? "" : folder) + entry.Name;
        const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        // A writer holds its file locked until it renames or removes it.
        struct stat opened, named;
        if (::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
            ::lstat(path.c_str(), &named) == 0 && named.st_ino == opened.st_ino && named.st_dev == opened.st_dev &&
            ::unlink(path.c_str()) == 0)
            removed.push_back(path);
        ::close(fd);
    }
    return removed;
}

FolderLock::Result FolderLock::Lock(std::string_view folder, std::string_view fileName) {
    Unlock();
    std::string path = NativePath(folder);
    if (!path.empty() && path.back() != '/') path += '/';
    path += fileName;
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);  // a folder we may only read
    if (fd < 0) return Result::Unavailable;
    int rc;
    do rc = ::flock(fd, LOCK_EX | LOCK_NB);
    while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        const int err = errno;
        ::close(fd);
        return err == EWOULDBLOCK ? Result::InUse : Result::Unavailable;
    }
    FFd = fd;
    return Result::Locked;
}

void FolderLock::Unlock() {
    if (FFd >= 0) ::close(FFd);  // closing the only descriptor releases the lock
    FFd = -1;
}

bool WriteFileSafely(std::string_view path, std::string_view content, std::string* error) {
    SaveFile file;
    const bool ok = file.Open(path) && file.Write(content) && file.Commit();
    if (!ok && error) *error = file.Error();
    return ok;
}

}  // namespace platform
