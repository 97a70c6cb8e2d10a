// Net layer: writing pages into the download cache, each replacing the old page whole, through the
// recycled spare file its header describes.
#include "net/cachewriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/files.h"

namespace {

unsigned Serial = 0;  // numbers the temporary files of this process

std::string Reason(const char* what, int err) { return std::string(what) + ": " + std::strerror(err); }

std::string TempName(const std::string& stem, const char* suffix = "") {
    return stem + std::to_string(::getpid()) + "-" + std::to_string(++Serial) + suffix;
}

// The whole page in as few writes as the system allows; 0 or the error number.
int WriteAll(int fd, std::string_view data) {
    const char* p = data.data();
    size_t left = data.size();
    while (left > 0) {
        const ssize_t put = ::write(fd, p, left);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return put < 0 ? errno : EIO;
        p += put;
        left -= static_cast<size_t>(put);
    }
    return 0;
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

}  // namespace

TCacheWriter::TCacheWriter(std::string spareFolder) : FFolder(std::move(spareFolder)) {}

TCacheWriter::~TCacheWriter() { DropSpare(); }

void TCacheWriter::DropSpare() {
    if (FSpare.empty()) return;
    ::unlink(FSpare.c_str());
    FSpare.clear();
}

// The spare opened for writing from its start, made when there is none; -1 when none can be had.
int TCacheWriter::OpenSpare(long long& oldSize) {
    if (!FSpare.empty()) {
        const int fd = ::open(FSpare.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
        struct stat st;
        if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1) {
            oldSize = st.st_size;
            return fd;
        }
        // Gone (the temporary folder was emptied), or a replaced page that is also linked
        // elsewhere: that link keeps its bytes, and a new spare is made.
        if (fd >= 0) ::close(fd);
        DropSpare();
    }
    bool madeFolder = false;
    for (int tries = 0; tries < 100; ++tries) {
        std::string name = TempName(FFolder + "cache-", ".tmp");
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            FSpare = std::move(name);
            oldSize = 0;
            return fd;
        }
        if (errno == ENOENT && !madeFolder) {
            madeFolder = true;
            if (!platform::ForceDirectories(FFolder)) return -1;
        } else if (errno != EEXIST) {
            return -1;
        }
    }
    return -1;
}

// Puts the written spare at path in one rename. An existing page trades places with the spare,
// which keeps the old page's file for the next page. False when the plain way must decide.
bool TCacheWriter::Place(const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0) {
        // A link or a folder in the page's place is the plain rename's business, as before.
        if (!S_ISREG(st.st_mode)) return false;
        return ::renameat2(AT_FDCWD, FSpare.c_str(), AT_FDCWD, path.c_str(), RENAME_EXCHANGE) == 0;
    }
    if (errno != ENOENT) return false;
    if (::rename(FSpare.c_str(), path.c_str()) != 0) {
        if (errno != ENOENT || !platform::ForceDirectories(FolderOf(path)) ||
            ::rename(FSpare.c_str(), path.c_str()) != 0)
            return false;
    }
    FSpare.clear();  // the spare has become the page
    return true;
}

std::string TCacheWriter::Write(const std::string& path, std::string_view page) {
    if (path == FSpare) FSpare.clear();  // never write a page into itself
    long long oldSize = 0;
    const int fd = OpenSpare(oldSize);
    if (fd < 0) return WriteBeside(path, page);
    int err = WriteAll(fd, page);
    // Truncating to zero first would make the file system flush the file at close.
    if (err == 0 && oldSize > static_cast<long long>(page.size()) &&
        ::ftruncate(fd, static_cast<off_t>(page.size())) != 0)
        err = errno;
    if (::close(fd) != 0 && err == 0) err = errno;
    if (err != 0) {
        DropSpare();
        return Reason("cannot write", err);
    }
    // A spare on another file system than the page, or a file system that cannot swap two
    // files, takes the plain way.
    if (Place(path)) return "";
    return WriteBeside(path, page);
}

// The plain way: a new temporary file beside the page, renamed over it.
std::string TCacheWriter::WriteBeside(const std::string& path, std::string_view page) {
    const std::string folder = FolderOf(path);
    if (!folder.empty() && !platform::DirectoryExists(folder) && !platform::ForceDirectories(folder))
        return "cannot create its folder";
    std::string temp;
    int fd = -1;
    for (int tries = 0; fd < 0 && tries < 100; ++tries) {
        temp = TempName(path + ".tmp");
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) return Reason("cannot create a temporary file", errno);
    }
    if (fd < 0) return "cannot create a temporary file";
    int err = WriteAll(fd, page);
    if (::close(fd) != 0 && err == 0) err = errno;
    if (err != 0) {
        ::unlink(temp.c_str());
        return Reason("cannot write", err);
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        err = errno;
        ::unlink(temp.c_str());
        return Reason("cannot replace it", err);
    }
    return "";
}
