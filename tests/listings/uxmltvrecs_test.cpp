#include "listings/uxmltvrecs.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "tests/listings/listerror.h"

namespace {

// A programme recognised by its tag (kept in Clump, which no list operation looks at).
std::unique_ptr<TProgram> Prog(const std::string& id, const std::string& tag) {
    auto p = std::make_unique<TProgram>();
    p->ID = id;
    p->Clump = tag;
    return p;
}

template <class T>
std::string Tags(const TLinkList<T>& list, std::string (*tag)(const T&)) {
    std::string out;
    for (const T& item : list) out += (out.empty() ? "" : " ") + tag(item);
    return out;
}
std::string ProgTag(const TProgram& p) { return p.Clump; }
std::string ChanTag(const TChannel& c) { return c.ID; }
std::string CurrentTag(const TProgList& list) { return list.Current() ? list.Current()->Clump : "-"; }


TEST(ProgList, AddProgramKeepsIDOrderAndReplaces) {
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::string>> adds;  // (ID, tag)
        std::string order;
        std::string current;
        int position;
        bool sorted;
    };
    const std::vector<Case> cases = {
        {"kept in ID order", {{"b", "b"}, {"a", "a"}, {"c", "c"}}, "a b c", "c", 3, true},
        {"same ID in other case replaces", {{"abc", "first"}, {"ABC", "second"}}, "second", "second", 1, true},
        {"replacement keeps its place", {{"a", "a"}, {"b", "b"}, {"c", "c"}, {"B", "b2"}}, "a b2 c", "b2", 2, true},
        {"replacing the first", {{"a", "a"}, {"b", "b"}, {"A", "a2"}}, "a2 b", "a2", 1, true},
        {"letters fold to upper case", {{"_", "underscore"}, {"a", "a"}}, "a underscore", "a", 1, true},
        {"prefix first", {{"ab", "ab"}, {"a", "a"}}, "a ab", "a", 1, true},
        {"bytes compare unsigned", {{"\xE9", "e-acute"}, {"z", "z"}}, "z e-acute", "z", 1, true},
        {"without ID appended", {{"b", "b"}, {"a", "a"}, {"", "n"}}, "a b n", "n", 3, false},
        // after an unsuccessful linear search the last item is current and Add inserts before it
        {"ID after ID-less goes in front", {{"", "n"}, {"x", "x"}}, "x n", "x", 1, false},
        {"unsorted: each new ID before the last", {{"", "n"}, {"a", "a"}, {"b", "b"}, {"c", "c"}}, "a b c n", "c", 3,
         false},
        // after deleting a match, Add inserts before the item in front of the deleted one
        {"unsorted replacement moves before its predecessor",
         {{"", "n"}, {"a", "a"}, {"b", "b"}, {"c", "c"}, {"B", "b2"}},
         "b2 a c n",
         "b2",
         1,
         false},
        {"unsorted replacement of the first", {{"", "n"}, {"a", "a"}, {"b", "b"}, {"A", "a2"}}, "a2 b n", "a2", 1,
         false},
        {"two ID-less both kept", {{"", "n1"}, {"", "n2"}}, "n1 n2", "n2", 2, false},
    };
    for (const Case& c : cases) {
        TProgList list;
        for (const auto& [id, tag] : c.adds) list.AddProgram(Prog(id, tag));
        EXPECT_EQ(Tags<TProgram>(list, ProgTag), c.order) << c.name;
        EXPECT_EQ(CurrentTag(list), c.current) << c.name;
        EXPECT_EQ(list.CurrentIndex(), c.position) << c.name;
        EXPECT_EQ(list.Sorted(), c.sorted) << c.name;
    }
}

