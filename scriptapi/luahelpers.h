// The conventions every function of the script API shares: argument tests, the usage error, the
// stack helpers that read Lua tables, script handles and the guard that turns our own exceptions
// into Lua errors at the binding.
//
// Lua is Debian's C++ build: a Lua error unwinds C++ frames as an exception, so destructors run and
// RAII is safe across lua_error. Never catch (...) on a path a Lua error crosses without rethrowing.
#pragma once

#include <lua.hpp>

#include <cstdint>
#include <exception>
#include <functional>
#include <initializer_list>
#include <new>
#include <string>
#include <string_view>

// The two texts every API function carries for its error messages, and the fixed argument count it
// reports on every failing path (also when it accepts optional arguments).
struct Usage {
    const char* Name;   // short name, e.g. "GetSetting"
    const char* Text;   // e.g. "[Value] = Tvrn.GetSetting([Grabber],[Key],[Default])"
    int Expected;
};

// The message of the usage error, without raising it.
std::string FormatUsageError(int expected, int found, std::string_view name, std::string_view usage);

// Raises the usage error as a Lua error (no source position is added). Does not return.
[[noreturn]] void UsageError(lua_State* L, int expected, int found, const char* name, const char* usage);
// The same with the number found taken from the stack.
[[noreturn]] void UsageError(lua_State* L, const Usage& usage);

// Argument tests, each on one stack index.
enum class Arg {
    Number,   // a number, or a string convertible to one
    String,   // a string or a number
    Handle,   // a light or full userdata
    Table,
    Nil,
    Absent,   // nil, or no value at that index
    Boolean,
    Any,      // no test
};
bool ArgIs(lua_State* L, int index, Arg kind);

enum class ArgCount { Exact, AtLeast };

// Compares the number of arguments with the number of kinds (exactly, or at least), then tests each
// argument from the first; the first failure raises the usage error.
void CheckArgs(lua_State* L, const Usage& usage, std::initializer_list<Arg> kinds,
               ArgCount count = ArgCount::Exact);

// Whether an optional argument was given: it lies within the arguments passed and is not nil.
bool ArgGiven(lua_State* L, int index);

// ---- numbers ----------------------------------------------------------------------------------

// Truncation toward zero into 32 bits, saturating at the range ends (NaN gives 0).
int32_t TruncToInt32(double value);
int64_t TruncToInt64(double value);
int32_t IntArg(lua_State* L, int index);   // the number at index, truncated

// ---- stack helpers ----------------------------------------------------------------------------

void Pop(lua_State* L, int n);
void PushText(lua_State* L, std::string_view text);
// The string at index as bytes (NULs kept). A number is converted in place; anything else reads as
// the empty string.
std::string ReadText(lua_State* L, int index);
// The same text without a copy, valid while the value stays on the stack.
std::string_view TextView(lua_State* L, int index);
// The text of an error value as the log shows it: a string or number as it stands, anything else
// "(error object is a %s value)" with its type name, so error({}) does not log an empty line.
std::string ErrorText(lua_State* L, int index);
void GetGlobal(lua_State* L, const char* name);
void SetGlobal(lua_State* L, const char* name);   // pops the top value into the global
void Register(lua_State* L, const char* name, lua_CFunction function);
// Adds the functions of a name-to-function table (ended by an empty entry; no upvalues) to the
// global table `library`, which is created when missing; a null name adds them as globals.
void OpenLibrary(lua_State* L, const char* library, const luaL_Reg* functions);

// With a table on top: pushes table[name]. A nil value is popped again and the answer is false;
// otherwise the value stays on top (one extra value) and the answer is true. A top value that is
// not a table raises Lua's indexing error, as reading it from a script would.
bool GetField(lua_State* L, std::string_view name);
bool GetElement(lua_State* L, int index);
// Pushes the global named by the first element and descends through the rest. Answers false with
// the stack as it was on the first nil, and also where a step would index something that is not a
// table (this runs outside protected calls, where an indexing error would be a panic). Otherwise the
// final value alone is left on top.
bool GetPath(lua_State* L, std::initializer_list<std::string_view> path);

// Restores the stack height when a scope is left normally. While a Lua error unwinds through the
// scope it leaves the stack alone: Lua takes the error value from the top of the stack once the
// exception is caught, and the protected call resets the stack anyway.
class StackGuard {
public:
    explicit StackGuard(lua_State* L) : FL(L), FTop(lua_gettop(L)), FUnwinding(std::uncaught_exceptions()) {}
    ~StackGuard() {
        if (std::uncaught_exceptions() == FUnwinding) lua_settop(FL, FTop);
    }
    StackGuard(const StackGuard&) = delete;
    StackGuard& operator=(const StackGuard&) = delete;

private:
    lua_State* FL;
    int FTop;
    int FUnwinding;
};

// Runs `body` in protected mode (lua_cpcall): a Lua error raised in it, or an exception of ours
// (turned into one), ends it. Returns the Lua status, 0 on success; on failure `error` receives the
// error value's text. The body starts on a stack of its own, which is discarded afterwards.
int ProtectedCall(lua_State* L, const std::function<void(lua_State*)>& body, std::string* error = nullptr);

// ---- script handles ---------------------------------------------------------------------------

// A handle is a light userdata pointing at a script record; a null handle is a light userdata with
// a null pointer, which a script sees as a true value.
void PushHandle(lua_State* L, void* record);
void* ReadHandle(lua_State* L, int index);   // the pointer of any userdata at index, or null

// ---- the binding guard ------------------------------------------------------------------------

// Runs a binding; an exception of our own that would leave it becomes a Lua error with its message.
// Lua's own errors are not std::exception objects and pass through untouched.
template <int (*Function)(lua_State*)>
int Guarded(lua_State* L) {
    std::string message;
    try {
        return Function(L);
    } catch (const std::bad_alloc&) {
        message = "not enough memory";
    } catch (const std::exception& e) {
        message = e.what();
    }
    PushText(L, message);
    return lua_error(L);   // outside the handler: the caught exception is already gone
}
