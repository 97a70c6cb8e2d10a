// Sorting a long list: TLinkList::Sort against std::list::sort with the same comparison.
#include "listings/linklists.h"

#include <benchmark/benchmark.h>

#include <list>
#include <random>
#include <vector>

namespace {

struct Item {
    int Key;
};

TCompareResult CompareKey(const Item& key, const Item& item) {
    return key.Key < item.Key ? crLess : key.Key > item.Key ? crGreater : crEqual;
}

// The comparison reached through a pointer, as the list reaches it; volatile keeps the compiler from
// inlining it into std::list::sort when measuring with equal call costs.
TCompareResult (*volatile CompareByPointer)(const Item&, const Item&) = CompareKey;

constexpr int kItems = 1000000;

const std::vector<Item>& Items() {
    static const std::vector<Item> items = [] {
        std::mt19937 rng(42);
        std::vector<Item> v(kItems);
        for (Item& it : v) it.Key = static_cast<int>(rng() % 1000000000);
        return v;
    }();
    return items;
}

void BM_TLinkListSort(benchmark::State& state) {
    std::vector<Item> items = Items();
    for (auto _ : state) {
        state.PauseTiming();
        {
            TLinkList<Item> list(false);  // borrows the items
            for (Item& it : items) list.Append(&it);
            state.ResumeTiming();
            list.Sort(CompareKey, false);
            state.PauseTiming();
            benchmark::DoNotOptimize(list.FirstItem());
        }
        state.ResumeTiming();
    }
}

// Same layout as the list (nodes holding item pointers), comparison called through a pointer.
void BM_StdListSortPointers(benchmark::State& state) {
    std::vector<Item> items = Items();
    for (auto _ : state) {
        state.PauseTiming();
        {
            std::list<Item*> list;
            for (Item& it : items) list.push_back(&it);
            auto compare = CompareByPointer;
            state.ResumeTiming();
            list.sort([compare](const Item* a, const Item* b) { return compare(*a, *b) == crLess; });
            state.PauseTiming();
            benchmark::DoNotOptimize(list.front());
        }
        state.ResumeTiming();
    }
}

// Same layout, comparison visible to the compiler (inlined).
void BM_StdListSortPointersInlined(benchmark::State& state) {
    std::vector<Item> items = Items();
    for (auto _ : state) {
        state.PauseTiming();
        {
            std::list<Item*> list;
            for (Item& it : items) list.push_back(&it);
            state.ResumeTiming();
            list.sort([](const Item* a, const Item* b) { return CompareKey(*a, *b) == crLess; });
            state.PauseTiming();
            benchmark::DoNotOptimize(list.front());
        }
        state.ResumeTiming();
    }
}

// Items held in the nodes themselves (one indirection fewer), comparison inlined.
void BM_StdListSortValues(benchmark::State& state) {
    const std::vector<Item>& items = Items();
    for (auto _ : state) {
        state.PauseTiming();
        {
            std::list<Item> list(items.begin(), items.end());
            state.ResumeTiming();
            list.sort([](const Item& a, const Item& b) { return CompareKey(a, b) == crLess; });
            state.PauseTiming();
            benchmark::DoNotOptimize(list.front());
        }
        state.ResumeTiming();
    }
}

}  // namespace

BENCHMARK(BM_TLinkListSort)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_StdListSortPointers)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_StdListSortPointersInlined)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_StdListSortValues)->Unit(benchmark::kMillisecond)->Iterations(10);
