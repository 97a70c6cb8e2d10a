// The host functions scripts call apart from downloads and the feed parser: settings, channels and
// programmes through Tvrn, status, progress and waiting, cleaning the cache, math.band, hash,
// Win1255ToUTF8 and the time library. The work is done by the plain functions below; the Lua
// bindings check arguments, call them and push the results, and the unit registers them itself.
#pragma once

#include <lua.hpp>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "listings/uxmltvrecs.h"
#include "platform/systime.h"
#include "scriptapi/scriptrecords.h"

// ---- the work -----------------------------------------------------------------------------------

// "Grab_<ID>" for a grabber, "Proc_<ID>" for a post processor: where its settings are stored.
std::string SettingsSection(const TLuaBase& script);
// Declares a setting; one with the same Key (case-sensitive) is replaced where it stands.
void AddScriptSetting(TLuaBase& script, std::unique_ptr<TSetting> setting);

// Into AvailableChannels in ID order / at the end of SelectedChannels; the channel takes the
// grabber's encoding.
void AddAvailableChannel(TLuaGrabber& grabber, std::unique_ptr<TChannel> channel);
void AddSelectedChannel(TLuaGrabber& grabber, std::unique_ptr<TChannel> channel);
// Exact ID: the selected channels first, from the first on, then the available ones.
TChannel* FindGrabberChannel(TLuaGrabber& grabber, const std::string& id);

// Adds the programme to the grabber's list with the grabber's encoding, unless it starts after
// startLimit (the run's day limit, when one is set; minutes compared, seconds ignored); such a
// programme is freed. Returns whether it was kept.
bool AddGrabberProgram(TLuaGrabber& grabber, std::unique_ptr<TProgram> program,
                       const std::optional<SYSTEMTIME>& startLimit);

// Rotate left by 2, then exclusive or with each byte; "" gives 0, "abc" 2043.
uint32_t StringHash(std::string_view bytes);
// Both truncated toward zero, their low 32 bits ANDed, the result signed.
int32_t BitAnd(double a, double b);

// Tvrn.Sleep waits in 100 ms steps, any remainder below 100 ms unwaited. A negative time does not
// wait and no call waits longer than kMaxSleepMs: a script's slip must not stall the run.
constexpr uint32_t kSleepStepMs = 100;
constexpr uint32_t kMaxSleepMs = 10 * 60 * 1000;
uint32_t SleepSteps(double ms);

// The host's one clock: the waits of Tvrn.Sleep, the time library, and every "now" of the engine
// (its start, the times of log lines, the day limit, today's date of the time-step passes). Tests
// replace it.
struct THostClock {
    std::function<void(uint32_t ms)> SleepMs = platform::SleepMs;
    std::function<SYSTEMTIME()> LocalTime = platform::LocalTime;
    std::function<SYSTEMTIME()> SystemTime = platform::SystemTime;
};
extern THostClock HostClock;

// ---- registration -------------------------------------------------------------------------------

void OpenHostGlobals(lua_State* L);   // Win1255ToUTF8 and hash
void OpenMathExtras(lua_State* L);    // math.band
void OpenTvrnLibrary(lua_State* L);   // Tvrn's own functions, after Get and Post (uluafuncs_httpbind)
void OpenTimeLibrary(lua_State* L);   // time.GetLocalTime and time.GetSystemTime
