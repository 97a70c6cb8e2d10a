#include "listings/linklists.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "tests/listings/listerror.h"

namespace {

// A test item: a name to recognise it and a key to order it by; counts the live instances.
struct Item {
    std::string Name;
    int Key = 0;
    static int Live;
    Item(std::string name, int key) : Name(std::move(name)), Key(key) { ++Live; }
    ~Item() { --Live; }
};
int Item::Live = 0;

TCompareResult ByKey(const Item& key, const Item& item) {
    return key.Key < item.Key ? crLess : key.Key > item.Key ? crGreater : crEqual;
}
TCompareResult AllEqual(const Item&, const Item&) { return crEqual; }

using List = TLinkList<Item>;

// An owning list built from "a1 b2 c3" (name letter, key digits).
struct Fixture {
    List list{true};
    explicit Fixture(const std::string& layout) {
        size_t i = 0;
        while (i < layout.size()) {
            size_t end = layout.find(' ', i);
            if (end == std::string::npos) end = layout.size();
            const std::string word = layout.substr(i, end - i);
            list.Append(new Item(word.substr(0, 1), std::stoi(word.substr(1))));
            i = end + 1;
        }
    }
};

std::string Names(const List& list) {
    std::string out;
    for (const Item& it : list) out += it.Name;
    return out;
}

std::string Spaced(const List& list) {
    std::string out;
    for (const Item& it : list) out += it.Name + " ";
    return out;
}

// Walks from the last item to the first with Prev (moves the current item).
std::string Backwards(List& list) {
    std::string out;
    for (Item* it = list.Last(); it; it = list.CurrentIndex() > 1 ? list.Prev() : nullptr) out += it->Name + " ";
    return out;
}

std::string CurrentName(const List& list) { return list.Current() ? list.Current()->Name : "-"; }

TEST(LinkList, NavigationMovesCurrentAndPosition) {
    struct Case {
        const char* name;
        std::string list;
        std::function<void(List&)> steps;
        std::string current;
        int position;
        std::string error;
    };
    const std::vector<Case> cases = {
        {"first", "a1 b2 c3", [](List& l) { l.First(); }, "a", 1, ""},
        {"last", "a1 b2 c3", [](List& l) { l.First(), l.Last(); }, "c", 3, ""},
        {"next from first", "a1 b2 c3", [](List& l) { l.First(), l.Next(); }, "b", 2, ""},
        {"prev from last", "a1 b2 c3", [](List& l) { l.Prev(); }, "b", 2, ""},
        {"next at last raises with count", "a1 b2 c3", [](List& l) { l.Next(); }, "c", 3,
         "List index out of bounds (3)"},
        {"prev at first raises with 0", "a1 b2 c3", [](List& l) { l.First(), l.Prev(); }, "a", 1,
         "List index out of bounds (0)"},
        {"next on empty raises with 0", "", [](List& l) { l.Next(); }, "-", 0, "List index out of bounds (0)"},
        {"prev on empty raises with 0", "", [](List& l) { l.Prev(); }, "-", 0, "List index out of bounds (0)"},
        {"first on empty", "", [](List& l) { l.First(); }, "-", 1, ""},
        {"last on empty", "", [](List& l) { l.First(), l.Last(); }, "-", 0, ""},
    };
    for (const Case& c : cases) {
        Fixture f(c.list);
        EXPECT_EQ(ErrorOf([&] { c.steps(f.list); }), c.error) << c.name;
        EXPECT_EQ(CurrentName(f.list), c.current) << c.name;
        EXPECT_EQ(f.list.CurrentIndex(), c.position) << c.name;
    }
}

TEST(LinkList, GetItemSeeksOrRaises) {
    struct Case {
        const char* name;
        std::string list;
        int start;  // position made current first (0: leave as built)
        int get;
        std::string item;  // "-" for none
        int position;      // afterwards
        std::string error;
    };
    const std::vector<Case> cases = {
        {"forward from current", "a1 b2 c3 d4 e5 f6", 2, 4, "d", 4, ""},
        {"backward from current", "a1 b2 c3 d4 e5 f6", 5, 3, "c", 3, ""},
        {"near the first", "a1 b2 c3 d4 e5 f6", 5, 1, "a", 1, ""},
        {"near the last", "a1 b2 c3 d4 e5 f6", 1, 6, "f", 6, ""},
        {"current position", "a1 b2 c3", 2, 2, "b", 2, ""},
        {"only item", "a1", 1, 1, "a", 1, ""},
        {"position 0", "a1 b2 c3", 2, 0, "b", 2, "List index out of bounds (0)"},
        {"count + 1", "a1 b2 c3", 2, 4, "b", 2, "List index out of bounds (4)"},
        {"negative", "a1 b2 c3", 2, -1, "b", 2, "List index out of bounds (-1)"},
        {"empty list position 0", "", 0, 0, "-", 0, ""},
        {"empty list position 1", "", 0, 1, "-", 0, "List index out of bounds (1)"},
    };
    for (const Case& c : cases) {
        Fixture f(c.list);
        if (c.start) f.list.GetItem(c.start);
        std::string got = "-";
        EXPECT_EQ(ErrorOf([&] {
                      Item* it = f.list.GetItem(c.get);
                      got = it ? it->Name : "-";
                  }),
                  c.error)
            << c.name;
        if (c.error.empty()) {
            EXPECT_EQ(got, c.item) << c.name;
        }
        EXPECT_EQ(CurrentName(f.list), c.item) << c.name;
        EXPECT_EQ(f.list.CurrentIndex(), c.position) << c.name;
    }
}

TEST(LinkList, InsertionPlacesItemAndMakesItCurrent) {
    struct Case {
        const char* name;
        std::string list;
        int start;  // current position before the step (0: as built)
        std::function<void(List&)> step;
        std::string order;
        std::string current;
        int position;
        bool sorted;
    };
    auto item = [](const char* n, int k) { return new Item(n, k); };
    auto sortThenAdd = [&](int key, bool reverse) {
        return [=](List& l) {
            l.Sort(ByKey, reverse);
            l.Add(item("x", key));
        };
    };
    const std::vector<Case> cases = {
        {"insert after current", "a1 b2 c3", 2, [&](List& l) { l.Insert(item("x", 9), false); }, "abxc", "x", 3, false},
        {"insert after last", "a1 b2", 2, [&](List& l) { l.Insert(item("x", 9), false); }, "abx", "x", 3, false},
        {"insert before current", "a1 b2 c3", 2, [&](List& l) { l.Insert(item("x", 9), true); }, "axbc", "x", 2, false},
        {"insert before first", "a1 b2", 1, [&](List& l) { l.Insert(item("x", 9), true); }, "xab", "x", 1, false},
        {"insert into empty", "", 0, [&](List& l) { l.Insert(item("x", 9), false); }, "x", "x", 1, false},
        {"append", "a1 b2 c3", 1, [&](List& l) { l.Append(item("x", 9)); }, "abcx", "x", 4, false},
        {"prepend", "a1 b2 c3", 3, [&](List& l) { l.Prepend(item("x", 9)); }, "xabc", "x", 1, false},
        {"add to unsorted goes before current", "a1 b2 c3", 2, [&](List& l) { l.Add(item("x", 0)); }, "axbc", "x", 2,
         false},
        {"add to sorted empty keeps the mark", "", 0, sortThenAdd(5, false), "x", "x", 1, true},
        {"add to sorted in the middle", "a1 c3 e5", 1, sortThenAdd(4, false), "acxe", "x", 3, true},
        {"add to sorted before all", "c3 e5", 1, sortThenAdd(1, false), "xce", "x", 1, true},
        {"add to sorted after all", "a1 c3", 1, sortThenAdd(9, false), "acx", "x", 3, true},
        // sorting reverses the equal b and c; an item equal to the last goes in front of it
        {"add equal to last goes before it", "a1 b3 c3", 1, sortThenAdd(3, false), "acxb", "x", 3, true},
        {"add to sorted descending", "a1 c3 e5", 1, sortThenAdd(4, true), "exca", "x", 2, true},
        {"append clears the sorted mark", "a1", 1, [&](List& l) { l.Sort(ByKey, false), l.Append(item("x", 9)); },
         "ax", "x", 2, false},
    };
    for (const Case& c : cases) {
        Fixture f(c.list);
        if (c.start) f.list.GetItem(c.start);
        c.step(f.list);
        EXPECT_EQ(Names(f.list), c.order) << c.name;
        EXPECT_EQ(CurrentName(f.list), c.current) << c.name;
        EXPECT_EQ(f.list.CurrentIndex(), c.position) << c.name;
        EXPECT_EQ(f.list.Sorted(), c.sorted) << c.name;
    }
}

TEST(LinkList, RemovalMovesCurrentToNeighbour) {
    struct Case {
        const char* name;
        std::string list;
        int start;
        std::function<void(List&)> step;
        std::string order;
        std::string current;
        int position;
        std::string error;
    };
    const std::vector<Case> cases = {
        {"delete middle: previous becomes current", "a1 b2 c3 d4", 1, [](List& l) { l.Delete(3); }, "abd", "b", 2,
         ""},
        {"delete first: new first becomes current", "a1 b2 c3", 3, [](List& l) { l.Delete(1); }, "bc", "b", 1, ""},
        {"delete last", "a1 b2 c3", 1, [](List& l) { l.Delete(3); }, "ab", "b", 2, ""},
        {"delete current", "a1 b2 c3", 2, [](List& l) { l.DeleteCurrent(); }, "ac", "a", 1, ""},
        {"delete only item keeps position 1", "a1", 1, [](List& l) { l.Delete(1); }, "", "-", 1, ""},
        {"delete after last", "a1 b2", 1, [](List& l) { l.Delete(3); }, "ab", "a", 1,
         "List index out of bounds (3)"},
        {"delete 0", "a1 b2", 2, [](List& l) { l.Delete(0); }, "ab", "b", 2, "List index out of bounds (0)"},
        {"delete 0 on empty does nothing", "", 0, [](List& l) { l.Delete(0); }, "", "-", 0, ""},
        {"delete current of emptied list does nothing",
         "a1", 1,
         [](List& l) {
             l.Delete(1);
             l.DeleteCurrent();
         },
         "", "-", 1, ""},
        {"insert after emptying starts at 1",
         "a1", 1,
         [](List& l) {
             l.Delete(1);
             l.Insert(new Item("x", 0), false);
         },
         "x", "x", 1, ""},
        {"clear", "a1 b2", 2, [](List& l) { l.Clear(); }, "", "-", 0, ""},
        {"exchange makes the second position current", "a1 b2 c3 d4", 1, [](List& l) { l.Exchange(4, 2); },
         "adcb", "d", 2, ""},
        {"exchange with a bad second position moves to the first", "a1 b2 c3", 1,
         [](List& l) { l.Exchange(3, 5); }, "abc", "c", 3, "List index out of bounds (5)"},
        {"exchange on empty does nothing", "", 0, [](List& l) { l.Exchange(0, 0); }, "", "-", 0, ""},
        {"replace current", "a1 b2", 1, [](List& l) { l.ReplaceCurrent(new Item("x", 0)); }, "xb", "x", 1, ""},
        {"replace in empty list", "", 0, [](List& l) { l.ReplaceCurrent(std::make_unique<Item>("x", 0)); }, "", "-",
         0, "List is Empty, cannot replace data"},
    };
    for (const Case& c : cases) {
        Fixture f(c.list);
        if (c.start) f.list.GetItem(c.start);
        EXPECT_EQ(ErrorOf([&] { c.step(f.list); }), c.error) << c.name;
        EXPECT_EQ(Names(f.list), c.order) << c.name;
        EXPECT_EQ(CurrentName(f.list), c.current) << c.name;
        EXPECT_EQ(f.list.CurrentIndex(), c.position) << c.name;
    }
    EXPECT_EQ(Item::Live, 0);  // nothing leaked, nothing freed twice
}

TEST(LinkList, BinarySearchLeavesLastProbeCurrent) {
    struct Case {
        const char* name;
        std::string list;
        bool reverse;
        int key;
        TCompareResult result;
        std::string current;
        int position;
    };
    const std::vector<Case> cases = {
        {"one item, less", "a5", false, 1, crLess, "a", 1},
        {"one item, equal", "a5", false, 5, crEqual, "a", 1},
        {"one item, greater", "a5", false, 9, crGreater, "a", 1},
        {"equal to first", "a1 b3 c5 d7 e9", false, 1, crEqual, "a", 1},
        {"equal to last", "a1 b3 c5 d7 e9", false, 9, crEqual, "e", 5},
        {"below all", "a1 b3 c5 d7 e9", false, 0, crLess, "a", 1},
        {"above all", "a1 b3 c5 d7 e9", false, 10, crGreater, "e", 5},
        {"found by probing", "a1 b3 c5 d7 e9", false, 7, crEqual, "d", 4},
        {"missing, last probe below the key", "a1 b3 c5 d7 e9", false, 4, crGreater, "b", 2},
        {"missing, last probe above the key", "a1 b3 c5 d7 e9", false, 6, crLess, "d", 4},
        {"missing between first two", "a1 b3 c5 d7 e9", false, 2, crLess, "b", 2},
        {"reversed, found", "a1 b3 c5 d7 e9", true, 3, crEqual, "b", 4},
        {"reversed, above all", "a1 b3 c5 d7 e9", true, 0, crGreater, "a", 5},
        {"duplicates: middle of equal run", "a1 b4 c4 d4 e4 f4 g9", false, 4, crEqual, "d", 4},
    };
    for (const Case& c : cases) {
        Fixture f(c.list);
        f.list.Sort(ByKey, c.reverse);
        Item key("key", c.key);
        EXPECT_EQ(f.list.BinarySearch(key), c.result) << c.name;
        EXPECT_EQ(CurrentName(f.list), c.current) << c.name;
        EXPECT_EQ(f.list.CurrentIndex(), c.position) << c.name;
    }
}

TEST(LinkList, OrderErrorsCarryTheirMessages) {
    Item key("k", 1);
    {
        Fixture f("a1 b2");
        EXPECT_EQ(ErrorOf([&] { f.list.BinarySearch(key); }), "Cannot Binary Search Unsorted List");
        EXPECT_EQ(ErrorOf([&] { f.list.Compare(key, key); }), "List is unsorted");
    }
    {
        // sorted without a comparison: the mark stands, the first comparison fails
        List list(true);
        list.Sort(nullptr, false);
        list.Add(new Item("a", 1));
        auto extra = std::make_unique<Item>("b", 2);
        EXPECT_EQ(ErrorOf([&] { list.Add(std::move(extra)); }), "List is unsorted");
        EXPECT_EQ(Names(list), "a");
    }
    {
        Fixture f("");
        f.list.Sort(ByKey, false);
        EXPECT_EQ(f.list.BinarySearch(key), crLess);  // an empty sorted list
    }
    EXPECT_EQ(Item::Live, 1);  // only the key: the item refused by Add was freed by its unique_ptr
}

TEST(LinkList, SortOrdersAndReversesTies) {
    struct Case {
        const char* name;
        std::string list;
        TLinkList<Item>::TCompare compare;
        bool reverse;
        std::string order;
    };
    const std::vector<Case> cases = {
        {"ascending", "d4 a1 c3 b2", ByKey, false, "abcd"},
        {"descending by reverse flag", "d4 a1 c3 b2", ByKey, true, "dcba"},
        {"all equal reverses", "a1 b2 c3 d4", AllEqual, false, "dcba"},
        {"all equal reversed also reverses", "a1 b2 c3 d4", AllEqual, true, "dcba"},
        {"ties come out reversed", "a2 b1 c2 d1 e2", ByKey, false, "dbeca"},
        {"ties reversed, descending", "a2 b1 c2 d1 e2", ByKey, true, "ecadb"},
        {"odd length", "e5 d4 c3 b2 a1", ByKey, false, "abcde"},
    };
    for (const Case& c : cases) {
        Fixture f(c.list);
        f.list.GetItem(2);
        f.list.Sort(c.compare, c.reverse);
        EXPECT_EQ(Names(f.list), c.order) << c.name;
        EXPECT_EQ(CurrentName(f.list), c.order.substr(0, 1)) << c.name;
        EXPECT_EQ(f.list.CurrentIndex(), 1) << c.name;
        EXPECT_TRUE(f.list.Sorted()) << c.name;
        EXPECT_EQ(f.list.Reversed(), c.reverse) << c.name;
        // the chain is sound both ways
        std::string backwards;
        for (Item* it = f.list.Last(); it; it = f.list.CurrentIndex() > 1 ? f.list.Prev() : nullptr)
            backwards.insert(0, it->Name);
        EXPECT_EQ(backwards, c.order) << c.name;
    }
    // fewer than two items: current and position stay (an empty list after First is at position 1)
    Fixture empty("");
    empty.list.First();
    empty.list.Sort(ByKey, false);
    EXPECT_EQ(empty.list.CurrentIndex(), 1);
    EXPECT_TRUE(empty.list.Sorted());
}

TEST(LinkList, SortMatchesReversedStableSort) {
    std::mt19937 rng(1234);
    for (int n : {0, 1, 2, 3, 7, 64, 1000, 4097}) {
        for (bool reverse : {false, true}) {
            Fixture f("");
            std::vector<std::pair<int, int>> expected;  // (key, insertion index)
            for (int i = 0; i < n; ++i) {
                const int key = static_cast<int>(rng() % 50);
                f.list.Append(new Item(std::to_string(i), key));
                expected.emplace_back(key, i);
            }
            f.list.Sort(ByKey, reverse);
            // sorted by key (descending when reversed); equal keys in reverse insertion order
            std::sort(expected.begin(), expected.end(), [&](auto& a, auto& b) {
                if (a.first != b.first) return reverse ? a.first > b.first : a.first < b.first;
                return a.second > b.second;
            });
            std::vector<std::pair<int, int>> got;
            for (const Item& it : f.list) got.emplace_back(it.Key, std::stoi(it.Name));
            EXPECT_EQ(got, expected) << "n=" << n << " reverse=" << reverse;
            EXPECT_EQ(f.list.Count(), n);
        }
    }
}

TEST(LinkList, FindIsLinearWithItsOwnComparison) {
    struct Case {
        const char* name;
        std::string list;
        int key;
        bool found;
        std::string current;
        int position;
    };
    const std::vector<Case> cases = {
        {"first match wins", "a3 b1 c3", 3, true, "a", 1},
        {"later match", "a3 b1 c2", 2, true, "c", 3},
        {"no match leaves the last current", "a3 b1 c2", 7, false, "c", 3},
        {"empty list unchanged", "", 7, false, "-", 0},
    };
    for (const Case& c : cases) {
        Fixture f(c.list);
        if (f.list.Count()) f.list.GetItem(2);
        EXPECT_EQ(f.list.Find(c.key, [](int k, const Item& it) { return k == it.Key ? crEqual : crLess; }), c.found)
            << c.name;
        EXPECT_EQ(CurrentName(f.list), c.current) << c.name;
        EXPECT_EQ(f.list.CurrentIndex(), c.position) << c.name;
    }
}

TEST(LinkList, DisposalFollowsOwnership) {
    struct Case {
        const char* name;
        bool owns;
        bool handler;
        std::function<void(List&)> step;
        int liveAfterStep;  // of the three items made
        int handled;        // items passed to the handler
    };
    const std::vector<Case> cases = {
        {"owning delete", true, false, [](List& l) { l.Delete(1); }, 2, 0},
        {"owning remove keeping", true, false, [](List& l) { delete l.Remove(true, 1); }, 2, 0},
        {"owning clear", true, false, [](List& l) { l.Clear(false); }, 0, 0},
        {"owning replace", true, false, [](List& l) { l.ReplaceCurrent(new Item("x", 0)); }, 3, 0},
        {"borrowing delete", false, false, [](List& l) { l.Delete(1); }, 3, 0},
        {"borrowing clear", false, false, [](List& l) { l.Clear(false); }, 3, 0},
        {"handler on delete", false, true, [](List& l) { l.Delete(2); }, 3, 1},
        {"handler on clear", false, true, [](List& l) { l.Clear(false); }, 3, 3},
        {"handler skipped when kept", false, true, [](List& l) { l.Clear(true); }, 3, 0},
    };
    for (const Case& c : cases) {
        std::vector<std::unique_ptr<Item>> made;
        int handled = 0;
        {
            List list(c.owns);
            if (c.handler) list.SetOnFreeItem([&](Item*) { ++handled; });
            for (int i = 0; i < 3; ++i) {
                made.push_back(std::make_unique<Item>("i", i));
                list.Append(made.back().get());
            }
            if (c.owns) for (auto& m : made) m.release();  // the list has them now
            c.step(list);
            EXPECT_EQ(Item::Live, c.liveAfterStep) << c.name;
            EXPECT_EQ(handled, c.handled) << c.name;
            if (!c.owns) list.Clear(true);
        }
        EXPECT_EQ(Item::Live, c.owns ? 0 : 3) << c.name;
        made.clear();
        EXPECT_EQ(Item::Live, 0) << c.name;
    }
}

TEST(LinkList, ClearKeepsOrderMarks) {
    Fixture f("b2 a1");
    f.list.Sort(ByKey, true);
    f.list.Clear(false);
    EXPECT_TRUE(f.list.Sorted());
    EXPECT_EQ(f.list.Comparison(), &ByKey);
    EXPECT_TRUE(f.list.Reversed());
    EXPECT_EQ(f.list.Count(), 0);
    EXPECT_EQ(f.list.CurrentIndex(), 0);
    EXPECT_EQ(f.list.GetItem(0), nullptr);
}

TEST(LinkList, StacksAndStringLists) {
    TStack<Item> stack(true);
    EXPECT_TRUE(stack.IsEmpty());
    EXPECT_EQ(stack.Pop(), nullptr);
    EXPECT_EQ(stack.Peek(), nullptr);
    stack.Push(new Item("a", 1));
    stack.Push(new Item("b", 2));
    EXPECT_EQ(stack.Peek()->Name, "b");
    std::unique_ptr<Item> top(stack.Pop());
    EXPECT_EQ(top->Name, "b");
    top.reset(stack.Pop());
    EXPECT_EQ(top->Name, "a");
    EXPECT_TRUE(stack.IsEmpty());
    EXPECT_EQ(stack.Pop(), nullptr);

    TTagStack tags;
    EXPECT_EQ(ErrorOf([&] { tags.PeekTag(); }), "List index out of bounds (0)");
    EXPECT_EQ(ErrorOf([&] { tags.PopTag(); }), "List index out of bounds (0)");
    tags.PushTag(0);
    tags.PushTag(39);
    EXPECT_EQ(tags.PeekTag(), 39);
    EXPECT_EQ(tags.PopTag(), 39);
    EXPECT_EQ(tags.PopTag(), 0);
    EXPECT_TRUE(tags.IsEmpty());

    TStringList strings;
    EXPECT_EQ(strings.FirstString(), "");
    strings.Add("one");
    strings.Add(std::string("two"));
    EXPECT_EQ(strings.Count(), 2);
    EXPECT_EQ(strings.FirstString(), "one");
    EXPECT_EQ(strings.NextString(), "two");
    EXPECT_EQ(ErrorOf([&] { strings.NextString(); }), "List index out of bounds (2)");
}

TEST(LinkList, ObjectListAddAppends) {
    TObjectList<Item> list;
    list.Sort(ByKey, false);
    list.Add(new Item("c", 3));
    list.Add(std::make_unique<Item>("a", 1));
    EXPECT_EQ(Names(list), "ca");
    EXPECT_FALSE(list.Sorted());
    EXPECT_TRUE(list.OwnsItems());
}

// A list with the rank index must behave exactly as one without: the same random operations are
// applied to both and every result, error, order, current item and position compared.
class IndexedList : public List {
public:
    explicit IndexedList(TDigest digest) : List(true) { EnableRankIndex(ByKey, digest); }
};
uint64_t CoarseDigest(const Item& it) { return static_cast<uint64_t>(it.Key / 8); }  // many ties

// Sorted in another order, the index drops its digests; sorted back with a single item left, the
// digest of that item must be there again for the searches that follow.
TEST(LinkList, RankIndexKeepsDigestsThroughOtherOrders) {
    List plain(true);
    IndexedList indexed([](const Item& it) { return static_cast<uint64_t>(it.Key); });
    for (List* l : {&plain, static_cast<List*>(&indexed)}) {
        for (int k : {50, 10, 40, 20, 30}) l->Append(new Item(std::to_string(k), k));
        l->Sort(AllEqual, false);
        while (l->Count() > 1) l->Delete(1);
        l->Sort(ByKey, false);
        for (int k : {45, 5, 35, 15, 25, 55, 44}) l->Add(new Item(std::to_string(k), k));
    }
    EXPECT_EQ(Spaced(indexed), Spaced(plain));
    EXPECT_EQ(Spaced(plain), "5 15 25 35 44 45 50 55 ");
    for (int k : {0, 5, 33, 50, 99}) {
        Item key("k", k);
        EXPECT_EQ(indexed.BinarySearch(key), plain.BinarySearch(key)) << k;
        EXPECT_EQ(indexed.CurrentIndex(), plain.CurrentIndex()) << k;
    }
}

TEST(LinkList, RankIndexChangesNothingObservable) {
    for (uint32_t seed : {1u, 2u, 3u, 4u, 5u, 6u}) {
        std::mt19937 rng(seed);
        List plain(true);
        IndexedList indexed(seed % 2 ? nullptr : CoarseDigest);
        const int keyRange = seed >= 4 ? 5 + 40 * (seed - 4) : 300;  // seeds 4 to 6: many duplicates
        int runKey = 0;  // half the additions come in ascending runs, each right after the one before
        for (int step = 0; step < 6000; ++step) {
            const int op = static_cast<int>(rng() % 100);
            int key = static_cast<int>(rng() % keyRange);
            if (op < 20) {
                if (key % 16 == 0) runKey = key;
                key = runKey++ % keyRange;
            }
            const int n = plain.Count();
            const int pos = static_cast<int>(rng() % (n + 3)) - 1;
            std::string r1, r2;
            auto both = [&](auto&& f) {
                const std::string e1 = ErrorOf([&] { r1 = f(static_cast<List&>(plain)); });
                const std::string e2 = ErrorOf([&] { r2 = f(static_cast<List&>(indexed)); });
                EXPECT_EQ(e1, e2) << "seed " << seed << " step " << step << " op " << op;
            };
            auto name = [](Item* it) { return it ? it->Name : std::string("-"); };
            const std::string id = std::to_string(step);
            if (op < 40) {
                both([&](List& l) { l.Add(std::make_unique<Item>(id, key)); return std::string(); });
            } else if (op < 48) {
                both([&](List& l) {
                    Item k("k", key);
                    return std::to_string(l.Sorted() ? static_cast<int>(l.BinarySearch(k)) : -1);
                });
            } else if (op < 56) {
                both([&](List& l) { return name(l.GetItem(pos)); });
            } else if (op < 64) {
                both([&](List& l) { l.Delete(pos); return std::string(); });
            } else if (op < 67) {
                both([&](List& l) { l.Sort(key % 5 == 0 ? AllEqual : ByKey, key % 2 == 0); return std::string(); });
            } else if (op < 70) {
                both([&](List& l) { l.Insert(std::make_unique<Item>(id, key), key % 2 == 0); return std::string(); });
            } else if (op < 72) {
                both([&](List& l) { l.Exchange(pos, 1 + key % std::max(n, 1)); return std::string(); });
            } else if (op < 74) {
                both([&](List& l) {
                    std::unique_ptr<Item> removed(l.Remove(true, pos));
                    return name(removed.get());
                });
            } else if (op < 76) {
                both([&](List& l) { l.ReplaceCurrent(std::make_unique<Item>(id, key)); return std::string(); });
            } else if (op < 85) {
                both([&](List& l) { return name(n && key % 2 ? l.Next() : l.Prev()); });
            } else if (op < 86) {
                both([&](List& l) { l.Clear(false); return std::string(); });
            } else {
                both([&](List& l) { return name(key % 2 ? l.First() : l.Last()); });
            }
            if (HasFailure()) return;
            ASSERT_EQ(r1, r2) << "seed " << seed << " step " << step << " op " << op;
            ASSERT_EQ(Spaced(plain), Spaced(indexed)) << "seed " << seed << " step " << step;
            ASSERT_EQ(CurrentName(plain), CurrentName(indexed)) << "seed " << seed << " step " << step;
            ASSERT_EQ(plain.CurrentIndex(), indexed.CurrentIndex()) << "seed " << seed << " step " << step;
            ASSERT_EQ(plain.Sorted(), indexed.Sorted());
            if (step % 250 == 0 && plain.Count() > 0) {  // the backward links too, then back to where it was
                const int at = plain.CurrentIndex();
                ASSERT_EQ(Backwards(indexed), Backwards(plain)) << "seed " << seed << " step " << step;
                plain.GetItem(at);
                indexed.GetItem(at);
            }
        }
    }
    EXPECT_EQ(Item::Live, 0);
}

}  // namespace

