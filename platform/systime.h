// Clock services: the local and universal clock as SYSTEMTIME records, millisecond ticks, sleeping,
// and the one place where clock records turn into other scales (milliseconds of file times, day
// counts, date-times in days).
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

// Between clock records and milliseconds since 1970-01-01 UTC, the scale of file times.
int64_t UnixMsFromLocal(const SYSTEMTIME& local);
int64_t UnixMsFromUtc(const SYSTEMTIME& utc);
SYSTEMTIME LocalFromUnixMs(int64_t unixMs);
SYSTEMTIME UtcFromUnixMs(int64_t unixMs);

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar; the month is 1 to 12, the
// day may run past the month's end or below 1 (it counts on linearly).
int64_t DaysFromCivil(int64_t year, int month, int day);

// A date-time as days since 1899-12-30 with the time of day as the fraction, the scale the engine's
// start (StartDateTime) and the age of cache files are counted in.
double DateTimeFromSystemTime(const SYSTEMTIME& t);

}  // namespace platform
