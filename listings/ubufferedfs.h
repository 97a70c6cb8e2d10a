// A write-only file stream with a 64 KiB buffer: turns the XMLTV writer's many
// small writes into few large ones.
//
// Every failure is an exception with a message: a file that cannot be
// created, a write that fails (disk full), a seek, and the last flush at
// Close. Call Close to finish a file and learn of a failing last write; the
// destructor only stands in for it when an exception is already on its way,
// and can report nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

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
};

enum TSeekOrigin { soBeginning, soCurrent, soEnd };

class TBufferedFS {
public:
    static constexpr std::int32_t BufferSize = 65536;

    TBufferedFS(const std::string& fileName, TFileMode mode);
    ~TBufferedFS();

    TBufferedFS(const TBufferedFS&) = delete;
    TBufferedFS& operator=(const TBufferedFS&) = delete;

    // Takes all count bytes (or raises); returns count. After a failed write to
    // the file every further Write, Seek and Close raises the same error: the
    // file is incomplete.
    std::size_t Write(const void* buffer, std::size_t count);
    std::size_t Write(std::string_view bytes) { return Write(bytes.data(), bytes.size()); }

    // Seek(0, soCurrent) is a position query that counts the buffered bytes and
    // leaves the file alone; any other seek writes the buffer out first.
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin);
    std::int64_t Position() const { return FFilePos + FBufPos; }

    // Writes the buffer out, then closes the file. Raises when either fails;
    // the file is closed afterwards all the same. Closing twice does nothing.
    void Close();
    bool IsOpen() const { return FHandle >= 0; }

    const std::string& FileName() const { return FFileName; }

private:
    void Flush();
    void WriteToFile(const char* data, std::size_t count);
    void CheckUsable() const;
    [[noreturn]] void RaiseWriteError(int error) const;

    int FHandle = -1;
    std::string FFileName;
    std::int64_t FFilePos = 0;  // the file's own position, kept here so queries need no system call
    int FError = 0;             // errno of the first failed write, 0 while all went well
    std::unique_ptr<char[]> FBuffer;  // BufferSize bytes
    std::int32_t FBufCount = 0;
    std::int32_t FBufPos = 0;
    bool FDirty = false;
    bool FWriting = true;
};
