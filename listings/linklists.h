// The list container under every list of the system: a doubly linked chain with a current item,
// 1-based positions, an optional sort order with a binary search over it, and owned or borrowed items.
#pragma once

#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <functional>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "listings/compareresult.h"
#include "listings/rankindex.h"

// Raised for every misuse of a list: a bad position, searching without an order, replacing in an empty list.
class EListError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

namespace linklists_detail {

[[noreturn]] void RaiseIndexError(int index);  // "List index out of bounds (%d)"
[[noreturn]] void RaiseListError(const char* message);

}  // namespace linklists_detail

template <class T>
class TLinkList {
    struct TNode {
        TNode* Prev;
        TNode* Next;
        T* Item;
    };

public:
    // A comparison of (key, item); the sort compares two items with it. It must not throw.
    using TCompare = TCompareResult (*)(const T& key, const T& item);
    // The same for an order with state of its own (one chosen at run time): called with the context
    // given to Sort, which must stay alive while the list keeps that order.
    using TContextCompare = TCompareResult (*)(const void* context, const T& key, const T& item);
    using TFreeItem = std::function<void(T*)>;

    // An owning list destroys the items it removes, replaces or clears; a borrowing list hands them to
    // its disposal handler if it has one and otherwise leaves them alone.
    explicit TLinkList(bool ownsItems = false) : FOwnsItems(ownsItems) {}
    virtual ~TLinkList() { TLinkList::Clear(false); }
    TLinkList(const TLinkList&) = delete;
    TLinkList& operator=(const TLinkList&) = delete;

    // ---- navigation: each returns the item of the node it moves to, or none
    T* First() {
        Settle();
        FCurrent = FFirst;
        FPosition = 1;
        return ItemOf(FCurrent);
    }
    T* Last() {
        Settle();
        FCurrent = FLast;
        FPosition = FCount;
        return ItemOf(FCurrent);
    }
    T* Next() {
        Settle();
        if (FCount == 0 || FCurrent == FLast) linklists_detail::RaiseIndexError(FCount);
        FCurrent = FCurrent->Next;
        ++FPosition;
        return FCurrent->Item;
    }
    T* Prev() {
        Settle();
        if (FCurrent == FFirst) linklists_detail::RaiseIndexError(0);
        FCurrent = FCurrent->Prev;
        --FPosition;
        return FCurrent->Item;
    }
    T* Current() const {
        Settle();
        return ItemOf(FCurrent);
    }
    T* FirstItem() const {  // without moving
        Settle();
        return ItemOf(FFirst);
    }
    T* LastItem() const {  // without moving
        Settle();
        return ItemOf(FLast);
    }
    int CurrentIndex() const {
        Settle();
        return FPosition;
    }
    int Count() const {
        Settle();
        return FCount;
    }

    virtual T* GetItem(int position) {
        Settle();
        if (position == FPosition) return ItemOf(FCurrent);
        if (position < 1 || position > FCount) linklists_detail::RaiseIndexError(position);
        SeekTo(position);
        return FCurrent->Item;
    }

    // ---- insertion: the inserted item becomes current. Owning lists take the item when the call
    // returns normally; if it throws, the item is still the caller's.
    void Insert(T* item, bool before) {
        Settle();
        Link(item, before);
        FSorted = false;
        FInOrder = FCount <= 1;
    }
    void Append(T* item) {
        Last();
        Insert(item, false);
    }
    void Prepend(T* item) {
        First();
        Insert(item, true);
    }
    // Keeps the sorted mark: sorted insertion on a sorted list, insertion before the current item otherwise.
    virtual void Add(T* item) {
        Settle();
        if (FCount == 0) {
            const bool sorted = FSorted;
            Prepend(item);
            FSorted = sorted;
        } else if (FSorted) {
            InsertAtSearch(item, BinarySearch(*item));
        } else {
            Insert(item, true);
        }
    }
    void ReplaceCurrent(T* item) {
        Settle();
        if (FCount == 0) linklists_detail::RaiseListError("List is Empty, cannot replace data");
        T* old = FCurrent->Item;
        if (old == item) return;
        FCurrent->Item = item;
        FFinger = nullptr;
        if (FIndex && FDigest) FIndex->SetDigest(FPosition - 1, DigestOf(item));
        if (FCount > 1) FInOrder = false;
        Dispose(old);
    }
    // The same for items held by a std::unique_ptr (for owning lists): released only once linked.
    void Insert(std::unique_ptr<T> item, bool before) {
        Insert(item.get(), before);
        item.release();
    }
    void Append(std::unique_ptr<T> item) {
        Append(item.get());
        item.release();
    }
    void Prepend(std::unique_ptr<T> item) {
        Prepend(item.get());
        item.release();
    }
    void Add(std::unique_ptr<T> item) {
        Add(item.get());
        item.release();
    }
    void ReplaceCurrent(std::unique_ptr<T> item) {
        ReplaceCurrent(item.get());
        item.release();
    }

