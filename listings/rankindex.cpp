// The rank index: inserting, erasing and selecting by rank in a counted B+ tree, rebuilding it in
// one pass, and the store its nodes are cut from. Listings layer, under the list container.
#include "listings/rankindex.h"

#include <algorithm>
#include <new>
#include <type_traits>

// ---- the rank index: a counted B+ tree; leaves hold the entries, inner nodes the sizes and first
// entries of their children. Nodes split when full; a node that becomes empty is dropped, and a root
// with a single child gives way to it. Underfull nodes are not merged: lists shrink by whole clears.

TRankIndex::~TRankIndex() { Clear(); }

TRankIndex::Entry TRankIndex::FirstOf(const void* node, int height) {
    if (height) {
        const Inner* inner = static_cast<const Inner*>(node);
        return Entry{inner->FirstPayloads[0], inner->FirstDigests[0]};
    }
    const Leaf* leaf = static_cast<const Leaf*>(node);
    return Entry{leaf->Payloads[0], leaf->Digests[0]};
}

int TRankIndex::SizeOf(const void* node, int height) {
    return height ? static_cast<const Inner*>(node)->Total : static_cast<const Leaf*>(node)->Count;
}

void* TRankIndex::Carve(size_t bytes) {
    constexpr size_t kHeader = (sizeof(TBlock) + kLineBytes - 1) / kLineBytes * kLineBytes;
    if (FFreshLeft < bytes) {
        const size_t size = FLastBlockBytes ? std::min<size_t>(FLastBlockBytes * 2, 256 * 1024) : 4096;
        void* raw = ::operator new(size, std::align_val_t{kLineBytes});
        TBlock* block = static_cast<TBlock*>(raw);
        block->Next = FBlocks;
        FBlocks = block;
        FLastBlockBytes = size;
        FFresh = static_cast<char*>(raw) + kHeader;
        FFreshLeft = size - kHeader;
    }
    void* at = FFresh;
    FFresh += bytes;
    FFreshLeft -= bytes;
    return at;
}

TRankIndex::Leaf* TRankIndex::NewLeaf() {
    void* at = FFreeLeaves;
    if (at) FFreeLeaves = FFreeLeaves->Next;
    else at = Carve(sizeof(Leaf));
    return new (at) Leaf;
}

TRankIndex::Inner* TRankIndex::NewInner() {
    void* at = FFreeInners;
    if (at) FFreeInners = FFreeInners->Next;
    else at = Carve(sizeof(Inner));
    return new (at) Inner;
}

void TRankIndex::ReleaseBlocks() {
    while (FBlocks) {
        TBlock* next = FBlocks->Next;
        ::operator delete(FBlocks, std::align_val_t{kLineBytes});
        FBlocks = next;
    }
    FFresh = nullptr;
    FFreshLeft = 0;
    FLastBlockBytes = 0;
    FFreeLeaves = FFreeInners = nullptr;
}

// Returns a node to the store (what lay below it is gone already or lives on elsewhere).
void TRankIndex::Release(void* node, bool inner) {
    static_assert(std::is_trivially_destructible_v<Leaf> && std::is_trivially_destructible_v<Inner>);
    TFreeNode*& list = inner ? FFreeInners : FFreeLeaves;
    list = new (node) TFreeNode{list};
}

void TRankIndex::Clear() {
    ++FVersion;
    ReleaseBlocks();
    FRoot = nullptr;
    FHeight = 0;
    FCount = 0;
}

namespace {

// Opens slot `at` in each of a node's parallel arrays holding `count` slots.
template <class... Arrays>
void OpenSlot(int at, int count, Arrays*... arrays) {
    (std::copy_backward(arrays + at, arrays + count, arrays + count + 1), ...);
}

// Closes slot `at` in each of a node's parallel arrays holding `count` slots.
template <class... Arrays>
void CloseSlot(int at, int count, Arrays*... arrays) {
    (std::copy(arrays + at + 1, arrays + count, arrays + at), ...);
}

}  // namespace

