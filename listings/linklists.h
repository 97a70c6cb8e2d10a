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
#include "listings/recordstore.h"

// Raised for every misuse of a list: a bad position, searching without an order, replacing in an empty list.
class EListError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

namespace linklists_detail {

[[noreturn]] void RaiseIndexError(int index);  // "List index out of bounds (%d)"
[[noreturn]] void RaiseListError(const char* message);

}  // namespace linklists_detail

// Most lists of the system are the parts of a programme, and most of those hold one item: a title,
// a description, a category. So a list is small and grows in steps. A list of at most one item holds
// that item itself, without a node (32 bytes in all). A second item gives it a chain of nodes, kept
// in a block of its own; a list that keeps an order, a rank index, a node store or a disposal handler
// keeps them with the chain, in a larger block. A chain emptied of its items goes, unless it holds
// more than the nodes.
template <class T>
class TLinkList {
public:
    // A comparison of (key, item); the sort compares two items with it. It must not throw.
    using TCompare = TCompareResult (*)(const T& key, const T& item);
    // The same for an order with state of its own (one chosen at run time): called with the context
    // given to Sort, which must stay alive while the list keeps that order.
    using TContextCompare = TCompareResult (*)(const void* context, const T& key, const T& item);
    using TFreeItem = std::function<void(T*)>;

protected:
    // See EnableRankIndex.
    using TDigest = uint64_t (*)(const T& item);

private:
    struct TNode {
        TAVRIN_RECORD_STORE
        TNode* Prev;
        TNode* Next;
        T* Item;
    };
    struct TChain {
        TAVRIN_RECORD_STORE
        TNode* First = nullptr;
        TNode* Last = nullptr;
        TNode* Current = nullptr;
    };
    struct TNodeBlock {
        TNodeBlock* Next;
    };
    // What a list keeps beside its chain once it has an order, a rank index, a node store or a
    // disposal handler.
    struct TExtra : TChain {
        TCompare Compare = nullptr;
        TContextCompare ContextCompare = nullptr;  // the order instead of Compare, with Context
        const void* Context = nullptr;
        bool Reverse = false;
        // Whether the chain is known to be in the order of Compare and Reverse (meaningful while
        // sorted): lost by Exchange and ReplaceCurrent, which do not check the order, and by direct
        // insertion.
        bool InOrder = true;
        TFreeItem OnFreeItem;
        std::unique_ptr<TRankIndex> Index;
        TCompare IndexedCompare = nullptr;
        TDigest Digest = nullptr;
        // The last node inserted and its rank, valid while the index has not changed since.
        TNode* Finger = nullptr;
        int FingerRank = 0;
        uint64_t FingerVersion = 0;
        uint64_t FingerDigest = 0;
        bool FingerNextDigestKnown = false;
        uint64_t FingerNextDigest = 0;
        // The nodes on either side of the boundary the last indexed search found (valid while the
        // index has not changed since), and the digest of the one after it, for the finger.
        TNode* SearchBefore = nullptr;
        TNode* SearchAfter = nullptr;
        bool SearchBetween = false;
        bool SearchAfterDigestKnown = false;
        uint64_t SearchAfterDigest = 0;
        uint64_t SearchVersion = 0;
        // The node store of long lists (see NewNode).
        bool PooledNodes = false;
        TNodeBlock* NodeBlocks = nullptr;
        TNode* FreeNodes = nullptr;   // chained through Next
        TNode* FreshNodes = nullptr;  // the unused rest of the newest block
        int FreshLeft = 0;
        int LastBlockSize = 0;
    };

public:
    TAVRIN_RECORD_STORE
    // An owning list destroys the items it removes, replaces or clears; a borrowing list hands them to
    // its disposal handler if it has one and otherwise leaves them alone.
    explicit TLinkList(bool ownsItems = false) : FOwnsItems(ownsItems) {}
    virtual ~TLinkList() {
        TLinkList::Clear(false);
        FreeChain();
    }
    TLinkList(const TLinkList&) = delete;
    TLinkList& operator=(const TLinkList&) = delete;

