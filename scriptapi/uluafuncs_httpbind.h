// The download functions bound for scripts: HTTP.Get / Tvrn.Get, HTTP.Post / Tvrn.Post,
// HTTP.SetAcptEnc and Tvrn.CleanCache. The bindings read the arguments, hand them to the engine's
// page functions (net/httpfunctions.h) and push the results.
#pragma once

#include <lua.hpp>

// [Page] [Error] = HTTP.Get([URL],[Grabber],[Username],[Password],[CacheFile],[CacheAge])
int LuaHTTPGet(lua_State* L);
// [Page] [Error] = HTTP.Post([URL],[PostVars],[Grabber],[Username],[Password],[CacheFile],[CacheAge])
int LuaHTTPPost(lua_State* L);
// HTTP.SetAcptEnc([Enc])
int LuaSetAcptEnc(lua_State* L);
// Tvrn.CleanCache([Grabber],[MaxDays])
int LuaCleanCache(lua_State* L);
