#include "scriptapi/luahelpers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

struct LuaState {
    LuaState() : L(luaL_newstate()) { luaL_openlibs(L); }
    ~LuaState() { lua_close(L); }
    // Runs a chunk in protected mode; returns "ok" or the error text.
    std::string Run(const std::string& chunk) {
        if (luaL_loadstring(L, chunk.c_str()) != 0 || lua_pcall(L, 0, 0, 0) != 0) {
            std::string error = ReadText(L, -1);
            lua_pop(L, 1);
            return error;
        }
        return "ok";
    }
    lua_State* L;
};

TEST(UsageErrorTest, MessageForms) {
    struct Case {
        int expected, found;
        const char* name;
        const char* usage;
        const char* message;
    } cases[] = {
        {2, 1, "band", "[res]=math.band([num1],[num2])",
         "band, 1 parameters found, 2 parameters expected. Usage: \"[res]=math.band([num1],[num2])\""},
        {2, 2, "band", "[res]=math.band([num1],[num2])",
         "band, incorrect parameter type(s). Usage: \"[res]=math.band([num1],[num2])\""},
        {2, 3, "GetSetting", "[Value] = Tvrn.GetSetting([Grabber],[Key],[Default])",
         "GetSetting, 3 parameters found, 2 parameters expected. Usage: \"[Value] = "
         "Tvrn.GetSetting([Grabber],[Key],[Default])\""},
        {2, 1, "Post", "[Page] [Error] = HTTP.Post([URL],[PostVars],[Grabber],[Username],[Password],[CacheFile],[CacheAge])",
         "Post, 1 parameters found, 2 parameters expected. Usage: \"[Page] [Error] = "
         "HTTP.Post([URL],[PostVars],[Grabber],[Username],[Password],[CacheFile],[CacheAge])\""},
        {1, 0, "Print", "Print([Message])", "Print, 0 parameters found, 1 parameters expected. Usage: \"Print([Message])\""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FormatUsageError(c.expected, c.found, c.name, c.usage), c.message);
        // Raised through Lua, the same text arrives, without a source position.
        LuaState lua;
        lua_pushlightuserdata(lua.L, const_cast<Case*>(&c));
        lua_pushcclosure(
            lua.L,
            [](lua_State* L) -> int {
                const Case* k = static_cast<const Case*>(lua_touserdata(L, lua_upvalueindex(1)));
                UsageError(L, k->expected, k->found, k->name, k->usage);
            },
            1);
        lua_setglobal(lua.L, "fail");
        EXPECT_EQ(lua.Run("fail()"), c.message);
    }
}

// A probe function per usage: checks its arguments and returns nothing.
template <int Which>
int Probe(lua_State* L) {
    static const Usage band{"band", "[res]=math.band([num1],[num2])", 2};
    static const Usage getSetting{"GetSetting", "[Value] = Tvrn.GetSetting([Grabber],[Key],[Default])", 2};
    static const Usage addSetting{"AddSetting", "Tvrn.AddSetting([Grabber],[Key],[Type],[Default],[Name],[ExtraData])", 5};
    if (Which == 0) CheckArgs(L, band, {Arg::Number, Arg::Number});
    if (Which == 1) CheckArgs(L, getSetting, {Arg::Handle, Arg::Any}, ArgCount::AtLeast);
    if (Which == 2)
        CheckArgs(L, addSetting, {Arg::Handle, Arg::String, Arg::Number, Arg::String, Arg::String}, ArgCount::AtLeast);
    return 0;
}

