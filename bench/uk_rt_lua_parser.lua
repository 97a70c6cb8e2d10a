-- The listings feed read in plain Lua, the way a grabber would without UK_RT: the same fields, the
-- same programme tables, each handed to Tvrn.AddProgram. The benchmark measures UK_RT against it.
--
-- SummerStartDay and SummerEndDay (globals set by the host) are the days of the March and October
-- clock changes, as the native parser takes them from the engine.

local find, sub, byte, tonumber, format = string.find, string.sub, string.byte, tonumber, string.format

local DaysIn = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31}

local function MonthDays(y, m)
  if m == 2 and y % 4 == 0 and (y % 100 ~= 0 or y % 400 == 0) then return 29 end
  return DaysIn[m]
end

local function NextDay(t)
  t.Day = t.Day + 1
  if t.Day > MonthDays(t.Year, t.Month) then
    t.Day = 1
    t.Month = t.Month + 1
    if t.Month > 12 then t.Month = 1; t.Year = t.Year + 1 end
  end
end

local function HourEarlier(t)
  if t.Hour > 0 then t.Hour = t.Hour - 1; return end
  t.Hour = 23
  t.Day = t.Day - 1
  if t.Day < 1 then
    t.Month = t.Month - 1
    if t.Month < 1 then t.Month = 12; t.Year = t.Year - 1 end
    t.Day = MonthDays(t.Year, t.Month)
  end
end

local function IsSummer(t)
  local m = t.Month
  if m < 3 or m > 10 then return false end
  if m > 3 and m < 10 then return true end
  if m == 3 then return t.Day > SummerStartDay or (t.Day == SummerStartDay and t.Hour >= 2) end
  return t.Day < SummerEndDay or (t.Day == SummerEndDay and t.Hour < 2)
end

local function Text(s) return {Value = s, Lang = "en"} end

local function WholeOrZero(s)
  if find(s, "^[+-]?%d+$") then return tonumber(s) end
  return 0
end

local function Part(s, first, last, channel)
  local p = sub(s, first, last)
  if not find(p, "^%d*$") then error(format("%q is not a whole number (channel %s)", p, channel), 0) end
  return tonumber(p) or 0
end

