-- A post processor: drops programmes that cannot be right: those whose stop time is not after their
-- start, and exact duplicates (the same channel, start and title as a programme kept already). Both
-- are settings, on unless changed.
--   Pass1, type 3: each programme of every grabber, kept or dropped.

PostProcs.cleanup = {
  Name = "Drop broken programmes",
  Version = "1.0",
  Author = "The Tavrin developers",
}
local Clean = PostProcs.cleanup
local listingtime
local dropBadTimes, dropDuplicates, seen, dropped

function Clean.Init(handle)
  Tvrn.AddSetting(handle, "BadTimes", 4, "True", "Drop programmes whose stop time is not after their start")
  Tvrn.AddSetting(handle, "Duplicates", 4, "True", "Drop duplicates: the same channel, start and title")
end

-- The first title's text: a title comes as a text, a {Value, Lang} entry or an array of either.
local function firstTitle(title)
  if type(title) == "table" then title = title.Value or title[1] end
  if type(title) == "table" then title = title.Value end
  return tostring(title or "")
end

Clean.Passes = {
  Pass1 = {
    Type = 3,
    Start = function(handle)
      listingtime = require "listingtime"
      dropBadTimes = Tvrn.GetSetting(handle, "BadTimes", "1") ~= "0"
      dropDuplicates = Tvrn.GetSetting(handle, "Duplicates", "1") ~= "0"
      seen, dropped = {}, 0
      return 0
    end,
    Func = function(grabber, program)
      local start = listingtime.seconds(program.Start)
      if dropBadTimes and program.Stop and listingtime.seconds(program.Stop) <= start then
        dropped = dropped + 1
        return 0
      end
      if dropDuplicates then
        local kept = seen[grabber] or {}
        seen[grabber] = kept
        local key = program.Channel .. "\0" .. start .. "\0" .. firstTitle(program.Title)
        if kept[key] then
          dropped = dropped + 1
          return 0
        end
        kept[key] = true
      end
      return program
    end,
    End = function(handle)
      print(string.format("   %d programmes dropped", dropped))
      return 0
    end,
  },
}
