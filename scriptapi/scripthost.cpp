// Script API layer: binding a script host to a Lua state, and finding it again from the state a
// function runs in.
#include "scriptapi/scripthost.h"

namespace {

const char kHostKey = 0;   // its address is the registry key of the host

}  // namespace

void SetScriptHost(lua_State* L, TScriptHost* host) {
    lua_pushlightuserdata(L, const_cast<char*>(&kHostKey));
    if (host) lua_pushlightuserdata(L, host);
    else lua_pushnil(L);
    lua_rawset(L, LUA_REGISTRYINDEX);
}

TScriptHost* FindScriptHost(lua_State* L) {
    lua_pushlightuserdata(L, const_cast<char*>(&kHostKey));
    lua_rawget(L, LUA_REGISTRYINDEX);
    auto* host = static_cast<TScriptHost*>(lua_touserdata(L, -1));
    lua_pop(L, 1);
    return host;
}

TScriptHost& ScriptHost(lua_State* L) {
    TScriptHost* host = FindScriptHost(L);
    if (!host) luaL_error(L, "no script host is bound to this Lua state");
    return *host;
}
