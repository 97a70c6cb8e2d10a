-- A post processor: time-shifted channels, such as a "+1" channel made from its parent. Every
-- programme of each chosen channel of one grabber is copied, so many minutes later, onto a new
-- channel beside the parent: the same channel, its ID and display names followed by the shift
-- ("one+1", "Demo One +1"), its XMLTV id with the shift after the first part
-- ("one-plus1.demo.tavrin"). A shift that is not whole hours shows in minutes ("+90m").
--   Pass1, type 3: copies the chosen channels' programmes, shifted.
--   End of Pass1: adds the new channels, and their programmes, to the grabber.

PostProcs.timeshift = {
  Name = "Time-shifted channels",
  Version = "1.0",
  Author = "The Tavrin developers",
}
local Shift = PostProcs.timeshift
local listingtime
local target, parents, minutes, copies

function Shift.Init(handle)
  Tvrn.AddSetting(handle, "Grabber", 2, "", "ID of the grabber whose channels are copied")
  Tvrn.AddSetting(handle, "Channels", 2, "", "IDs of the channels to copy, separated by ;")
  Tvrn.AddSetting(handle, "Minutes", 1, "60", "Minutes to shift by (negative: earlier)")
end

-- "+1" for 60 minutes, "-2" for -120, "+90m" for 90.
local function shiftText(m)
  local sign = m < 0 and "-" or "+"
  m = math.abs(m)
  if m % 60 == 0 then return sign .. (m / 60) end
  return sign .. m .. "m"
end

-- A display name or list of names with the text appended to each.
local function tagged(names, text)
  if type(names) ~= "table" then return names and (tostring(names) .. text) end
  if names.Value then return { Value = names.Value .. text, Lang = names.Lang } end
  local out = {}
  for i, name in ipairs(names) do out[i] = tagged(name, text) end
  return out
end

Shift.Passes = {
  Pass1 = {
    Type = 3,
    Start = function(handle)
      listingtime = require "listingtime"
      target = Tvrn.GetGrabber(Tvrn.GetSetting(handle, "Grabber", ""))
      minutes = tonumber(Tvrn.GetSetting(handle, "Minutes", "60")) or 0
      parents, copies = {}, {}
      for id in string.gmatch(Tvrn.GetSetting(handle, "Channels", ""), "[^;,%s]+") do
        table.insert(parents, id)
        copies[id] = {}
      end
      if minutes == 0 then parents = {} end
      return 0
    end,
    Func = function(grabber, program)
      local list = grabber == target and copies[program.Channel]
      if not list or minutes == 0 then return program end
      local copy = {}
      for key, value in pairs(program) do copy[key] = value end
      copy.ID = nil   -- appended, never replacing the parent's programme
      copy.Channel = program.Channel .. shiftText(minutes)
      copy.Start = listingtime.add(program.Start, minutes)
      if program.Stop then copy.Stop = listingtime.add(program.Stop, minutes) end
      copy.PDCStart, copy.VPSStart = nil, nil   -- they belong to the parent's broadcast
      table.insert(list, copy)
      return program
    end,
    End = function(handle)
      local text, made = shiftText(minutes), 0
      for _, id in ipairs(parents) do
        local list = copies[id]
        local channel = #list > 0 and Tvrn.GetChannel(target, id)
        if channel then
          channel.ID = id .. text
          channel.Name = tagged(channel.Name, " " .. text)
          if channel.XML_ID then
            local label = (minutes < 0 and "minus" or "plus") .. string.sub(text, 2)
            channel.XML_ID = string.gsub(channel.XML_ID, "^([^.]*)", "%1-" .. label, 1)
          end
          Tvrn.AddUserChannel(target, channel)
          for _, copy in ipairs(list) do Tvrn.AddProgram(target, copy) end
          made = made + 1
        end
      end
      print(string.format("   %d time-shifted channels made", made))
      return 0
    end,
  },
}
