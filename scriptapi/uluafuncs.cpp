// Script API layer: registers the whole API in a Lua state bound to its host, and reads the script
// handles that most functions take first. The global print (and _ALERT) lives here.
#include "scriptapi/uluafuncs.h"

#include "scriptapi/scripthost.h"
#include "scriptapi/scriptrecords.h"
#include "scriptapi/uluafuncs_httpbind.h"
#include "scriptapi/uluafuncs_tvrn.h"
#include "scriptapi/uluafuncs_ukrt.h"

// ---- handles ----------------------------------------------------------------------------------

TLuaBase& ScriptArg(lua_State* L, int index, const Usage& usage) {
    const TScriptHost* host = FindScriptHost(L);
    TLuaBase* record = host ? host->FindScript(ReadHandle(L, index)) : nullptr;
    if (!record) UsageError(L, usage);
    return *record;
}

TLuaGrabber& GrabberArg(lua_State* L, int index, const Usage& usage) {
    TLuaGrabber* grabber = dynamic_cast<TLuaGrabber*>(&ScriptArg(L, index, usage));
    if (!grabber) UsageError(L, usage);
    return *grabber;
}

std::optional<std::string> ScriptIDArg(lua_State* L, int index) {
    if (!lua_isuserdata(L, index)) return std::nullopt;
    const TScriptHost* host = FindScriptHost(L);
    const TLuaBase* script = host ? host->FindScript(ReadHandle(L, index)) : nullptr;
    if (!script) return std::nullopt;
    return script->ID;
}

// ---- print ------------------------------------------------------------------------------------

namespace {

// print(Message) and _ALERT(Message): one value, not nil, written to the run log (always shown).
// Lua reports the errors of files it runs through _ALERT, so they reach the log too.
int Print(lua_State* L) {
    static const Usage usage{"Print", "Print([Message])", 1};
    CheckArgs(L, usage, {Arg::Any});
    if (lua_isnil(L, 1)) UsageError(L, usage);
    if (TScriptHost* host = FindScriptHost(L)) host->Log(ReadText(L, 1), false);
    return 0;
}

const luaL_Reg kPrintGlobals[] = {
    {"print", Guarded<Print>},
    {"_ALERT", Guarded<Print>},
    {nullptr, nullptr},
};

}  // namespace

// ---- registration -----------------------------------------------------------------------------

void RegisterScriptAPI(lua_State* L, TScriptHost& host) {
    SetScriptHost(L, &host);
    OpenLibrary(L, nullptr, kPrintGlobals);
    OpenHostGlobals(L);

    lua_newtable(L);
    SetGlobal(L, "Grabbers");
    lua_newtable(L);
    SetGlobal(L, "PostProcs");

    OpenMathExtras(L);
    OpenTvrnPageFunctions(L);
    OpenTvrnLibrary(L);
    OpenUKRTLibrary(L);
    OpenHTTPLibrary(L);
    OpenTimeLibrary(L);
}
