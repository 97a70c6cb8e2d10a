#include "listings/recordstore.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

namespace {

// Records of many sizes made and freed in a random order: none overlaps another that is alive, and
// each keeps its bytes until it is freed.
TEST(RecordStore, LiveRecordsNeverShareBytes) {
    struct Live {
        unsigned char* P;
        std::size_t Size;
        unsigned char Fill;
    };
    std::mt19937 random(16);
    std::vector<Live> live;
    auto intact = [](const Live& r) {
        for (std::size_t i = 0; i < r.Size; ++i)
            if (r.P[i] != r.Fill) return false;
        return true;
    };
    for (int step = 0; step < 40000; ++step) {
        if (live.empty() || random() % 3 != 0) {
            const std::size_t size = 1 + random() % 600;  // also sizes beyond the store's largest
            const auto fill = static_cast<unsigned char>(random());
            auto* p = static_cast<unsigned char*>(recordstore::Allocate(size));
            ASSERT_EQ(reinterpret_cast<std::uintptr_t>(p) % 8, 0u);
            std::memset(p, fill, size);
            live.push_back({p, size, fill});
        } else {
            const std::size_t at = random() % live.size();
            ASSERT_TRUE(intact(live[at])) << "step " << step;
            recordstore::Free(live[at].P, live[at].Size);
            live[at] = live.back();
            live.pop_back();
        }
    }
    for (const Live& r : live) {
        EXPECT_TRUE(intact(r));
        recordstore::Free(r.P, r.Size);
    }
}

}  // namespace