    // ---- removal
    // Returns the removed item when keepItem is set (it is the caller's then), otherwise none.
    virtual T* Remove(bool keepItem, int position) {
        Settle();
        GetItem(position);
        if (!FCurrent) return nullptr;  // an empty list whose position was asked for: nothing to remove
        TNode* node = FCurrent;
        if (FIndex) FIndex->EraseAt(FPosition - 1);
        if (node->Prev) node->Prev->Next = node->Next;
        else FFirst = node->Next;
        if (node->Next) node->Next->Prev = node->Prev;
        else FLast = node->Prev;
        if (!node->Prev) {
            FCurrent = FFirst;  // the new first node; the position stays
        } else {
            FCurrent = node->Prev;
            --FPosition;
        }
        --FCount;
        if (FCount <= 1) FInOrder = true;
        T* item = node->Item;
        FreeNode(node);
        if (keepItem) return item;
        Dispose(item);
        return nullptr;
    }
    virtual void Delete(int position) { Remove(false, position); }
    virtual void DeleteCurrent() {
        Settle();
        Delete(FPosition);
    }
    // Empties the list; the sorted mark, comparison and direction stay.
    virtual void Clear(bool keepItems = false) {
        Settle();
        TNode* node = FFirst;
        FFirst = FLast = FCurrent = nullptr;
        FCount = 0;
        FPosition = 0;
        FInOrder = true;
        if (FIndex) FIndex->Clear();
        if (FNodeBlocks) {
            struct TRelease {
                TLinkList* List;
                ~TRelease() { List->ReleaseNodeBlocks(); }
            } release{this};
            for (; node; node = node->Next)
                if (!keepItems) Dispose(node->Item);
            return;
        }
        while (node) {
            TNode* next = node->Next;
            T* item = node->Item;
            delete node;
            if (!keepItems) Dispose(item);
            node = next;
        }
    }
    // Swaps the items at two positions; the node at position2 is current afterwards.
    virtual void Exchange(int position1, int position2) {
        Settle();
        GetItem(position1);
        TNode* a = FCurrent;
        const int rankA = FPosition - 1;
        GetItem(position2);
        TNode* b = FCurrent;
        if (!a || !b || a == b) return;
        std::swap(a->Item, b->Item);
        FFinger = nullptr;
        if (FIndex && FDigest) {
            FIndex->SetDigest(rankA, DigestOf(a->Item));
            FIndex->SetDigest(FPosition - 1, DigestOf(b->Item));
        }
        FInOrder = false;
    }

