// Downloads as a grabber makes them: a Lua loop in a script run by the engine calls HTTP.Get for
// 1,000 pages of 50 KB from the local test server, storing each in the script's cache (CacheAge 0:
// always downloaded), then reads the same pages back from the cache (CacheAge 365). Beside
// them, in the same run, the curl tool fetches the same URLs in one process over one kept-alive
// connection into /dev/null, and the same loop downloads without the cache.
//
//   build/bench/bench_http
//
// Goals: downloads into the cache within 1.5x curl's time; cache reads at least 10x faster than
// downloads. BM_Rounds runs the four in turn, round after round, so that load from elsewhere
// weighs on all alike; its counters are medians over the rounds (pages/s, and the ratios of each
// round's times). BM_FirstFill times the first download into the empty cache, where every page is
// a new file: that cost is the file system's (it depends on what else was deleted lately).
#include <benchmark/benchmark.h>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/uluagrabbers.h"
#include "scriptapi/luahelpers.h"
#include "tests/net/testservers.h"

using namespace testing_servers;

namespace {

namespace fs = std::filesystem;

constexpr int kPages = 1000;
constexpr int kPageSize = 50 * 1024;
constexpr int kRounds = 7;

const char* const kScript = R"lua(
Grabbers.bench = { Name = "Download benchmark", Encoding = 1 }

local function check(i, page, status, expected)
  if status ~= expected or string.len(page) ~= PageSize then
    error("page " .. i .. ": status " .. status .. ", " .. string.len(page) .. " bytes")
  end
end

-- Every page downloaded; with cached set, each stored in the cache as well.
function Download(g, cached)
  local get, urls, files = HTTP.Get, URLs, CacheFiles
  for i = 1, #urls do
    local page, status
    if cached then page, status = get(urls[i], g, nil, nil, files[i], 0)
    else page, status = get(urls[i], g) end
    check(i, page, status, 200)
  end
end

-- The same pages from the cache: any page of the last year is fresh.
function ReadCache(g)
  local get, urls, files = HTTP.Get, URLs, CacheFiles
  for i = 1, #urls do
    local page, status = get(urls[i], g, nil, nil, files[i], 365)
    check(i, page, status, 0)
  end
end
)lua";

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// A program folder with the script, an engine over it and the test server; the URLs and the
// cache names (ten day folders, as a grabber keeps them) are the script's globals.
class TBench {
public:
    TBench() {
        std::string pattern = (fs::temp_directory_path() / "tavrin-bench-http-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        FRoot = pattern + "/";
        fs::create_directories(FRoot + "scripts");
        fs::create_directories(FRoot + "settings");
        std::ofstream(FRoot + "scripts/bench.lua") << kScript;
        std::ofstream(FRoot + "settings/tavrin.ini") << "[Settings]\nSaveLog=0\n";
        for (int i = 0; i < kPages; ++i)
            FURLs.push_back(FServer.URL("/page?size=" + std::to_string(kPageSize) + "&id=" + std::to_string(i)));

        BaseDir = FRoot;
        SettingsDir = "settings";
        FEngine = std::make_unique<TLuaGrabbers>([this](const std::string& line) { FLog.push_back(line); }, nullptr);
        FGrabber = FEngine->Grabbers.FindByID("bench");
        if (!FGrabber) throw std::runtime_error("the benchmark script did not load");
        lua_State* L = FEngine->LuaState();
        lua_newtable(L);
        lua_newtable(L);
        for (int i = 0; i < kPages; ++i) {
            PushText(L, FURLs[i]);
            lua_rawseti(L, -3, i + 1);
            PushText(L, "day" + std::to_string(i % 10) + "/page" + std::to_string(i) + ".html");
            lua_rawseti(L, -2, i + 1);
        }
        SetGlobal(L, "CacheFiles");
        SetGlobal(L, "URLs");
        lua_pushnumber(L, kPageSize);
        SetGlobal(L, "PageSize");

        FCurlConfig = FRoot + "curl.config";
        std::ofstream out(FCurlConfig);
        for (const std::string& url : FURLs) out << "url = \"" << url << "\"\noutput = \"/dev/null\"\n";
    }
    ~TBench() {
        FEngine->Destroy();
        FEngine.reset();
        fs::remove_all(FRoot);
    }

    // Seconds of one call of the script's function with the grabber's handle. A failing page, or
    // a line in the log (a cache file not written, a download error), is an error.
    double Run(const char* function, bool cached = false) {
        lua_State* L = FEngine->LuaState();
        FLog.clear();
        const auto start = std::chrono::steady_clock::now();
        GetGlobal(L, function);
        PushHandle(L, FGrabber);
        lua_pushboolean(L, cached);
        if (lua_pcall(L, 2, 0, 0) != 0) {
            const std::string error = ReadText(L, -1);
            lua_pop(L, 1);
            throw std::runtime_error(error);
        }
        const double seconds = Seconds(start);
        if (!FLog.empty()) throw std::runtime_error(FLog.front());
        if (cached) Filled = true;
        return seconds;
    }

    // Seconds of the curl tool fetching every URL.
    double Curl() const {
        std::vector<std::string> args = {"curl", "--silent", "--show-error", "--fail", "--noproxy", "*",
                                         "--config", FCurlConfig};
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        const auto start = std::chrono::steady_clock::now();
        pid_t pid = 0;
        int status = 0;
        if (posix_spawnp(&pid, "curl", nullptr, nullptr, argv.data(), environ) != 0 || ::waitpid(pid, &status, 0) < 0 ||
            !WIFEXITED(status) || WEXITSTATUS(status) != 0)
            throw std::runtime_error("curl failed");
        return Seconds(start);
    }

    bool Filled = false;  // the cache holds every page

private:
    TServerProcess FServer{"httpserver.py"};
    std::string FRoot;
    std::vector<std::string> FURLs;
    std::string FCurlConfig;
    std::unique_ptr<TLuaGrabbers> FEngine;
    TLuaGrabber* FGrabber = nullptr;
    std::vector<std::string> FLog;
};

TBench& Bench() {
    static TBench bench;
    return bench;
}

void BM_FirstFill(benchmark::State& state) {
    TBench& bench = Bench();
    if (bench.Filled) {
        state.SkipWithError("the cache was filled before");
        return;
    }
    double seconds = 0;
    try {
        for (auto _ : state) seconds = bench.Run("Download", true);
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
        return;
    }
    state.counters["pages/s"] = kPages / seconds;
}
BENCHMARK(BM_FirstFill)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

void BM_Rounds(benchmark::State& state) {
    TBench& bench = Bench();
    std::vector<double> curl, plain, cached, reads, cachedOverCurl, plainOverCurl, cachedOverReads;
    try {
        if (!bench.Filled) bench.Run("Download", true);
        for (auto _ : state) {
            curl.push_back(bench.Curl());
            plain.push_back(bench.Run("Download", false));
            cached.push_back(bench.Run("Download", true));
            reads.push_back(bench.Run("ReadCache"));
            cachedOverCurl.push_back(cached.back() / curl.back());
            plainOverCurl.push_back(plain.back() / curl.back());
            cachedOverReads.push_back(cached.back() / reads.back());
        }
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
        return;
    }
    state.counters["curl_pages/s"] = kPages / Median(curl);
    state.counters["nocache_pages/s"] = kPages / Median(plain);
    state.counters["download_pages/s"] = kPages / Median(cached);  // into the cache
    state.counters["read_pages/s"] = kPages / Median(reads);       // from the cache
    state.counters["download/curl"] = Median(cachedOverCurl);      // goal: at most 1.5
    state.counters["nocache/curl"] = Median(plainOverCurl);
    state.counters["download/read"] = Median(cachedOverReads);     // goal: at least 10
}
BENCHMARK(BM_Rounds)->Unit(benchmark::kMillisecond)->Iterations(kRounds)->UseRealTime();

}  // namespace
