// Time zones, date arithmetic on SYSTEMTIME records and the XMLTV timestamp texts.
//
// Programme times are held in UTC; the writer shifts each one into the output zone and prints it
// with that zone's offset. Only year, month, day, hour, minute and second carry meaning here.
#pragma once

#include <cstdint>
#include <string>

#include "platform/systime.h"

// An output zone: a winter and a summer offset and the instants between which summer applies.
struct TTimeZone {
    int8_t StdHours = 0;    // winter offset from UTC, hours part
    int8_t StdMinutes = 0;  // winter offset, minutes part (same sign as the whole offset)
    int8_t DstHours = 0;    // summer offset, hours part
    int8_t DstMinutes = 0;  // summer offset, minutes part
    SYSTEMTIME DstStart;    // summer time begins (UTC)
    SYSTEMTIME DstEnd;      // summer time ends (UTC)
    std::string StdOffset;  // winter offset as printed, e.g. "+0000"
    std::string DstOffset;  // summer offset as printed, e.g. "+0100"
};

// The switch instants of the zones with summer time: the last Sunday of March and of October, 02:00.
// Set once from the local clock when the program starts; a program left running keeps them.
extern SYSTEMTIME SummerStart;
extern SYSTEMTIME SummerEnd;

// Sets SummerStart and SummerEnd as of the local time `now`: the March switch of this year when
// `now` lies in January to May, else of next year; the October switch of this year.
void ComputeSummerSwitches(const SYSTEMTIME& now);

// Fills `zone` from a zone name: "GMT/BST", "CET/CEST", "EET/EEST" or a fixed offset "+hh:mm" /
// "-hh:mm". Names are matched byte-wise; anything else gives UTC. Fixed offsets and unknown names
// leave the switch instants of `zone` as they were.
void ParseTimeZone(const std::string& name, TTimeZone& zone);

bool InSummerTime(const SYSTEMTIME& utc, const TTimeZone& zone);

// The UTC time shifted into `zone`; `offset` receives the text of the offset applied.
SYSTEMTIME ToZone(const SYSTEMTIME& utc, const TTimeZone& zone, std::string& offset);

std::string FormatXMLTVTime(const SYSTEMTIME& utc, const TTimeZone& zone);  // "YYYYMMDDhhmm00 +hhmm"
std::string FormatXMLTVDate(const SYSTEMTIME& t);                           // "YYYYMMDD"

// Whether a time can be written as an XMLTV timestamp: a year of four digits (1 to 9999), a month,
// a day of that month, an hour and a minute within their ranges. Seconds are not written.
bool IsPossibleTime(const SYSTEMTIME& t);

// -1, 0 or 1 comparing year, month, day, hour and minute; seconds are ignored.
int CompareTime(const SYSTEMTIME& a, const SYSTEMTIME& b);

// Field-wise sum and difference with a duration held in a SYSTEMTIME (years, months, days, hours,
// minutes, seconds), carried into the larger fields. Out-of-range inputs never loop or crash; a year
// that would leave the range 0..65535 stops at its end.
SYSTEMTIME AddTime(const SYSTEMTIME& t, const SYSTEMTIME& d);
SYSTEMTIME SubtractTime(const SYSTEMTIME& t, const SYSTEMTIME& d);

// British summer time for a UK local time, judged on month, day and hour against the switch days of
// SummerStart and SummerEnd (their years are not compared).
bool IsUKSummerTime(const SYSTEMTIME& local);

void ClearTime(SYSTEMTIME& t);
SYSTEMTIME GetLocalTime();

bool IsLeapYear(int year);
int DayOfWeek(const SYSTEMTIME& date);  // 0 = Sunday
// Days of a month; months above 12 count into the following years, 0 and below into earlier ones
// (0 is December of the previous year).
int DaysInMonth(int year, int month);
