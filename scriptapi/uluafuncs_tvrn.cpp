// Script API layer: the host functions of Tvrn (settings, channels, programmes, status, progress,
// waiting), math.band, hash, Win1255ToUTF8 and the time library, with the plain C++ that does their
// work, and their registration.
#include "scriptapi/uluafuncs_tvrn.h"

#include <algorithm>

#include "listings/codecs.h"
#include "listings/timezones.h"
#include "scriptapi/luahelpers.h"
#include "scriptapi/scripthost.h"
#include "scriptapi/uluafuncs.h"
#include "scriptapi/uluarecords.h"

THostClock HostClock;

// ---- the work -----------------------------------------------------------------------------------

std::string SettingsSection(const TLuaBase& script) {
    return (dynamic_cast<const TLuaGrabber*>(&script) ? "Grab_" : "Proc_") + script.ID;
}

void AddScriptSetting(TLuaBase& script, std::unique_ptr<TSetting> setting) {
    script.Settings->SetSetting(std::move(setting));
}

void AddAvailableChannel(TLuaGrabber& grabber, std::unique_ptr<TChannel> channel) {
    channel->Encoding = grabber.Encoding;
    grabber.AvailableChannels->Add(std::move(channel));
}

void AddSelectedChannel(TLuaGrabber& grabber, std::unique_ptr<TChannel> channel) {
    channel->Encoding = grabber.Encoding;
    grabber.SelectedChannels->Append(std::move(channel));
}

TChannel* FindGrabberChannel(TLuaGrabber& grabber, const std::string& id) {
    if (grabber.SelectedChannels->FindID(id)) return grabber.SelectedChannels->Current();
    TChanList& available = *grabber.AvailableChannels;
    // The available list is kept in ID order; should it ever lose that order, search it from the start
    // rather than fail the script.
    if (available.Sorted() ? available.SearchID(id) == crEqual : available.FindID(id)) return available.Current();
    return nullptr;
}

bool AddGrabberProgram(TLuaGrabber& grabber, std::unique_ptr<TProgram> program,
                       const std::optional<SYSTEMTIME>& startLimit) {
    if (startLimit && CompareTime(program->Start, *startLimit) > 0) return false;
    program->Encoding = grabber.Encoding;
    grabber.Programs->AddProgram(std::move(program));
    return true;
}

uint32_t StringHash(std::string_view bytes) {
    uint32_t hash = 0;
    for (unsigned char b : bytes) hash = ((hash << 2) | (hash >> 30)) ^ b;
    return hash;
}

int32_t BitAnd(double a, double b) {
    const uint32_t x = static_cast<uint32_t>(TruncToInt64(a));
    const uint32_t y = static_cast<uint32_t>(TruncToInt64(b));
    return static_cast<int32_t>(x & y);
}

uint32_t SleepSteps(double ms) {
    const int64_t t = TruncToInt64(ms);
    if (t <= 0) return 0;
    return static_cast<uint32_t>(std::min<int64_t>(t, kMaxSleepMs) / kSleepStepMs);
}

// ---- the bindings -------------------------------------------------------------------------------

