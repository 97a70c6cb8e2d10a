-- The demo grabber: a week of listings for five channels, read from a file shipped with the
-- program (scripts/demo/data/listings.txt), so that a grab works without a network.
--
-- Its passes show the pass types:
--   Pass1, type 5: Start reads the listings file once.
--   Pass2, type 2: once per selected channel and day, adds the day's programmes of the channel.
--   Pass3, type 3: once per programme, adds the details: sub-title, description, credits,
--                  episode numbers, rating.
--   Pass4, type 4: once per programme in the evening window, adds teletext subtitles.

local DATA_FILE = "scripts/demo/data/listings.txt"   -- the run's current folder is the program folder

Grabbers.demo = {
  Name = "Demo listings",
  Version = "1.0",
  Author = "The Tavrin developers",
  InfoURL = "https://tavrin.invalid/demo",
  SourceURL = "bundled file",
  Encoding = 3,
}
local Demo = Grabbers.demo

-- ---- the listings file ------------------------------------------------------------------------

local function split(text, separator)
  local fields, from = {}, 1
  while true do
    local at = string.find(text, separator, from, true)
    if not at then
      table.insert(fields, string.sub(text, from))
      return fields
    end
    table.insert(fields, string.sub(text, from, at - 1))
    from = at + 1
  end
end

local function nonEmpty(list)
  local out = {}
  for _, item in ipairs(list) do
    if item ~= "" then table.insert(out, item) end
  end
  return out
end

-- The days of a slot as a set: "*", "3", "1-5" or "6,7".
local function daySet(text)
  local days = {}
  if text == "*" then
    for d = 1, 7 do days[d] = true end
    return days
  end
  for _, part in ipairs(split(text, ",")) do
    local _, _, first, last = string.find(part, "^(%d+)%-(%d+)$")
    if first then
      for d = tonumber(first), tonumber(last) do days[d] = true end
    elseif tonumber(part) then
      days[tonumber(part)] = true
    end
  end
  return days
end

-- Reads the file into Demo.Listings: zone, channels (in file order), shows and slots per channel.
local function readListings()
  local file, message = io.open(DATA_FILE, "r")
  if not file then return nil, message end
  local listings = { Zone = 0, Channels = {}, Shows = {}, Slots = {} }
  for line in file:lines() do
    line = string.gsub(line, "\r$", "")
    local f = split(line, "|")
    if f[1] == "zone" then
      listings.Zone = tonumber(f[2]) or 0
    elseif f[1] == "channel" then
      table.insert(listings.Channels, { ID = f[2], XML_ID = f[3], Name = f[4], Icon = { Source = f[5] } })
      listings.Slots[f[2]] = {}
    elseif f[1] == "show" then
      listings.Shows[f[2]] = {
        Title = f[3], Categories = nonEmpty(split(f[4] or "", ";")), Description = f[5],
        Credits = nonEmpty(split(f[6] or "", ";")), Rating = f[7] or "", FirstEpisode = f[8] or "",
        EpisodeTitles = nonEmpty(split(f[9] or "", ";")),
      }
    elseif f[1] == "slot" and listings.Slots[f[2]] then
      local _, _, hour, minute = string.find(f[4], "^(%d%d):(%d%d)$")
      table.insert(listings.Slots[f[2]], {
        Days = daySet(f[3]), Hour = tonumber(hour), Minute = tonumber(minute), Minutes = tonumber(f[5]), Show = f[6],
      })
    end
  end
  file:close()
  return listings
end

-- ---- dates ------------------------------------------------------------------------------------

local function floorDiv(a, b) return math.floor(a / b) end
local function mod(a, b) return a - floorDiv(a, b) * b end

-- Days since 1970-01-01 of a calendar date, and back.
local function daysFromCivil(y, m, d)
  if m <= 2 then y = y - 1 end
  local era = floorDiv(y, 400)
  local yoe = y - era * 400
  local mp = m > 2 and m - 3 or m + 9
  local doy = floorDiv(153 * mp + 2, 5) + d - 1
  local doe = yoe * 365 + floorDiv(yoe, 4) - floorDiv(yoe, 100) + doy
  return era * 146097 + doe - 719468
end

local function civilFromDays(z)
  z = z + 719468
  local era = floorDiv(z, 146097)
  local doe = z - era * 146097
  local yoe = floorDiv(doe - floorDiv(doe, 1460) + floorDiv(doe, 36524) - floorDiv(doe, 146096), 365)
  local doy = doe - (365 * yoe + floorDiv(yoe, 4) - floorDiv(yoe, 100))
  local mp = floorDiv(5 * doy + 2, 153)
  local d = doy - floorDiv(153 * mp + 2, 5) + 1
  local m = mp < 10 and mp + 3 or mp - 9
  local y = yoe + era * 400
  if m <= 2 then y = y + 1 end
  return y, m, d
end