TEST(CheckArgsTest, CountFirstThenTypes) {
    const std::string bandUsage = ". Usage: \"[res]=math.band([num1],[num2])\"";
    const std::string gsUsage = ". Usage: \"[Value] = Tvrn.GetSetting([Grabber],[Key],[Default])\"";
    const std::string asUsage = ". Usage: \"Tvrn.AddSetting([Grabber],[Key],[Type],[Default],[Name],[ExtraData])\"";
    struct Case {
        const char* call;
        std::string result;
    } cases[] = {
        {"band(1, 2)", "ok"},
        {"band('7', 2.5)", "ok"},   // a numeric text is a number
        {"band(1)", "band, 1 parameters found, 2 parameters expected" + bandUsage},
        {"band()", "band, 0 parameters found, 2 parameters expected" + bandUsage},
        {"band(1, 2, 3)", "band, 3 parameters found, 2 parameters expected" + bandUsage},
        {"band('x', 1)", "band, incorrect parameter type(s)" + bandUsage},
        {"band(1, nil)", "band, incorrect parameter type(s)" + bandUsage},
        {"band(nil, 'y')", "band, incorrect parameter type(s)" + bandUsage},
        {"gs(h, 'k')", "ok"},
        {"gs(h, 'k', 'd')", "ok"},
        {"gs(io.stdout, 'k')", "ok"},   // any userdata passes the type test
        {"gs(h)", "GetSetting, 1 parameters found, 2 parameters expected" + gsUsage},
        {"gs(1, 'k')", "GetSetting, incorrect parameter type(s)" + gsUsage},
        // A type fault with a count other than the fixed one reads as a count mismatch.
        {"gs(1, 'k', 'd')", "GetSetting, 3 parameters found, 2 parameters expected" + gsUsage},
        {"as(h, 'k', 1, 'd', 'n')", "ok"},
        {"as(h, 'k', '1', 2, 3, {})", "ok"},
        {"as(h, 'k', 1, 'd')", "AddSetting, 4 parameters found, 5 parameters expected" + asUsage},
        {"as(h, 'k', 'x', 'd', 'n')", "AddSetting, incorrect parameter type(s)" + asUsage},
        {"as(h, 'k', 'x', 'd', 'n', 'e')", "AddSetting, 6 parameters found, 5 parameters expected" + asUsage},
    };
    for (const Case& c : cases) {
        LuaState lua;
        lua_register(lua.L, "band", Guarded<Probe<0>>);
        lua_register(lua.L, "gs", Guarded<Probe<1>>);
        lua_register(lua.L, "as", Guarded<Probe<2>>);
        lua_pushlightuserdata(lua.L, nullptr);
        lua_setglobal(lua.L, "h");
        EXPECT_EQ(lua.Run(c.call), c.result) << c.call;
    }
}

TEST(ArgIsTest, TypeTests) {
    struct Case {
        int index;
        bool number, string, handle, table, nil, absent, boolean;
    } cases[] = {
        {1, false, false, false, false, true, true, false},    // nil
        {2, false, false, false, false, false, false, true},   // true
        {3, true, true, false, false, false, false, false},    // 12
        {4, true, true, false, false, false, false, false},    // '12'
        {5, false, true, false, false, false, false, false},   // 'x'
        {6, false, false, false, true, false, false, false},   // {}
        {7, false, false, false, false, false, false, false},  // print
        {8, false, false, true, false, false, false, false},   // io.stdout, a full userdata
        {9, false, false, true, false, false, false, false},   // the null handle
        {10, false, false, false, false, false, true, false},  // beyond the top: no value
    };
    LuaState lua;
    ASSERT_EQ(luaL_loadstring(lua.L, "return nil, true, 12, '12', 'x', {}, print, io.stdout"), 0);
    lua_call(lua.L, 0, 8);
    lua_pushlightuserdata(lua.L, nullptr);
    ASSERT_EQ(lua_gettop(lua.L), 9);
    for (const Case& c : cases) {
        EXPECT_EQ(ArgIs(lua.L, c.index, Arg::Number), c.number) << c.index;
        EXPECT_EQ(ArgIs(lua.L, c.index, Arg::String), c.string) << c.index;
        EXPECT_EQ(ArgIs(lua.L, c.index, Arg::Handle), c.handle) << c.index;
        EXPECT_EQ(ArgIs(lua.L, c.index, Arg::Table), c.table) << c.index;
        EXPECT_EQ(ArgIs(lua.L, c.index, Arg::Nil), c.nil) << c.index;
        EXPECT_EQ(ArgIs(lua.L, c.index, Arg::Absent), c.absent) << c.index;
        EXPECT_EQ(ArgIs(lua.L, c.index, Arg::Boolean), c.boolean) << c.index;
        EXPECT_TRUE(ArgIs(lua.L, c.index, Arg::Any));
    }
    EXPECT_TRUE(ArgGiven(lua.L, 3));
    EXPECT_FALSE(ArgGiven(lua.L, 1));    // nil passed explicitly
    EXPECT_FALSE(ArgGiven(lua.L, 10));   // beyond the arguments
}