// A list holds one item in place and chains from the second on; going from one to two and back (and
// gaining a disposal handler or an order on the way) must keep items, position and disposal right.
TEST(LinkList, GrowsFromOneItemToTwoAndBack) {
    struct Case {
        const char* name;
        std::function<void(List&)> prepare;  // with the one item "a1" in the list
        bool handler;                        // a disposal handler is set (the list borrows)
    };
    const Case cases[] = {
        {"plain", [](List&) {}, false},
        {"sorted", [](List& l) { l.Sort(ByKey, false); }, false},
        {"handler", [](List& l) { l.SetOnFreeItem([](Item* it) { delete it; }); }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int live = Item::Live;
        {
            List list(!c.handler);
            list.Append(new Item("a", 1));
            c.prepare(list);
            EXPECT_EQ(list.Count(), 1);
            EXPECT_EQ(list.First()->Name, "a");
            EXPECT_EQ(list.LastItem()->Name, "a");
            EXPECT_EQ(ErrorOf([&] { list.Next(); }), "List index out of bounds (1)");
            list.Append(new Item("b", 2));
            EXPECT_EQ(Names(list), "ab");
            EXPECT_EQ(list.CurrentIndex(), 2);
            EXPECT_EQ(list.Prev()->Name, "a");
            list.Delete(1);  // back to one: "b" is current at position 1
            EXPECT_EQ(Names(list), "b");
            EXPECT_EQ(list.Current()->Name, "b");
            EXPECT_EQ(list.GetItem(1)->Name, "b");
            EXPECT_EQ(Item::Live, live + 1);
            list.Delete(1);
            EXPECT_EQ(list.Count(), 0);
            EXPECT_EQ(list.First(), nullptr);
            EXPECT_EQ(Item::Live, live);
            list.Append(new Item("c", 3));  // and growing again from empty
            list.Append(new Item("d", 4));
            EXPECT_EQ(Names(list), "cd");
            Item* kept = list.Remove(true, 1);
            EXPECT_EQ(kept->Name, "c");
            delete kept;
        }
        EXPECT_EQ(Item::Live, live);  // the last item went with the list
    }
}
