// UK_RT.ProcessPrograms against the same feed read in plain Lua (bench/uk_rt_lua_parser.lua), both
// called from a script and both ending in the grabber's programme list: 100 channels of 1,000
// programme lines each, 20-minute slots over a fortnight (100,000 lines). Reports lines per second
// for each and, in BM_NativeOverLua, how many times faster the native parser is (`speedup`).
//
//   build/bench/bench_uk_rt_lua
#include <benchmark/benchmark.h>

#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/uluagrabbers.h"
#include "listings/timezones.h"
#include "scriptapi/luahelpers.h"

namespace {

namespace fs = std::filesystem;

constexpr int kChannels = 100;
constexpr int kLinesPerChannel = 1000;   // 1,000 slots of 20 minutes: 13.9 days
constexpr int kLines = kChannels * kLinesPerChannel;

const char* const kScript = R"lua(
Grabbers.bench = { Name = "Benchmark", Encoding = 1 }

function RunNative(g)
  local process = UK_RT.ProcessPrograms
  for c = 1, #Pages do process(g, Channels[c], Pages[c], false) end
end

function RunLua(g)
  local process = LuaProcessPrograms
  for c = 1, #Pages do process(g, Channels[c], Pages[c], false) end
end
)lua";

const int kDaysInMonth[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

// One channel's page from 20 October 2006 06:00 local time, so that it crosses the October clock
// change and runs past midnight every day; films with certificates, stars and character*actor casts,
// series with episode fields and comma-separated casts, now and then a (BST) or (GMT) marker.
std::string ChannelPage(int channel) {
    std::string page;
    char line[1024];
    for (int slot = 0; slot < kLinesPerChannel; ++slot) {
        const int start = 6 * 60 + slot * 20, stop = start + 20;
        int day = 20 + start / (24 * 60), month = 10;
        while (day > kDaysInMonth[month - 1]) day -= kDaysInMonth[month++ - 1];
        const bool film = (slot + channel) % 7 == 0;
        const char* marker = slot % 50 == 0 ? " (BST)" : slot % 50 == 25 ? " (GMT)" : "";
        const char* cast = film ? "Detective*Ann Lee|Doctor*Bob Roe|Narrator*Cy Poe" : "Ann Lee, Bob Roe, Cy Poe";
        std::snprintf(line, sizeof line,
                      "%s %d-%d%s~%s~%s~%d~%s~%s~%s~~%s~%s~%s~~~%s~%d~%s~%s~"
                      "A description of the programme, long enough to be like the real ones: "
                      "somebody goes somewhere and something happens to them there.~~"
                      "%02d/%02d/2006~%02d:%02d~%02d:%02d~ %d \n",
                      film ? "Film" : "Series", channel, slot, marker, film ? "" : "The Episode",
                      film ? "" : (slot % 3 ? "3/12 - Part Three" : "7/8"), 1990 + slot % 30,
                      film ? "Jo Director" : "", cast, slot % 11 ? "false" : "true", slot % 3 ? "false" : "true",
                      slot % 2 ? "true" : "false", slot % 2 ? "true" : "false", slot % 13 ? "false" : "true",
                      film ? 4 : 0, film ? "15" : "", film ? "Film" : "Drama", day, month, start / 60 % 24,
                      start % 60, stop / 60 % 24, stop % 60, 20);
        page += line;
    }
    return page;
}

// A fresh programme list. Freeing the old one leaves glibc's allocator with deferred work (merging the
// freed small chunks) that it would otherwise do inside the next timed run; a request of a large
// block makes it do that here, without handing memory back to the system.
void FreshList(TLuaGrabber& grabber) {
    grabber.Programs = std::make_unique<TProgList>();
    void* large = std::malloc(64 * 1024);
    benchmark::DoNotOptimize(large);
    std::free(large);
}

// Processor time: the machine may be shared, and waiting for it is nobody's cost.
double CPUSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

std::string Stamp(const SYSTEMTIME& t) {
    char text[40];
    std::snprintf(text, sizeof text, "%u-%u-%u %u:%u:%u", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
    return text;
}

std::string Texts(const std::unique_ptr<TXMLTVStringList>& list) {
    std::string s;
    if (list)
        for (const TXMLTVString& t : *list) s += "[" + t.Value + "/" + t.Lang + "]";
    return s;
}

// Every part the feed can give, to hold the two parsers to the same records.
std::string Describe(const TProgram& p) {
    std::string s = p.Channel + "|" + Stamp(p.Start) + "|" + Stamp(p.Stop) + "|" + Texts(p.Title) + "|" +
                    Texts(p.Sub_Title) + "|" + Texts(p.Description) + "|" + Texts(p.Category) + "|" + p.Date + "|" +
                    std::to_string(p.Length) + "/" + std::to_string(p.Units) + "|" + ValueOf(p.Premiere) + "|" +
                    (p.PreviouslyShown ? "shown" : "") + "|" + std::to_string(p.Encoding) + "|";
    if (p.Episode)
        for (const TEpisode& e : *p.Episode) s += e.Number + "/" + e.System;
    if (p.Credits) {
        if (p.Credits->Director)
            for (const std::string& d : *p.Credits->Director) s += "D:" + d;
        if (p.Credits->Actor)
            for (const TCastMember& a : *p.Credits->Actor) s += "A:" + a.Actor + "*" + a.Character;
    }
    if (p.Video) s += "V:" + std::to_string(p.Video->Present) + std::to_string(p.Video->Colour) + p.Video->Aspect;
    if (p.Subtitles)
        for (const TXMLTVSubtitles& t : *p.Subtitles) s += "S:" + std::to_string(t.Type) + ValueOf(t.Lang);
    if (p.Rating)
        for (const TXMLTVRating& r : *p.Rating) s += "R:" + r.Value + r.System;
    if (p.StarRating) s += "*" + std::to_string(p.StarRating->Number) + "/" + std::to_string(p.StarRating->OutOf);
    return s;
}

// An engine over a scratch program folder holding the benchmark's script and the Lua parser, with
// the pages in the globals Pages and Channels.
class Bench {
public:
    Bench() {
        std::string pattern = (fs::temp_directory_path() / "tavrin-bench-ukrt-XXXXXX").string();
        FRoot = std::string(mkdtemp(pattern.data())) + "/";
        fs::create_directories(FRoot + "scripts");
        fs::create_directories(FRoot + "settings");
        std::ofstream(FRoot + "settings/tavrin.ini") << "[Settings]\nSaveLog=0\n";  // no log file in the working folder
        std::ofstream(FRoot + "scripts/bench.lua") << kScript;
        fs::copy_file(fs::path(TAVRIN_SOURCE_DIR) / "bench/uk_rt_lua_parser.lua", FRoot + "scripts/parser.lua");
        BaseDir = FRoot;
        Engine = std::make_unique<TLuaGrabbers>(nullptr, nullptr);
        Grabber = Engine->Grabbers.FindByID("bench");
        if (!Grabber) throw std::runtime_error("the benchmark script did not load");

        // The clock changes of 2006, whatever year the engine started in.
        SummerStart = SYSTEMTIME{2006, 3, 0, 26, 2, 0, 0, 0};
        SummerEnd = SYSTEMTIME{2006, 10, 0, 29, 2, 0, 0, 0};
        lua_State* L = Engine->LuaState();
        lua_pushnumber(L, SummerStart.wDay);
        SetGlobal(L, "SummerStartDay");
        lua_pushnumber(L, SummerEnd.wDay);
        SetGlobal(L, "SummerEndDay");
        lua_newtable(L);
        lua_newtable(L);
        for (int c = 0; c < kChannels; ++c) {
            PushText(L, ChannelPage(c));
            lua_rawseti(L, -3, c + 1);
            PushText(L, "ch" + std::to_string(c));
            lua_rawseti(L, -2, c + 1);
        }
        SetGlobal(L, "Channels");
        SetGlobal(L, "Pages");
    }
    ~Bench() {
        Engine->Destroy();
        Engine.reset();
        fs::remove_all(FRoot);
    }

    // Runs the global Lua function with the grabber's handle into an empty programme list.
    void Call(const char* function) {
        lua_State* L = Engine->LuaState();
        GetGlobal(L, function);
        PushHandle(L, Grabber);
        if (lua_pcall(L, 1, 0, 0) != 0) {
            const std::string error = ReadText(L, -1);
            lua_pop(L, 1);
            throw std::runtime_error(error);
        }
    }
    double Seconds(const char* function) {
        FreshList(*Grabber);
        const double start = CPUSeconds();
        Call(function);
        const double seconds = CPUSeconds() - start;
        if (Grabber->Programs->Count() != kLines) throw std::runtime_error("programmes were lost");
        return seconds;
    }

    std::vector<std::string> Records(const char* function) {
        Grabber->Programs = std::make_unique<TProgList>();
        Call(function);
        std::vector<std::string> records;
        for (const TProgram& p : *Grabber->Programs) records.push_back(Describe(p));
        return records;
    }

    std::unique_ptr<TLuaGrabbers> Engine;
    TLuaGrabber* Grabber = nullptr;

private:
    std::string FRoot;
};

Bench& TheBench() {
    static Bench bench;
    return bench;
}

// Both parsers must give the same records, or the comparison means nothing.
bool SameRecords(benchmark::State& state) {
    static const std::string mismatch = [] {
        const std::vector<std::string> native = TheBench().Records("RunNative");
        const std::vector<std::string> lua = TheBench().Records("RunLua");
        if (native.size() != lua.size()) return std::string("the parsers gave different numbers of programmes");
        for (size_t i = 0; i < native.size(); ++i)
            if (native[i] != lua[i]) return "programme " + std::to_string(i) + ": native " + native[i] + "\n lua " + lua[i];
        return std::string();
    }();
    if (mismatch.empty()) return true;
    state.SkipWithError(mismatch.c_str());
    return false;
}

void Run(benchmark::State& state, const char* function) {
    if (!SameRecords(state)) return;
    Bench& bench = TheBench();
    double seconds = 0;
    for (auto _ : state) {
        state.PauseTiming();
        FreshList(*bench.Grabber);
        state.ResumeTiming();
        const double start = CPUSeconds();
        bench.Call(function);
        seconds += CPUSeconds() - start;
    }
    state.SetItemsProcessed(int64_t(kLines) * state.iterations());
    state.counters["lines_per_s"] = double(kLines) * double(state.iterations()) / seconds;
}

void BM_UKRTProcessPrograms(benchmark::State& state) { Run(state, "RunNative"); }
void BM_LuaParser(benchmark::State& state) { Run(state, "RunLua"); }

// The two in turn, so that load from other processes weighs on both alike.
void BM_NativeOverLua(benchmark::State& state) {
    if (!SameRecords(state)) return;
    Bench& bench = TheBench();
    double native = 0, lua = 0;
    for (auto _ : state) {
        native += bench.Seconds("RunNative");
        lua += bench.Seconds("RunLua");
    }
    state.counters["native_lines_per_s"] = double(kLines) * double(state.iterations()) / native;
    state.counters["lua_lines_per_s"] = double(kLines) * double(state.iterations()) / lua;
    state.counters["speedup"] = lua / native;
}

BENCHMARK(BM_UKRTProcessPrograms)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_LuaParser)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_NativeOverLua)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
