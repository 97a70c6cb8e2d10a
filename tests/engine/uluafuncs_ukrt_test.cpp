#include "scriptapi/uluafuncs_ukrt.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engine/uluagrabbers.h"
#include "scriptapi/luahelpers.h"
#include "tests/engine/programfolder.h"

using namespace testing_support;

namespace {

// One programme line: the numbered fields given, the rest empty.
std::string Line(const std::map<int, std::string>& fields) {
    std::string line;
    for (int i = 1; i <= 23; ++i) {
        auto f = fields.find(i);
        if (f != fields.end()) line += f->second;
        line += i < 23 ? "~" : "\n";
    }
    return line;
}

std::string Stamp(const SYSTEMTIME& t) {
    if (t.wYear == 0) return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute);
    return text;
}

// An engine with the grabber "g" (Windows-1252), the grabber "other" and the post processor "pp";
// their handles are the globals G, Other and PP, the handle of an unknown grabber is Null. Log lines
// are kept as the front end receives them.
class UKRTBindingTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder.Script("feed.lua",
                      "Grabbers.g = { Encoding = 2, Init = function(h) G = h end }\n"
                      "Grabbers.other = { Init = function(h) Other = h end }\n"
                      "PostProcs.pp = { Init = function(h) PP = h end }\n"
                      "Null = Tvrn.GetGrabber('none')\n");
        BaseDir = folder.Root;
        SettingsDir = "settings";
        engine = std::make_unique<TLuaGrabbers>([this](const std::string& line) { log.push_back(line); }, nullptr);
        L = engine->LuaState();
        grabber = engine->Grabbers.FindByID("g");
        ASSERT_NE(grabber, nullptr);
    }
    void TearDown() override {
        engine->Destroy();
        engine.reset();
    }

    // Runs a chunk in protected mode: "ok", or "error: " and the message. The stack must be left as
    // it was, whatever happened.
    std::string Run(const std::string& chunk) {
        const int top = lua_gettop(L);
        std::string result = "ok";
        if (luaL_loadstring(L, chunk.c_str()) != 0 || lua_pcall(L, 0, 0, 0) != 0) {
            result = "error: " + ReadText(L, -1);
            lua_pop(L, 1);
        }
        EXPECT_EQ(lua_gettop(L), top) << chunk;
        return result;
    }
    void SetPage(const std::string& page) {
        PushText(L, page);
        SetGlobal(L, "Page");
    }
    // The lines logged since the last call, the "HH:MM:SS - " prefix of engine lines kept.
    std::vector<std::string> TakeLog() {
        std::vector<std::string> lines;
        lines.swap(log);
        return lines;
    }
    std::vector<std::string> Titles() const {
        std::vector<std::string> titles;
        for (const TProgram& p : *grabber->Programs) titles.push_back(FirstValue(p.Title));
        return titles;
    }

    ProgramFolder folder;
    std::unique_ptr<TLuaGrabbers> engine;
    lua_State* L = nullptr;
    TLuaGrabber* grabber = nullptr;
    std::vector<std::string> log;
};

