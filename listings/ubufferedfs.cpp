// The buffered output file of the XMLTV writer: whole 64 KiB blocks to the file, and in fmReplace
// mode a new file that replaces the old one only when complete and on disk. Listings layer, over
// platform's files.
#include "listings/ubufferedfs.h"

#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

namespace {
std::string FileMessage(const char* what, const std::string& fileName, int error) {
    return std::string(what) + " \"" + fileName + "\". " + std::strerror(error);
}
}  // namespace

// zlib's deflate in gzip format (a header without name or time, so that equal listings give equal
// files), with an output block of its own.
struct TBufferedFS::TCompressor {
    z_stream Z{};
    std::unique_ptr<Bytef[]> Out = std::make_unique_for_overwrite<Bytef[]>(BufferSize);

    TCompressor() {
        if (deflateInit2(&Z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, MAX_WBITS + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
            throw std::bad_alloc();
    }
    ~TCompressor() { deflateEnd(&Z); }
    TCompressor(const TCompressor&) = delete;
    TCompressor& operator=(const TCompressor&) = delete;
};

TBufferedFS::TBufferedFS(const std::string& fileName, TFileMode mode)
    : FFileName(fileName), FBuffer(std::make_unique_for_overwrite<char[]>(BufferSize)) {
    if (mode == fmReplaceGzip) FCompressor = std::make_unique<TCompressor>();
    if (mode == fmReplace || mode == fmReplaceGzip) {
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

void TBufferedFS::Compress(const char* data, std::size_t count, bool finish) {
    z_stream& z = FCompressor->Z;
    do {
        const uInt in = static_cast<uInt>(std::min<std::size_t>(count, std::size_t(1) << 30));
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
        z.avail_in = in;
        data += in;
        count -= in;
        const int flush = finish && count == 0 ? Z_FINISH : Z_NO_FLUSH;
        int rc;
        do {   // a full output block may have more behind it; finishing runs to the stream's end
            z.next_out = FCompressor->Out.get();
            z.avail_out = BufferSize;
            rc = deflate(&z, flush);
            if (rc == Z_STREAM_ERROR) RaiseWriteError(FError = EIO);
            const std::size_t made = BufferSize - z.avail_out;
            if (made > 0) WriteOut(reinterpret_cast<const char*>(FCompressor->Out.get()), made);
        } while (z.avail_out == 0 || (flush == Z_FINISH && rc == Z_OK));
    } while (count > 0);
}

void TBufferedFS::WriteToFile(const char* data, std::size_t count) {
    if (FCompressor) Compress(data, count, false);
    else WriteOut(data, count);
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
    if (FCompressor) throw EStreamError(FileMessage("Cannot seek in file", FFileName, ESPIPE));
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
            if (FCompressor) Compress(nullptr, 0, true);
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
