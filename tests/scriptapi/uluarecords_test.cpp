#include "scriptapi/uluarecords.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "scriptapi/luahelpers.h"

namespace {

// ---- a complete text of a record, so that two records compare by their texts --------------------

std::string Esc(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c < 0x20 || c >= 0x7F || c == '"' || c == '\\') {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out += char(c);
        }
    }
    return out + "\"";
}

std::string Time(const SYSTEMTIME& t) {
    char text[64];
    std::snprintf(text, sizeof text, "%u-%u-%u %u:%u:%u/%u.%u", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
                  t.wSecond, t.wDayOfWeek, t.wMilliseconds);
    return text;
}

template <class List, class F>
std::string Items(const std::unique_ptr<List>& list, F item) {
    if (!list) return "-";
    std::string out = "[";
    for (const auto& i : *list) out += item(i) + ",";
    return out + "]";
}

std::string Entry(const TXMLTVString& s) { return Esc(s.Value) + "/" + Esc(s.Lang); }
std::string Entry(const std::unique_ptr<TXMLTVString>& s) { return s ? Entry(*s) : "-"; }
std::string Texts(const std::unique_ptr<TXMLTVStringList>& l) {
    return Items(l, [](const TXMLTVString& s) { return Entry(s); });
}
std::string Plain(const std::unique_ptr<TStringList>& l) { return Items(l, Esc); }
std::string Icons(const std::unique_ptr<TXMLTVIconList>& l) {
    return Items(l, [](const TXMLTVIcon& i) {
        return Esc(i.Source) + " " + std::to_string(i.Width) + "x" + std::to_string(i.Height);
    });
}

std::string Describe(const TChannel& c) {
    return "ID=" + Esc(c.ID) + " Name=" + Texts(c.Name) + " XML_ID=" + Esc(c.XML_ID) + " Icon=" + Icons(c.Icon) +
           " URL=" + Plain(c.URL) + " Encoding=" + std::to_string(c.Encoding);
}

using TFields = std::vector<std::pair<std::string, std::string>>;

TFields Fields(const TProgram& p) {
    TFields f = {{"ID", Esc(p.ID)},
                 {"Channel", Esc(p.Channel)},
                 {"XMLChannel", Esc(p.XMLChannel)},
                 {"Start", Time(p.Start)},
                 {"Stop", Time(p.Stop)},
                 {"PDCStart", Time(p.PDCStart)},
                 {"VPSStart", Time(p.VPSStart)},
                 {"ShowView", Esc(p.ShowView)},
                 {"VideoPlus", Esc(p.VideoPlus)},
                 {"Clump", Esc(p.Clump)},
                 {"Title", Texts(p.Title)},
                 {"Sub_Title", Texts(p.Sub_Title)},
                 {"Description", Texts(p.Description)}};
    std::string credits = "-";
    if (p.Credits) {
        const TXMLTVCredits& c = *p.Credits;
        credits = "{D" + Plain(c.Director) + " A" +
                  Items(c.Actor, [](const TCastMember& m) { return Esc(m.Actor) + "/" + Esc(m.Character); }) +
                  " W" + Plain(c.Writer) + " Ad" + Plain(c.Adapter) + " P" + Plain(c.Producer) + " Pr" +
                  Plain(c.Presenter) + " C" + Plain(c.Commentator) + " G" + Plain(c.Guest) + "}";
    }
    f.insert(f.end(),
             {{"Credits", credits},
              {"Date", Esc(p.Date)},
              {"Category", Texts(p.Category)},
              {"Lang", Entry(p.Lang)},
              {"OriginalLang", Entry(p.OriginalLang)},
              {"Length", std::to_string(p.Length) + "/" + std::to_string(p.Units)},
              {"Icon", Icons(p.Icon)},
              {"URL", Plain(p.URL)},
              {"Country", Texts(p.Country)},
              {"Episode", Items(p.Episode, [](const TEpisode& e) { return Esc(e.Number) + "/" + Esc(e.System); })},
              {"Video", p.Video ? std::to_string(p.Video->Present) + std::to_string(p.Video->Colour) +
                                      Esc(p.Video->Aspect) + Esc(p.Video->Quality)
                                : "-"},
              {"Audio", p.Audio ? std::to_string(p.Audio->Present) + Esc(p.Audio->Stereo) : "-"},
              {"PreviouslyShown",
               p.PreviouslyShown ? Esc(p.PreviouslyShown->Start) + "/" + Esc(p.PreviouslyShown->Channel) : "-"},
              {"Premiere", Entry(p.Premiere)},
              {"LastChance", Entry(p.LastChance)},
              {"New", std::to_string(p.New)},
              {"Subtitles", Items(p.Subtitles,
                                  [](const TXMLTVSubtitles& s) { return std::to_string(s.Type) + ":" + Entry(s.Lang); })},
              {"Rating", Items(p.Rating,
                               [](const TXMLTVRating& r) {
                                   return Esc(r.Value) + "/" + Esc(r.System) + "/" + Icons(r.Icon);
                               })},
              {"StarRating", p.StarRating ? std::to_string(p.StarRating->Number) + "/" +
                                                std::to_string(p.StarRating->OutOf) + Icons(p.StarRating->Icon)
                                          : "-"},
              {"Encoding", std::to_string(p.Encoding)}});
    return f;
}