TEST_F(UKRTBindingTest, UsageErrors) {
    const std::string channels = "ProcessChannels, ";
    const std::string channelsUsage = " Usage: \"UK_RT.ProcessChannels([Grabber],[Page])\"";
    const std::string programs = "ProcessPrograms, ";
    const std::string programsUsage = " Usage: \"UK_RT.ProcessPrograms([Grabber],[ChannelID],[Page],[IgnoreTBA])\"";
    const std::string page = Line({{1, "Title"}, {20, "01/02/2007"}, {21, "10:00"}});
    SetPage(page);
    PushText(L, "1|One\n");
    SetGlobal(L, "Dir");
    struct Case {
        const char* chunk;
        std::string error;
    } cases[] = {
        {"UK_RT.ProcessChannels(G)", channels + "1 parameters found, 2 parameters expected." + channelsUsage},
        {"UK_RT.ProcessChannels(G, Dir, 1)", channels + "3 parameters found, 2 parameters expected." + channelsUsage},
        {"UK_RT.ProcessChannels(G, {})", channels + "incorrect parameter type(s)." + channelsUsage},
        {"UK_RT.ProcessChannels(G, nil)", channels + "incorrect parameter type(s)." + channelsUsage},
        {"UK_RT.ProcessChannels('g', Dir)", channels + "incorrect parameter type(s)." + channelsUsage},
        {"UK_RT.ProcessChannels(Null, Dir)", channels + "incorrect parameter type(s)." + channelsUsage},
        {"UK_RT.ProcessChannels(PP, Dir)", channels + "incorrect parameter type(s)." + channelsUsage},
        {"UK_RT.ProcessChannels(io.stdout, Dir)", channels + "incorrect parameter type(s)." + channelsUsage},
        {"UK_RT.ProcessPrograms(G, 'bbc1', Page)", programs + "3 parameters found, 4 parameters expected." + programsUsage},
        {"UK_RT.ProcessPrograms(G, 'bbc1', Page, false, 1)",
         programs + "5 parameters found, 4 parameters expected." + programsUsage},
        // IgnoreTBA must be a boolean value, not merely a true one
        {"UK_RT.ProcessPrograms(G, 'bbc1', Page, 1)", programs + "incorrect parameter type(s)." + programsUsage},
        {"UK_RT.ProcessPrograms(G, 'bbc1', Page, 'true')", programs + "incorrect parameter type(s)." + programsUsage},
        {"UK_RT.ProcessPrograms(G, 'bbc1', Page, nil)", programs + "incorrect parameter type(s)." + programsUsage},
        {"UK_RT.ProcessPrograms(G, {}, Page, false)", programs + "incorrect parameter type(s)." + programsUsage},
        {"UK_RT.ProcessPrograms(G, 'bbc1', {}, false)", programs + "incorrect parameter type(s)." + programsUsage},
        {"UK_RT.ProcessPrograms(Null, 'bbc1', Page, false)", programs + "incorrect parameter type(s)." + programsUsage},
        {"UK_RT.ProcessPrograms(PP, 'bbc1', Page, false)", programs + "incorrect parameter type(s)." + programsUsage},
    };
    for (const Case& c : cases) EXPECT_EQ(Run(c.chunk), "error: " + c.error) << c.chunk;
    // A rejected call has no effect.
    EXPECT_EQ(grabber->Programs->Count(), 0);
    EXPECT_EQ(grabber->AvailableChannels->Count(), 0);
    EXPECT_EQ(Run("UK_RT.ProcessPrograms(G, 1, Page, false)"), "ok");   // a number stands for a string
    EXPECT_EQ(Titles(), std::vector<std::string>{"Title"});
}

TEST_F(UKRTBindingTest, ChannelDirectoryIntoAvailableChannels) {
    engine->Debug = true;
    SetPage("2|Two\n1|One\r\n2|Again\nnobar\n3|Three");
    EXPECT_EQ(Run("UK_RT.ProcessChannels(G, Page)"), "ok");
    std::vector<std::string> got;
    for (const TChannel& c : *grabber->AvailableChannels)
        got.push_back(c.ID + "=" + DisplayNameOf(c) + "/" + c.Name->First()->Lang + "/" + std::to_string(c.Encoding));
    EXPECT_EQ(got, (std::vector<std::string>{"1=One\r/en/2", "2=Two/en/2", "3=Three/en/2"}));
    EXPECT_EQ(grabber->SelectedChannels->Count(), 0);
    EXPECT_EQ(engine->Grabbers.FindByID("other")->AvailableChannels->Count(), 0);

    const std::vector<std::string> lines = TakeLog();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].substr(8), " - Duplicate channel found id: 2 name: \"Again\"");
    EXPECT_EQ(lines[1].substr(8), " - Bad channel line \"nobar\"");
    // Debug lines stay out of the log without Debug; the channels are still found by the script.
    engine->Debug = false;
    EXPECT_EQ(Run("UK_RT.ProcessChannels(G, Page)\n"
                  "assert(Tvrn.GetChannel(G, '3').Name.Value == 'Three')"),
              "ok");
    EXPECT_EQ(TakeLog(), std::vector<std::string>{});
    EXPECT_EQ(grabber->AvailableChannels->Count(), 3);
}

