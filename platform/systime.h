// Clock services: the local and universal clock as SYSTEMTIME records, millisecond ticks, sleeping.
#pragma once

#include <cstdint>

// A calendar date-time with the Windows record layout, kept because times cross the whole system in
// this shape (records, channel files, scripts' time tables). A year of 0 means "absent".
struct SYSTEMTIME {
    uint16_t wYear = 0;
    uint16_t wMonth = 0;
    uint16_t wDayOfWeek = 0;  // 0 = Sunday
    uint16_t wDay = 0;
    uint16_t wHour = 0;
    uint16_t wMinute = 0;
    uint16_t wSecond = 0;
    uint16_t wMilliseconds = 0;
};

namespace platform {

SYSTEMTIME LocalTime();   // the computer's local clock
SYSTEMTIME SystemTime();  // the universal (UTC) clock
uint32_t TickCount();     // milliseconds since an arbitrary start; wraps after 49.7 days
void SleepMs(uint32_t ms);

}  // namespace platform
