#include "listings/linklists.h"

#include <algorithm>
#include <cstdio>

namespace linklists_detail {

void RaiseIndexError(int index) {
    char text[64];
    std::snprintf(text, sizeof text, "List index out of bounds (%d)", index);
    throw EListError(text);
}

void RaiseListError(const char* message) { throw EListError(message); }

// ---- the rank index: a counted B+ tree; leaves hold the entries, inner nodes the sizes and first
// entries of their children. Nodes split when full; a node that becomes empty is dropped, and a root
// with a single child gives way to it. Underfull nodes are not merged: lists shrink by whole clears.

TRankIndex::~TRankIndex() { Clear(); }

TRankIndex::Entry TRankIndex::FirstOf(const void* node, int height) {
    return height ? static_cast<const Inner*>(node)->Firsts[0] : static_cast<const Leaf*>(node)->Items[0];
}

int TRankIndex::SizeOf(const void* node, int height) {
    return height ? static_cast<const Inner*>(node)->Total : static_cast<const Leaf*>(node)->Count;
}

void TRankIndex::Free(void* node, int height) {
    if (!node) return;
    if (height == 0) {
        delete static_cast<Leaf*>(node);
        return;
    }
    Inner* inner = static_cast<Inner*>(node);
    for (int i = 0; i < inner->Count; ++i) Free(inner->Children[i], height - 1);
    delete inner;
}

void TRankIndex::Clear() {
    Free(FRoot, FHeight);
    FRoot = nullptr;
    FHeight = 0;
    FCount = 0;
}

// Inserts the entry at the rank within the subtree; returns the new right sibling when the node split.
void* TRankIndex::InsertInto(void* node, int height, int rank, const Entry& entry) {
    if (height == 0) {
        Leaf* leaf = static_cast<Leaf*>(node);
        Leaf* right = nullptr;
        if (leaf->Count == kLeafMax) {
            right = new Leaf;
            right->Count = kLeafMax / 2;
            leaf->Count = kLeafMax - right->Count;
            std::copy(leaf->Items + leaf->Count, leaf->Items + kLeafMax, right->Items);
            if (rank > leaf->Count) {
                rank -= leaf->Count;
                leaf = right;
            }
        }
        std::copy_backward(leaf->Items + rank, leaf->Items + leaf->Count, leaf->Items + leaf->Count + 1);
        leaf->Items[rank] = entry;
        ++leaf->Count;
        return right;
    }
    Inner* inner = static_cast<Inner*>(node);
    int i = 0;
    while (i < inner->Count - 1 && rank > inner->Sizes[i]) rank -= inner->Sizes[i++];
    void* child = inner->Children[i];
    void* sibling = InsertInto(child, height - 1, rank, entry);
    inner->Sizes[i] = SizeOf(child, height - 1);
    inner->Firsts[i] = FirstOf(child, height - 1);
    ++inner->Total;
    if (!sibling) return nullptr;
    // the sibling goes in after child i, splitting this node first when it is full
    Inner* target = inner;
    Inner* right = nullptr;
    int at = i + 1;
    if (inner->Count == kInnerMax) {
        right = new Inner;
        right->Count = kInnerMax / 2;
        inner->Count = kInnerMax - right->Count;
        std::copy(inner->Sizes + inner->Count, inner->Sizes + kInnerMax, right->Sizes);
        std::copy(inner->Children + inner->Count, inner->Children + kInnerMax, right->Children);
        std::copy(inner->Firsts + inner->Count, inner->Firsts + kInnerMax, right->Firsts);
        if (at > inner->Count) {
            at -= inner->Count;
            target = right;
        }
    }
    std::copy_backward(target->Sizes + at, target->Sizes + target->Count, target->Sizes + target->Count + 1);
    std::copy_backward(target->Children + at, target->Children + target->Count, target->Children + target->Count + 1);
    std::copy_backward(target->Firsts + at, target->Firsts + target->Count, target->Firsts + target->Count + 1);
    target->Sizes[at] = SizeOf(sibling, height - 1);
    target->Children[at] = sibling;
    target->Firsts[at] = FirstOf(sibling, height - 1);
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
    if (rank < 0 || rank > FCount) return;
    if (!FRoot) {
        FRoot = new Leaf;
        FHeight = 0;
    }
    void* sibling = InsertInto(FRoot, FHeight, rank, Entry{payload, digest});
    ++FCount;
    if (sibling) {
        Inner* root = new Inner;
        root->Count = 2;
        root->Children[0] = FRoot;
        root->Children[1] = sibling;
        for (int k = 0; k < 2; ++k) {
            root->Sizes[k] = SizeOf(root->Children[k], FHeight);
            root->Firsts[k] = FirstOf(root->Children[k], FHeight);
        }
        root->Total = FCount;
        FRoot = root;
        ++FHeight;
    }
}

// Removes the entry at the rank within the subtree; true when the subtree is left empty.
bool TRankIndex::EraseFrom(void* node, int height, int rank) {
    if (height == 0) {
        Leaf* leaf = static_cast<Leaf*>(node);
        std::copy(leaf->Items + rank + 1, leaf->Items + leaf->Count, leaf->Items + rank);
        return --leaf->Count == 0;
    }
    Inner* inner = static_cast<Inner*>(node);
    int i = 0;
    while (rank >= inner->Sizes[i]) rank -= inner->Sizes[i++];
    void* child = inner->Children[i];
    --inner->Total;
    if (EraseFrom(child, height - 1, rank)) {
        Free(child, height - 1);
        std::copy(inner->Sizes + i + 1, inner->Sizes + inner->Count, inner->Sizes + i);
        std::copy(inner->Children + i + 1, inner->Children + inner->Count, inner->Children + i);
        std::copy(inner->Firsts + i + 1, inner->Firsts + inner->Count, inner->Firsts + i);
        return --inner->Count == 0;
    }
    --inner->Sizes[i];
    inner->Firsts[i] = FirstOf(child, height - 1);
    return false;
}

void TRankIndex::EraseAt(int rank) {
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
        delete root;
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
    return static_cast<const Leaf*>(node)->Items[rank].Payload;
}

void TRankIndex::SetDigest(int rank, uint64_t digest) {
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
    static_cast<Leaf*>(node)->Items[rank].Digest = digest;
    for (int h = 1; h <= FHeight; ++h) path[h]->Firsts[slot[h]] = FirstOf(path[h]->Children[slot[h]], h - 1);
}

// Builds the tree bottom up with nodes three quarters full, leaving room for insertions.
void TRankIndex::Rebuild(const std::vector<Entry>& entries) {
    Clear();
    if (entries.empty()) return;
    std::vector<void*> level;
    const size_t leafFill = kLeafMax * 3 / 4;
    for (size_t at = 0; at < entries.size(); at += leafFill) {
        Leaf* leaf = new Leaf;
        const size_t n = std::min(leafFill, entries.size() - at);
        std::copy(entries.begin() + at, entries.begin() + at + n, leaf->Items);
        leaf->Count = static_cast<int>(n);
        level.push_back(leaf);
    }
    int height = 0;
    const size_t innerFill = kInnerMax * 3 / 4;
    while (level.size() > 1) {
        std::vector<void*> up;
        for (size_t at = 0; at < level.size(); at += innerFill) {
            Inner* inner = new Inner;
            const size_t n = std::min(innerFill, level.size() - at);
            for (size_t k = 0; k < n; ++k) {
                inner->Children[k] = level[at + k];
                inner->Sizes[k] = SizeOf(level[at + k], height);
                inner->Firsts[k] = FirstOf(level[at + k], height);
                inner->Total += inner->Sizes[k];
            }
            inner->Count = static_cast<int>(n);
            up.push_back(inner);
        }
        level.swap(up);
        ++height;
    }
    FRoot = level[0];
    FHeight = height;
    FCount = static_cast<int>(entries.size());
}

}  // namespace linklists_detail

// ---- TStringList

std::string TStringList::FirstString() {
    const std::string* s = First();
    return s ? *s : std::string();
}

std::string TStringList::NextString() { return *Next(); }

// ---- TTagStack

void TTagStack::PushTag(uint8_t tag) {
    auto cell = std::make_unique<uint8_t>(tag);
    Push(cell.get());
    cell.release();
}

uint8_t TTagStack::PopTag() {
    std::unique_ptr<uint8_t> cell(Pop());
    if (!cell) linklists_detail::RaiseIndexError(0);
    return *cell;
}

uint8_t TTagStack::PeekTag() {
    const uint8_t* cell = Peek();
    if (!cell) linklists_detail::RaiseIndexError(0);
    return *cell;
}
