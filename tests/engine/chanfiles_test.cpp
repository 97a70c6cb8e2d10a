#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/uluagrabbers.h"
#include "tests/engine/programfolder.h"

using namespace testing_support;

namespace {

std::vector<std::string> Ids(const TChanList& list) {
    std::vector<std::string> ids;
    for (const TChannel& c : list) ids.push_back(c.ID);
    return ids;
}

// Channels added as a script would, each case written, loaded again and compared field by field.
TEST(ChannelCacheTest, LayoutAndRoundTrip) {
    struct Case {
        const char* name;
        const char* channel;   // a Lua channel table
        const char* text;      // the channel's part of the file
    } cases[] = {
        {"name only", "{ID='c',Name='Chan'}", "\tTvrn.AddChannel(Grabber,{\r\n\t\tID=\"c\",\r\n\t\tName=\"Chan\",\r\n\t\t})\r\n"},
        {"everything once", "{ID='c',XML_ID='c.x',Name={Value='N',Lang='en'},Icon={Source='i.png',Width=16,Height=12},URL='u'}",
         "\tTvrn.AddChannel(Grabber,{\r\n\t\tID=\"c\",\r\n\t\tXML_ID=\"c.x\",\r\n\t\tName={Value=\"N\",Lang=\"en\"},\r\n"
         "\t\tIcon={Source=\"i.png\",Width=16,Height=12},\r\n\t\tURL=\"u\"\r\n\t\t})\r\n"},
        {"several of each", "{ID='c',Name={'A',{Value='B',Lang='de'}},Icon={{Source='a',Height=5},{Source='b',Width=7}},URL={'u1','u2'}}",
         "\tTvrn.AddChannel(Grabber,{\r\n\t\tID=\"c\",\r\n\t\tName={\r\n\"A\",\r\n{Value=\"B\",Lang=\"de\"},\r\n\t\t},\r\n"
         "\t\tIcon={\r\n{Source=\"a\",Height=5},\r\n{Source=\"b\",Width=7},\r\n\t\t},\r\n"
         "\t\tURL={\r\n\t\t\"u1\",\t\t\"u2\",\r\n\t\t},\r\n\t\t})\r\n"},
        {"quotes, backslashes and control bytes",
         "{ID='q\"1',Name='a\\\\b\\nc\\r\\1\\0012'}",
         "\tTvrn.AddChannel(Grabber,{\r\n\t\tID=\"q\\\"1\",\r\n\t\tName=\"a\\\\b\\nc\\r\\001\\0012\",\r\n\t\t})\r\n"},
    };
    for (const Case& c : cases) {
        ProgramFolder folder;
        folder.Script("g.lua", std::string("Grabbers.g = { RefreshChannels = function(h) Tvrn.ClearChannels(h) "
                                           "Tvrn.AddChannel(h, ") + c.channel + ") end }");
        EngineRun run(folder);
        TLuaGrabber* g = run.Grabber("g");
        g->RefreshChannelList();
        const std::string file = ReadFile(folder.Root + "settings/g/channels.lua");
        EXPECT_EQ(file, std::string("function Grabbers.g.GetChans(Grabber)\r\n") + c.text + "end\r\n") << c.name;

        // Loaded again, the channel is the same; written again, the file is the same.
        g->LoadChannelCache();
        ASSERT_EQ(g->AvailableChannels->Count(), 1) << c.name;
        EXPECT_EQ(ChannelCacheText("g", *g->AvailableChannels), file) << c.name;
        EXPECT_EQ(run.Lines, std::vector<std::string>{}) << c.name;
    }
}

// IDs that are no Lua names are written so that the file loads.
TEST(ChannelCacheTest, AnyIDLoadsAgain) {
    for (const char* id : {"my-grabber", "end", "7days", "tv.guide"}) {
        ProgramFolder folder;
        folder.Script("g.lua", std::string("Grabbers['") + id +
                                   "'] = { RefreshChannels = function(h) Tvrn.AddChannel(h, {ID = 'c'}) end }");
        EngineRun run(folder);
        TLuaGrabber* g = run.Grabber(id);
        g->RefreshChannelList();
        g->LoadChannelCache();
        EXPECT_EQ(Ids(*g->AvailableChannels), std::vector<std::string>{"c"}) << id;
        EXPECT_EQ(run.Lines, std::vector<std::string>{}) << id;
    }
}

// A cache that does not load leaves the user's selection file as it is, through a run and the end.
TEST(ChannelCacheTest, LoadFailures) {
    const std::string kept = "Channels of grabber g could not be loaded; its channel selection is left as it is";
    struct Case {
        const char* name;
        const char* cache;
        std::vector<std::string> lines;   // without Lua's own message about the file
        int channels;
    } cases[] = {
        {"raising GetChans", "function Grabbers.g.GetChans(G) Tvrn.AddChannel(G,{ID='a'}) error('broken',0) end",
         {"Error getting channels: 1", "broken", kept}, 1},
        {"not Lua", "function Grabbers.g.GetChans(", {kept}, 0},
        {"cut short", "function Grabbers.g.GetChans(G)\r\n\tTvrn.AddChannel(G,{ID=\"a\"})\r\n\tTvrn.AddCh", {kept}, 0},
    };
    for (const Case& c : cases) {
        ProgramFolder folder;
        folder.Ini("[Grabbers]\r\ng=1\r\n");
        folder.Script("g.lua", "Grabbers.g = { Passes = { Pass1 = { Type = 5 } } }");
        WriteFile(folder.Root + "settings/g/channels.lua", c.cache);
        WriteFile(folder.Root + "settings/g/userchannels.txt", "a\r\nb\r\n");
        EngineRun run(folder);
        const TLuaGrabber* g = run.Grabber("g");
        EXPECT_EQ(g->AvailableChannels->Count(), c.channels) << c.name;
        EXPECT_EQ(g->SelectedChannels->Count(), 0) << c.name;
        std::vector<std::string> lines = run.Lines;
        std::erase_if(lines, [](const std::string& l) { return l.find("channels.lua:") != std::string::npos; });
        EXPECT_EQ(lines, c.lines) << c.name;
        EXPECT_EQ(run.Engine->Grab(), 0) << c.name;
        run.Destroy();
        EXPECT_EQ(ReadFile(folder.Root + "settings/g/userchannels.txt"), "a\r\nb\r\n") << c.name;
    }
}

// A refresh after such a failure matches the stored selection against the fresh channels.
TEST(ChannelCacheTest, RefreshAfterALoadFailureRestoresTheSelection) {
    ProgramFolder folder;
    folder.Script("g.lua", "Grabbers.g = { RefreshChannels = function(h) Tvrn.ClearChannels(h) "
                           "for _, id in ipairs({'a', 'b', 'c'}) do Tvrn.AddChannel(h, {ID = id}) end end }");
    WriteFile(folder.Root + "settings/g/channels.lua", "function Grabbers.g.GetChans(");
    WriteFile(folder.Root + "settings/g/userchannels.txt", "c\r\na\r\n");
    EngineRun run(folder);
    TLuaGrabber* g = run.Grabber("g");
    g->RefreshChannelList();
    EXPECT_EQ(Ids(*g->SelectedChannels), (std::vector<std::string>{"c", "a"}));
    EXPECT_EQ(Ids(*g->AvailableChannels), std::vector<std::string>{"b"});
}

const char* const kThreeChannels =
    "function Grabbers.g.GetChans(G)\r\n"
    "\tTvrn.AddChannel(G,{ID=\"b\"})\r\n\tTvrn.AddChannel(G,{ID=\"a\"})\r\n\tTvrn.AddChannel(G,{ID=\"c\"})\r\nend\r\n";

TEST(UserChannelsTest, Selection) {
    struct Case {
        const char* name;
        const char* file;
        std::vector<std::string> selected;
        std::vector<std::string> available;
        std::vector<std::string> lines;
    } cases[] = {
        {"in the user's order", "c\r\na\r\n", {"c", "a"}, {"b"}, {}},
        {"listed twice", "a\r\nb\r\na\r\n", {"a", "b"}, {"c"}, {"Channel id \"a\" not found"}},
        {"unknown and case", "A\nx\nb", {"b"}, {"a", "c"}, {"Channel id \"A\" not found", "Channel id \"x\" not found"}},
        {"empty file", "", {}, {"a", "b", "c"}, {}},
    };
    for (const Case& c : cases) {
        ProgramFolder folder;
        folder.Script("g.lua", "Grabbers.g = {}");
        WriteFile(folder.Root + "settings/g/channels.lua", kThreeChannels);
        WriteFile(folder.Root + "settings/g/userchannels.txt", c.file);
        EngineRun run(folder);
        const TLuaGrabber* g = run.Grabber("g");
        EXPECT_EQ(Ids(*g->SelectedChannels), c.selected) << c.name;
        EXPECT_EQ(Ids(*g->AvailableChannels), c.available) << c.name;
        EXPECT_EQ(run.Lines, c.lines) << c.name;
        // The selection is written back as it stands when the grabber goes.
        run.Destroy();
        std::string expected;
        for (const std::string& id : c.selected) expected += id + "\r\n";
        EXPECT_EQ(ReadFile(folder.Root + "settings/g/userchannels.txt"), expected) << c.name;
    }
}

TEST(UserChannelsTest, DefaultFolderFallback) {
    struct Case {
        const char* settingsDir;
        bool ownFiles;   // the other folder has files of its own
        std::vector<std::string> selected;
    } cases[] = {
        {"other", false, {"c"}},      // read from settings/
        {"other", true, {"b"}},       // its own files win
        {"settings", false, {"c"}},   // the default folder itself
    };
    for (const Case& c : cases) {
        ProgramFolder folder;
        folder.Script("g.lua", "Grabbers.g = {}");
        WriteFile(folder.Root + "settings/g/channels.lua", kThreeChannels);
        WriteFile(folder.Root + "settings/g/userchannels.txt", "c\r\n");
        std::filesystem::create_directories(folder.Root + c.settingsDir);
        if (c.ownFiles) {
            WriteFile(folder.Root + c.settingsDir + "/g/channels.lua", kThreeChannels);
            WriteFile(folder.Root + c.settingsDir + "/g/userchannels.txt", "b\r\n");
        }
        EngineRun run(folder, c.settingsDir);
        TLuaGrabber* g = run.Grabber("g");
        EXPECT_EQ(Ids(*g->SelectedChannels), c.selected) << c.settingsDir;
        g->SelectedChannels->TakeCurrentFrom(*g->AvailableChannels);   // the current one: any
        const std::vector<std::string> saved = Ids(*g->SelectedChannels);
        g->SaveUserChannels();
        std::string expected;
        for (const std::string& id : saved) expected += id + "\r\n";
        EXPECT_EQ(ReadFile(folder.Root + c.settingsDir + "/g/userchannels.txt"), expected) << c.settingsDir;
        if (std::string(c.settingsDir) != "settings") {
            EXPECT_EQ(ReadFile(folder.Root + "settings/g/userchannels.txt"), "c\r\n");
        }
        SettingsDir = "settings";
    }
}

TEST(RefreshChannelsTest, KeepsTheSelectionThatStillExists) {
    struct Case {
        const char* name;
        const char* refresh;   // body of RefreshChannels
        std::vector<std::string> selected;
        std::vector<std::string> available;
        std::vector<std::string> lines;
    } cases[] = {
        {"one lost", "Tvrn.ClearChannels(h) Tvrn.AddChannel(h,{ID='a'}) Tvrn.AddChannel(h,{ID='c'}) "
                     "Tvrn.AddChannel(h,{ID='d'})",
         {"c", "a"}, {"d"}, {"Channel Bee no longer exists"}},
        {"failing refresh re-matches what is there", "Tvrn.ClearChannels(h) Tvrn.AddChannel(h,{ID='a'}) error('offline',0)",
         {"a"}, {}, {"Error refreshing channels", "offline", "Channel c no longer exists", "Channel Bee no longer exists"}},
    };
    for (const Case& c : cases) {
        ProgramFolder folder;
        folder.Script("g.lua", std::string("Grabbers.g = { RefreshChannels = function(h) ") + c.refresh + " end }");
        WriteFile(folder.Root + "settings/g/channels.lua",
                  "function Grabbers.g.GetChans(G) Tvrn.AddChannel(G,{ID='a'}) Tvrn.AddChannel(G,{ID='b',Name='Bee'}) "
                  "Tvrn.AddChannel(G,{ID='c'}) end");
        WriteFile(folder.Root + "settings/g/userchannels.txt", "c\r\nb\r\na\r\n");
        EngineRun run(folder);
        TLuaGrabber* g = run.Grabber("g");
        g->RefreshChannelList();
        EXPECT_EQ(Ids(*g->SelectedChannels), c.selected) << c.name;
        EXPECT_EQ(Ids(*g->AvailableChannels), c.available) << c.name;
        EXPECT_EQ(run.Lines, c.lines) << c.name;
        // The cache holds what the refresh found, selected or not.
        g->LoadChannelCache();
        std::vector<std::string> all = c.selected;
        all.insert(all.end(), c.available.begin(), c.available.end());
        std::sort(all.begin(), all.end());
        EXPECT_EQ(Ids(*g->AvailableChannels), all) << c.name;
    }
}

TEST(ChannelFilesTest, WriteFailureIsRaised) {
    ProgramFolder folder;
    folder.Script("g.lua", "Grabbers.g = {}");
    EngineRun run(folder);
    WriteFile(folder.Root + "settings/g", "a file where the folder belongs");
    EXPECT_THROW(run.Grabber("g")->SaveUserChannels(), std::runtime_error);
    EXPECT_THROW(run.Grabber("g")->SaveChannelCache(), std::runtime_error);
}

}  // namespace
