// The download functions bound for scripts: HTTP.Get / Tvrn.Get, HTTP.Post / Tvrn.Post and
// HTTP.SetAcptEnc (Tvrn.CleanCache, which also works on the cache, is one of Tvrn's own functions).
// The bindings read the arguments, hand them to the host's page functions (net/httpfunctions.h
// does the work) and push the results.
#pragma once

#include <lua.hpp>

// The HTTP library: Get, Post and SetAcptEnc.
void OpenHTTPLibrary(lua_State* L);
// Tvrn.Get and Tvrn.Post, the same functions as HTTP's; they come first in Tvrn.
void OpenTvrnPageFunctions(lua_State* L);