    // ---- navigation: each returns the item of the node it moves to, or none
    T* First() {
        Settle();
        FPosition = 1;
        if (!FChained) return Solo();
        TChain& c = *Chain();
        c.Current = c.First;
        return ItemOf(c.Current);
    }
    T* Last() {
        Settle();
        FPosition = FCount;
        if (!FChained) return Solo();
        TChain& c = *Chain();
        c.Current = c.Last;
        return ItemOf(c.Current);
    }
    T* Next() {
        Settle();
        if (!FChained) linklists_detail::RaiseIndexError(FCount);  // one item at most: it is the last
        TChain& c = *Chain();
        if (FCount == 0 || c.Current == c.Last) linklists_detail::RaiseIndexError(FCount);
        c.Current = c.Current->Next;
        ++FPosition;
        return c.Current->Item;
    }
    T* Prev() {
        Settle();
        if (!FChained) linklists_detail::RaiseIndexError(0);
        TChain& c = *Chain();
        if (c.Current == c.First) linklists_detail::RaiseIndexError(0);
        c.Current = c.Current->Prev;
        --FPosition;
        return c.Current->Item;
    }
    T* Current() const {
        Settle();
        return FChained ? ItemOf(Chain()->Current) : Solo();
    }
    T* FirstItem() const {  // without moving
        Settle();
        return FChained ? ItemOf(Chain()->First) : Solo();
    }
    T* LastItem() const {  // without moving
        Settle();
        return FChained ? ItemOf(Chain()->Last) : Solo();
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
        if (position == FPosition) return Current();
        if (position < 1 || position > FCount) linklists_detail::RaiseIndexError(position);
        if (!FChained) {  // the one item
            FPosition = 1;
            return Solo();
        }
        SeekTo(position);
        return Chain()->Current->Item;
    }

