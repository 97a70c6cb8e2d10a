#include "listings/recordtext.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

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

}  // namespace
