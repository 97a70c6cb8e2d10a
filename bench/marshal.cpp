// Marshalling throughput: 100,000 programme tables, the same listings as the XMLTV writer's benchmark,
// built in a Lua loop and read by Tvrn.AddProgram, then pushed back by Tvrn.GetProgram. Beside the
// programmes per second, each benchmark reports `per_build`: its time over the time of the bare
// Lua loop that only builds the tables (for AddProgram, the host's share alone: its time minus the
// building).
//
//   build/bench/bench_marshal
#include <benchmark/benchmark.h>

#include <time.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>

#include "engine/uluagrabbers.h"
#include "scriptapi/luahelpers.h"
#include "scriptapi/uluarecords.h"

namespace {

namespace fs = std::filesystem;

constexpr int ProgrammeCount = 100000;

// The listings of the writer's benchmark, as a script builds them: 100 channels, half-hour
// programmes from 1 June 2024 00:00 UTC.
const char* const kScript = R"lua(
local Description = "Zo\195\171 and Andr\195\169 leave Saint-\195\137tienne for a week on the coast near Besan\195\167on, where the "
  .. "caf\195\169 owners & the fishermen of the old harbours prepare for the summer festival. Meanwhile the family "
  .. "faces a difficult choice about the future of the farm, and an old friend returns with news that changes "
  .. "everything."
local floor = math.floor

local function Time(minutes)
  return {Year = 2024, Month = 6, Day = 1 + floor(minutes / 1440), Hour = floor(minutes % 1440 / 60),
          Minute = minutes % 60, Second = 0}
end

local function Build(i)
  local minutes = floor(i / 100) * 30
  local a = i % 41
  return {
    ID = "p" .. i, Channel = "c" .. (i % 100),
    Start = Time(minutes), Stop = Time(minutes + 30),
    Title = {Value = "The Programme " .. (i % 977), Lang = "en"},
    Sub_Title = {Value = "Part " .. (i % 13 + 1), Lang = "en"},
    Description = {Value = Description, Lang = "en"},
    Credits = {Director = "Director " .. (i % 31),
               Actor = {"Actor A" .. a, "Actor B" .. a, "Actor C" .. a, "Actor D" .. a, "Actor E" .. a}},
    Category = {{Value = "Drama", Lang = "en"}, {Value = "Series", Lang = "en"}},
    Episode = {Number = (i % 7) .. "." .. (i % 23) .. ".", System = "xmltv_ns"},
    Video = {Aspect = "16:9", Quality = "HDTV"},
    Audio = {Stereo = "stereo"},
    Rating = {Value = "15", System = "BBFC"},
    StarRating = {Number = 3, OutOf = 5},
  }
end

function BuildOnly(n)
  for i = 0, n - 1 do local t = Build(i) end
end

function AddAll(g, n)
  local add = Tvrn.AddProgram
  for i = 0, n - 1 do add(g, Build(i)) end
end

function ReadAll(n)
  local read = ReadOnly
  for i = 0, n - 1 do read(Build(i)) end
end

function GetAll(g, n)
  local get = Tvrn.GetProgram
  for i = 0, n - 1 do
    local p = get(g, "p" .. i)
  end
end

Grabbers.bench = { Name = "Benchmark", Encoding = 3 }
)lua";

// The conversion alone: the programme is read and freed.
int ReadOnly(lua_State* L) {
    lua_settop(L, 1);
    ReadProgram(L);
    return 0;
}

// Processor time: the machine may be shared, and waiting for it is nobody's cost.
double CPUSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// An engine over a scratch program folder holding the benchmark's script.
class Bench {
public:
    Bench() {
        std::string pattern = (fs::temp_directory_path() / "tavrin-bench-marshal-XXXXXX").string();
        FRoot = std::string(mkdtemp(pattern.data())) + "/";
        fs::create_directories(FRoot + "scripts");
        fs::create_directories(FRoot + "settings");
        std::ofstream(FRoot + "scripts/bench.lua") << kScript;
        BaseDir = FRoot;
        Engine = std::make_unique<TLuaGrabbers>(nullptr, nullptr);
        Grabber = Engine->Grabbers.FindByID("bench");
        Register(Engine->LuaState(), "ReadOnly", ReadOnly);
        if (!Grabber) throw std::runtime_error("the benchmark script did not load");
    }
    ~Bench() {
        Engine->Destroy();
        Engine.reset();
        fs::remove_all(FRoot);
    }