    // ---- insertion: the inserted item becomes current. Owning lists take the item when the call
    // returns normally; if it throws, the item is still the caller's.
    void Insert(T* item, bool before) {
        Settle();
        if (!FChained && FCount == 0) {
            FHead = item;
            FCount = 1;
            FPosition = 1;
            FSorted = false;
            return;
        }
        MakeChain();
        Link(item, before);
        FSorted = false;
        if (TExtra* x = Extra()) x->InOrder = FCount <= 1;
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
        if (!FChained) {
            T* old = Solo();
            if (old == item) return;
            FHead = item;
            DisposeSolo(old);
            return;
        }
        TChain& c = *Chain();
        T* old = c.Current->Item;
        if (old == item) return;
        c.Current->Item = item;
        if (TExtra* x = Extra()) {
            x->Finger = nullptr;
            if (x->Index && x->Digest) x->Index->SetDigest(FPosition - 1, DigestOf(item));
            if (FCount > 1) x->InOrder = false;
        }
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
        T* item;
        if (!FChained) {
            item = Solo();
            if (!item) return nullptr;  // an empty list whose position was asked for: nothing to remove
            FHead = nullptr;
            FCount = 0;  // the position stays, as when the first node goes
            if (keepItem) return item;
            DisposeSolo(item);
            return nullptr;
        } else {
            TChain& c = *Chain();
            TNode* node = c.Current;
            if (!node) return nullptr;
            TExtra* x = Extra();
            if (x && x->Index) x->Index->EraseAt(FPosition - 1);
            if (node->Prev) node->Prev->Next = node->Next;
            else c.First = node->Next;
            if (node->Next) node->Next->Prev = node->Prev;
            else c.Last = node->Prev;
            if (!node->Prev) {
                c.Current = c.First;  // the new first node; the position stays
            } else {
                c.Current = node->Prev;
                --FPosition;
            }
            --FCount;
            if (x && FCount <= 1) x->InOrder = true;
            item = node->Item;
            FreeNode(node);
            if (FCount == 0 && !x) FreeChain();
        }
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
        FCount = 0;
        FPosition = 0;
        if (!FChained) {
            T* item = Solo();
            FHead = nullptr;
            if (!keepItems) DisposeSolo(item);
            return;
        }
        TChain& c = *Chain();
        TNode* node = c.First;
        c.First = c.Last = c.Current = nullptr;
        TExtra* x = Extra();
        if (!x) {
            struct TRelease {  // the chain goes, also when a disposal throws
                TLinkList* List;
                ~TRelease() { List->FreeChain(); }
            } release{this};
            DisposeNodes(node, keepItems);
            return;
        }
        x->InOrder = true;
        if (x->Index) x->Index->Clear();
        if (x->NodeBlocks) {
            struct TRelease {
                TLinkList* List;
                ~TRelease() { List->ReleaseNodeBlocks(); }
            } release{this};
            for (; node; node = node->Next)
                if (!keepItems) Dispose(node->Item);
            return;
        }
        DisposeNodes(node, keepItems);
    }
    // Swaps the items at two positions; the node at position2 is current afterwards.
    virtual void Exchange(int position1, int position2) {
        Settle();
        GetItem(position1);
        if (!FChained) {  // one item at most: both positions are its own
            GetItem(position2);
            return;
        }
        TChain& c = *Chain();
        TNode* a = c.Current;
        const int rankA = FPosition - 1;
        GetItem(position2);
        TNode* b = c.Current;
        if (!a || !b || a == b) return;
        std::swap(a->Item, b->Item);
        if (TExtra* x = Extra()) {
            x->Finger = nullptr;
            if (x->Index && x->Digest) {
                x->Index->SetDigest(rankA, DigestOf(a->Item));
                x->Index->SetDigest(FPosition - 1, DigestOf(b->Item));
            }
            x->InOrder = false;
        }
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
        const TExtra* x = Extra();
        TCompareResult r;
        if (x && x->Compare) r = x->Compare(key, item);
        else if (x && x->ContextCompare) r = x->ContextCompare(x->Context, key, item);
        else linklists_detail::RaiseListError("List is unsorted");
        return x->Reverse ? InvertCompare(r) : r;
    }
    // Leaves the node of the last probe current.
    virtual TCompareResult BinarySearch(const T& key) {
        Settle();
        if (!FSorted) linklists_detail::RaiseListError("Cannot Binary Search Unsorted List");
        if (FCount == 0) return crLess;
        // a sorted list keeps its order with its chain
        TExtra& x = *Extra();
        First();
        const TCompareResult atFirst = Compare(key, *x.Current->Item);
        if (atFirst == crEqual) return crEqual;
        Last();
        const TCompareResult atLast = Compare(key, *x.Current->Item);
        if (atLast == crEqual) return crEqual;
        if (atFirst == crLess) {
            First();
            return crLess;
        }
        if (atLast == crGreater) return crGreater;  // the last node is current already
        if (x.Index && x.InOrder && x.Compare && x.Compare == x.IndexedCompare) return IndexedSearch(key);
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
        if (!FChained) return compare(key, *Solo()) == crEqual;
        TChain& c = *Chain();
        for (;;) {
            if (compare(key, *c.Current->Item) == crEqual) return true;
            if (c.Current == c.Last) return false;
            c.Current = c.Current->Next;
            ++FPosition;
        }
    }

