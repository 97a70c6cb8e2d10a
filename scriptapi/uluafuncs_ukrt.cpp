// Script API layer: the UK_RT library, the feed parser's binding: argument checks, the grabber's
// lists, encoding, day limit and log handed to listings/uk_rt, and its registration.
#include "scriptapi/uluafuncs_ukrt.h"

#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "listings/uk_rt.h"
#include "scriptapi/luahelpers.h"
#include "scriptapi/scripthost.h"
#include "scriptapi/scriptrecords.h"
#include "scriptapi/uluafuncs.h"

namespace {

// The string at index without a copy: Lua keeps it alive while it stays on the stack, which it does
// for the whole call. A number is converted in place, as ReadText would.
std::string_view PageArg(lua_State* L, int index) {
    size_t length = 0;
    const char* bytes = lua_tolstring(L, index, &length);
    return bytes ? std::string_view(bytes, length) : std::string_view();
}

// Lines the host shows only in debug mode.
TFeedLog DebugLog(TScriptHost& host) {
    return [&host](const std::string& line) { host.Log(line, true); };
}

int ProcessChannels(lua_State* L) {
    static const Usage usage{"ProcessChannels", "UK_RT.ProcessChannels([Grabber],[Page])", 2};
    CheckArgs(L, usage, {Arg::Handle, Arg::String});
    TLuaGrabber& grabber = GrabberArg(L, 1, usage);
    ::ProcessChannels(PageArg(L, 2), grabber.Encoding, *grabber.AvailableChannels, DebugLog(ScriptHost(L)));
    return 0;
}

int ProcessPrograms(lua_State* L) {
    static const Usage usage{"ProcessPrograms",
                             "UK_RT.ProcessPrograms([Grabber],[ChannelID],[Page],[IgnoreTBA])", 4};
    CheckArgs(L, usage, {Arg::Handle, Arg::String, Arg::String, Arg::Boolean});
    TLuaGrabber& grabber = GrabberArg(L, 1, usage);
    TScriptHost& host = ScriptHost(L);

    TFeedProgramsOptions options;
    options.ChannelID = ReadText(L, 2);
    options.IgnoreTBA = lua_toboolean(L, 4) != 0;
    options.LimitTime = host.StartLimit();
    options.Encoding = grabber.Encoding;

    TFeedProgramsOutput output;
    output.DebugLog = DebugLog(host);
    output.RawLog = [&host](const std::string& line) { host.LogRaw(line); };   // no time, also without Debug
    TProgList& programs = *grabber.Programs;
    output.AddProgram = [&programs](std::unique_ptr<TProgram> program) { programs.AddProgram(std::move(program)); };

    ::ProcessPrograms(PageArg(L, 3), options, output);
    return 0;
}

const luaL_Reg kUKRTFunctions[] = {
    {"ProcessChannels", Guarded<ProcessChannels>},
    {"ProcessPrograms", Guarded<ProcessPrograms>},
    {nullptr, nullptr},
};

}  // namespace

void OpenUKRTLibrary(lua_State* L) { OpenLibrary(L, "UK_RT", kUKRTFunctions); }
