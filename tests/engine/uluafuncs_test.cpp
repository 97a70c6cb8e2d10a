#include "scriptapi/uluafuncs.h"

#include <gtest/gtest.h>

#include <string>

#include "engine/uluagrabbers.h"
#include "tests/engine/programfolder.h"

using namespace testing_support;

namespace {

const Usage kProbeUsage{"Probe", "Probe([Grabber])", 1};

int ProbeGrabber(lua_State* L) {
    CheckArgs(L, kProbeUsage, {Arg::Handle});
    PushText(L, GrabberArg(L, 1, kProbeUsage).ID);
    return 1;
}

int ProbeScript(lua_State* L) {
    CheckArgs(L, kProbeUsage, {Arg::Handle});
    PushText(L, ScriptArg(L, 1, kProbeUsage).ID);
    return 1;
}

std::string RunChunk(lua_State* L, const std::string& chunk) {
    if (luaL_loadstring(L, chunk.c_str()) != 0 || lua_pcall(L, 0, 1, 0) != 0) {
        std::string error = ReadText(L, -1);
        lua_pop(L, 1);
        return "error: " + error;
    }
    std::string result = ReadText(L, -1);
    lua_pop(L, 1);
    return result;
}

TEST(ScriptHandleTest, OnlyTheEnginesRecordsPass) {
    ProgramFolder folder;
    folder.Script("a.lua",
                  "H = {}\n"
                  "Grabbers.g = { Init = function(h) H.g = h end }\n"
                  "PostProcs.p = { Init = function(h) H.p = h end }\n");
    EngineRun run(folder);
    lua_State* L = run.Engine->LuaState();
    lua_register(L, "grabber", Guarded<ProbeGrabber>);
    lua_register(L, "script", Guarded<ProbeScript>);
    PushHandle(L, nullptr);
    SetGlobal(L, "null");
    const std::string typeError = "error: Probe, incorrect parameter type(s). Usage: \"Probe([Grabber])\"";
    struct Case {
        const char* chunk;
        std::string result;
    } cases[] = {
        {"return grabber(H.g)", "g"},
        {"return script(H.g)", "g"},
        {"return script(H.p)", "p"},
        {"return grabber(H.p)", typeError},       // a post processor is no grabber
        {"return grabber(null)", typeError},      // the handle of an unknown grabber
        {"return script(null)", typeError},
        {"return grabber(io.stdout)", typeError}, // a userdata that is not ours
        {"return grabber('g')", typeError},
        {"return grabber()", "error: Probe, 0 parameters found, 1 parameters expected. Usage: \"Probe([Grabber])\""},
    };
    for (const Case& c : cases) EXPECT_EQ(RunChunk(L, c.chunk), c.result) << c.chunk;
}

TEST(ScriptHandleTest, UsableWhileInitRuns) {
    ProgramFolder folder;
    folder.Script("a.lua",
                  "Grabbers.g = { Init = function(h) Tvrn.AddSetting(h, 'k', 2, 'd', 'Name') end }\n"
                  "PostProcs.p = { Init = function(h) Tvrn.AddSetting(h, 'k', 2, 'd', 'Name') end }\n");
    EngineRun run(folder);
    EXPECT_EQ(run.Lines, std::vector<std::string>{});
    EXPECT_EQ(run.Grabber("g")->Settings->Count(), 1);
    EXPECT_EQ(run.Engine->PostProcessors.FirstItem()->Settings->Count(), 1);
}

TEST(RegistrationTest, GlobalsAndLibraries) {
    ProgramFolder folder;
    EngineRun run(folder);
    lua_State* L = run.Engine->LuaState();
    struct Case {
        const char* chunk;
        const char* result;
    } cases[] = {
        {"return type(Grabbers) .. type(PostProcs)", "tabletable"},
        {"return type(math.floor)", "function"},   // the standard math table is extended, not replaced
        {"return type(Tvrn) .. type(UK_RT) .. type(HTTP) .. type(time)", "tabletabletabletable"},
        {"print('from a script'); return 'ok'", "ok"},
        {"print(nil)", "error: Print, incorrect parameter type(s). Usage: \"Print([Message])\""},
        {"print()", "error: Print, 0 parameters found, 1 parameters expected. Usage: \"Print([Message])\""},
        {"_ALERT('alert')", ""},
        {"return math.band(12, 10)", "8"},
        {"return math.band(1)",
         "error: band, 1 parameters found, 2 parameters expected. Usage: \"[res]=math.band([num1],[num2])\""},
        {"return math.band('x', 1)",
         "error: band, incorrect parameter type(s). Usage: \"[res]=math.band([num1],[num2])\""},
    };
    for (const Case& c : cases) EXPECT_EQ(RunChunk(L, c.chunk), c.result) << c.chunk;
    EXPECT_EQ(run.Lines, (std::vector<std::string>{"from a script", "alert"}));
}

}  // namespace