// A small page through Lua into the grabber's records, with every binding's part: the channel ID,
// the grabber's encoding, the page's bytes as they are (a NUL inside a title), the day limit.
TEST_F(UKRTBindingTest, ProgrammePageRoundTrip) {
    const std::string nulTitle("A\0B", 3);
    SetPage(Line({{1, "News (BST)"}, {3, "3/10 - Finale"}, {6, "Ann*Al|Bob*Bo"}, {17, "News"},
                  {20, "15/06/2024"}, {21, "18:00"}, {22, "18:30"}, {23, " 30 "}}) +
            Line({{1, nulTitle}, {20, "15/06/2024"}, {21, "23:00"}, {22, "00:30"}, {23, "90"}}) +
            Line({{1, "To Be Announced"}, {20, "15/12/2024"}, {21, "12:00"}, {22, "13:00"}}) +
            Line({{1, "Late"}, {20, "16/06/2024"}, {21, "02:00"}, {22, "03:00"}}));
    ASSERT_EQ(Run("UK_RT.ProcessPrograms(G, 'bbc1', Page, true)"), "ok");
    struct Want {
        std::string title, start, stop, channel;
        int length;
    } want[] = {
        {"News ", "2024-06-15 17:00", "2024-06-15 17:30", "bbc1", 30},
        {nulTitle, "2024-06-15 22:00", "2024-06-15 23:30", "bbc1", 90},
        {"Late", "2024-06-16 01:00", "2024-06-16 02:00", "bbc1", 0},
    };
    ASSERT_EQ(grabber->Programs->Count(), 3);
    int i = 0;
    for (const TProgram& p : *grabber->Programs) {
        const Want& w = want[i++];
        EXPECT_EQ(FirstValue(p.Title), w.title);
        EXPECT_EQ(Stamp(p.Start), w.start) << w.title;
        EXPECT_EQ(Stamp(p.Stop), w.stop) << w.title;
        EXPECT_EQ(p.Channel, w.channel);
        EXPECT_EQ(p.ID, "");
        EXPECT_EQ(p.Length, w.length);
        EXPECT_EQ(p.Encoding, 2);
    }
    const TProgram& news = *grabber->Programs->First();
    EXPECT_EQ(news.Episode->First()->Number, ".2/10.");
    EXPECT_EQ(FirstValue(news.Sub_Title), "Finale");
    EXPECT_EQ(news.Credits->Actor->Count(), 2);

    // With a day limit, programmes starting after the limit time are dropped; IgnoreTBA false keeps
    // the placeholder.
    grabber->Programs->Clear();
    engine->DayLimit = 1;
    engine->LimitTime = SYSTEMTIME{2024, 6, 0, 15, 22, 0, 0, 0};
    ASSERT_EQ(Run("UK_RT.ProcessPrograms(G, 'bbc1', Page, false)"), "ok");
    EXPECT_EQ(Titles(), (std::vector<std::string>{"News ", nulTitle}));
    grabber->Programs->Clear();
    engine->DayLimit = 0;   // the limit time alone limits nothing
    ASSERT_EQ(Run("UK_RT.ProcessPrograms(G, 'bbc1', Page, false)"), "ok");
    EXPECT_EQ(Titles(), (std::vector<std::string>{"News ", nulTitle, "To Be Announced", "Late"}));
}

TEST_F(UKRTBindingTest, LogLines) {
    struct Case {
        bool debug;
        std::string page;
        std::vector<std::string> lines;   // a time prefix is shown as "T"
    } cases[] = {
        // straight to the front end: no time prefix, also without Debug
        {false, "\nanything", {"Error in channel \"bbc1\""}},
        {true, "\nanything", {"Error in channel \"bbc1\""}},
        {false, Line({{1, ""}}), {}},
        {true, Line({{1, ""}}), {"T - Program with blank title in channel \"bbc1\""}},
        {false, "", {}},
    };
    for (const Case& c : cases) {
        engine->Debug = c.debug;
        SetPage(c.page);
        EXPECT_EQ(Run("UK_RT.ProcessPrograms(G, 'bbc1', Page, false)"), "ok");
        std::vector<std::string> lines = TakeLog();
        for (std::string& l : lines)
            if (l.size() > 8 && l[2] == ':' && l[5] == ':') l = "T" + l.substr(8);
        EXPECT_EQ(lines, c.lines) << c.page;
    }
}

