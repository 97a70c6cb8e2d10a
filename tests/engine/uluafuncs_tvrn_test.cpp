#include "scriptapi/uluafuncs_tvrn.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/uluagrabbers.h"
#include "scriptapi/luahelpers.h"
#include "scriptapi/uluarecords.h"
#include "tests/engine/programfolder.h"

using namespace testing_support;

namespace {

SYSTEMTIME At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
    SYSTEMTIME t{};
    t.wYear = uint16_t(y);
    t.wMonth = uint16_t(mo);
    t.wDay = uint16_t(d);
    t.wHour = uint16_t(h);
    t.wMinute = uint16_t(mi);
    t.wSecond = uint16_t(s);
    t.wMilliseconds = uint16_t(ms);
    return t;
}

const std::string kLuaDir = std::string(TAVRIN_SOURCE_DIR) + "/tests/scriptapi/lua/";

// An engine with two grabbers and a post processor. The suites observe it through a few globals:
// TakeLog, TakeEvents (status, progress and the waits of Tvrn.Sleep), SettingsOf, ChannelsOf,
// ProgramsOf, ClearPrograms and SetDayLimit. The clocks of the time library are fixed.
class HostSuite {
public:
    HostSuite() {
        folder.Script("test.lua",
                      "Grabbers.test = { Encoding = 2, Init = function(h) InitHandle = h end }\n"
                      "Grabbers.other = { Encoding = 3 }\n"
                      "PostProcs.pp = { Init = function(h) PostProcHandle = h end }\n");
        folder.Ini("[Grab_test]\nKey=Stored\nEmpty=\n7=seven\n[Proc_pp]\nKey=FromProc\n");
        run = std::make_unique<EngineRun>(folder);
        TLuaGrabbers& engine = *run->Engine;
        engine.OnStatus = [this](int32_t line, const std::string& text) {
            events.push_back("status " + std::to_string(line) + " " + text);
        };
        engine.OnProgress = [this](int32_t bar, int32_t value, int32_t mode) {
            events.push_back("progress " + std::to_string(bar) + " " + std::to_string(value) + " " +
                             std::to_string(mode));
        };
        HostClock.SleepMs = [this](uint32_t ms) { events.push_back("sleep " + std::to_string(ms)); };
        HostClock.LocalTime = [] { return At(2024, 6, 1, 12, 34, 56, 789); };
        HostClock.SystemTime = [] { return At(2024, 6, 1, 11, 34, 56, 789); };

        lua_State* L = engine.LuaState();
        for (const auto& [name, function] : std::initializer_list<std::pair<const char*, lua_CFunction>>{
                 {"TakeLog", TakeLog},
                 {"TakeEvents", TakeEvents},
                 {"SettingsOf", SettingsOf},
                 {"ChannelsOf", ChannelsOf},
                 {"ProgramsOf", ProgramsOf},
                 {"ClearPrograms", ClearPrograms},
                 {"SetDayLimit", SetDayLimit}}) {
            lua_pushlightuserdata(L, this);
            lua_pushcclosure(L, function, 1);
            SetGlobal(L, name);
        }
    }
    ~HostSuite() { HostClock = THostClock(); }

    // Runs the suite file; the failures as "test name: message", plus the number of tests run.
    std::vector<std::string> Run(const std::string& file, int& count) {
        std::vector<std::string> failures;
        std::string error;
        const int status = ProtectedCall(
            run->Engine->LuaState(),
            [&](lua_State* L) {
                for (const std::string& name : {std::string("testlib.lua"), file}) {
                    if (luaL_loadfile(L, (kLuaDir + name).c_str()) != 0) lua_error(L);
                    lua_call(L, 0, name == file ? 1 : 0);
                }
                GetGlobal(L, "RunSuite");
                lua_insert(L, -2);
                lua_call(L, 1, 2);
                count = IntArg(L, -1);
                lua_pop(L, 1);
                for (int i = 1; GetElement(L, i); ++i) {
                    failures.push_back(ReadText(L, -1));
                    lua_pop(L, 1);
                }
            },
            &error);
        if (status != 0) failures.push_back("suite did not run: " + error);
        return failures;
    }

