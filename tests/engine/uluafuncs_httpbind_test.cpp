#include "scriptapi/uluafuncs_httpbind.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "engine/uluagrabbers.h"
#include "platform/files.h"
#include "scriptapi/luahelpers.h"
#include "tests/engine/programfolder.h"
#include "tests/net/serverclienttest.h"
#include "tests/net/testservers.h"

using namespace testing_support;
using namespace testing_servers;

namespace {

constexpr int64_t kHour = 3600 * 1000;

// An engine with a grabber "test" (its handle in the global H) and a post processor "pp" (in P),
// talking to the local HTTP server, whose address scripts find in the global URL.
class HTTPBindingTest : public TSharedServerTest {
protected:

    void SetUp() override {
        FetchRaw(Server->URL("/_reset"));
        Folder.Script("test.lua", "Grabbers.test = { Encoding = 1, Init = function(h) H = h end }\n"
                                  "PostProcs.pp = { Init = function(h) P = h end }\n");
        Folder.Ini("[Settings]\nDebug=1\n[Connection]\nRetryDelay=0\n");
        Run = std::make_unique<EngineRun>(Folder);
        Engine().OnStatus = [this](int32_t line, const std::string& text) {
            Status.push_back(std::to_string(line) + " " + text);
        };
        Engine().OnProgress = [this](int32_t bar, int32_t value, int32_t mode) {
            if (bar == 2) Progress.push_back({value, mode});
        };
        PushText(L(), Server->URL(""));
        SetGlobal(L(), "URL");
    }

    TLuaGrabbers& Engine() const { return *Run->Engine; }
    lua_State* L() const { return Run->Engine->LuaState(); }
    int64_t Start() const { return platform::UnixMsFromLocal(Engine().StartTime); }

    // Runs a chunk in protected mode: its results as texts, or "error: <message>".
    std::vector<std::string> Lua(const std::string& chunk) {
        lua_State* L = this->L();
        const int top = lua_gettop(L);
        std::vector<std::string> results;
        if (luaL_loadstring(L, chunk.c_str()) != 0 || lua_pcall(L, 0, LUA_MULTRET, 0) != 0) {
            results.push_back("error: " + ReadText(L, -1));
        } else {
            for (int i = top + 1; i <= lua_gettop(L); ++i)
                results.push_back(lua_isnil(L, i) ? "nil" : ReadText(L, i));
        }
        lua_settop(L, top);
        return results;
    }

    std::string CachePath(const std::string& script, const std::string& file) const {
        return Folder.Root + "cache/" + script + "/" + file;
    }
    void WriteCache(const std::string& script, const std::string& file, const std::string& text, double hoursBefore) {
        const std::string path = CachePath(script, file);
        ASSERT_TRUE(platform::ForceDirectories(path.substr(0, path.rfind('/'))));
        ASSERT_TRUE(platform::WriteFileSafely(path, text));
        ASSERT_TRUE(platform::SetFileModifiedMs(path, Start() - static_cast<int64_t>(hoursBefore * kHour)));
    }
    std::optional<std::string> ReadCache(const std::string& script, const std::string& file) const {
        std::string text;
        if (!platform::ReadWholeFile(CachePath(script, file), text)) return std::nullopt;
        return text;
    }
    size_t Requests() const { return RequestLog(*Server).size(); }

