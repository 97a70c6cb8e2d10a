// The XMLTV writer's output file: put in place only once complete.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "listings/ubufferedfs.h"
#include "listings/uxmltv.h"
#include "platform/files.h"
#include "tests/listings/uxmltv_test_util.h"

using namespace xmltv_test;

namespace {

// Enough programmes to pass the writer's and the file's buffers several times.
void WriteMany(TXMLTV& w) {
    StandardTV(w);
    w.WriteChannel(*Channel("bbc1.example", "BBC One"));
    for (int i = 0; i < 3000; ++i) w.WriteProgramme(*Programme("Programme " + std::to_string(i)));
}

TEST(XMLTVFile, ReplacesTheTargetWhenComplete) {
    TStringSink memory;
    {
        TXMLTV w(memory, TestZone(), 3);
        WriteMany(w);
    }
    ASSERT_GT(memory.Data.size(), 3u * TBufferedFS::BufferSize);
    const std::string old(100000, 'x');
    struct Case {
        const char* name;
        bool previous;  // a file is there already
        bool close;     // Close before the writer goes
    } const cases[] = {{"new file, destroyed", false, false}, {"new file, closed", false, true}, {"longer file", true, false}};
    for (const auto& c : cases) {
        TTempPath path;
        if (c.previous) WriteFile(path.str(), old);
        {
            TXMLTV w(path.str(), TestZone(), 3);
            WriteMany(w);
            EXPECT_EQ(ReadFile(path.str()), c.previous ? old : "") << c.name << ": visible before it is complete";
            if (c.close) {
                w.Close();
                EXPECT_EQ(ReadFile(path.str()), memory.Data) << c.name << ": complete after Close";
            }
        }
        EXPECT_EQ(ReadFile(path.str()), memory.Data) << c.name;
        EXPECT_FALSE(std::filesystem::exists(path.str() + ".tmp")) << c.name;
    }
}

TEST(XMLTVFile, FailedRunKeepsThePreviousFile) {
    TTempPath path;
    WriteFile(path.str(), "old listings");
    try {
        TXMLTV w(path.str(), TestZone(), 3);
        WriteMany(w);
        throw std::runtime_error("script failed");
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(ReadFile(path.str()), "old listings");
    EXPECT_FALSE(std::filesystem::exists(path.str() + ".tmp"));
}

// The document is flushed to disk before it replaces the old file, by the routine that replaces the
// settings file too: when that flush fails, the old listings stay.
TEST(XMLTVFile, FailedFlushToDiskKeepsThePreviousFile) {
    TTempPath path;
    WriteFile(path.str(), "old listings");
    platform::FailFlushesForTest(EIO);
    TXMLTV w(path.str(), TestZone(), 3);
    WriteMany(w);
    try {
        w.Close();
        ADD_FAILURE() << "no error";
    } catch (const EWriteError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot write file \"" + path.str() + "\". Input/output error");
    }
    EXPECT_EQ(ReadFile(path.str()), "old listings");
    EXPECT_FALSE(std::filesystem::exists(path.str() + ".tmp"));
}

TEST(XMLTVFile, UncreatableFileNamesTheTarget) {
    TTempPath folder("-missing");
    const std::string target = folder.str() + "/tv.xml";
    try {
        TXMLTV w(target, TestZone(), 3);
        FAIL() << "no error";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot create file \"" + target + "\". No such file or directory");
    }
}

}  // namespace