TEST(ProgList, FindIDBinaryOrLinear) {
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::string>> adds;
        std::string id;
        std::string found;  // tag or "-"
        std::string current;
        int position;
    };
    const std::vector<Case> cases = {
        {"sorted, any case", {{"a", "a"}, {"b", "b"}, {"c", "c"}}, "B", "b", "b", 2},
        {"sorted, missing: last probe current", {{"a", "a"}, {"c", "c"}, {"e", "e"}, {"g", "g"}}, "d", "-", "e", 3},
        {"empty list", {}, "a", "-", "-", 0},
        {"unsorted finds first match", {{"", "n"}, {"k", "k"}}, "K", "k", "k", 1},
        {"unsorted missing: last current", {{"", "n"}, {"k", "k"}}, "z", "-", "n", 2},
        {"empty ID finds an ID-less programme", {{"k", "k"}, {"", "n"}}, "", "n", "n", 2},
    };
    for (const Case& c : cases) {
        TProgList list;
        for (const auto& [id, tag] : c.adds) list.AddProgram(Prog(id, tag));
        TProgram* p = list.FindID(c.id);
        EXPECT_EQ(p ? p->Clump : "-", c.found) << c.name;
        EXPECT_EQ(CurrentTag(list), c.current) << c.name;
        EXPECT_EQ(list.CurrentIndex(), c.position) << c.name;
    }
    // sorted by programme order, the list is searched linearly
    TProgList list;
    list.AddProgram(Prog("b", "b"));
    list.AddProgram(Prog("a", "a"));
    list.SortPrograms("", false, nullptr);  // all equal: reverses
    EXPECT_EQ(Tags<TProgram>(list, ProgTag), "b a");
    ASSERT_NE(list.FindID("A"), nullptr);
    EXPECT_EQ(list.CurrentIndex(), 2);
}

// The literal replacement rule, run on a list without any index: a binary search while sorted by ID,
// a linear one otherwise, delete the match, then Add.
void ReferenceAdd(TLinkList<TProgram>& list, TProgram* p) {
    if (p->ID.empty()) {
        list.Append(p);
        return;
    }
    TProgram key;
    key.ID = p->ID;
    const bool found = list.Sorted() && list.Comparison() == CompareProgramID
                           ? list.BinarySearch(key) == crEqual
                           : list.Find(key, CompareProgramID);
    if (found) list.DeleteCurrent();
    list.Add(p);
}

TEST(ProgList, AddProgramMatchesTheLiteralRule) {
    for (uint32_t seed : {7u, 8u, 9u}) {
        std::mt19937 rng(seed);
        TProgList list;
        TLinkList<TProgram> reference(true);
        reference.Sort(CompareProgramID, false);
        for (int step = 0; step < 3000; ++step) {
            // a small ID space with random letter case, so that replacements are frequent
            std::string id;
            for (int i = 0; i < 2; ++i) id += static_cast<char>((rng() % 2 ? 'a' : 'A') + rng() % 6);
            if (seed == 9 && step == 2000) id.clear();  // late ID-less programme: linear from then on
            const std::string tag = std::to_string(step);
            if (rng() % 10 == 0) {
                TProgram* a = list.FindID(id);
                TProgram key;
                key.ID = id;
                const bool found = reference.Sorted() ? reference.BinarySearch(key) == crEqual
                                                      : reference.Find(key, CompareProgramID);
                ASSERT_EQ(a ? a->Clump : "-", found ? reference.Current()->Clump : "-") << step;
            } else {
                list.AddProgram(Prog(id, tag));
                ReferenceAdd(reference, Prog(id, tag).release());
            }
            ASSERT_EQ(Tags<TProgram>(list, ProgTag), Tags<TProgram>(reference, ProgTag)) << "step " << step;
            ASSERT_EQ(list.CurrentIndex(), reference.CurrentIndex()) << "step " << step;
            int index = 0, at = 0;
            for (const TProgram& p : list) {
                ++index;
                if (&p == list.Current()) at = index;
            }
            ASSERT_EQ(at, list.CurrentIndex()) << "step " << step;
            ASSERT_EQ(list.Current()->Clump, reference.Current()->Clump) << "step " << step;
        }
    }
}

