#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/uluagrabbers.h"
#include "platform/systime.h"
#include "scriptapi/uluafuncs_tvrn.h"
#include "tests/engine/programfolder.h"

using namespace testing_support;

namespace {

// Fixes "today" at 2024-03-05 10:30 local time, whatever the machine's clock says.
class FixedToday {
public:
    FixedToday() : FOld(HostClock.LocalTime) {
        HostClock.LocalTime = [] {
            SYSTEMTIME t{};
            t.wYear = 2024, t.wMonth = 3, t.wDay = 5, t.wHour = 10, t.wMinute = 30;
            return t;
        };
    }
    ~FixedToday() { HostClock.LocalTime = FOld; }

private:
    std::function<SYSTEMTIME()> FOld;
};

// A grabber "g" with two selected channels c1 and c2 (from its Init), enabled, with the given passes.
const char* const kGrabberHead =
    "local function tt(y,m,d,h,mi) return {Year=y,Month=m,Day=d,Hour=h,Minute=mi} end\n"
    "Grabbers.g = { Init = function(h) Tvrn.AddUserChannel(h,{ID='c1',XML_ID='c1.test'})\n"
    "  Tvrn.AddUserChannel(h,{ID='c2',XML_ID='c2.test'}) end }\n";

const char* const kEnabled = "[Grabbers]\ng=1\nabc=1\n[GrabberOrder]\ng=1\nabc=2\n[Processors]\np=1\n";

struct Grab {
    explicit Grab(const std::string& passes, const std::string& extra = "", int dayLimit = 0,
                  const std::string& ini = kEnabled, const std::string& outName = "out.xml")
        : folder(), run((folder.Ini(ini), folder.Script("g.lua", std::string(kGrabberHead) + "Grabbers.g.Passes = {" +
                                                                    passes + "}\n" + extra),
                         folder)) {
        run.Engine->OutFile = folder.Root + outName;
        run.Engine->DayLimit = dayLimit;
        run.Engine->OnProgress = [this](int32_t bar, int32_t value, int32_t mode) {
            if (bar == 1 && mode == 1) maxima.push_back(value);
            if (bar == 1 && mode == 2) positions.push_back(value);
            if (bar == -1 && ++idleCalls && stopWhenIdle) run.Engine->Stop = true;
        };
        run.Engine->OnStatus = [this](int32_t line, const std::string& text) {
            if (line == 2 && text == "stop") run.Engine->Stop = true;
            if (line == 2 && text == "stop when idle") stopWhenIdle = true;
        };
        const size_t before = run.Lines.size();
        status = run.Engine->Grab();
        lines.assign(run.Lines.begin() + static_cast<long>(before), run.Lines.end());
    }
    // The lines up to the grabber's programme count, which ends its part of the run.
    std::vector<std::string> GrabberLines() const {
        std::vector<std::string> out;
        for (const std::string& l : lines) {
            out.push_back(l);
            if (l.find(" programs found") != std::string::npos) break;
        }
        return out;
    }
    int Count(const std::string& line) const { return static_cast<int>(std::count(lines.begin(), lines.end(), line)); }
    std::string Output() const { return ReadFile(folder.Root + "out.xml"); }

