-- A post processor: a programme without a stop time gets the start of the next programme on its
-- channel, unless that lies further away than a setting says (6 hours unless changed): so far away,
-- a stop time would more likely bridge a gap in the listings than end a long programme.
--   Pass1, type 3: notes the start of every programme, per grabber and channel.
--   Pass2, type 3: fills the missing stop times.

PostProcs.fillstop = {
  Name = "Fill missing stop times",
  Version = "1.0",
  Author = "The Tavrin developers",
}
local Fill = PostProcs.fillstop
local listingtime
local starts    -- starts[grabber handle][channel ID]: the programmes' starts in seconds, sorted
local maxGap, filled

function Fill.Init(handle)
  Tvrn.AddSetting(handle, "MaxGap", 1, "360", "Longest time to a next start that ends a programme (minutes)")
end

-- The first start in the sorted list that is later than `start`, or nil.
local function nextStart(list, start)
  local low, high = 1, #list + 1
  while low < high do
    local middle = math.floor((low + high) / 2)
    if list[middle] <= start then low = middle + 1 else high = middle end
  end
  return list[low]
end

Fill.Passes = {
  Pass1 = {
    Type = 3,
    Start = function(handle)
      listingtime = require "listingtime"
      maxGap = (tonumber(Tvrn.GetSetting(handle, "MaxGap", "360")) or 360) * 60
      starts, filled = {}, 0
      return 0
    end,
    Func = function(grabber, program)
      local channels = starts[grabber] or {}
      starts[grabber] = channels
      local list = channels[program.Channel] or {}
      channels[program.Channel] = list
      table.insert(list, listingtime.seconds(program.Start))
      return program
    end,
    End = function(handle)
      for _, channels in pairs(starts) do
        for _, list in pairs(channels) do table.sort(list) end
      end
      return 0
    end,
  },
  Pass2 = {
    Type = 3,
    Func = function(grabber, program)
      local list = starts[grabber] and starts[grabber][program.Channel]
      if program.Stop or not list then return program end
      local start = listingtime.seconds(program.Start)
      local stop = nextStart(list, start)
      if stop and stop - start <= maxGap then
        program.Stop = listingtime.time(stop)
        filled = filled + 1
      end
      return program
    end,
    End = function(handle)
      print(string.format("   %d stop times filled", filled))
      return 0
    end,
  },
}
