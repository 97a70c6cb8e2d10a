// The host functions scripts call apart from downloads and the feed parser: settings, channels and
// programmes through Tvrn, status, progress and waiting, math.band, hash, Win1255ToUTF8 and the
// time library. The work is done by the plain functions below; the Lua bindings check arguments,
// call them and push the results.
#pragma once

#include <lua.hpp>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "listings/uxmltvrecs.h"
#include "platform/systime.h"

class TIniFile;
class TLuaBase;
class TLuaGrabber;

// ---- the work -----------------------------------------------------------------------------------

// "Grab_<ID>" for a grabber, "Proc_<ID>" for a post processor: where its settings are stored.
std::string SettingsSection(const TLuaBase& script);
// The value stored under key in the script's section, or defaultValue when there is none.
std::string GetScriptSetting(const TIniFile& ini, const TLuaBase& script, const std::string& key,
                             const std::string& defaultValue);
// Declares a setting; one with the same Key (case-sensitive) is replaced where it stands.
void AddScriptSetting(TLuaBase& script, std::unique_ptr<TSetting> setting);

// Into AvailableChannels in ID order / at the end of SelectedChannels; the channel takes the
// grabber's encoding.
void AddAvailableChannel(TLuaGrabber& grabber, std::unique_ptr<TChannel> channel);
void AddSelectedChannel(TLuaGrabber& grabber, std::unique_ptr<TChannel> channel);
// Exact ID: the selected channels first, from the first on, then the available ones.
TChannel* FindGrabberChannel(TLuaGrabber& grabber, const std::string& id);

// Adds the programme to the grabber's list with the grabber's encoding, unless a day limit is set
// (dayLimit not 0) and the programme starts after limitTime (minutes compared, seconds ignored);
// such a programme is freed. Returns whether it was kept.
bool AddGrabberProgram(TLuaGrabber& grabber, std::unique_ptr<TProgram> program, int32_t dayLimit,
                       const SYSTEMTIME& limitTime);

// Rotate left by 2, then exclusive or with each byte; "" gives 0, "abc" 2043.
uint32_t StringHash(std::string_view bytes);
// Both truncated toward zero, their low 32 bits ANDed, the result signed.
int32_t BitAnd(double a, double b);

// Tvrn.Sleep waits in 100 ms steps, any remainder below 100 ms unwaited. A negative time does not
// wait and no call waits longer than kMaxSleepMs: a script's slip must not stall the run.
constexpr uint32_t kSleepStepMs = 100;
constexpr uint32_t kMaxSleepMs = 10 * 60 * 1000;
uint32_t SleepSteps(double ms);

// The wait and the clocks behind Tvrn.Sleep and the time library; tests replace them.
struct THostClock {
    std::function<void(uint32_t ms)> SleepMs = platform::SleepMs;
    std::function<SYSTEMTIME()> LocalTime = platform::LocalTime;
    std::function<SYSTEMTIME()> SystemTime = platform::SystemTime;
};
extern THostClock HostClock;

// ---- the bindings -------------------------------------------------------------------------------

// Tvrn library
int LuaGetSetting(lua_State* L);
int LuaAddSetting(lua_State* L);
int LuaAddChannel(lua_State* L);
int LuaAddUserChannel(lua_State* L);
int LuaGetChannel(lua_State* L);
int LuaClearChannels(lua_State* L);
int LuaAddProgram(lua_State* L);
int LuaSleep(lua_State* L);
int LuaSetStatus(lua_State* L);
int LuaGetProgram(lua_State* L);
int LuaGetGrabber(lua_State* L);
int LuaSetProgress(lua_State* L);
// math.band and the globals hash and Win1255ToUTF8
int LuaBand(lua_State* L);
int LuaHash(lua_State* L);
int LuaWin1255ToUTF8(lua_State* L);
// time library
int LuaGetLocalTime(lua_State* L);
int LuaGetSystemTime(lua_State* L);
