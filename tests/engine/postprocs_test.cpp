// The shipped post processors (scripts/postprocs/) run through the engine on a small grab, their
// XMLTV output compared programme by programme.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>

#include "engine/uluagrabbers.h"
#include "tests/engine/programfolder.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

// Channels c1 and c2 of grabber g; programmes without stop times, with a stop not after the
// start, a duplicate of another (b and f), and a night that crosses into the next day.
const char* const kGrabber = R"(
local function t(d, h, mi) return {Year=2024, Month=3, Day=d, Hour=h, Minute=mi} end
local function add(h, id, ch, title, start, stop) Tvrn.AddProgram(h, {ID=id, Channel=ch, Title=title, Start=start, Stop=stop}) end
Grabbers.g = { Encoding = 3,
  Init = function(h)
    Tvrn.AddUserChannel(h, {ID='c1', XML_ID='c1.test', Name='Channel One', Icon={Source='http://x.test/1.png'}})
    Tvrn.AddUserChannel(h, {ID='c2', XML_ID='c2.test', Name={Value='Zwei', Lang='de'}})
  end,
  Passes = { Pass1 = { Type = 5, Start = function(h)
    add(h, 'a', 'c1', 'Early News', t(5, 6, 0))
    add(h, 'b', 'c1', 'Morning', t(5, 7, 0), t(5, 8, 0))
    add(h, 'c', 'c1', 'Film', t(5, 8, 0))
    add(h, 'd', 'c1', 'Backwards', t(5, 20, 0), t(5, 19, 0))
    add(h, 'e', 'c1', 'Late', t(5, 21, 0))
    add(h, 'f', 'c1', 'Morning', t(5, 7, 0), t(5, 8, 0))
    add(h, 'g', 'c2', 'Night', t(5, 23, 30))
    add(h, 'h', 'c2', 'After Midnight', t(6, 0, 15), t(6, 1, 0))
    add(h, 'i', 'c2', 'After Midnight', t(6, 0, 15), t(6, 0, 15))
    return 0 end } } }
)";

// Each channel as "channel <id> <names>", each programme as "<start> <stop or -> <channel> <title>".
std::string Summary(const std::string& xml) {
    static const std::regex item(
        "<channel id=\"([^\"]*)\">\n((?:    <display-name[^\n]*\n)*)"
        "|<programme start=\"([0-9]{12})00 \\+0000\"(?: stop=\"([0-9]{12})00 \\+0000\")? channel=\"([^\"]*)\">\n"
        "    <title>([^<]*)</title>");
    static const std::regex name("<display-name(?: lang=\"[a-z]+\")?>([^<]*)</display-name>");
    std::string out;
    for (auto it = std::sregex_iterator(xml.begin(), xml.end(), item); it != std::sregex_iterator(); ++it) {
        const std::smatch& m = *it;
        if (m[1].matched) {
            out += "channel " + m[1].str();
            const std::string names = m[2];
            for (auto n = std::sregex_iterator(names.begin(), names.end(), name); n != std::sregex_iterator(); ++n)
                out += " [" + (*n)[1].str() + "]";
            out += "\n";
        } else {
            out += m[3].str() + " " + (m[4].matched ? m[4].str() : std::string("-")) + " " + m[5].str() + " " +
                   m[6].str() + "\n";
        }
    }
    return out;
}

const char* const kChannels = "channel c1.test [Channel One]\nchannel c2.test [Zwei]\n";
const char* const kGrabbed =
    "202403050600 - c1.test Early News\n"
    "202403050700 202403050800 c1.test Morning\n"
    "202403050800 - c1.test Film\n"
    "202403052000 - c1.test Backwards\n"
    "202403052100 - c1.test Late\n"
    "202403050700 202403050800 c1.test Morning\n"
    "202403052330 - c2.test Night\n"
    "202403060015 202403060100 c2.test After Midnight\n"
    "202403060015 202403060015 c2.test After Midnight\n";