local function Append(list, item)
  if not list then return {item} end
  list[#list + 1] = item
  return list
end

local function CutMarker(title, marker)
  local a, b = find(title, marker, 1, true)
  if not a then return title, false end
  return sub(title, 1, a - 1) .. sub(title, b + 1), true
end

local function Episode(f, p)
  local slash = find(f, "/", 1, true)
  if not (find(f, "^%d") and slash and find(sub(f, slash - 1, slash + 1), "^%d/%d")) then
    p.Sub_Title = Append(p.Sub_Title, Text(f))
    return
  end
  local _, numEnd = find(f, "^[%d/]*", slash + 1)
  local n, m = WholeOrZero(sub(f, 1, slash - 1)), WholeOrZero(sub(f, slash + 1, numEnd))
  if n >= 1 then p.Episode = {Number = format(".%d/%d.", n - 1, m), System = "xmltv_ns"} end
  if #f > numEnd + 3 then
    local rest = sub(f, (find(f, "[^ %-]", numEnd + 1)) or #f + 1)
    if rest ~= "" then p.Sub_Title = Append(p.Sub_Title, Text(rest)) end
  end
end

local function Cast(f)
  local actors, pos, len = {}, 1, #f
  if not find(f, "*", 1, true) then
    while pos <= len do
      local comma = find(f, ",", pos, true)
      local name = sub(f, pos, (comma or len + 1) - 1)
      if name ~= "" then actors[#actors + 1] = {Actor = name, Character = ""} end
      pos = comma and comma + 1 or len + 1
      if byte(f, pos) == 32 then pos = pos + 1 end
    end
    return actors
  end
  while pos <= len do
    local star = find(f, "*", pos, true)
    if not star then
      actors[#actors + 1] = {Actor = sub(f, pos), Character = ""}
      break
    end
    local bar = find(f, "|", star + 1, true)
    local actor, character = sub(f, star + 1, (bar or len + 1) - 1), sub(f, pos, star - 1)
    if actor ~= "" or character ~= "" then actors[#actors + 1] = {Actor = actor, Character = character} end
    pos = bar and bar + 1 or len + 1
  end
  return actors
end

function LuaProcessPrograms(grabber, channel, page, ignoreTBA)
  if byte(page, 1) == 10 then return end
  local pos, len = 1, #page
  local f = {}
  while pos < len do
    for i = 1, 23 do
      local stop = find(page, i < 23 and "~" or "\n", pos, true)
      if not stop then error("Parse error in channel " .. channel, 0) end
      f[i] = sub(page, pos, stop - 1)
      pos = stop + 1
    end

    local p = {Channel = channel}
    local title, bst, gmt = f[1]
    title, bst = CutMarker(title, "(BST)")
    title, gmt = CutMarker(title, "(GMT)")
    if title == "" then title = "(No Title)" end
    p.Title = Text(title)
    if f[2] ~= "" then p.Sub_Title = {Text(f[2])} end
    if f[3] ~= "" then Episode(f[3], p) end
    p.Date = f[4]
    if f[5] ~= "" then p.Credits = {Director = f[5]} end
    if f[6] ~= "" then
      p.Credits = p.Credits or {}
      p.Credits.Actor = Cast(f[6])
    end
    if f[7] == "true" then p.Premiere = Text("Premiere") end
    if f[9] == "true" then p.PreviouslyShown = true end
    if f[10] == "true" then p.Subtitles = {Type = 1, Lang = Text("English")} end
    if f[11] == "true" then p.Video = {Aspect = "16:9"} end
    if f[14] == "true" then
      p.Video = p.Video or {}
      p.Video.Colour = false
    end
    local stars = WholeOrZero(f[15])
    if stars > 0 then p.StarRating = {Number = stars, OutOf = 5} end
    if f[16] ~= "" then p.Rating = {Value = f[16], System = "BBFC"} end
    if f[17] ~= "" then p.Category = Text(f[17]) end
    if f[18] ~= "" then p.Description = Text(f[18]) end

    local date, start, stop = f[20], f[21], f[22]
    if date ~= "" then
      if #date < 10 then error(format("Date %q is shorter than dd/mm/yyyy (channel %s)", date, channel), 0) end
      local s = {Year = Part(date, 7, 10, channel), Month = Part(date, 4, 5, channel),
                 Day = Part(date, 1, 2, channel), Hour = 0, Minute = 0, Second = 0}
      if start ~= "" then
        if #start < 5 then error(format("Time %q is shorter than hh:mm (channel %s)", start, channel), 0) end
        s.Hour, s.Minute = Part(start, 1, 2, channel), Part(start, 4, 5, channel)
      end
      p.Start = s
      if stop ~= "" then
        if #stop < 5 then error(format("Time %q is shorter than hh:mm (channel %s)", stop, channel), 0) end
        local e = {Year = s.Year, Month = s.Month, Day = s.Day, Hour = Part(stop, 1, 2, channel),
                   Minute = Part(stop, 4, 5, channel), Second = 0}
        if e.Hour < s.Hour then NextDay(e) end
        if not gmt and (bst or IsSummer(e)) then HourEarlier(e) end
        p.Stop = e
      end
      if not gmt and (bst or IsSummer(s)) then HourEarlier(s) end
    end

    local minutes = WholeOrZero((string.gsub(f[23], "^%s*(.-)%s*$", "%1")))
    if minutes > 0 then p.Length = {Length = minutes, Units = 2} end

    if not (ignoreTBA and (title == "Film To Be Announced" or title == "To Be Announced" or f[17] == "TBA")) then
      Tvrn.AddProgram(grabber, p)
    end
  end
end