// Programmes that wait for the list to be used go in as one by one would have put them: the list is
// used after runs of additions of every length, in each of the ways a caller may first use it, with
// IDs at random, ascending, and repeating (in another letter case too).
TEST(ProgList, WaitingProgrammesEndUpAsAddedOneByOne) {
    struct Case {
        const char* name;
        int ids;  // how many IDs to draw from; 0 for distinct random ones
        bool ascending;
        int repeats;  // in a thousand additions, how many repeat an ID used before
        int meanRun;  // additions between uses of the list, on average
        const char* prefix = "";  // before every ID
        const char* alphabet = nullptr;  // IDs of 8 to 20 bytes from these, when given
    };
    const std::vector<Case> cases = {
        {"distinct random IDs, long runs", 0, false, 0, 1500},
        {"random IDs, long runs, a few again", 0, false, 2, 1500},
        {"distinct random IDs, short runs", 0, false, 0, 4},
        {"ascending IDs, long runs", 0, true, 0, 700},
        {"ascending IDs, now and then one again", 0, true, 50, 400},
        {"few IDs: replacements everywhere", 40, false, 500, 300},
        {"few IDs, short runs", 40, false, 500, 6},
        // IDs that share their first sixteen bytes or more, and bytes beside the letters and above ASCII
        {"ascending IDs behind a long prefix", 0, true, 20, 900, "Channel042.example.com-"},
        {"random IDs behind a long prefix", 0, false, 20, 900, "channel042.EXAMPLE.com-"},
        {"bytes around the letters", 0, false, 0, 500, "", "@AZ[`az{\x7f\xc1\xfa"},
        {"bytes around the letters behind a prefix", 0, false, 0, 900, "0123456789abcd", "`a{A\xe1"},
    };
    for (const Case& c : cases) {
        std::mt19937 rng(static_cast<uint32_t>(c.meanRun * 7 + c.ids + c.repeats));
        TProgList list;
        TLinkList<TProgram> reference(true);
        reference.Sort(CompareProgramID, false);
        std::vector<std::string> used;
        int ascending = 0;
        auto caseOf = [&](std::string id) {
            for (char& ch : id)
                if (rng() % 2) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
            return id;
        };
        auto nextID = [&]() -> std::string {
            if (!used.empty() && static_cast<int>(rng() % 1000) < c.repeats) return caseOf(used[rng() % used.size()]);
            char id[32];
            if (c.alphabet) {
                const std::string letters = c.alphabet;
                std::string made = c.prefix;
                for (unsigned i = 0, n = 8 + rng() % 13; i < n; ++i) made += letters[rng() % letters.size()];
                used.push_back(made);
                return caseOf(made);
            }
            if (c.ids) std::snprintf(id, sizeof id, "id%02u", static_cast<unsigned>(rng() % c.ids));
            else if (c.ascending) std::snprintf(id, sizeof id, "ch%02d-%06d", ascending / 1000, ascending % 1000), ++ascending;
            else std::snprintf(id, sizeof id, "p%08x", static_cast<unsigned>(rng()));
            used.push_back(c.prefix + std::string(id));
            return caseOf(used.back());
        };
        auto name = [](const TProgram* p) { return p ? p->Clump : std::string("-"); };
        int lastUse = 0;
        for (int step = 0; step < 8000; ++step) {
            const std::string tag = std::to_string(step);
            const std::string id = nextID();
            list.AddProgram(Prog(id, tag));
            ReferenceAdd(reference, Prog(id, tag).release());
            if (rng() % c.meanRun != 0 && step != 7999) continue;
            // the first use settles what waits; each way of using the list must see the same
            const int n = reference.Count();
            const int pos = 1 + static_cast<int>(rng() % n);
            switch (rng() % 10) {
                case 0: ASSERT_EQ(list.Count(), n) << c.name << " " << step; break;
                case 1: ASSERT_EQ(name(list.Current()), name(reference.Current())) << c.name << " " << step; break;
                case 2: ASSERT_EQ(list.CurrentIndex(), reference.CurrentIndex()) << c.name << " " << step; break;
                case 3: {
                    const std::string key = nextID();
                    TProgram probe;
                    probe.ID = key;
                    const bool found = reference.BinarySearch(probe) == crEqual;
                    ASSERT_EQ(name(list.FindID(key)), found ? name(reference.Current()) : "-") << c.name << " " << step;
                    break;
                }
                case 4: ASSERT_EQ(name(list.GetItem(pos)), name(reference.GetItem(pos))) << c.name << " " << step; break;
                case 5: ASSERT_EQ(name(list.Last()), name(reference.Last())) << c.name << " " << step; break;
                case 6:
                    list.DeleteCurrent();
                    reference.DeleteCurrent();
                    break;
                case 7: {
                    std::unique_ptr<TProgram> a(list.Remove(true, pos));
                    std::unique_ptr<TProgram> b(reference.Remove(true, pos));
                    ASSERT_EQ(name(a.get()), name(b.get())) << c.name << " " << step;
                    break;
                }
                case 8: ASSERT_EQ(name(list.LastItem()), name(reference.LastItem())) << c.name << " " << step; break;
                default: break;  // iterating first, below
            }
            ASSERT_EQ(Tags<TProgram>(list, ProgTag), Tags<TProgram>(reference, ProgTag)) << c.name << " " << step;
            ASSERT_EQ(list.CurrentIndex(), reference.CurrentIndex()) << c.name << " " << step;
            ASSERT_EQ(name(list.Current()), name(reference.Current())) << c.name << " " << step;
            const bool longRun = step - lastUse >= 64;  // then the waiting ones went in together
            lastUse = step;
            if ((longRun || step % 7 == 0) && list.Count() > 1) {  // the backward links too
                std::string back1, back2;
                for (TProgram* p = list.Last(); p; p = list.CurrentIndex() > 1 ? list.Prev() : nullptr) back1 += p->Clump + " ";
                for (TProgram* p = reference.Last(); p; p = reference.CurrentIndex() > 1 ? reference.Prev() : nullptr)
                    back2 += p->Clump + " ";
                ASSERT_EQ(back1, back2) << c.name << " " << step;
            }
        }
        // programmes still waiting when the list goes are freed with it
        for (int i = 0; i < 100; ++i) list.AddProgram(Prog(nextID(), "late"));
    }
}

