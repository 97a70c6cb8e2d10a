// A whole grab through the engine: a generated grabber adds 100 channels × 14 days of programmes
// with IDs (50,400) from Lua tables in a type 1 pass; sorting is on and the XMLTV file is written.
// The counters give each phase's share, timed from the run's own log lines; BM_GrabLuaOnly runs the
// same script with Tvrn.AddProgram replaced by an empty Lua function, the script's own work alone.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>

#include "engine/uluagrabbers.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const int kChannels = 100;

struct TBenchFolder {
    TBenchFolder() {
        std::string pattern = (fs::temp_directory_path() / "tavrin-bench-XXXXXX").string();
        Root = std::string(mkdtemp(pattern.data())) + "/";
        fs::create_directories(Root + "scripts");
        fs::create_directories(Root + "settings/bench");
        fs::copy_file(fs::path(TAVRIN_SOURCE_DIR) / "bench/grabber.lua", Root + "scripts/bench.lua");
        std::ofstream(Root + "settings/tavrin.ini")
            << "[Settings]\nDoXMLSort=1\nSaveLog=0\nCharSet=3\nTimeZone=+01:00\n[Grabbers]\nbench=1\n";
        std::ofstream cache(Root + "settings/bench/channels.lua", std::ios::binary);
        std::ofstream user(Root + "settings/bench/userchannels.txt", std::ios::binary);
        cache << "function Grabbers.bench.GetChans(G)\r\n";
        for (int i = 0; i < kChannels; ++i) {
            const std::string id = "c" + std::to_string(1000 + i);
            cache << "Tvrn.AddChannel(G,{ID=\"" << id << "\",XML_ID=\"" << id << ".bench.tavrin\",Name=\"Channel "
                  << i << "\"})\r\n";
            user << id << "\r\n";
        }
        cache << "end\r\n";
    }
    ~TBenchFolder() { fs::remove_all(Root); }
    std::string Root;
};

void RunGrab(benchmark::State& state, bool luaOnly) {
    TBenchFolder folder;
    BaseDir = folder.Root;
    SettingsDir = "settings";
    std::map<std::string, Clock::time_point> marks;
    auto engine = std::make_unique<TLuaGrabbers>(
        [&](const std::string& line) { marks[line.size() > 11 ? line.substr(11) : line] = Clock::now(); }, nullptr);
    engine->OutFile = folder.Root + "out.xml";
    if (luaOnly) {
        lua_pushboolean(engine->LuaState(), 1);
        lua_setglobal(engine->LuaState(), "LUA_ONLY");
    }
    const auto seconds = [&](const char* from, const char* to) {
        return std::chrono::duration<double>(marks[to] - marks[from]).count();
    };
    double passes = 0, combining = 0, sorting = 0, writing = 0;
    for (auto _ : state) {
        marks.clear();
        const auto start = Clock::now();
        engine->Grab();
        marks["start"] = start;
        passes += seconds("start", "Starting pass 1 of grabber bench") +
                  seconds("Starting pass 1 of grabber bench", "   Finished pass 1 of grabber bench");
        if (!luaOnly) {
            combining += seconds("Combining Grabber Programs", "   Finished Combining Grabber Programs");
            sorting += seconds("Sorting Programs", "   Programs Sorted");
            writing += seconds("Writing XML", "   XML Written");
        }
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["passes_s"] = passes / n;
    if (!luaOnly) {
        state.counters["combine_s"] = combining / n;
        state.counters["sort_s"] = sorting / n;
        state.counters["write_s"] = writing / n;
        state.counters["host_s"] = (combining + sorting + writing) / n;
        state.counters["xml_MB"] = static_cast<double>(fs::file_size(folder.Root + "out.xml")) / 1e6;
    }
    engine->Destroy();
}

void BM_Grab(benchmark::State& state) { RunGrab(state, false); }
void BM_GrabLuaOnly(benchmark::State& state) { RunGrab(state, true); }

BENCHMARK(BM_Grab)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_GrabLuaOnly)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