std::string Join(const TFields& fields) {
    std::string out;
    for (const auto& [key, value] : fields) out += (out.empty() ? "" : " ") + key + "=" + value;
    return out;
}

std::string Describe(const TProgram& p) { return Join(Fields(p)); }

// The description of a new programme with the given fields replaced.
std::string EmptyWith(std::initializer_list<std::pair<std::string, std::string>> changes) {
    TFields fields = Fields(TProgram());
    for (const auto& [key, value] : changes) {
        auto at = std::find_if(fields.begin(), fields.end(), [&](const auto& f) { return f.first == key; });
        EXPECT_NE(at, fields.end()) << key;
        if (at != fields.end()) at->second = value;
    }
    return Join(fields);
}

// ---- a Lua state whose chunks build the tables to read ------------------------------------------

struct LuaState {
    LuaState() : L(luaL_newstate()) { luaL_openlibs(L); }
    ~LuaState() { lua_close(L); }
    LuaState(const LuaState&) = delete;
    LuaState& operator=(const LuaState&) = delete;

    // Runs `body` in protected mode with the value of the Lua expression on top; "" or the error.
    std::string WithValue(const std::string& expression, const std::function<void(lua_State*)>& body) {
        std::string error;
        ProtectedCall(
            L,
            [&](lua_State* L) {
                if (luaL_loadstring(L, ("return " + expression).c_str()) != 0) lua_error(L);
                lua_call(L, 0, 1);
                body(L);
            },
            &error);
        return error;
    }

    lua_State* L;
};