    bool Sorted() const { return FSorted; }
    TCompare Comparison() const {  // none after a sort with a context
        const TExtra* x = Extra();
        return x ? x->Compare : nullptr;
    }
    bool Reversed() const {
        const TExtra* x = Extra();
        return x && x->Reverse;
    }
    bool OwnsItems() const { return FOwnsItems; }
    void SetOwnsItems(bool owns) {
        Settle();
        FOwnsItems = owns;
    }
    void SetOnFreeItem(TFreeItem handler) {
        Settle();
        MakeExtra().OnFreeItem = std::move(handler);
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
        TIterator(const TNode* node, V* solo) : FNode(node), FSolo(solo) {}
        V& operator*() const { return FSolo ? *FSolo : *FNode->Item; }
        V* operator->() const { return FSolo ? FSolo : FNode->Item; }
        TIterator& operator++() {
            if (FSolo) FSolo = nullptr;
            else FNode = FNode->Next;
            return *this;
        }
        TIterator operator++(int) {
            TIterator old = *this;
            ++*this;
            return old;
        }
        bool operator==(const TIterator& other) const { return FNode == other.FNode && FSolo == other.FSolo; }
        bool operator!=(const TIterator& other) const { return !(*this == other); }

    private:
        const TNode* FNode = nullptr;
        V* FSolo = nullptr;  // the item of a list without chain
    };
    using iterator = TIterator<T>;
    using const_iterator = TIterator<const T>;
    iterator begin() {
        Settle();
        return FChained ? iterator(Chain()->First, nullptr) : iterator(nullptr, Solo());
    }
    iterator end() { return iterator(); }
    const_iterator begin() const {
        Settle();
        return FChained ? const_iterator(Chain()->First, nullptr) : const_iterator(nullptr, Solo());
    }
    const_iterator end() const { return const_iterator(); }

protected:
    // Keeps an order-statistic index beside the chain, so that positional access costs O(log n) and a
    // binary search with `searchable` over a list kept in order costs O(log n) node steps instead of
    // O(n). For long lists; nothing observable changes. `digest`, when given, maps an item to a number
    // whose order never contradicts `searchable`: digest(a) < digest(b) only if a orders before b.
    // An index enabled on an empty list also gives it the node store of long lists (see NewNode).
    void EnableRankIndex(TCompare searchable, TDigest digest = nullptr) {
        TExtra& x = MakeExtra();
        if (FCount == 0) x.PooledNodes = true;
        auto index = std::make_unique<TRankIndex>();
        x.Index.reset();
        x.IndexedCompare = searchable;
        x.Digest = digest;
        x.Finger = nullptr;
        x.SearchAfter = nullptr;
        x.SearchBetween = false;
        int rank = 0;
        for (TNode* n = x.First; n; n = n->Next) index->InsertAt(rank++, n, DigestOf(n->Item));
        x.Index = std::move(index);
    }
    bool HasRankIndex() const {
        const TExtra* x = Extra();
        return x && x->Index;
    }
    // Takes the nodes of a long list from blocks the list owns (see NewNode); only while it is empty.
    void PoolNodes() {
        if (FCount == 0) MakeExtra().PooledNodes = true;
    }
    // A list may put off work on its items (see TProgList): while FUnsettled is set, every call that
    // looks at the list or changes it first has SettlePending do that work, so nothing can tell.
    virtual void SettlePending() {}
    void Settle() const {
        if (FUnsettled) const_cast<TLinkList*>(this)->SettlePending();
    }

