// The rank index under the list container's long lists, with the store its nodes are cut from.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "listings/compareresult.h"

// An order-statistic index over the nodes of one chain: a counted B+ tree whose leaves hold the chain
// nodes in chain order (ranks count from 0). Positional access and searches over long lists use it
// instead of walking; it never changes what the list does, only how fast. Each entry may carry a digest
// of its item's key, compared before the item itself so that a search touches few items. Digests and
// chain nodes sit in separate arrays, so a search by digest reads half the bytes of a node, and a
// descent asks for all the lines of the next node at once instead of missing on them one by one.
class TRankIndex {
public:
    struct Entry {
        void* Payload;  // the chain node at this rank
        uint64_t Digest;
    };
    // Outcome of a descent: how many leading entries go right, and the entries just before and just
    // after that boundary (absent at the ends, or when the comparisons contradict the order).
    struct Boundary {
        int Count = 0;
        bool HasBefore = false;
        bool HasAfter = false;
        Entry Before{};
        Entry After{};
        TCompareResult AtAfter = crLess;  // the comparison with After
    };

    TRankIndex() = default;
    ~TRankIndex();
    TRankIndex(const TRankIndex&) = delete;
    TRankIndex& operator=(const TRankIndex&) = delete;

    int Count() const { return FCount; }
    // Changes with every change of the entries, so that a rank remembered from before can be checked.
    uint64_t Version() const { return FVersion; }
    void InsertAt(int rank, void* payload, uint64_t digest);
    void EraseAt(int rank);
    void* Select(int rank) const;
    void SetDigest(int rank, uint64_t digest);
    void Clear();
    // Takes the entries in their new order after the chain was reordered.
    void Rebuild(const std::vector<Entry>& entries);
    // Appends all entries to out, by rank.
    void CollectEntries(std::vector<Entry>& out) const;

    // Counts the leading entries for which goRight(compare(digest, payload)) holds, compare giving the
    // result of the key against an entry's item (it should read the payload only when the digest does
    // not decide); valid only while the chain is ordered, so that those entries form a prefix.
    // With keyDigest given, entries whose digest differs from it are placed by counting, without a
    // branch or a comparison: those whose digest lies below it (above it when `descending`) go right,
    // the others not; only entries with an equal digest are compared.
    template <class Cmp, class GoRight>
    Boundary Descend(Cmp compare, GoRight goRight, const uint64_t* keyDigest = nullptr,
                     bool descending = false) const {
        Boundary b;
        if (FCount == 0) return b;
        const void* node = FRoot;
        Prefetch(node, FHeight);
        for (int h = FHeight;; --h) {
            const Inner* inner = static_cast<const Inner*>(node);
            const Leaf* leaf = static_cast<const Leaf*>(node);
            const int n = h ? inner->Count : leaf->Count;
            const uint64_t* digests = h ? inner->FirstDigests : leaf->Digests;
            void* const* payloads = h ? inner->FirstPayloads : leaf->Payloads;
            int lo = 0, hi = n;  // the first entry that does not go right
            if (keyDigest) {
                const uint64_t key = *keyDigest;
                int below = 0, equal = 0;
                for (int i = 0; i < n; ++i) {
                    below += digests[i] < key;
                    equal += digests[i] == key;
                }
                lo = descending ? n - below - equal : below;
                hi = lo + equal;
            }
            TCompareResult atHi = crLess;  // what an entry placed by its digest alone compares as
            while (lo < hi) {
                const int mid = (lo + hi) / 2;
                const TCompareResult r = compare(digests[mid], payloads[mid]);
                if (goRight(r)) {
                    lo = mid + 1;
                } else {
                    hi = mid;
                    atHi = r;
                }
            }
            if (lo < n) {
                b.HasAfter = true;
                b.After = Entry{payloads[lo], digests[lo]};
                b.AtAfter = atHi;
            }
            if (lo == 0) return b;  // at the root: nothing goes right
            if (h == 0) {
                b.Count += lo;
                b.HasBefore = true;
                b.Before = Entry{payloads[lo - 1], digests[lo - 1]};
                return b;
            }
            node = inner->Children[lo - 1];  // its first entry goes right, so the boundary is inside it
            Prefetch(node, h - 1);
            for (int i = 0; i < lo - 1; ++i) b.Count += inner->Sizes[i];
        }
    }

private:
    // A leaf fills eight cache lines; smaller leaves make the tree deeper and larger ones make each
    // insertion move more, both slower for lists of a hundred thousand.
    static constexpr int kLeafMax = 30;
    static constexpr int kInnerMax = 30;
    // Line-aligned, so that a prefetched node costs its own lines only.
    static constexpr size_t kLineBytes = 64;
    struct alignas(kLineBytes) Leaf {
        int Count = 0;
        uint64_t Digests[kLeafMax];
        void* Payloads[kLeafMax];
    };
    struct alignas(kLineBytes) Inner {
        int Count = 0;
        int Total = 0;  // entries below
        uint64_t FirstDigests[kInnerMax];  // the first entry below each child
        void* FirstPayloads[kInnerMax];
        int Sizes[kInnerMax];  // entries below each child
        void* Children[kInnerMax];
    };
    static_assert(sizeof(Leaf) <= 512);

    // Asks for every line of the node at once: a search reads the digests or the chain nodes, an
    // insertion moves both, and the descent reads the sizes and children.
    static void Prefetch(const void* node, int height) {
        const char* from = static_cast<const char*>(node);
        const int bytes = height ? sizeof(Inner) : sizeof(Leaf);
        for (int at = 0; at < bytes; at += 64) __builtin_prefetch(from + at);
        __builtin_prefetch(from + bytes - 1);
    }
    static Entry FirstOf(const void* node, int height);
    static void Collect(const void* node, int height, std::vector<Entry>& out);
    static int SizeOf(const void* node, int height);
    void Release(void* node, bool inner);
    static void Describe(Inner* inner, int slot, int height);
    void* InsertInto(void* node, int height, int rank, const Entry& entry);
    bool EraseFrom(void* node, int height, int rank);

    // The node store: nodes are cut from blocks the index owns, each twice the size of the one before
    // (up to 256 KiB), so that a long list's index lies together instead of among its items, and a
    // descent stays within few pages. Freed nodes are reused; the blocks go when the index is cleared.
    Leaf* NewLeaf();
    Inner* NewInner();
    void* Carve(size_t bytes);
    void ReleaseBlocks();
    struct TBlock {
        TBlock* Next;
    };
    struct TFreeNode {
        TFreeNode* Next;
    };
    TBlock* FBlocks = nullptr;
    char* FFresh = nullptr;  // the unused rest of the newest block
    size_t FFreshLeft = 0;
    size_t FLastBlockBytes = 0;
    TFreeNode* FFreeLeaves = nullptr;
    TFreeNode* FFreeInners = nullptr;

    void* FRoot = nullptr;  // a Leaf when FHeight is 0, else an Inner
    int FHeight = 0;
    int FCount = 0;
    uint64_t FVersion = 0;
};
