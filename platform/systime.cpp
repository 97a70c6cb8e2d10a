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

static SYSTEMTIME Now(bool local) {
    const auto now = std::chrono::system_clock::now();
    const std::time_t secs = std::chrono::system_clock::to_time_t(now);
    const int ms = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
    std::tm tm{};
    if (local) localtime_r(&secs, &tm);
    else gmtime_r(&secs, &tm);
    return FromTm(tm, ms);
}

SYSTEMTIME LocalTime() { return Now(true); }
SYSTEMTIME SystemTime() { return Now(false); }

uint32_t TickCount() {
    const auto since = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

void SleepMs(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace platform
