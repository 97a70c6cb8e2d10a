-- The generated grabber of the whole-grab benchmarks: per selected channel, GRAB_DAYS days (14 when
-- unset) of 36 programmes with IDs from Lua tables; with LUA_ONLY set, Tvrn.AddProgram is replaced
-- by an empty function, which leaves the script's own work.
local function tt(d, m) return {Year=2024, Month=3, Day=d, Hour=math.floor(m/60), Minute=m - math.floor(m/60)*60} end
local categories = {"News", "Drama", "Sport", "Film", "Children"}
Grabbers.bench = { Encoding = 3, Passes = { Pass1 = { Type = 1, Func = function(h, c)
  local add = Tvrn.AddProgram
  if LUA_ONLY then add = function() end end
  for day = 1, GRAB_DAYS or 14 do
    for slot = 0, 35 do
      local m = slot * 40
      add(h, { ID = c.ID .. '-' .. day .. '-' .. slot, Channel = c.ID,
               Title = 'Programme ' .. slot, Sub_Title = 'Episode ' .. day,
               Description = 'A description of programme ' .. slot .. ' on day ' .. day .. ' of channel ' .. c.ID,
               Category = categories[slot - math.floor(slot/5)*5 + 1],
               Start = tt(day, m), Stop = tt(day, m + 40),
               Episode = { Number = '0.' .. day .. '.', System = 'xmltv_ns' } })
    end
  end
end } } }
