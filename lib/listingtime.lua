-- Programme times as counts of seconds and back, for scripts that compare or shift them:
--
--   local listingtime = require "listingtime"
--   listingtime.seconds(t)       seconds since 1970-01-01 00:00:00 of a time table
--   listingtime.time(s)          the time table {Year, Month, Day, Hour, Minute, Second} of a count
--   listingtime.add(t, minutes)  a new time table so many minutes later (earlier when negative)
--
-- Programme times are UTC, so there is no summer time to mind; the calendar is the Gregorian one,
-- counted through 400-year cycles, so every year the host keeps converts exactly.

local M = {}
local floor = math.floor

-- Days from 1970-01-01 to a date; the year is taken to begin in March, which puts the leap day last.
local function days(year, month, day)
  if month <= 2 then year = year - 1 end
  local era = floor(year / 400)
  local yearOfEra = year - era * 400
  local dayOfYear = floor((153 * ((month + 9) % 12) + 2) / 5) + day - 1
  local dayOfEra = yearOfEra * 365 + floor(yearOfEra / 4) - floor(yearOfEra / 100) + dayOfYear
  return era * 146097 + dayOfEra - 719468
end

function M.seconds(t)
  return days(t.Year, t.Month, t.Day) * 86400 + (t.Hour or 0) * 3600 + (t.Minute or 0) * 60 + (t.Second or 0)
end

function M.time(s)
  local dayCount = floor(s / 86400)
  local rest = s - dayCount * 86400
  dayCount = dayCount + 719468
  local era = floor(dayCount / 146097)
  local dayOfEra = dayCount - era * 146097
  local yearOfEra = floor((dayOfEra - floor(dayOfEra / 1460) + floor(dayOfEra / 36524) - floor(dayOfEra / 146096)) / 365)
  local dayOfYear = dayOfEra - (365 * yearOfEra + floor(yearOfEra / 4) - floor(yearOfEra / 100))
  local shifted = floor((5 * dayOfYear + 2) / 153)   -- months from March
  local month = shifted < 10 and shifted + 3 or shifted - 9
  return {
    Year = yearOfEra + era * 400 + (month <= 2 and 1 or 0),
    Month = month,
    Day = dayOfYear - floor((153 * shifted + 2) / 5) + 1,
    Hour = floor(rest / 3600),
    Minute = floor(rest % 3600 / 60),
    Second = rest % 60,
  }
end

function M.add(t, minutes) return M.time(M.seconds(t) + minutes * 60) end

return M