    // ---- order and search
    // A top-down merge sort that relinks the nodes; items comparing equal come out in reverse order.
    virtual void Sort(TCompare compare, bool reverse = false) {
        Settle();
        if (FCount > 1) {
            if (!compare) linklists_detail::RaiseListError("List is unsorted");
            Relink(compare, reverse);
        }
        MarkSorted(compare, nullptr, nullptr, reverse);
    }
    void Sort(TContextCompare compare, const void* context, bool reverse = false) {
        Settle();
        if (FCount > 1) {
            if (!compare) linklists_detail::RaiseListError("List is unsorted");
            Relink([compare, context](const T& a, const T& b) { return compare(context, a, b); }, reverse);
        }
        MarkSorted(nullptr, compare, context, reverse);
    }
    TCompareResult Compare(const T& key, const T& item) const {
        TCompareResult r;
        if (FCompare) r = FCompare(key, item);
        else if (FContextCompare) r = FContextCompare(FContext, key, item);
        else linklists_detail::RaiseListError("List is unsorted");
        return FReverse ? InvertCompare(r) : r;
    }
    // Leaves the node of the last probe current.
    virtual TCompareResult BinarySearch(const T& key) {
        Settle();
        if (!FSorted) linklists_detail::RaiseListError("Cannot Binary Search Unsorted List");
        if (FCount == 0) return crLess;
        First();
        const TCompareResult atFirst = Compare(key, *FCurrent->Item);
        if (atFirst == crEqual) return crEqual;
        Last();
        const TCompareResult atLast = Compare(key, *FCurrent->Item);
        if (atLast == crEqual) return crEqual;
        if (atFirst == crLess) {
            First();
            return crLess;
        }
        if (atLast == crGreater) return crGreater;  // the last node is current already
        if (FIndex && FInOrder && FCompare && FCompare == FIndexedCompare) return IndexedSearch(key);
        int lo = 1, hi = FCount;
        TCompareResult r = crLess;
        while (r != crEqual && hi >= lo) {
            const int mid = (lo + hi) / 2;
            r = Compare(key, *GetItem(mid));
            if (r == crLess) hi = mid - 1;
            else if (r == crGreater) lo = mid + 1;
        }
        return r;
    }
    // Linear search from the first item with the given comparison (the list need not be sorted). On
    // success the found item is current; otherwise the last item is.
    template <class K, class Cmp>
    bool Find(const K& key, Cmp compare) {
        Settle();
        if (FCount == 0) return false;
        First();
        for (;;) {
            if (compare(key, *FCurrent->Item) == crEqual) return true;
            if (FCurrent == FLast) return false;
            FCurrent = FCurrent->Next;
            ++FPosition;
        }
    }

    bool Sorted() const { return FSorted; }
    TCompare Comparison() const { return FCompare; }  // none after a sort with a context
    bool Reversed() const { return FReverse; }
    bool OwnsItems() const { return FOwnsItems; }
    void SetOwnsItems(bool owns) {
        Settle();
        FOwnsItems = owns;
    }
    void SetOnFreeItem(TFreeItem handler) {
        Settle();
        FOnFreeItem = std::move(handler);
    }

    // ---- iteration in list order that leaves the current item alone
    template <class V>
    class TIterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = std::remove_const_t<V>;
        using difference_type = std::ptrdiff_t;
        using pointer = V*;
        using reference = V&;
        TIterator() = default;
        explicit TIterator(const TNode* node) : FNode(node) {}
        V& operator*() const { return *FNode->Item; }
        V* operator->() const { return FNode->Item; }
        TIterator& operator++() {
            FNode = FNode->Next;
            return *this;
        }
        TIterator operator++(int) {
            TIterator old = *this;
            FNode = FNode->Next;
            return old;
        }
        bool operator==(const TIterator& other) const { return FNode == other.FNode; }
        bool operator!=(const TIterator& other) const { return FNode != other.FNode; }

    private:
        const TNode* FNode = nullptr;
    };
    using iterator = TIterator<T>;
    using const_iterator = TIterator<const T>;
    iterator begin() {
        Settle();
        return iterator(FFirst);
    }
    iterator end() { return iterator(); }
    const_iterator begin() const {
        Settle();
        return const_iterator(FFirst);
    }
    const_iterator end() const { return const_iterator(); }

