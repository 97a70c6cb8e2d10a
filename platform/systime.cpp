// The clocks as SYSTEMTIME records, millisecond ticks and sleeping, over the C++ clocks. Platform
// layer: the lowest, it knows nothing of the rest of the program.
#include "platform/systime.h"

#include <chrono>
#include <ctime>
#include <thread>

namespace platform {

static SYSTEMTIME FromTm(const std::tm& tm, int ms) {
    SYSTEMTIME st;
    st.wYear = static_cast<uint16_t>(tm.tm_year + 1900);
    st.wMonth = static_cast<uint16_t>(tm.tm_mon + 1);
    st.wDayOfWeek = static_cast<uint16_t>(tm.tm_wday);
    st.wDay = static_cast<uint16_t>(tm.tm_mday);
    st.wHour = static_cast<uint16_t>(tm.tm_hour);
    st.wMinute = static_cast<uint16_t>(tm.tm_min);
    st.wSecond = static_cast<uint16_t>(tm.tm_sec > 59 ? 59 : tm.tm_sec);  // no leap seconds
    st.wMilliseconds = static_cast<uint16_t>(ms);
    return st;
}

static std::tm ToTm(const SYSTEMTIME& st) {
    std::tm tm{};
    tm.tm_year = st.wYear - 1900;
    tm.tm_mon = st.wMonth - 1;
    tm.tm_mday = st.wDay;
    tm.tm_hour = st.wHour;
    tm.tm_min = st.wMinute;
    tm.tm_sec = st.wSecond;
    tm.tm_isdst = -1;  // let the zone rules decide
    return tm;
}

static SYSTEMTIME FromUnixMs(int64_t unixMs, bool local) {
    const std::chrono::milliseconds ms(unixMs);
    const auto seconds = std::chrono::floor<std::chrono::seconds>(ms);   // before 1970 too
    const time_t secs = static_cast<time_t>(seconds.count());
    std::tm tm{};
    if (local) ::localtime_r(&secs, &tm);
    else ::gmtime_r(&secs, &tm);
    return FromTm(tm, static_cast<int>((ms - seconds).count()));
}

static int64_t NowUnixMs() {
    const auto since = std::chrono::system_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::milliseconds>(since).count();
}

SYSTEMTIME LocalTime() { return FromUnixMs(NowUnixMs(), true); }
SYSTEMTIME SystemTime() { return FromUnixMs(NowUnixMs(), false); }

uint32_t TickCount() {
    const auto since = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

void SleepMs(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

int64_t UnixMsFromLocal(const SYSTEMTIME& local) {
    std::tm tm = ToTm(local);
    return static_cast<int64_t>(std::mktime(&tm)) * 1000 + local.wMilliseconds;
}

int64_t UnixMsFromUtc(const SYSTEMTIME& utc) {
    std::tm tm = ToTm(utc);
    return static_cast<int64_t>(::timegm(&tm)) * 1000 + utc.wMilliseconds;
}

SYSTEMTIME LocalFromUnixMs(int64_t unixMs) { return FromUnixMs(unixMs, true); }
SYSTEMTIME UtcFromUnixMs(int64_t unixMs) { return FromUnixMs(unixMs, false); }

int64_t DaysFromCivil(int64_t y, int m, int d) {
    // Howard Hinnant's days_from_civil: eras of 400 years, the year counted from March.
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

double DateTimeFromSystemTime(const SYSTEMTIME& t) {
    constexpr int64_t kDays1899To1970 = 25569;
    const double dayFraction =
        (((t.wHour * 60.0 + t.wMinute) * 60.0 + t.wSecond) * 1000.0 + t.wMilliseconds) / 86400000.0;
    return static_cast<double>(DaysFromCivil(t.wYear, t.wMonth, t.wDay) + kDays1899To1970) + dayFraction;
}

}  // namespace platform
