#include "scriptapi/scripthost.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "scriptapi/scriptrecords.h"
#include "scriptapi/uluafuncs.h"

namespace {

// A host without an engine: the script API needs nothing more than this interface.
class TTestHost : public TScriptHost {
public:
    TTestHost() {
        Grabber.ID = "g";
        Grabber.Encoding = 3;
    }
    TLuaBase* FindScript(const void* handle) const override {
        return handle == &Grabber ? const_cast<TLuaGrabber*>(&Grabber) : nullptr;
    }
    TLuaGrabber* FindGrabber(const std::string& id) const override {
        return id == Grabber.ID ? const_cast<TLuaGrabber*>(&Grabber) : nullptr;
    }
    void Log(const std::string& text, bool debugOnly) override { Events.push_back((debugOnly ? "debug " : "log ") + text); }
    void LogRaw(const std::string& line) override { Events.push_back("raw " + line); }
    void DoStatus(int32_t line, const std::string& text) override {
        Events.push_back("status " + std::to_string(line) + " " + text);
    }
    void DoProgress(int32_t bar, int32_t value, int32_t mode) override {
        Events.push_back("progress " + std::to_string(bar) + " " + std::to_string(value) + " " + std::to_string(mode));
    }
    std::string ReadSetting(const std::string& section, const std::string& key,
                            const std::string& defaultValue) const override {
        const auto found = Settings.find(section + "/" + key);
        return found == Settings.end() ? defaultValue : found->second;
    }
    std::optional<SYSTEMTIME> StartLimit() const override { return Limit; }
    TPageResult FetchPage(const TPageRequest& request, const std::string* postVars) override {
        return {(postVars ? "post " : "get ") + request.URL + " " + request.ScriptID.value_or("none"), 200};
    }
    void SetAcceptEncoding(const std::string& encoding) override { Events.push_back("encoding " + encoding); }
    void CleanCache(const std::optional<std::string>& scriptID, int32_t maxDays) override {
        Events.push_back("clean " + scriptID.value_or("none") + " " + std::to_string(maxDays));
    }

    TLuaGrabber Grabber;
    std::map<std::string, std::string> Settings{{"Grab_g/Key", "stored"}};
    std::optional<SYSTEMTIME> Limit;
    std::vector<std::string> Events;
};

TEST(ScriptHost, TheAPIReachesItsHostOnlyThroughTheInterface) {
    TTestHost host;
    host.Limit = SYSTEMTIME{2024, 6, 0, 1, 12, 0, 0, 0};
    lua_State* L = luaL_newstate();
    luaL_openlibs(L);
    RegisterScriptAPI(L, host);
    EXPECT_EQ(FindScriptHost(L), &host);
    lua_pushlightuserdata(L, static_cast<TLuaBase*>(&host.Grabber));
    lua_setglobal(L, "H");
    const char* chunk =
        "print('hello')\n"
        "Tvrn.SetStatus(2, 'status text')\n"
        "Tvrn.SetProgress(1, 5, 2)\n"
        "print(Tvrn.GetSetting(H, 'Key') .. ' ' .. Tvrn.GetSetting(H, 'Other', 'default'))\n"
        "print(tostring(Tvrn.GetGrabber('g') == H))\n"
        "print(HTTP.Get('http://a/', H) .. ', ' .. Tvrn.Post('http://b/', 'x=1'))\n"
        "HTTP.SetAcptEnc('gzip')\n"
        "Tvrn.CleanCache(H, 3)\n"
        "Tvrn.AddProgram(H, {ID='in', Start={Year=2024, Month=6, Day=1, Hour=12, Second=30}})\n"
        "Tvrn.AddProgram(H, {ID='late', Start={Year=2024, Month=6, Day=1, Hour=12, Minute=1}})\n";
    ASSERT_EQ(luaL_dostring(L, chunk), 0) << lua_tostring(L, -1);
    EXPECT_EQ(host.Events, (std::vector<std::string>{
                               "log hello",
                               "status 2 status text",
                               "progress 1 5 2",
                               "log stored default",
                               "log true",
                               "log get http://a/ g, post http://b/ none",
                               "encoding gzip",
                               "clean g 3",
                           }));
    ASSERT_EQ(host.Grabber.Programs->Count(), 1);   // the day limit ignores seconds
    EXPECT_EQ(host.Grabber.Programs->FirstItem()->ID, "in");
    EXPECT_EQ(host.Grabber.Programs->FirstItem()->Encoding, 3);
    lua_close(L);
}

}  // namespace