protected:
    // Keeps an order-statistic index beside the chain, so that positional access costs O(log n) and a
    // binary search with `searchable` over a list kept in order costs O(log n) node steps instead of
    // O(n). For long lists; nothing observable changes. `digest`, when given, maps an item to a number
    // whose order never contradicts `searchable`: digest(a) < digest(b) only if a orders before b.
    using TDigest = uint64_t (*)(const T& item);
    void EnableRankIndex(TCompare searchable, TDigest digest = nullptr) {
        if (FCount == 0) FPooledNodes = true;
        FIndexedCompare = searchable;
        FDigest = digest;
        FFinger = nullptr;
        FSearchAfter = nullptr;
        FSearchBetween = false;
        FIndex = std::make_unique<TRankIndex>();
        int rank = 0;
        for (TNode* n = FFirst; n; n = n->Next) FIndex->InsertAt(rank++, n, DigestOf(n->Item));
    }
    // A list may put off work on its items (see TProgList): while FUnsettled is set, every call that
    // looks at the list or changes it first has SettlePending do that work, so nothing can tell.
    bool FUnsettled = false;
    virtual void SettlePending() {}
    void Settle() const {
        if (FUnsettled) const_cast<TLinkList*>(this)->SettlePending();
    }

    // Whether MergeInOrder can take items now: an owning list in ascending order of the indexed
    // comparison, with digests.
    bool CanMergeInOrder() const {
        return FIndex && FDigest && FSorted && FInOrder && !FReverse && FOwnsItems && FCompare &&
               FCompare == FIndexedCompare;
    }
    struct TFresh {
        T* Item;
        uint64_t Digest;  // the digest of the item
    };
    // Links items in a single pass over the list: `fresh` must be in ascending order, and none of them
    // may compare equal to another. The result is what adding them one by one in the list's order
    // gives, with `current` (one of them) current. Returns false, having changed nothing, when the list
    // cannot take them so (see CanMergeInOrder) or when one compares equal to an item of the list.
    // Costs O(n + k) instead of k searches: for many items at once.
    bool MergeInOrder(const std::vector<TFresh>& fresh, const T* current) {
        using Entry = TRankIndex::Entry;
        if (!CanMergeInOrder() || fresh.empty()) return false;
        std::vector<Entry> old;
        old.reserve(FCount);
        FIndex->CollectEntries(old);
        // first the merged order, without touching the chain; fresh items get their nodes later
        std::vector<Entry> merged;
        merged.reserve(old.size() + fresh.size());
        std::vector<size_t> freshAt;  // where each fresh item goes in merged
        freshAt.reserve(fresh.size());
        size_t i = 0;
        for (const TFresh& f : fresh) {
            for (; i < old.size(); ++i) {
                const Entry& e = old[i];
                if (f.Digest < e.Digest) break;
                if (f.Digest == e.Digest) {
                    const TCompareResult r = FCompare(*f.Item, *static_cast<TNode*>(e.Payload)->Item);
                    if (r == crEqual) return false;
                    if (r == crLess) break;
                }
                merged.push_back(e);
            }
            freshAt.push_back(merged.size());
            merged.push_back(Entry{nullptr, f.Digest});
        }
        merged.insert(merged.end(), old.begin() + static_cast<std::ptrdiff_t>(i), old.end());
        // then the nodes, all before the first change, so that running out of memory changes nothing
        std::vector<TNode*> nodes;
        nodes.reserve(fresh.size());
        try {
            for (const TFresh& f : fresh) nodes.push_back(NewNode(f.Item));
        } catch (...) {
            for (TNode* n : nodes) {
                if (FPooledNodes) {
                    n->Next = FFreeNodes;
                    FFreeNodes = n;
                } else {
                    delete n;
                }
            }
            throw;
        }
        for (size_t k = 0; k < nodes.size(); ++k) merged[freshAt[k]].Payload = nodes[k];
        auto nodeAt = [&](size_t m) { return static_cast<TNode*>(merged[m].Payload); };
        FCurrent = nodeAt(0);
        FPosition = 1;
        for (size_t k = 0; k < nodes.size(); ++k) {
            const size_t m = freshAt[k];
            TNode* node = nodes[k];
            node->Prev = m > 0 ? nodeAt(m - 1) : nullptr;
            node->Next = m + 1 < merged.size() ? nodeAt(m + 1) : nullptr;
            if (node->Prev) node->Prev->Next = node;
            if (node->Next) node->Next->Prev = node;
            if (fresh[k].Item == current) {
                FCurrent = node;
                FPosition = static_cast<int>(m) + 1;
            }
        }
        FFirst = nodeAt(0);
        FLast = nodeAt(merged.size() - 1);
        FCount = static_cast<int>(merged.size());
        FFinger = nullptr;
        FSearchBefore = FSearchAfter = nullptr;
        FSearchBetween = false;
        try {
            FIndex->Rebuild(merged);
        } catch (...) {  // out of memory: drop the index rather than let it disagree with the chain
            FIndex.reset();
        }
        return true;
    }

    // The insertion that follows a BinarySearch for the item: before the node the search left current
    // unless the item is greater; the sorted mark is kept.
    void InsertAtSearch(T* item, TCompareResult searchResult) {
        const bool sorted = FSorted;
        const bool inOrder = FInOrder;
        Link(item, searchResult != crGreater);
        FSorted = sorted;
        FInOrder = inOrder;
    }

    void Dispose(T* item) {
        if (!item) return;
        if (FOwnsItems) delete item;
        else if (FOnFreeItem) FOnFreeItem(item);
    }

