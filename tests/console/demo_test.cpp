// TavrinConsole run on the bundled demo, end to end, in a scratch program folder laid out as the
// build lays out the real one.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "tests/engine/programfolder.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

struct TProgramme {
    std::string start, stop, channel, title;
};

std::vector<TProgramme> Programmes(const std::string& xml) {
    static const std::regex element(
        "<programme start=\"([0-9]{14} [+-][0-9]{4})\" stop=\"([0-9]{14} [+-][0-9]{4})\" channel=\"([^\"]+)\">\n"
        "    <title lang=\"en\">([^<]*)</title>");
    std::vector<TProgramme> out;
    for (auto it = std::sregex_iterator(xml.begin(), xml.end(), element); it != std::sregex_iterator(); ++it)
        out.push_back({(*it)[1], (*it)[2], (*it)[3], (*it)[4]});
    return out;
}

TEST(ConsoleDemoTest, GrabsTheBundledListings) {
    ProgramFolder folder;
    const fs::path source = TAVRIN_SOURCE_DIR;
    fs::copy(source / "scripts", folder.Root + "scripts", fs::copy_options::recursive);
    fs::copy(source / "settings-demo", folder.Root + "demo", fs::copy_options::recursive);
    fs::copy(source / "cache", folder.Root + "cache", fs::copy_options::recursive);
    fs::copy_file(TAVRIN_CONSOLE_EXE, folder.Root + "TavrinConsole");
    const std::string root = folder.Root;

    ASSERT_EQ(Shell("cd '" + root + "' && ./TavrinConsole /Cdemo > stdout.txt 2> stderr.txt"), 0)
        << ReadFile(root + "stderr.txt");
    const std::string xml = ReadFile(root + "demo.xml");
    ASSERT_FALSE(xml.empty());
    EXPECT_EQ(Shell("xmllint --nonet --noout --dtdvalid /usr/share/xmltv/xmltv.dtd '" + root + "demo.xml'"), 0);
    EXPECT_EQ(Shell("XMLTV_SUPPLEMENT=/usr/share/xmltv tv_validate_file '" + root + "demo.xml' > /dev/null 2>&1"), 0);

    // Sorted by channel position, then start; every time in the configured +01:00 zone, as the
    // listings give them.
    // The feed demo grabber's channels follow; its own test looks at them.
    std::vector<TProgramme> programmes = Programmes(xml);
    std::erase_if(programmes, [](const TProgramme& p) { return p.channel.ends_with(".feed.tavrin"); });
    ASSERT_EQ(programmes.size(), 462u);
    const std::vector<std::string> channelOrder = {"one.demo.tavrin", "two.demo.tavrin", "news.demo.tavrin",
                                                   "kids.demo.tavrin", "films.demo.tavrin"};
    size_t position = 0;
    for (size_t i = 0; i < programmes.size(); ++i) {
        const TProgramme& p = programmes[i];
        EXPECT_EQ(p.start.substr(15), "+0100") << i;
        while (position < channelOrder.size() && channelOrder[position] != p.channel) ++position;
        ASSERT_LT(position, channelOrder.size()) << "channel out of order at " << i << ": " << p.channel;
        if (i > 0 && programmes[i - 1].channel == p.channel) {
            EXPECT_LT(programmes[i - 1].start, p.start) << i;
            EXPECT_LE(programmes[i - 1].stop, p.start) << i;   // no overlaps within a channel
        }
    }
    // The first day of Demo One, as the listings file has it.
    const std::vector<std::pair<std::string, std::string>> firstDay = {
        {"0600", "Breakfast Live"}, {"0900", "Garden Hour"}, {"1000", "News Bulletin"},
        {"1030", "Cook It Simple"}, {"1200", "Harbour Lane"}, {"1300", "The Big Question"},
        {"1400", "Matinee Classics"}, {"1700", "Wild Islands"},
    };
    for (size_t i = 0; i < firstDay.size(); ++i) {
        EXPECT_EQ(programmes[i].start.substr(8, 4), firstDay[i].first) << i;
        EXPECT_EQ(programmes[i].title, firstDay[i].second) << i;
    }
    // The details of the passes and of the post processor.
    EXPECT_NE(xml.find("<sub-title lang=\"en\">A Storm Coming</sub-title>"), std::string::npos);
    EXPECT_NE(xml.find("<episode-num system=\"onscreen\">S1E36</episode-num>"), std::string::npos);
    EXPECT_NE(xml.find("<subtitles type=\"teletext\">"), std::string::npos);
    EXPECT_NE(xml.find("<category>Football</category>"), std::string::npos);

    const std::string log = ReadFile(root + "demo-log.txt");
    for (const char* line : {" - Starting pass 2 of grabber demo\r\n", " -    462 programs found\r\n",
                             " -    21 programmes tagged Football\r\n", " -    XML Written\r\n"})
        EXPECT_NE(log.find(line), std::string::npos) << line;
    EXPECT_EQ(log.find("failed"), std::string::npos) << log;
    // The run rewrote the copies only: the selection is stored as it was.
    EXPECT_EQ(ReadFile(root + "demo/demo/userchannels.txt"), ReadFile(source / "settings-demo/demo/userchannels.txt"));
}

}  // namespace

namespace {

// --help and --version answer at once: nothing is read, made or grabbed in the program folder.
TEST(ConsoleDemoTest, HelpAndVersionAnswerWithoutARun) {
    const struct {
        const char* args;
        const char* start;
    } cases[] = {
        {"--version", "Tavrin 3.12.00W\n"},
        {"/D2 -V", "Tavrin 3.12.00W\n"},
        {"-h --version", "Usage: TavrinConsole [/D<days>] [/C<folder>] [/P<level>]\n"},
        {"--help", "Usage: TavrinConsole "},
    };
    for (const auto& c : cases) {
        ProgramFolder folder;
        fs::copy_file(TAVRIN_CONSOLE_EXE, folder.Root + "TavrinConsole");
        EXPECT_EQ(Shell("'" + folder.Root + "TavrinConsole' " + c.args + " > '" + folder.Root + "out.txt'"), 0) << c.args;
        const std::string text = ReadFile(folder.Root + "out.txt");
        EXPECT_EQ(text.substr(0, std::string(c.start).size()), c.start) << c.args;
        EXPECT_FALSE(fs::exists(folder.Root + "temp")) << c.args;
        EXPECT_FALSE(fs::exists(folder.Root + "settings/tavrin.ini")) << c.args;
    }
}

}  // namespace
