// Time zones with their summer rules, SYSTEMTIME arithmetic and the XMLTV date and timestamp texts.
// Listings layer.
#include "listings/timezones.h"

#include <cstdio>
#include <cstdlib>

namespace {

int FloorDiv(int a, int b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

// Brings a month number of any size into 1..12, moving the year along with it.
void NormaliseMonth(int& year, int& month) {
    const int shift = FloorDiv(month - 1, 12);
    year += shift;
    month -= shift * 12;
}

// A year outside what the record holds would wrap into a wrong (or "absent") date; such a result
// stops at the first or last instant the record can hold instead.
SYSTEMTIME Pack(int year, int month, int day, int hour, int minute, int second) {
    if (year < 0) return Pack(0, 1, 1, 0, 0, 0);
    if (year > 65535) return Pack(65535, 12, 31, 23, 59, 59);
    SYSTEMTIME r;
    r.wYear = static_cast<uint16_t>(year);
    r.wMonth = static_cast<uint16_t>(month);
    r.wDay = static_cast<uint16_t>(day);
    r.wHour = static_cast<uint16_t>(hour);
    r.wMinute = static_cast<uint16_t>(minute);
    r.wSecond = static_cast<uint16_t>(second);
    return r;
}

SYSTEMTIME SwitchInstant(int year, int month) {
    SYSTEMTIME t;
    t.wYear = static_cast<uint16_t>(year);
    t.wMonth = static_cast<uint16_t>(month);
    t.wDay = static_cast<uint16_t>(DaysInMonth(year, month));
    t.wDay = static_cast<uint16_t>(t.wDay - DayOfWeek(t));  // back to the last Sunday
    t.wDayOfWeek = 0;
    t.wHour = 2;
    return t;
}

// The two characters of a fixed offset's hours or minutes; anything but an optionally signed run of
// digits counts as 0.
int OffsetPart(const std::string& s) {
    size_t i = (s[0] == '+' || s[0] == '-') ? 1 : 0;
    if (i == s.size()) return 0;
    for (size_t k = i; k < s.size(); ++k)
        if (s[k] < '0' || s[k] > '9') return 0;
    return std::atoi(s.c_str());
}

std::string OffsetText(int hours, int minutes) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%s%.2d%.2d", (hours < 0 || minutes < 0) ? "-" : "+", std::abs(hours),
                  std::abs(minutes));
    return buf;
}

struct SwitchesAtStart {
    SwitchesAtStart() { ComputeSummerSwitches(platform::LocalTime()); }
};

}  // namespace

SYSTEMTIME SummerStart;
SYSTEMTIME SummerEnd;
static const SwitchesAtStart switchesAtStart;

void ComputeSummerSwitches(const SYSTEMTIME& now) {
    const int year = now.wYear;
    SummerStart = SwitchInstant(now.wMonth >= 1 && now.wMonth <= 5 ? year : year + 1, 3);
    SummerEnd = SwitchInstant(year, 10);
}

void ParseTimeZone(const std::string& name, TTimeZone& zone) {
    int stdH = 0, stdM = 0, dstH = 0, dstM = 0;
    bool switches = false;
    if (name == "GMT/BST") {
        stdH = 0, dstH = 1, switches = true;
    } else if (name == "CET/CEST") {
        stdH = 1, dstH = 2, switches = true;
    } else if (name == "EET/EEST") {
        stdH = 2, dstH = 3, switches = true;
    } else if (name.size() == 6 && (name[0] == '+' || name[0] == '-') && name[3] == ':') {
        stdH = OffsetPart(name.substr(1, 2));
        stdM = OffsetPart(name.substr(4, 2));
        if (name[0] == '-') stdH = -stdH, stdM = -stdM;
        dstH = stdH, dstM = stdM;
    }
    zone.StdHours = static_cast<int8_t>(stdH);
    zone.StdMinutes = static_cast<int8_t>(stdM);
    zone.DstHours = static_cast<int8_t>(dstH);
    zone.DstMinutes = static_cast<int8_t>(dstM);
    if (switches) {
        zone.DstStart = SummerStart;
        zone.DstEnd = SummerEnd;
    }
    zone.StdOffset = OffsetText(zone.StdHours, zone.StdMinutes);
    zone.DstOffset = OffsetText(zone.DstHours, zone.DstMinutes);
}

bool InSummerTime(const SYSTEMTIME& utc, const TTimeZone& zone) {
    if (CompareTime(utc, zone.DstStart) == 0) return true;
    if (CompareTime(utc, zone.DstEnd) == 0) return false;
    const bool afterStart = CompareTime(utc, zone.DstStart) > 0;
    const bool beforeEnd = CompareTime(utc, zone.DstEnd) < 0;
    if (CompareTime(zone.DstStart, zone.DstEnd) < 0) return afterStart && beforeEnd;
    // The start lies after the end (a program started from June on holds next year's March switch).
    return beforeEnd || afterStart;
}

