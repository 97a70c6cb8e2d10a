// The script API: the globals and library tables the host places in the Lua state, and the handle
// arguments they share. Each binding unit registers its own functions (one name-to-function table
// per library it adds to); RegisterScriptAPI calls them in the order scripts have always found.
#pragma once

#include <lua.hpp>

#include <optional>
#include <string>

#include "scriptapi/luahelpers.h"

class TLuaBase;
class TLuaGrabber;
class TScriptHost;

// Binds the host to the state, then registers, in this order: the globals print and _ALERT (both
// the host's Print), Win1255ToUTF8 and hash, the empty tables Grabbers and PostProcs, then the
// libraries math (band), Tvrn, UK_RT, HTTP and time.
void RegisterScriptAPI(lua_State* L, TScriptHost& host);

// The script record behind the handle at `index`. A null handle, or a value that is not the handle
// of a script of the host (a file handle of the io library, say), is the function's usage error.
TLuaBase& ScriptArg(lua_State* L, int index, const Usage& usage);
// The same for functions that need a grabber: a post processor's handle is a usage error too.
TLuaGrabber& GrabberArg(lua_State* L, int index, const Usage& usage);
// For the cache functions: the ID of the script whose handle is at `index`. Anything else, a null
// handle or a userdata that is no script of the host included, means no script (none).
std::optional<std::string> ScriptIDArg(lua_State* L, int index);
