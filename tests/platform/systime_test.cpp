#include "platform/systime.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

namespace {

long long SecondsOf(const SYSTEMTIME& t) {
    std::tm tm{};
    tm.tm_year = t.wYear - 1900;
    tm.tm_mon = t.wMonth - 1;
    tm.tm_mday = t.wDay;
    tm.tm_hour = t.wHour;
    tm.tm_min = t.wMinute;
    tm.tm_sec = t.wSecond;
    return static_cast<long long>(timegm(&tm));
}

void ExpectWellFormed(const SYSTEMTIME& t) {
    EXPECT_GE(t.wYear, 2000);
    EXPECT_GE(t.wMonth, 1);
    EXPECT_LE(t.wMonth, 12);
    EXPECT_GE(t.wDay, 1);
    EXPECT_LE(t.wDay, 31);
    EXPECT_LE(t.wHour, 23);
    EXPECT_LE(t.wMinute, 59);
    EXPECT_LE(t.wSecond, 59);
    EXPECT_LE(t.wMilliseconds, 999);
    // The weekday must belong to the date (timegm normalises it into tm_wday).
    std::tm tm{};
    tm.tm_year = t.wYear - 1900, tm.tm_mon = t.wMonth - 1, tm.tm_mday = t.wDay;
    timegm(&tm);
    EXPECT_EQ(t.wDayOfWeek, tm.tm_wday);
}

// Sets TZ for the life of the object, so the local clock is one the test chooses.
class ZoneOverride {
public:
    explicit ZoneOverride(const char* tz) {
        if (const char* old = std::getenv("TZ")) saved_ = old, hadOld_ = true;
        setenv("TZ", tz, 1);
        tzset();
    }
    ~ZoneOverride() {
        if (hadOld_) setenv("TZ", saved_.c_str(), 1);
        else unsetenv("TZ");
        tzset();
    }

private:
    std::string saved_;
    bool hadOld_ = false;
};

}  // namespace

TEST(SysTime, UniversalClockAgreesWithTheSystem) {
    const long long before = static_cast<long long>(std::time(nullptr));
    const SYSTEMTIME now = platform::SystemTime();
    const long long after = static_cast<long long>(std::time(nullptr));
    ExpectWellFormed(now);
    EXPECT_GE(SecondsOf(now), before);
    EXPECT_LE(SecondsOf(now), after);
}

TEST(SysTime, LocalClockFollowsTheZone) {
    struct { const char* tz; long long offset; } cases[] = {
        {"UTC0", 0},
        {"<+0530>-5:30", 5 * 3600 + 30 * 60},
        {"<-0330>3:30", -(3 * 3600 + 30 * 60)},
        {"<+1345>-13:45", 13 * 3600 + 45 * 60},
    };
    for (const auto& c : cases) {
        ZoneOverride zone(c.tz);
        const SYSTEMTIME utc = platform::SystemTime();
        const SYSTEMTIME local = platform::LocalTime();
        ExpectWellFormed(local);
        const long long diff = SecondsOf(local) - SecondsOf(utc);
        EXPECT_GE(diff, c.offset) << c.tz;  // the second may turn between the two readings
        EXPECT_LE(diff, c.offset + 1) << c.tz;
    }
}
