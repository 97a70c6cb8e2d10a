#include "engine/uluagrabbers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "platform/files.h"
#include "scriptapi/luahelpers.h"
#include "tests/engine/programfolder.h"

using namespace testing_support;

namespace {

TEST(EngineTest, DeclarationDefaults) {
    struct Case {
        const char* script;
        const char* name;
        const char* version;
        const char* author;
        const char* infoURL;
        const char* sourceURL;
        int encoding;
        bool noUserChannels;
    } cases[] = {
        {"Grabbers.g = { Encoding = 2 }", "g", "Unknown", "Unknown", "None", "None", 2, false},
        {"Grabbers.g = { Name = 12 }", "12", "Unknown", "Unknown", "None", "None", 1, false},
        {"Grabbers.g = { Name = {} }", "g", "Unknown", "Unknown", "None", "None", 1, false},
        {"Grabbers.g = { Name = 'BBC', Version = 1.5 }", "BBC", "1.5", "Unknown", "None", "None", 1, false},
        {"Grabbers.g = { Version = true, Author = false, InfoURL = {}, SourceURL = print }", "g", "Unknown", "", "",
         "", 1, false},
        {"Grabbers.g = { Author = 'Me', InfoURL = 'http://a', SourceURL = 7 }", "g", "Unknown", "Me", "http://a", "7",
         1, false},
        {"Grabbers.g = { Encoding = 258 }", "g", "Unknown", "Unknown", "None", "None", 2, false},
        {"Grabbers.g = { Encoding = 3.9 }", "g", "Unknown", "Unknown", "None", "None", 3, false},
        {"Grabbers.g = { Encoding = '3' }", "g", "Unknown", "Unknown", "None", "None", 3, false},
        {"Grabbers.g = { Encoding = 'x' }", "g", "Unknown", "Unknown", "None", "None", 1, false},
        {"Grabbers.g = { NoUserChannels = 0 }", "g", "Unknown", "Unknown", "None", "None", 1, true},
        {"Grabbers.g = { NoUserChannels = false }", "g", "Unknown", "Unknown", "None", "None", 1, false},
        // Inherited keys are read as scripts see them.
        {"local base = { Version = '2.0' }; Grabbers.g = setmetatable({}, { __index = base })", "g", "2.0", "Unknown",
         "None", "None", 1, false},
    };
    for (const Case& c : cases) {
        ProgramFolder folder;
        folder.Script("g.lua", c.script);
        EngineRun run(folder);
        const TLuaGrabber* g = run.Grabber("g");
        ASSERT_NE(g, nullptr) << c.script;
        EXPECT_EQ(g->Name, c.name) << c.script;
        EXPECT_EQ(g->Version, c.version) << c.script;
        EXPECT_EQ(g->Author, c.author) << c.script;
        EXPECT_EQ(g->InfoURL, c.infoURL) << c.script;
        EXPECT_EQ(g->SourceURL, c.sourceURL) << c.script;
        EXPECT_EQ(g->Encoding, c.encoding) << c.script;
        EXPECT_EQ(g->NoUserChannels, c.noUserChannels) << c.script;
        EXPECT_FALSE(g->Enabled);
        EXPECT_EQ(g->Order, -1);
        EXPECT_EQ(run.Lines, std::vector<std::string>{}) << c.script;   // Debug is off
    }

    ProgramFolder folder;
    folder.Script("p.lua", "PostProcs.p = { Grabber = 'g', Author = 3 }; PostProcs.q = {}");
    EngineRun run(folder);
    ASSERT_EQ(run.Engine->PostProcessors.Count(), 2);
    for (const TLuaBase& script : run.Engine->PostProcessors) {
        const auto& p = static_cast<const TLuaPostProcessor&>(script);
        EXPECT_EQ(p.Name, p.ID);
        EXPECT_EQ(p.Version, "Unknown");
        EXPECT_EQ(p.Grabber, p.ID == "p" ? "g" : "");
        EXPECT_EQ(p.Author, p.ID == "p" ? "3" : "Unknown");
        EXPECT_EQ(p.InfoURL, "None");
    }
}

TEST(EngineTest, DebugLinesOfConstruction) {
    const std::vector<std::string> debugLines = {
        "Loading init scripts",
        "   Init scripts loaded",
        "Opening script \"b.lua\"",   // a sub-folder is searched before the folder's own files
        "   Script Opened",
        "Opening script \"a.lua\"",
        "   Script Opened",
        "Invalid encoding for grabber g",
        "Grabber found: ID \"g\", Name \"Good\", Version \"1\"",
        "   Loading grabber channels",
        "   Found 0 channels, 0 channels selected",
        "Post Processor found: ID \"p\", Name \"p\", Version \"Unknown\"",
    };
    struct Case {
        const char* debug;
        std::vector<std::string> lines;
    } cases[] = {
        {"0", {}},
        {"yes", {}},
        {"1", debugLines},
        {"2", debugLines},
    };
    for (const Case& c : cases) {
        ProgramFolder folder;
        folder.Script("a.lua", "Grabbers.g = { Name = 'Good', Version = 1 }");
        folder.Script("sub/b.lua", "PostProcs.p = {}");
        folder.Ini(std::string("[Settings]\r\nDebug=") + c.debug + "\r\n");
        EngineRun run(folder);
        EXPECT_EQ(run.Lines, c.lines) << c.debug;
        if (!c.lines.empty()) {
            EXPECT_EQ(run.Raw[7].substr(8), " - Grabber found: ID \"g\", Name \"Good\", Version \"1\"");
        }
    }
}

// The key=value lines of one section of a settings file, in file order.
std::vector<std::string> SectionLines(const std::string& text, const std::string& section) {
    TIniFile ini;
    ini.SetText(text);
    std::vector<std::string> lines;
    for (const std::string& key : ini.ReadSection(section)) lines.push_back(key + "=" + ini.ReadString(section, key, ""));
    return lines;
}

TEST(EngineTest, RunOrderAndOrdersWrittenBack) {
    struct Case {
        const char* ini;
        std::vector<std::string> runOrder;
        std::vector<std::string> enabled;   // section Grabbers afterwards
        std::vector<std::string> orders;    // section GrabberOrder afterwards
    } cases[] = {
        {"[Grabbers]\r\na=1\r\nb=0\r\nc=1\r\n[GrabberOrder]\r\na=3\r\nb=1\r\nc=2\r\n",
         {"b", "c", "a"}, {"a=1", "b=0", "c=1"}, {"a=3", "b=1", "c=2"}},
        {"[GrabberOrder]\r\na=9\r\nb=5\r\nc=7\r\n[Grabbers]\r\nb=1\r\n",
         {"b", "c", "a"}, {"b=1", "c=0", "a=0"}, {"a=3", "b=1", "c=2"}},
        {"[GrabberOrder]\r\na=1\r\nb=2\r\nc=3\r\n[Grabbers]\r\nA=1\r\nB=0\r\nC=yes\r\n",
         {"a", "b", "c"}, {"A=1", "B=0", "C=0"}, {"a=1", "b=2", "c=3"}},
    };
    for (const Case& c : cases) {
        ProgramFolder folder;
        folder.Script("s.lua", "Grabbers.a = {}; Grabbers.b = {}; Grabbers.c = {}");
        folder.Ini(c.ini);
        EngineRun run(folder);
        EXPECT_EQ(run.GrabberOrder(), c.runOrder);
        run.Destroy();
        EXPECT_EQ(SectionLines(folder.IniText(), "Grabbers"), c.enabled);
        EXPECT_EQ(SectionLines(folder.IniText(), "GrabberOrder"), c.orders);
    }

    // Post processors the same way, in their own sections.
    ProgramFolder folder;
    folder.Script("s.lua", "PostProcs.x = {}; PostProcs.y = {}");
    folder.Ini("[ProcOrder]\r\nx=20\r\ny=10\r\n[Processors]\r\ny=1\r\n");
    EngineRun run(folder);
    ASSERT_EQ(run.Engine->PostProcessors.Count(), 2);
    EXPECT_EQ(run.Engine->PostProcessors.FirstItem()->ID, "y");
    EXPECT_TRUE(run.Engine->PostProcessors.FirstItem()->Enabled);
    run.Destroy();
    EXPECT_EQ(SectionLines(folder.IniText(), "ProcOrder"), (std::vector<std::string>{"x=2", "y=1"}));
    EXPECT_EQ(SectionLines(folder.IniText(), "Processors"), (std::vector<std::string>{"y=1", "x=0"}));
}

TEST(EngineTest, ScriptFailuresAreLoggedAndLoadingGoesOn) {
    struct Case {
        std::vector<std::pair<std::string, std::string>> scripts;
        std::vector<std::string> grabbers;   // registered, in any order
        std::vector<std::string> lines;      // always shown, in order
    } cases[] = {
        {{{"a.lua", "Grabbers.broken = {"}, {"b.lua", "Grabbers.good = {}"}},
         {"good"},
         {"@a.lua:1: unexpected symbol near '<eof>'"}},
        // What a file stored before its error stays.
        {{{"a.lua", "Grabbers.early = {}\nerror('stopped', 0)\nGrabbers.late = {}"}}, {"early"}, {"stopped"}},
        {{{"a.lua", "Grabbers.g = { Init = function(h) error('bad init', 0) end, Name = 'G' }"}},
         {"g"},
         {"Error calling Init function of grabber G: bad init"}},
        {{{"a.lua", "PostProcs.p = { Init = function(h) error('bad init', 0) end, Name = 'P' }"}},
         {},
         {"Error calling Init fucntion of post processor P: bad init"}},
        {{{"a.lua", "Grabbers[1] = {}; Grabbers.x = 5"}},
         {},
         {"Skipping entry 1 of Grabbers: its key is not a string", "Skipping entry \"x\" of Grabbers: it is not a table"}},
        // Print is always shown; misused, it is a usage error.
        {{{"a.lua", "print('hello')\nprint(12)"}, {"b.lua", "print('a', 'b')"}},
         {},
         {"hello", "12", "Print, 2 parameters found, 1 parameters expected. Usage: \"Print([Message])\""}},
        // Init functions that change the registry while it is walked.
        {{{"a.lua", "Grabbers.a = { Init = function() Grabbers.b = nil; Grabbers.z = {} end }\n"
                    "Grabbers.b = { Init = function() Grabbers.a = nil end }"}},
         {"a", "b"},
         {}},
    };
    for (const Case& c : cases) {
        ProgramFolder folder;
        for (const auto& [name, text] : c.scripts) folder.Script(name, text);
        EngineRun run(folder);
        std::vector<std::string> lines;
        for (std::string line : run.Lines) {
            const size_t at = line.find(folder.Root + "scripts/");   // Lua names the file by its path
            if (at != std::string::npos) line.replace(at, folder.Root.size() + 8, "@");
            lines.push_back(line);
        }
        EXPECT_EQ(lines, c.lines);
        std::vector<std::string> ids = run.GrabberOrder();
        std::sort(ids.begin(), ids.end());
        EXPECT_EQ(ids, c.grabbers);
    }
}

// A script ID names folders: one that cannot be a single folder name is not registered.
TEST(EngineTest, IDsThatAreNoFolderNameAreSkipped) {
    ProgramFolder folder;
    folder.Script("a.lua",
                  "for _, id in ipairs({'', '.', '..', '../../x', 'a/b', 'a\\\\b', 'a\\nb', 'a\\0b', string.rep('n', 256)}) do\n"
                  "  Grabbers[id] = { Init = function(h) Tvrn.CleanCache(h, 0) end }; PostProcs[id] = {}\n"
                  "end\n"
                  "Grabbers['a b.c'] = {}; PostProcs['..x'] = {}\n");
    EngineRun run(folder);
    EXPECT_EQ(run.GrabberOrder(), std::vector<std::string>{"a b.c"});
    ASSERT_EQ(run.Engine->PostProcessors.Count(), 1);
    EXPECT_EQ(run.Engine->PostProcessors.FirstItem()->ID, "..x");
    for (const char* table : {"Grabbers", "PostProcs"})
        for (const std::string& id :
             std::vector<std::string>{"", ".", "..", "../../x", "a/b", "a\\b", "a?b", std::string(256, 'n')})
            EXPECT_TRUE(run.Logged("Skipping entry \"" + id + "\" of " + table + ": its key cannot be a folder name"))
                << table << " " << id;
    EXPECT_EQ(run.Lines.size(), 18u);
    EXPECT_TRUE(std::filesystem::exists(folder.Root + "init.lua"));   // no Init cleaned the program folder
}

TEST(EngineTest, MissingInitFilesAreReportedLikeScripts) {
    ProgramFolder folder;
    std::filesystem::remove(folder.Root + "init.lua");
    folder.Script("a.lua", "Grabbers.g = {}");
    EngineRun run(folder);
    ASSERT_EQ(run.Lines.size(), 1u);
    EXPECT_EQ(run.Lines[0], "cannot open " + folder.Root + "init.lua: No such file or directory");
    EXPECT_NE(run.Grabber("g"), nullptr);
}

TEST(EngineTest, FirstShutdownWritesEveryDefault) {
    ProgramFolder folder;
    folder.Script("a.lua", "Grabbers.g = {}; PostProcs.p = {}");
    {
        EngineRun run(folder);
        run.Engine->Log("a line");
        run.Destroy();
        EXPECT_EQ(LuaGrabbers, nullptr);
        EXPECT_EQ(ReadFile(folder.Root + "log.txt"), run.Raw[0] + "\r\n");   // "log.txt", relative: the current folder
    }
    const std::string expected =
        "[Settings]\r\nTimeZone=GMT/BST\r\nCharSet=1\r\nOutfile=" + folder.Root +
        "data.xml\r\nXMLSort=CAO\r\nSortRev=0\r\nDoXMLSort=0\r\nSaveLog=1\r\nLogFile=log.txt\r\nEMailLog=0\r\n"
        "AttachXML=0\r\nEMailAddress=you@example.com\r\nDebug=0\r\n\r\n"
        "[Connection]\r\nMaxRetries=3\r\nRetryDelay=3000\r\nConnectTimeout=10000\r\nReadTimeout=10000\r\nProxy=\r\n"
        "ProxyPort=0\r\nProxyPassword=\r\nProxyUsername=\r\nEMailServer=mail.example.com\r\nMaxPageSize=256\r\n\r\n"
        "[Grabbers]\r\ng=0\r\n\r\n[GrabberOrder]\r\ng=1\r\n\r\n[Processors]\r\np=0\r\n\r\n[ProcOrder]\r\np=1\r\n\r\n";
    EXPECT_EQ(folder.IniText(), expected);
}

TEST(EngineTest, SettingsReadAndWrittenBack) {
    struct Case {
        const char* ini;
        std::function<void(const TLuaGrabbers&)> check;
        std::vector<std::string> written;   // lines the file holds afterwards
    } cases[] = {
        {"[Settings]\r\nDebug=2\r\nCharSet=3\r\nSortRev=yes\r\nLogFile=my.log\r\n",
         [](const TLuaGrabbers& e) {
             EXPECT_TRUE(e.Debug);
             EXPECT_EQ(e.CharSet, 3);
             EXPECT_FALSE(e.SortRev);
             EXPECT_EQ(e.LogFile, "my.log");
         },
         {"Debug=1", "CharSet=3", "SortRev=0", "LogFile=my.log"}},
        {"[connection]\r\nmaxretries=x\r\nRetryDelay=10\r\nProxy=cache:8080\r\nProxyPort=8080\r\n"
         "[Grab_g]\r\nKey=kept\r\n[settings]\r\nUnknown=stays\r\nOutfile=/tmp/tv.xml\r\n",
         [](const TLuaGrabbers& e) {
             EXPECT_EQ(e.MaxRetries, 3);
             EXPECT_EQ(e.RetryDelay, 10);
             EXPECT_EQ(e.Proxy, "cache:8080");
             EXPECT_EQ(e.ProxyPort, 8080);
             EXPECT_EQ(e.OutFile, "/tmp/tv.xml");
         },
         {"[connection]", "maxretries=3", "RetryDelay=10", "[Grab_g]", "Key=kept", "[settings]", "Unknown=stays",
          "Outfile=/tmp/tv.xml"}},
    };
    for (const Case& c : cases) {
        ProgramFolder folder;
        folder.Ini(c.ini);
        EngineRun run(folder);
        c.check(*run.Engine);
        run.Destroy();
        const std::string ini = "\r\n" + folder.IniText();
        for (const std::string& line : c.written) EXPECT_NE(ini.find("\r\n" + line + "\r\n"), std::string::npos) << line;
        EXPECT_EQ(ini.find("\r\n\r\n\r\n"), std::string::npos);
    }
}

TEST(EngineTest, LuaStateAsScriptsFindIt) {
    ProgramFolder folder;
    WriteFile(folder.Root + "lib/mymod.lua", "return { answer = 42 }");
    folder.Script("a.lua",
                  "R = {}\n"
                  "R.os = type(os)\n"
                  "R.loadlib = type(loadlib)\n"
                  "R.io, R.string, R.table, R.math, R.debug = type(io), type(string), type(table), type(math), type(debug)\n"
                  "R.libs = type(Tvrn) .. type(UK_RT) .. type(HTTP) .. type(time)\n"
                  "R.registry = type(Grabbers) .. type(PostProcs)\n"
                  "R.temp, R.path, R.cpath = TEMP, LUA_PATH, LUA_CPATH\n"
                  "R.mod = require('mymod').answer\n"
                  "Grabbers.g = { Init = function(h) R.handle = h end }\n");
    EngineRun run(folder);
    EXPECT_EQ(run.Lines, std::vector<std::string>{});
    lua_State* L = run.Engine->LuaState();
    struct Case {
        const char* key;
        std::string value;
    } cases[] = {
        {"os", "nil"},
        {"loadlib", "function"},
        {"io", "table"},
        {"debug", "table"},
        {"libs", "tabletabletabletable"},
        {"registry", "tabletable"},
        {"temp", folder.Root + "temp/"},
        {"path", folder.Root + "lib/?.lua"},
        {"cpath", folder.Root + "lib/?.so"},
        {"mod", "42"},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(GetPath(L, {"R", c.key})) << c.key;
        EXPECT_EQ(ReadText(L, -1), c.value) << c.key;
        Pop(L, 1);
    }
    EXPECT_TRUE(std::filesystem::is_directory(folder.Root + "temp"));
    ASSERT_TRUE(GetPath(L, {"R", "handle"}));
    EXPECT_EQ(lua_type(L, -1), LUA_TLIGHTUSERDATA);
    EXPECT_EQ(ReadHandle(L, -1), static_cast<TLuaBase*>(run.Grabber("g")));
    EXPECT_EQ(run.Engine->FindScript(ReadHandle(L, -1)), run.Grabber("g"));
    EXPECT_EQ(run.Engine->FindScript(&run), nullptr);
    Pop(L, 1);
}

TEST(EngineTest, ShutdownSteps) {
    struct Case {
        const char* ini;
        bool removeSettingsFolder;
        bool throws;
        bool logFile;
    } cases[] = {
        {"[Settings]\r\nLogFile=out/run.log\r\n", false, false, true},
        {"[Settings]\r\nLogFile=out/run.log\r\nSaveLog=0\r\n", false, false, false},
        // The settings cannot be written: the error reaches the caller; the log is still saved.
        {"[Settings]\r\nLogFile=out/run.log\r\n", true, true, true},
        // The log file cannot be written: the error reaches the caller; the settings are saved.
        {"[Settings]\r\nLogFile=no-such-folder/run.log\r\n", false, true, false},
    };
    for (const Case& c : cases) {
        ProgramFolder folder;
        std::filesystem::create_directories(folder.Root + "out");
        folder.Ini(c.ini);
        EngineRun run(folder);
        EXPECT_EQ(run.Engine->ExitStatus, 0);
        WriteFile(folder.Root + "temp/a.tmp", "x");
        WriteFile(folder.Root + "temp/sub/b.tmp", "y");
        if (c.removeSettingsFolder) std::filesystem::remove_all(folder.Root + "settings");
        if (c.throws) EXPECT_THROW(run.Destroy(), std::runtime_error) << c.ini;
        else EXPECT_NO_THROW(run.Destroy()) << c.ini;
        EXPECT_FALSE(std::filesystem::exists(folder.Root + "temp/a.tmp"));
        EXPECT_FALSE(std::filesystem::exists(folder.Root + "temp/sub/b.tmp"));
        EXPECT_EQ(std::filesystem::exists(folder.Root + "out/run.log"), c.logFile) << c.ini;
        EXPECT_EQ(std::filesystem::exists(folder.Root + "settings/tavrin.ini"), !c.removeSettingsFolder);
        EXPECT_EQ(LuaGrabbers, nullptr);
    }
}

// The deletion walks (temp/ at shutdown, Tvrn.CleanCache) remove links, never what they lead to.
TEST(EngineTest, DeletionWalksRemoveLinksOnly) {
    struct Case {
        const char* folder;
        const char* script;
    } cases[] = {
        {"temp/", "Grabbers.g = {}"},
        {"cache/g/", "Grabbers.g = { Init = function(h) Tvrn.CleanCache(h, 0) end }"},
    };
    for (const Case& c : cases) {
        ProgramFolder folder;
        WriteFile(folder.Root + "outside/keep.txt", "mine");
        WriteFile(folder.Root + c.folder + "own.txt", "x");
        std::filesystem::create_directory_symlink(folder.Root + "outside", folder.Root + c.folder + "dir-link");
        std::filesystem::create_symlink(folder.Root + "outside/keep.txt", folder.Root + c.folder + "file-link");
        folder.Script("g.lua", c.script);
        EngineRun(folder).Destroy();
        EXPECT_EQ(ReadFile(folder.Root + "outside/keep.txt"), "mine") << c.folder;
        for (const char* name : {"own.txt", "dir-link", "file-link"})
            EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(folder.Root + c.folder + name)))
                << c.folder << name;
    }
}

