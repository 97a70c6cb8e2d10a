#include "desktop/uselchans.h"

#include <gtest/gtest.h>

#include <QListWidget>
#include <QPushButton>

#include <memory>

#include "engine/uluagrabbers.h"
#include "tests/desktop/desktopfixture.h"

using namespace testing_support;

namespace {

// Five offered channels: two of one name, one without a name; "r" can refresh its list.
const char* const kScripts =
    "Grabbers.g = { Name = 'G' }\n"
    "Grabbers.r = { Name = 'R' }\n"
    "refreshes = 0\n"
    "function Grabbers.r.RefreshChannels(h)\n"
    "  refreshes = refreshes + 1\n"
    "  print('refreshing')\n"
    "  Tvrn.ClearChannels(h)\n"
    "  Tvrn.AddChannel(h, {ID = 'n1', Name = 'New one'})\n"
    "  Tvrn.AddChannel(h, {ID = 'c2', Name = 'Kept'})\n"
    "end\n";
const char* const kCache =
    "function Grabbers.%s.GetChans(h)\n"
    "  Tvrn.AddChannel(h, {ID = 'c1', Name = 'Beta'})\n"
    "  Tvrn.AddChannel(h, {ID = 'c2', Name = 'alpha'})\n"
    "  Tvrn.AddChannel(h, {ID = 'c3', Name = 'Beta'})\n"
    "  Tvrn.AddChannel(h, {ID = 'c4', Name = 'Delta'})\n"
    "  Tvrn.AddChannel(h, {ID = 'c5'})\n"
    "end\n";

using Texts = std::vector<std::string>;

class ChannelDialogTest : public DesktopTest {
protected:
    ChannelDialogTest() {
        Folder.Script("g.lua", kScripts);
        for (const char* id : {"g", "r"}) {
            char cache[512];
            std::snprintf(cache, sizeof cache, kCache, id);
            WriteFile(Folder.Root + "settings/" + id + "/channels.lua", cache);
        }
        Run = std::make_unique<EngineRun>(Folder);
        Dialog.Load(G());
    }
    TLuaGrabber& G() const { return *Run->Grabber("g"); }
    QListWidget* List(const char* name) const { return Find<QListWidget>(&Dialog, name); }
    void Mark(const char* list, std::initializer_list<int> lines) const {
        QListWidget* l = List(list);
        l->clearSelection();
        for (int i : lines) l->item(i)->setSelected(true);
    }
    Texts Lines(const char* list) const {
        Texts texts;
        for (int i = 0; i < List(list)->count(); ++i) texts.push_back(List(list)->item(i)->text().toStdString());
        return texts;
    }
    static Texts IDs(const TChanList& channels) {
        Texts ids;
        for (const TChannel& c : channels) ids.push_back(c.ID);
        return ids;
    }

    std::unique_ptr<EngineRun> Run;
    TFChanSel Dialog;
};

TEST_F(ChannelDialogTest, MovesKeepTheListBoxesAndTheGrabbersListsAlike) {
    EXPECT_EQ(Lines("LBAv"), (Texts{"alpha", "Beta", "Beta", "c5", "Delta"}));
    const struct {
        const char* what;
        void (TFChanSel::*click)();
        const char* list;
        std::initializer_list<int> marks;
        Texts available, selected, availableIDs, selectedIDs;
    } steps[] = {
        {"the second Beta line moves the first Beta in ID order", &TFChanSel::BAddClick, "LBAv", {2},
         {"alpha", "Beta", "c5", "Delta"}, {"Beta"}, {"c2", "c3", "c4", "c5"}, {"c1"}},
        {"then the other one", &TFChanSel::BAddClick, "LBAv", {1},
         {"alpha", "c5", "Delta"}, {"Beta", "Beta"}, {"c2", "c4", "c5"}, {"c1", "c3"}},
        {"marked lines move together, the others are passed over", &TFChanSel::BAddClick, "LBAv", {0, 2},
         {"c5"}, {"Beta", "Beta", "alpha", "Delta"}, {"c5"}, {"c1", "c3", "c2", "c4"}},
        {"the last one", &TFChanSel::BAddClick, "LBAv", {0},
         {}, {"Beta", "Beta", "alpha", "Delta", "c5"}, {}, {"c1", "c3", "c2", "c4", "c5"}},
        {"a block of lines 2 and 3 goes up", &TFChanSel::BUpClick, "LBSel", {1, 2},
         {}, {"Beta", "alpha", "Beta", "Delta", "c5"}, {}, {"c3", "c2", "c1", "c4", "c5"}},
        {"and stops at the top", &TFChanSel::BUpClick, "LBSel", {0, 1},
         {}, {"Beta", "alpha", "Beta", "Delta", "c5"}, {}, {"c3", "c2", "c1", "c4", "c5"}},
        {"down, the last line marked: nothing", &TFChanSel::BDownClick, "LBSel", {1, 4},
         {}, {"Beta", "alpha", "Beta", "Delta", "c5"}, {}, {"c3", "c2", "c1", "c4", "c5"}},
        {"down", &TFChanSel::BDownClick, "LBSel", {0, 3},
         {}, {"alpha", "Beta", "Beta", "c5", "Delta"}, {}, {"c2", "c3", "c1", "c5", "c4"}},
        {"a selected line is its own channel, also beside a namesake", &TFChanSel::BRemClick, "LBSel", {2},
         {"Beta"}, {"alpha", "Beta", "c5", "Delta"}, {"c1"}, {"c2", "c3", "c5", "c4"}},
        {"all back: ID order and text order", &TFChanSel::BRemClick, "LBSel", {0, 1, 2, 3},
         {"alpha", "Beta", "Beta", "c5", "Delta"}, {}, {"c1", "c2", "c3", "c4", "c5"}, {}},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.what);
        Mark(s.list, s.marks);
        (Dialog.*s.click)();
        EXPECT_EQ(Lines("LBAv"), s.available);
        EXPECT_EQ(Lines("LBSel"), s.selected);
        EXPECT_EQ(IDs(*G().AvailableChannels), s.availableIDs);
        EXPECT_EQ(IDs(*G().SelectedChannels), s.selectedIDs);
    }
    EXPECT_TRUE(Messages.empty());