private:
    static T* ItemOf(const TNode* node) { return node ? node->Item : nullptr; }

    // Links a new node after (or before) the current one and makes it current.
    void Link(T* item, bool before) {
        TNode* node = NewNode(item);
        // An indexed search found the two nodes the new one goes between; linking them without reading
        // them leaves only stores to lines that may still be on their way.
        TNode* const at = FCurrent;
        if (FIndex && FSearchBetween && FSearchVersion == FIndex->Version() &&
            (before ? at == FSearchAfter : at == FSearchBefore)) {
            node->Prev = FSearchBefore;
            node->Next = FSearchAfter;
            FSearchBefore->Next = node;
            FSearchAfter->Prev = node;
            if (!before) ++FPosition;
        } else if (FCount == 0) {
            FFirst = FLast = node;
            FPosition = 1;
        } else if (before) {
            node->Prev = FCurrent->Prev;
            node->Next = FCurrent;
            if (FCurrent->Prev) FCurrent->Prev->Next = node;
            else FFirst = node;
            FCurrent->Prev = node;
        } else {
            node->Prev = FCurrent;
            node->Next = FCurrent->Next;
            if (FCurrent->Next) FCurrent->Next->Prev = node;
            else FLast = node;
            FCurrent->Next = node;
            ++FPosition;
        }
        FCurrent = node;
        ++FCount;
        if (FIndex) {
            try {
                const uint64_t digest = DigestOf(item);
                // the digest of the next node is known when the search that placed this one saw it
                FFingerNextDigestKnown = FSearchAfter && FSearchAfterDigestKnown && node->Next == FSearchAfter &&
                                         FSearchVersion == FIndex->Version();
                FFingerNextDigest = FSearchAfterDigest;
                FSearchAfter = nullptr;
                FSearchBetween = false;
                FIndex->InsertAt(FPosition - 1, node, digest);
                FFinger = node;
                FFingerDigest = digest;
                FFingerRank = FPosition - 1;
                FFingerVersion = FIndex->Version();
            } catch (...) {  // out of memory: drop the index rather than let it disagree with the chain
                FIndex.reset();
            }
        }
    }

    // Indexed lists are the long ones. Their chain nodes come from blocks the list owns, each twice
    // the size of the one before (up to 512 nodes): a long list makes a few allocations instead of
    // one per item, and its nodes lie together instead of wherever the allocator finds room after a
    // run of frees. Freed nodes are reused; the blocks go when the list becomes empty.
    TNode* NewNode(T* item) {
        if (!FPooledNodes) return new TNode{nullptr, nullptr, item};
        TNode* node = FFreeNodes;
        if (node) {
            FFreeNodes = node->Next;
        } else {
            if (FFreshLeft == 0) {
                const int size = FLastBlockSize ? std::min(FLastBlockSize * 2, 512) : 4;
                void* raw = ::operator new(sizeof(TNodeBlock) + size * sizeof(TNode));
                TNodeBlock* block = static_cast<TNodeBlock*>(raw);
                block->Next = FNodeBlocks;
                FNodeBlocks = block;
                FFreshNodes = reinterpret_cast<TNode*>(block + 1);
                FFreshLeft = size;
                FLastBlockSize = size;
            }
            node = FFreshNodes++;
            --FFreshLeft;
        }
        *node = TNode{nullptr, nullptr, item};
        return node;
    }
    void FreeNode(TNode* node) {
        if (!FPooledNodes) {
            delete node;
            return;
        }
        if (FCount == 0) {  // the last one
            ReleaseNodeBlocks();
            return;
        }
        node->Next = FFreeNodes;
        FFreeNodes = node;
    }
    void ReleaseNodeBlocks() {
        while (FNodeBlocks) {
            TNodeBlock* next = FNodeBlocks->Next;
            ::operator delete(FNodeBlocks);
            FNodeBlocks = next;
        }
        FFreeNodes = FFreshNodes = nullptr;
        FFreshLeft = 0;
        FLastBlockSize = 0;
    }

    // Moves to a valid position, from the nearest of first, last and current node.
    void SeekTo(int position) {
        const int d = std::abs(position - FPosition);
        if (FIndex && d > 32) {
            FCurrent = static_cast<TNode*>(FIndex->Select(position - 1));
            FPosition = position;
            return;
        }
        if (position <= d) {
            FCurrent = FFirst;
            FPosition = 1;
        } else if (d > FCount - position) {
            FCurrent = FLast;
            FPosition = FCount;
        }
        while (FPosition < position) {
            FCurrent = FCurrent->Next;
            ++FPosition;
        }
        while (FPosition > position) {
            FCurrent = FCurrent->Prev;
            --FPosition;
        }
    }

    uint64_t DigestOf(const T* item) const { return FDigest && item ? FDigest(*item) : 0; }

    // The probing loop of BinarySearch over a chain known to be in order: the outcome of comparing the
    // key with the item at a position follows from the number of items below the key and equal to it,
    // so the probes are replayed in integer arithmetic and only the last one is visited.
    TCompareResult IndexedSearch(const T& key) {
        int below = 0, equal = 0;
        TNode* before = nullptr;  // the nodes at ranks below - 1 and below, when known
        TNode* after = nullptr;
        // Grabbers mostly add a channel's programmes in order, each right after the one before, so the
        // gap after the last inserted node is tried first; it holds the key when the key falls strictly
        // between that node and the next, and then no item equals the key.
        // Unequal digests decide a comparison without visiting the item, which may lie anywhere in memory.
        const uint64_t keyDigest = DigestOf(&key);
        const bool byDigest = FDigest != nullptr;
        auto compareAt = [&](const uint64_t& digest, void* const& payload) {
            if (byDigest && keyDigest != digest) {
                const TCompareResult r = keyDigest < digest ? crLess : crGreater;
                return FReverse ? InvertCompare(r) : r;
            }
            return Compare(key, *static_cast<TNode*>(payload)->Item);
        };
        const bool fingerValid = FFinger && FIndex->Version() == FFingerVersion;
        const bool fromFinger =
            fingerValid && compareAt(FFingerDigest, FFinger) == crGreater &&
            (!FFinger->Next || (FFingerNextDigestKnown ? compareAt(FFingerNextDigest, FFinger->Next)
                                                       : Compare(key, *FFinger->Next->Item)) == crLess);
        if (fromFinger) {
            below = FFingerRank + 1;
            before = FFinger;
            after = FFinger->Next;
            FSearchBefore = before;
            FSearchAfter = after;
            FSearchAfterDigestKnown = FFingerNextDigestKnown;
            FSearchAfterDigest = FFingerNextDigest;
        } else {
            const uint64_t* byCount = byDigest ? &keyDigest : nullptr;
            const TRankIndex::Boundary lower =
                FIndex->Descend(compareAt, [](TCompareResult r) { return r == crGreater; }, byCount, FReverse);
            if (lower.HasBefore) before = static_cast<TNode*>(lower.Before.Payload);
            if (lower.HasAfter) after = static_cast<TNode*>(lower.After.Payload);
            FSearchBefore = before;
            FSearchAfter = after;
            FSearchAfterDigestKnown = lower.HasAfter;
            FSearchAfterDigest = lower.After.Digest;
            // an insertion that follows links between these two nodes
            __builtin_prefetch(before, 1);
            __builtin_prefetch(after, 1);
            below = lower.Count;
            if (lower.HasAfter && lower.AtAfter == crEqual)
                equal = FIndex->Descend(compareAt, [](TCompareResult r) { return r != crLess; }, byCount, FReverse)
                            .Count -
                        below;
        }
        int lo = 1, hi = FCount, mid = FPosition;
        TCompareResult r = crLess;
        if (fromFinger) {
            // insertions one after the other repeat the outcomes of the probes, which branches predict
            while (r != crEqual && hi >= lo) {
                mid = (lo + hi) / 2;
                r = mid <= below ? crGreater : mid <= below + equal ? crEqual : crLess;
                if (r == crLess) hi = mid - 1;
                else if (r == crGreater) lo = mid + 1;
            }
        } else {
            while (hi >= lo) {  // without branches on the outcome of a probe: it is a coin toss each time
                mid = (lo + hi) / 2;
                const bool right = mid <= below;
                if (!right && mid <= below + equal) {
                    r = crEqual;
                    break;
                }
                r = right ? crGreater : crLess;
                lo = right ? mid + 1 : lo;
                hi = right ? hi : mid - 1;
            }
        }
        // the last probe is next to the boundary, unless it fell inside a run of equal items
        TNode* at = mid == below ? before : mid == below + 1 ? after : nullptr;
        FCurrent = at ? at : static_cast<TNode*>(FIndex->Select(mid - 1));
        FPosition = mid;
        FSearchVersion = FIndex->Version();
        FSearchBetween = before && after && equal == 0;  // then they are neighbours in the chain
        return r;
    }

    // Digests serve only searches in the order they were made for, so a list sorted in another order
    // leaves them out (a later sort in that order rebuilds them).
    void RebuildIndex(TCompare order) {
        std::vector<TRankIndex::Entry> entries;
        entries.reserve(FCount);
        const bool digests = order && order == FIndexedCompare;
        for (TNode* n = FFirst; n; n = n->Next) entries.push_back({n, digests ? DigestOf(n->Item) : 0});
        FIndex->Rebuild(entries);
    }

    template <bool Reverse, class Cmp>
    struct TakeLeft {
        Cmp compare;
        bool operator()(const T& left, const T& right) const {
            return compare(left, right) == (Reverse ? crGreater : crLess);
        }
    };

    // Puts the nodes (more than one) in the order of `compare`, a function of two items.
    template <class Cmp>
    void Relink(const Cmp& compare, bool reverse) {
        TNode* cursor = FFirst;
        TNode* tail = nullptr;
        TNode* head = reverse ? SortRun(cursor, FCount, TakeLeft<true, Cmp>{compare}, tail)
                              : SortRun(cursor, FCount, TakeLeft<false, Cmp>{compare}, tail);
        head->Prev = nullptr;
        FFirst = head;
        FLast = tail;
        FCurrent = FFirst;
        FPosition = 1;
    }

    void MarkSorted(TCompare compare, TContextCompare contextCompare, const void* context, bool reverse) {
        if (FIndex) {  // also for fewer than two items: their digests must suit the new order
            try {
                RebuildIndex(compare);
            } catch (...) {  // out of memory: drop the index rather than let it disagree with the chain
                FIndex.reset();
            }
        }
        FSorted = true;
        FCompare = compare;
        FContextCompare = contextCompare;
        FContext = context;
        FReverse = reverse;
        FInOrder = true;
    }

    // Sorts the next n (>= 1) nodes from cursor into a doubly linked run (its head's Prev is left
    // unset) and advances cursor past them. Ties take the right run.
    template <class Less>
    static TNode* SortRun(TNode*& cursor, int n, const Less& takeLeft, TNode*& tail) {
        if (n <= 2) {
            TNode* a = cursor;
            cursor = a->Next;
            if (n == 1) {
                a->Next = nullptr;
                tail = a;
                return a;
            }
            TNode* b = cursor;  // a run of two: one merge step
            cursor = b->Next;
            if (!takeLeft(*a->Item, *b->Item)) std::swap(a, b);
            a->Next = b;
            b->Prev = a;
            b->Next = nullptr;
            tail = b;
            return a;
        }
        TNode* leftTail;
        TNode* rightTail;
        TNode* left = SortRun(cursor, n / 2, takeLeft, leftTail);
        TNode* right = SortRun(cursor, n - n / 2, takeLeft, rightTail);
        TNode* head;
        if (takeLeft(*left->Item, *right->Item)) {
            head = left;
            left = left->Next;
        } else {
            head = right;
            right = right->Next;
        }
        TNode* last = head;
        while (left && right) {
            if (takeLeft(*left->Item, *right->Item)) {
                last->Next = left;
                left->Prev = last;
                last = left;
                left = left->Next;
            } else {
                last->Next = right;
                right->Prev = last;
                last = right;
                right = right->Next;
            }
        }
        TNode* rest = left ? left : right;
        last->Next = rest;
        rest->Prev = last;
        tail = left ? leftTail : rightTail;
        return head;
    }

    TNode* FFirst = nullptr;
    TNode* FLast = nullptr;
    TNode* FCurrent = nullptr;
    int FCount = 0;
    int FPosition = 0;
    bool FSorted = false;
    TCompare FCompare = nullptr;
    TContextCompare FContextCompare = nullptr;  // the order instead of FCompare, with FContext
    const void* FContext = nullptr;
    bool FReverse = false;
    bool FOwnsItems = false;
    TFreeItem FOnFreeItem;
    // Whether the chain is known to be in the order of FCompare and FReverse (meaningful while sorted):
    // lost by Exchange and ReplaceCurrent, which do not check the order, and by direct insertion.
    bool FInOrder = true;
    std::unique_ptr<TRankIndex> FIndex;
    TCompare FIndexedCompare = nullptr;
    TDigest FDigest = nullptr;
    // The last node inserted and its rank, valid while the index has not changed since.
    TNode* FFinger = nullptr;
    int FFingerRank = 0;
    uint64_t FFingerVersion = 0;
    uint64_t FFingerDigest = 0;
    bool FFingerNextDigestKnown = false;
    uint64_t FFingerNextDigest = 0;
    // The nodes on either side of the boundary the last indexed search found (valid while the index
    // has not changed since), and the digest of the one after it, for the finger.
    TNode* FSearchBefore = nullptr;
    TNode* FSearchAfter = nullptr;
    bool FSearchBetween = false;
    bool FSearchAfterDigestKnown = false;
    uint64_t FSearchAfterDigest = 0;
    uint64_t FSearchVersion = 0;
    // The node store of indexed lists (see NewNode).
    struct TNodeBlock {
        TNodeBlock* Next;
    };
    bool FPooledNodes = false;
    TNodeBlock* FNodeBlocks = nullptr;
    TNode* FFreeNodes = nullptr;  // chained through Next
    TNode* FFreshNodes = nullptr;  // the unused rest of the newest block
    int FFreshLeft = 0;
    int FLastBlockSize = 0;
};