// What the readers keep where pushing back hides it: empty lists, units of an absent length, the
// wrong-kind values that fall back to defaults, and the log lines.
TEST(ReadProgramTest, RecordsKeptFromTables) {
    struct Case {
        const char* table;
        std::string record;
        std::vector<std::string> log;
    } cases[] = {
        {"{}", EmptyWith({}), {}},
        {"{Title = {}}", EmptyWith({{"Title", "[]"}}), {}},
        {"{Title = ''}", EmptyWith({}), {}},
        {"{Title = {Value = 'T', Lang = 'en', [1] = 'ignored'}}", EmptyWith({{"Title", "[\"T\"/\"en\",]"}}), {}},
        {"{Title = {'a', {Lang = 'x'}, true}}", EmptyWith({{"Title", "[\"a\"/\"\",\"\"/\"x\",\"\"/\"\",]"}}), {}},
        {"{URL = {'a', {}, 3}}", EmptyWith({{"URL", "[\"a\",\"\",\"3\",]"}}), {}},
        {"{Icon = {1, {Source = 's'}, 'x'}}", EmptyWith({{"Icon", "[\"s\" 0x0,]"}}), {}},
        {"{Icon = {Source = false, Width = '12', Height = 1e10}}",
         EmptyWith({{"Icon", "[\"\" 12x2147483647,]"}}), {}},
        {"{Length = {}}", EmptyWith({{"Length", "0/2"}}), {}},
        {"{Length = {Length = -3, Units = 1}}", EmptyWith({{"Length", "-3/1"}}), {}},
        {"{Length = {Length = 5, Units = 4}}", EmptyWith({{"Length", "5/2"}}), {"Invalid program length units \"4\""}},
        {"{Start = {Year = 2007, Month = 3, Day = 1, Hour = 20.75, Minute = -0.5}}",
         EmptyWith({{"Start", "2007-3-1 20:0:0/0.0"}}), {}},
        {"{Stop = {Year = 65536 + 7, Second = 'x'}}", EmptyWith({{"Stop", "7-0-0 0:0:0/0.0"}}), {}},
        {"{Subtitles = {Type = 9}}", EmptyWith({{"Subtitles", "[9:-,]"}}), {"Invalid subtitle type \"9\""}},
        {"{Subtitles = {{Type = 1}, 7, {Lang = {}}}}", EmptyWith({{"Subtitles", "[1:-,7:-,0:\"\"/\"\",]"}}), {}},
        {"{Subtitles = {}}", EmptyWith({{"Subtitles", "[]"}}), {}},
        {"{Credits = {Actor = {}, Guest = ''}}", EmptyWith({{"Credits", "{D- A[] W- Ad- P- Pr- C- G-}"}}), {}},
        {"{Rating = {Value = 'R', Icon = 'i.png'}}", EmptyWith({{"Rating", "[\"R\"/\"\"/-,]"}}), {}},
        {"{Rating = {{System = 'S'}}}", EmptyWith({{"Rating", "[\"\"/\"S\"/-,]"}}), {}},
        {"{StarRating = {}}", EmptyWith({{"StarRating", "0/0-"}}), {}},
        {"{Video = {Present = nil, Colour = false}, Audio = {Present = 0}}",
         EmptyWith({{"Video", "10\"\"\"\""}, {"Audio", "1\"\""}}), {}},
        {"{PreviouslyShown = 'x', New = 'no'}", EmptyWith({{"PreviouslyShown", "\"\"/\"\""}, {"New", "1"}}), {}},
        {"{ID = 12.5, Channel = {}, XMLChannel = 'not a key', Encoding = 3}",
         EmptyWith({{"ID", "\"12.5\""}}), {}},
        // Keys that are no record keys are passed over; a metatable's __index answers for the table.
        {"{[1] = 'x', [true] = 1, Id = 'i', ['ID '] = 'j', Title = 'T'}", EmptyWith({{"Title", "[\"T\"/\"\",]"}}), {}},
        {"setmetatable({Title = 'T'}, {__index = {ID = 'm', New = true}})",
         EmptyWith({{"ID", "\"m\""}, {"Title", "[\"T\"/\"\",]"}, {"New", "1"}}), {}},
        // Keys of other tables, near misses and many more keys than a programme has: only the
        // programme's own are read.
        {"(function() local t = {Title = 'T', title = 'x', Titles = 'y', Year = 1, Value = 'v', Source = 's'} "
         "for i = 1, 300 do t['k' .. i] = i end return t end)()",
         EmptyWith({{"Title", "[\"T\"/\"\",]"}}), {}},
        {"{Start = setmetatable({Year = 2007}, {__index = {Month = 4}})}",
         EmptyWith({{"Start", "2007-4-0 0:0:0/0.0"}}), {}},
        // Both lines, in the order the keys are read.
        {"{Subtitles = {Type = 3}, Length = {Length = 1, Units = 5}}",
         EmptyWith({{"Length", "1/2"}, {"Subtitles", "[3:-,]"}}),
         {"Invalid program length units \"5\"", "Invalid subtitle type \"3\""}},
    };
    for (const Case& c : cases) {
        LuaState lua;
        std::vector<std::string> log;
        std::string record;
        const std::string error = lua.WithValue(c.table, [&](lua_State* L) {
            auto p = ReadProgram(L, [&](const std::string& line) { log.push_back(line); });
            ASSERT_NE(p, nullptr);
            record = Describe(*p);
        });
        EXPECT_EQ(error, "") << c.table;
        EXPECT_EQ(record, c.record) << c.table;
        EXPECT_EQ(log, c.log) << c.table;
    }
}

