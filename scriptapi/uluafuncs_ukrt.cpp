#include "scriptapi/uluafuncs_ukrt.h"

#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "engine/uluagrabbers.h"
#include "scriptapi/luahelpers.h"
#include "listings/uk_rt.h"
#include "scriptapi/uluafuncs.h"

namespace {

// The string at index without a copy: Lua keeps it alive while it stays on the stack, which it does
// for the whole call. A number is converted in place, as ReadText would.
std::string_view PageArg(lua_State* L, int index) {
    size_t length = 0;
    const char* bytes = lua_tolstring(L, index, &length);
    return bytes ? std::string_view(bytes, length) : std::string_view();
}

void DebugLog(const std::string& line) { LuaGrabbers->Log(line, true); }

int ProcessChannels(lua_State* L) {
    static const Usage usage{"ProcessChannels", "UK_RT.ProcessChannels([Grabber],[Page])", 2};
    CheckArgs(L, usage, {Arg::Handle, Arg::String});
    TLuaGrabber& grabber = GrabberArg(L, 1, usage);
    ::ProcessChannels(PageArg(L, 2), grabber.Encoding, *grabber.AvailableChannels, DebugLog);
    return 0;
}

int ProcessPrograms(lua_State* L) {
    static const Usage usage{"ProcessPrograms",
                             "UK_RT.ProcessPrograms([Grabber],[ChannelID],[Page],[IgnoreTBA])", 4};
    CheckArgs(L, usage, {Arg::Handle, Arg::String, Arg::String, Arg::Boolean});
    TLuaGrabber& grabber = GrabberArg(L, 1, usage);
    TLuaGrabbers& engine = *LuaGrabbers;

    TFeedProgramsOptions options;
    options.ChannelID = ReadText(L, 2);
    options.IgnoreTBA = lua_toboolean(L, 4) != 0;
    if (engine.DayLimit != 0) options.LimitTime = engine.LimitTime;
    options.Encoding = grabber.Encoding;

    TFeedProgramsOutput output;
    output.DebugLog = DebugLog;
    output.RawLog = [&engine](const std::string& line) {   // as it is: no time prefix, also without Debug
        if (engine.OnLog) engine.OnLog(line);
    };
    TProgList& programs = *grabber.Programs;
    output.AddProgram = [&programs](std::unique_ptr<TProgram> program) { programs.AddProgram(std::move(program)); };

    ::ProcessPrograms(PageArg(L, 3), options, output);
    return 0;
}

}  // namespace

int LuaProcessChannels(lua_State* L) { return Guarded<ProcessChannels>(L); }
int LuaProcessPrograms(lua_State* L) { return Guarded<ProcessPrograms>(L); }
