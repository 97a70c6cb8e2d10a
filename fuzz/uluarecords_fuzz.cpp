// Fuzz target: the record reader on Lua values. The input is a small program that builds Lua values
// (numbers of every kind, strings, tables nested and shared, the record keys) in a fresh state; the
// value it leaves on top is read as a programme, a channel or a time table. Beyond not crashing, the
// reader must pop exactly its value, and a record written to a table and read back must keep its
// shape: what a script gets from the host it can hand back unchanged.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "fuzz/fuzzinput.h"
#include "scriptapi/uluarecords.h"

namespace {

// The keys of the record tables, so that short inputs reach deep into the reader.
const char* const kKeys[] = {
    "ID", "Channel", "Start", "Stop", "PDCStart", "VPSStart", "ShowView", "VideoPlus", "Clump", "Title",
    "Sub_Title", "Description", "Credits", "Date", "Category", "Lang", "OriginalLang", "Length", "Icon",
    "URL", "Country", "Episode", "Video", "Audio", "PreviouslyShown", "Premiere", "LastChance", "New",
    "Subtitles", "Rating", "StarRating", "Name", "XML_ID", "Value", "Source", "Width", "Height", "Year",
    "Month", "Day", "Hour", "Minute", "Second", "Director", "Actor", "Writer", "Adapter", "Producer",
    "Presenter", "Commentator", "Guest", "Character", "Number", "System", "Units", "Present", "Colour",
    "Aspect", "Quality", "Stereo", "Type", "OutOf",
};
constexpr int kKeyCount = static_cast<int>(sizeof kKeys / sizeof kKeys[0]);
constexpr int kMaxStack = 64;

struct TStateCloser {
    void operator()(lua_State* L) const { lua_close(L); }
};

// Runs the building program; leaves at least one value on the stack.
void Build(lua_State* L, TFuzzInput& in) {
    while (!in.Empty()) {
        const int top = lua_gettop(L);
        switch (in.Byte() % 11) {
            case 0: lua_pushnil(L); break;
            case 1: lua_pushboolean(L, in.Bit()); break;
            case 2: lua_pushnumber(L, static_cast<int8_t>(in.Byte())); break;
            case 3: lua_pushnumber(L, in.Double()); break;
            case 4: {
                const std::string text = in.Text();
                lua_pushlstring(L, text.data(), text.size());
                break;
            }
            case 5: lua_pushstring(L, kKeys[in.Byte() % kKeyCount]); break;
            case 6: lua_newtable(L); break;
            case 7:  // table key value: table[key] = value
                if (top >= 3 && lua_istable(L, -3) && !lua_isnil(L, -2) &&
                    !(lua_isnumber(L, -2) && std::isnan(lua_tonumber(L, -2)))) {
                    lua_rawset(L, -3);
                } else if (top >= 2) {
                    lua_pop(L, 2);
                }
                break;
            case 8: {  // table value: table[n] = value
                const int n = 1 + in.Byte() % 8;
                if (top >= 2 && lua_istable(L, -2)) lua_rawseti(L, -2, n);
                else if (top >= 1) lua_pop(L, 1);
                break;
            }
            case 9:  // a value further down again: tables get shared, and may hold themselves
                if (top >= 1) lua_pushvalue(L, -1 - static_cast<int>(in.Byte() % top));
                break;
            case 10:
                if (top >= 2) lua_pop(L, 1);
                break;
        }
        if (lua_gettop(L) > kMaxStack) lua_settop(L, kMaxStack / 2);
    }
    if (lua_gettop(L) == 0) lua_pushnil(L);
}

// A written table as text, keys in order; written tables are trees.
std::string Dump(lua_State* L, int index, int depth = 0) {
    FUZZ_CHECK(depth < 16, "a written table nested too deep");
    luaL_checkstack(L, 3, "dumping a table");
    switch (lua_type(L, index)) {
        case LUA_TNIL: return "nil";
        case LUA_TBOOLEAN: return lua_toboolean(L, index) ? "true" : "false";
        case LUA_TNUMBER: {
            char text[32];
            std::snprintf(text, sizeof text, "%.17g", lua_tonumber(L, index));
            return text;
        }
        case LUA_TSTRING: {
            size_t length = 0;
            const char* s = lua_tolstring(L, index, &length);
            return "\"" + std::string(s, length) + "\"";
        }
        case LUA_TTABLE: {
            std::vector<std::pair<std::string, std::string>> fields;
            const int table = index > 0 ? index : lua_gettop(L) + 1 + index;
            lua_pushnil(L);
            while (lua_next(L, table) != 0) {
                fields.emplace_back(Dump(L, -2, depth + 1), Dump(L, -1, depth + 1));
                lua_pop(L, 1);
            }
            std::sort(fields.begin(), fields.end());
            std::string out = "{";
            for (const auto& [key, value] : fields) out += key + "=" + value + ",";
            return out + "}";
        }
        default: FuzzFailure("a written table holds a " + std::string(luaL_typename(L, index)));
    }
}

// Reads the value on top, then writes the record and reads it back three times. The first way
// through may drop what a table holds but a record cannot (texts end at their first NUL, empty entries
// go); from then on the record must keep its shape.
template <class Read, class Push>
void ReadWriteRead(lua_State* L, Read read, Push push) {
    const int top = lua_gettop(L);
    auto record = read(L);
    FUZZ_CHECK(lua_gettop(L) == top - 1, "the reader did not pop exactly its value");
    if (!record) return;
    std::string written[3];
    for (std::string& text : written) {
        push(L, *record);
        text = Dump(L, -1);
        record = read(L);
        FUZZ_CHECK(record != nullptr, "a written table read as nothing");
    }
    FUZZ_CHECK(written[2] == written[1], "a record changed on its way through Lua:\n" + written[1] + "\n" + written[2]);
}

struct TRun {
    TFuzzInput* In;
};

int Run(lua_State* L) {
    TFuzzInput& in = *static_cast<TRun*>(lua_touserdata(L, 1))->In;
    lua_settop(L, 0);
    luaL_checkstack(L, kMaxStack + 1, "building values");  // a C function is promised 20 slots only
    const uint8_t kind = in.Byte() % 3;
    Build(L, in);
    const TRecordLog log = [](const std::string& line) { FUZZ_CHECK(!line.empty(), "an empty log line"); };
    if (kind == 0) {
        ReadWriteRead(L, [&](lua_State* S) { return ReadProgram(S, log); },
                      [](lua_State* S, const TProgram& p) { PushProgram(S, p); });
    } else if (kind == 1) {
        ReadWriteRead(L, [&](lua_State* S) { return ReadChannel(S, log); },
                      [](lua_State* S, const TChannel& c) { PushChannel(S, c); });
    } else {
        ReadWriteRead(L, [](lua_State* S) { return std::make_unique<SYSTEMTIME>(ReadTimeTable(S)); },
                      [](lua_State* S, const SYSTEMTIME& t) { PushTimeTable(S, t); });
    }
    return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::unique_ptr<lua_State, TStateCloser> state(luaL_newstate());
    FUZZ_CHECK(state != nullptr, "no Lua state");
    TFuzzInput in(data, size);
    TRun run{&in};
    // A reader's own error (indexing a value that is no table) is part of its contract; it must
    // leave the state usable.
    if (lua_cpcall(state.get(), Run, &run) != 0) {
        const char* message = lua_tostring(state.get(), -1);
        FUZZ_CHECK(message && std::string(message).rfind("attempt to index a ", 0) == 0,
                   std::string("unexpected error: ") + (message ? message : "(none)"));
    }
    return 0;
}
