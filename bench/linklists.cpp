// Sorting a long list: TLinkList::Sort against std::list::sort with the same comparison.
//
// Node placement in memory decides much of a linked-list sort's cost, and freed nodes come back from
// the allocator in scrambled order. So every variant is measured in two fair settings: "Fresh" (a new
// list whose nodes were allocated in order; lists are kept until the benchmark ends so that no variant
// gets another's freed nodes) and "Scattered" (one list re-sorted after its items got new random keys,
// so that its nodes lie in random order).
#include "listings/linklists.h"

#include <benchmark/benchmark.h>

#include <list>
#include <memory>
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

std::vector<Item> RandomItems(uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<Item> v(kItems);
    for (Item& it : v) it.Key = static_cast<int>(rng() % 1000000000);
    return v;
}

// Sorting with TLinkList, std::list of item pointers (the same node layout) and std::list of items.
struct LinkListVariant {
    using List = TLinkList<Item>;
    static void Fill(List& l, std::vector<Item>& items) {
        for (Item& it : items) l.Append(&it);
    }
    static void Sort(List& l) { l.Sort(CompareKey, false); }
    template <class F>
    static void ForEach(List& l, F f) {
        for (Item& it : l) f(it);
    }
};
struct StdPointerVariant {
    using List = std::list<Item*>;
    static void Fill(List& l, std::vector<Item>& items) {
        for (Item& it : items) l.push_back(&it);
    }
    static void Sort(List& l) {
        auto compare = CompareByPointer;
        l.sort([compare](const Item* a, const Item* b) { return compare(*a, *b) == crLess; });
    }
    template <class F>
    static void ForEach(List& l, F f) {
        for (Item* it : l) f(*it);
    }
};
struct StdInlinedVariant : StdPointerVariant {
    static void Sort(List& l) {
        l.sort([](const Item* a, const Item* b) { return CompareKey(*a, *b) == crLess; });
    }
};
struct StdValueVariant {
    using List = std::list<Item>;
    static void Fill(List& l, std::vector<Item>& items) { l.assign(items.begin(), items.end()); }
    static void Sort(List& l) {
        l.sort([](const Item& a, const Item& b) { return CompareKey(a, b) == crLess; });
    }
    template <class F>
    static void ForEach(List& l, F f) {
        for (Item& it : l) f(it);
    }
};

template <class V>
void BM_Fresh(benchmark::State& state) {
    std::vector<Item> items = RandomItems(42);
    std::vector<std::unique_ptr<typename V::List>> kept;
    for (auto _ : state) {
        state.PauseTiming();
        kept.push_back(std::make_unique<typename V::List>());
        V::Fill(*kept.back(), items);
        state.ResumeTiming();
        V::Sort(*kept.back());
    }
}

template <class V>
void BM_Scattered(benchmark::State& state) {
    std::vector<Item> items = RandomItems(42);
    typename V::List list;
    V::Fill(list, items);
    V::Sort(list);  // the nodes now lie in random order
    std::mt19937 rng(7);
    for (auto _ : state) {
        state.PauseTiming();
        V::ForEach(list, [&](Item& it) { it.Key = static_cast<int>(rng() % 1000000000); });
        state.ResumeTiming();
        V::Sort(list);
    }
}

}  // namespace

BENCHMARK(BM_Fresh<LinkListVariant>)->Name("Fresh/TLinkList::Sort")->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_Fresh<StdPointerVariant>)->Name("Fresh/std::list<Item*>::sort")->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_Fresh<StdInlinedVariant>)
    ->Name("Fresh/std::list<Item*>::sort,inlined")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);
BENCHMARK(BM_Fresh<StdValueVariant>)->Name("Fresh/std::list<Item>::sort,inlined")->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_Scattered<LinkListVariant>)->Name("Scattered/TLinkList::Sort")->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_Scattered<StdPointerVariant>)
    ->Name("Scattered/std::list<Item*>::sort")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);
BENCHMARK(BM_Scattered<StdInlinedVariant>)
    ->Name("Scattered/std::list<Item*>::sort,inlined")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);
BENCHMARK(BM_Scattered<StdValueVariant>)
    ->Name("Scattered/std::list<Item>::sort,inlined")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);