    // An empty selection has no line to move.
    Dialog.BUpClick();
    EXPECT_EQ(Messages, Texts{"Error moving channel"});
}

TEST_F(ChannelDialogTest, ALineWithoutItsChannelMovesNothing) {
    // The channel goes behind the dialog's back: its line stays, nothing moves.
    G().AvailableChannels->FindID("c4");
    G().AvailableChannels->DeleteCurrent();
    Mark("LBAv", {0, 4});
    Dialog.BAddClick();
    EXPECT_EQ(Lines("LBAv"), (Texts{"Beta", "Beta", "c5", "Delta"}));
    EXPECT_EQ(IDs(*G().SelectedChannels), Texts{"c2"});
    EXPECT_TRUE(Messages.empty());
}

TEST_F(ChannelDialogTest, RefreshAsksTheScriptAndKeepsTheSelection) {
    auto* refresh = Find<QPushButton>(&Dialog, "BRefChans");
    EXPECT_FALSE(refresh->isEnabled());   // "g" has no RefreshChannels

    TLuaGrabber& r = *Run->Grabber("r");
    Dialog.Load(r);
    EXPECT_TRUE(refresh->isEnabled());
    Mark("LBAv", {0, 1});   // alpha (c2) and the first Beta (c1)
    Dialog.BAddClick();
    // While the script runs, a second click and a close request wait for it.
    Dialog.show();
    const TLogEvent log = Run->Engine->OnLog;
    int nested = 0;
    Run->Engine->OnLog = [&](const std::string& line) {
        log(line);
        ++nested;
        EXPECT_FALSE(refresh->isEnabled());
        Dialog.BRefChansClick();
        Dialog.close();
    };
    refresh->click();
    Run->Engine->OnLog = log;
    EXPECT_GT(nested, 0);
    EXPECT_TRUE(Dialog.isVisible());
    lua_getglobal(Run->Engine->LuaState(), "refreshes");
    EXPECT_EQ(lua_tointeger(Run->Engine->LuaState(), -1), 1);
    lua_pop(Run->Engine->LuaState(), 1);
    EXPECT_TRUE(refresh->isEnabled());
    EXPECT_EQ(Lines("LBAv"), Texts{"New one"});
    EXPECT_EQ(Lines("LBSel"), Texts{"Kept"});
    EXPECT_TRUE(Run->Logged("Channel Beta no longer exists"));

    // The channel cache cannot be written: the message, and the button back.
    fs::remove(Folder.Root + "settings/r/channels.lua");
    fs::create_directories(Folder.Root + "settings/r/channels.lua");
    refresh->click();
    ASSERT_EQ(Messages.size(), 1u);
    EXPECT_EQ(Messages[0].rfind("Error refreshing channels: ", 0), 0u) << Messages[0];
    EXPECT_TRUE(refresh->isEnabled());
}

}  // namespace
