#include "scriptapi/uluafuncs_httpbind.h"

#include <optional>
#include <stdexcept>
#include <string>

#include "engine/uluagrabbers.h"
#include "scriptapi/luahelpers.h"
#include "net/httpfunctions.h"

namespace {

TLuaGrabbers& Engine() {
    if (!LuaGrabbers || !LuaGrabbers->HTTPFunctions) throw std::runtime_error("The HTTP client is not available");
    return *LuaGrabbers;
}

// The ID of the script whose handle is at index. Anything else, a null handle or a userdata that
// is no script of ours included, means no script: its pages go to the "none" folder.
std::optional<std::string> ScriptIDArg(lua_State* L, int index) {
    if (!lua_isuserdata(L, index)) return std::nullopt;
    const TLuaBase* script = LuaGrabbers ? LuaGrabbers->FindScript(ReadHandle(L, index)) : nullptr;
    if (!script) return std::nullopt;
    return script->ID;
}

std::string OptionalText(lua_State* L, int index) { return ArgGiven(L, index) ? ReadText(L, index) : std::string(); }

// The arguments from the handle on, which Post finds one position later than Get.
TPageRequest ReadRequest(lua_State* L, int first) {
    TPageRequest request;
    request.URL = ReadText(L, 1);
    request.ScriptID = ScriptIDArg(L, first);
    request.Username = OptionalText(L, first + 1);
    request.Password = OptionalText(L, first + 2);
    request.CacheFile = OptionalText(L, first + 3);
    const int age = first + 4;
    if (!ArgGiven(L, age)) request.CacheAge = kAnyCacheAge;
    else if (lua_isnumber(L, age)) request.CacheAge = IntArg(L, age);
    else request.CacheAge = 0;   // a CacheAge that is no number downloads every time
    return request;
}

// Settings, credentials and counters go to the client for the request and the counters come back,
// also when the request ends in an exception.
class TRequestScope {
public:
    TRequestScope(TLuaGrabbers& engine, const TPageRequest& request) : FEngine(engine) {
        FEngine.WebUsername = request.Username;
        FEngine.WebPassword = request.Password;
        FEngine.ApplyConnectionSettings();
    }
    ~TRequestScope() { FEngine.TakeDownloadCounters(); }
    TRequestScope(const TRequestScope&) = delete;
    TRequestScope& operator=(const TRequestScope&) = delete;

private:
    TLuaGrabbers& FEngine;
};

int PushResult(lua_State* L, const TPageResult& result) {
    PushText(L, result.Page);
    lua_pushnumber(L, result.Status);
    return 2;
}

int Get(lua_State* L) {
    static const Usage usage{"Get", "[Page] [Error] = HTTP.Get([URL],[Grabber],[Username],[Password],[CacheFile],[CacheAge])",
                             1};
    CheckArgs(L, usage, {Arg::Any}, ArgCount::AtLeast);
    TLuaGrabbers& engine = Engine();
    const TPageRequest request = ReadRequest(L, 2);
    TPageResult result;
    {
        TRequestScope scope(engine, request);
        result = engine.HTTPFunctions->Get(request);
    }
    return PushResult(L, result);
}

int Post(lua_State* L) {
    static const Usage usage{
        "Post", "[Page] [Error] = HTTP.Post([URL],[PostVars],[Grabber],[Username],[Password],[CacheFile],[CacheAge])", 2};
    CheckArgs(L, usage, {Arg::Any, Arg::Any}, ArgCount::AtLeast);
    TLuaGrabbers& engine = Engine();
    const TPageRequest request = ReadRequest(L, 3);
    const std::string postVars = ReadText(L, 2);
    TPageResult result;
    {
        TRequestScope scope(engine, request);
        result = engine.HTTPFunctions->Post(request, postVars);
    }
    return PushResult(L, result);
}

int SetAcptEnc(lua_State* L) {
    static const Usage usage{"SetAcptEnc", "HTTP.SetAcptEnc([Enc])", 1};
    CheckArgs(L, usage, {Arg::String});
    Engine().HTTPFunctions->SetAcptEnc(ReadText(L, 1));
    return 0;
}

int CleanCache(lua_State* L) {
    static const Usage usage{"CleanCache", "Tvrn.CleanCache([Grabber],[MaxDays])", 2};
    CheckArgs(L, usage, {Arg::Any, Arg::Number});
    TLuaGrabbers& engine = Engine();
    engine.HTTPFunctions->CleanCache(ScriptIDArg(L, 1), IntArg(L, 2));
    return 0;
}

}  // namespace

int LuaHTTPGet(lua_State* L) { return Guarded<Get>(L); }
int LuaHTTPPost(lua_State* L) { return Guarded<Post>(L); }
int LuaSetAcptEnc(lua_State* L) { return Guarded<SetAcptEnc>(L); }
int LuaCleanCache(lua_State* L) { return Guarded<CleanCache>(L); }