// A killed run's temporary files go at the next start; a live writer's stay.
TEST(EngineTest, StaleTemporaryFilesRemovedAtStart) {
    ProgramFolder folder;
    folder.Ini("[Settings]\r\nOutfile=out/data.xml\r\nLogFile=run.log\r\n");
    folder.Script("g.lua", "Grabbers.g = {}");
    const std::vector<std::string> stale = {"settings/tavrin.ini.tmpAb3xY9", "settings/g/userchannels.txt.tmp",
                                            "settings/g/channels.lua.tmpQQ11ww", "out/data.xml.tmpZz9Zz9",
                                            "run.log.tmpaaaaaa"};
    const std::vector<std::string> kept = {"out/data.xml.tmp.bak", "settings/other.tmpAb3xY9", "run.log.tmp1"};
    for (const std::string& name : stale) WriteFile(folder.Root + name, "x");
    for (const std::string& name : kept) WriteFile(folder.Root + name, "x");
    platform::SaveFile live(folder.Root + "out/data.xml");   // another run's output, being written
    EngineRun run(folder);
    for (const std::string& name : stale) EXPECT_FALSE(std::filesystem::exists(folder.Root + name)) << name;
    for (const std::string& name : kept) EXPECT_TRUE(std::filesystem::exists(folder.Root + name)) << name;
    EXPECT_TRUE(live.Commit());
}

