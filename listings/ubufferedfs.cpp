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
    const int flags = mode == fmCreate ? O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC : O_WRONLY | O_CLOEXEC;
    do {
        FHandle = ::open(fileName.c_str(), flags, 0666);
    } while (FHandle < 0 && errno == EINTR);
    if (FHandle < 0)
        throw EFCreateError(FileMessage(mode == fmCreate ? "Cannot create file" : "Cannot open file", fileName, errno));
}

TBufferedFS::~TBufferedFS() {
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
    if (FHandle < 0) RaiseWriteError(EBADF);
}

void TBufferedFS::WriteToFile(const char* data, std::size_t count) {
    while (count > 0) {
        const ssize_t n = ::write(FHandle, data, count);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            FError = n < 0 ? errno : ENOSPC;  // a write that takes nothing makes no progress either
            RaiseWriteError(FError);
        }
        data += n;
        count -= static_cast<std::size_t>(n);
        FFilePos += n;
    }
}

void TBufferedFS::Flush() {
    if (FDirty) {
        // Emptied before writing: after a failure the stream is dead anyway, and
        // a second attempt must not write the first part of the buffer again.
        const std::int32_t pending = FBufPos;
        FDirty = false;
        FBufCount = 0;
        FBufPos = 0;
        WriteToFile(FBuffer.get(), static_cast<std::size_t>(pending));
    }
    FDirty = false;
    FBufCount = 0;
    FBufPos = 0;
}

std::size_t TBufferedFS::Write(const void* buffer, std::size_t count) {
    CheckUsable();
    const char* src = static_cast<const char*>(buffer);
    if (count <= static_cast<std::size_t>(BufferSize - FBufCount)) {
        if (count == 0) return 0;
        std::memcpy(FBuffer.get() + FBufPos, src, count);
        FBufCount += static_cast<std::int32_t>(count);
        FBufPos += static_cast<std::int32_t>(count);
        FDirty = true;
        return count;
    }
    std::size_t rest = count;
    if (FBufCount > 0 && FBufCount < BufferSize) {
        // top the buffer up so that the file gets whole 64 KiB blocks
        const std::size_t fill = static_cast<std::size_t>(BufferSize - FBufCount);
        std::memcpy(FBuffer.get() + FBufPos, src, fill);
        FBufCount += static_cast<std::int32_t>(fill);
        FBufPos += static_cast<std::int32_t>(fill);
        FDirty = true;
        src += fill;
        rest -= fill;
    }
    Flush();
    if (rest < static_cast<std::size_t>(BufferSize)) {
        std::memcpy(FBuffer.get(), src, rest);
        FBufCount = FBufPos = static_cast<std::int32_t>(rest);
        FDirty = rest > 0;
    } else {
        WriteToFile(src, rest);
    }
    return count;
}

std::int64_t TBufferedFS::Seek(std::int64_t offset, TSeekOrigin origin) {
    if (origin == soCurrent && offset == 0) return Position();
    CheckUsable();
    Flush();
    const int whence = origin == soBeginning ? SEEK_SET : origin == soCurrent ? SEEK_CUR : SEEK_END;
    const off_t pos = ::lseek(FHandle, static_cast<off_t>(offset), whence);
    if (pos < 0) throw EStreamError(FileMessage("Cannot seek in file", FFileName, errno));
    FFilePos = pos;
    return pos;
}

void TBufferedFS::Close() {
    if (FHandle < 0) return;
    int error = FError;
    if (!error) {
        try {
            Flush();
        } catch (const EWriteError&) {
            error = FError;
        }
    }
    // A file system may report a failed write only when the file is closed.
    const int rc = ::close(FHandle);
    FHandle = -1;
    if (!error && rc != 0 && errno != EINTR) error = errno;
    if (error) {
        FError = error;
        RaiseWriteError(error);
    }
}