TEST(PostProcsTest, ShippedPostProcessorsOnASmallGrab) {
    const struct {
        const char* name;
        std::string settings;   // the processors enabled and their own sections
        std::string expected;
        const char* logged;
    } cases[] = {
        {"all shipped, none enabled", "", std::string(kChannels) + kGrabbed, nullptr},
        {"fill stop times, 6 hours at most", "[Processors]\nfillstop=1\n",
         std::string(kChannels) +
             "202403050600 202403050700 c1.test Early News\n"
             "202403050700 202403050800 c1.test Morning\n"
             "202403050800 - c1.test Film\n"   // 12 hours to the next start
             "202403052000 - c1.test Backwards\n"
             "202403052100 - c1.test Late\n"   // the last of its channel
             "202403050700 202403050800 c1.test Morning\n"
             "202403052330 202403060015 c2.test Night\n"
             "202403060015 202403060100 c2.test After Midnight\n"
             "202403060015 202403060015 c2.test After Midnight\n",
         "   2 stop times filled"},
        {"fill stop times, 12 hours at most", "[Processors]\nfillstop=1\n[Proc_fillstop]\nMaxGap=720\n",
         std::string(kChannels) +
             "202403050600 202403050700 c1.test Early News\n"
             "202403050700 202403050800 c1.test Morning\n"
             "202403050800 202403052000 c1.test Film\n"
             "202403052000 - c1.test Backwards\n"
             "202403052100 - c1.test Late\n"
             "202403050700 202403050800 c1.test Morning\n"
             "202403052330 202403060015 c2.test Night\n"
             "202403060015 202403060100 c2.test After Midnight\n"
             "202403060015 202403060015 c2.test After Midnight\n",
         "   3 stop times filled"},
        {"drop broken and duplicate programmes", "[Processors]\ncleanup=1\n",
         std::string(kChannels) +
             "202403050600 - c1.test Early News\n"
             "202403050700 202403050800 c1.test Morning\n"
             "202403050800 - c1.test Film\n"
             "202403052100 - c1.test Late\n"
             "202403052330 - c2.test Night\n"
             "202403060015 202403060100 c2.test After Midnight\n",
         "   3 programmes dropped"},
        {"drop broken programmes only", "[Processors]\ncleanup=1\n[Proc_cleanup]\nDuplicates=0\n",
         std::string(kChannels) +
             "202403050600 - c1.test Early News\n"
             "202403050700 202403050800 c1.test Morning\n"
             "202403050800 - c1.test Film\n"
             "202403052100 - c1.test Late\n"
             "202403050700 202403050800 c1.test Morning\n"
             "202403052330 - c2.test Night\n"
             "202403060015 202403060100 c2.test After Midnight\n",
         "   2 programmes dropped"},
        {"a +1 channel", "[Processors]\ntimeshift=1\n[Proc_timeshift]\nGrabber=g\nChannels=c1\n",
         std::string(kChannels) + "channel c1-plus1.test [Channel One +1]\n" + kGrabbed +
             "202403050700 - c1-plus1.test Early News\n"
             "202403050800 202403050900 c1-plus1.test Morning\n"
             "202403050900 - c1-plus1.test Film\n"
             "202403052100 - c1-plus1.test Backwards\n"
             "202403052200 - c1-plus1.test Late\n"
             "202403050800 202403050900 c1-plus1.test Morning\n",
         "   1 time-shifted channels made"},
        {"90 minutes earlier, across midnight",
         "[Processors]\ntimeshift=1\n[Proc_timeshift]\nGrabber=g\nChannels=c2; nothere\nMinutes=-90\n",
         std::string(kChannels) + "channel c2-minus90m.test [Zwei -90m]\n" + kGrabbed +
             "202403052200 - c2-minus90m.test Night\n"
             "202403052245 202403052330 c2-minus90m.test After Midnight\n"
             "202403052245 202403052245 c2-minus90m.test After Midnight\n",
         "   1 time-shifted channels made"},
        {"fill, then clean up, in that order",
         "[Processors]\nfillstop=1\ncleanup=1\n[ProcOrder]\nfillstop=1\ncleanup=2\n",
         std::string(kChannels) +
             "202403050600 202403050700 c1.test Early News\n"
             "202403050700 202403050800 c1.test Morning\n"
             "202403050800 - c1.test Film\n"
             "202403052100 - c1.test Late\n"
             "202403052330 202403060015 c2.test Night\n"
             "202403060015 202403060100 c2.test After Midnight\n",
         "   3 programmes dropped"},
    };
    const fs::path source = TAVRIN_SOURCE_DIR;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ProgramFolder folder;
        fs::copy_file(source / "lib/listingtime.lua", folder.Root + "lib/listingtime.lua");
        fs::create_directories(folder.Root + "scripts");
        fs::copy(source / "scripts/postprocs", folder.Root + "scripts/postprocs");
        folder.Script("g.lua", kGrabber);
        folder.Ini("[Settings]\nTimeZone=+00:00\nCharSet=3\n[Grabbers]\ng=1\n" + c.settings);
        EngineRun run(folder);
        run.Engine->OutFile = folder.Root + "out.xml";
        EXPECT_EQ(run.Engine->Grab(), 0);
        EXPECT_EQ(Summary(ReadFile(folder.Root + "out.xml")), c.expected);
        if (c.logged) {
            EXPECT_TRUE(run.Logged(c.logged));
        }
        for (const std::string& line : run.Lines)   // nothing failed, nothing unexpected was said
            EXPECT_TRUE(line.find("rror") == std::string::npos && line.find("failed") == std::string::npos) << line;
        EXPECT_EQ(Shell("xmllint --nonet --noout --dtdvalid /usr/share/xmltv/xmltv.dtd '" + folder.Root + "out.xml'"), 0);
    }
}

}  // namespace

namespace {

// The time helper the post processors share: leap years of every kind and year ends, both ways.
TEST(PostProcsTest, ListingTimeCalendar) {
    ProgramFolder folder;
    fs::copy_file(fs::path(TAVRIN_SOURCE_DIR) / "lib/listingtime.lua", folder.Root + "lib/listingtime.lua");
    folder.Script("calendar.lua", R"(
local lt = require "listingtime"
local function show(t) return string.format("%04d-%02d-%02d %02d:%02d:%02d", t.Year, t.Month, t.Day, t.Hour, t.Minute, t.Second) end
local function t(y, m, d, h, mi) return {Year=y, Month=m, Day=d, Hour=h, Minute=mi, Second=0} end
print(lt.seconds(t(1970, 1, 1, 0, 0)) .. " " .. lt.seconds(t(2000, 3, 1, 0, 0)))
print(show(lt.add(t(2024, 2, 28, 23, 30), 60)))
print(show(lt.add(t(2024, 3, 1, 0, 30), -60)))
print(show(lt.add(t(2023, 12, 31, 23, 59), 1)))
print(show(lt.add(t(2100, 2, 28, 23, 0), 60)))
print(show(lt.add(t(2000, 2, 28, 23, 0), 60)))
print(show(lt.time(-3600)))
)");
    EngineRun run(folder);
    const std::vector<std::string> expected = {"0 951868800",         "2024-02-29 00:30:00", "2024-02-29 23:30:00",
                                               "2024-01-01 00:00:00", "2100-03-01 00:00:00", "2000-02-29 00:00:00",
                                               "1969-12-31 23:00:00"};
    EXPECT_EQ(run.Lines, expected);
}

}  // namespace
