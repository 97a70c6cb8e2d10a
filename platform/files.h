// Files and folders: the small layer between the system and the host's Windows-shaped file handling.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/systime.h"

namespace platform {

// Scripts and stored settings were written for a system whose separator is "\", so every path given to
// this layer may use "\" and "/" alike; both separate folders.
std::string NativePath(std::string_view path);

// Windows wildcard match: "*" any run of bytes, "?" exactly one byte, letters compared without regard
// to case (ASCII only), "*.*" matches every name, as it does on Windows.
bool MatchesMask(std::string_view name, std::string_view mask);

struct DirEntry {
    std::string Name;          // without folder
    bool IsDirectory = false;  // a link to a folder counts as a folder
    bool IsLink = false;       // a symbolic link, whatever it leads to
};

// The entries of a folder whose names match the mask, without "." and "..", hidden ones included.
// Sorted by name without regard to case (then byte for byte), so every run sees the same order.
// A folder that cannot be listed gives an empty list.
std::vector<DirEntry> ListDirectory(std::string_view folder, std::string_view mask = "*");

bool FileExists(std::string_view path);       // an existing entry that is not a folder
bool DirectoryExists(std::string_view path);
bool DeleteFile(std::string_view path);       // files only; false when nothing was deleted
bool ForceDirectories(std::string_view path); // creates the folder and its missing parents
std::optional<std::string> CanonicalPath(std::string_view path);  // absolute, links resolved
// Whether two names lead to one file: the same file when both exist (links and hard links
// included), else the same absolute path once links in the existing part are resolved.
bool SameFile(std::string_view a, std::string_view b);

std::string CurrentDir();                     // without a trailing separator
bool SetCurrentDir(std::string_view path);
std::string ExecutableDir();                  // the program's folder, ending in "/"

// Last-modified time of a file (or folder); platform/systime.h converts between the scales.
std::optional<int64_t> FileModifiedMs(std::string_view path);  // ms since 1970-01-01 UTC
std::optional<SYSTEMTIME> FileModifiedLocal(std::string_view path);
std::optional<SYSTEMTIME> FileModifiedUtc(std::string_view path);
bool SetFileModifiedMs(std::string_view path, int64_t unixMs);

// Reads a whole file; false (and `error` set to the reason) when it cannot be read.
bool ReadWholeFile(std::string_view path, std::string& content, std::string* error = nullptr);

// The one way a file that users rely on is replaced (the settings, the channel files, the log, the
// XMLTV output): whole or not at all, and durably. The bytes go to a new temporary file beside the
// target, "<target>.tmp" followed by six letters or digits of its own, locked while it exists (a
// folder named "<target>.tmp" is an error); Commit flushes them to disk, renames the file over the
// target and flushes the folder, so that after a power cut the target holds the old bytes or all
// the new ones. Until Commit succeeds the old file stays untouched; a SaveFile destroyed without
// Commit removes its temporary file. A target that exists and is neither a file nor a folder (a
// FIFO, a device such as /dev/stdout) is written in place. After a failure every later call fails
// and Error tells why.
class SaveFile {
public:
    SaveFile() = default;
    explicit SaveFile(std::string_view target) { Open(target); }
    ~SaveFile();
    SaveFile(const SaveFile&) = delete;
    SaveFile& operator=(const SaveFile&) = delete;

    bool Open(std::string_view target);  // the target's folder must exist
    bool Write(std::string_view data);
    bool Commit();
    void Discard();                      // drops the temporary file, keeps the target
    // Has the system start writing what was written so far to disk, without waiting for it, so that
    // a long file is on its way while the rest is made and Commit has little left to wait for.
    void StartFlush();

    bool IsOpen() const { return FFd >= 0; }
    // The temporary file, for a stream that buffers and writes through it itself; it stays this
    // object's to close.
    int Handle() const { return FFd; }
    const std::string& Error() const { return FError; }
    int ErrorNumber() const { return FErrorNumber; }  // the system's number of the failure, 0 while none
    const std::string& Target() const { return FTarget; }

private:
    bool Fail(const std::string& what, int err);

    int FFd = -1;
    bool FInPlace = false;  // the target itself is open: a FIFO or a device
    std::string FTarget;
    std::string FTempName;
    std::string FError;
    int FErrorNumber = 0;
    int64_t FFlushStarted = 0;  // the bytes StartFlush has sent on their way
};

// Removes what SaveFiles for `target` left behind when their process was killed: the files named
// "<target>.tmp", or that followed by six letters or digits, beside the file a write to `target`
// replaces. Plain files only, and only those no live writer holds locked. Returns their paths.
std::vector<std::string> RemoveStaleTempFiles(std::string_view target);

// An exclusive lock on a folder, held through a lock file in it (flock) until Unlock, the
// object's end or the end of the process, however it ends.
class FolderLock {
public:
    enum class Result { Locked, InUse, Unavailable };  // Unavailable: no lock file can be opened there
    FolderLock() = default;
    ~FolderLock() { Unlock(); }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    Result Lock(std::string_view folder, std::string_view fileName);  // never waits
    void Unlock();

private:
    int FFd = -1;
};

// For tests: the next `count` flushes to disk in SaveFile::Commit fail with the system error `err`,
// as on a failing disk; the old target must survive them.
void FailFlushesForTest(int err, int count = 1);

// SaveFile in one call.
bool WriteFileSafely(std::string_view path, std::string_view content, std::string* error = nullptr);

}  // namespace platform
