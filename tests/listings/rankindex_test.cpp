// The rank index under long lists, against a plain vector.
#include "listings/rankindex.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <utility>
#include <vector>

namespace {

// The index against a plain vector: positional inserts, erasures and digest changes, with every rank
// checked now and then; then an ordered phase in which descents must find the same boundaries as a
// search of the vector. Enough entries for several levels of inner nodes, splits and collapses.
TEST(RankIndex, AgreesWithAVector) {
    std::mt19937 rng(99);
    TRankIndex index;
    std::vector<TRankIndex::Entry> model;
    auto payload = [](int v) { return reinterpret_cast<void*>(static_cast<uintptr_t>(v) * 16 + 16); };
    auto checkAll = [&](int step) {
        ASSERT_EQ(index.Count(), static_cast<int>(model.size())) << step;
        for (int r = 0; r < index.Count(); ++r) ASSERT_EQ(index.Select(r), model[r].Payload) << step << " rank " << r;
        EXPECT_EQ(index.Select(index.Count()), nullptr);
    };
    for (int step = 0; step < 160000; ++step) {
        const int op = static_cast<int>(rng() % 10);
        const int n = static_cast<int>(model.size());
        // grow to about 40000 entries, then shrink to nothing, so that nodes split and then collapse
        const bool growing = step < 80000;
        if (op < (growing ? 7 : 1)) {
            const int r = static_cast<int>(rng() % (n + 1));
            model.insert(model.begin() + r, {payload(step), 0});
            index.InsertAt(r, payload(step), 0);
        } else if (op < 9 && n > 0) {
            const int r = static_cast<int>(rng() % n);
            model.erase(model.begin() + r);
            index.EraseAt(r);
        } else if (n > 0) {
            const int r = static_cast<int>(rng() % n);
            model[r].Digest = rng();
            index.SetDigest(r, model[r].Digest);
        }
        if (step % 9973 == 0 || (!growing && model.size() < 40)) checkAll(step);
        if (HasFatalFailure()) return;
    }
    checkAll(-1);

    // ordered by digest: insert at the upper bound, descend for lower and upper bounds
    model.clear();
    index.Clear();
    auto lowerGoesRight = [](TCompareResult r) { return r == crGreater; };
    auto upperGoesRight = [](TCompareResult r) { return r != crLess; };
    auto verify = [&](uint64_t key, int step) {
        auto compare = [&](uint64_t digest, void*) {
            return key < digest ? crLess : key > digest ? crGreater : crEqual;
        };
        const auto lower = std::lower_bound(model.begin(), model.end(), key,
                                            [](const TRankIndex::Entry& e, uint64_t k) { return e.Digest < k; });
        const auto upper = std::upper_bound(model.begin(), model.end(), key,
                                            [](uint64_t k, const TRankIndex::Entry& e) { return k < e.Digest; });
        for (auto [goRight, expected] : {std::pair{+lowerGoesRight, lower}, std::pair{+upperGoesRight, upper}}) {
            const TRankIndex::Boundary b = index.Descend(compare, goRight);
            const int count = static_cast<int>(expected - model.begin());
            ASSERT_EQ(b.Count, count) << step;
            ASSERT_EQ(b.HasBefore ? b.Before.Payload : nullptr, count > 0 ? model[count - 1].Payload : nullptr) << step;
            ASSERT_EQ(b.HasAfter ? b.After.Payload : nullptr,
                      count < static_cast<int>(model.size()) ? model[count].Payload : nullptr)
                << step;
            if (b.HasAfter) {
                ASSERT_EQ(b.AtAfter, compare(b.After.Digest, b.After.Payload)) << step;
            }
        }
    };
    for (int step = 0; step < 30000; ++step) {
        const uint64_t key = rng() % 5000;
        verify(key, step);
        if (HasFatalFailure()) return;
        const int n = static_cast<int>(model.size());
        if (rng() % 8 == 0 && n > 0) {
            // a new digest that keeps the order, often on the first entry of a node after a rebuild
            // (which fills leaves with 22 entries)
            const int r = rng() % 2 ? static_cast<int>(rng() % n) : static_cast<int>(rng() % (n / 22 + 1)) * 22 % n;
            const uint64_t old = model[r].Digest;
            const uint64_t low = r > 0 ? model[r - 1].Digest : 0;
            const uint64_t high = r + 1 < n ? model[r + 1].Digest : 5000;
            model[r].Digest = rng() % 2 ? low : high;
            index.SetDigest(r, model[r].Digest);
            verify(old, step);
            verify(model[r].Digest, step);
        } else if (rng() % 4 == 0 && n > 0) {
            const int r = static_cast<int>(rng() % n);
            model.erase(model.begin() + r);
            index.EraseAt(r);
        } else {
            const auto upper = std::upper_bound(model.begin(), model.end(), key,
                                                [](uint64_t k, const TRankIndex::Entry& e) { return k < e.Digest; });
            const int at = static_cast<int>(upper - model.begin());
            model.insert(model.begin() + at, {payload(step), key});
            index.InsertAt(at, payload(step), key);
        }
        if (step % 10000 == 9999) {  // rebuilt from the vector, the index goes on as before
            index.Rebuild(model);
            checkAll(step);
        }
    }
    checkAll(-2);
}

}  // namespace
