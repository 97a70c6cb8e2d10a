// The feed demo grabber on its bundled pages: served from its cache folder, parsed by UK_RT, written
// as XMLTV with the UK local times brought to UTC across the end of summer time.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "engine/uluagrabbers.h"
#include "tests/engine/programfolder.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

struct TWritten {
    std::string Start, Stop, Channel, Title;
};

std::vector<TWritten> WrittenProgrammes(const std::string& xml) {
    static const std::regex element(
        "<programme start=\"([0-9]{14}) \\+0000\" stop=\"([0-9]{14}) \\+0000\" channel=\"([^\"]+)\">\n"
        "    <title lang=\"en\">([^<]*)</title>");
    std::vector<TWritten> out;
    for (auto it = std::sregex_iterator(xml.begin(), xml.end(), element); it != std::sregex_iterator(); ++it)
        out.push_back({(*it)[1], (*it)[2], (*it)[3], (*it)[4]});
    return out;
}

TEST(FeedDemo, ReadsTheBundledFeedFromTheCacheIntoUTCTimes) {
    ProgramFolder folder;
    const fs::path source = TAVRIN_SOURCE_DIR;
    fs::create_directories(folder.Root + "scripts");
    fs::copy(source / "scripts/feeddemo", folder.Root + "scripts/feeddemo", fs::copy_options::recursive);
    fs::copy(source / "cache", folder.Root + "cache", fs::copy_options::recursive);
    fs::copy(source / "settings-demo/feeddemo", folder.Root + "settings/feeddemo", fs::copy_options::recursive);
    folder.Ini("[Settings]\nTimeZone=+00:00\nCharSet=3\nOutfile=feed.xml\nDoXMLSort=1\n"
               "[Grabbers]\nfeeddemo=1\n[GrabberOrder]\nfeeddemo=1\n");
    EngineRun run(folder);
    // The pages must come from the cache: a download would fail, the feed's host does not exist.
    run.Engine->ConnectTimeout = 1;
    run.Engine->MaxRetries = 0;
    EXPECT_EQ(run.Engine->Grab(), 0) << ::testing::PrintToString(run.Lines);
    for (const std::string& line : run.Lines) {
        EXPECT_EQ(line.find("Error"), std::string::npos) << line;
        EXPECT_EQ(line.find("failed"), std::string::npos) << line;
    }
    EXPECT_TRUE(run.Logged("   211 programs found")) << ::testing::PrintToString(run.Lines);

    const std::string xml = ReadFile(folder.Root + "feed.xml");
    const std::string check = "xmllint --nonet --noout --dtdvalid /usr/share/xmltv/xmltv.dtd '" + folder.Root + "feed.xml'";
    const int status = std::system(check.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    const std::vector<TWritten> programmes = WrittenProgrammes(xml);
    std::map<std::string, int> perChannel;
    for (const TWritten& p : programmes) ++perChannel[p.Channel];
    // Every line of the three pages, less the 14 programmes still to be announced.
    EXPECT_EQ(perChannel, (std::map<std::string, int>{{"101.feed.tavrin", 99}, {"102.feed.tavrin", 70},
                                                       {"103.feed.tavrin", 42}}));

    struct Case {
        const char* Why;
        std::string Channel, Title, Start, Stop;
    } cases[] = {
        {"summer time, across midnight", "102", "Stand-Up Night", "20241023220000", "20241023231500"},
        {"into the last Sunday of October, still summer time", "101", "Late Film: The Long Harbour", "20241026210000",
         "20241026235000"},
        {"the first one o'clock, marked BST", "101", "Night Owls", "20241027000000", "20241027005000"},
        {"the second one o'clock, marked GMT", "101", "Night Owls", "20241027010000", "20241027015000"},
        {"after the change", "101", "Closedown Music", "20241027020000", "20241027060000"},
        {"winter time, ending at midnight", "101", "Sunday Night Film", "20241027220000", "20241028000000"},
        {"winter time, across midnight", "103", "Midnight Feature: Copper Sky", "20241029233000", "20241030014500"},
        {"a blank title", "102", "(No Title)", "20241023160000", "20241023163000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Why);
        bool found = false;
        for (const TWritten& p : programmes)
            found = found || (p.Channel == c.Channel + ".feed.tavrin" && p.Title == c.Title && p.Start == c.Start &&
                              p.Stop == c.Stop);
        EXPECT_TRUE(found) << c.Title << " " << c.Start << " " << c.Stop;
    }
    for (const TWritten& p : programmes) {
        EXPECT_NE(p.Title, "To Be Announced");
        EXPECT_NE(p.Title, "Film To Be Announced");
    }
    for (const char* detail : {
             "<sub-title lang=\"en\">The Storm</sub-title>",
             "<episode-num system=\"xmltv_ns\">.2/12.</episode-num>",
             "<actor>Postmistress - Jos\xc3\xa9 Reyes</actor>",   // Latin-1 in the feed, UTF-8 out
             "<actor>Guard</actor>",
             "<rating system=\"BBFC\">",
             "<value>4/5</value>",
         }) {
        EXPECT_NE(xml.find(detail), std::string::npos) << detail;
    }
}

}  // namespace