    ProgramFolder folder;
    std::unique_ptr<EngineRun> run;
    std::vector<std::string> events;
    size_t logTaken = 0;

private:
    static HostSuite& Self(lua_State* L) { return *static_cast<HostSuite*>(lua_touserdata(L, lua_upvalueindex(1))); }

    static void PushStrings(lua_State* L, const std::vector<std::string>& strings) {
        lua_createtable(L, int(strings.size()), 0);
        for (size_t i = 0; i < strings.size(); ++i) {
            PushText(L, strings[i]);
            lua_rawseti(L, -2, int(i + 1));
        }
    }

    static TLuaBase& ScriptOf(lua_State* L) {
        TLuaBase* script = LuaGrabbers->FindScript(lua_touserdata(L, 1));
        if (!script) luaL_error(L, "not a script handle");
        return *script;
    }

    static TLuaGrabber& GrabberOf(lua_State* L) {
        auto* grabber = dynamic_cast<TLuaGrabber*>(&ScriptOf(L));
        if (!grabber) luaL_error(L, "not a grabber handle");
        return *grabber;
    }

    static int TakeLog(lua_State* L) {
        HostSuite& self = Self(L);
        const std::vector<std::string>& lines = self.run->Lines;
        PushStrings(L, std::vector<std::string>(lines.begin() + long(self.logTaken), lines.end()));
        self.logTaken = lines.size();
        return 1;
    }

    static int TakeEvents(lua_State* L) {
        HostSuite& self = Self(L);
        PushStrings(L, self.events);
        self.events.clear();
        return 1;
    }

    static int SettingsOf(lua_State* L) {
        std::vector<std::string> settings;
        for (const TSetting& s : *ScriptOf(L).Settings)
            settings.push_back(s.Key + "|" + std::to_string(s.Type) + "|" + s.Default + "|" + s.Name + "|" +
                               s.ExtraData);
        PushStrings(L, settings);
        return 1;
    }

    static int ChannelsOf(lua_State* L) {
        TLuaGrabber& grabber = GrabberOf(L);
        const TChanList& list =
            ReadText(L, 2) == "selected" ? *grabber.SelectedChannels : *grabber.AvailableChannels;
        std::vector<std::string> ids;
        for (const TChannel& c : list) ids.push_back(c.ID + "/" + std::to_string(c.Encoding));
        PushStrings(L, ids);
        return 1;
    }

    static int ProgramsOf(lua_State* L) {
        std::vector<std::string> ids;
        for (const TProgram& p : *GrabberOf(L).Programs) ids.push_back(p.ID + "/" + std::to_string(p.Encoding));
        PushStrings(L, ids);
        return 1;
    }

    static int ClearPrograms(lua_State* L) {
        GrabberOf(L).Programs = std::make_unique<TProgList>();
        return 0;
    }

    static int SetDayLimit(lua_State* L) {
        LuaGrabbers->DayLimit = IntArg(L, 1);
        lua_pushvalue(L, 2);
        LuaGrabbers->LimitTime = ReadTimeTable(L);
        return 0;
    }
};

TEST(HostLuaSuiteTest, Records) {
    HostSuite suite;
    int count = 0;
    for (const std::string& failure : suite.Run("records.lua", count)) ADD_FAILURE() << failure;
    EXPECT_GE(count, 15);
}

TEST(HostLuaSuiteTest, HostFunctions) {
    HostSuite suite;
    int count = 0;
    for (const std::string& failure : suite.Run("hostfuncs.lua", count)) ADD_FAILURE() << failure;
    EXPECT_GE(count, 16);
}

}  // namespace