// Every reader pops the value it was given and nothing else, whatever the value is.
TEST(ReadProgramTest, ReadersPopTheirValue) {
    const char* values[] = {"nil", "12", "'text'", "{}", "{ID = 'x', Title = {'a', 'b'}, Length = {Length = 1}}",
                            "{Year = 2007}", "print", "true"};
    using Reader = std::function<bool(lua_State*)>;  // whether a record came back
    const std::pair<const char*, Reader> readers[] = {
        {"program", [](lua_State* L) { return ReadProgram(L) != nullptr; }},
        {"channel", [](lua_State* L) { return ReadChannel(L) != nullptr; }},
        {"time", [](lua_State* L) { return ReadTimeTable(L).wYear != 0; }},
    };
    for (const auto& [name, read] : readers) {
        for (const char* value : values) {
            LuaState lua;
            const std::string error = lua.WithValue(value, [&](lua_State* L) {
                lua_pushstring(L, "below");
                lua_insert(L, -2);
                const int top = lua_gettop(L);
                const bool isTable = lua_istable(L, -1);
                const bool got = read(L);
                EXPECT_EQ(lua_gettop(L), top - 1) << name << " " << value;
                EXPECT_EQ(ReadText(L, -1), "below") << name << " " << value;
                if (std::string(name) != "time") {
                    EXPECT_EQ(got, isTable) << name << " " << value;
                }
            });
            EXPECT_EQ(error, "") << name << " " << value;
        }
    }
}

// ---- random tables of every shape, right and wrong --------------------------------------------------

class RandomTables {
public:
    RandomTables(lua_State* L, uint32_t seed) : L(L), FRandom(seed) {}

    void PushProgramme() {
        lua_newtable(L);
        Maybe("ID", [&] { PushText(); });
        Maybe("Channel", [&] { PushText(); });
        for (const char* key : {"Start", "Stop", "PDCStart", "VPSStart"}) Maybe(key, [&] { PushTime(); });
        for (const char* key : {"ShowView", "VideoPlus", "Clump", "Date"}) Maybe(key, [&] { PushText(); });
        for (const char* key : {"Title", "Sub_Title", "Description", "Category", "Country"})
            Maybe(key, [&] { PushTextList(); });
        Maybe("Credits", [&] { PushCredits(); });
        for (const char* key : {"Lang", "OriginalLang", "Premiere", "LastChance"}) Maybe(key, [&] { PushTextEntry(); });
        if (Chance(30)) {  // a wrong shape here fails the read, so only rarely
            if (Chance(5)) PushAnything(1);
            else PushTable({{"Length", [&] { PushNumber(); }}, {"Units", [&] { PushNumber(); }}});
            lua_setfield(L, -2, "Length");
        }
        Maybe("Icon", [&] { PushIconList(); });
        Maybe("URL", [&] { PushPlainList(); });
        if (Chance(30)) {
            if (Chance(3)) PushArray(1, 3, [&] { Chance(50) ? PushEpisode() : PushAnything(1); });
            else if (Chance(50)) PushEpisode();
            else if (Chance(80)) PushArray(0, 3, [&] { PushEpisode(); });
            else PushScalar();
            lua_setfield(L, -2, "Episode");
        }
        Maybe("Video", [&] {
            PushTable({{"Present", [&] { PushScalar(); }}, {"Colour", [&] { PushScalar(); }},
                       {"Aspect", [&] { PushText(); }}, {"Quality", [&] { PushText(); }}});
        });
        Maybe("Audio", [&] { PushTable({{"Present", [&] { PushScalar(); }}, {"Stereo", [&] { PushText(); }}}); });
        Maybe("PreviouslyShown", [&] {
            if (Chance(50)) PushScalar();
            else PushTable({{"Start", [&] { PushText(); }}, {"Channel", [&] { PushText(); }}});
        });
        Maybe("New", [&] { PushScalar(); });
        Maybe("Subtitles", [&] {
            auto entry = [&] {
                if (Chance(40)) PushNumber();
                else PushTable({{"Type", [&] { PushNumber(); }}, {"Lang", [&] { PushTextEntry(); }}});
            };
            if (Chance(50)) entry();
            else PushArray(0, 3, entry);
        });
        Maybe("Rating", [&] {
            auto rating = [&] {
                if (Chance(40)) PushText();
                else
                    PushTable({{"Value", [&] { PushText(); }}, {"System", [&] { PushText(); }},
                               {"Icon", [&] { PushIconList(); }}});
            };
            if (Chance(50)) rating();
            else PushArray(0, 3, rating);
        });
        Maybe("StarRating", [&] {
            PushTable({{"Number", [&] { PushNumber(); }}, {"OutOf", [&] { PushNumber(); }},
                       {"Icon", [&] { PushIconList(); }}});
        });
    }