// Refreshes what an inner node records of its child at the slot.
void TRankIndex::Describe(Inner* inner, int slot, int height) {
    const void* child = inner->Children[slot];
    inner->Sizes[slot] = SizeOf(child, height - 1);
    const Entry first = FirstOf(child, height - 1);
    inner->FirstPayloads[slot] = first.Payload;
    inner->FirstDigests[slot] = first.Digest;
}

// Inserts the entry at the rank within the subtree; returns the new right sibling when the node split.
void* TRankIndex::InsertInto(void* node, int height, int rank, const Entry& entry) {
    if (height == 0) {
        Leaf* leaf = static_cast<Leaf*>(node);
        Leaf* right = nullptr;
        if (leaf->Count == kLeafMax) {
            right = NewLeaf();
            right->Count = kLeafMax / 2;
            leaf->Count = kLeafMax - right->Count;
            std::copy(leaf->Digests + leaf->Count, leaf->Digests + kLeafMax, right->Digests);
            std::copy(leaf->Payloads + leaf->Count, leaf->Payloads + kLeafMax, right->Payloads);
            if (rank > leaf->Count) {
                rank -= leaf->Count;
                leaf = right;
            }
        }
        OpenSlot(rank, leaf->Count, leaf->Digests, leaf->Payloads);
        leaf->Digests[rank] = entry.Digest;
        leaf->Payloads[rank] = entry.Payload;
        ++leaf->Count;
        return right;
    }
    Inner* inner = static_cast<Inner*>(node);
    int i = 0;
    while (i < inner->Count - 1 && rank > inner->Sizes[i]) rank -= inner->Sizes[i++];
    void* sibling = InsertInto(inner->Children[i], height - 1, rank, entry);
    Describe(inner, i, height);
    ++inner->Total;
    if (!sibling) return nullptr;
    // the sibling goes in after child i, splitting this node first when it is full
    Inner* target = inner;
    Inner* right = nullptr;
    int at = i + 1;
    if (inner->Count == kInnerMax) {
        right = NewInner();
        right->Count = kInnerMax / 2;
        inner->Count = kInnerMax - right->Count;
        const int from = inner->Count;
        std::copy(inner->Sizes + from, inner->Sizes + kInnerMax, right->Sizes);
        std::copy(inner->Children + from, inner->Children + kInnerMax, right->Children);
        std::copy(inner->FirstDigests + from, inner->FirstDigests + kInnerMax, right->FirstDigests);
        std::copy(inner->FirstPayloads + from, inner->FirstPayloads + kInnerMax, right->FirstPayloads);
        if (at > inner->Count) {
            at -= inner->Count;
            target = right;
        }
    }
    OpenSlot(at, target->Count, target->Sizes, target->Children, target->FirstDigests, target->FirstPayloads);
    target->Children[at] = sibling;
    Describe(target, at, height);
    ++target->Count;
    if (right) {
        inner->Total = 0;
        for (int k = 0; k < inner->Count; ++k) inner->Total += inner->Sizes[k];
        right->Total = 0;
        for (int k = 0; k < right->Count; ++k) right->Total += right->Sizes[k];
    }
    return right;
}

void TRankIndex::InsertAt(int rank, void* payload, uint64_t digest) {
    ++FVersion;
    if (rank < 0 || rank > FCount) return;
    if (!FRoot) {
        FRoot = NewLeaf();
        FHeight = 0;
    }
    void* sibling = InsertInto(FRoot, FHeight, rank, Entry{payload, digest});
    ++FCount;
    if (sibling) {
        Inner* root = NewInner();
        root->Count = 2;
        root->Children[0] = FRoot;
        root->Children[1] = sibling;
        ++FHeight;
        Describe(root, 0, FHeight);
        Describe(root, 1, FHeight);
        root->Total = FCount;
        FRoot = root;
    }
}

// Removes the entry at the rank within the subtree; true when the subtree is left empty.
bool TRankIndex::EraseFrom(void* node, int height, int rank) {
    if (height == 0) {
        Leaf* leaf = static_cast<Leaf*>(node);
        CloseSlot(rank, leaf->Count, leaf->Digests, leaf->Payloads);
        return --leaf->Count == 0;
    }
    Inner* inner = static_cast<Inner*>(node);
    int i = 0;
    while (rank >= inner->Sizes[i]) rank -= inner->Sizes[i++];
    void* child = inner->Children[i];
    --inner->Total;
    if (EraseFrom(child, height - 1, rank)) {
        Release(child, height > 1);
        CloseSlot(i, inner->Count, inner->Sizes, inner->Children, inner->FirstDigests, inner->FirstPayloads);
        return --inner->Count == 0;
    }
    Describe(inner, i, height);
    return false;
}

