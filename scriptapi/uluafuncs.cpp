#include "scriptapi/uluafuncs.h"

#include "engine/uluagrabbers.h"
#include "scriptapi/uluafuncs_httpbind.h"
#include "scriptapi/uluafuncs_tvrn.h"
#include "scriptapi/uluafuncs_ukrt.h"

// ---- handles ----------------------------------------------------------------------------------

TLuaBase& ScriptArg(lua_State* L, int index, const Usage& usage) {
    TLuaBase* record = LuaGrabbers ? LuaGrabbers->FindScript(ReadHandle(L, index)) : nullptr;
    if (!record) UsageError(L, usage);
    return *record;
}

TLuaGrabber& GrabberArg(lua_State* L, int index, const Usage& usage) {
    TLuaGrabber* grabber = dynamic_cast<TLuaGrabber*>(&ScriptArg(L, index, usage));
    if (!grabber) UsageError(L, usage);
    return *grabber;
}

// ---- globals ----------------------------------------------------------------------------------

static int Print(lua_State* L) {
    static const Usage usage{"Print", "Print([Message])", 1};
    CheckArgs(L, usage, {Arg::Any});
    if (lua_isnil(L, 1)) UsageError(L, usage);
    if (LuaGrabbers) LuaGrabbers->Log(ReadText(L, 1), false);
    return 0;
}

int LuaPrint(lua_State* L) { return Guarded<Print>(L); }

// ---- library tables ---------------------------------------------------------------------------

static const luaL_Reg kMathFunctions[] = {
    {"band", LuaBand},
    {nullptr, nullptr},
};

static const luaL_Reg kTvrnFunctions[] = {
    {"Get", LuaHTTPGet},
    {"Post", LuaHTTPPost},
    {"GetSetting", LuaGetSetting},
    {"AddSetting", LuaAddSetting},
    {"AddChannel", LuaAddChannel},
    {"AddUserChannel", LuaAddUserChannel},
    {"GetChannel", LuaGetChannel},
    {"ClearChannels", LuaClearChannels},
    {"AddProgram", LuaAddProgram},
    {"Sleep", LuaSleep},
    {"SetStatus", LuaSetStatus},
    {"CleanCache", LuaCleanCache},
    {"GetProgram", LuaGetProgram},
    {"GetGrabber", LuaGetGrabber},
    {"SetProgress", LuaSetProgress},
    {nullptr, nullptr},
};

static const luaL_Reg kUKRTFunctions[] = {
    {"ProcessChannels", LuaProcessChannels},
    {"ProcessPrograms", LuaProcessPrograms},
    {nullptr, nullptr},
};

static const luaL_Reg kHTTPFunctions[] = {
    {"Get", LuaHTTPGet},
    {"Post", LuaHTTPPost},
    {"SetAcptEnc", LuaSetAcptEnc},
    {nullptr, nullptr},
};

static const luaL_Reg kTimeFunctions[] = {
    {"GetLocalTime", LuaGetLocalTime},
    {"GetSystemTime", LuaGetSystemTime},
    {nullptr, nullptr},
};

static void OpenLibrary(lua_State* L, const char* name, const luaL_Reg* functions) {
    luaL_register(L, name, functions);   // extends the table when it exists (math)
    Pop(L, 1);
}

void RegisterScriptAPI(lua_State* L) {
    Register(L, "print", LuaPrint);
    Register(L, "_ALERT", LuaPrint);
    Register(L, "Win1255ToUTF8", LuaWin1255ToUTF8);
    Register(L, "hash", LuaHash);

    lua_newtable(L);
    SetGlobal(L, "Grabbers");
    lua_newtable(L);
    SetGlobal(L, "PostProcs");

    OpenLibrary(L, "math", kMathFunctions);
    OpenLibrary(L, "Tvrn", kTvrnFunctions);
    OpenLibrary(L, "UK_RT", kUKRTFunctions);
    OpenLibrary(L, "HTTP", kHTTPFunctions);
    OpenLibrary(L, "time", kTimeFunctions);
}
