// The script API: the globals and library tables the host places in the Lua state, and the handle
// arguments they share.
#pragma once

#include <lua.hpp>

#include "scriptapi/luahelpers.h"

class TLuaBase;
class TLuaGrabber;

// Registers, in this order: the globals print and _ALERT (both the host's Print), Win1255ToUTF8
// and hash, the empty tables Grabbers and PostProcs, then the libraries math (band), Tvrn, UK_RT,
// HTTP and time. A library function appears once it is built; until then its table lacks the entry.
void RegisterScriptAPI(lua_State* L);

// print(Message) and _ALERT(Message): one value, not nil, written to the run log (always shown).
int LuaPrint(lua_State* L);

// The script record behind the handle at `index`. A null handle, or a value that is not the handle
// of a script of the engine (a file handle of the io library, say), is the function's usage error.
TLuaBase& ScriptArg(lua_State* L, int index, const Usage& usage);
// The same for functions that need a grabber: a post processor's handle is a usage error too.
TLuaGrabber& GrabberArg(lua_State* L, int index, const Usage& usage);