// A list that owns its items and whose Add appends.
template <class T>
class TObjectList : public TLinkList<T> {
public:
    TObjectList() : TLinkList<T>(true) {}
    using TLinkList<T>::Add;
    void Add(T* item) override { this->Append(item); }
};

template <class T>
class TStack : public TLinkList<T> {
public:
    using TLinkList<T>::TLinkList;
    virtual void Push(T* item) { this->Append(item); }
    // The top item, removed and handed to the caller; none on an empty stack.
    virtual T* Pop() {
        this->Last();
        return this->Remove(true, this->CurrentIndex());
    }
    virtual T* Peek() { return this->LastItem(); }
    bool IsEmpty() const { return this->Count() == 0; }
};

// Plain strings (web addresses, credit names).
class TStringList : public TLinkList<std::string> {
public:
    TStringList() : TLinkList<std::string>(true) {}
    using TLinkList<std::string>::Add;
    void Add(const std::string& s) { Append(std::make_unique<std::string>(s)); }
    // Moves to the first item; an empty string for an empty list.
    std::string FirstString();
    // Moves on like Next (raising at the last item).
    std::string NextString();
};

// The XMLTV writer's stack of open tags, by tag index.
class TTagStack : public TStack<uint8_t> {
public:
    TTagStack() : TStack<uint8_t>(true) {}
    void PushTag(uint8_t tag);
    // Both raise the index error with 0 on an empty stack.
    uint8_t PopTag();
    uint8_t PeekTag();
};