SYSTEMTIME ToZone(const SYSTEMTIME& utc, const TTimeZone& zone, std::string& offset) {
    const bool summer = InSummerTime(utc, zone);
    const int hours = summer ? zone.DstHours : zone.StdHours;
    const int minutes = summer ? zone.DstMinutes : zone.StdMinutes;
    offset = summer ? zone.DstOffset : zone.StdOffset;
    if (hours == 0 && minutes == 0) return utc;
    SYSTEMTIME d;
    d.wHour = static_cast<uint16_t>(std::abs(hours));
    d.wMinute = static_cast<uint16_t>(std::abs(minutes));
    return (hours < 0 || minutes < 0) ? SubtractTime(utc, d) : AddTime(utc, d);
}

std::string FormatXMLTVTime(const SYSTEMTIME& utc, const TTimeZone& zone) {
    std::string offset;
    const SYSTEMTIME t = ToZone(utc, zone, offset);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.4d%.2d%.2d%.2d%.2d00 %s", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
                  offset.c_str());
    return buf;
}

std::string FormatXMLTVDate(const SYSTEMTIME& t) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.4d%.2d%.2d", t.wYear, t.wMonth, t.wDay);
    return buf;
}

bool IsPossibleTime(const SYSTEMTIME& t) {
    return t.wYear >= 1 && t.wYear <= 9999 && t.wMonth >= 1 && t.wMonth <= 12 && t.wDay >= 1 &&
           t.wDay <= DaysInMonth(t.wYear, t.wMonth) && t.wHour <= 23 && t.wMinute <= 59;
}

int CompareTime(const SYSTEMTIME& a, const SYSTEMTIME& b) {
    const uint16_t SYSTEMTIME::*fields[] = {&SYSTEMTIME::wYear, &SYSTEMTIME::wMonth, &SYSTEMTIME::wDay,
                                            &SYSTEMTIME::wHour, &SYSTEMTIME::wMinute};
    for (auto f : fields) {
        if (a.*f < b.*f) return -1;
        if (a.*f > b.*f) return 1;
    }
    return 0;
}

SYSTEMTIME AddTime(const SYSTEMTIME& t, const SYSTEMTIME& d) {
    int year = t.wYear + d.wYear;
    int month = t.wMonth + d.wMonth;
    int day = t.wDay + d.wDay;
    int hour = t.wHour + d.wHour;
    int minute = t.wMinute + d.wMinute;
    int second = t.wSecond + d.wSecond;
    minute += second / 60, second %= 60;
    hour += minute / 60, minute %= 60;
    day += hour / 24, hour %= 24;
    // DaysInMonth is at least 28 for any month number, so this ends after a few thousand steps at most.
    for (int dim; day > (dim = DaysInMonth(year, month));) day -= dim, ++month;
    if (month > 12) NormaliseMonth(year, month);
    return Pack(year, month, day, hour, minute, second);
}

SYSTEMTIME SubtractTime(const SYSTEMTIME& t, const SYSTEMTIME& d) {
    int year = t.wYear - d.wYear;
    int month = t.wMonth - d.wMonth;
    int day = t.wDay - d.wDay;
    int hour = t.wHour - d.wHour;
    int minute = t.wMinute - d.wMinute;
    int second = t.wSecond - d.wSecond;
    auto borrow = [](int& low, int& high, int base) {
        if (low >= 0) return;
        const int n = (-low + base - 1) / base;
        low += n * base;
        high -= n;
    };
    borrow(second, minute, 60);
    borrow(minute, hour, 60);
    borrow(hour, day, 24);
    for (int dim; day > (dim = DaysInMonth(year, month));) day -= dim, ++month;
    while (day <= 0) day += DaysInMonth(year, --month);
    if (month > 12 || month <= 0) NormaliseMonth(year, month);
    return Pack(year, month, day, hour, minute, second);
}

bool IsUKSummerTime(const SYSTEMTIME& local) {
    switch (local.wMonth) {
    case 1: case 2: case 11: case 12:
        return false;
    case 4: case 5: case 6: case 7: case 8: case 9:
        return true;
    case 3:
        return local.wDay > SummerStart.wDay || (local.wDay == SummerStart.wDay && local.wHour >= 2);
    default:  // October, and any month number out of range
        return local.wDay < SummerEnd.wDay || (local.wDay == SummerEnd.wDay && local.wHour < 2);
    }
}

void ClearTime(SYSTEMTIME& t) { t = SYSTEMTIME{}; }

SYSTEMTIME GetLocalTime() { return platform::LocalTime(); }

bool IsLeapYear(int year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

int DayOfWeek(const SYSTEMTIME& date) {
    int year = date.wYear, month = date.wMonth;
    NormaliseMonth(year, month);
    const long long days = platform::DaysFromCivil(year, month, date.wDay);
    return static_cast<int>(((days + 4) % 7 + 7) % 7);  // 1970-01-01 was a Thursday
}

int DaysInMonth(int year, int month) {
    NormaliseMonth(year, month);
    static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : days[month - 1];
}