TEST(TruncationTest, TowardZero) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        double value;
        int32_t as32;
        int64_t as64;
    } cases[] = {
        {7.99, 7, 7},
        {-0.5, 0, 0},
        {2.9, 2, 2},
        {-2.9, -2, -2},
        {4294967295.0, 2147483647, 4294967295LL},
        {-4294967296.5, -2147483647 - 1, -4294967296LL},
        // around the ends of each range
        {2147483646.9, 2147483646, 2147483646},
        {2147483647.0, 2147483647, 2147483647},
        {-2147483648.0, -2147483647 - 1, -2147483648LL},
        {-2147483648.9, -2147483647 - 1, -2147483648LL},
        {9223372036854775807.0, 2147483647, std::numeric_limits<int64_t>::max()},  // 2^63
        {-9223372036854775808.0, -2147483647 - 1, std::numeric_limits<int64_t>::min()},
        {1e300, 2147483647, std::numeric_limits<int64_t>::max()},
        {-1e300, -2147483647 - 1, std::numeric_limits<int64_t>::min()},
        {nan, 0, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TruncToInt32(c.value), c.as32) << c.value;
        EXPECT_EQ(TruncToInt64(c.value), c.as64) << c.value;
    }
}

TEST(ReadTextTest, BytesNumbersAndOthers) {
    struct Case {
        const char* expression;
        std::string text;
    } cases[] = {
        {"'a\\0b\\0'", std::string("a\0b\0", 4)},
        {"''", ""},
        {"12", "12"},
        {"1.5", "1.5"},
        {"-0.25", "-0.25"},
        {"{}", ""},
        {"nil", ""},
        {"true", ""},
        {"'\\128\\255'", "\x80\xff"},
    };
    for (const Case& c : cases) {
        LuaState lua;
        ASSERT_EQ(luaL_loadstring(lua.L, (std::string("return ") + c.expression).c_str()), 0);
        lua_call(lua.L, 0, 1);
        EXPECT_EQ(ReadText(lua.L, -1), c.text) << c.expression;
        EXPECT_EQ(lua_gettop(lua.L), 1);
    }
    LuaState lua;
    PushText(lua.L, std::string("x\0y", 3));
    EXPECT_EQ(lua_objlen(lua.L, -1), 3u);
}

TEST(StackHelpersTest, FieldsElementsAndPaths) {
    LuaState lua;
    ASSERT_EQ(lua.Run("T = { a = 1, b = { c = 'x', [2] = 'two' }, f = false }"), "ok");
    lua_State* L = lua.L;

    struct Case {
        std::vector<std::string> path;
        bool present;
        const char* text;
    } paths[] = {
        {{"T", "b", "c"}, true, "x"},
        {{"T", "a"}, true, "1"},
        {{"T", "f"}, true, ""},          // false is a value, not absence
        {{"T", "z", "c"}, false, ""},
        {{"T", "a", "c"}, false, ""},    // a number cannot be descended into
        {{"Nothing"}, false, ""},
        {{"T"}, true, ""},
    };
    for (const Case& c : paths) {
        lua_settop(L, 0);
        lua_pushinteger(L, 99);   // something below that must survive
        bool present = false;
        if (c.path.size() == 1) present = GetPath(L, {c.path[0]});
        else if (c.path.size() == 2) present = GetPath(L, {c.path[0], c.path[1]});
        else present = GetPath(L, {c.path[0], c.path[1], c.path[2]});
        EXPECT_EQ(present, c.present) << c.path.back();
        EXPECT_EQ(lua_gettop(L), c.present ? 2 : 1) << c.path.back();
        if (c.present && *c.text) {
            EXPECT_EQ(ReadText(L, -1), c.text);
        }
        EXPECT_EQ(lua_tointeger(L, 1), 99);
    }

    lua_settop(L, 0);
    GetGlobal(L, "T");
    ASSERT_TRUE(GetField(L, "b"));
    EXPECT_EQ(lua_gettop(L), 2);
    ASSERT_TRUE(GetElement(L, 2));
    EXPECT_EQ(ReadText(L, -1), "two");
    Pop(L, 1);
    EXPECT_FALSE(GetElement(L, 3));
    EXPECT_FALSE(GetField(L, "missing"));
    EXPECT_EQ(lua_gettop(L), 2);
    Pop(L, 2);
    EXPECT_EQ(lua_gettop(L), 0);

    PushText(L, "v");
    SetGlobal(L, "G");
    EXPECT_EQ(lua_gettop(L), 0);
    EXPECT_EQ(lua.Run("assert(G == 'v')"), "ok");
    Register(L, "Answer", [](lua_State* L) -> int {
        lua_pushinteger(L, 42);
        return 1;
    });
    EXPECT_EQ(lua.Run("assert(Answer() == 42)"), "ok");
}

