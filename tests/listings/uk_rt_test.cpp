#include "listings/uk_rt.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "listings/timezones.h"

namespace {

// ---- building feed lines

// One programme line: 23 fields, the given ones set, the rest empty. Unless overridden, a programme
// "T" on a winter day from 10:00 to 11:00, 60 minutes.
std::string Line(std::map<int, std::string> fields) {
    const std::map<int, std::string> defaults{{1, "T"}, {20, "15/01/2006"}, {21, "10:00"}, {22, "11:00"}, {23, "60"}};
    for (const auto& [n, v] : defaults) fields.emplace(n, v);
    std::string line;
    for (int n = 1; n <= 23; ++n) {
        line += fields[n];
        line += n < 23 ? '~' : '\n';
    }
    return line;
}

std::string Time(const SYSTEMTIME& t) {
    if (t.wYear == 0) return "none";
    char s[32];
    std::snprintf(s, sizeof s, "%04u-%02u-%02u %02u:%02u", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute);
    return s;
}

// A text entry, with its language when that is not "en".
std::string Entry(const TXMLTVString& s) { return s.Lang == "en" ? s.Value : s.Value + "@" + s.Lang; }

void Texts(std::string& out, const char* name, const std::unique_ptr<TXMLTVStringList>& list) {
    if (!list) return;
    out += name;
    for (const TXMLTVString& s : *list) out += "[" + Entry(s) + "]";
    out += " ";
}

// Everything the parser may set, in one line, so that a case also fails on a part it did not expect.
std::string Describe(const TProgram& p) {
    std::string d;
    Texts(d, "Title", p.Title);
    Texts(d, "Sub", p.Sub_Title);
    if (p.Episode)
        for (const TEpisode& e : *p.Episode) d += "Ep[" + e.Number + " " + e.System + "] ";
    if (!p.Date.empty()) d += "Date[" + p.Date + "] ";
    if (p.Credits) {
        if (p.Credits->Director)
            for (const std::string& s : *p.Credits->Director) d += "Dir[" + s + "] ";
        if (p.Credits->Actor)
            for (const TCastMember& a : *p.Credits->Actor) d += "Actor[" + a.Actor + "/" + a.Character + "] ";
        if (!p.Credits->Director && !p.Credits->Actor) d += "Credits[] ";
    }
    if (p.Premiere) d += "Premiere[" + Entry(*p.Premiere) + "] ";
    if (p.PreviouslyShown) d += "Prev[" + p.PreviouslyShown->Start + "/" + p.PreviouslyShown->Channel + "] ";
    if (p.Subtitles)
        for (const TXMLTVSubtitles& s : *p.Subtitles)
            d += "Subs[" + std::to_string(s.Type) + " " + (s.Lang ? Entry(*s.Lang) : "-") + "] ";
    if (p.Video)
        d += std::string("Video[") + (p.Video->Present ? "present" : "absent") + (p.Video->Colour ? " colour " : " bw ") +
             p.Video->Aspect + "] ";
    if (p.StarRating)
        d += "Stars[" + std::to_string(p.StarRating->Number) + "/" + std::to_string(p.StarRating->OutOf) + "] ";
    if (p.Rating)
        for (const TXMLTVRating& r : *p.Rating) d += "Rating[" + r.Value + " " + r.System + (r.Icon ? " icons" : "") + "] ";
    Texts(d, "Cat", p.Category);
    Texts(d, "Desc", p.Description);
    d += "Start[" + Time(p.Start) + "] Stop[" + Time(p.Stop) + "]";
    if (p.Length != 0) d += " Len[" + std::to_string(p.Length) + "]";
    return d;
}

struct Result {
    std::vector<std::unique_ptr<TProgram>> Programs;
    std::vector<std::string> Debug, Raw;
    std::string Error;  // the message of the exception that ended the call
};

TFeedProgramsOptions Options(bool ignoreTBA = false) {
    TFeedProgramsOptions o;
    o.ChannelID = "bbc1";
    o.IgnoreTBA = ignoreTBA;
    o.Encoding = 3;
    return o;
}

Result Parse(const std::string& page, const TFeedProgramsOptions& options = Options()) {
    Result r;
    TFeedProgramsOutput out;
    out.DebugLog = [&](const std::string& s) { r.Debug.push_back(s); };
    out.RawLog = [&](const std::string& s) { r.Raw.push_back(s); };
    out.AddProgram = [&](std::unique_ptr<TProgram> p) { r.Programs.push_back(std::move(p)); };
    try {
        ProcessPrograms(page, options, out);
    } catch (const EFeedError& e) {
        r.Error = e.what();
    }
    return r;
}

SYSTEMTIME At(int y, int mo, int d, int h, int mi) {
    SYSTEMTIME t{};
    t.wYear = y, t.wMonth = mo, t.wDay = d, t.wHour = h, t.wMinute = mi;
    return t;
}

// The summer-time switch days of 2006 (26 March, 29 October), whatever the day the tests run.
class UKRTTest : public testing::Test {
protected:
    void SetUp() override {
        FSavedStart = SummerStart;
        FSavedEnd = SummerEnd;
        SummerStart = At(2006, 3, 26, 2, 0);
        SummerEnd = At(2006, 10, 29, 2, 0);
    }
    void TearDown() override {
        SummerStart = FSavedStart;
        SummerEnd = FSavedEnd;
    }

private:
    SYSTEMTIME FSavedStart{}, FSavedEnd{};
};

const char* const kDefaultTimes = "Start[2006-01-15 10:00] Stop[2006-01-15 11:00] Len[60]";

// ---- channel directory

TEST_F(UKRTTest, ChannelDirectory) {
    struct Case {
        const char* name;
        std::string page;
        std::vector<std::string> channels;  // "ID=Name" in list order
        std::vector<std::string> debug;
    } cases[] = {
        {"two lines", "1|BBC One\n2|BBC Two\n", {"1=BBC One", "2=BBC Two"}, {}},
        {"duplicate dropped", "1|BBC One\n2|BBC Two\n1|Other\n", {"1=BBC One", "2=BBC Two"},
         {"Duplicate channel found id: 1 name: \"Other\""}},
        {"ID order", "b|Bee\nB|Big bee\na|Ay\n", {"B=Big bee", "a=Ay", "b=Bee"}, {}},
        {"carriage return stays", "1|One\r\n", {"1=One\r"}, {}},
        {"last line without line feed", "1|One\n2|Two", {"1=One", "2=Two"}, {}},
        {"line without bar skipped", "junk\n1|One\n\n2|Two\n", {"1=One", "2=Two"},
         {"Bad channel line \"junk\"", "Bad channel line \"\""}},
        {"bar only in a later line", "abc\n1|One\n", {"1=One"}, {"Bad channel line \"abc\""}},
        {"name keeps further bars", "1|A|B\n", {"1=A|B"}, {}},
        {"empty name", "7|\n", {"7="}, {}},
        {"empty page", "", {}, {}},
        {"lone line feed", "\n", {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TChanList list(true);
        std::vector<std::string> debug;
        ProcessChannels(c.page, 2, list, [&](const std::string& s) { debug.push_back(s); });
        std::vector<std::string> got;
        for (const TChannel& ch : list) {
            got.push_back(ch.ID + "=" + DisplayNameOf(ch));
            ASSERT_TRUE(ch.Name);
            ASSERT_EQ(ch.Name->Count(), 1);
            EXPECT_EQ(ch.Name->FirstItem()->Lang, "en");
            EXPECT_EQ(ch.Encoding, 2);
            EXPECT_EQ(ch.XML_ID, "");
        }
        EXPECT_EQ(got, c.channels);
        EXPECT_EQ(debug, c.debug);
    }
}

TEST_F(UKRTTest, ChannelAlreadyAvailableIsKept) {
    TChanList list(true);
    auto old = std::make_unique<TChannel>();
    old->ID = "5";
    old->XML_ID = "five.example";
    list.Add(std::move(old));
    ProcessChannels("5|New Five\n6|Six\n", 1, list, nullptr);  // no debug sink: lines are dropped
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list.FirstItem()->XML_ID, "five.example");
    EXPECT_EQ(list.LastItem()->ID, "6");
}

// ---- programme lines

struct ProgramCase {
    const char* name;
    std::string page;
    std::vector<std::string> programs;  // Describe() of each programme handed on
    std::vector<std::string> debug = {};
    bool ignoreTBA = false;
};

void Check(const ProgramCase& c, const TFeedProgramsOptions& options) {
    SCOPED_TRACE(c.name);
    const Result r = Parse(c.page, options);
    EXPECT_EQ(r.Error, "");
    std::vector<std::string> got;
    for (const auto& p : r.Programs) got.push_back(Describe(*p));
    EXPECT_EQ(got, c.programs);
    EXPECT_EQ(r.Debug, c.debug);
    EXPECT_TRUE(r.Raw.empty());
}

TEST_F(UKRTTest, TitlesAndMarkers) {
    const ProgramCase cases[] = {
        {"plain", Line({{1, "News"}}), {std::string("Title[News] ") + kDefaultTimes}},
        {"blank title", Line({{1, ""}}), {std::string("Title[(No Title)] ") + kDefaultTimes},
         {"Program with blank title in channel \"bbc1\""}},
        {"BST marker in winter: an hour earlier", Line({{1, "Film (BST)"}, {21, "10:00"}, {22, "11:30"}}),
         {"Title[Film ] Start[2006-01-15 09:00] Stop[2006-01-15 10:30] Len[60]"}},
        {"BST marker before midnight", Line({{1, "(BST)Late"}, {20, "01/01/2007"}, {21, "00:30"}, {22, "01:30"}}),
         {"Title[Late] Start[2006-12-31 23:30] Stop[2007-01-01 00:30] Len[60]"}},
        {"GMT marker in summer: unchanged", Line({{1, "Match (GMT)"}, {20, "15/06/2006"}}),
         {"Title[Match ] Start[2006-06-15 10:00] Stop[2006-06-15 11:00] Len[60]"}},
        {"GMT marker wins over BST", Line({{1, "A(BST)(GMT)"}, {20, "15/06/2006"}}),
         {"Title[A] Start[2006-06-15 10:00] Stop[2006-06-15 11:00] Len[60]"}},
        {"only the first marker is cut", Line({{1, "(BST)X(BST)"}}),
         {"Title[X(BST)] Start[2006-01-15 09:00] Stop[2006-01-15 10:00] Len[60]"}},
        {"marker alone leaves no title", Line({{1, "(GMT)"}}), {std::string("Title[(No Title)] ") + kDefaultTimes},
         {"Program with blank title in channel \"bbc1\""}},
        {"no marker in summer: calendar", Line({{20, "15/06/2006"}}),
         {"Title[T] Start[2006-06-15 09:00] Stop[2006-06-15 10:00] Len[60]"}},
    };
    for (const auto& c : cases) Check(c, Options());
}

TEST_F(UKRTTest, EpisodeField) {
    const ProgramCase cases[] = {
        {"1/6", Line({{3, "1/6"}}), {std::string("Title[T] Ep[.0/6. xmltv_ns] ") + kDefaultTimes}},
        {"3/10 - Finale", Line({{3, "3/10 - Finale"}}),
         {std::string("Title[T] Sub[Finale] Ep[.2/10. xmltv_ns] ") + kDefaultTimes}},
        {"sub-title field first", Line({{2, "Part One"}, {3, "12/13 -- The End"}}),
         {std::string("Title[T] Sub[Part One][The End] Ep[.11/13. xmltv_ns] ") + kDefaultTimes}},
        {"A/6 is a sub-title", Line({{3, "A/6"}}), {std::string("Title[T] Sub[A/6] ") + kDefaultTimes}},
        {"no digit after the slash", Line({{3, "1/x"}}), {std::string("Title[T] Sub[1/x] ") + kDefaultTimes}},
        {"slash at the end", Line({{3, "1/"}}), {std::string("Title[T] Sub[1/] ") + kDefaultTimes}},
        {"no slash", Line({{3, "42"}}), {std::string("Title[T] Sub[42] ") + kDefaultTimes}},
        {"space before the slash", Line({{3, "1 /6"}}), {std::string("Title[T] Sub[1 /6] ") + kDefaultTimes}},
        {"second slash: m is 0", Line({{3, "3/4/5"}}), {std::string("Title[T] Ep[.2/0. xmltv_ns] ") + kDefaultTimes}},
        {"episode 0 gives no number", Line({{3, "0/6"}}), {std::string("Title[T] ") + kDefaultTimes}},
        {"n not a number", Line({{3, "1x2/6"}}), {std::string("Title[T] ") + kDefaultTimes}},
        {"rest too short", Line({{3, "2/6 Up"}}), {std::string("Title[T] Ep[.1/6. xmltv_ns] ") + kDefaultTimes}},
        {"rest of four bytes", Line({{3, "2/6 - X"}}),
         {std::string("Title[T] Sub[X] Ep[.1/6. xmltv_ns] ") + kDefaultTimes}},
        {"rest only dashes", Line({{3, "2/6 ---"}}), {std::string("Title[T] Ep[.1/6. xmltv_ns] ") + kDefaultTimes}},
    };
    for (const auto& c : cases) Check(c, Options());
}

TEST_F(UKRTTest, CreditsFields) {
    const ProgramCase cases[] = {
        {"director", Line({{5, "Jane Doe"}}), {std::string("Title[T] Dir[Jane Doe] ") + kDefaultTimes}},
        {"names", Line({{5, "D"}, {6, "Ann Lee, Bob Roe"}}),
         {std::string("Title[T] Dir[D] Actor[Ann Lee/] Actor[Bob Roe/] ") + kDefaultTimes}},
        {"names without space, one letter last", Line({{6, "Ann,Bo, C"}}),
         {std::string("Title[T] Actor[Ann/] Actor[Bo/] Actor[C/] ") + kDefaultTimes}},
        {"single one-letter name", Line({{6, "Q"}}), {std::string("Title[T] Actor[Q/] ") + kDefaultTimes}},
        {"empty names skipped", Line({{6, "A,,B, "}}), {std::string("Title[T] Actor[A/] Actor[B/] ") + kDefaultTimes}},
        {"pairs", Line({{6, "Hero*Ann Lee|Villain*Bob Roe"}}),
         {std::string("Title[T] Actor[Ann Lee/Hero] Actor[Bob Roe/Villain] ") + kDefaultTimes}},
        {"pairs with trailing bar", Line({{6, "Hero*Ann|"}}), {std::string("Title[T] Actor[Ann/Hero] ") + kDefaultTimes}},
        {"pair without character", Line({{6, "*Ann|Guard*"}}),
         {std::string("Title[T] Actor[Ann/] Actor[/Guard] ") + kDefaultTimes}},
        {"rest without star", Line({{1, "Film"}, {6, "Hero*Ann|Narrator Bob"}}),
         {std::string("Title[Film] Actor[Ann/Hero] Actor[Narrator Bob/] ") + kDefaultTimes},
         {"Bad cast list \"Hero*Ann|Narrator Bob\" for program \"Film\""}},
        {"one-letter rest", Line({{6, "Hero*Ann|B"}}),
         {std::string("Title[T] Actor[Ann/Hero] Actor[B/] ") + kDefaultTimes},
         {"Bad cast list \"Hero*Ann|B\" for program \"T\""}},
    };
    for (const auto& c : cases) Check(c, Options());
}

TEST_F(UKRTTest, FlagsRatingsAndTexts) {
    const ProgramCase cases[] = {
        {"all flags", Line({{7, "true"}, {8, "true"}, {9, "true"}, {10, "true"}, {11, "true"}, {12, "true"}, {14, "true"}}),
         {std::string("Title[T] Premiere[Premiere] Prev[/] Subs[1 English] Video[present bw 16:9] ") + kDefaultTimes}},
        {"wide screen only", Line({{11, "true"}}), {std::string("Title[T] Video[present colour 16:9] ") + kDefaultTimes}},
        {"black and white only", Line({{14, "true"}}), {std::string("Title[T] Video[present bw ] ") + kDefaultTimes}},
        {"True and 1 do not count",
         Line({{7, "True"}, {9, "1"}, {10, "TRUE"}, {11, "yes"}, {14, "true "}}), {std::string("Title[T] ") + kDefaultTimes}},
        {"four stars", Line({{15, "4"}}), {std::string("Title[T] Stars[4/5] ") + kDefaultTimes}},
        {"zero stars", Line({{15, "0"}}), {std::string("Title[T] ") + kDefaultTimes}},
        {"letter for stars", Line({{15, "x"}}), {std::string("Title[T] ") + kDefaultTimes}},
        {"negative stars", Line({{15, "-2"}}), {std::string("Title[T] ") + kDefaultTimes}},
        {"certificate, genre, description, date",
         Line({{4, "1999"}, {16, "15"}, {17, "Film"}, {18, "A long tale."}, {19, "ignored"}, {13, "ignored"}}),
         {std::string("Title[T] Date[1999] Rating[15 BBFC] Cat[Film] Desc[A long tale.] ") + kDefaultTimes}},
        {"duration with blanks", Line({{23, " 90 "}}),
         {"Title[T] Start[2006-01-15 10:00] Stop[2006-01-15 11:00] Len[90]"}},
        {"duration before a carriage return", Line({{23, "45\r"}}),
         {"Title[T] Start[2006-01-15 10:00] Stop[2006-01-15 11:00] Len[45]"}},
        {"duration not a number", Line({{23, "1h"}}), {"Title[T] Start[2006-01-15 10:00] Stop[2006-01-15 11:00]"}},
        {"negative duration", Line({{23, "-5"}}), {"Title[T] Start[2006-01-15 10:00] Stop[2006-01-15 11:00]"}},
    };
    for (const auto& c : cases) Check(c, Options());
}

TEST_F(UKRTTest, DatesAndTimeZone) {
    const ProgramCase cases[] = {
        {"stop past midnight at the year end", Line({{20, "31/12/2006"}, {21, "23:00"}, {22, "00:30"}}),
         {"Title[T] Start[2006-12-31 23:00] Stop[2007-01-01 00:30] Len[60]"}},
        {"only hours compared", Line({{21, "10:30"}, {22, "10:00"}}),
         {"Title[T] Start[2006-01-15 10:30] Stop[2006-01-15 10:00] Len[60]"}},
        {"leap day", Line({{20, "28/02/2008"}, {21, "23:00"}, {22, "01:00"}}),
         {"Title[T] Start[2008-02-28 23:00] Stop[2008-02-29 01:00] Len[60]"}},
        {"summer across midnight", Line({{20, "30/06/2006"}, {21, "23:30"}, {22, "00:30"}}),
         {"Title[T] Start[2006-06-30 22:30] Stop[2006-06-30 23:30] Len[60]"}},
        {"summer just after midnight", Line({{20, "01/07/2006"}, {21, "00:15"}, {22, "01:00"}}),
         {"Title[T] Start[2006-06-30 23:15] Stop[2006-07-01 00:00] Len[60]"}},
        {"March switch day 01:30 is winter", Line({{20, "26/03/2006"}, {21, "01:30"}, {22, "03:00"}}),
         {"Title[T] Start[2006-03-26 01:30] Stop[2006-03-26 02:00] Len[60]"}},
        {"day before the March switch", Line({{20, "25/03/2006"}, {21, "12:00"}, {22, "13:00"}}),
         {"Title[T] Start[2006-03-25 12:00] Stop[2006-03-25 13:00] Len[60]"}},
        {"October switch day 01:30 is summer", Line({{20, "29/10/2006"}, {21, "01:30"}, {22, "02:30"}}),
         {"Title[T] Start[2006-10-29 00:30] Stop[2006-10-29 02:30] Len[60]"}},
        {"day after the October switch", Line({{20, "30/10/2006"}, {21, "01:30"}, {22, "02:30"}}),
         {"Title[T] Start[2006-10-30 01:30] Stop[2006-10-30 02:30] Len[60]"}},
        {"BST marker on the October switch", Line({{1, "X (BST)"}, {20, "29/10/2006"}, {21, "01:30"}, {22, "02:30"}}),
         {"Title[X ] Start[2006-10-29 00:30] Stop[2006-10-29 01:30] Len[60]"}},
        {"no date: no times", Line({{20, ""}}), {"Title[T] Start[none] Stop[none] Len[60]"}},
        {"no stop time", Line({{20, "15/06/2006"}, {22, ""}}), {"Title[T] Start[2006-06-15 09:00] Stop[none] Len[60]"}},
        {"no start time", Line({{21, ""}, {22, "01:00"}}),
         {"Title[T] Start[2006-01-15 00:00] Stop[2006-01-15 01:00] Len[60]"}},
        {"longer date field", Line({{20, "15/01/2006 extra"}}), {std::string("Title[T] ") + kDefaultTimes}},
    };
    for (const auto& c : cases) Check(c, Options());
}

TEST_F(UKRTTest, TBAAndDayLimit) {
    const std::string tba = Line({{1, "To Be Announced"}});
    const std::string film = Line({{1, "Film To Be Announced"}});
    const std::string cat = Line({{17, "TBA"}});
    const std::string near = Line({{1, "Near TBA"}, {17, "tba"}});
    struct Case {
        const char* name;
        std::string page;
        bool ignoreTBA;
        std::optional<SYSTEMTIME> limit;
        std::vector<std::string> titles;
    } cases[] = {
        {"kept without IgnoreTBA", tba + film + cat, false, {}, {"To Be Announced", "Film To Be Announced", "T"}},
        {"dropped with IgnoreTBA", tba + film + cat + near, true, {}, {"Near TBA"}},
        {"marker keeps a trailing space", Line({{1, "To Be Announced (BST)"}}), true, {}, {"To Be Announced "}},
        {"start at the limit kept, later dropped",
         Line({{1, "a"}, {21, "10:00"}}) + Line({{1, "b"}, {21, "10:01"}}) + Line({{1, "c"}, {20, "14/01/2006"}}), false,
         At(2006, 1, 15, 10, 0), {"a", "c"}},
        {"limit compares in UTC", Line({{1, "a"}, {20, "15/06/2006"}, {21, "11:00"}}), false, At(2006, 6, 15, 10, 0),
         {"a"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TFeedProgramsOptions o = Options(c.ignoreTBA);
        o.LimitTime = c.limit;
        const Result r = Parse(c.page, o);
        EXPECT_EQ(r.Error, "");
        std::vector<std::string> titles;
        for (const auto& p : r.Programs) titles.push_back(FirstValue(p->Title));
        EXPECT_EQ(titles, c.titles);
    }
}

TEST_F(UKRTTest, RecordFieldsAndLanguages) {
    const Result r = Parse(Line({{1, "Film"}, {2, "S"}, {3, "1/2 - Rest"}, {7, "true"}, {10, "true"}, {17, "C"}, {18, "D"}}));
    ASSERT_EQ(r.Programs.size(), 1u);
    const TProgram& p = *r.Programs[0];
    EXPECT_EQ(p.Channel, "bbc1");
    EXPECT_EQ(p.ID, "");
    EXPECT_EQ(p.Encoding, 3);
    EXPECT_EQ(p.Units, 2);
    for (const auto* list : {p.Title.get(), p.Sub_Title.get(), p.Category.get(), p.Description.get()}) {
        ASSERT_NE(list, nullptr);
        for (const TXMLTVString& s : *list) EXPECT_EQ(s.Lang, "en") << s.Value;
    }
    EXPECT_EQ(p.Premiere->Lang, "en");
    EXPECT_EQ(p.Subtitles->FirstItem()->Lang->Lang, "en");
    EXPECT_FALSE(p.Rating);
    EXPECT_FALSE(p.StarRating);
}

// ---- what ends the call

TEST_F(UKRTTest, ErrorsEndTheCall) {
    const std::string good = Line({{1, "Before"}});
    std::string noFeed = Line({{1, "Last"}});
    noFeed.pop_back();
    struct Case {
        const char* name;
        std::string page;
        std::string error;
        size_t added;  // programmes handed on before the error
    } cases[] = {
        {"last line without line feed", good + noFeed, "Parse error in channel bbc1", 1},
        {"line cut short", good + "A~B~C", "Parse error in channel bbc1", 1},
        {"22 separators only", std::string(22, '~'), "Parse error in channel bbc1", 0},
        {"two bytes", "ab", "Parse error in channel bbc1", 0},
        {"date shorter than its pattern", good + Line({{20, "1/6/2006"}}),
         "Date \"1/6/2006\" is shorter than dd/mm/yyyy (channel bbc1)", 1},
        {"date part not a number", Line({{20, "aa/06/2006"}}), "\"aa\" is not a whole number (channel bbc1)", 0},
        {"date part with a blank", Line({{20, " 1/06/2006"}}), "\" 1\" is not a whole number (channel bbc1)", 0},
        {"date part with a sign", Line({{20, "01/+6/2006"}}), "\"+6\" is not a whole number (channel bbc1)", 0},
        {"year not a number", Line({{20, "01/06/20x6"}}), "\"20x6\" is not a whole number (channel bbc1)", 0},
        {"31 February", Line({{20, "31/02/2006"}}), "Date \"31/02/2006\" is not a valid date (channel bbc1)", 0},
        {"month 13", Line({{20, "01/13/2006"}}), "Date \"01/13/2006\" is not a valid date (channel bbc1)", 0},
        {"day 0", Line({{20, "00/01/2006"}}), "Date \"00/01/2006\" is not a valid date (channel bbc1)", 0},
        {"year 0", Line({{20, "01/01/0000"}}), "Date \"01/01/0000\" is not a valid date (channel bbc1)", 0},
        {"start shorter than its pattern", Line({{21, "9:00"}}), "Time \"9:00\" is shorter than hh:mm (channel bbc1)", 0},
        {"start not a number", Line({{21, "ab:00"}}), "\"ab\" is not a whole number (channel bbc1)", 0},
        {"stop minute not a number", Line({{22, "11:3x"}}), "\"3x\" is not a whole number (channel bbc1)", 0},
        {"hour 24", Line({{22, "24:00"}}), "Time \"24:00\" is not a valid time (channel bbc1)", 0},
        {"minute 60", Line({{21, "10:60"}}), "Time \"10:60\" is not a valid time (channel bbc1)", 0},
        {"time checked without a date", Line({{20, ""}, {21, "x"}}), "Time \"x\" is shorter than hh:mm (channel bbc1)", 0},
        // The message is a C string on its way to the log: no NUL may cut it, no line break split it.
        {"date with control bytes", Line({{20, std::string("1\0\r\n", 4)}}),
         "Date \"1???\" is shorter than dd/mm/yyyy (channel bbc1)", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Result r = Parse(c.page);
        EXPECT_EQ(r.Error, c.error);
        EXPECT_EQ(r.Programs.size(), c.added);
    }
}

TEST_F(UKRTTest, PagesWithoutProgrammes) {
    struct Case {
        const char* name;
        std::string page;
        std::vector<std::string> raw;
    } cases[] = {
        {"empty page", "", {}},
        {"leading line feed", "\n" + Line({}), {"Error in channel \"bbc1\""}},
        {"single byte", "x", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Result r = Parse(c.page);
        EXPECT_EQ(r.Error, "");
        EXPECT_TRUE(r.Programs.empty());
        EXPECT_EQ(r.Raw, c.raw);
        EXPECT_TRUE(r.Debug.empty());
    }
}

// The separators of a line are looked for in one pass: fields of every length around its 16-byte
// steps, a line short of separators that takes its last fields from the next line, and lines logged
// by the fields read before a missing separator, which come before the error.
TEST_F(UKRTTest, FieldBoundaries) {
    for (size_t title = 1; title <= 40; ++title) {
        for (size_t desc = 0; desc <= 40; ++desc) {
            const std::string t(title, 'a'), d(desc, 'd');
            const Result r = Parse(Line({{1, t}, {18, d}, {23, "7"}}) + Line({{1, "next"}}));
            ASSERT_EQ(r.Programs.size(), 2u) << title << " " << desc;
            EXPECT_EQ(Describe(*r.Programs[0]), "Title[" + t + "] " + (desc ? "Desc[" + d + "] " : "") +
                                                    "Start[2006-01-15 10:00] Stop[2006-01-15 11:00] Len[7]");
            EXPECT_EQ(FirstValue(r.Programs[1]->Title), "next");
        }
    }
    struct Case {
        const char* name;
        std::string page;
        std::vector<std::string> programs, debug;
        std::string error;
    } cases[] = {
        {"short line borrows from the next", "A~B\n" + Line({{1, "C"}}), {"Title[A] Sub[B\nC] Start[none] Stop[none]"}, {}, ""},
        {"blank title logged before the error", std::string(22, '~'), {}, {"Program with blank title in channel \"bbc1\""},
         "Parse error in channel bbc1"},
        {"bad cast logged before the error", "T~~~~~Hero*Ann|Bob~~", {},
         {"Bad cast list \"Hero*Ann|Bob\" for program \"T\""}, "Parse error in channel bbc1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Result r = Parse(c.page);
        std::vector<std::string> got;
        for (const auto& p : r.Programs) got.push_back(Describe(*p));
        EXPECT_EQ(got, c.programs);
        EXPECT_EQ(r.Debug, c.debug);
        EXPECT_EQ(r.Error, c.error);
    }
}

// Programmes handed to a grabber's list before a fault stay there; the list owns them.
TEST_F(UKRTTest, ProgrammesBeforeAFaultStayInTheList) {
    TProgList list;
    TFeedProgramsOutput out;
    out.AddProgram = [&](std::unique_ptr<TProgram> p) { list.AddProgram(std::move(p)); };
    const std::string page = Line({{1, "One"}}) + Line({{1, "Two"}}) + Line({{1, "Bad"}, {21, "1:00"}}) + Line({});
    EXPECT_THROW(ProcessPrograms(page, Options(), out), EFeedError);
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(FirstValue(list.FirstItem()->Title), "One");
    EXPECT_EQ(FirstValue(list.LastItem()->Title), "Two");
}

// ---- random and truncated input

bool SaneTime(const SYSTEMTIME& t) {
    if (t.wYear == 0) return t.wMonth == 0 && t.wDay == 0 && t.wHour == 0 && t.wMinute == 0;
    return t.wMonth >= 1 && t.wMonth <= 12 && t.wDay >= 1 && t.wDay <= DaysInMonth(t.wYear, t.wMonth) &&
           t.wHour < 24 && t.wMinute < 60;
}

bool KnownError(const std::string& e) {
    for (const char* s : {"Parse error in channel bbc1", "is not a whole number (channel bbc1)",
                          "is shorter than dd/mm/yyyy (channel bbc1)", "is shorter than hh:mm (channel bbc1)",
                          "is not a valid date (channel bbc1)", "is not a valid time (channel bbc1)"})
        if (e.find(s) != std::string::npos) return true;
    return false;
}

TEST_F(UKRTTest, RandomPagesNeverCrash) {
    std::mt19937 rng(20061029);
    const std::string alphabet = "~~~~\n\n|*,/ -:0123456789abcTtrue(BST)(GMT)\r";
    const std::string samples[] = {
        Line({{1, "Film (BST)"}, {3, "3/10 - Finale"}, {6, "A*B|C*D|E"}, {15, "4"}, {20, "29/10/2006"}, {21, "23:00"},
              {22, "01:00"}}),
        Line({{3, "1/6"}, {6, "Ann, Bob"}, {7, "true"}, {11, "true"}, {23, " 90 "}}),
        Line({{1, ""}, {20, "31/12/2006"}, {21, "23:00"}, {22, "00:30"}}),
    };
    auto pick = [&](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng); };
    int added = 0, failed = 0;
    for (int round = 0; round < 3000; ++round) {
        std::string page;
        const size_t lines = pick(6);
        for (size_t i = 0; i < lines; ++i) {
            std::string line = samples[pick(3)];
            switch (pick(4)) {
            case 0:  // truncated anywhere
                line.resize(pick(line.size() + 1));
                break;
            case 1:  // bytes replaced
                for (size_t k = pick(6); k > 0; --k) line[pick(line.size())] = alphabet[pick(alphabet.size())];
                break;
            case 2:  // random bytes
                line.clear();
                for (size_t k = pick(80); k > 0; --k) line += alphabet[pick(alphabet.size())];
                break;
            default:  // left whole
                break;
            }
            page += line;
        }
        const Result r = Parse(page);
        if (!r.Error.empty()) {
            ++failed;
            EXPECT_TRUE(KnownError(r.Error)) << r.Error;
        }
        for (const auto& p : r.Programs) {
            ++added;
            EXPECT_TRUE(SaneTime(p->Start) && SaneTime(p->Stop)) << Describe(*p);
            EXPECT_TRUE(p->Title && p->Title->Count() == 1);
        }
        TChanList channels(true);
        ProcessChannels(page, 1, channels, nullptr);
    }
    EXPECT_GT(added, 100);  // the mix reaches both outcomes
    EXPECT_GT(failed, 100);
}

}  // namespace