// A fault in the page ends the call as a Lua error with the parser's message; what was read before
// it stays, and the state goes on working.
TEST_F(UKRTBindingTest, FaultsEndTheCallAndKeepEarlierProgrammes) {
    const std::string good = Line({{1, "Good"}, {20, "01/02/2007"}, {21, "10:00"}, {22, "11:00"}});
    std::string unterminated = Line({{1, "Cut"}});
    unterminated.pop_back();
    struct Case {
        std::string page;
        std::string error;
    } cases[] = {
        {good + unterminated, "Parse error in channel bbc1"},
        {good + "Cut~~", "Parse error in channel bbc1"},
        {good + Line({{1, "Bad"}, {20, "0x/02/2007"}}), "\"0x\" is not a whole number (channel bbc1)"},
        {good + Line({{1, "Bad"}, {20, "1/2/2007"}}), "Date \"1/2/2007\" is shorter than dd/mm/yyyy (channel bbc1)"},
        {good + Line({{1, "Bad"}, {20, "01/02/2007"}, {21, "9:00"}}),
         "Time \"9:00\" is shorter than hh:mm (channel bbc1)"},
    };
    for (const Case& c : cases) {
        grabber->Programs->Clear();
        SetPage(c.page);
        // caught by the script itself
        EXPECT_EQ(Run("local ok, e = pcall(UK_RT.ProcessPrograms, G, 'bbc1', Page, false)\n"
                      "assert(not ok)\n"
                      "Message = e"),
                  "ok");
        GetGlobal(L, "Message");
        EXPECT_EQ(ReadText(L, -1), c.error);
        lua_pop(L, 1);
        EXPECT_EQ(Titles(), std::vector<std::string>{"Good"}) << c.error;
        // or ending the script's function, as a pass item fails
        EXPECT_EQ(Run("UK_RT.ProcessPrograms(G, 'bbc1', Page, false)"), "error: " + c.error);
        EXPECT_EQ(Titles(), (std::vector<std::string>{"Good", "Good"}));
        // the state is still usable: the next page is read in full
        SetPage(good);
        EXPECT_EQ(Run("UK_RT.ProcessPrograms(G, 'bbc1', Page, false)"), "ok");
        EXPECT_EQ(grabber->Programs->Count(), 3);
    }
}

// Random and truncated lines through Lua: each call adds programmes or fails with one of the
// parser's messages; nothing crashes or leaks (run under the sanitizers).
TEST_F(UKRTBindingTest, RandomPages) {
    std::mt19937 random(20240615);
    const std::vector<std::string> pieces = {"~", "~~~~~", "\n", "|", "*", "/", "true", "Film (BST)", "(GMT)",
                                             "31/12/2006", "23:00", "00:30", "1/6", " 90 ", "A", "12:7",
                                             "29/02/2007", "Ann*Al|Bob", std::string(1, '\0')};
    const std::string full = Line({{1, "T"}, {3, "1/6"}, {6, "a*b|c"}, {20, "31/12/2006"}, {21, "23:00"},
                                   {22, "00:30"}, {23, "90"}});
    const char* const knownStarts[] = {"Parse error in channel ", "Date \"", "Time \"", "\""};
    int failures = 0, added = 0;
    for (int round = 0; round < 400; ++round) {
        std::string page;
        const int lines = int(random() % 4);
        for (int l = 0; l < lines; ++l) {
            if (random() % 2) {
                page += full.substr(0, random() % (full.size() + 1));
            } else {
                const int count = int(random() % 40);
                for (int k = 0; k < count; ++k) page += pieces[random() % pieces.size()];
            }
        }
        SetPage(page);
        const int before = grabber->Programs->Count();
        const std::string result = Run("UK_RT.ProcessPrograms(G, 'c', Page, " + std::string(round % 2 ? "true" : "false") + ")");
        added += grabber->Programs->Count() - before;
        if (result == "ok") continue;
        ++failures;
        bool known = false;
        for (const char* start : knownStarts) known = known || result.rfind(std::string("error: ") + start, 0) == 0;
        EXPECT_TRUE(known) << result;
    }
    EXPECT_GT(failures, 0);
    EXPECT_GT(added, 0);
    EXPECT_EQ(Run("UK_RT.ProcessChannels(G, Page)"), "ok");
}

}  // namespace
