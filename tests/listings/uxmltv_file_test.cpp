// The XMLTV writer's output file: put in place only once complete.
#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>
#include <string>

#include "listings/ubufferedfs.h"
#include "listings/uxmltv.h"
#include "tests/listings/uxmltv_test_util.h"

using namespace xmltv_test;

namespace {

void WriteSome(TXMLTV& w) {
    w.WriteTV("20240601", "", "", "", Generator, GeneratorURL);
    w.WriteChannel(*Channel("bbc1.example", "BBC One"));
    w.WriteProgramme(*Programme("News"));
}

std::string Expected() {
    TStringSink sink;
    {
        TXMLTV w(sink, TestZone(), 3);
        WriteSome(w);
    }
    return sink.Data;
}

TEST(XMLTVFile, ReplacesTheTargetWhenComplete) {
    struct Case {
        const char* name;
        bool previous;  // a file is there already
        bool close;     // Close before the writer goes
    } const cases[] = {
        {"new file, destroyed", false, false},
        {"new file, closed", false, true},
        {"longer previous file", true, false},
    };
    for (const auto& c : cases) {
        TTempPath path;
        if (c.previous) WriteFile(path.str(), std::string(100000, 'x'));
        {
            TXMLTV w(path.str(), TestZone(), 3);
            WriteSome(w);
            // nothing of the new document is visible before it is complete
            EXPECT_EQ(ReadFile(path.str()), c.previous ? std::string(100000, 'x') : "") << c.name;
            if (c.close) {
                w.Close();
                EXPECT_EQ(ReadFile(path.str()), Expected()) << c.name << ": complete after Close";
            }
        }
        EXPECT_EQ(ReadFile(path.str()), Expected()) << c.name;
        EXPECT_FALSE(std::filesystem::exists(path.str() + ".tmp")) << c.name;
    }
}

TEST(XMLTVFile, FailedRunKeepsThePreviousFile) {
    TTempPath path;
    WriteFile(path.str(), "old listings");
    try {
        TXMLTV w(path.str(), TestZone(), 3);
        WriteSome(w);
        for (int i = 0; i < 2000; ++i) w.WriteProgramme(*Programme("More"));  // past the first buffer
        throw std::runtime_error("script failed");
    } catch (const std::runtime_error&) {
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

TEST(XMLTVFile, LargeDocumentArrivesWhole) {
    TTempPath path;
    TStringSink sink;
    {
        TXMLTV file(path.str(), TestZone(), 1);
        TXMLTV memory(sink, TestZone(), 1);
        for (TXMLTV* w : {&file, &memory}) {
            WriteSome(*w);
            for (int i = 0; i < 3000; ++i) w->WriteProgramme(*Programme("Programme " + std::to_string(i)));
        }
    }
    EXPECT_GT(sink.Data.size(), 3u * TBufferedFS::BufferSize);
    EXPECT_EQ(ReadFile(path.str()), sink.Data);
}

}  // namespace
