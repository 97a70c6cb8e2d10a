#include "util/textutils.h"

#include <gtest/gtest.h>

#include <climits>

TEST(FormatSize, UnitsBiasAndSeparators) {
    struct Case { int bias; int64_t size; const char* sep; const char* expected; };
    const Case cases[] = {
        {0, 0, ",", "0 "},                 {0, 1023, ",", "1,023 "},
        {0, 1024, ",", "1,024 "},          {0, 1025, ",", "1 K"},           // at most 1024 stays in the unit
        {0, 1048577, ",", "1,024 K"},      {0, 1049600, ",", "1 M"},        // 1024.001 K rounds down to 1024
        {0, 1536000, ",", "1 M"},          {1, 1536000, ",", "1,500 K"},
        {2, 1536000, ",", "1,536,000 "},   {1, 500, ",", "500 "},           // never below bytes
        {1, 1025, ",", "1,025 "},          {0, int64_t{1025} << 50, ",", "1 E"},
        {0, INT64_MAX, ",", "7 E"},        {1, INT64_MAX, ",", "8,191 P"},
        {6, INT64_MAX, ",", "9,223,372,036,854,775,807 "},
        {-1, INT64_MAX, ",", "7 E"},       {-9, 5000, ",", "0 E"},          // a wrong-way bias stops at E
        {0, -1, ",", "ERROR"},             {1, INT64_MIN, ",", "ERROR"},
        {1, 1536000, ".", "1.500 K"},      {2, 123456, "", "123456 "},
        {2, 1234567, "\xE2\x80\xAF", "1\xE2\x80\xAF" "234\xE2\x80\xAF" "567 "},  // multi-byte separator
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatSizeBias(c.bias, c.size, c.sep), c.expected) << c.bias << " " << c.size;
}

TEST(FormatSize, UsesTheLocaleSeparator) {
    const std::string sep = LocaleThousandsSeparator();
    EXPECT_FALSE(sep.empty());
    for (int64_t size : {int64_t{0}, int64_t{1024}, int64_t{1536000}, INT64_MAX, int64_t{-5}}) {
        EXPECT_EQ(FormatSize(size), FormatSizeBias(0, size, sep)) << size;
        EXPECT_EQ(FormatSizeBias(1, size), FormatSizeBias(1, size, sep)) << size;
    }
}

TEST(FormatDuration, HoursMinutesSeconds) {
    struct Case { int32_t seconds; const char* expected; };
    const Case cases[] = {
        {0, "00:00:00"},     {59, "00:00:59"},      {60, "00:01:00"},           {3599, "00:59:59"},
        {3600, "01:00:00"},  {3725, "01:02:05"},    {86399, "23:59:59"},        {360000, "100:00:00"},
        {-65, "00:-01:-05"}, {-3725, "-01:-02:-05"}, {INT32_MAX, "596523:14:07"},
        {INT32_MIN, "-596523:-14:-08"},
    };
    for (const auto& c : cases) EXPECT_EQ(FormatDuration(c.seconds), c.expected) << c.seconds;
}

TEST(PosFrom, FindsFromOneBasedStart) {
    struct Case { const char* text; const char* pattern; int start; int expected; };
    const Case cases[] = {
        {"abcabc", "bc", 3, 5},  {"abcabc", "bc", 1, 2}, {"abcabc", "bc", 2, 2}, {"abcabc", "bc", 6, -1},
        {"abc", "x", 1, -1},     {"abc", "a", 1, 1},     {"abc", "c", 3, 3},     {"abc", "c", 4, -1},
        {"abc", "a", 100, -1},   {"abc", "abcd", 1, -1}, {"", "a", 1, -1},       {"abc", "", 1, -1},
        {"aAa", "A", 1, 2},      {"a|b|", "|", 3, 4},    {"abc", "a", INT_MAX, -1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PosFrom(c.text, c.pattern, c.start), c.expected) << c.text << " " << c.pattern << " " << c.start;

    const std::string withNul("a\0b\0c", 5);
    EXPECT_EQ(PosFrom(withNul, std::string("\0c", 2), 1), 4);
    EXPECT_EQ(PosFirst("x~y~", "~"), 2);
    EXPECT_EQ(PosFirst("xy", "~"), -1);
}

TEST(PosFrom, StartBelowOneRaises) {
    struct Case { const char* text; int start; const char* message; };
    const Case cases[] = {
        {"abc", 0, "Cannot start string search from 0"},
        {"abc", -1, "Cannot start string search from -1"},
        {"", 0, "Cannot start string search from 0"},
        {"abc", INT_MIN, "Cannot start string search from -2147483648"},
    };
    for (const auto& c : cases) {
        try {
            PosFrom(c.text, "a", c.start);
            ADD_FAILURE() << "no error for start " << c.start;
        } catch (const ESearchError& e) {
            EXPECT_STREQ(e.what(), c.message);
        }
    }
}

TEST(CopyRange, CopiesInclusiveRangeInsideTheText) {
    struct Case { const char* text; int first; int last; const char* expected; };
    const Case cases[] = {
        {"abcdef", 2, 4, "bcd"},   {"abcdef", 1, 6, "abcdef"}, {"abcdef", 3, 3, "c"},
        {"text", 3, 2, ""},        {"abcdef", 6, 6, "f"},       {"abcdef", 1, 0, ""},
        // positions outside the text are cut to it
        {"abcdef", 4, 100, "def"}, {"abcdef", 7, 9, ""},        {"abcdef", 0, 2, "ab"},
        {"abcdef", -5, 1, "a"},    {"abcdef", 2, -1, ""},       {"abcdef", INT_MIN, INT_MAX, "abcdef"},
        {"", 1, 1, ""},            {"abc", INT_MAX, INT_MAX, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CopyRange(c.text, c.first, c.last), c.expected) << c.text << " " << c.first << " " << c.last;
}
