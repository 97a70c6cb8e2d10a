// Adding programmes with IDs to a grabber's list, and sorting a run's combined programmes.
#include "listings/uxmltvrecs.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <vector>

namespace {

std::vector<std::unique_ptr<TProgram>> MakeProgrammes(int n, uint32_t seed) {
    std::mt19937_64 rng(seed);
    std::vector<std::unique_ptr<TProgram>> out;
    out.reserve(n);
    for (int i = 0; i < n; ++i) {
        auto p = std::make_unique<TProgram>();
        char id[32];
        std::snprintf(id, sizeof id, "p%016llx", static_cast<unsigned long long>(rng()));  // distinct in practice
        p->ID = id;
        out.push_back(std::move(p));
    }
    return out;
}

// Adds n programmes with AddProgram, as a grabber's pass does; idOf(i, text) writes the i-th ID. A pass
// adds each programme right after building it, so the programmes are built in small batches just
// before they are added (untimed): a programme's own bytes are then as warm as in a grab, whatever n.
template <class IDOf>
void AddInBatches(benchmark::State& state, IDOf idOf) {
    const int n = static_cast<int>(state.range(0));
    constexpr int kBatch = 1000;
    std::vector<std::unique_ptr<TProgram>> batch;
    batch.reserve(kBatch);
    for (auto _ : state) {
        state.PauseTiming();
        {
            TProgList list;
            for (int done = 0; done < n; done += kBatch) {
                batch.clear();
                for (int i = done; i < n && i < done + kBatch; ++i) {
                    auto p = std::make_unique<TProgram>();
                    char id[64];
                    idOf(i, id);
                    p->ID = id;
                    batch.push_back(std::move(p));
                }
                state.ResumeTiming();
                for (auto& p : batch) list.AddProgram(std::move(p));
                // the list links what it put off when next used, so that is timed with the additions
                const int count = done + kBatch >= n ? list.Count() : n;
                state.PauseTiming();
                if (count != n) state.SkipWithError("duplicate IDs");
            }
        }
        state.ResumeTiming();
    }
}

// Distinct random IDs.
void BM_AddProgram(benchmark::State& state) {
    std::mt19937_64 rng(7);
    AddInBatches(state, [&](int, char (&id)[64]) {
        std::snprintf(id, sizeof id, "p%016llx", static_cast<unsigned long long>(rng()));
    });
}

// The IDs grabbers make ("<channel>-<start>"), added channel by channel in time order as a grab reads
// its pages: each programme lands right after the one before, in a list where the IDs of one channel
// share a long prefix.
void BM_AddProgramByChannel(benchmark::State& state) {
    constexpr int kChannels = 200;
    const int perChannel = static_cast<int>((state.range(0) + kChannels - 1) / kChannels);
    AddInBatches(state, [&](int i, char (&id)[64]) {
        const int slot = i % perChannel;  // half-hour slots from 1 June
        std::snprintf(id, sizeof id, "channel%03d.example.com-202406%02d%02d%02d", i / perChannel, 1 + slot / 48,
                      slot % 48 / 2, slot % 2 * 30);
    });
}

// The replacement rule on a plain list without the rank index, for comparison: quadratic.
void BM_AddProgramWalking(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        auto programmes = MakeProgrammes(n, 7);
        {
            TLinkList<TProgram> list(true);
            list.Sort(CompareProgramID, false);
            TProgram key;
            state.ResumeTiming();
            for (auto& p : programmes) {
                key.ID = p->ID;
                if (list.BinarySearch(key) == crEqual) list.DeleteCurrent();
                list.Add(std::move(p));
            }
            state.PauseTiming();
        }
        state.ResumeTiming();
    }
}

// 200 channels x 14 days of half-hour programmes in random order, sorted with "CAO".
void BM_SortProgramsCAO(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    constexpr int kChannels = 200;
    TChanList channels(false);
    for (int c = 0; c < kChannels; ++c) {
        auto ch = std::make_unique<TChannel>();
        char id[32];
        std::snprintf(id, sizeof id, "channel%03d.example.com", c);
        ch->ID = ch->XML_ID = id;
        channels.Append(std::move(ch));
    }
    std::mt19937 rng(11);
    for (auto _ : state) {
        state.PauseTiming();
        {
            TProgList list;
            for (int i = 0; i < n; ++i) {
                auto p = std::make_unique<TProgram>();
                p->XMLChannel = channels.GetItem(1 + static_cast<int>(rng() % kChannels))->XML_ID;
                const int slot = static_cast<int>(rng() % (14 * 48));  // half-hour slots over 14 days
                p->Start.wYear = p->Stop.wYear = 2024;
                p->Start.wMonth = p->Stop.wMonth = 6;
                p->Start.wDay = static_cast<uint16_t>(1 + slot / 48);
                p->Start.wHour = static_cast<uint16_t>(slot % 48 / 2);
                p->Start.wMinute = static_cast<uint16_t>(slot % 2 * 30);
                p->Stop = p->Start;
                p->Stop.wMinute = static_cast<uint16_t>(p->Stop.wMinute + 29);
                list.AddProgram(std::move(p));
            }
            benchmark::DoNotOptimize(list.Count());  // links what the list put off: only the sort is timed
            state.ResumeTiming();
            list.SortPrograms("CAO", false, &channels);
            state.PauseTiming();
        }
        state.ResumeTiming();
    }
}

// On a shared machine the fastest repetition is the one least disturbed; run with repetitions and
// random interleaving, and compare the sizes by their minimum.
double Fastest(const std::vector<double>& v) { return v.empty() ? 0 : *std::min_element(v.begin(), v.end()); }

}  // namespace

BENCHMARK(BM_AddProgram)
    ->Arg(25000)
    ->Arg(50000)
    ->Arg(100000)
    ->Arg(200000)
    ->Unit(benchmark::kMillisecond)
    ->ComputeStatistics("min", Fastest);
BENCHMARK(BM_AddProgramByChannel)->Arg(25000)->Arg(200000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AddProgramWalking)->Arg(10000)->Arg(20000)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_SortProgramsCAO)->Arg(200000)->Unit(benchmark::kMillisecond)->Iterations(5);