    FixedToday today;
    ProgramFolder folder;
    EngineRun run;
    int32_t status = -1;
    std::vector<std::string> lines;
    std::vector<int32_t> maxima, positions;
    int idleCalls = 0;
    bool stopWhenIdle = false;
};

TEST(GrabTest, PassesAndTheirMessages) {
    const std::string f1 = "Func=function(h,c,d) print('call '..c.ID..' '..d) end";
    struct Case {
        const char* name;
        std::string passes;
        std::vector<std::string> lines;
        int status;
    } cases[] = {
        {"gap ends the passes", "Pass1={Type=5}, Pass3={Type=5}",
         {"Starting pass 1 of grabber g", "   Finished pass 1 of grabber g", "   0 programs found"}, 0},
        {"no type, no lines", "Pass1={Func=function() print('x') end}", {"   0 programs found"}, 0},
        {"type 1 returning nothing succeeds", "Pass1={Type=1," + f1 + "}",
         {"Starting pass 1 of grabber g", "call c1 0", "call c2 0", "   Finished pass 1 of grabber g",
          "   0 programs found"},
         0},
        {"type 1 raising ends the items", "Pass1={Type=1,Func=function(h,c) print(c.ID) error('bad page',0) end}",
         {"Starting pass 1 of grabber g", "c1", "bad page", "Grab failed on channel \"c1\"",
          "   Finished pass 1 of grabber g", "   0 programs found"},
         2},
        {"type 1 non-zero result fails", "Pass1={Type=1,Func=function(h,c) return 3 end}",
         {"Starting pass 1 of grabber g", "Grab failed on channel \"c1\"", "   Finished pass 1 of grabber g",
          "   0 programs found"},
         2},
        {"type 1 without Func", "Pass1={Type=1}",
         {"Starting pass 1 of grabber g", "Pass 1 of grabber g has no function defined",
          "   Finished pass 1 of grabber g", "   0 programs found"},
         2},
        {"failing Start ends the script's passes",
         "Pass1={Type=5,Start=function() return 1 end,End=function() print('end') end}, Pass2={Type=5}",
         {"Starting pass 1 of grabber g", "Grab failed during start function of pass 1", "   0 programs found"}, 2},
        {"raising Start counts as 0", "Pass1={Type=5,Start=function() error('oops',0) end}",
         {"Starting pass 1 of grabber g", "oops", "   Finished pass 1 of grabber g", "   0 programs found"}, 0},
        {"failing End: no finish line", "Pass1={Type=5,End=function() return '2' end}, Pass2={Type=5}",
         {"Starting pass 1 of grabber g", "Grab failed during end function of pass 1", "   0 programs found"}, 2},
        {"unknown type still runs End", "Pass1={Type=9.7,End=function(h) print('end') end}",
         {"Starting pass 1 of grabber g", "   Invalid pass type for pass 1 of grabber g",
          "end", "   Finished pass 1 of grabber g", "   0 programs found"},
         0},
        {"no interval", "Pass1={Type=2,MaxDays=1," + f1 + "}",
         {"Starting pass 1 of grabber g", "Pass 1 of grabber g has no interval defined",
          "   Finished pass 1 of grabber g", "   0 programs found"},
         2},
        {"interval below a minute counts as none", "Pass1={Type=6,Interval=0.5,MaxDays=1,Func=print}",
         {"Starting pass 1 of grabber g", "Pass 1 of grabber g has no interval defined",
          "   Finished pass 1 of grabber g", "   0 programs found"},
         2},
        {"no days", "Pass1={Type=2,Interval=60," + f1 + "}",
         {"Starting pass 1 of grabber g", "Pass 1 of grabber g has no maximumnumber of days defined",
          "   Finished pass 1 of grabber g", "   0 programs found"},
         2},
        {"status stays 2 after a later success", "Pass1={Type=1,Func=function() return 1 end}, Pass2={Type=5}",
         {"Starting pass 1 of grabber g", "Grab failed on channel \"c1\"", "   Finished pass 1 of grabber g",
          "Starting pass 2 of grabber g", "   Finished pass 2 of grabber g", "   0 programs found"},
         2},
        {"type 6 failure", "Pass1={Type=6,Interval=720,MaxDays=3,Func=function(h,t) print(t.Hour) return 1 end}",
         {"Starting pass 1 of grabber g", "0", "Grab failed", "   Finished pass 1 of grabber g",
          "   0 programs found"},
         2},
    };
    for (const Case& c : cases) {
        Grab grab(c.passes);
        EXPECT_EQ(grab.GrabberLines(), c.lines) << c.name;
        EXPECT_EQ(grab.status, c.status) << c.name;
        EXPECT_EQ(grab.run.Engine->ExitStatus, c.status) << c.name;
    }
}

TEST(GrabTest, TimeStepPasses) {
    const std::string times =
        "Func=function(h,c,t) print(string.format('%s %04d-%02d-%02d %02d:%02d', c.ID, t.Year, t.Month, t.Day, "
        "t.Hour, t.Minute)) end";
    struct Case {
        const char* name;
        std::string passes;
        int dayLimit;
        int callsPerChannel;
        int32_t maximum;
        const char* first;
        const char* last;
    } cases[] = {
        {"two days hourly", "Pass1={Type=2,Interval=60,MaxDays=2," + times + "}", 0, 48, 96,
         "c1 2024-03-05 00:00", "c2 2024-03-06 23:00"},
        {"day limit shortens", "Pass1={Type=2,Interval=60,MaxDays=2," + times + "}", 1, 24, 48,
         "c1 2024-03-05 00:00", "c2 2024-03-05 23:00"},
        {"limit above the days", "Pass1={Type=2,Interval=90,MaxDays=1," + times + "}", 5, 16, 32,
         "c1 2024-03-05 00:00", "c2 2024-03-05 22:30"},
        {"month end carried", "Pass1={Type=2,Interval=1440,MaxDays=27," + times + "}", 0, 27, 54,
         "c1 2024-03-05 00:00", "c2 2024-03-31 00:00"},
    };
    for (const Case& c : cases) {
        Grab grab(c.passes, "", c.dayLimit);
        int c1 = 0, c2 = 0;
        std::vector<std::string> calls;
        for (const std::string& l : grab.lines)
            if (l.rfind("c1 ", 0) == 0 || l.rfind("c2 ", 0) == 0) {
                calls.push_back(l);
                (l[1] == '1' ? c1 : c2)++;
            }
        EXPECT_EQ(c1, c.callsPerChannel) << c.name;
        EXPECT_EQ(c2, c.callsPerChannel) << c.name;
        ASSERT_FALSE(calls.empty()) << c.name;
        EXPECT_EQ(calls.front(), c.first) << c.name;
        EXPECT_EQ(calls.back(), c.last) << c.name;
        ASSERT_FALSE(grab.maxima.empty()) << c.name;
        EXPECT_EQ(grab.maxima.front(), c.maximum) << c.name;
        EXPECT_EQ(grab.status, 0) << c.name;
    }
    // Three channels: the progress maximum counts every channel's steps.
    Grab three("Pass1={Type=2,Interval=60,MaxDays=2,Start=function(h) Tvrn.AddUserChannel(h,{ID='c3'}) end," +
               times + "}");
    EXPECT_EQ(three.maxima.front(), 144);
    EXPECT_EQ(three.positions.back(), 144);
    EXPECT_EQ(three.Count("c3 2024-03-06 23:00"), 1);
}

// Programmes from a type 5 pass's Start, then a type 4 pass that prints what it is handed.
std::string WindowScript(int s, int e) {
    return "Pass1={Type=5,Start=function(h)\n"
           " Tvrn.AddProgram(h,{ID='a',Channel='c1',Title='Early',Start=tt(2024,3,5,17,0),Stop=tt(2024,3,5,18,30)})\n"
           " Tvrn.AddProgram(h,{ID='b',Channel='c1',Title='Late',Start=tt(2024,3,5,23,15),Stop=tt(2024,3,5,23,45)})\n"
           " Tvrn.AddProgram(h,{ID='c',Channel='c1',Title='Noon',Start=tt(2024,3,6,10,0),Stop=tt(2024,3,6,12,0)})\n"
           " Tvrn.AddProgram(h,{ID='d',Channel='c1',Title='Night',Start=tt(2024,3,6,23,0),Stop=tt(2024,3,7,1,0)})\n"
           " return 0 end},\n"
           "Pass2={Type=4,StartTime=" + std::to_string(s) + ",StopTime=" + std::to_string(e) +
           ",Func=function(h,p) print('seen '..p.Title) p.Title=p.Title..'!' return p end}";
}

TEST(GrabTest, HourWindowOfTypeFour) {
    struct Case {
        int s, e;
        std::vector<std::string> seen;
        std::vector<std::string> titles;   // in the written file
    } cases[] = {
        {18, 23, {"seen Early"}, {"Early!", "Late", "Noon", "Night"}},
        {22, 6, {"seen Late", "seen Night"}, {"Early", "Late!", "Noon", "Night!"}},
    };
    for (const Case& c : cases) {
        Grab grab(WindowScript(c.s, c.e));
        std::vector<std::string> seen;
        for (const std::string& l : grab.lines)
            if (l.rfind("seen ", 0) == 0) seen.push_back(l);
        EXPECT_EQ(seen, c.seen) << c.s << "-" << c.e;
        const std::string xml = grab.Output();
        for (const std::string& title : c.titles)
            EXPECT_NE(xml.find("<title>" + title + "</title>"), std::string::npos) << title;
        EXPECT_EQ(grab.Count("   4 programs found"), 1);
    }
    Grab noStart("Pass1={Type=5,Start=function(h) Tvrn.AddProgram(h,{Channel='c1',Title='x',"
                 "Start=tt(2024,3,5,1,0)}) return 0 end}, Pass2={Type=4,StopTime=3,Func=function(h,p) "
                 "print('seen') return p end}");
    EXPECT_EQ(noStart.Count("No start time specified for pass 2"), 1);
    EXPECT_EQ(noStart.Count("seen"), 1);
    EXPECT_EQ(noStart.status, 0);
}

TEST(GrabTest, ProgrammePassesKeepWhatTheyDidNotReach) {
    const std::string add =
        "Pass1={Type=5,Start=function(h) for i=1,4 do Tvrn.AddProgram(h,{ID='p'..i,Channel='c1',Title='T'..i,"
        "Start=tt(2024,3,5,i,0)}) end return 0 end},\n";
    struct Case {
        const char* name;
        std::string func;
        std::vector<std::string> titles;
        int status;
    } cases[] = {
        {"replace and drop", "if p.Title=='T2' then return 0 end p.Title=p.Title..'x' return p", {"T1x", "T3x", "T4x"}, 0},
        {"nothing returned drops", "if p.Title=='T4' then return p end", {"T4"}, 0},
        {"failure keeps the rest", "if p.Title=='T3' then error('no',0) end p.Title=p.Title..'x' return p",
         {"T1x", "T2x", "T3", "T4"}, 2},
        {"stop keeps the rest", "if p.Title=='T2' then Tvrn.SetStatus(2,'stop') end p.Title=p.Title..'x' return p",
         {"T1x", "T2x", "T3", "T4"}, 0},
    };
    for (const Case& c : cases) {
        Grab grab(add + "Pass2={Type=3,Func=function(h,p) " + c.func + " end}");
        std::vector<std::string> titles;
        const std::string xml = grab.Output();
        for (size_t at = xml.find("<title>"); at != std::string::npos; at = xml.find("<title>", at + 1))
            titles.push_back(xml.substr(at + 7, xml.find('<', at + 7) - at - 7));
        std::sort(titles.begin(), titles.end());
        EXPECT_EQ(titles, c.titles) << c.name;
        EXPECT_EQ(grab.status, c.status) << c.name;
    }
}

TEST(GrabTest, CombiningAndWriting) {
    const std::string abc =
        "Grabbers.abc = { Init = function(h) Tvrn.AddUserChannel(h,{ID='bbc1',Name='BBC One'}) end,\n"
        " Passes = { Pass1 = { Type = 1, Func = function(h, c)\n"
        "  Tvrn.AddProgram(h,{Channel='bbc1',Title='News',Start={Year=2024,Month=3,Day=5,Hour=12}})\n"
        "  Tvrn.AddProgram(h,{Channel='bbc2',Title='Lost',Start={Year=2024,Month=3,Day=5,Hour=13}})\n"
        " end } } }\n";
    const std::string passes =
        "Pass1={Type=1,Func=function(h,c) Tvrn.AddProgram(h,{Channel=c.ID,Title='From '..c.ID,"
        "Start={Year=2024,Month=3,Day=5,Hour=(c.ID=='c1' and 9 or 8)}}) end}";
    Grab grab(passes, abc, 0, std::string(kEnabled) + "[Settings]\nDebug=1\nDoXMLSort=1\nXMLSort=ACO\nTimeZone=+01:00\n");
    EXPECT_EQ(grab.status, 0);
    EXPECT_EQ(grab.Count("Channel not found for program Lost"), 1);
    EXPECT_EQ(grab.Count("   2 programs found"), 2);
    const std::string xml = grab.Output();
    EXPECT_NE(xml.find("<channel id=\"abc_bbc1\">"), std::string::npos) << xml;
    EXPECT_EQ(xml.find("Lost"), std::string::npos);
    // Sorted by start: 08:00 c2, 09:00 c1, 12:00 abc_bbc1, in the +01:00 zone.
    const size_t c2 = xml.find("start=\"20240305090000 +0100\" channel=\"c2.test\"");
    const size_t c1 = xml.find("start=\"20240305100000 +0100\" channel=\"c1.test\"");
    const size_t news = xml.find("start=\"20240305130000 +0100\" channel=\"abc_bbc1\"");
    ASSERT_NE(c2, std::string::npos) << xml;
    ASSERT_NE(c1, std::string::npos) << xml;
    ASSERT_NE(news, std::string::npos) << xml;
    EXPECT_LT(c2, c1);
    EXPECT_LT(c1, news);
    const std::vector<std::string> tail = {"Combining Grabber Programs", "   Finished Combining Grabber Programs",
                                           "Sorting Programs", "   Programs Sorted", "Writing XML", "   XML Written"};
    for (const std::string& line : tail) EXPECT_EQ(grab.Count(line), 1) << line;
    // Channel records are reloaded from the files after the run: the combined id does not stick.
    EXPECT_EQ(grab.run.Grabber("abc")->SelectedChannels->Count(), 0);
}

TEST(GrabTest, StopDuringTheFirstGrabberStillWrites) {
    const std::string second =
        "Grabbers.abc = { Init = function(h) Tvrn.AddUserChannel(h,{ID='x',XML_ID='x.test'}) end, Passes = { Pass1 = "
        "{ Type = 1, Func = function(h) print('second grabber ran') end } } }\n";
    Grab grab("Pass1={Type=1,Func=function(h,c) Tvrn.AddProgram(h,{Channel=c.ID,Title='Kept '..c.ID,"
              "Start={Year=2024,Month=3,Day=5,Hour=9}}) Tvrn.SetStatus(2,'stop') end,End=function() print('end') end},"
              "Pass2={Type=5,Start=function() print('pass 2') end}",
              second);
    EXPECT_EQ(grab.Count("second grabber ran"), 0);
    EXPECT_EQ(grab.Count("end"), 0);
    EXPECT_EQ(grab.Count("pass 2"), 0);
    const std::string xml = grab.Output();
    EXPECT_NE(xml.find("Kept c1"), std::string::npos);
    EXPECT_EQ(xml.find("Kept c2"), std::string::npos);
    EXPECT_EQ(grab.Count("   XML Written"), 1);
}

// A script in an endless loop keeps the front end alive and is ended by a stop from it; long
// script code outside a run is never stopped.
TEST(GrabTest, StopEndsAScriptInAnEndlessLoop) {
    Grab grab("Pass1={Type=1,Func=function(h,c) Tvrn.AddProgram(h,{Channel=c.ID,Title='Kept',"
              "Start={Year=2024,Month=3,Day=5,Hour=9}}) for i=1,5e6 do end Tvrn.SetStatus(2,'stop when idle')"
              " while true do end end,End=function() print('end') end}",
              "PostProcs.p = { Init = function() for i=1,5e6 do end print('long Init done') end }\n");
    EXPECT_TRUE(grab.run.Logged("long Init done"));
    EXPECT_GE(grab.idleCalls, 3);
    EXPECT_EQ(grab.Count("Stopped"), 1);
    EXPECT_EQ(grab.Count("Grab failed on channel \"c1\""), 1);
    EXPECT_EQ(grab.Count("end"), 0);
    EXPECT_EQ(grab.status, 2);
    EXPECT_NE(grab.Output().find("Kept"), std::string::npos);
}

TEST(GrabTest, ErrorValuesThatAreNoText) {
    Grab grab("Pass1={Type=5,Start=function() error({}) end},Pass2={Type=5,Start=function() error() end},"
              "Pass3={Type=5,Start=function() error(12,0) end},Pass4={Type=5,Start=function() error('text',0) end}",
              "PostProcs.p = { Name = 'P', Init = function() error(true) end }\n");
    for (const char* line : {"(error object is a table value)", "(error object is a nil value)", "12", "text"})
        EXPECT_EQ(grab.Count(line), 1) << line;
    EXPECT_TRUE(grab.run.Logged("Error calling Init fucntion of post processor P: (error object is a boolean value)"));
}

TEST(GrabTest, OutputFileKeptWithoutProgrammesOrOnError) {
    struct Case {
        const char* name;
        std::string passes;
        const char* line;
        int32_t status;   // a file that could not be written fails the run
    } cases[] = {
        {"no programmes", "Pass1={Type=5}", "No programs found, aborting xml writing", 0},
        {"writer error", "Pass1={Type=1,Func=function(h,c) Tvrn.AddProgram(h,{Channel=c.ID,Title='x',"
                         "Start=tt(2024,3,5,9,0)}) end}",
         "   Error writing xml: ", 2},
    };
    for (const Case& c : cases) {
        FixedToday today;
        ProgramFolder folder;
        folder.Ini(kEnabled);
        folder.Script("g.lua", std::string(kGrabberHead) + "Grabbers.g.Passes = {" + c.passes + "}");
        WriteFile(folder.Root + "out.xml", "previous listings");
        EngineRun run(folder);
        run.Engine->OutFile = folder.Root + "out.xml";
        if (std::string(c.name) == "writer error") {
            // The temporary file beside the output cannot be created while a folder holds its name.
            std::filesystem::create_directories(folder.Root + "out.xml.tmp/x");
        }
        EXPECT_EQ(run.Engine->Grab(), c.status) << c.name;
        bool found = false;
        for (const std::string& l : run.Lines) found |= l.rfind(c.line, 0) == 0;
        EXPECT_TRUE(found) << c.name;
        EXPECT_EQ(ReadFile(folder.Root + "out.xml"), "previous listings") << c.name;
    }
}

// No impossible timestamp reaches the file: a programme needs a valid start, a bad stop is dropped.
TEST(GrabTest, ImpossibleTimesNeverWritten) {
    struct Case {
        const char* title;
        const char* times;      // Lua fields of the programme table
        const char* expected;   // its start and stop attributes; null: left out
    } cases[] = {
        {"ok", "Start=tt(2024,3,5,9,0),Stop=tt(2024,3,5,10,0)", "start=\"20240305090000 +0000\" stop=\"20240305100000 +0000\""},
        {"reversed", "Start=tt(2024,3,5,9,0),Stop=tt(2024,3,5,8,0)", "start=\"20240305090000 +0000\""},
        {"month 13", "Start=tt(2024,3,5,9,0),Stop=tt(2024,13,5,8,0)", "start=\"20240305090000 +0000\""},
        {"bad pdc", "Start=tt(2024,3,5,9,0),PDCStart=tt(2024,3,5,24,0)", "start=\"20240305090000 +0000\""},
        {"no start", "Stop=tt(2024,3,5,10,0)", nullptr},
        {"hour 25", "Start=tt(2024,3,5,25,0)", nullptr},
        {"minute 60", "Start=tt(2024,3,5,9,60)", nullptr},
        {"year 10000", "Start=tt(10000,1,1,0,0)", nullptr},
        {"30 February", "Start=tt(2024,2,30,9,0)", nullptr},
    };
    std::string adds;
    for (const Case& c : cases)
        adds += std::string("Tvrn.AddProgram(h,{Channel='c1',Title='") + c.title + "'," + c.times + "}) ";
    Grab grab("Pass1={Type=6,Interval=1440,MaxDays=1,Func=function(h) " + adds + "end}", "", 0,
              std::string(kEnabled) + "[Settings]\nTimeZone=+00:00\n");
    EXPECT_EQ(grab.Count("   5 programs of grabber g left out: no valid start time"), 1);
    const std::string xml = grab.Output();
    for (const Case& c : cases) {
        const std::string title = std::string("<title>") + c.title + "</title>";
        if (!c.expected) {
            EXPECT_EQ(xml.find(title), std::string::npos) << c.title;
            continue;
        }
        EXPECT_NE(xml.find(std::string("<programme ") + c.expected + " channel=\"c1.test\">\n    " + title),
                  std::string::npos) << c.title;
    }
    EXPECT_EQ(grab.status, 0);
}

// An output file ending in ".gz" holds, compressed, what a plain file of the same grab holds: valid
// XMLTV, longer than a buffer, and no temporary file is left beside it.
TEST(GrabTest, CompressedOutput) {
    const std::string passes =
        "Pass1={Type=1,Func=function(h,c) for i=0,799 do local hr,mi=math.floor(i/60),i%60\n"
        " Tvrn.AddProgram(h,{Channel=c.ID,Title='Show '..i..' & more',Start=tt(2024,3,5,hr,mi)}) end end}";
    const std::string named = "Grabbers.g.Init = function(h) Tvrn.AddUserChannel(h,{ID='c1',XML_ID='c1.test',Name='One'})"
                              " Tvrn.AddUserChannel(h,{ID='c2',XML_ID='c2.test',Name='Two'}) end";
    const Grab plain(passes, named), packed(passes, named, 0, kEnabled, "out.xml.GZ");
    const std::string root = packed.folder.Root, xml = plain.Output(), gz = ReadFile(root + "out.xml.GZ");
    ASSERT_GT(xml.size(), 2u * 65536);
    ASSERT_EQ(gz.substr(0, 2), "\x1f\x8b");
    EXPECT_LT(gz.size(), xml.size() / 4);
    ASSERT_EQ(Shell("zcat < '" + root + "out.xml.GZ' > '" + root + "unpacked.xml'"), 0);
    EXPECT_TRUE(ReadFile(root + "unpacked.xml") == xml);
    EXPECT_EQ(Shell("zcat < '" + root + "out.xml.GZ' | xmllint --nonet --noout --dtdvalid /usr/share/xmltv/xmltv.dtd -"),
              0);
    for (const auto& entry : std::filesystem::directory_iterator(root))
        EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
}

TEST(GrabTest, WritingProgress) {
    Grab grab("Pass1={Type=1,Func=function(h,c) if c.ID=='c1' then for i=1,300 do Tvrn.AddProgram(h,{Channel='c1',"
              "Title='p'..i,Start={Year=2024,Month=3,Day=5,Hour=1,Minute=i%60}}) end end end}");
    // The pass's own bar first (2 channels), then the writing.
    const std::vector<int32_t> writing(grab.positions.end() - 4, grab.positions.end());
    EXPECT_EQ(writing, (std::vector<int32_t>{0, 127, 255, 300}));
    EXPECT_EQ(grab.maxima.back(), 300);
}

TEST(GrabTest, PostProcessorPasses) {
    const std::string processors =
        "Grabbers.abc = { Init = function(h) Tvrn.AddUserChannel(h,{ID='a1',XML_ID='a1.test'}) end, Passes = {"
        " Pass1 = { Type = 1, Func = function(h,c) Tvrn.AddProgram(h,{Channel=c.ID,Title='Match day',"
        "Start={Year=2024,Month=3,Day=5,Hour=9}}) end } } }\n"
        "PostProcs.p = { Grabber = 'abc', Passes = {\n"
        " Pass1 = { Type = 1, Start = function(h) print(h == Tvrn.GetGrabber('abc') and 'own handle' or 'other') end,"
        "   Func = function(h,c) print(h == Tvrn.GetGrabber('abc') and 'grabber handle' or 'other')"
        "   c.Name = 'Renamed' return c end },\n"
        " Pass2 = { Type = 3, Func = function(h,p) if string.find(p.Title,'Match') then p.Category='Sports' end"
        "   return p end },\n"
        " Pass3 = { Type = 2 } } }\n";
    Grab grab("Pass1={Type=1,Func=function(h,c) Tvrn.AddProgram(h,{Channel=c.ID,Title='Match '..c.ID,"
              "Start={Year=2024,Month=3,Day=5,Hour=9}}) end}",
              processors);
    EXPECT_EQ(grab.Count("other"), 1);   // Start gets the processor's handle
    EXPECT_EQ(grab.Count("grabber handle"), 1);
    EXPECT_EQ(grab.Count("   Invalid pass type for pass 3 of processor p"), 1);
    const std::string xml = grab.Output();
    EXPECT_NE(xml.find("<display-name>Renamed</display-name>"), std::string::npos) << xml;
    // Only the named grabber's programmes are processed.
    EXPECT_EQ(xml.find("<category>Sports</category>"), xml.rfind("<category>Sports</category>"));
    EXPECT_NE(xml.find("<category>Sports</category>"), std::string::npos);
    EXPECT_EQ(grab.status, 0);
}

TEST(GrabTest, DownloadStatistics) {
    struct Case {
        int32_t total, done;
        uint32_t elapsedMs;
        int64_t bytes;
        const char* remaining;
        const char* downloaded;
    } cases[] = {
        {10, 2, 30000, 0, "00:02:00 Remaining", "0 B Downloaded"},
        {3, 3, 5000, 512, "00:00:00 Remaining", "512 B Downloaded"},
        {100000, 1, 40000, 0, "1111:06:00 Remaining", "0 B Downloaded"},
    };
    ProgramFolder folder;
    EngineRun run(folder);
    for (const Case& c : cases) {
        std::string speed, remaining, downloaded;
        run.Engine->OnDownloadStats = [&](const std::string& s, const std::string& r, const std::string& d) {
            speed = s, remaining = r, downloaded = d;
        };
        const uint32_t now = platform::TickCount();
        run.Engine->PassStartTick = now - c.elapsedMs;
        run.Engine->BytesDownloaded = c.bytes;
        run.Engine->BytesAtLastSample = 0;
        run.Engine->LastSampleTick = now - 1000;
        run.Engine->UpdateDownloadStats(c.total, c.done);
        EXPECT_EQ(remaining, c.remaining);
        EXPECT_EQ(downloaded, c.downloaded);
        EXPECT_EQ(speed.rfind("Download Speed: ", 0), 0u);
        if (c.bytes == 0) {
            EXPECT_EQ(speed, "Download Speed: 0 B/s");
        } else {
            EXPECT_EQ(speed, "Download Speed: 512 B/s");   // 512 bytes in the last second
        }
        EXPECT_EQ(run.Engine->BytesAtLastSample, c.bytes);
    }
}

}  // namespace
