#include "listings/timezones.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

SYSTEMTIME T(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    SYSTEMTIME t;
    t.wYear = static_cast<uint16_t>(y);
    t.wMonth = static_cast<uint16_t>(mo);
    t.wDay = static_cast<uint16_t>(d);
    t.wHour = static_cast<uint16_t>(h);
    t.wMinute = static_cast<uint16_t>(mi);
    t.wSecond = static_cast<uint16_t>(s);
    return t;
}

SYSTEMTIME Dur(int y, int mo, int d, int h, int mi, int s) { return T(y, mo, d, h, mi, s); }

std::string Show(const SYSTEMTIME& t) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
                  t.wSecond);
    return buf;
}

// The switch instants are module state set from the clock; each test fixes them from a chosen "now"
// and puts the start-up values back afterwards.
class SummerSwitches : public ::testing::Test {
protected:
    void SetUp() override { savedStart = SummerStart, savedEnd = SummerEnd; }
    void TearDown() override { SummerStart = savedStart, SummerEnd = savedEnd; }
    SYSTEMTIME savedStart, savedEnd;
};

}  // namespace

TEST(TimeZones, LeapYearsAndMonthLengths) {
    struct { int year; bool leap; } years[] = {
        {1900, false}, {2000, true}, {2100, false}, {2400, true}, {2024, true}, {2023, false}, {0, true},
    };
    for (const auto& c : years) EXPECT_EQ(IsLeapYear(c.year), c.leap) << c.year;

    struct { int year, month, days; } months[] = {
        {2024, 1, 31}, {2024, 2, 29}, {2023, 2, 28}, {1900, 2, 28}, {2000, 2, 29}, {2100, 2, 28},
        {2024, 4, 30}, {2024, 6, 30}, {2024, 9, 30}, {2024, 11, 30}, {2024, 12, 31}, {2024, 7, 31},
        {2024, 0, 31},    // December of 2023
        {2024, -1, 30},   // November of 2023
        {2024, -10, 28},  // February of 2023
        {2023, 14, 29},   // February of 2024
        {2024, 13, 31},   // January of 2025
        {2024, 24, 31},   // December of 2025
        {2024, 26, 28},   // February of 2026
    };
    for (const auto& c : months) EXPECT_EQ(DaysInMonth(c.year, c.month), c.days) << c.year << "/" << c.month;
}

TEST(TimeZones, DayOfWeek) {
    struct { SYSTEMTIME date; int weekday; } cases[] = {
        {T(1970, 1, 1), 4},  {T(2024, 1, 1), 1},  {T(2000, 2, 29), 2}, {T(1900, 1, 1), 1},
        {T(2024, 3, 31), 0}, {T(2023, 10, 29), 0}, {T(2100, 3, 1), 1}, {T(1600, 2, 29), 2},
        {T(1, 1, 1), 1},     {T(9999, 12, 31), 5},
        {T(2024, 13, 1), 3},  // counts on into 2025-01-01
        {T(2024, 1, 32), 4},  // 2024-02-01
        {T(2024, 3, 0), 4},   // 2024-02-29
    };
    for (const auto& c : cases) EXPECT_EQ(DayOfWeek(c.date), c.weekday) << Show(c.date);
    const int absent = DayOfWeek(SYSTEMTIME{});  // an absent time must not index outside any table
    EXPECT_GE(absent, 0);
    EXPECT_LE(absent, 6);
}

