#include "listings/ubufferedfs.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

class BufferedFSTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/tavrin-bufferedfs-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override {
        for (const std::string& f : made_) ::unlink(f.c_str());
        ::rmdir(dir_.c_str());
    }
    std::string Path(const std::string& name) {
        made_.push_back(dir_ + "/" + name);
        return made_.back();
    }

    std::string dir_;
    std::vector<std::string> made_;
};

long long DiskSize(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Bytes that differ between pieces and positions, so that a piece written
// twice, dropped or out of place shows in the file.
std::string Pattern(std::size_t n, unsigned seed) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = char((i * 131 + seed * 17 + (i >> 8)) & 0xFF);
    return s;
}

}  // namespace

TEST_F(BufferedFSTest, WritesReachTheDiskInWholeBuffers) {
    struct Case {
        const char* name;
        std::vector<std::size_t> pieces;
        std::vector<long long> onDisk;  // file size after each write
    };
    const Case cases[] = {
        {"small writes stay buffered", {10, 200, 16}, {0, 0, 0}},
        {"empty write", {0, 5, 0}, {0, 0, 0}},
        {"large block into an empty buffer goes straight to the file", {70000}, {70000}},
        {"10 then 70000 fills, flushes and keeps the rest", {10, 70000}, {0, 65536}},
        {"exactly one buffer stays in memory", {65536}, {0}},
        {"full buffer then one byte", {65536, 1}, {0, 65536}},
        {"full buffer then a large block", {65536, 70000}, {0, 135536}},
        {"filling up to the brim", {65535, 1, 1}, {0, 0, 65536}},
        {"remainder of a full buffer's size goes direct", {100, 65436 + 65536}, {0, 131072}},
        {"buffered remainder", {100, 65536}, {0, 65536}},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = Path("out" + std::to_string(n++));
        std::string expected;
        {
            TBufferedFS fs(path, fmCreate);
            for (std::size_t i = 0; i < c.pieces.size(); ++i) {
                const std::string piece = Pattern(c.pieces[i], unsigned(i));
                EXPECT_EQ(fs.Write(piece), piece.size());
                expected += piece;
                EXPECT_EQ(DiskSize(path), c.onDisk[i]) << "after write " << i;
                EXPECT_EQ(fs.Seek(0, soCurrent), static_cast<std::int64_t>(expected.size()));
            }
            fs.Close();
        }
        EXPECT_TRUE(ReadFile(path) == expected);
        EXPECT_EQ(DiskSize(path), static_cast<long long>(expected.size()));
    }
}

TEST_F(BufferedFSTest, SeekingWritesTheBufferOut) {
    const std::string path = Path("seek");
    TBufferedFS fs(path, fmCreate);
    fs.Write("hello world");
    EXPECT_EQ(fs.Position(), 11);
    EXPECT_EQ(DiskSize(path), 0);         // a query moves nothing
    EXPECT_EQ(fs.Seek(0, soBeginning), 0);
    EXPECT_EQ(DiskSize(path), 11);
    fs.Write("J");
    EXPECT_EQ(fs.Seek(-3, soEnd), 8);
    fs.Write("RLD!");
    EXPECT_EQ(fs.Seek(0, soCurrent), 12);
    EXPECT_EQ(fs.Seek(2, soCurrent), 14);
    fs.Write("x");
    fs.Close();
    EXPECT_EQ(ReadFile(path), std::string("Jello woRLD!\0\0x", 15));
}

TEST_F(BufferedFSTest, OpenModes) {
    const std::string path = Path("modes");
    {
        std::ofstream(path) << "0123456789";
    }
    {
        TBufferedFS fs(path, fmOpenWrite);  // keeps what it does not overwrite
        fs.Write("ab");
        fs.Close();
    }
    EXPECT_EQ(ReadFile(path), "ab23456789");
    {
        TBufferedFS fs(path, fmCreate);  // truncates
        fs.Write("c");
    }  // the destructor writes the buffer out when Close was not called
    EXPECT_EQ(ReadFile(path), "c");
}

TEST_F(BufferedFSTest, FailuresAreReported) {
    struct Case { const char* name; std::string file; TFileMode mode; std::string message; };
    const std::string missing = dir_ + "/no/such/folder/out.xml";
    const Case cases[] = {
        {"create in a missing folder", missing, fmCreate,
         "Cannot create file \"" + missing + "\". " + std::strerror(ENOENT)},
        {"open a missing file", missing, fmOpenWrite, "Cannot open file \"" + missing + "\". " + std::strerror(ENOENT)},
        {"create a folder", dir_, fmCreate, "Cannot create file \"" + dir_ + "\". " + std::strerror(EISDIR)},
    };
    for (const Case& c : cases) {
        try {
            TBufferedFS fs(c.file, c.mode);
            ADD_FAILURE() << c.name << ": no error";
        } catch (const EFCreateError& e) {
            EXPECT_EQ(std::string(e.what()), c.message) << c.name;
        }
    }

    const std::string path = Path("closed");
    TBufferedFS fs(path, fmCreate);
    fs.Close();
    fs.Close();  // a second close is harmless
    EXPECT_THROW(fs.Write("x"), EWriteError);
}

TEST_F(BufferedFSTest, FullDiskIsNeverSilent) {
    if (::access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
    const std::string full = "Cannot write file \"/dev/full\". " + std::string(std::strerror(ENOSPC));
    const std::string small(10, 'x'), large(70000, 'y');

    {   // buffered bytes fail at close
        TBufferedFS fs("/dev/full", fmCreate);
        EXPECT_EQ(fs.Write(small), small.size());
        try {
            fs.Close();
            ADD_FAILURE() << "close hid the failed write";
        } catch (const EWriteError& e) {
            EXPECT_EQ(std::string(e.what()), full);
        }
        EXPECT_FALSE(fs.IsOpen());
        EXPECT_NO_THROW(fs.Close());
    }
    {   // a direct write fails at once, and the stream stays failed
        TBufferedFS fs("/dev/full", fmCreate);
        EXPECT_THROW(fs.Write(large), EWriteError);
        EXPECT_THROW(fs.Write(small), EWriteError);
        EXPECT_THROW(fs.Close(), EWriteError);
    }
    {   // a flush on overflow fails inside Write; the destructor must not throw
        TBufferedFS fs("/dev/full", fmCreate);
        fs.Write(small);
        EXPECT_THROW(fs.Write(std::string(65536, 'z')), EWriteError);
        EXPECT_THROW(fs.Seek(0, soBeginning), EWriteError);
    }
}

// A replacing stream leaves the old file alone until Close, also past the points at which it has
// the disk start on what it wrote; without Close the old file stays.
TEST_F(BufferedFSTest, ReplaceModePutsTheFileInPlaceOnlyAtClose) {
    const std::string path = Path("replaced");
    Path("replaced.tmp");  // removed at the end should a test fail half-way
    const std::string expected = Pattern(10 << 20, 7);  // past a few write-back steps
    for (const bool close : {false, true}) {
        {
            std::ofstream(path) << "old";
        }
        {
            TBufferedFS fs(path, fmReplace);
            for (std::size_t at = 0; at < expected.size(); at += 100000)
                fs.Write(std::string_view(expected).substr(at, 100000));
            EXPECT_EQ(ReadFile(path), "old");
            if (close) fs.Close();
        }
        EXPECT_TRUE(ReadFile(path) == (close ? expected : "old")) << close;
        EXPECT_EQ(DiskSize(path + ".tmp"), -1) << close;
    }
}
