-- The demo post processor: adds a category to every programme whose title matches a pattern.
-- Both are script settings (section Proc_demotags of the settings file).
--   Pass1, type 3: each programme of the demo grabber, tagged where its title matches.
--   Pass2, type 5: only Start and End; End reports how many programmes were tagged.

PostProcs.demotags = {
  Name = "Demo tagger",
  Version = "1.0",
  Author = "The Tavrin developers",
  Grabber = "demo",
}
local Tagger = PostProcs.demotags
local tagged = 0

function Tagger.Init(handle)
  Tvrn.AddSetting(handle, "Pattern", 2, "[Ff]ootball", "Title pattern (Lua)")
  Tvrn.AddSetting(handle, "Category", 2, "Football", "Category to add")
end

Tagger.Passes = {
  Pass1 = {
    Type = 3,
    Start = function(handle)
      Tagger.Pattern = Tvrn.GetSetting(handle, "Pattern", "[Ff]ootball")
      Tagger.Category = Tvrn.GetSetting(handle, "Category", "Football")
      tagged = 0
      return 0
    end,
    -- The handle here is the grabber's, whose programme this is.
    Func = function(grabber, program)
      local title = program.Title
      if type(title) == "table" then title = title.Value or (title[1] and (title[1].Value or title[1])) end
      if type(title) == "string" and string.find(title, Tagger.Pattern) then
        -- One category comes as a text or a {Value, Lang} entry, several as an array.
        local categories = program.Category or {}
        if type(categories) ~= "table" or categories.Value then categories = { categories } end
        table.insert(categories, Tagger.Category)
        program.Category = categories
        tagged = tagged + 1
      end
      return program
    end,
  },
  Pass2 = {
    Type = 5,
    End = function(handle)
      print(string.format("   %d programmes tagged %s", tagged, Tagger.Category))
      return 0
    end,
  },
}
