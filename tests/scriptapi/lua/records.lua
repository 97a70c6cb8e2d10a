-- Programme and channel tables through Tvrn.AddProgram / Tvrn.GetProgram and Tvrn.AddChannel /
-- Tvrn.GetChannel: what a script gives, what the host keeps, what the script gets back.

local g = Tvrn.GetGrabber("test")
local zero = {Year = 0, Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0}

-- Adds a programme whose only key besides its ID is key = value and returns that key as pushed back.
local function RoundTrip(key, value)
  ClearPrograms(g)
  Tvrn.AddProgram(g, {ID = "rt", [key] = value})
  local p = Tvrn.GetProgram(g, "rt")
  Check(p ~= nil, "programme not kept")
  return p[key]
end

-- Each case: {key, value given, value pushed back (nil: absent), log lines expected (optional)}.
local function RunCases(cases)
  TakeLog()
  for i, c in ipairs(cases) do
    local what = "case " .. i .. " (" .. c[1] .. " = " .. Show(c[2]) .. ")"
    Eq(RoundTrip(c[1], c[2]), c[3], what)
    Eq(TakeLog(), c[4] or {}, what .. " log")
  end
end

return {
  {"a programme with nothing but an ID gets Channel and Start", function()
    ClearPrograms(g)
    Tvrn.AddProgram(g, {ID = "bare"})
    Eq(Tvrn.GetProgram(g, "bare"), {ID = "bare", Channel = "", Start = zero})
    Tvrn.AddProgram(g, {})
    Eq(ProgramsOf(g), {"bare/2", "/2"})  -- the grabber's encoding; an ID-less one is appended
  end},

  {"text lists", function()
    RunCases{
      {"Title", "News", "News"},
      {"Title", {Value = "News"}, "News"},
      {"Title", {"News"}, "News"},
      {"Title", {Value = "News", Lang = ""}, "News"},
      {"Title", {Value = "News", Lang = "en"}, {Value = "News", Lang = "en"}},
      {"Title", {"A", {Value = "B", Lang = "de"}}, {"A", {Value = "B", Lang = "de"}}},
      {"Title", {{Lang = "en"}}, {Value = "", Lang = "en"}},
      {"Title", {"A", "B", "C"}, {"A", "B", "C"}},
      {"Title", {"A", nil, "C"}, "A"},                 -- the array ends at its first hole
      {"Title", "", nil},
      {"Title", {}, nil},                              -- an empty list is kept but not pushed
      {"Title", false, nil},
      {"Title", 12, "12"},
      {"Title", "a\0b", "a"},                          -- record texts end at their first NUL
      {"Title", {Value = {}}, ""},
      {"Sub_Title", {"x", "y"}, {"x", "y"}},
      {"Description", {Value = "d", Lang = "fr"}, {Value = "d", Lang = "fr"}},
      {"Country", "UK", "UK"},
      {"Category", {}, {}},                            -- an empty category list comes back empty
      {"Category", "", nil},
      {"Category", {"Drama", "Series"}, {"Drama", "Series"}},
    }
  end},

  {"plain texts and text entries", function()
    RunCases{
      {"URL", "http://a", "http://a"},
      {"URL", {"http://a"}, "http://a"},
      {"URL", {"a", "b"}, {"a", "b"}},
      {"URL", {Value = "v"}, nil},                     -- a plain text list has no entry table
      {"URL", "", nil},
      {"ShowView", 1234, "1234"},
      {"Clump", "", nil},
      {"Date", "2007", "2007"},
      {"Lang", "en", "en"},
      {"Lang", {Value = "en", Lang = "fr"}, {Value = "en", Lang = "fr"}},
      {"OriginalLang", {}, ""},
      {"Premiere", false, ""},                         -- present though false: an empty entry
      {"Premiere", {Value = "P", Lang = "en"}, {Value = "P", Lang = "en"}},
      {"LastChance", "Last", "Last"},
    }
  end},

  {"time tables", function()
    RunCases{
      {"Start", {Year = 2007, Month = 3, Day = 1, Hour = 20.75},
       {Year = 2007, Month = 3, Day = 1, Hour = 20, Minute = 0, Second = 0}},
      {"Start", {Year = 2007, Month = 3, Day = 1, Hour = 20, Minute = 5, Second = 59.9, DayOfWeek = 4},
       {Year = 2007, Month = 3, Day = 1, Hour = 20, Minute = 5, Second = 59}},
      {"Start", {Year = "2008", Month = "x"}, {Year = 2008, Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0}},
      {"Start", {Year = 70000, Hour = -1}, {Year = 4464, Month = 0, Day = 0, Hour = 65535, Minute = 0, Second = 0}},
      {"Start", "20070301", zero},
      {"Stop", {Year = 2007, Month = 3, Day = 1, Hour = 21},
       {Year = 2007, Month = 3, Day = 1, Hour = 21, Minute = 0, Second = 0}},
      {"Stop", {Year = 0, Month = 3, Day = 1}, nil},   -- year 0: no stop
      {"PDCStart", {Year = 2007}, {Year = 2007, Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0}},
      {"VPSStart", 5, nil},
    }
  end},

  {"length and its units", function()
    RunCases{
      {"Length", {Length = 30}, {Length = 30, Units = 2}},
      {"Length", {Length = 2, Units = 3}, {Length = 2, Units = 3}},
      {"Length", {Length = 45.9, Units = 1}, {Length = 45, Units = 1}},
      {"Length", {Length = 5, Units = 7}, {Length = 5, Units = 2}, {'Invalid program length units "7"'}},
      {"Length", {Length = 5, Units = 0}, {Length = 5, Units = 2}, {'Invalid program length units "0"'}},
      {"Length", {Length = 5, Units = -1.5}, {Length = 5, Units = 2}, {'Invalid program length units "-1"'}},
      {"Length", {Length = 0, Units = 9}, nil, {'Invalid program length units "9"'}},
      {"Length", {}, nil},
    }
  end},

  {"a length or an episode that is not a table fails the call, and nothing is added", function()
    ClearPrograms(g)
    local cases = {
      {{ID = "bad", Length = 30}, "attempt to index a number value"},
      {{ID = "bad", Length = "30"}, "attempt to index a string value"},
      {{ID = "bad", Title = "t", Length = true}, "attempt to index a boolean value"},
      {{ID = "bad", Episode = {{Number = "1"}, 7}}, "attempt to index a number value"},
      {{ID = "bad", Episode = {"1.2."}}, "attempt to index a string value"},
      -- errors of the script's own tables end the read the same way
      {setmetatable({ID = "bad", Title = "T", Credits = {Director = "D"}},
                    {__index = function(t, k) if k == "Rating" then error("no rating", 0) end end}), "no rating"},
      {{ID = "bad", Rating = setmetatable({}, {__index = function(t, k)
         if k == 1 then return {Value = "v", Icon = {{Source = "s"}}} end
         error("second", 0)
       end})}, "second"},
    }
    for i, c in ipairs(cases) do
      CheckErr(c[2], Tvrn.AddProgram, g, c[1])
      Eq(Tvrn.GetProgram(g, "bad"), nil, "case " .. i .. " added nothing")
    end
    Eq(ProgramsOf(g), {})
  end},

  {"video, audio and previously shown", function()
    RunCases{
      {"Video", {}, {Present = true, Colour = true}},
      {"Video", {Present = false, Colour = 0, Aspect = "16:9"}, {Present = false, Colour = true, Aspect = "16:9"}},
      {"Video", {Colour = false, Quality = "HDTV"}, {Present = true, Colour = false, Quality = "HDTV"}},
      {"Video", "colour", nil},
      {"Audio", {}, {Present = true, Stereo = ""}},
      {"Audio", {Present = false, Stereo = "dolby"}, {Present = false, Stereo = "dolby"}},
      {"Audio", 1, nil},
      {"PreviouslyShown", true, true},
      {"PreviouslyShown", false, nil},
      {"PreviouslyShown", 0, true},
      {"PreviouslyShown", {}, true},
      {"PreviouslyShown", {Start = "20070101"}, {Start = "20070101", Channel = ""}},
      {"PreviouslyShown", {Channel = "bbc1"}, {Start = "", Channel = "bbc1"}},
    }
  end},

  {"new", function()
    RunCases{
      {"New", true, true},
      {"New", 0, true},                                -- Lua's truth rule
      {"New", "", true},
      {"New", false, nil},
    }
  end},

  {"subtitles", function()
    RunCases{
      {"Subtitles", 1, 1},
      {"Subtitles", "1", 1},
      {"Subtitles", 0, nil},
      {"Subtitles", 0.5, nil},
      {"Subtitles", "x", nil},
      {"Subtitles", 3, 3},                             -- a bare number is not checked
      {"Subtitles", {Type = 2, Lang = "en"}, {Type = 2, Lang = "en"}},
      {"Subtitles", {Type = 2, Lang = {Value = "en", Lang = "fr"}}, {Type = 2, Lang = {Value = "en", Lang = "fr"}}},
      {"Subtitles", {Type = 1}, 1},
      {"Subtitles", {1, 2}, {1, 2}},
      {"Subtitles", {{Lang = "fr"}}, {Type = 0, Lang = "fr"}},
      {"Subtitles", {Type = 5}, 5, {'Invalid subtitle type "5"'}},
      {"Subtitles", {Type = 0, Lang = "de"}, {Type = 0, Lang = "de"}, {'Invalid subtitle type "0"'}},
      {"Subtitles", {{Type = 1}, {Type = 9}}, {1, 9}, {'Invalid subtitle type "9"'}},
      {"Subtitles", {}, nil},
    }
  end},

  {"ratings and star ratings", function()
    RunCases{
      {"Rating", "PG", "PG"},
      {"Rating", {Value = "15", System = "BBFC"}, {Value = "15", System = "BBFC"}},
      {"Rating", {Value = "15"}, "15"},
      {"Rating", {"U", {Value = "12", Icon = {Source = "12.png"}}}, {"U", {Value = "12", Icon = {Source = "12.png"}}}},
      {"Rating", {Value = "18", Icon = {}}, "18"},
      {"Rating", "", nil},
      {"Rating", {}, nil},
      {"StarRating", {Number = 3, OutOf = 5}, {Number = 3, OutOf = 5}},
      {"StarRating", {Number = "4", Icon = {}}, {Number = 4, OutOf = 0}},
      {"StarRating", {Icon = {{Source = "s.png", Width = 16}}}, {Number = 0, OutOf = 0, Icon = {Source = "s.png", Width = 16}}},
      {"StarRating", "3/5", nil},
    }
  end},

  {"icons", function()
    RunCases{
      {"Icon", "file.png", nil},                       -- an icon must be a table
      {"Icon", {Source = "a.png", Width = 10}, {Source = "a.png", Width = 10}},
      {"Icon", {Source = "a.png", Width = 0, Height = 7.5}, {Source = "a.png", Height = 7}},
      {"Icon", {{Source = "a"}, "b", {Source = "c", Height = 5}}, {{Source = "a"}, {Source = "c", Height = 5}}},
      {"Icon", {{Width = 3}}, {Source = "", Width = 3}},
      {"Icon", {}, nil},
    }
  end},

  {"credits", function()
    RunCases{
      {"Credits", {Actor = {"A", {Actor = "B", Character = "C"}}, Director = "D"},
       {Actor = {"A", {Actor = "B", Character = "C"}}, Director = "D"}},
      {"Credits", {Actor = {Actor = "B"}}, {Actor = "B"}},
      {"Credits", {Actor = {Actor = "B", Character = "Hamlet"}}, {Actor = {Actor = "B", Character = "Hamlet"}}},
      {"Credits", {Actor = "Solo"}, {Actor = "Solo"}},
      {"Credits", {Writer = {"W1", "W2"}, Guest = "G", Presenter = {}, Producer = ""}, {Writer = {"W1", "W2"}, Guest = "G"}},
      {"Credits", {Adapter = "a", Commentator = "c"}, {Adapter = "a", Commentator = "c"}},
      {"Credits", {}, {}},
      {"Credits", "nobody", nil},
    }
  end},

  {"episodes", function()
    RunCases{
      {"Episode", {Number = "1.2.", System = "xmltv_ns"}, {Number = "1.2.", System = "xmltv_ns"}},
      {"Episode", {Number = "S1"}, {Number = "S1", System = ""}},
      {"Episode", {{Number = "1"}, {System = "s"}}, {{Number = "1", System = ""}, {Number = "", System = "s"}}},
      {"Episode", {}, {}},                             -- an empty episode list comes back empty
      {"Episode", "1.2.", nil},
    }
  end},

  {"a fully described programme comes back as it was given", function()
    ClearPrograms(g)
    local t = {
      ID = "full", Channel = "bbc1",
      Start = {Year = 2024, Month = 6, Day = 1, Hour = 18, Minute = 0, Second = 0},
      Stop = {Year = 2024, Month = 6, Day = 1, Hour = 18, Minute = 30, Second = 0},
      ShowView = "123", VideoPlus = "456", Clump = "0/2",
      Title = {Value = "The News", Lang = "en"}, Sub_Title = "Part 1", Description = {"d1", {Value = "d2", Lang = "de"}},
      Credits = {Director = "D", Actor = {"A", {Actor = "B", Character = "C"}}},
      Date = "2024", Category = "News", Lang = "en", OriginalLang = {Value = "fr", Lang = "en"},
      Length = {Length = 30, Units = 2}, Icon = {Source = "n.png", Width = 10, Height = 20}, URL = {"u1", "u2"},
      Country = "UK", Episode = {Number = "0.0.", System = "xmltv_ns"},
      Video = {Present = true, Colour = false, Aspect = "16:9", Quality = "HDTV"},
      Audio = {Present = true, Stereo = "stereo"}, PreviouslyShown = {Start = "20240101", Channel = "bbc2"},
      Premiere = "First", LastChance = {Value = "Last", Lang = "en"}, New = true,
      Subtitles = {{Type = 1, Lang = "en"}, 2}, Rating = {Value = "PG", System = "BBFC"},
      StarRating = {Number = 3, OutOf = 5, Icon = {Source = "star.png"}},
    }
    Tvrn.AddProgram(g, t)
    Eq(Tvrn.GetProgram(g, "full"), t)
    Eq(TakeLog(), {})
  end},

  {"channels", function()
    Tvrn.ClearChannels(g)
    local cases = {
      {{ID = "c1", Name = {Value = "BBC One", Lang = "en"}, XML_ID = "bbc1.example", Icon = {Source = "b.png"},
        URL = {"u1", "u2"}},
       {ID = "c1", Name = {Value = "BBC One", Lang = "en"}, XML_ID = "bbc1.example", Icon = {Source = "b.png"},
        URL = {"u1", "u2"}}},
      {{ID = "c2", Name = {"One", "Two"}, URL = "u"}, {ID = "c2", Name = {"One", "Two"}, URL = "u"}},
      {{ID = "c3", Name = "", XML_ID = "", Icon = "x.png", URL = {}}, {ID = "c3"}},
      {{ID = "c4\0tail", Name = {}}, {ID = "c4"}},
    }
    for i, c in ipairs(cases) do
      Tvrn.AddChannel(g, c[1])
      Eq(Tvrn.GetChannel(g, c[1].ID), c[2], "channel case " .. i)
    end
    Tvrn.AddChannel(g, {})
    Eq(Tvrn.GetChannel(g, ""), {ID = ""}, "a channel without ID")
  end},
}