-- A time table for minutes counted from 1970-01-01 00:00.
local function timeTable(minutes)
  local days = floorDiv(minutes, 1440)
  local rest = minutes - days * 1440
  local y, m, d = civilFromDays(days)
  return { Year = y, Month = m, Day = d, Hour = floorDiv(rest, 60), Minute = rest - floorDiv(rest, 60) * 60, Second = 0 }
end

-- ---- the passes -------------------------------------------------------------------------------

-- What Pass3 adds to each programme, by programme ID: the show and its occurrence on the channel.
local details = {}
local occurrences = {}

local function readPass(handle)
  local listings, message = readListings()
  if not listings then
    print("   Demo listings not readable: " .. tostring(message))
    return 1
  end
  Demo.Listings = listings
  local today = time.GetLocalTime()
  Demo.FirstDay = daysFromCivil(today.Year, today.Month, today.Day)
  details, occurrences = {}, {}
  return 0
end

-- One channel, one day: the day's slots become programmes, their times turned into UTC.
local function dayPass(handle, channel, day)
  local listings = Demo.Listings
  local slots = listings and listings.Slots[channel.ID]
  if not slots then return 0 end   -- a channel the file no longer has
  local date = daysFromCivil(day.Year, day.Month, day.Day)
  local dayOfWeek = date - Demo.FirstDay + 1
  Tvrn.SetStatus(2, "Channel " .. channel.ID .. ", day " .. dayOfWeek)
  for _, slot in ipairs(slots) do
    local show = listings.Shows[slot.Show]
    if slot.Days[dayOfWeek] and show then
      local start = date * 1440 + slot.Hour * 60 + slot.Minute - listings.Zone
      local id = string.format("%s-%d-%02d%02d", channel.ID, dayOfWeek, slot.Hour, slot.Minute)
      local key = channel.ID .. "/" .. slot.Show
      occurrences[key] = (occurrences[key] or 0) + 1
      details[id] = { Show = show, Occurrence = occurrences[key] }
      Tvrn.AddProgram(handle, {
        ID = id, Channel = channel.ID, Title = { Value = show.Title, Lang = "en" },
        Start = timeTable(start), Stop = timeTable(start + slot.Minutes), Category = show.Categories,
      })
    end
  end
  return 0
end

local function creditsOf(show)
  if table.getn(show.Credits) == 0 then return nil end
  local credits = {}
  for _, entry in ipairs(show.Credits) do
    local _, _, role, name = string.find(entry, "^(%a+)=(.*)$")
    if role then
      local key = string.upper(string.sub(role, 1, 1)) .. string.sub(role, 2)
      credits[key] = credits[key] or {}
      if key == "Actor" then
        local _, _, actor, part = string.find(name, "^(.-)/(.*)$")
        table.insert(credits.Actor, actor and { Actor = actor, Character = part } or name)
      else
        table.insert(credits[key], name)
      end
    end
  end
  return credits
end

-- Each programme gets the details of its show.
local function detailPass(handle, program)
  local info = details[program.ID]
  if not info then return program end
  local show, n = info.Show, info.Occurrence
  program.Description = { Value = show.Description, Lang = "en" }
  program.Credits = creditsOf(show)
  if show.Rating ~= "" then program.Rating = { Value = show.Rating, System = "BBFC" } end
  local _, _, season, first = string.find(show.FirstEpisode, "^(%d+)%.(%d+)$")
  if season then
    local episode = tonumber(first) + n - 1
    program.Episode = {
      { Number = string.format("%d.%d.", season - 1, episode - 1), System = "xmltv_ns" },
      { Number = string.format("S%dE%d", season, episode), System = "onscreen" },
    }
    local titles = show.EpisodeTitles
    if table.getn(titles) > 0 then
      program.Sub_Title = { Value = titles[mod(n - 1, table.getn(titles)) + 1], Lang = "en" }
    end
    if n == 1 then program.New = true end
  else
    program.PreviouslyShown = true
  end
  program.Video = { Aspect = "16:9", Quality = "HDTV" }
  program.Audio = { Stereo = "stereo" }
  return program
end

-- Evening programmes (the hours are UTC, as the programmes' times are) carry teletext subtitles.
local function eveningPass(handle, program)
  program.Subtitles = { Type = 1, Lang = "en" }
  return program
end

-- The desktop program's channel dialog asks for the channels through this.
function Demo.RefreshChannels(handle)
  local listings, message = readListings()
  if not listings then error("Demo listings not readable: " .. tostring(message), 0) end
  Tvrn.ClearChannels(handle)
  for _, channel in ipairs(listings.Channels) do Tvrn.AddChannel(handle, channel) end
end

Demo.Passes = {
  Pass1 = { Type = 5, Start = readPass },
  Pass2 = { Type = 2, Interval = 1440, MaxDays = 7, Func = dayPass },
  Pass3 = { Type = 3, Func = detailPass },
  Pass4 = { Type = 4, StartTime = 18, StopTime = 21, Func = eveningPass },
}