// The log never replaces the listings, however the two names are written.
TEST(EngineTest, LogFileThatIsTheOutputIsNotSaved) {
    for (const std::string logFile : {"out.xml", "./sub/../out.xml", "link.xml", "@out.xml"}) {
        ProgramFolder folder;
        const std::string name = logFile[0] == '@' ? folder.Root + logFile.substr(1) : logFile;
        folder.Ini("[Settings]\r\nOutfile=" + folder.Root + "out.xml\r\nLogFile=" + name + "\r\n");
        WriteFile(folder.Root + "out.xml", "listings");
        std::filesystem::create_directories(folder.Root + "sub");
        std::filesystem::create_symlink(folder.Root + "out.xml", folder.Root + "link.xml");
        EngineRun run(folder);
        run.Destroy();
        EXPECT_EQ(ReadFile(folder.Root + "out.xml"), "listings") << logFile;
        EXPECT_TRUE(run.Logged("Log file \"" + name + "\" is the output file: the log is not saved")) << logFile;
    }
}

TEST(EngineTest, CallOnShowSettings) {
    ProgramFolder folder;
    folder.Script("a.lua",
                  "Shown = 0\n"
                  "Grabbers.g = { OnShowSettings = function(h) Shown = Shown + 1 end }\n"
                  "PostProcs.p = { Name = 'P', OnShowSettings = function(h) error('no dialog', 0) end }\n"
                  "PostProcs.q = {}\n");
    EngineRun run(folder);
    run.Engine->CallOnShowSettings(*run.Grabber("g"));
    for (TLuaBase& p : run.Engine->PostProcessors) run.Engine->CallOnShowSettings(p);
    EXPECT_EQ(run.Lines, std::vector<std::string>{"Error calling OnShowShowSettings function of grabber P: no dialog"});
    lua_State* L = run.Engine->LuaState();
    const int top = lua_gettop(L);
    GetGlobal(L, "Shown");
    EXPECT_EQ(lua_tointeger(L, -1), 1);
    Pop(L, 1);
    EXPECT_EQ(lua_gettop(L), top);
}

TEST(EngineDeathTest, PanicShutsDownThenEnds) {
    ProgramFolder folder;
    folder.Ini("[Settings]\r\nLogFile=panic.log\r\n");
    folder.Script("a.lua", "Grabbers.g = {}");
    EXPECT_EXIT(
        {
            EngineRun run(folder);
            lua_State* L = run.Engine->LuaState();
            lua_pushnil(L);
            lua_call(L, 0, 0);   // an error outside any protected call
        },
        ::testing::ExitedWithCode(1), "^Lua Panic: attempt to call a nil value\n$");
    EXPECT_EQ(ReadFile(folder.Root + "panic.log"), "Lua Panic\r\n");   // the shutdown saved the log ...
    EXPECT_NE(folder.IniText().find("[GrabberOrder]\r\ng=1\r\n"), std::string::npos);   // ... and the settings
}

}  // namespace
