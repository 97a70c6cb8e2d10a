// Writing 64 MiB through TBufferedFS in pieces of 16 to 200 bytes, against
// one fwrite of the same 64 MiB. Both create, fill and close a file in /tmp.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "listings/ubufferedfs.h"

namespace {

constexpr std::size_t Total = 64 << 20;

const std::string& Data() {
    static const std::string data = [] {
        std::string s(Total, '\0');
        std::mt19937 rng(1);
        for (char& c : s) c = char('a' + rng() % 26);
        return s;
    }();
    return data;
}

const std::vector<std::size_t>& Pieces() {
    static const std::vector<std::size_t> pieces = [] {
        std::vector<std::size_t> v;
        std::mt19937 rng(2);
        std::uniform_int_distribution<std::size_t> size(16, 200);
        std::size_t sum = 0;
        while (sum < Total) {
            const std::size_t n = std::min(size(rng), Total - sum);
            v.push_back(n);
            sum += n;
        }
        return v;
    }();
    return pieces;
}

std::string FileName() { return "/tmp/tavrin-bench-bufferedfs-" + std::to_string(::getpid()); }

void BM_BufferedPieces(benchmark::State& state) {
    const std::string& data = Data();
    const auto& pieces = Pieces();
    const std::string name = FileName();
    for (auto _ : state) {
        TBufferedFS fs(name, fmCreate);
        const char* p = data.data();
        for (std::size_t n : pieces) {
            fs.Write(p, n);
            p += n;
        }
        fs.Close();
    }
    ::unlink(name.c_str());
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(Total));
}
BENCHMARK(BM_BufferedPieces)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_OneFwrite(benchmark::State& state) {
    const std::string& data = Data();
    const std::string name = FileName();
    for (auto _ : state) {
        std::FILE* f = std::fopen(name.c_str(), "wb");
        if (!f || std::fwrite(data.data(), 1, data.size(), f) != data.size() || std::fclose(f) != 0) {
            state.SkipWithError("fwrite failed");
            break;
        }
    }
    ::unlink(name.c_str());
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(Total));
}
BENCHMARK(BM_OneFwrite)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