    void PushChannel() {
        lua_newtable(L);
        Maybe("ID", [&] { PushText(); });
        Maybe("Name", [&] { PushTextList(); });
        Maybe("XML_ID", [&] { PushText(); });
        Maybe("Icon", [&] { PushIconList(); });
        Maybe("URL", [&] { PushPlainList(); });
    }

    bool Chance(int percent) { return Pick(100) < percent; }

private:
    using Filler = std::function<void()>;

    int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(FRandom); }

    // Sets key on the table on top, with a right shape mostly and anything at all sometimes.
    void Maybe(const char* key, const Filler& fill) {
        if (Chance(55)) return;
        if (Chance(15)) PushAnything(2);
        else fill();
        lua_setfield(L, -2, key);
    }

    // A table with some of the keys.
    void PushTable(std::initializer_list<std::pair<const char*, Filler>> keys) {
        lua_newtable(L);
        for (const auto& [key, fill] : keys) Maybe(key, fill);
    }

    void PushArray(int least, int most, const Filler& element) {
        lua_newtable(L);
        const int n = least + Pick(most - least + 1);
        for (int i = 1; i <= n; ++i) {
            element();
            lua_rawseti(L, -2, i);
        }
    }

    void PushText() {
        static const char* const texts[] = {"", "a", "News", "BBC One", "en", "16:9", "12", "-3.5", " ", "\xC3\xA9t\xC3\xA9"};
        switch (Pick(4)) {
            case 0: lua_pushlstring(L, "x\0y", 3); break;  // texts end at the NUL once pushed back
            case 1: lua_pushnumber(L, Pick(2000) - 1000); break;
            default: lua_pushstring(L, texts[Pick(int(std::size(texts)))]);
        }
    }

    void PushNumber() {
        switch (Pick(8)) {
            case 0: lua_pushnumber(L, (Pick(20000) - 10000) / 7.0); break;
            case 1: lua_pushnumber(L, std::ldexp(1.0, Pick(70)) * (Chance(50) ? 1 : -1)); break;
            case 2: lua_pushnumber(L, NAN); break;
            case 3: lua_pushnumber(L, INFINITY); break;
            case 4: lua_pushstring(L, Chance(50) ? "2" : "x"); break;
            default: lua_pushnumber(L, Pick(5)); break;
        }
    }

    void PushScalar() {
        switch (Pick(6)) {
            case 0: lua_pushboolean(L, 0); break;
            case 1: lua_pushboolean(L, 1); break;
            case 2: PushNumber(); break;
            case 3: lua_pushcfunction(L, [](lua_State*) { return 0; }); break;
            case 4: lua_pushlightuserdata(L, this); break;
            default: PushText(); break;
        }
    }

    // Any value, tables with keys of every shape included.
    void PushAnything(int depth) {
        if (depth <= 0 || Chance(50)) {
            PushScalar();
            return;
        }
        static const char* const keys[] = {"Value", "Lang", "Source", "Width", "Actor", "Character", "Number",
                                           "System", "Type", "Year", "Length", "Units", "Icon"};
        lua_newtable(L);
        for (int i = Pick(4); i > 0; --i) {
            PushAnything(depth - 1);
            if (Chance(50)) lua_rawseti(L, -2, 1 + Pick(3));
            else lua_setfield(L, -2, keys[Pick(int(std::size(keys)))]);
        }
    }

    void PushTextEntry() {
        if (Chance(50)) PushText();
        else PushTable({{"Value", [&] { PushText(); }}, {"Lang", [&] { PushText(); }}});
    }

    void PushTextList() {
        if (Chance(40)) PushTextEntry();
        else PushArray(0, 4, [&] { PushTextEntry(); });
    }

    void PushPlainList() {
        if (Chance(40)) PushText();
        else PushArray(0, 4, [&] { PushText(); });
    }

    void PushIcon() {
        PushTable({{"Source", [&] { PushText(); }}, {"Width", [&] { PushNumber(); }},
                   {"Height", [&] { PushNumber(); }}});
    }

    void PushIconList() {
        if (Chance(40)) PushIcon();
        else PushArray(0, 3, [&] { Chance(80) ? PushIcon() : PushText(); });
    }

    void PushTime() {
        PushTable({{"Year", [&] { PushNumber(); }}, {"Month", [&] { PushNumber(); }}, {"Day", [&] { PushNumber(); }},
                   {"Hour", [&] { PushNumber(); }}, {"Minute", [&] { PushNumber(); }},
                   {"Second", [&] { PushNumber(); }}});
    }

    void PushEpisode() { PushTable({{"Number", [&] { PushText(); }}, {"System", [&] { PushText(); }}}); }

    void PushCredits() {
        lua_newtable(L);
        Maybe("Actor", [&] {
            auto member = [&] {
                if (Chance(50)) PushText();
                else PushTable({{"Actor", [&] { PushText(); }}, {"Character", [&] { PushText(); }}});
            };
            if (Chance(40)) member();
            else PushArray(0, 4, member);
        });
        for (const char* role : {"Director", "Writer", "Adapter", "Producer", "Presenter", "Commentator", "Guest"})
            Maybe(role, [&] { PushPlainList(); });
    }

    lua_State* L;
    std::mt19937 FRandom;
};