void TRankIndex::EraseAt(int rank) {
    ++FVersion;
    if (rank < 0 || rank >= FCount) return;
    --FCount;
    if (EraseFrom(FRoot, FHeight, rank)) {
        Clear();
        return;
    }
    while (FHeight > 0 && static_cast<Inner*>(FRoot)->Count == 1) {
        Inner* root = static_cast<Inner*>(FRoot);
        FRoot = root->Children[0];
        --FHeight;
        Release(root, true);
    }
}

void* TRankIndex::Select(int rank) const {
    if (rank < 0 || rank >= FCount) return nullptr;
    const void* node = FRoot;
    for (int h = FHeight; h > 0; --h) {
        const Inner* inner = static_cast<const Inner*>(node);
        int i = 0;
        while (rank >= inner->Sizes[i]) rank -= inner->Sizes[i++];
        node = inner->Children[i];
    }
    return static_cast<const Leaf*>(node)->Payloads[rank];
}

void TRankIndex::SetDigest(int rank, uint64_t digest) {
    ++FVersion;
    if (rank < 0 || rank >= FCount) return;
    Inner* path[32];
    int slot[32];
    void* node = FRoot;
    for (int h = FHeight; h > 0; --h) {
        Inner* inner = static_cast<Inner*>(node);
        int i = 0;
        while (rank >= inner->Sizes[i]) rank -= inner->Sizes[i++];
        path[h] = inner;
        slot[h] = i;
        node = inner->Children[i];
    }
    static_cast<Leaf*>(node)->Digests[rank] = digest;
    for (int h = 1; h <= FHeight; ++h) Describe(path[h], slot[h], h);
}

void TRankIndex::Collect(const void* node, int height, std::vector<Entry>& out) {
    if (height == 0) {
        const Leaf* leaf = static_cast<const Leaf*>(node);
        for (int i = 0; i < leaf->Count; ++i) out.push_back(Entry{leaf->Payloads[i], leaf->Digests[i]});
        return;
    }
    const Inner* inner = static_cast<const Inner*>(node);
    for (int i = 0; i < inner->Count; ++i) Collect(inner->Children[i], height - 1, out);
}

void TRankIndex::CollectEntries(std::vector<Entry>& out) const {
    if (FRoot) Collect(FRoot, FHeight, out);
}

// Builds the tree bottom up with nodes three quarters full, leaving room for insertions.
void TRankIndex::Rebuild(const std::vector<Entry>& entries) {
    ++FVersion;
    Clear();
    if (entries.empty()) return;
    std::vector<void*> level;
    const size_t leafFill = kLeafMax * 3 / 4;
    for (size_t at = 0; at < entries.size(); at += leafFill) {
        Leaf* leaf = NewLeaf();
        const size_t n = std::min(leafFill, entries.size() - at);
        for (size_t k = 0; k < n; ++k) {
            leaf->Payloads[k] = entries[at + k].Payload;
            leaf->Digests[k] = entries[at + k].Digest;
        }
        leaf->Count = static_cast<int>(n);
        level.push_back(leaf);
    }
    int height = 0;
    const size_t innerFill = kInnerMax * 3 / 4;
    while (level.size() > 1) {
        std::vector<void*> up;
        ++height;
        for (size_t at = 0; at < level.size(); at += innerFill) {
            Inner* inner = NewInner();
            const size_t n = std::min(innerFill, level.size() - at);
            for (size_t k = 0; k < n; ++k) {
                inner->Children[k] = level[at + k];
                Describe(inner, static_cast<int>(k), height);
                inner->Total += inner->Sizes[k];
            }
            inner->Count = static_cast<int>(n);
            up.push_back(inner);
        }
        level.swap(up);
    }
    FRoot = level[0];
    FHeight = height;
    FCount = static_cast<int>(entries.size());
}