    // Whether MergeInOrder can take items now: an owning list in ascending order of the indexed
    // comparison, with digests.
    bool CanMergeInOrder() const {
        const TExtra* x = Extra();
        return x && x->Index && x->Digest && FSorted && x->InOrder && !x->Reverse && FOwnsItems && x->Compare &&
               x->Compare == x->IndexedCompare;
    }
    // Sorts as Sort with a context does, by keys made once per item: keyOf(item, key) sets a Key
    // whose operator< agrees with compare (equal keys exactly where compare gives crEqual), or gives
    // false for an item it has no key for, and then SortByKeys gives false, changing nothing.
    // Comparing small keys in one array beats following each node to its item and comparing
    // records, for long lists. The outcome is Sort's, ties included: items comparing equal come out
    // in reverse order.
    template <class Key, class KeyOf>
    bool SortByKeys(TContextCompare compare, const void* context, bool reverse, const KeyOf& keyOf) {
        Settle();
        if (FCount > 1) {
            TChain& c = *Chain();
            std::vector<std::pair<Key, T*>> keyed;
            keyed.reserve(static_cast<size_t>(FCount));
            // a stable sort of the items taken from the last to the first puts ties in reverse order
            for (TNode* n = c.Last; n; n = n->Prev) {
                Key key{};
                if (!keyOf(*n->Item, key)) return false;
                keyed.emplace_back(key, n->Item);
            }
            if (reverse)
                std::stable_sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) { return b.first < a.first; });
            else
                std::stable_sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
            TNode* n = c.First;
            for (const auto& k : keyed) {
                n->Item = k.second;
                n = n->Next;
            }
            c.Current = c.First;
            FPosition = 1;
            if (TExtra* x = Extra()) x->Finger = nullptr;
        }
        MarkSorted(nullptr, compare, context, reverse);
        return true;
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
        TExtra& x = *Extra();
        std::vector<Entry> old;
        old.reserve(FCount);
        x.Index->CollectEntries(old);
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
                    const TCompareResult r = x.Compare(*f.Item, *static_cast<TNode*>(e.Payload)->Item);
                    if (r == crEqual) return false;
                    if (r == crLess) break;
                }
                merged.push_back(e);
            }
            freshAt.push_back(merged.size());
            merged.push_back(Entry{nullptr, f.Digest});
        }
        merged.insert(merged.end(), old.begin() + static_cast<std::ptrdiff_t>(i), old.end());
        std::vector<Entry>().swap(old);
        // then the nodes, all before the first change, so that running out of memory changes nothing
        std::vector<TNode*> nodes;
        nodes.reserve(fresh.size());
        try {
            NewNodes(fresh, nodes);
        } catch (...) {
            for (TNode* n : nodes) {
                if (x.PooledNodes) {
                    n->Next = x.FreeNodes;
                    x.FreeNodes = n;
                } else {
                    delete n;
                }
            }
            throw;
        }
        for (size_t k = 0; k < nodes.size(); ++k) merged[freshAt[k]].Payload = nodes[k];
        auto nodeAt = [&](size_t m) { return static_cast<TNode*>(merged[m].Payload); };
        x.Current = nodeAt(0);
        FPosition = 1;
        for (size_t k = 0; k < nodes.size(); ++k) {
            const size_t m = freshAt[k];
            TNode* node = nodes[k];
            node->Prev = m > 0 ? nodeAt(m - 1) : nullptr;
            node->Next = m + 1 < merged.size() ? nodeAt(m + 1) : nullptr;
            if (node->Prev) node->Prev->Next = node;
            if (node->Next) node->Next->Prev = node;
            if (fresh[k].Item == current) {
                x.Current = node;
                FPosition = static_cast<int>(m) + 1;
            }
        }
        x.First = nodeAt(0);
        x.Last = nodeAt(merged.size() - 1);
        FCount = static_cast<int>(merged.size());
        x.Finger = nullptr;
        x.SearchBefore = x.SearchAfter = nullptr;
        x.SearchBetween = false;
        try {
            x.Index->Rebuild(merged);
        } catch (...) {  // out of memory: drop the index rather than let it disagree with the chain
            x.Index.reset();
        }
        return true;
    }

    // The insertion that follows a BinarySearch for the item: before the node the search left current
    // unless the item is greater; the sorted mark is kept.
    void InsertAtSearch(T* item, TCompareResult searchResult) {
        const bool sorted = FSorted;
        TExtra* x = Extra();  // a sorted list has one
        const bool inOrder = x && x->InOrder;
        Link(item, searchResult != crGreater);
        FSorted = sorted;
        if (x) x->InOrder = inOrder;
    }

    void Dispose(T* item) {
        if (!item) return;
        if (FOwnsItems) {
            delete item;
        } else if (FHasExtra) {
            if (const TFreeItem& handler = Extra()->OnFreeItem) handler(item);
        }
    }