// Objects alive at the moment: a binding that fails must leave none behind.
int gAlive = 0;
struct Tracked {
    Tracked() { ++gAlive; }
    ~Tracked() { --gAlive; }
    std::vector<std::string> payload{std::string(100, 'x'), std::string(200, 'y')};
};

int DeepUsageError(lua_State* L) {
    static const Usage usage{"Deep", "Deep([x])", 1};
    auto owned = std::make_unique<Tracked>();
    Tracked onStack;
    std::string big(1000, 'z');
    [&] {
        Tracked inner;
        CheckArgs(L, usage, {Arg::Table});
    }();
    return 0;
}

int ThrowsOurs(lua_State*) {
    Tracked t;
    throw std::runtime_error("Channel list corrupt");
}

int ThrowsBadAlloc(lua_State*) { throw std::bad_alloc(); }

TEST(GuardedTest, ErrorsLeaveNothingBehind) {
    struct Case {
        lua_CFunction function;
        const char* call;
        const char* result;
    } cases[] = {
        {Guarded<DeepUsageError>, "f(1)", "Deep, incorrect parameter type(s). Usage: \"Deep([x])\""},
        {Guarded<DeepUsageError>, "f()", "Deep, 0 parameters found, 1 parameters expected. Usage: \"Deep([x])\""},
        {Guarded<DeepUsageError>, "f({})", "ok"},
        {Guarded<ThrowsOurs>, "f()", "Channel list corrupt"},
        {Guarded<ThrowsBadAlloc>, "f()", "not enough memory"},
        // An error of ours inside a nested protected call stays there.
        {Guarded<ThrowsOurs>, "local ok, e = pcall(f); assert(not ok and e == 'Channel list corrupt')", "ok"},
    };
    for (const Case& c : cases) {
        LuaState lua;
        lua_register(lua.L, "f", c.function);
        EXPECT_EQ(lua.Run(c.call), c.result) << c.call;
        EXPECT_EQ(gAlive, 0) << c.call;
    }
}

TEST(ProtectedCallTest, StatusTextAndStack) {
    struct Case {
        std::function<void(lua_State*)> body;
        int status;
        const char* error;
    } cases[] = {
        {[](lua_State* L) { lua_pushinteger(L, 1); }, 0, ""},
        {[](lua_State* L) { luaL_error(L, "script failed"); }, LUA_ERRRUN, "script failed"},
        {[](lua_State*) { throw std::runtime_error("ours"); }, LUA_ERRRUN, "ours"},
        {[](lua_State* L) {
             Tracked t;
             lua_pushnil(L);
             lua_call(L, 0, 0);   // calling nil
         },
         LUA_ERRRUN, "attempt to call a nil value"},
    };
    for (const Case& c : cases) {
        LuaState lua;
        lua_pushinteger(lua.L, 7);
        std::string error;
        EXPECT_EQ(ProtectedCall(lua.L, c.body, &error), c.status);
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(lua_gettop(lua.L), 1);
        EXPECT_EQ(gAlive, 0);
    }
}

TEST(HandleTest, NullHandleIsATrueValue) {
    LuaState lua;
    int record = 0;
    PushHandle(lua.L, nullptr);
    lua_setglobal(lua.L, "none");
    PushHandle(lua.L, &record);
    lua_setglobal(lua.L, "some");
    EXPECT_EQ(lua.Run("assert(none ~= nil and type(none) == 'userdata'); if not none then error('false') end"), "ok");
    lua_getglobal(lua.L, "some");
    EXPECT_EQ(ReadHandle(lua.L, -1), &record);
    lua_getglobal(lua.L, "none");
    EXPECT_EQ(ReadHandle(lua.L, -1), nullptr);
    lua_pushinteger(lua.L, 5);
    EXPECT_EQ(ReadHandle(lua.L, -1), nullptr);
}

TEST(StackGuardTest, RestoresOnNormalExitAndKeepsTheErrorValue) {
    LuaState lua;
    lua_pushinteger(lua.L, 1);
    {
        StackGuard guard(lua.L);
        lua_pushinteger(lua.L, 2);
        lua_pushinteger(lua.L, 3);
    }
    EXPECT_EQ(lua_gettop(lua.L), 1);
    // Lowering the stack while an error unwinds would replace the error value by what lies on top.
    std::string error;
    ProtectedCall(
        lua.L,
        [&](lua_State* L) {
            lua_pushinteger(L, 1);
            StackGuard guard(L);
            lua_pushinteger(L, 2);
            luaL_error(L, "the real error");
        },
        &error);
    EXPECT_EQ(error, "the real error");
}

}  // namespace