namespace {

// The programme or channel argument at index: read, or the usage error when it is not a table.
template <class Reader>
auto RecordArg(lua_State* L, int index, const Usage& usage, Reader read) {
    lua_pushvalue(L, index);
    auto record = read(L, TRecordLog());
    if (!record) UsageError(L, usage);
    return record;
}

int GetSetting(lua_State* L) {
    static const Usage usage{"GetSetting", "[Value] = Tvrn.GetSetting([Grabber],[Key],[Default])", 2};
    CheckArgs(L, usage, {Arg::Handle, Arg::Any}, ArgCount::AtLeast);
    const TLuaBase& script = ScriptArg(L, 1, usage);
    const std::string key = ReadText(L, 2);
    const std::string defaultValue = ArgGiven(L, 3) ? ReadText(L, 3) : std::string();
    PushText(L, ScriptHost(L).ReadSetting(SettingsSection(script), key, defaultValue));
    return 1;
}

int AddSetting(lua_State* L) {
    static const Usage usage{"AddSetting", "Tvrn.AddSetting([Grabber],[Key],[Type],[Default],[Name],[ExtraData])",
                             5};
    CheckArgs(L, usage, {Arg::Handle, Arg::String, Arg::Number, Arg::String, Arg::String}, ArgCount::AtLeast);
    TLuaBase& script = ScriptArg(L, 1, usage);
    auto setting = std::make_unique<TSetting>();
    setting->Key = ReadText(L, 2);
    setting->Type = IntArg(L, 3);
    setting->Default = ReadText(L, 4);
    setting->Name = ReadText(L, 5);
    if (lua_gettop(L) >= 6 && lua_isstring(L, 6)) setting->ExtraData = ReadText(L, 6);
    AddScriptSetting(script, std::move(setting));
    return 0;
}

int AddChannel(lua_State* L) {
    static const Usage usage{"AddChannel", "Tvrn.AddChannel([Grabber],[Channel])", 2};
    CheckArgs(L, usage, {Arg::Handle, Arg::Any});
    TLuaGrabber& grabber = GrabberArg(L, 1, usage);
    AddAvailableChannel(grabber, RecordArg(L, 2, usage, ReadChannel));
    return 0;
}

int AddUserChannel(lua_State* L) {
    static const Usage usage{"AddUserChannel", "Tvrn.AddUserChannel([Grabber],[Channel])", 2};
    CheckArgs(L, usage, {Arg::Handle, Arg::Any});
    TLuaGrabber& grabber = GrabberArg(L, 1, usage);
    AddSelectedChannel(grabber, RecordArg(L, 2, usage, ReadChannel));
    return 0;
}

int GetChannel(lua_State* L) {
    static const Usage usage{"GetChannel", "[Channel] = Tvrn.GetChannel([Grabber],[ID])", 2};
    CheckArgs(L, usage, {Arg::Handle, Arg::String});
    TLuaGrabber& grabber = GrabberArg(L, 1, usage);
    if (const TChannel* channel = FindGrabberChannel(grabber, ReadText(L, 2))) PushChannel(L, *channel);
    else lua_pushnil(L);
    return 1;
}

int ClearChannels(lua_State* L) {
    static const Usage usage{"ClearChannels", "Tvrn.ClearChannels([Grabber])", 1};
    CheckArgs(L, usage, {Arg::Handle});
    GrabberArg(L, 1, usage).AvailableChannels->Clear();
    return 0;
}

int AddProgram(lua_State* L) {
    static const Usage usage{"AddProgram", "Tvrn.AddProgram([Grabber],[Program])", 2};
    CheckArgs(L, usage, {Arg::Handle, Arg::Any});
    TLuaGrabber& grabber = GrabberArg(L, 1, usage);
    AddGrabberProgram(grabber, RecordArg(L, 2, usage, ReadProgram), ScriptHost(L).StartLimit());
    return 0;
}

int Sleep(lua_State* L) {
    static const Usage usage{"Sleep", "Tvrn.Sleep([Time])", 1};
    CheckArgs(L, usage, {Arg::Number});
    const uint32_t steps = SleepSteps(lua_tonumber(L, 1));
    TScriptHost* host = FindScriptHost(L);
    for (uint32_t i = 0; i < steps; ++i) {
        if (host) host->DoProgress(-1, -1, -1);  // keeps the user interface alive
        HostClock.SleepMs(kSleepStepMs);
    }
    return 0;
}

int SetStatus(lua_State* L) {
    static const Usage usage{"SetStatus", "Tvrn.SetStatus([Num],[Text])", 2};
    CheckArgs(L, usage, {Arg::Number, Arg::String});
    if (TScriptHost* host = FindScriptHost(L)) host->DoStatus(IntArg(L, 1), ReadText(L, 2));
    return 0;
}

// Part of the page functions' work, but registered here: it belongs to Tvrn alone.
int CleanCache(lua_State* L) {
    static const Usage usage{"CleanCache", "Tvrn.CleanCache([Grabber],[MaxDays])", 2};
    CheckArgs(L, usage, {Arg::Any, Arg::Number});
    ScriptHost(L).CleanCache(ScriptIDArg(L, 1), IntArg(L, 2));
    return 0;
}

int GetProgram(lua_State* L) {
    static const Usage usage{"GetProgram", "[Program]=Tvrn.GetProgram([Grabber],[ID])", 2};
    CheckArgs(L, usage, {Arg::Handle, Arg::String});
    TLuaGrabber& grabber = GrabberArg(L, 1, usage);
    if (const TProgram* program = grabber.Programs->FindID(ReadText(L, 2))) PushProgram(L, *program);
    else lua_pushnil(L);
    return 1;
}

int GetGrabber(lua_State* L) {
    static const Usage usage{"GetGrabber", "[Grabber]=Tvrn.GetGrabber([ID])", 1};
    CheckArgs(L, usage, {Arg::String});
    const TScriptHost* host = FindScriptHost(L);
    TLuaGrabber* grabber = host ? host->FindGrabber(ReadText(L, 1)) : nullptr;
    PushHandle(L, static_cast<TLuaBase*>(grabber));  // the null handle for an unknown ID
    return 1;
}

int SetProgress(lua_State* L) {
    static const Usage usage{"SetProgress", "Tvrn.SetProgress([bar],[pos],[mode])", 3};
    CheckArgs(L, usage, {Arg::Number, Arg::Number, Arg::Number});
    if (TScriptHost* host = FindScriptHost(L)) host->DoProgress(IntArg(L, 1), IntArg(L, 2), IntArg(L, 3));
    return 0;
}

int Band(lua_State* L) {
    static const Usage usage{"band", "[res]=math.band([num1],[num2])", 2};
    CheckArgs(L, usage, {Arg::Number, Arg::Number});
    lua_pushnumber(L, BitAnd(lua_tonumber(L, 1), lua_tonumber(L, 2)));
    return 1;
}

int Hash(lua_State* L) {
    static const Usage usage{"hash", "int hash([String])", 1};
    CheckArgs(L, usage, {Arg::String});
    lua_pushnumber(L, StringHash(ReadText(L, 1)));
    return 1;
}

int Win1255ToUTF8(lua_State* L) {
    static const Usage usage{"Win1255ToUTF8", "[utf] = Win1255ToUTF8([win1252str])", 1};
    CheckArgs(L, usage, {Arg::Any});
    if (lua_isnil(L, 1)) UsageError(L, usage);
    PushText(L, Windows1255ToUTF8(ReadText(L, 1)));
    return 1;
}

// No argument checks: extra arguments are ignored.
int LocalTimeTable(lua_State* L) {
    PushTimeTable(L, HostClock.LocalTime());
    return 1;
}

int SystemTimeTable(lua_State* L) {
    PushTimeTable(L, HostClock.SystemTime());
    return 1;
}

const luaL_Reg kHostGlobals[] = {
    {"Win1255ToUTF8", Guarded<Win1255ToUTF8>},
    {"hash", Guarded<Hash>},
    {nullptr, nullptr},
};

const luaL_Reg kMathExtras[] = {
    {"band", Guarded<Band>},
    {nullptr, nullptr},
};

// Tvrn.Get and Tvrn.Post, before these, are registered by uluafuncs_httpbind.
const luaL_Reg kTvrnFunctions[] = {
    {"GetSetting", Guarded<GetSetting>},
    {"AddSetting", Guarded<AddSetting>},
    {"AddChannel", Guarded<AddChannel>},
    {"AddUserChannel", Guarded<AddUserChannel>},
    {"GetChannel", Guarded<GetChannel>},
    {"ClearChannels", Guarded<ClearChannels>},
    {"AddProgram", Guarded<AddProgram>},
    {"Sleep", Guarded<Sleep>},
    {"SetStatus", Guarded<SetStatus>},
    {"CleanCache", Guarded<CleanCache>},
    {"GetProgram", Guarded<GetProgram>},
    {"GetGrabber", Guarded<GetGrabber>},
    {"SetProgress", Guarded<SetProgress>},
    {nullptr, nullptr},
};

const luaL_Reg kTimeFunctions[] = {
    {"GetLocalTime", Guarded<LocalTimeTable>},
    {"GetSystemTime", Guarded<SystemTimeTable>},
    {nullptr, nullptr},
};

}  // namespace

void OpenHostGlobals(lua_State* L) { OpenLibrary(L, nullptr, kHostGlobals); }
void OpenMathExtras(lua_State* L) { OpenLibrary(L, "math", kMathExtras); }
void OpenTvrnLibrary(lua_State* L) { OpenLibrary(L, "Tvrn", kTvrnFunctions); }
void OpenTimeLibrary(lua_State* L) { OpenLibrary(L, "time", kTimeFunctions); }