    ProgramFolder Folder;
    std::unique_ptr<EngineRun> Run;
    std::vector<std::string> Status;
    std::vector<std::pair<int32_t, int32_t>> Progress;
};

const std::string kGetUsage =
    "\"[Page] [Error] = HTTP.Get([URL],[Grabber],[Username],[Password],[CacheFile],[CacheAge])\"";
const std::string kPostUsage =
    "\"[Page] [Error] = HTTP.Post([URL],[PostVars],[Grabber],[Username],[Password],[CacheFile],[CacheAge])\"";

TEST_F(HTTPBindingTest, RaisesTheUsageErrorsOfEachFunction) {
    struct Case {
        const char* Chunk;
        std::string Error;
    } cases[] = {
        {"HTTP.Get()", "Get, 0 parameters found, 1 parameters expected. Usage: " + kGetUsage},
        {"Tvrn.Get()", "Get, 0 parameters found, 1 parameters expected. Usage: " + kGetUsage},
        {"HTTP.Post(URL)", "Post, 1 parameters found, 2 parameters expected. Usage: " + kPostUsage},
        {"Tvrn.Post()", "Post, 0 parameters found, 2 parameters expected. Usage: " + kPostUsage},
        {"HTTP.SetAcptEnc()", "SetAcptEnc, 0 parameters found, 1 parameters expected. Usage: \"HTTP.SetAcptEnc([Enc])\""},
        {"HTTP.SetAcptEnc('gzip', 'x')",
         "SetAcptEnc, 2 parameters found, 1 parameters expected. Usage: \"HTTP.SetAcptEnc([Enc])\""},
        {"HTTP.SetAcptEnc({})", "SetAcptEnc, incorrect parameter type(s). Usage: \"HTTP.SetAcptEnc([Enc])\""},
        {"HTTP.SetAcptEnc(nil)", "SetAcptEnc, incorrect parameter type(s). Usage: \"HTTP.SetAcptEnc([Enc])\""},
        // A header value with a line break would add headers of the script's choosing.
        {"HTTP.SetAcptEnc('x\\r\\nX-Injected: yes')",
         "SetAcptEnc, incorrect parameter type(s). Usage: \"HTTP.SetAcptEnc([Enc])\""},
        {"HTTP.SetAcptEnc('gzip\\n')", "SetAcptEnc, incorrect parameter type(s). Usage: \"HTTP.SetAcptEnc([Enc])\""},
        {"HTTP.SetAcptEnc('gzip\\0')", "SetAcptEnc, incorrect parameter type(s). Usage: \"HTTP.SetAcptEnc([Enc])\""},
        {"HTTP.Get(URL .. '/digest', H, 'ann\\r\\nX-Injected: yes', 'pw')",
         "Get, 4 parameters found, 1 parameters expected. Usage: " + kGetUsage},
        {"Tvrn.Post(URL, 'a=1', H, 'ann\\r')", "Post, 4 parameters found, 2 parameters expected. Usage: " + kPostUsage},
        {"Tvrn.CleanCache(H)",
         "CleanCache, 1 parameters found, 2 parameters expected. Usage: \"Tvrn.CleanCache([Grabber],[MaxDays])\""},
        {"Tvrn.CleanCache(H, 1, 2)",
         "CleanCache, 3 parameters found, 2 parameters expected. Usage: \"Tvrn.CleanCache([Grabber],[MaxDays])\""},
        {"Tvrn.CleanCache(H, 'old')",
         "CleanCache, incorrect parameter type(s). Usage: \"Tvrn.CleanCache([Grabber],[MaxDays])\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Chunk);
        EXPECT_EQ(Lua(c.Chunk), std::vector<std::string>{"error: " + c.Error});
    }
    EXPECT_EQ(Requests(), 0u);   // a usage error has no effect
    // The state is still usable, and a numeric text is a valid MaxDays.
    EXPECT_EQ(Lua("Tvrn.CleanCache(H, '3') return 1"), std::vector<std::string>{"1"});
}

TEST_F(HTTPBindingTest, ReturnsThePageAndTheStatus) {
    struct Case {
        const char* Name;
        std::string Chunk;
        std::vector<std::string> Results;
        std::string Logged;   // a line the call logs, empty for none
    } cases[] = {
        {"Get", "return HTTP.Get(URL .. '/text?body=hello')", {"hello", "200"}, ""},
        {"Tvrn.Get", "return Tvrn.Get(URL .. '/text?body=hi', H)", {"hi", "200"}, ""},
        {"404", "return HTTP.Get(URL .. '/status?code=404&body=gone')", {"", "404"},
         "HTTP Protocol error(404) downloading \"" + Server->URL("/status?code=404&body=gone") + "\" : gone"},
        {"Get 302", "return HTTP.Get(URL .. '/redirect?code=302&to=http://elsewhere.invalid/x')",
         {"http://elsewhere.invalid/x", "302"}, "Redirecting to: http://elsewhere.invalid/x"},
        {"Post", "return HTTP.Post(URL .. '/text?body=posted', 'a=1&b=2')", {"posted", "200"}, ""},
        {"Post 302", "return Tvrn.Post(URL .. '/redirect?code=302&to=http://elsewhere.invalid/x', 'a=1')", {"", "302"},
         "HTTP Protocol error(302) downloading \"" + Server->URL("/redirect?code=302&to=http://elsewhere.invalid/x") +
             "\" : "},   // the start of the line: the server's body follows
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        Run->Lines.clear();
        EXPECT_EQ(Lua(c.Chunk), c.Results);
        if (!c.Logged.empty()) {
            bool found = false;
            for (const std::string& line : Run->Lines) found = found || line.rfind(c.Logged, 0) == 0;
            EXPECT_TRUE(found) << ::testing::PrintToString(Run->Lines);
        }
    }
    // The post variables go out unchanged as the body.
    bool posted = false;
    for (const TLoggedRequest& r : RequestLog(*Server))
        if (r.Method == "POST" && r.Path == "/text?body=posted") posted = r.Body == "a=1&b=2";
    EXPECT_TRUE(posted);
}

TEST_F(HTTPBindingTest, ReadsTheCacheArgumentsOfGetAndPost) {
    struct Case {
        const char* Name;
        std::string Args;         // after the URL (and for Post its variables)
        bool Post;
        std::string CachedIn;     // the folder of a page cached beforehand, "" for none
        double HoursBefore;       // its age
        std::vector<std::string> Results;
        std::string StoredIn;     // the folder that holds the page afterwards, "" for none
        std::string Stored;
    } cases[] = {
        {"handle, no page cached", "H, nil, nil, 'p.html'", false, "", 0, {"fresh", "200"}, "test", "fresh"},
        {"post processor's handle", "P, nil, nil, 'p.html'", false, "", 0, {"fresh", "200"}, "pp", "fresh"},
        {"no handle", "nil, nil, nil, 'p.html'", false, "", 0, {"fresh", "200"}, "none", "fresh"},
        {"a number for a handle", "7, nil, nil, 'p.html'", false, "", 0, {"fresh", "200"}, "none", "fresh"},
        {"null handle", "Tvrn.GetGrabber('nope'), nil, nil, 'p.html'", false, "", 0, {"fresh", "200"}, "none", "fresh"},
        {"sub-folder", "H, nil, nil, 'day/1.html'", false, "", 0, {"fresh", "200"}, "test", ""},
        {"no CacheAge: any age", "H, nil, nil, 'p.html'", false, "test", 24 * 400, {"cached", "0"}, "test", "cached"},
        {"CacheAge nil", "H, nil, nil, 'p.html', nil", false, "test", 24 * 400, {"cached", "0"}, "test", "cached"},
        {"CacheAge 1, 21.5 hours", "H, nil, nil, 'p.html', 1", false, "test", 21.5, {"cached", "0"}, "test", "cached"},
        {"CacheAge 1, 22 hours", "H, nil, nil, 'p.html', 1", false, "test", 22, {"fresh", "200"}, "test", "fresh"},
        {"CacheAge 1.9 counts as 1", "H, nil, nil, 'p.html', 1.9", false, "test", 22, {"fresh", "200"}, "test", "fresh"},
        {"CacheAge 0", "H, nil, nil, 'p.html', 0", false, "test", 0, {"fresh", "200"}, "test", "fresh"},
        {"CacheAge not a number", "H, nil, nil, 'p.html', 'x'", false, "test", 0, {"fresh", "200"}, "test", "fresh"},
        {"CacheAge numeric text", "H, nil, nil, 'p.html', '2'", false, "test", 30, {"cached", "0"}, "test", "cached"},
        {"empty CacheFile", "H, nil, nil, ''", false, "", 0, {"fresh", "200"}, "", ""},
        {"Post, one position later", "H, nil, nil, 'p.html'", true, "", 0, {"fresh", "200"}, "test", "fresh"},
        {"Post, cached", "H, nil, nil, 'p.html'", true, "test", 5, {"cached", "0"}, "test", "cached"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        std::filesystem::remove_all(Folder.Root + "cache");
        if (!c.CachedIn.empty()) WriteCache(c.CachedIn, "p.html", "cached", c.HoursBefore);
        const size_t before = Requests();
        const std::string call = c.Post ? "HTTP.Post(URL .. '/text?body=fresh', 'v=1', " + c.Args + ")"
                                        : "HTTP.Get(URL .. '/text?body=fresh', " + c.Args + ")";
        EXPECT_EQ(Lua("return " + call), c.Results);
        EXPECT_EQ(Requests() - before, c.Results[1] == "0" ? 0u : 1u);
        for (const char* folder : {"test", "pp", "none"}) {
            const bool here = c.StoredIn == folder;
            if (std::string(c.Name) == "sub-folder") {
                EXPECT_EQ(ReadCache(folder, "day/1.html"), here ? std::optional<std::string>("fresh") : std::nullopt);
            } else {
                EXPECT_EQ(ReadCache(folder, "p.html"), here ? std::optional<std::string>(c.Stored) : std::nullopt)
                    << folder;
            }
        }
    }
}

TEST_F(HTTPBindingTest, AppliesTheConnectionSettingsOfTheEngineToTheNextRequest) {
    const std::string hang = "return HTTP.Get(URL .. '/hang')";
    struct Case {
        const char* Name;
        int32_t MaxRetries;
        std::vector<std::string> Retries;
    } cases[] = {
        {"no retries", 0, {"Read timed out retrying 0 more times in 0 ms"}},
        {"two retries",
         2,
         {"Read timed out retrying 2 more times in 0 ms", "Read timed out retrying 1 more times in 0 ms",
          "Read timed out retrying 0 more times in 0 ms"}},
    };
    Engine().ReadTimeout = 150;   // as the settings dialog would change it, after the start
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        Engine().MaxRetries = c.MaxRetries;
        Run->Lines.clear();
        EXPECT_EQ(Lua(hang), (std::vector<std::string>{"", "-1"}));
        std::vector<std::string> retries;
        for (const std::string& line : Run->Lines)
            if (line.find("timed out") != std::string::npos) retries.push_back(line);
        EXPECT_EQ(retries, c.Retries);
    }
}

TEST_F(HTTPBindingTest, FailsAPageLargerThanMaxPageSize) {
    Engine().MaxPageSize = 1;   // MiB, as the settings file gives it
    Run->Lines.clear();
    const std::string path = "/page?size=" + std::to_string(1024 * 1024 + 1);
    EXPECT_EQ(Lua("return HTTP.Get(URL .. '" + path + "', H, nil, nil, 'big.html')"), (std::vector<std::string>{"", "-1"}));
    EXPECT_EQ(Run->Lines, std::vector<std::string>{"Error downloading \"" + Server->URL(path) +
                                                   "\" : Page larger than 1 MiB (the \"MaxPageSize\" setting)"});
    EXPECT_EQ(ReadCache("test", "big.html"), std::nullopt);
    EXPECT_EQ(Engine().Downloads, 0);
}

TEST_F(HTTPBindingTest, CountsDownloadsInTheEngineAndReportsThem) {
    Engine().BytesDownloaded = 1000;   // from earlier requests
    Engine().Downloads = 4;
    WriteCache("test", "c.html", "from cache", 1);
    const std::string url = Server->URL("/text?body=12345");
    EXPECT_EQ(Lua("return HTTP.Get(URL .. '/text?body=12345', H)"), (std::vector<std::string>{"12345", "200"}));
    EXPECT_EQ(Lua("return HTTP.Get(URL .. '/status?code=500&body=oops', H)"), (std::vector<std::string>{"", "500"}));
    EXPECT_EQ(Lua("return HTTP.Get(URL .. '/text?body=12345', H, nil, nil, 'c.html')"),
              (std::vector<std::string>{"from cache", "0"}));
    EXPECT_EQ(Engine().BytesDownloaded, 1005);   // the cache read and the error page do not count
    EXPECT_EQ(Engine().Downloads, 5);
    EXPECT_EQ(Status, (std::vector<std::string>{"3 Downloading " + url + " ...",
                                                "3 Downloading " + Server->URL("/status?code=500&body=oops") + " ...",
                                                "3 Downloading " + url + " ..."}));
    ASSERT_FALSE(Progress.empty());
    EXPECT_EQ(Progress.back(), (std::pair<int32_t, int32_t>{-1, 2}));
}

TEST_F(HTTPBindingTest, SetAcptEncHandsCompressedPagesOverUnchanged) {
    const std::string chunk = "local p, s = HTTP.Get(URL .. '/gzip?body=plain') return p:byte(1), p:byte(2), s";
    EXPECT_EQ(Lua(chunk), (std::vector<std::string>{"112", "108", "200"}));   // "pl"
    EXPECT_EQ(Lua("HTTP.SetAcptEnc('gzip')"), std::vector<std::string>{});
    EXPECT_EQ(Lua(chunk), (std::vector<std::string>{"31", "139", "200"}));    // the gzip magic, not decoded
    const std::vector<TLoggedRequest> log = RequestLog(*Server);
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].Header("accept-encoding"), "identity");
    EXPECT_EQ(log[1].Header("accept-encoding"), "gzip");
}

