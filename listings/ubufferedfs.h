// A write-only file stream with a 64 KiB buffer: turns the XMLTV writer's many
// small writes into few large ones. The buffer is the only one between the
// writer and the file: the writer hands its pieces over (Put, Write) or makes
// its bytes in the buffer itself (Space and Wrote).
//
// In fmReplace mode the stream writes a new file beside the named one
// (platform::SaveFile, the way the settings are replaced too), which takes the
// named file's place at Close, flushed to disk first: until then, after any
// failure, and when the stream goes without Close, the named file stays as it
// was.
//
// In fmReplaceGzip mode the same, but what is written is gzip-compressed on
// its way from the buffer to the new file.
//
// Every failure is an exception with a message: a file that cannot be
// created, a write that fails (disk full), a seek, and the last flush at
// Close. Call Close to finish a file and learn of a failing last write. In the
// other modes the destructor stands in for a missing Close (while another
// error unwinds, say), but can report nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/files.h"

// Base of the stream errors.
class EStreamError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// "Cannot create file \"<name>\". <system error text>" (also for fmOpenWrite:
// "Cannot open file ...").
class EFCreateError : public EStreamError {
public:
    using EStreamError::EStreamError;
};

// "Cannot write file \"<name>\". <system error text>"
class EWriteError : public EStreamError {
public:
    using EStreamError::EStreamError;
};

enum TFileMode {
    fmCreate,     // create the file, or truncate the one that exists
    fmOpenWrite,  // open an existing file for writing, at its start, keeping its contents
    fmReplace,    // a new file that replaces the named one at Close, durably (see above)
    fmReplaceGzip,  // as fmReplace, the bytes gzip-compressed; no seeking
};

enum TSeekOrigin { soBeginning, soCurrent, soEnd };

class TBufferedFS {
public:
    static constexpr std::int32_t BufferSize = 65536;

    TBufferedFS(const std::string& fileName, TFileMode mode);
    virtual ~TBufferedFS();

    TBufferedFS(const TBufferedFS&) = delete;
    TBufferedFS& operator=(const TBufferedFS&) = delete;

    // Takes all count bytes (or raises); returns count. After a failed write to
    // the file every further Write, Seek and Close raises the same error: the
    // file is incomplete.
    std::size_t Write(const void* buffer, std::size_t count);
    std::size_t Write(std::string_view bytes) { return Write(bytes.data(), bytes.size()); }

    // The same for a writer that hands over many small pieces: a piece that
    // fits into the buffer, or one byte, goes there without a call. Put, Space
    // and Wrote leave the checks to the next write-out: bytes put into a failed
    // or closed stream never reach a file.
    void Put(const char* data, std::size_t count) {
        if (count > static_cast<std::size_t>(BufferSize - FBufPos)) [[unlikely]] {
            Write(data, count);
            return;
        }
        char* const at = FBuffer.get() + FBufPos;
        FBufPos += static_cast<std::int32_t>(count);  // before the copy, which may touch any memory
        std::memcpy(at, data, count);
    }
    void Put(char c) {
        if (FBufPos == BufferSize) [[unlikely]]
            MakeSpace();
        FBuffer[FBufPos++] = c;
    }

    // Writing in place: Space gives room for n bytes (n at most BufferSize) in
    // the buffer, writing the buffer out first when less is free; Wrote takes
    // the first `used` of them, which the caller has filled.
    char* Space(std::size_t n) {
        if (n > static_cast<std::size_t>(BufferSize - FBufPos)) [[unlikely]]
            MakeSpace();
        return FBuffer.get() + FBufPos;
    }
    void Wrote(std::size_t used) { FBufPos += static_cast<std::int32_t>(used); }

    // Seek(0, soCurrent) is a position query that counts the buffered bytes and
    // leaves the file alone; any other seek writes the buffer out first.
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin);
    std::int64_t Position() const { return FFilePos + FBufPos; }

    // Writes the buffered bytes out.
    void Flush();
    // Writes the buffer out, then closes the file (in fmReplace mode: flushes
    // it to disk and puts it in place). Raises when either fails; the file is
    // closed afterwards all the same, and a replaced file is the old one.
    // Closing twice does nothing.
    void Close();
    // Closes without writing the buffer out; in fmReplace mode the named file
    // stays as it was.
    void Abandon();
    bool IsOpen() const { return FOpen; }

    const std::string& FileName() const { return FFileName; }

protected:
    // A stream over no file: WriteOut gets what is written out (a document
    // kept in memory, for instance).
    explicit TBufferedFS(std::string name);
    virtual void WriteOut(const char* data, std::size_t count);

private:
    void MakeSpace();
    void WriteToFile(const char* data, std::size_t count);
    void CheckUsable() const;
    [[noreturn]] void RaiseWriteError(int error) const;
    void Compress(const char* data, std::size_t count, bool finish);

    struct TCompressor;

    int FHandle = -1;
    bool FOpen = false;
    bool FReplacing = false;   // fmReplace: FHandle is FSave's temporary file
    platform::SaveFile FSave;
    std::string FFileName;
    std::int64_t FFilePos = 0;  // the file's own position, kept here so queries need no system call
    int FError = 0;             // errno of the first failed write, 0 while all went well
    std::unique_ptr<char[]> FBuffer;  // BufferSize bytes
    std::int32_t FBufPos = 0;   // bytes held in the buffer, not yet written out
    static constexpr std::int64_t FlushStep = 4 << 20;
    std::int64_t FFlushStartedAt = 0;  // the position at which writing to disk was last started
    std::unique_ptr<TCompressor> FCompressor;  // fmReplaceGzip: between the buffer and the file
};
