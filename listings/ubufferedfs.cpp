// The buffered output file of the XMLTV writer: whole 64 KiB blocks to the file, and in fmReplace
// mode a new file that replaces the old one only when complete and on disk. Listings layer, over
// platform's files.
#include "listings/ubufferedfs.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {
std::string FileMessage(const char* what, const std::string& fileName, int error) {
    return std::string(what) + " \"" + fileName + "\". " + std::strerror(error);
}
}  // namespace

TBufferedFS::TBufferedFS(const std::string& fileName, TFileMode mode)
    : FFileName(fileName), FBuffer(std::make_unique_for_overwrite<char[]>(BufferSize)) {
    if (mode == fmReplace) {
        if (!FSave.Open(fileName)) throw EFCreateError(FileMessage("Cannot create file", fileName, FSave.ErrorNumber()));
        FHandle = FSave.Handle();
        FReplacing = true;
    } else {
        const int flags = mode == fmCreate ? O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC : O_WRONLY | O_CLOEXEC;
        do {
            FHandle = ::open(fileName.c_str(), flags, 0666);
        } while (FHandle < 0 && errno == EINTR);
        if (FHandle < 0)
            throw EFCreateError(
                FileMessage(mode == fmCreate ? "Cannot create file" : "Cannot open file", fileName, errno));
    }
    FOpen = true;
}

TBufferedFS::TBufferedFS(std::string name)
    : FOpen(true), FFileName(std::move(name)), FBuffer(std::make_unique_for_overwrite<char[]>(BufferSize)) {}

TBufferedFS::~TBufferedFS() {
    if (FReplacing) {
        Abandon();  // a replacement is made by Close only
        return;
    }
    if (FHandle < 0) return;  // a stream over no file: its WriteOut has gone with its subclass
    try {
        Close();
    } catch (...) {
        // Reached only when Close was not called, i.e. while another error unwinds.
    }
}

void TBufferedFS::RaiseWriteError(int error) const {
    throw EWriteError(FileMessage("Cannot write file", FFileName, error));
}

void TBufferedFS::CheckUsable() const {
    if (FError) RaiseWriteError(FError);
    if (!FOpen) RaiseWriteError(EBADF);
}

void TBufferedFS::WriteOut(const char* data, std::size_t count) {
    while (count > 0) {
        const ssize_t n = ::write(FHandle, data, count);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            FError = n < 0 ? errno : ENOSPC;  // a write that takes nothing makes no progress either
            RaiseWriteError(FError);
        }
        data += n;
        count -= static_cast<std::size_t>(n);
    }
}

void TBufferedFS::WriteToFile(const char* data, std::size_t count) {
    WriteOut(data, count);
    FFilePos += static_cast<std::int64_t>(count);
    // A replacement is flushed to disk at Close: the disk can start on it meanwhile.
    if (FReplacing && FFilePos - FFlushStartedAt >= FlushStep) {
        FSave.StartFlush();
        FFlushStartedAt = FFilePos;
    }
}

void TBufferedFS::Flush() {
    CheckUsable();
    // Emptied before writing: after a failure the stream is dead anyway, and
    // a second attempt must not write the first part of the buffer again.
    const std::int32_t pending = FBufPos;
    FBufPos = 0;
    if (pending > 0) WriteToFile(FBuffer.get(), static_cast<std::size_t>(pending));
}

void TBufferedFS::MakeSpace() { Flush(); }

std::size_t TBufferedFS::Write(const void* buffer, std::size_t count) {
    CheckUsable();
    const char* src = static_cast<const char*>(buffer);
    if (count <= static_cast<std::size_t>(BufferSize - FBufPos)) {
        std::memcpy(FBuffer.get() + FBufPos, src, count);
        FBufPos += static_cast<std::int32_t>(count);
        return count;
    }
    std::size_t rest = count;
    if (FBufPos > 0 && FBufPos < BufferSize) {
        // top the buffer up so that the file gets whole 64 KiB blocks
        const std::size_t fill = static_cast<std::size_t>(BufferSize - FBufPos);
        std::memcpy(FBuffer.get() + FBufPos, src, fill);
        FBufPos = BufferSize;
        src += fill;
        rest -= fill;
    }
    Flush();
    if (rest < static_cast<std::size_t>(BufferSize)) {
        std::memcpy(FBuffer.get(), src, rest);
        FBufPos = static_cast<std::int32_t>(rest);
    } else {
        WriteToFile(src, rest);
    }
    return count;
}

std::int64_t TBufferedFS::Seek(std::int64_t offset, TSeekOrigin origin) {
    if (origin == soCurrent && offset == 0) return Position();
    Flush();
    const int whence = origin == soBeginning ? SEEK_SET : origin == soCurrent ? SEEK_CUR : SEEK_END;
    const off_t pos = FHandle >= 0 ? ::lseek(FHandle, static_cast<off_t>(offset), whence) : -1;
    if (pos < 0) throw EStreamError(FileMessage("Cannot seek in file", FFileName, FHandle >= 0 ? errno : ESPIPE));
    FFilePos = pos;
    return pos;
}

void TBufferedFS::Close() {
    if (!FOpen) return;
    int error = FError;
    if (!error) {
        try {
            Flush();
        } catch (const EWriteError&) {
            error = FError;
        }
    }
    FOpen = false;
    if (FReplacing) {
        if (error) FSave.Discard();
        else if (!FSave.Commit()) error = FSave.ErrorNumber();
    } else if (FHandle >= 0) {
        // A file system may report a failed write only when the file is closed.
        const int rc = ::close(FHandle);
        if (!error && rc != 0 && errno != EINTR) error = errno;
    }
    FHandle = -1;
    if (error) {
        FError = error;
        RaiseWriteError(error);
    }
}

void TBufferedFS::Abandon() {
    if (!FOpen) return;
    FOpen = false;
    FBufPos = 0;
    if (FReplacing) FSave.Discard();
    else if (FHandle >= 0) ::close(FHandle);
    FHandle = -1;
}