private:
    static T* ItemOf(const TNode* node) { return node ? node->Item : nullptr; }

    // Dispose for a list without chain, which has no disposal handler (that comes with the chain).
    void DisposeSolo(T* item) {
        if (FOwnsItems) delete item;
    }

    T* Solo() const { return static_cast<T*>(FHead); }  // without chain
    TChain* Chain() const { return static_cast<TChain*>(FHead); }
    TExtra* Extra() const { return FHasExtra ? static_cast<TExtra*>(Chain()) : nullptr; }

    // Gives a list without chain its chain; the one item gets a node.
    void MakeChain() {
        if (FChained) return;
        auto chain = std::make_unique<TChain>();
        if (T* item = Solo()) chain->First = chain->Last = chain->Current = new TNode{nullptr, nullptr, item};
        FHead = chain.release();
        FChained = true;
    }
    TExtra& MakeExtra() {
        if (FHasExtra) return *Extra();
        auto extra = std::make_unique<TExtra>();
        if (FChained) {
            static_cast<TChain&>(*extra) = *Chain();
            delete Chain();
        } else if (T* item = Solo()) {
            extra->First = extra->Last = extra->Current = new TNode{nullptr, nullptr, item};
        }
        FHead = extra.release();
        FChained = FHasExtra = true;
        return *Extra();
    }
    // The chain (with no nodes left) goes; the list holds no item.
    void FreeChain() {
        if (FHasExtra) delete Extra();
        else if (FChained) delete Chain();
        FHead = nullptr;
        FChained = FHasExtra = false;
    }
    void DisposeNodes(TNode* node, bool keepItems) {
        while (node) {
            TNode* next = node->Next;
            T* item = node->Item;
            delete node;
            if (!keepItems) Dispose(item);
            node = next;
        }
    }

    // Links a new node after (or before) the current one and makes it current. The list has its chain.
    void Link(T* item, bool before) {
        TNode* node = NewNode(item);
        TChain& c = *Chain();
        TExtra* x = Extra();
        // An indexed search found the two nodes the new one goes between; linking them without reading
        // them leaves only stores to lines that may still be on their way.
        TNode* const at = c.Current;
        if (x && x->Index && x->SearchBetween && x->SearchVersion == x->Index->Version() &&
            (before ? at == x->SearchAfter : at == x->SearchBefore)) {
            node->Prev = x->SearchBefore;
            node->Next = x->SearchAfter;
            x->SearchBefore->Next = node;
            x->SearchAfter->Prev = node;
            if (!before) ++FPosition;
        } else if (FCount == 0) {
            c.First = c.Last = node;
            FPosition = 1;
        } else if (before) {
            node->Prev = at->Prev;
            node->Next = at;
            if (at->Prev) at->Prev->Next = node;
            else c.First = node;
            at->Prev = node;
        } else {
            node->Prev = at;
            node->Next = at->Next;
            if (at->Next) at->Next->Prev = node;
            else c.Last = node;
            at->Next = node;
            ++FPosition;
        }
        c.Current = node;
        ++FCount;
        if (x && x->Index) {
            try {
                const uint64_t digest = DigestOf(item);
                // the digest of the next node is known when the search that placed this one saw it
                x->FingerNextDigestKnown = x->SearchAfter && x->SearchAfterDigestKnown &&
                                           node->Next == x->SearchAfter && x->SearchVersion == x->Index->Version();
                x->FingerNextDigest = x->SearchAfterDigest;
                x->SearchAfter = nullptr;
                x->SearchBetween = false;
                x->Index->InsertAt(FPosition - 1, node, digest);
                x->Finger = node;
                x->FingerDigest = digest;
                x->FingerRank = FPosition - 1;
                x->FingerVersion = x->Index->Version();
            } catch (...) {  // out of memory: drop the index rather than let it disagree with the chain
                x->Index.reset();
            }
        }
    }

    // Long lists take their chain nodes from blocks the list owns, each twice the size of the one
    // before (up to 512 nodes): a long list makes a few allocations instead of one per item, and its
    // nodes lie together instead of wherever the allocator finds room after a run of frees. Freed
    // nodes are reused; the blocks go when the list becomes empty.
    TNode* NewNode(T* item) {
        TExtra* x = Extra();
        if (!x || !x->PooledNodes) return new TNode{nullptr, nullptr, item};
        TNode* node = x->FreeNodes;
        if (node) {
            x->FreeNodes = node->Next;
        } else {
            if (x->FreshLeft == 0) NewNodeBlock(*x);
            node = x->FreshNodes++;
            --x->FreshLeft;
        }
        *node = TNode{nullptr, nullptr, item};
        return node;
    }
    void NewNodeBlock(TExtra& x) {
        const int size = x.LastBlockSize ? std::min(x.LastBlockSize * 2, 512) : 4;
        void* raw = ::operator new(sizeof(TNodeBlock) + size * sizeof(TNode));
        TNodeBlock* block = static_cast<TNodeBlock*>(raw);
        block->Next = x.NodeBlocks;
        x.NodeBlocks = block;
        x.FreshNodes = reinterpret_cast<TNode*>(block + 1);
        x.FreshLeft = size;
        x.LastBlockSize = size;
    }
    // NewNode for each item, into nodes (with room reserved for them). The store's state is kept in
    // locals while nodes are cut: stores to a node could otherwise be the store's own fields, for all
    // the compiler knows, and each node would read them again.
    void NewNodes(const std::vector<TFresh>& fresh, std::vector<TNode*>& nodes) {
        TExtra* x = Extra();
        if (!x || !x->PooledNodes) {
            for (const TFresh& f : fresh) nodes.push_back(NewNode(f.Item));
            return;
        }
        TNode* freeNodes = x->FreeNodes;
        TNode* freshNodes = x->FreshNodes;
        int freshLeft = x->FreshLeft;
        for (const TFresh& f : fresh) {
            TNode* node = freeNodes;
            if (node) {
                freeNodes = node->Next;
            } else {
                if (freshLeft == 0) {
                    x->FreeNodes = freeNodes;
                    x->FreshNodes = freshNodes;
                    x->FreshLeft = 0;
                    NewNodeBlock(*x);  // may throw: the store is whole then
                    freshNodes = x->FreshNodes;
                    freshLeft = x->FreshLeft;
                }
                node = freshNodes++;
                --freshLeft;
            }
            *node = TNode{nullptr, nullptr, f.Item};
            nodes.push_back(node);
        }
        x->FreeNodes = freeNodes;
        x->FreshNodes = freshNodes;
        x->FreshLeft = freshLeft;
    }
    void FreeNode(TNode* node) {
        TExtra* x = Extra();
        if (!x || !x->PooledNodes) {
            delete node;
            return;
        }
        if (FCount == 0) {  // the last one
            ReleaseNodeBlocks();
            return;
        }
        node->Next = x->FreeNodes;
        x->FreeNodes = node;
    }
    void ReleaseNodeBlocks() {
        TExtra& x = *Extra();
        while (x.NodeBlocks) {
            TNodeBlock* next = x.NodeBlocks->Next;
            ::operator delete(x.NodeBlocks);
            x.NodeBlocks = next;
        }
        x.FreeNodes = x.FreshNodes = nullptr;
        x.FreshLeft = 0;
        x.LastBlockSize = 0;
    }

    // Moves to a valid position, from the nearest of first, last and current node. The list has its chain.
    void SeekTo(int position) {
        TChain& c = *Chain();
        const int d = std::abs(position - FPosition);
        if (d > 32) {
            if (TExtra* x = Extra(); x && x->Index) {
                c.Current = static_cast<TNode*>(x->Index->Select(position - 1));
                FPosition = position;
                return;
            }
        }
        if (position <= d) {
            c.Current = c.First;
            FPosition = 1;
        } else if (d > FCount - position) {
            c.Current = c.Last;
            FPosition = FCount;
        }
        while (FPosition < position) {
            c.Current = c.Current->Next;
            ++FPosition;
        }
        while (FPosition > position) {
            c.Current = c.Current->Prev;
            --FPosition;
        }
    }

    uint64_t DigestOf(const T* item) const {
        const TExtra* x = Extra();
        return x && x->Digest && item ? x->Digest(*item) : 0;
    }

    // The probing loop of BinarySearch over a chain known to be in order: the outcome of comparing the
    // key with the item at a position follows from the number of items below the key and equal to it,
    // so the probes are replayed in integer arithmetic and only the last one is visited.
    TCompareResult IndexedSearch(const T& key) {
        TExtra& x = *Extra();
        int below = 0, equal = 0;
        TNode* before = nullptr;  // the nodes at ranks below - 1 and below, when known
        TNode* after = nullptr;
        // Grabbers mostly add a channel's programmes in order, each right after the one before, so the
        // gap after the last inserted node is tried first; it holds the key when the key falls strictly
        // between that node and the next, and then no item equals the key.
        // Unequal digests decide a comparison without visiting the item, which may lie anywhere in memory.
        const uint64_t keyDigest = DigestOf(&key);
        const bool byDigest = x.Digest != nullptr;
        const bool reverse = x.Reverse;
        auto compareAt = [&](const uint64_t& digest, void* const& payload) {
            if (byDigest && keyDigest != digest) {
                const TCompareResult r = keyDigest < digest ? crLess : crGreater;
                return reverse ? InvertCompare(r) : r;
            }
            return Compare(key, *static_cast<TNode*>(payload)->Item);
        };
        TNode* const finger = x.Finger;
        const bool fingerValid = finger && x.Index->Version() == x.FingerVersion;
        const bool fromFinger =
            fingerValid && compareAt(x.FingerDigest, finger) == crGreater &&
            (!finger->Next || (x.FingerNextDigestKnown ? compareAt(x.FingerNextDigest, finger->Next)
                                                       : Compare(key, *finger->Next->Item)) == crLess);
        if (fromFinger) {
            below = x.FingerRank + 1;
            before = finger;
            after = finger->Next;
            x.SearchBefore = before;
            x.SearchAfter = after;
            x.SearchAfterDigestKnown = x.FingerNextDigestKnown;
            x.SearchAfterDigest = x.FingerNextDigest;
        } else {
            const uint64_t* byCount = byDigest ? &keyDigest : nullptr;
            const TRankIndex::Boundary lower =
                x.Index->Descend(compareAt, [](TCompareResult r) { return r == crGreater; }, byCount, reverse);
            if (lower.HasBefore) before = static_cast<TNode*>(lower.Before.Payload);
            if (lower.HasAfter) after = static_cast<TNode*>(lower.After.Payload);
            x.SearchBefore = before;
            x.SearchAfter = after;
            x.SearchAfterDigestKnown = lower.HasAfter;
            x.SearchAfterDigest = lower.After.Digest;
            // an insertion that follows links between these two nodes
            __builtin_prefetch(before, 1);
            __builtin_prefetch(after, 1);
            below = lower.Count;
            if (lower.HasAfter && lower.AtAfter == crEqual)
                equal = x.Index->Descend(compareAt, [](TCompareResult r) { return r != crLess; }, byCount, reverse)
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
        x.Current = at ? at : static_cast<TNode*>(x.Index->Select(mid - 1));
        FPosition = mid;
        x.SearchVersion = x.Index->Version();
        x.SearchBetween = before && after && equal == 0;  // then they are neighbours in the chain
        return r;
    }

    // Digests serve only searches in the order they were made for, so a list sorted in another order
    // leaves them out (a later sort in that order rebuilds them).
    void RebuildIndex(TCompare order) {
        TExtra& x = *Extra();
        std::vector<TRankIndex::Entry> entries;
        entries.reserve(FCount);
        const bool digests = order && order == x.IndexedCompare;
        for (TNode* n = x.First; n; n = n->Next) entries.push_back({n, digests ? DigestOf(n->Item) : 0});
        x.Index->Rebuild(entries);
    }

    template <bool Reverse, class Cmp>
    struct TakeLeft {
        Cmp compare;
        bool operator()(const T& left, const T& right) const {
            return compare(left, right) == (Reverse ? crGreater : crLess);
        }
    };

    // Puts the nodes (more than one, so the list has its chain) in the order of `compare`, a function
    // of two items.
    template <class Cmp>
    void Relink(const Cmp& compare, bool reverse) {
        TChain& c = *Chain();
        TNode* cursor = c.First;
        TNode* tail = nullptr;
        TNode* head = reverse ? SortRun(cursor, FCount, TakeLeft<true, Cmp>{compare}, tail)
                              : SortRun(cursor, FCount, TakeLeft<false, Cmp>{compare}, tail);
        head->Prev = nullptr;
        c.First = head;
        c.Last = tail;
        c.Current = c.First;
        FPosition = 1;
    }

    void MarkSorted(TCompare compare, TContextCompare contextCompare, const void* context, bool reverse) {
        TExtra& x = MakeExtra();
        if (x.Index) {  // also for fewer than two items: their digests must suit the new order
            try {
                RebuildIndex(compare);
            } catch (...) {  // out of memory: drop the index rather than let it disagree with the chain
                x.Index.reset();
            }
        }
        FSorted = true;
        x.Compare = compare;
        x.ContextCompare = contextCompare;
        x.Context = context;
        x.Reverse = reverse;
        x.InOrder = true;
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

    // Without chain: the one item, or none. With a chain: its TChain, or its TExtra when FHasExtra.
    void* FHead = nullptr;
    int32_t FCount = 0;
    int32_t FPosition = 0;
    bool FChained = false;
    bool FHasExtra = false;
    bool FSorted = false;
    bool FOwnsItems = false;

protected:
    bool FUnsettled = false;  // see SettlePending
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