TEST(TimeZones, CompareTimeIgnoresSeconds) {
    struct { SYSTEMTIME a, b; int result; } cases[] = {
        {T(2024, 6, 1, 18, 0, 0), T(2024, 6, 1, 18, 0, 59), 0},
        {T(2024, 6, 1, 18, 0, 59), T(2024, 6, 1, 18, 1, 0), -1},
        {T(2023, 12, 31, 23, 59), T(2024, 1, 1, 0, 0), -1},
        {T(2024, 1, 1), T(2023, 12, 31, 23, 59), 1},
        {T(2024, 2, 1), T(2024, 1, 31), 1},
        {T(2024, 1, 2, 0, 0), T(2024, 1, 1, 23, 59), 1},
        {T(2024, 1, 1, 1, 0), T(2024, 1, 1, 0, 59), 1},
        {T(2024, 1, 1, 0, 1), T(2024, 1, 1, 0, 2), -1},
        {SYSTEMTIME{}, T(1, 1, 1), -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CompareTime(c.a, c.b), c.result) << Show(c.a) << " vs " << Show(c.b);
        EXPECT_EQ(CompareTime(c.b, c.a), -c.result) << Show(c.b) << " vs " << Show(c.a);
    }
}

TEST(TimeZones, AddTimeCarries) {
    struct { SYSTEMTIME t, d; std::string expected; } cases[] = {
        {T(2023, 12, 31, 23, 30), Dur(0, 0, 0, 1, 0, 0), "2024-01-01 00:30:00"},
        {T(2024, 2, 28, 23, 30), Dur(0, 0, 0, 1, 0, 0), "2024-02-29 00:30:00"},
        {T(2023, 2, 28, 23, 30), Dur(0, 0, 0, 1, 0, 0), "2023-03-01 00:30:00"},
        {T(1900, 2, 28), Dur(0, 0, 1, 0, 0, 0), "1900-03-01 00:00:00"},
        {T(2000, 2, 28), Dur(0, 0, 1, 0, 0, 0), "2000-02-29 00:00:00"},
        {T(2100, 2, 28), Dur(0, 0, 1, 0, 0, 0), "2100-03-01 00:00:00"},
        {T(2024, 1, 31), Dur(0, 0, 1, 0, 0, 0), "2024-02-01 00:00:00"},
        {T(2024, 4, 30), Dur(0, 0, 1, 0, 0, 0), "2024-05-01 00:00:00"},
        {T(2024, 5, 5, 12, 59, 59), Dur(0, 0, 0, 0, 0, 1), "2024-05-05 13:00:00"},
        {T(2024, 12, 31, 23, 59, 59), Dur(0, 0, 0, 0, 0, 1), "2025-01-01 00:00:00"},
        {T(2024, 5, 5, 23, 0), Dur(0, 0, 0, 0, 90, 0), "2024-05-06 00:30:00"},
        {T(2024, 5, 5, 10, 0), Dur(0, 0, 0, 0, 0, 7325), "2024-05-05 12:02:05"},
        {T(2024, 1, 1), Dur(0, 0, 366, 0, 0, 0), "2025-01-01 00:00:00"},
        {T(2024, 1, 1), Dur(0, 0, 1000, 5, 0, 0), "2026-09-27 05:00:00"},
        {T(2024, 11, 30), Dur(0, 1, 0, 0, 0, 0), "2024-12-30 00:00:00"},
        {T(2024, 11, 15), Dur(1, 14, 0, 0, 0, 0), "2027-01-15 00:00:00"},
        {T(2024, 11, 30), Dur(0, 3, 0, 0, 0, 0), "2025-03-02 00:00:00"},  // 30 February runs on into March
        // Absent or damaged times stay finite; a year beyond the record's range stops at its last instant.
        {SYSTEMTIME{}, Dur(0, 0, 0, 1, 0, 0), "0000-00-00 01:00:00"},
        {T(2024, 0, 40), Dur(0, 0, 0, 0, 0, 0), "2024-01-09 00:00:00"},
        {T(65535, 12, 31), Dur(0, 0, 1, 0, 0, 0), "65535-12-31 23:59:59"},
    };
    for (const auto& c : cases) EXPECT_EQ(Show(AddTime(c.t, c.d)), c.expected) << Show(c.t) << " + " << Show(c.d);
}

