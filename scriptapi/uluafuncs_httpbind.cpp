// Script API layer: the download functions HTTP.Get, HTTP.Post and HTTP.SetAcptEnc, also Tvrn.Get
// and Tvrn.Post: argument reading, the hand-over to the host's page functions, and their
// registration.
#include "scriptapi/uluafuncs_httpbind.h"

#include <optional>
#include <string>
#include <string_view>

#include "net/httpfunctions.h"
#include "scriptapi/luahelpers.h"
#include "scriptapi/scripthost.h"
#include "scriptapi/uluafuncs.h"

namespace {

// A value that goes into a request header: a line break would end the header and start one of the
// script's choosing, a NUL would cut it short.
bool FitsInAHeader(const std::string& value) {
    return value.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos;
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

int PushResult(lua_State* L, const TPageResult& result) {
    PushText(L, result.Page);
    lua_pushnumber(L, result.Status);
    return 2;
}

int Get(lua_State* L) {
    static const Usage usage{"Get", "[Page] [Error] = HTTP.Get([URL],[Grabber],[Username],[Password],[CacheFile],[CacheAge])",
                             1};
    CheckArgs(L, usage, {Arg::Any}, ArgCount::AtLeast);
    const TPageRequest request = ReadRequest(L, 2);
    if (!FitsInAHeader(request.Username)) UsageError(L, usage);  // digest authentication quotes it raw
    return PushResult(L, ScriptHost(L).FetchPage(request, nullptr));
}

int Post(lua_State* L) {
    static const Usage usage{
        "Post", "[Page] [Error] = HTTP.Post([URL],[PostVars],[Grabber],[Username],[Password],[CacheFile],[CacheAge])", 2};
    CheckArgs(L, usage, {Arg::Any, Arg::Any}, ArgCount::AtLeast);
    const std::string postVars = ReadText(L, 2);
    const TPageRequest request = ReadRequest(L, 3);
    if (!FitsInAHeader(request.Username)) UsageError(L, usage);
    return PushResult(L, ScriptHost(L).FetchPage(request, &postVars));
}

int SetAcptEnc(lua_State* L) {
    static const Usage usage{"SetAcptEnc", "HTTP.SetAcptEnc([Enc])", 1};
    CheckArgs(L, usage, {Arg::String});
    const std::string encoding = ReadText(L, 1);
    if (!FitsInAHeader(encoding)) UsageError(L, usage);
    ScriptHost(L).SetAcceptEncoding(encoding);
    return 0;
}

const luaL_Reg kHTTPFunctions[] = {
    {"Get", Guarded<Get>},
    {"Post", Guarded<Post>},
    {"SetAcptEnc", Guarded<SetAcptEnc>},
    {nullptr, nullptr},
};

const luaL_Reg kTvrnPageFunctions[] = {
    {"Get", Guarded<Get>},
    {"Post", Guarded<Post>},
    {nullptr, nullptr},
};

}  // namespace

void OpenHTTPLibrary(lua_State* L) { OpenLibrary(L, "HTTP", kHTTPFunctions); }
void OpenTvrnPageFunctions(lua_State* L) { OpenLibrary(L, "Tvrn", kTvrnPageFunctions); }
