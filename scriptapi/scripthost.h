// What the script API needs from the program that runs the scripts, in one small interface: the
// scripts behind handles, the run log and the front end's displays, the settings, the day limit and
// the pages. The engine (TLuaGrabbers) implements it; the script API knows nothing else of the
// engine. RegisterScriptAPI binds a host to a Lua state, and every function finds its host through
// the state it runs in.
#pragma once

#include <lua.hpp>

#include <cstdint>
#include <optional>
#include <string>

#include "net/httpfunctions.h"
#include "platform/systime.h"

class TLuaBase;
class TLuaGrabber;

class TScriptHost {
public:
    virtual ~TScriptHost() = default;

    // ---- the scripts
    // The record behind a script handle when it is one of the host's scripts (also one whose Init
    // runs before it joins its list); null for anything else.
    virtual TLuaBase* FindScript(const void* handle) const = 0;
    // The grabber whose ID is exactly `id`, or null.
    virtual TLuaGrabber* FindGrabber(const std::string& id) const = 0;

    // ---- the run log and the front end's displays
    // A line of the run log; the host adds the time, and passes a debug-only line only in debug mode.
    virtual void Log(const std::string& text, bool debugOnly) = 0;
    // A line handed to the front end's log as it is, without the time and whatever the debug mode.
    virtual void LogRaw(const std::string& line) = 0;
    virtual void DoStatus(int32_t line, const std::string& text) = 0;          // status line 1 to 3
    virtual void DoProgress(int32_t bar, int32_t value, int32_t mode) = 0;     // bar -1: stay alive only

    // ---- settings and the run
    // The value under `key` in `section` of the settings held in memory, or defaultValue.
    virtual std::string ReadSetting(const std::string& section, const std::string& key,
                                    const std::string& defaultValue) const = 0;
    // The latest start a programme may have under the run's day limit; none without a limit.
    virtual std::optional<SYSTEMTIME> StartLimit() const = 0;

    // ---- pages: the host applies its connection settings and keeps the download statistics
    virtual TPageResult FetchPage(const TPageRequest& request, const std::string* postVars) = 0;
    virtual void SetAcceptEncoding(const std::string& encoding) = 0;
    virtual void CleanCache(const std::optional<std::string>& scriptID, int32_t maxDays) = 0;
};

// Binds the host to the Lua state (kept in its registry); null unbinds it.
void SetScriptHost(lua_State* L, TScriptHost* host);
// The host bound to the state, or null.
TScriptHost* FindScriptHost(lua_State* L);
// The same for functions that cannot work without one: a state without a host is a Lua error.
TScriptHost& ScriptHost(lua_State* L);