TEST(TimeZones, SubtractTimeBorrows) {
    struct { SYSTEMTIME t, d; std::string expected; } cases[] = {
        {T(2024, 1, 1, 0, 30), Dur(0, 0, 0, 1, 0, 0), "2023-12-31 23:30:00"},
        {T(2024, 3, 1, 0, 30), Dur(0, 0, 0, 1, 0, 0), "2024-02-29 23:30:00"},
        {T(2023, 3, 1, 0, 30), Dur(0, 0, 0, 1, 0, 0), "2023-02-28 23:30:00"},
        {T(1900, 3, 1), Dur(0, 0, 1, 0, 0, 0), "1900-02-28 00:00:00"},
        {T(2000, 3, 1), Dur(0, 0, 1, 0, 0, 0), "2000-02-29 00:00:00"},
        {T(2100, 3, 1), Dur(0, 0, 1, 0, 0, 0), "2100-02-28 00:00:00"},
        {T(2024, 5, 1), Dur(0, 0, 1, 0, 0, 0), "2024-04-30 00:00:00"},
        {T(2024, 1, 1, 0, 0, 0), Dur(0, 0, 0, 0, 0, 1), "2023-12-31 23:59:59"},
        {T(2024, 5, 1, 0, 0, 0), Dur(0, 0, 0, 0, 1, 0), "2024-04-30 23:59:00"},
        {T(2024, 5, 1, 10, 0, 0), Dur(0, 0, 0, 0, 0, 61), "2024-05-01 09:58:59"},
        {T(2024, 1, 1, 2, 0), Dur(0, 0, 0, 3, 30, 0), "2023-12-31 22:30:00"},
        {T(2024, 1, 15), Dur(0, 2, 0, 0, 0, 0), "2023-11-15 00:00:00"},
        {T(2024, 1, 15), Dur(1, 13, 0, 0, 0, 0), "2021-12-15 00:00:00"},
        {T(2024, 3, 15), Dur(0, 0, 400, 0, 0, 0), "2023-02-09 00:00:00"},
        {T(2024, 3, 31), Dur(0, 1, 0, 0, 0, 0), "2024-03-02 00:00:00"},  // 31 February runs on into March
        // Absent or damaged times stay finite; a year below 0 stops at 0 (still absent).
        {SYSTEMTIME{}, Dur(0, 0, 0, 1, 0, 0), "0000-01-01 00:00:00"},
        {T(1, 1, 1, 0, 30), Dur(0, 0, 0, 1, 0, 0), "0000-12-31 23:30:00"},
        {T(1, 1, 1), Dur(2, 0, 0, 0, 0, 0), "0000-01-01 00:00:00"},
        {T(2024, 0, 0), Dur(0, 0, 0, 0, 0, 0), "2023-11-30 00:00:00"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Show(SubtractTime(c.t, c.d)), c.expected) << Show(c.t) << " - " << Show(c.d);
}

TEST(TimeZones, ExtremeDurationsEndWithAValidDate) {
    const SYSTEMTIME most = Dur(65535, 65535, 65535, 65535, 65535, 65535);
    const SYSTEMTIME starts[] = {SYSTEMTIME{}, T(2024, 2, 29, 23, 59, 59), most};
    for (const auto& t : starts) {
        for (const SYSTEMTIME& r : {AddTime(t, most), SubtractTime(t, most), SubtractTime(SYSTEMTIME{}, t)}) {
            EXPECT_GE(r.wMonth, 1) << Show(t);
            EXPECT_LE(r.wMonth, 12) << Show(t);
            EXPECT_GE(r.wDay, 1) << Show(t);
            EXPECT_LE(r.wDay, DaysInMonth(r.wYear, r.wMonth)) << Show(t);
        }
    }
}

TEST(TimeZones, ParseTimeZone) {
    struct {
        std::string name;
        int stdH, stdM, dstH, dstM;
        std::string stdText, dstText;
        bool switches;  // whether the switch instants are taken from SummerStart and SummerEnd
    } cases[] = {
        {"GMT/BST", 0, 0, 1, 0, "+0000", "+0100", true},
        {"CET/CEST", 1, 0, 2, 0, "+0100", "+0200", true},
        {"EET/EEST", 2, 0, 3, 0, "+0200", "+0300", true},
        {"-12:00", -12, 0, -12, 0, "-1200", "-1200", false},
        {"-03:30", -3, -30, -3, -30, "-0330", "-0330", false},
        {"-00:30", 0, -30, 0, -30, "-0030", "-0030", false},
        {"+00:00", 0, 0, 0, 0, "+0000", "+0000", false},
        {"+05:45", 5, 45, 5, 45, "+0545", "+0545", false},
        {"+13:00", 13, 0, 13, 0, "+1300", "+1300", false},
        {"+05:4x", 5, 0, 5, 0, "+0500", "+0500", false},  // a part that is no number counts as 0
        {"+ab:30", 0, 30, 0, 30, "+0030", "+0030", false},
        {"-xx:yy", 0, 0, 0, 0, "+0000", "+0000", false},
        {"+ 5:30", 0, 30, 0, 30, "+0030", "+0030", false},
        {"+-3:00", -3, 0, -3, 0, "-0300", "-0300", false},
        {"UTC", 0, 0, 0, 0, "+0000", "+0000", false},
        {"gmt/bst", 0, 0, 0, 0, "+0000", "+0000", false},  // names are compared byte-wise
        {"GMT/BST ", 0, 0, 0, 0, "+0000", "+0000", false},
        {"", 0, 0, 0, 0, "+0000", "+0000", false},
        {"+5:45", 0, 0, 0, 0, "+0000", "+0000", false},
        {"+05:450", 0, 0, 0, 0, "+0000", "+0000", false},
        {"+05-45", 0, 0, 0, 0, "+0000", "+0000", false},
        {"*05:45", 0, 0, 0, 0, "+0000", "+0000", false},
    };
    const SYSTEMTIME marker = T(1999, 9, 9, 9, 9, 9);
    for (const auto& c : cases) {
        TTimeZone z;
        z.DstStart = z.DstEnd = marker;
        z.StdHours = 7, z.DstMinutes = 7, z.StdOffset = "stale";
        ParseTimeZone(c.name, z);
        EXPECT_EQ(z.StdHours, c.stdH) << c.name;
        EXPECT_EQ(z.StdMinutes, c.stdM) << c.name;
        EXPECT_EQ(z.DstHours, c.dstH) << c.name;
        EXPECT_EQ(z.DstMinutes, c.dstM) << c.name;
        EXPECT_EQ(z.StdOffset, c.stdText) << c.name;
        EXPECT_EQ(z.DstOffset, c.dstText) << c.name;
        EXPECT_EQ(Show(z.DstStart), Show(c.switches ? SummerStart : marker)) << c.name;
        EXPECT_EQ(Show(z.DstEnd), Show(c.switches ? SummerEnd : marker)) << c.name;
    }
}

TEST_F(SummerSwitches, ComputedFromTheStartDate) {
    struct { SYSTEMTIME now; std::string start, end; } cases[] = {
        {T(2024, 1, 1, 0, 0), "2024-03-31 02:00:00", "2024-10-27 02:00:00"},
        {T(2024, 5, 31, 23, 59, 59), "2024-03-31 02:00:00", "2024-10-27 02:00:00"},
        {T(2024, 6, 1), "2025-03-30 02:00:00", "2024-10-27 02:00:00"},
        {T(2024, 12, 31, 23, 59), "2025-03-30 02:00:00", "2024-10-27 02:00:00"},
        {T(2023, 3, 1), "2023-03-26 02:00:00", "2023-10-29 02:00:00"},
        {T(2026, 7, 1), "2027-03-28 02:00:00", "2026-10-25 02:00:00"},
        {T(2027, 4, 1), "2027-03-28 02:00:00", "2027-10-31 02:00:00"},  // October 31st is itself a Sunday
    };
    for (const auto& c : cases) {
        ComputeSummerSwitches(c.now);
        EXPECT_EQ(Show(SummerStart), c.start) << Show(c.now);
        EXPECT_EQ(Show(SummerEnd), c.end) << Show(c.now);
        EXPECT_EQ(DayOfWeek(SummerStart), 0);
        EXPECT_EQ(DayOfWeek(SummerEnd), 0);
    }
}

TEST_F(SummerSwitches, FormatXMLTVTimeAcrossTheSwitches) {
    struct { SYSTEMTIME now, utc; std::string zone, expected; } cases[] = {
        // Started in winter: both switches of the same year.
        {T(2024, 2, 1), T(2024, 3, 31, 1, 59), "GMT/BST", "20240331015900 +0000"},
        {T(2024, 2, 1), T(2024, 3, 31, 2, 0), "GMT/BST", "20240331030000 +0100"},
        {T(2024, 2, 1), T(2024, 3, 31, 2, 0, 59), "GMT/BST", "20240331030000 +0100"},
        {T(2024, 2, 1), T(2024, 6, 1, 18, 0), "GMT/BST", "20240601190000 +0100"},
        {T(2024, 2, 1), T(2024, 10, 27, 1, 59, 59), "GMT/BST", "20241027025900 +0100"},
        {T(2024, 2, 1), T(2024, 10, 27, 2, 0), "GMT/BST", "20241027020000 +0000"},
        {T(2024, 2, 1), T(2024, 12, 1, 12, 0), "GMT/BST", "20241201120000 +0000"},
        {T(2024, 2, 1), T(2025, 6, 1, 12, 0), "GMT/BST", "20250601120000 +0000"},  // past the end held
        {T(2024, 2, 1), T(2024, 3, 31, 1, 59), "CET/CEST", "20240331025900 +0100"},
        {T(2024, 2, 1), T(2024, 3, 31, 2, 0), "CET/CEST", "20240331040000 +0200"},
        {T(2024, 2, 1), T(2024, 1, 15, 23, 30), "CET/CEST", "20240116003000 +0100"},
        {T(2024, 2, 1), T(2024, 12, 31, 22, 30), "EET/EEST", "20250101003000 +0200"},
        // Started in summer: this year's October switch, next year's March switch.
        {T(2024, 8, 1), T(2024, 8, 1, 12, 0), "GMT/BST", "20240801130000 +0100"},
        {T(2024, 8, 1), T(2024, 10, 27, 1, 59), "GMT/BST", "20241027025900 +0100"},
        {T(2024, 8, 1), T(2024, 10, 27, 2, 0), "GMT/BST", "20241027020000 +0000"},
        {T(2024, 8, 1), T(2024, 12, 25, 18, 0), "GMT/BST", "20241225180000 +0000"},
        {T(2024, 8, 1), T(2025, 3, 30, 1, 59), "GMT/BST", "20250330015900 +0000"},
        {T(2024, 8, 1), T(2025, 3, 30, 2, 0), "GMT/BST", "20250330030000 +0100"},
        {T(2024, 8, 1), T(2025, 7, 1, 0, 0), "GMT/BST", "20250701010000 +0100"},
        // Fixed offsets do not switch.
        {T(2024, 2, 1), T(2024, 6, 1, 18, 0), "-03:30", "20240601143000 -0330"},
        {T(2024, 2, 1), T(2024, 6, 1, 18, 0), "+05:45", "20240601234500 +0545"},
        {T(2024, 2, 1), T(2024, 6, 1, 18, 0), "-00:30", "20240601173000 -0030"},
        {T(2024, 2, 1), T(2024, 6, 1, 18, 0, 59), "UTC", "20240601180000 +0000"},
        {T(2024, 2, 1), T(2024, 1, 1, 5, 0), "-12:00", "20231231170000 -1200"},
        {T(2024, 2, 1), T(2024, 12, 31, 12, 0), "+13:00", "20250101010000 +1300"},
        {T(2024, 2, 1), T(2024, 2, 29, 23, 0), "+01:00", "20240301000000 +0100"},
        {T(2024, 2, 1), T(2024, 3, 1, 0, 15), "-00:30", "20240229234500 -0030"},
    };
    for (const auto& c : cases) {
        ComputeSummerSwitches(c.now);
        TTimeZone z;
        ParseTimeZone(c.zone, z);
        EXPECT_EQ(FormatXMLTVTime(c.utc, z), c.expected) << c.zone << " " << Show(c.utc) << " from " << Show(c.now);
    }
}

TEST_F(SummerSwitches, ToZoneGivesTheOffsetApplied) {
    ComputeSummerSwitches(T(2024, 2, 1));
    TTimeZone z;
    ParseTimeZone("GMT/BST", z);
    std::string offset;
    EXPECT_EQ(Show(ToZone(T(2024, 7, 1, 23, 30, 15), z, offset)), "2024-07-02 00:30:15");
    EXPECT_EQ(offset, "+0100");
    EXPECT_EQ(Show(ToZone(T(2024, 1, 1, 23, 30, 15), z, offset)), "2024-01-01 23:30:15");
    EXPECT_EQ(offset, "+0000");
    // Zero switch instants (a zone record never given any) count as summer; the offsets are equal there.
    TTimeZone fixed;
    ParseTimeZone("+02:00", fixed);
    EXPECT_TRUE(InSummerTime(T(2024, 1, 1), fixed));
    EXPECT_EQ(Show(ToZone(T(2024, 1, 1, 23, 0), fixed, offset)), "2024-01-02 01:00:00");
    EXPECT_EQ(offset, "+0200");
}

TEST(TimeZones, FormatXMLTVDate) {
    struct { SYSTEMTIME t; std::string expected; } cases[] = {
        {T(2024, 6, 1, 18, 30, 59), "20240601"},
        {T(999, 12, 31), "09991231"},
        {SYSTEMTIME{}, "00000000"},
    };
    for (const auto& c : cases) EXPECT_EQ(FormatXMLTVDate(c.t), c.expected);
}

TEST_F(SummerSwitches, IsUKSummerTime) {
    ComputeSummerSwitches(T(2024, 2, 1));  // switch days: 31 March, 27 October
    struct { SYSTEMTIME local; bool summer; } cases[] = {
        {T(2024, 1, 15, 12), false}, {T(2024, 2, 15, 12), false}, {T(2024, 3, 15, 12), false},
        {T(2024, 4, 15, 12), true},  {T(2024, 5, 15, 12), true},  {T(2024, 6, 15, 12), true},
        {T(2024, 7, 15, 12), true},  {T(2024, 8, 15, 12), true},  {T(2024, 9, 15, 12), true},
        {T(2024, 10, 15, 12), true}, {T(2024, 11, 15, 12), false}, {T(2024, 12, 15, 12), false},
        {T(2024, 4, 1, 0), true},    {T(2024, 9, 30, 23), true},  {T(2024, 2, 29, 23), false},
        {T(2024, 3, 30, 23), false}, {T(2024, 3, 31, 0), false},  {T(2024, 3, 31, 1), false},
        {T(2024, 3, 31, 2), true},   {T(2024, 3, 31, 23), true},
        {T(2024, 10, 26, 23), true}, {T(2024, 10, 27, 0), true},  {T(2024, 10, 27, 1), true},
        {T(2024, 10, 27, 2), false}, {T(2024, 10, 28, 0), false}, {T(2024, 10, 31, 12), false},
        {T(1999, 3, 31, 3), true},   // years are not compared, only the switch days
        {T(2024, 0, 26, 12), true},  // month numbers out of range go like October
        {T(2024, 13, 27, 1), true},  {T(2024, 13, 27, 2), false}, {T(2024, 99, 28, 0), false},
    };
    for (const auto& c : cases) EXPECT_EQ(IsUKSummerTime(c.local), c.summer) << Show(c.local);
}