SYSTEMTIME At(int h, int m, int s = 0) {
    SYSTEMTIME t;
    t.wYear = 2024;
    t.wMonth = 6;
    t.wDay = 1;
    t.wHour = static_cast<uint16_t>(h);
    t.wMinute = static_cast<uint16_t>(m);
    t.wSecond = static_cast<uint16_t>(s);
    return t;
}

struct ProgSpec {
    std::string tag;
    std::string channel;
    SYSTEMTIME start;
    SYSTEMTIME stop;
};

TEST(ProgList, SortProgramsByOrderLetters) {
    SYSTEMTIME noisy = At(10, 0);
    noisy.wDayOfWeek = 6;
    noisy.wMilliseconds = 999;
    struct Case {
        const char* name;
        std::vector<ProgSpec> progs;
        std::string order;
        bool reverse;
        std::string order_out;
    };
    const std::vector<Case> cases = {
        {"channel position, then start",
         {{"p1", "one", At(9, 0), At(10, 0)}, {"p2", "two", At(8, 0), At(9, 0)}, {"p3", "one", At(8, 0), At(9, 0)}},
         "CAO", false, "p2 p3 p1"},
        {"start, then channel",
         {{"p1", "one", At(9, 0), At(10, 0)}, {"p2", "two", At(8, 0), At(9, 0)}, {"p3", "one", At(8, 0), At(9, 0)}},
         "ACO", false, "p2 p3 p1"},
        {"reverse gives descending",
         {{"p1", "one", At(9, 0), At(10, 0)}, {"p2", "two", At(8, 0), At(9, 0)}, {"p3", "one", At(8, 0), At(9, 0)}},
         "CAO", true, "p1 p3 p2"},
        {"seconds decide",
         {{"p1", "one", At(8, 0, 30), At(9, 0)}, {"p2", "one", At(8, 0, 10), At(9, 0)}},
         "CAO", false, "p2 p1"},
        {"stop decides after start",
         {{"p1", "one", At(8, 0), At(9, 30)}, {"p2", "one", At(8, 0), At(9, 0)}},
         "CAO", false, "p2 p1"},
        {"two letters: all equal, reversed",
         {{"p1", "one", At(9, 0), At(10, 0)}, {"p2", "two", At(8, 0), At(9, 0)}, {"p3", "one", At(7, 0), At(9, 0)}},
         "CA", false, "p3 p2 p1"},
        {"empty order: reversed",
         {{"p1", "two", At(8, 0), At(9, 0)}, {"p2", "one", At(9, 0), At(10, 0)}},
         "", false, "p2 p1"},
        {"lower-case letters count as unknown",
         {{"p1", "one", At(8, 0), At(9, 0)}, {"p2", "one", At(9, 0), At(10, 0)}},
         "cao", false, "p2 p1"},
        {"unknown letter passes to the next",
         {{"p1", "one", At(8, 0), At(9, 0)}, {"p2", "one", At(9, 0), At(10, 0)}},
         "XAO", false, "p1 p2"},
        {"unmatched channels share the last position",
         {{"p1", "nowhere", At(8, 0), At(9, 0)}, {"p2", "elsewhere", At(9, 0), At(10, 0)},
          {"p3", "three", At(7, 0), At(8, 0)}},
         "CAO", false, "p3 p1 p2"},
        {"unmatched equals the last channel",
         {{"p1", "nowhere", At(8, 0), At(9, 0)}, {"p2", "three", At(9, 0), At(10, 0)},
          {"p3", "one", At(10, 0), At(11, 0)}},
         "CAO", false, "p3 p1 p2"},
        {"equal programmes come out reversed",
         {{"p1", "one", At(8, 0), At(9, 0)}, {"p2", "one", At(8, 0), At(9, 0)}, {"p3", "one", At(8, 0), At(9, 0)}},
         "CAO", false, "p3 p2 p1"},
        {"day of week and milliseconds ignored",
         {{"p1", "one", At(10, 0), At(11, 0)}, {"p2", "one", noisy, At(11, 0)}},
         "AOC", false, "p2 p1"},
        {"first channel with the id counts",
         {{"p1", "one", At(8, 0), At(9, 0)}, {"p2", "dup", At(9, 0), At(10, 0)}},
         "CAO", false, "p2 p1"},
    };
    // channel order: two, dup, one, dup, three
    TChanList channels(false);
    for (const char* id : {"two", "dup", "one", "dup", "three"}) {
        auto c = std::make_unique<TChannel>();
        c->ID = id;
        c->XML_ID = id;
        channels.Append(std::move(c));
    }
    for (const Case& c : cases) {
        TProgList list;
        for (const ProgSpec& s : c.progs) {
            auto p = Prog("", s.tag);
            p->XMLChannel = s.channel;
            p->Start = s.start;
            p->Stop = s.stop;
            list.AddProgram(std::move(p));
        }
        list.SortPrograms(c.order, c.reverse, &channels);
        EXPECT_EQ(Tags<TProgram>(list, ProgTag), c.order_out) << c.name;
        EXPECT_EQ(CurrentTag(list), c.order_out.substr(0, 2)) << c.name;
    }
    // the order on its own agrees with the sort
    const TProgramOrder order("CAO", &channels);
    TProgram a, b;
    a.XMLChannel = "three";
    b.XMLChannel = "two";
    EXPECT_EQ(order.Compare(a, b), crGreater);
    b.XMLChannel = "unknown";
    EXPECT_EQ(order.Compare(a, b), crEqual);  // both the last position, same times
    EXPECT_EQ(TProgramOrder("CAO", nullptr).Compare(a, b), crEqual);  // no channels: all at 0
}

// Long lists are sorted by keys made once per programme; the outcome must be the merge sort's, ties
// and out-of-range times (which fall back to the merge sort) included.
TEST(ProgList, SortProgramsByKeysAgreesWithTheMergeSort) {
    TChanList channels(false);
    for (const char* id : {"b", "a", "c", "a"}) {
        auto c = std::make_unique<TChannel>();
        c->ID = c->XML_ID = id;
        channels.Append(std::move(c));
    }
    const auto compare = [](const void* order, const TProgram& a, const TProgram& b) {
        return static_cast<const TProgramOrder*>(order)->Compare(a, b);
    };
    for (const char* order : {"CAO", "AOC", "OCA", "AXA", "CCC", "AO"}) {
        for (const bool reverse : {false, true}) {
            for (const bool oddTime : {false, true}) {
                TProgList keyed, merged;
                for (int i = 0; i < 300; ++i) {
                    for (TProgList* list : {&keyed, &merged}) {
                        auto p = Prog("", std::to_string(i));
                        std::mt19937 same(static_cast<unsigned>(i));  // both lists alike
                        p->XMLChannel = std::string(1, "abcd"[same() % 4]);
                        p->Start = At(static_cast<int>(same() % 3), static_cast<int>(same() % 2) * 30);
                        p->Stop = At(static_cast<int>(same() % 3), 0, static_cast<int>(same() % 2));
                        if (oddTime && i == 150) p->Start.wMonth = 99;
                        list->AddProgram(std::move(p));
                    }
                }
                keyed.SortPrograms(order, reverse, &channels);
                const TProgramOrder o(order, &channels);
                merged.Sort(+compare, &o, reverse);
                EXPECT_EQ(Tags<TProgram>(keyed, ProgTag), Tags<TProgram>(merged, ProgTag))
                    << order << (reverse ? " reversed" : "") << (oddTime ? " with an odd time" : "");
            }
        }
    }
}

std::unique_ptr<TChannel> Chan(const std::string& id, std::vector<std::string> names = {}) {
    auto c = std::make_unique<TChannel>();
    c->ID = id;
    if (!names.empty()) {
        c->Name = std::make_unique<TXMLTVStringList>();
        for (auto& n : names) c->Name->Add(std::make_unique<TXMLTVString>(n, ""));
    }
    return c;
}

TEST(ChanList, Lookups) {
    TChanList sorted(true);
    for (const char* id : {"c", "a", "B", "b"}) sorted.Add(Chan(id));
    EXPECT_EQ(Tags<TChannel>(sorted, ChanTag), "B a b c");  // byte order: upper case first
    EXPECT_TRUE(sorted.Sorted());

    struct Case {
        const char* name;
        std::function<std::string(TChanList&)> op;
        std::string result;
        std::string current;
        int position;
    };
    auto cur = [](TChanList& l) { return l.Current() ? l.Current()->ID : std::string("-"); };
    const std::vector<Case> cases = {
        {"FindID exact", [](TChanList& l) { return std::to_string(l.FindID("b")); }, "1", "b", 3},
        {"FindID is case-sensitive", [](TChanList& l) { return std::to_string(l.FindID("C")); }, "0", "c", 4},
        {"SearchID found", [](TChanList& l) { return std::to_string(l.SearchID("a")); }, "1", "a", 2},
        {"SearchID missing", [](TChanList& l) { return std::to_string(l.SearchID("bb")); }, "0", "c", 4},
        {"SearchID below all", [](TChanList& l) { return std::to_string(l.SearchID("A")); }, "0", "B", 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.op(sorted), c.result) << c.name;
        EXPECT_EQ(cur(sorted), c.current) << c.name;
        EXPECT_EQ(sorted.CurrentIndex(), c.position) << c.name;
    }

    TChanList unsorted;
    unsorted.Append(Chan("id1", {"BBC One", "BBC 1"}));
    unsorted.Append(Chan("id2"));
    unsorted.Append(Chan("id3", {"ITV"}));
    EXPECT_EQ(ErrorOf([&] { unsorted.SearchID("id1"); }), "Cannot Binary Search Unsorted List");
    const std::vector<std::pair<std::string, std::string>> byName = {
        {"BBC One", "id1"}, {"BBC 1", ""}, {"id2", "id2"}, {"ITV", "id3"}, {"itv", ""}, {"", ""}};
    for (const auto& [name, id] : byName) EXPECT_EQ(unsorted.FindIDByName(name), id) << name;
    EXPECT_EQ(DisplayNameOf(*unsorted.GetItem(2)), "id2");
    EXPECT_EQ(DisplayNameOf(*unsorted.GetItem(1)), "BBC One");
}

TEST(ChanList, TakeCurrentFromMovesTheRecord) {
    struct Case {
        const char* name;
        bool targetSorted;
        std::string take;  // ID made current in the source
        std::string target;
        std::string source;
        std::string sourceCurrent;
    };
    const std::vector<Case> cases = {
        {"into a sorted list", true, "b", "a b c", "d e", "d"},  // target starts "a c"
        {"appended to an unsorted list", false, "b", "c a b", "d e", "d"},
        {"from the end", false, "e", "c a e", "b d", "d"},
    };
    for (const Case& c : cases) {
        TChanList source(true);
        for (const char* id : {"b", "d", "e"}) source.Add(Chan(id));
        TChanList target(c.targetSorted);
        target.Append(Chan(c.targetSorted ? "a" : "c"));
        target.Append(Chan(c.targetSorted ? "c" : "a"));
        if (c.targetSorted) target.Sort(CompareChannelID, false);
        ASSERT_TRUE(source.FindID(c.take));
        TChannel* moved = source.Current();
        target.TakeCurrentFrom(source);
        EXPECT_EQ(Tags<TChannel>(target, ChanTag), c.target) << c.name;
        EXPECT_EQ(target.Current(), moved) << c.name;  // the same record, not a copy
        EXPECT_EQ(Tags<TChannel>(source, ChanTag), c.source) << c.name;
        EXPECT_EQ(source.Current() ? source.Current()->ID : "-", c.sourceCurrent) << c.name;
    }
    TChanList empty, target;
    target.TakeCurrentFrom(empty);
    EXPECT_EQ(target.Count(), 0);
}

TEST(SettingList, SetSettingReplacesInPlace) {
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::string>> sets;  // (Key, Name)
        std::string keys;
        std::string names;
    };
    const std::vector<Case> cases = {
        {"distinct keys appended", {{"a", "1"}, {"b", "2"}}, "a b", "1 2"},
        {"same key keeps first position, last data", {{"a", "1"}, {"b", "2"}, {"a", "3"}}, "a b", "3 2"},
        {"key differing in case appends", {{"a", "1"}, {"A", "2"}}, "a A", "1 2"},
    };
    for (const Case& c : cases) {
        TSettingList list;
        for (const auto& [key, name] : c.sets) {
            auto s = std::make_unique<TSetting>();
            s->Key = key;
            s->Name = name;
            list.SetSetting(std::move(s));
        }
        std::string keys, names;
        for (int i = 1; i <= list.Count(); ++i) {
            keys += (i > 1 ? " " : "") + list.Items(i)->Key;
            names += (i > 1 ? " " : "") + list.Items(i)->Name;
        }
        EXPECT_EQ(keys, c.keys) << c.name;
        EXPECT_EQ(names, c.names) << c.name;
    }
}

TEST(Records, DefaultsAndAccessors) {
    TXMLTVVideo video;
    EXPECT_TRUE(video.Present);
    EXPECT_TRUE(video.Colour);
    EXPECT_TRUE(TXMLTVAudio().Present);
    TProgram p;
    EXPECT_EQ(p.Start.wYear, 0);
    EXPECT_EQ(p.Length, 0);
    EXPECT_FALSE(p.New);
    EXPECT_EQ(ValueOf(p.Lang), "");
    EXPECT_EQ(FirstValue(p.Title), "");
    p.Title = std::make_unique<TXMLTVStringList>();
    EXPECT_EQ(FirstValue(p.Title), "");
    p.Title->Add(std::make_unique<TXMLTVString>("News", "en"));
    p.Title->Add(std::make_unique<TXMLTVString>("Nachrichten", "de"));
    p.Title->Last();
    EXPECT_EQ(FirstValue(p.Title), "News");
    EXPECT_EQ(p.Title->CurrentIndex(), 2);  // reading the first value does not move the list
    p.Lang = std::make_unique<TXMLTVString>("en", "");
    EXPECT_EQ(ValueOf(p.Lang), "en");
    TChannel c;
    c.ID = "id";
    c.Name = std::make_unique<TXMLTVStringList>();
    EXPECT_EQ(DisplayNameOf(c), "id");  // an empty name list counts as none
}

}  // namespace

namespace {

// Programmes with parts, moved from two grabbers' lists into a combined one as a run does; each list
// is then freed on its own (the sanitizer build checks that nothing is freed twice or left behind).
TEST(ProgList, ProgrammesMoveBetweenListsWithTheirParts) {
    auto withTitle = [](const std::string& id, const std::string& tag) {
        auto p = Prog(id, tag);
        p->Title = std::make_unique<TXMLTVStringList>();
        p->Title->Add(std::make_unique<TXMLTVString>("title " + tag, "en"));
        if (tag.size() > 1) p->Title->Add(std::make_unique<TXMLTVString>("second " + tag, ""));
        return p;
    };
    auto first = std::make_unique<TProgList>();
    auto second = std::make_unique<TProgList>();
    first->AddProgram(withTitle("b", "b1"));
    first->AddProgram(withTitle("a", "a"));
    second->AddProgram(withTitle("c", "c"));
    auto combined = std::make_unique<TProgList>();
    // one programme moved alone, then the rest without IDs, appended
    combined->AddProgram(std::unique_ptr<TProgram>(first->Remove(true, 2)));  // "b1"
    EXPECT_EQ(Tags<TProgram>(*first, ProgTag), "a");
    for (TProgList* grabber : {first.get(), second.get()}) {
        while (grabber->Count() > 0) {
            std::unique_ptr<TProgram> p(grabber->Remove(true, 1));
            p->ID.clear();
            combined->AddProgram(std::move(p));
        }
    }
    first.reset();
    second.reset();
    EXPECT_EQ(Tags<TProgram>(*combined, ProgTag), "b1 a c");
    std::string titles;
    for (const TProgram& p : *combined)
        for (const TXMLTVString& t : *p.Title) titles += t.Value + "|" + t.Lang + " ";
    EXPECT_EQ(titles, "title b1|en second b1| title a|en title c|en ");
    EXPECT_EQ(combined->FindID("b")->Clump, "b1");
    combined->Delete(1);
    EXPECT_EQ(Tags<TProgram>(*combined, ProgTag), "a c");
}

}  // namespace