// Read, push and read again, twice: the records of the second and third reads are equal, so one
// round trip reaches a fixed point; nothing crashes or leaks on the way, failed reads included.
TEST(RoundTripTest, RandomTablesReachAFixedPointAfterOneRoundTrip) {
    LuaState lua;
    RandomTables random(lua.L, 20240601);
    int programmes = 0, failed = 0, channels = 0;
    for (int i = 0; i < 4000; ++i) {
        const bool channel = i % 4 == 3;
        std::string first, second, third;
        const std::string error = ProtectedCall(lua.L, [&](lua_State* L) {
            const TRecordLog quiet = [](const std::string&) {};
            if (channel) {
                random.PushChannel();
                auto r1 = ReadChannel(L, quiet);
                PushChannel(L, *r1);
                auto r2 = ReadChannel(L, quiet);
                PushChannel(L, *r2);
                auto r3 = ReadChannel(L, quiet);
                first = Describe(*r1), second = Describe(*r2), third = Describe(*r3);
                EXPECT_EQ(lua_gettop(L), 0);
            } else {
                random.PushProgramme();
                auto r1 = ReadProgram(L, quiet);
                PushProgram(L, *r1);
                auto r2 = ReadProgram(L, quiet);
                PushProgram(L, *r2);
                auto r3 = ReadProgram(L, quiet);
                first = Describe(*r1), second = Describe(*r2), third = Describe(*r3);
                EXPECT_EQ(lua_gettop(L), 0);
            }
        }) == 0 ? "" : "failed";
        if (!error.empty()) {
            ++failed;  // a Length or an episode element that is not a table
            continue;
        }
        ++(channel ? channels : programmes);
        ASSERT_EQ(second, third) << "case " << i << "\nfirst:  " << first;
    }
    EXPECT_EQ(programmes + channels + failed, 4000);
    EXPECT_GT(failed, 10);  // the failing shapes were exercised too
    EXPECT_GT(programmes, 2500);
    EXPECT_EQ(channels, 1000);
}

// A programme table without metatable is read in one pass over its keys; the same table behind an
// __index metatable is read key by key. For tables of every shape both give the same record, the same
// log lines in the same order, and the same error when the table cannot be read.
TEST(ReadProgramTest, OnePassAndKeyByKeyReadTheSame) {
    LuaState lua;
    RandomTables random(lua.L, 20261210);
    int failed = 0;
    for (int i = 0; i < 3000; ++i) {
        ASSERT_EQ(ProtectedCall(lua.L, [&](lua_State* L) {
                      random.PushProgramme();
                      lua_setglobal(L, "t");
                  }),
                  0);
        auto read = [&](const char* expression, std::string& record, std::vector<std::string>& log) {
            return lua.WithValue(expression, [&](lua_State* L) {
                record = Describe(*ReadProgram(L, [&](const std::string& line) { log.push_back(line); }));
                EXPECT_EQ(lua_gettop(L), 0);
            });
        };
        std::string onePass, keyByKey;
        std::vector<std::string> onePassLog, keyByKeyLog;
        const std::string error = read("t", onePass, onePassLog);
        EXPECT_EQ(read("setmetatable({}, {__index = t})", keyByKey, keyByKeyLog), error) << "case " << i;
        ASSERT_EQ(onePass, keyByKey) << "case " << i;
        ASSERT_EQ(onePassLog, keyByKeyLog) << "case " << i;
        if (!error.empty()) ++failed;
    }
    EXPECT_GT(failed, 10);  // the failing shapes were exercised too
}

}  // namespace
