#include "listings/recordtext.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

// Texts on either side of the 15 bytes kept inside, with NULs inside: each keeps its bytes, its size
// and the NUL after it, through copies, moves, appends and assignments from within itself.
TEST(RecordText, KeepsTextsOfEverySize) {
    const std::string texts[] = {"", "a", std::string("a\0b", 3), std::string(14, 'x'), std::string(15, 'y'),
                                 std::string(16, 'z'), std::string("0123456789abcde\0", 16), std::string(600, 'w')};
    for (const std::string& s : texts) {
        TRecordText t(s);
        EXPECT_EQ(t.size(), s.size());
        EXPECT_EQ(std::string(t), s);
        EXPECT_EQ(t.c_str()[s.size()], '\0');
        EXPECT_EQ(t.empty(), s.empty());

        TRecordText copy(t);
        EXPECT_EQ(copy, t);
        TRecordText moved(std::move(copy));
        EXPECT_EQ(moved, s);
        EXPECT_TRUE(copy.empty());  // a moved-from text is empty

        t += "!";
        EXPECT_EQ(std::string(t), s + "!");
        EXPECT_EQ(t.c_str()[s.size() + 1], '\0');

        t.assign(t.View().substr(1));  // from inside itself
        EXPECT_EQ(std::string(t), (s + "!").substr(1));
        const TRecordText& same = t;
        t = same;
        EXPECT_EQ(std::string(t), (s + "!").substr(1));
        t.clear();
        EXPECT_EQ(t, "");
    }
}

TEST(RecordText, ComparesAndJoinsLikeAString) {
    const TRecordText shortText("abc"), longText("a text longer than fifteen");
    EXPECT_TRUE(shortText == "abc" && "abc" == shortText && shortText == std::string("abc"));
    EXPECT_TRUE(shortText != longText && shortText < TRecordText("abd") && longText < shortText);
    EXPECT_EQ(shortText + "/" + longText, "abc/a text longer than fifteen");
    EXPECT_EQ(std::string("x") + shortText, "xabc");
    EXPECT_EQ(shortText.find('c'), 2u);
    EXPECT_EQ(longText.substr(2, 4), "text");
    const std::string chosen = shortText.empty() ? std::string("none") : shortText;
    EXPECT_EQ(chosen, "abc");
}

// Long texts live in the record store beside records: texts of many lengths, across the store's
// largest size, made, joined, reassigned and freed in a random order each keep their bytes.
TEST(RecordText, LongTextsNeverShareBytes) {
    std::mt19937 random(10);
    std::vector<std::pair<TRecordText, std::string>> live;
    for (int step = 0; step < 20000; ++step) {
        const std::size_t pick = live.empty() ? 0 : random() % live.size();
        switch (live.empty() ? 0 : random() % 4) {
            case 0: case 1: {
                const std::string s(16 + random() % 600, static_cast<char>('a' + random() % 26));
                live.emplace_back(TRecordText(s), s);
                break;
            }
            case 2:
                live[pick].first += "+";
                live[pick].second += "+";
                break;
            default:
                ASSERT_EQ(std::string(live[pick].first), live[pick].second) << "step " << step;
                live[pick] = std::move(live.back());
                live.pop_back();
        }
    }
    for (const auto& [text, expected] : live) EXPECT_EQ(std::string(text), expected);
}

}  // namespace