    // Calls the global Lua function with the grabber's handle (where it takes one) and the count.
    void Call(const char* function, bool withHandle) {
        lua_State* L = Engine->LuaState();
        GetGlobal(L, function);
        if (withHandle) PushHandle(L, Grabber);
        lua_pushnumber(L, ProgrammeCount);
        if (lua_pcall(L, withHandle ? 2 : 1, 0, 0) != 0) throw std::runtime_error(ReadText(L, -1));
    }

    double Seconds(const char* function, bool withHandle) {
        const double start = CPUSeconds();
        Call(function, withHandle);
        return CPUSeconds() - start;
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

// Each timed run is followed by a run of the bare building loop outside the timing, in the same
// state of the heap, and the ratio is taken over the sums: load from other processes then weighs on
// both sides alike.
struct TPaired {
    double Timed = 0;
    double Build = 0;
    void AddBuild(benchmark::State& state, Bench& bench) {
        state.PauseTiming();
        Build += bench.Seconds("BuildOnly", false);
        state.ResumeTiming();
    }
};

void BM_BuildTablesInLua(benchmark::State& state) {
    Bench& bench = TheBench();
    for (auto _ : state) bench.Call("BuildOnly", false);
    state.SetItemsProcessed(int64_t(ProgrammeCount) * state.iterations());
}

// The host's share of reading: ReadAll's time minus the building, over the building.
void BM_ReadProgram(benchmark::State& state) {
    Bench& bench = TheBench();
    TPaired paired;
    for (auto _ : state) {
        paired.Timed += bench.Seconds("ReadAll", false);
        paired.AddBuild(state, bench);
    }
    state.SetItemsProcessed(int64_t(ProgrammeCount) * state.iterations());
    state.counters["per_build"] = (paired.Timed - paired.Build) / paired.Build;
}

// The same with the list insertion of Tvrn.AddProgram.
void BM_AddProgram(benchmark::State& state) {
    Bench& bench = TheBench();
    TPaired paired;
    for (auto _ : state) {
        state.PauseTiming();
        bench.Grabber->Programs = std::make_unique<TProgList>();
        state.ResumeTiming();
        paired.Timed += bench.Seconds("AddAll", true);
        const double settling = CPUSeconds();  // the list links what it put off when next used
        benchmark::DoNotOptimize(bench.Grabber->Programs->Count());
        paired.Timed += CPUSeconds() - settling;
        paired.AddBuild(state, bench);
    }
    if (bench.Grabber->Programs->Count() != ProgrammeCount) state.SkipWithError("programmes were lost");
    state.SetItemsProcessed(int64_t(ProgrammeCount) * state.iterations());
    state.counters["per_build"] = (paired.Timed - paired.Build) / paired.Build;
}

// Pushing back: the loop that asks for each programme, over the building.
void BM_GetProgram(benchmark::State& state) {
    Bench& bench = TheBench();
    if (bench.Grabber->Programs->Count() != ProgrammeCount) {
        bench.Grabber->Programs = std::make_unique<TProgList>();
        bench.Call("AddAll", true);
    }
    TPaired paired;
    for (auto _ : state) {
        paired.Timed += bench.Seconds("GetAll", true);
        paired.AddBuild(state, bench);
    }
    state.SetItemsProcessed(int64_t(ProgrammeCount) * state.iterations());
    state.counters["per_build"] = paired.Timed / paired.Build;
}

BENCHMARK(BM_BuildTablesInLua)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ReadProgram)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_AddProgram)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_GetProgram)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace
