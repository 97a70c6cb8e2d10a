// Script API layer: the conventions every binding shares: argument tests and the usage error,
// number truncation, the stack helpers that read tables, protected calls and script handles.
#include "scriptapi/luahelpers.h"

#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <limits>

std::string FormatUsageError(int expected, int found, std::string_view name, std::string_view usage) {
    const std::string n(name), u(usage);
    char buffer[64];
    if (found == expected)
        return n + ", incorrect parameter type(s). Usage: \"" + u + "\"";
    std::snprintf(buffer, sizeof buffer, ", %d parameters found, %d parameters expected", found, expected);
    return n + buffer + ". Usage: \"" + u + "\"";
}

void UsageError(lua_State* L, int expected, int found, const char* name, const char* usage) {
    {
        // The message is pushed inside a scope of its own: lua_error does not return.
        const std::string message = FormatUsageError(expected, found, name, usage);
        PushText(L, message);
    }
    lua_error(L);
    std::abort();   // not reached: lua_error throws
}

void UsageError(lua_State* L, const Usage& usage) {
    UsageError(L, usage.Expected, lua_gettop(L), usage.Name, usage.Text);
}

bool ArgIs(lua_State* L, int index, Arg kind) {
    switch (kind) {
        case Arg::Number: return lua_isnumber(L, index) != 0;
        case Arg::String: return lua_isstring(L, index) != 0;
        case Arg::Handle: return lua_isuserdata(L, index) != 0;
        case Arg::Table: return lua_type(L, index) == LUA_TTABLE;
        case Arg::Nil: return lua_type(L, index) == LUA_TNIL;
        case Arg::Absent: return lua_type(L, index) <= LUA_TNIL;
        case Arg::Boolean: return lua_type(L, index) == LUA_TBOOLEAN;
        case Arg::Any: return true;
    }
    return false;
}

void CheckArgs(lua_State* L, const Usage& usage, std::initializer_list<Arg> kinds, ArgCount count) {
    const int found = lua_gettop(L);
    const int wanted = static_cast<int>(kinds.size());
    if (count == ArgCount::Exact ? found != wanted : found < wanted) UsageError(L, usage);
    int index = 1;
    for (Arg kind : kinds) {
        if (!ArgIs(L, index, kind)) UsageError(L, usage);
        ++index;
    }
}

bool ArgGiven(lua_State* L, int index) { return index <= lua_gettop(L) && !lua_isnil(L, index); }

// ---- numbers ----------------------------------------------------------------------------------

int32_t TruncToInt32(double value) {
    // the cast truncates: in range, it is all there is to do
    if (value > -2147483648.0 && value < 2147483647.0) return static_cast<int32_t>(value);
    if (std::isnan(value)) return 0;
    const double t = std::trunc(value);
    if (t <= std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    if (t >= std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(t);
}

int64_t TruncToInt64(double value) {
    if (value > -9223372036854775808.0 && value < 9223372036854775808.0) return static_cast<int64_t>(value);
    if (std::isnan(value)) return 0;
    const double t = std::trunc(value);
    // 2^63 is exactly representable; anything at or beyond it saturates.
    if (t < -9223372036854775808.0) return std::numeric_limits<int64_t>::min();
    if (t >= 9223372036854775808.0) return std::numeric_limits<int64_t>::max();
    return static_cast<int64_t>(t);
}

int32_t IntArg(lua_State* L, int index) { return TruncToInt32(lua_tonumber(L, index)); }

// ---- stack helpers ----------------------------------------------------------------------------

void Pop(lua_State* L, int n) { lua_settop(L, -n - 1); }

void PushText(lua_State* L, std::string_view text) { lua_pushlstring(L, text.data(), text.size()); }

std::string ReadText(lua_State* L, int index) { return std::string(TextView(L, index)); }

std::string_view TextView(lua_State* L, int index) {
    size_t length = 0;
    const char* text = lua_isstring(L, index) ? lua_tolstring(L, index, &length) : nullptr;
    return text ? std::string_view(text, length) : std::string_view();
}

std::string ErrorText(lua_State* L, int index) {
    if (lua_isstring(L, index)) return ReadText(L, index);
    return std::string("(error object is a ") + luaL_typename(L, index) + " value)";
}

void GetGlobal(lua_State* L, const char* name) { lua_getfield(L, LUA_GLOBALSINDEX, name); }

void SetGlobal(lua_State* L, const char* name) { lua_setfield(L, LUA_GLOBALSINDEX, name); }

void Register(lua_State* L, const char* name, lua_CFunction function) {
    lua_pushcclosure(L, function, 0);
    SetGlobal(L, name);
}

void OpenLibrary(lua_State* L, const char* library, const luaL_Reg* functions) {
    if (library) {
        luaL_register(L, library, functions);   // extends the table when it exists (math)
    } else {
        lua_pushvalue(L, LUA_GLOBALSINDEX);
        luaL_register(L, nullptr, functions);
    }
    Pop(L, 1);
}

bool GetField(lua_State* L, std::string_view name) {
    PushText(L, name);
    lua_gettable(L, -2);
    if (lua_isnil(L, -1)) {
        Pop(L, 1);
        return false;
    }
    return true;
}

bool GetElement(lua_State* L, int index) {
    lua_pushinteger(L, index);
    lua_gettable(L, -2);
    if (lua_isnil(L, -1)) {
        Pop(L, 1);
        return false;
    }
    return true;
}

bool GetPath(lua_State* L, std::initializer_list<std::string_view> path) {
    if (path.size() == 0) return false;
    const int top = lua_gettop(L);
    bool first = true;
    for (std::string_view name : path) {
        if (first) {
            PushText(L, name);
            lua_gettable(L, LUA_GLOBALSINDEX);
            first = false;
        } else {
            if (!lua_istable(L, -1)) {
                lua_settop(L, top);
                return false;
            }
            PushText(L, name);
            lua_gettable(L, -2);
            lua_remove(L, -2);   // the intermediate table
        }
        if (lua_isnil(L, -1)) {
            lua_settop(L, top);
            return false;
        }
    }
    return true;
}

static int RunProtectedBody(lua_State* L) {
    const auto* body = static_cast<const std::function<void(lua_State*)>*>(lua_touserdata(L, 1));
    lua_settop(L, 0);
    std::string message;
    try {
        (*body)(L);
        return 0;
    } catch (const std::bad_alloc&) {
        message = "not enough memory";
    } catch (const std::exception& e) {
        message = e.what();
    }
    PushText(L, message);
    return lua_error(L);
}

int ProtectedCall(lua_State* L, const std::function<void(lua_State*)>& body, std::string* error) {
    const int status = lua_cpcall(L, RunProtectedBody, const_cast<std::function<void(lua_State*)>*>(&body));
    if (status != 0) {
        if (error) *error = ErrorText(L, -1);
        Pop(L, 1);
    }
    return status;
}

// ---- script handles ---------------------------------------------------------------------------

void PushHandle(lua_State* L, void* record) { lua_pushlightuserdata(L, record); }

void* ReadHandle(lua_State* L, int index) { return lua_touserdata(L, index); }
