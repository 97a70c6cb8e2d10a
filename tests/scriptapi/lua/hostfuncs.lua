-- The host functions as scripts see them: usage errors, settings, channels, programmes, status,
-- progress, waiting, the conversions and the time library.

local g = Tvrn.GetGrabber("test")
local other = Tvrn.GetGrabber("other")
local null = Tvrn.GetGrabber("nope")
local pp = PostProcHandle

local function Usage(name, text, found, expected)
  if found == expected then return name .. ', incorrect parameter type(s). Usage: "' .. text .. '"' end
  return name .. ", " .. found .. " parameters found, " .. expected .. ' parameters expected. Usage: "' .. text .. '"'
end

return {
  {"registered names", function()
    for _, name in ipairs{"GetSetting", "AddSetting", "AddChannel", "AddUserChannel", "GetChannel", "ClearChannels",
                          "AddProgram", "Sleep", "SetStatus", "GetProgram", "GetGrabber", "SetProgress"} do
      Eq(type(Tvrn[name]), "function", "Tvrn." .. name)
    end
    Eq({type(math.band), type(math.floor), type(hash), type(Win1255ToUTF8)}, {"function", "function", "function", "function"})
    Eq({type(time.GetLocalTime), type(time.GetSystemTime)}, {"function", "function"})
  end},

  {"usage errors", function()
    local print_ = "Print([Message])"
    local getSetting = "[Value] = Tvrn.GetSetting([Grabber],[Key],[Default])"
    local addSetting = "Tvrn.AddSetting([Grabber],[Key],[Type],[Default],[Name],[ExtraData])"
    local band = "[res]=math.band([num1],[num2])"
    local cases = {
      {Usage("Print", print_, 2, 1), print, 2, "a", "b"},
      {Usage("Print", print_, 1, 1), print, 1, nil},
      {Usage("Print", print_, 0, 1), _ALERT, 0},
      {Usage("GetSetting", getSetting, 3, 2), Tvrn.GetSetting, 3, 1, "a", "b"},
      {Usage("GetSetting", getSetting, 1, 2), Tvrn.GetSetting, 1, g},
      {Usage("GetSetting", getSetting, 2, 2), Tvrn.GetSetting, 2, 1, "a"},
      {Usage("GetSetting", getSetting, 2, 2), Tvrn.GetSetting, 2, null, "a"},
      {Usage("GetSetting", getSetting, 2, 2), Tvrn.GetSetting, 2, io.stdout, "a"},  -- not a script's handle
      {Usage("AddSetting", addSetting, 4, 5), Tvrn.AddSetting, 4, g, "k", 1, "d"},
      {Usage("AddSetting", addSetting, 5, 5), Tvrn.AddSetting, 5, g, "k", "x", "d", "n"},
      {Usage("AddSetting", addSetting, 5, 5), Tvrn.AddSetting, 5, g, {}, 1, "d", "n"},
      {Usage("AddSetting", addSetting, 6, 5), Tvrn.AddSetting, 6, g, "k", 1, "d", {}, "e"},
      {Usage("AddChannel", "Tvrn.AddChannel([Grabber],[Channel])", 1, 2), Tvrn.AddChannel, 1, g},
      {Usage("AddChannel", "Tvrn.AddChannel([Grabber],[Channel])", 2, 2), Tvrn.AddChannel, 2, g, "c1"},
      {Usage("AddChannel", "Tvrn.AddChannel([Grabber],[Channel])", 2, 2), Tvrn.AddChannel, 2, pp, {ID = "c"}},
      {Usage("AddChannel", "Tvrn.AddChannel([Grabber],[Channel])", 2, 2), Tvrn.AddChannel, 2, null, {ID = "c"}},
      {Usage("AddUserChannel", "Tvrn.AddUserChannel([Grabber],[Channel])", 3, 2), Tvrn.AddUserChannel, 3, g, {}, 1},
      {Usage("AddUserChannel", "Tvrn.AddUserChannel([Grabber],[Channel])", 2, 2), Tvrn.AddUserChannel, 2, pp, {}},
      {Usage("GetChannel", "[Channel] = Tvrn.GetChannel([Grabber],[ID])", 2, 2), Tvrn.GetChannel, 2, g, {}},
      {Usage("GetChannel", "[Channel] = Tvrn.GetChannel([Grabber],[ID])", 2, 2), Tvrn.GetChannel, 2, null, "c"},
      {Usage("ClearChannels", "Tvrn.ClearChannels([Grabber])", 0, 1), Tvrn.ClearChannels, 0},
      {Usage("ClearChannels", "Tvrn.ClearChannels([Grabber])", 1, 1), Tvrn.ClearChannels, 1, pp},
      {Usage("AddProgram", "Tvrn.AddProgram([Grabber],[Program])", 2, 2), Tvrn.AddProgram, 2, g, nil},
      {Usage("AddProgram", "Tvrn.AddProgram([Grabber],[Program])", 2, 2), Tvrn.AddProgram, 2, g, "programme"},
      {Usage("AddProgram", "Tvrn.AddProgram([Grabber],[Program])", 2, 2), Tvrn.AddProgram, 2, "test", {}},
      {Usage("AddProgram", "Tvrn.AddProgram([Grabber],[Program])", 2, 2), Tvrn.AddProgram, 2, pp, {}},
      {Usage("GetProgram", "[Program]=Tvrn.GetProgram([Grabber],[ID])", 2, 2), Tvrn.GetProgram, 2, null, "x"},
      {Usage("GetProgram", "[Program]=Tvrn.GetProgram([Grabber],[ID])", 1, 2), Tvrn.GetProgram, 1, g},
      {Usage("GetGrabber", "[Grabber]=Tvrn.GetGrabber([ID])", 0, 1), Tvrn.GetGrabber, 0},
      {Usage("GetGrabber", "[Grabber]=Tvrn.GetGrabber([ID])", 1, 1), Tvrn.GetGrabber, 1, {}},
      {Usage("SetStatus", "Tvrn.SetStatus([Num],[Text])", 1, 2), Tvrn.SetStatus, 1, 1},
      {Usage("SetStatus", "Tvrn.SetStatus([Num],[Text])", 2, 2), Tvrn.SetStatus, 2, "x", "y"},
      {Usage("SetProgress", "Tvrn.SetProgress([bar],[pos],[mode])", 2, 3), Tvrn.SetProgress, 2, 1, 2},
      {Usage("SetProgress", "Tvrn.SetProgress([bar],[pos],[mode])", 3, 3), Tvrn.SetProgress, 3, 1, 2, false},
      {Usage("Sleep", "Tvrn.Sleep([Time])", 1, 1), Tvrn.Sleep, 1, "abc"},
      {Usage("Sleep", "Tvrn.Sleep([Time])", 2, 1), Tvrn.Sleep, 2, 1, 2},
      {Usage("band", band, 2, 2), math.band, 2, "x", 1},
      {Usage("band", band, 1, 2), math.band, 1, 1},
      {Usage("hash", "int hash([String])", 0, 1), hash, 0},
      {Usage("hash", "int hash([String])", 1, 1), hash, 1, {}},
      {Usage("Win1255ToUTF8", "[utf] = Win1255ToUTF8([win1252str])", 1, 1), Win1255ToUTF8, 1, nil},
      {Usage("Win1255ToUTF8", "[utf] = Win1255ToUTF8([win1252str])", 2, 1), Win1255ToUTF8, 2, "a", "b"},
    }
    for i, c in ipairs(cases) do
      local ok, err = pcall(c[2], unpack(c, 4, 3 + c[3]))
      Eq(err, c[1], "case " .. i)
      Check(not ok, "case " .. i .. " failed")
    end
    Eq(TakeLog(), {}, "nothing logged")
    Eq(ChannelsOf(g, "available"), {}, "nothing added")
  end},

  {"hash", function()
    local cases = {{"", 0}, {"abc", 2043}, {"a\0b", 1650}, {"\255", 255}, {12, 246},
                   {"The quick brown fox", 3012151599}, {"abcdefghijklmnopq", 1529147839}}
    for _, c in ipairs(cases) do Eq(hash(c[1]), c[2], "hash(" .. Show(c[1]) .. ")") end
  end},

  {"math.band", function()
    local cases = {{4294967295, 255, 255}, {-1, -2, -2}, {7.9, 3, 3}, {-7.9, -1, -7}, {"12", "10", 8},
                   {4294967301, 7, 5}, {2147483648, 2147483648, -2147483648}, {0, -1, 0}}
    for _, c in ipairs(cases) do Eq(math.band(c[1], c[2]), c[3], "band(" .. c[1] .. "," .. c[2] .. ")") end
  end},

  {"Win1255ToUTF8", function()
    local cases = {{"\224\253", "\215\144\226\128\142"}, {"", ""}, {"abc", "abc"}, {12, "12"}, {{}, ""}, {true, ""},
                   {"a\0b", "a\0b"}}
    for _, c in ipairs(cases) do Eq(Win1255ToUTF8(c[1]), c[2], "Win1255ToUTF8(" .. Show(c[1]) .. ")") end
  end},

  {"print and _ALERT log one value, always shown", function()
    TakeLog()
    print("hello")
    print(12)
    _ALERT("alert")
    Eq(TakeLog(), {"hello", "12", "alert"})
  end},

  {"GetSetting", function()
    local cases = {
      {{g, "Key"}, "Stored"},
      {{g, "KEY"}, "Stored"},
      {{g, "Missing"}, ""},
      {{g, "Missing", "def"}, "def"},
      {{g, "Missing", nil, n = 3}, ""},
      {{g, "Missing", 5}, "5"},
      {{g, "Empty", "def"}, ""},          -- a value stored empty is still stored
      {{g, 7}, "seven"},
      {{pp, "Key"}, "FromProc"},
      {{other, "Key"}, ""},
    }
    for i, c in ipairs(cases) do Eq(Tvrn.GetSetting(unpack(c[1], 1, c[1].n or #c[1])), c[2], "case " .. i) end
  end},

  {"AddSetting", function()
    Tvrn.AddSetting(g, "a", 1, "5", "Number")
    Tvrn.AddSetting(g, "b", 7, "x;", "Choices", "x|X;y")
    Tvrn.AddSetting(g, "a", 2.9, "text", "Again", {})      -- replaces the first where it stands
    Tvrn.AddSetting(g, "A", 4, "true", "Case", 12)         -- keys are case-sensitive
    Eq(SettingsOf(g), {"a|2|text|Again|", "b|7|x;|Choices|x|X;y", "A|4|true|Case|12"})
    Tvrn.AddSetting(pp, "k", "3", 0, 1)
    Eq(SettingsOf(pp), {"k|3|0|1|"})
  end},

  {"channels: available in ID order, selected in order of addition", function()
    Tvrn.ClearChannels(g)
    for _, id in ipairs{"b", "a", "c", "B"} do Tvrn.AddChannel(g, {ID = id}) end
    Eq(ChannelsOf(g, "available"), {"B/2", "a/2", "b/2", "c/2"})
    Tvrn.AddUserChannel(g, {ID = "s"})
    Tvrn.AddUserChannel(g, {ID = "s"})
    Eq(ChannelsOf(g, "selected"), {"s/2", "s/2"})
    Tvrn.AddChannel(other, {ID = "o"})
    Eq(ChannelsOf(other, "available"), {"o/3"})  -- each grabber's own encoding
  end},

  {"GetChannel looks in the selected channels first", function()
    Tvrn.ClearChannels(g)
    Tvrn.AddChannel(g, {ID = "x", XML_ID = "available"})
    Tvrn.AddChannel(g, {ID = "y", XML_ID = "available"})
    Tvrn.AddUserChannel(g, {ID = "x", XML_ID = "selected"})
    local cases = {{"x", "selected"}, {"y", "available"}, {"X", nil}, {"z", nil}}
    for _, c in ipairs(cases) do
      local channel = Tvrn.GetChannel(g, c[1])
      Eq(channel and channel.XML_ID, c[2], "GetChannel " .. c[1])
    end
    Tvrn.ClearChannels(g)                            -- the selected channels stay
    Eq(Tvrn.GetChannel(g, "y"), nil)
    Eq(Tvrn.GetChannel(g, "x").XML_ID, "selected")
  end},

  {"GetProgram ignores letter case; a later ID replaces", function()
    ClearPrograms(g)
    Tvrn.AddProgram(g, {ID = "AbC", Title = "one"})
    Eq(Tvrn.GetProgram(g, "abc").Title, "one")
    Eq(Tvrn.GetProgram(g, "ABC").ID, "AbC")
    Tvrn.AddProgram(g, {ID = "ABC", Title = "two"})
    Eq(ProgramsOf(g), {"ABC/2"})
    Eq(Tvrn.GetProgram(g, "aBc").Title, "two")
    Eq(Tvrn.GetProgram(g, "abd"), nil)
    Tvrn.AddProgram(g, {ID = 12})
    Eq(Tvrn.GetProgram(g, 12).ID, "12")
  end},

  {"AddProgram drops programmes beyond the day limit silently", function()
    ClearPrograms(g)
    TakeLog()
    SetDayLimit(1, {Year = 2024, Month = 6, Day = 2})
    local cases = {
      {"in", {Year = 2024, Month = 6, Day = 1, Hour = 23, Minute = 59}, true},
      {"seconds", {Year = 2024, Month = 6, Day = 2, Second = 59}, true},  -- seconds are not compared
      {"minute", {Year = 2024, Month = 6, Day = 2, Minute = 1}, false},
      {"year", {Year = 2025}, false},
      {"none", nil, true},
    }
    for _, c in ipairs(cases) do
      Tvrn.AddProgram(g, {ID = c[1], Start = c[2]})
      Eq(Tvrn.GetProgram(g, c[1]) ~= nil, c[3], c[1])
    end
    SetDayLimit(0, {Year = 2024, Month = 6, Day = 2})
    Tvrn.AddProgram(g, {ID = "nolimit", Start = {Year = 2030}})
    Check(Tvrn.GetProgram(g, "nolimit") ~= nil, "no day limit")
    Eq(TakeLog(), {})
  end},

  {"GetGrabber", function()
    Eq(type(g), "userdata")
    Check(g == InitHandle, "the handle Init received")
    Check(other ~= g, "another grabber, another handle")
    Check(null, "an unknown ID gives a true value")
    Eq(type(null), "userdata")
    Check(Tvrn.GetGrabber("TEST") == null, "IDs are case-sensitive")
    Check(Tvrn.GetGrabber("pp") == null, "post processors are not grabbers")
  end},

  {"SetStatus and SetProgress reach the callbacks", function()
    TakeEvents()
    Tvrn.SetStatus(2, "hello")
    Tvrn.SetStatus("3", 4)
    Tvrn.SetProgress(1, 50.9, 2)
    Tvrn.SetProgress(-1, -2.5, "1")
    Eq(TakeEvents(), {"status 2 hello", "status 3 4", "progress 1 50 2", "progress -1 -2 1"})
  end},

  {"Sleep waits in 100 ms steps, each after a progress call", function()
    local cases = {{250, 2}, {99, 0}, {100, 1}, {199.9, 1}, {"300", 3}, {0, 0}, {-5, 0}, {-1000, 0},
                   {1e12, 6000}, {4294967295, 6000}}
    for _, c in ipairs(cases) do
      TakeEvents()
      Tvrn.Sleep(c[1])
      local events = TakeEvents()
      Eq(#events, 2 * c[2], "Sleep(" .. c[1] .. ")")
      for i = 1, #events, 2 do
        Eq({events[i], events[i + 1]}, {"progress -1 -1 -1", "sleep 100"}, "Sleep(" .. c[1] .. ") step")
      end
    end
  end},

  {"time library", function()
    Eq(time.GetLocalTime(), {Year = 2024, Month = 6, Day = 1, Hour = 12, Minute = 34, Second = 56})
    Eq(time.GetSystemTime("ignored", 1), {Year = 2024, Month = 6, Day = 1, Hour = 11, Minute = 34, Second = 56})
  end},
}
