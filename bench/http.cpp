// Downloads through the page functions against a local server, cache reads of the same pages, and
// the curl tool fetching the same URLs over one kept-alive connection, measured in the same run.
//
//   build/bench/bench_http
//
// Goals: 1,000 pages of 50 KB downloaded within 1.5x curl's time; read back from the cache at
// least 10x faster than downloaded. The last benchmark reports both ratios.
#include <benchmark/benchmark.h>

#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "scriptapi/uluafuncs_http.h"
#include "tests/scriptapi/testservers.h"

using namespace testing_servers;

namespace {

constexpr int kPages = 1000;
constexpr int kPageSize = 50 * 1024;
constexpr int64_t kStart = 1700000000000;

struct TSetup {
    TServerProcess Server{"httpserver.py"};
    TTempDir Base;
    std::vector<std::string> URLs;
    double PlainDownloadSeconds = 0, DownloadSeconds = 0, CacheSeconds = 0, CurlSeconds = 0;  // best runs

    TSetup() {
        for (int i = 0; i < kPages; ++i)
            URLs.push_back(Server.URL("/page?size=" + std::to_string(kPageSize) + "&id=" + std::to_string(i)));
    }
};

TSetup& Setup() {
    static TSetup setup;
    return setup;
}

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

void Record(double& best, double seconds) {
    if (best == 0 || seconds < best) best = seconds;
}

// Downloads every page (cache age 0 forces it); with state.range(0) set, stores each in the cache
// as a grab does. Each cache page is a new file renamed over the old one, which costs the file
// system an inode a page: the run without the cache shows the download path alone.
void BM_Download(benchmark::State& state) {
    TSetup& s = Setup();
    const bool cached = state.range(0) != 0;
    THTTPClient client;
    THTTPFunctions functions(client, s.Base.Path(), kStart);
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < kPages; ++i) {
            TPageRequest request;
            request.URL = s.URLs[i];
            request.ScriptID = "bench";
            if (cached) request.CacheFile = "day1/page" + std::to_string(i) + ".html";
            request.CacheAge = 0;
            const TPageResult r = functions.Get(request);
            if (r.Status != 200 || r.Page.size() != kPageSize) state.SkipWithError("download failed");
        }
        Record(cached ? s.DownloadSeconds : s.PlainDownloadSeconds, Seconds(start));
    }
    state.SetLabel(cached ? "into the cache" : "no cache");
    state.counters["pages/s"] = benchmark::Counter(kPages, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_Download)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_CacheRead(benchmark::State& state) {
    TSetup& s = Setup();
    THTTPClient client;
    THTTPFunctions functions(client, s.Base.Path(), kStart);
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < kPages; ++i) {
            TPageRequest request;
            request.URL = s.URLs[i];
            request.ScriptID = "bench";
            request.CacheFile = "day1/page" + std::to_string(i) + ".html";
            const TPageResult r = functions.Get(request);
            if (r.Status != 0 || r.Page.size() != kPageSize) state.SkipWithError("not served from the cache");
        }
        Record(s.CacheSeconds, Seconds(start));
    }
    state.counters["pages/s"] = benchmark::Counter(kPages, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_CacheRead)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// The curl tool with the 1,000 URLs in one config file: one process, one kept-alive connection.
void BM_CurlTool(benchmark::State& state) {
    TSetup& s = Setup();
    const std::string config = s.Base.Path() + "curl.config";
    {
        std::ofstream out(config);
        for (const std::string& url : s.URLs) out << "url = \"" << url << "\"\noutput = \"/dev/null\"\n";
    }
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        std::vector<std::string> args = {"curl", "--silent", "--show-error", "--fail", "--noproxy", "*",
                                         "--config", config};
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        pid_t pid = 0;
        int status = 0;
        if (posix_spawnp(&pid, "curl", nullptr, nullptr, argv.data(), environ) != 0 || ::waitpid(pid, &status, 0) < 0 ||
            !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("curl failed");
            break;
        }
        Record(s.CurlSeconds, Seconds(start));
    }
    state.counters["pages/s"] = benchmark::Counter(kPages, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_CurlTool)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// Reports the ratios of the best runs above: download time over curl's (goal at most 1.5; with
// and without the cache writes) and download time over cache-read time (goal at least 10).
void BM_Ratios(benchmark::State& state) {
    const TSetup& s = Setup();
    for (auto _ : state) benchmark::DoNotOptimize(s.DownloadSeconds);
    if (s.CurlSeconds > 0 && s.CacheSeconds > 0) {
        state.counters["download/curl"] = s.DownloadSeconds / s.CurlSeconds;
        state.counters["nocache/curl"] = s.PlainDownloadSeconds / s.CurlSeconds;
        state.counters["download/cache"] = s.DownloadSeconds / s.CacheSeconds;
    }
}
BENCHMARK(BM_Ratios)->Iterations(1);

}  // namespace