TEST_F(HTTPBindingTest, CleanCacheDeletesTheScriptsFilesByAge) {
    struct Case {
        const char* Chunk;
        std::vector<std::string> Left;   // "folder/file" still there
    } cases[] = {
        {"Tvrn.CleanCache(H, 0)", {"none/a", "none/old"}},
        {"Tvrn.CleanCache(H, 2)", {"test/a", "test/sub/b", "none/a", "none/old"}},
        {"Tvrn.CleanCache(H, 2.9)", {"test/a", "test/sub/b", "none/a", "none/old"}},
        {"Tvrn.CleanCache(H, 1)", {"test/a", "none/a", "none/old"}},
        {"Tvrn.CleanCache(nil, 0)", {"test/a", "test/sub/b", "test/old"}},
        {"Tvrn.CleanCache('test', 2)", {"test/a", "test/sub/b", "test/old", "none/a"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Chunk);
        std::filesystem::remove_all(Folder.Root + "cache");
        WriteCache("test", "a", "x", 0.5);
        WriteCache("test", "sub/b", "x", 23);
        WriteCache("test", "old", "x", 24 * 3);
        WriteCache("none", "a", "x", 0.5);
        WriteCache("none", "old", "x", 24 * 3);
        EXPECT_EQ(Lua(c.Chunk), std::vector<std::string>{});
        std::vector<std::string> left;
        for (const char* file : {"test/a", "test/sub/b", "test/old", "none/a", "none/old"})
            if (std::filesystem::exists(Folder.Root + "cache/" + file)) left.push_back(file);
        EXPECT_EQ(left, c.Left);
    }
}

}  // namespace
