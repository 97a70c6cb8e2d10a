#include "desktop/usettings.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>

#include <memory>

#include "engine/uluagrabbers.h"
#include "tests/desktop/desktopfixture.h"

using namespace testing_support;

namespace {

// Three grabbers (one with a setting, one without channels of its own) and two post processors.
const char* const kScripts =
    "Grabbers.a = { Name = 'Alpha', Version = '1.0', Author = 'Ann', InfoURL = 'https://a.invalid/',\n"
    "               SourceURL = 'https://src.invalid/' }\n"
    "function Grabbers.a.Init(h) Tvrn.AddSetting(h, 'Region', 1, 'north', 'Region') end\n"
    "Grabbers.b = { Name = 'Beta', NoUserChannels = true }\n"
    "Grabbers.c = { Name = 'Gamma' }\n"
    "PostProcs.p = { Name = 'Tags', Author = 'Pat', InfoURL = 'https://p.invalid/' }\n"
    "PostProcs.q = { Name = 'Only A', Grabber = 'a' }\n"
    "function PostProcs.q.Init(h) Tvrn.AddSetting(h, 'Mode', 1, 'x', 'Mode') end\n";

const char* const kIni =
    "[Settings]\nTimeZone=+01:00\nCharSet=2\nXMLSort=CAO\n"
    "[Grabbers]\na=1\nb=0\nc=1\n[GrabberOrder]\na=1\nb=2\nc=3\n[ProcOrder]\np=1\nq=2\n";

class SettingsDialogTest : public DesktopTest {
protected:
    SettingsDialogTest() {
        Folder.Script("s.lua", kScripts);
        Folder.Ini(kIni);
        Run = std::make_unique<EngineRun>(Folder);
        Dialog.LoadFromEngine();
    }
    TLuaGrabbers& Engine() const { return *Run->Engine; }
    template <class W>
    W* Get(const char* name) const { return Find<W>(&Dialog, name); }
    void Type(const char* field, const char* text) const {
        QLineEdit* e = Get<QLineEdit>(field);
        e->clear();
        e->insert(QString::fromUtf8(text));
    }
    std::vector<std::string> Column(const char* view, int column) const {
        std::vector<std::string> texts;
        auto* v = Get<QTreeWidget>(view);
        for (int i = 0; i < v->topLevelItemCount(); ++i) texts.push_back(v->topLevelItem(i)->text(column).toStdString());
        return texts;
    }
    std::vector<std::string> SortKeys() const {
        std::vector<std::string> keys;
        auto* list = Get<QListWidget>("LBSort");
        for (int i = 0; i < list->count(); ++i) keys.push_back(list->item(i)->text().toStdString());
        return keys;
    }
    void Select(const char* view, int row) const {
        auto* v = Get<QTreeWidget>(view);
        v->clearSelection();
        if (row >= 0) v->setCurrentItem(v->topLevelItem(row));
    }
    std::string Text(const char* label) const { return Get<QLabel>(label)->text().toStdString(); }
    bool Enabled(const char* button) const { return Get<QPushButton>(button)->isEnabled(); }

    std::unique_ptr<EngineRun> Run;
    TFSettings Dialog;
};

TEST_F(SettingsDialogTest, FieldsWriteThroughToTheEngine) {
    EXPECT_EQ(Get<QComboBox>("CBTimeZone")->count(), 36);
    EXPECT_EQ(Get<QComboBox>("CBTimeZone")->currentText(), "+01:00");
    EXPECT_EQ(Get<QComboBox>("CBCharSet")->currentText(), "Windows 1252");
    EXPECT_EQ(Get<QLineEdit>("ERetries")->text(), "3");

    Type("ERetries", "5a");
    EXPECT_EQ(Engine().MaxRetries, 3);   // not a whole number: the setting stays
    EXPECT_EQ(Get<QLineEdit>("ERetries")->text(), "5a");
    Type("ERetries", "5");
    EXPECT_EQ(Engine().MaxRetries, 5);
    const struct {
        const char* field;
        const char* text;
        std::function<std::string()> value;
    } fields[] = {
        {"ERDelay", "250", [&] { return std::to_string(Engine().RetryDelay); }},
        {"EConTOut", "7000", [&] { return std::to_string(Engine().ConnectTimeout); }},
        {"EReadTOut", "8000", [&] { return std::to_string(Engine().ReadTimeout); }},
        {"EPort", "8080", [&] { return std::to_string(Engine().ProxyPort); }},
        {"EPort", "", [&] { return std::to_string(Engine().ProxyPort); }},   // keeps 8080
        {"EOutFile", "out/listings.xml", [&] { return Engine().OutFile; }},
        {"ESaveLog", "tavrin log.txt", [&] { return Engine().LogFile; }},
        {"ESMTP", "mail.invalid", [&] { return Engine().EMailServer; }},
        {"EEmailAddr", "me@mail.invalid", [&] { return Engine().EMailAddress; }},
        {"EProxy", "proxy.invalid", [&] { return Engine().Proxy; }},
        {"EUsername", "user", [&] { return Engine().ProxyUsername; }},
        {"EPassword", "pässword", [&] { return Engine().ProxyPassword; }},
    };
    const std::string expected[] = {"250", "7000", "8000", "8080", "8080", "out/listings.xml", "tavrin log.txt", "mail.invalid",
                                    "me@mail.invalid", "proxy.invalid", "user", "pässword"};
    for (size_t i = 0; i < std::size(fields); ++i) {
        Type(fields[i].field, fields[i].text);
        EXPECT_EQ(fields[i].value(), expected[i]) << fields[i].field;
    }

    const struct {
        const char* box;
        bool TLuaGrabbers::*setting;
    } boxes[] = {{"CBSort", &TLuaGrabbers::DoXMLSort}, {"CBSortRev", &TLuaGrabbers::SortRev},
                 {"CBSaveLog", &TLuaGrabbers::SaveLog}, {"CBEMailLog", &TLuaGrabbers::EMailLog},
                 {"CBAttachXML", &TLuaGrabbers::AttachXML}};
    for (const auto& b : boxes) {
        QCheckBox* box = Get<QCheckBox>(b.box);
        box->click();
        EXPECT_EQ(Engine().*b.setting, box->isChecked()) << b.box;
        box->click();
        EXPECT_EQ(Engine().*b.setting, box->isChecked()) << b.box;
    }

    Get<QComboBox>("CBCharSet")->setCurrentIndex(2);
    EXPECT_EQ(Engine().CharSet, 3);
    Get<QComboBox>("CBTimeZone")->setCurrentIndex(14);
    EXPECT_EQ(Engine().TimeZoneName, "GMT/BST");
}

TEST_F(SettingsDialogTest, UnknownZoneIsAddedAndAnUnknownCharacterSetSelectsNothing) {
    Engine().TimeZoneName = "+14:00";
    Engine().CharSet = 7;
    Dialog.LoadFromEngine();
    auto* zones = Get<QComboBox>("CBTimeZone");
    EXPECT_EQ(zones->count(), 37);
    EXPECT_EQ(zones->currentText(), "+14:00");
    EXPECT_EQ(Get<QComboBox>("CBCharSet")->currentIndex(), -1);
    EXPECT_EQ(Engine().TimeZoneName, "+14:00");
    EXPECT_EQ(Engine().CharSet, 7);
    Engine().TimeZoneName = "+02:00";
    Dialog.LoadFromEngine();
    EXPECT_EQ(zones->count(), 36);   // the added zone does not pile up
}

TEST_F(SettingsDialogTest, SortKeysShowAndMove) {
    const struct {
        const char* xmlSort;
        std::vector<std::string> shown;
        int select;
        bool up;
        std::vector<std::string> moved;
        const char* rebuilt;
    } cases[] = {
        {"CAO", {"Channel", "Start Time", "Stop Time"}, 1, true, {"Start Time", "Channel", "Stop Time"}, "ACO"},
        {"CAO", {"Channel", "Start Time", "Stop Time"}, 0, true, {"Channel", "Start Time", "Stop Time"}, "CAO"},
        {"OAC", {"Stop Time", "Start Time", "Channel"}, 0, false, {"Start Time", "Stop Time", "Channel"}, "AOC"},
        {"OAC", {"Stop Time", "Start Time", "Channel"}, 2, false, {"Stop Time", "Start Time", "Channel"}, "OAC"},
        {"CA", {"Channel", "Start Time", "Stop Time"}, 2, true, {"Channel", "Stop Time", "Start Time"}, "COA"},
        {"CXO", {"Channel", "Stop Time"}, 1, true, {"Stop Time", "Channel"}, "OC"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.xmlSort);
        Engine().XMLSort = c.xmlSort;
        Dialog.LoadFromEngine();
        EXPECT_EQ(SortKeys(), c.shown);
        Get<QListWidget>("LBSort")->setCurrentRow(c.select);
        Get<QPushButton>(c.up ? "Button2" : "Button3")->click();
        EXPECT_EQ(SortKeys(), c.moved);
        // A move that did nothing leaves XMLSort as it was.
        EXPECT_EQ(Engine().XMLSort, c.moved == c.shown ? std::string(c.xmlSort) : std::string(c.rebuilt));
    }
    Engine().XMLSort = "XYZ";   // no keys at all: the move fails
    Dialog.LoadFromEngine();
    Get<QPushButton>("Button2")->click();
    EXPECT_EQ(Messages, std::vector<std::string>{"Error changing order"});
}

TEST_F(SettingsDialogTest, ScriptRowsFollowTheEngineLists) {
    EXPECT_EQ(Column("LVGrabbers", 0), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(Column("LVGrabbers", 2), (std::vector<std::string>{"1.0", "Unknown", "Unknown"}));
    EXPECT_EQ(Column("LVProcs", 3), (std::vector<std::string>{"All", "a"}));
    auto* grabbers = Get<QTreeWidget>("LVGrabbers");
    EXPECT_EQ(grabbers->topLevelItem(1)->checkState(0), Qt::Unchecked);
    grabbers->topLevelItem(1)->setCheckState(0, Qt::Checked);
    EXPECT_TRUE(Engine().Grabbers.FindByID("b")->Enabled);
    grabbers->topLevelItem(0)->setCheckState(0, Qt::Unchecked);
    EXPECT_FALSE(Engine().Grabbers.FindByID("a")->Enabled);

    const struct {
        int select;
        const char* button;
        std::vector<std::string> order;
    } moves[] = {
        {0, "BMoveGUp", {"a", "b", "c"}},   {2, "BMoveGDown", {"a", "b", "c"}},
        {1, "BMoveGUp", {"b", "a", "c"}},   {1, "BMoveGDown", {"b", "c", "a"}},
        {-1, "BMoveGDown", {"b", "c", "a"}},
    };
    for (const auto& m : moves) {
        Select("LVGrabbers", m.select);
        const std::string selected = m.select < 0 ? "" : Column("LVGrabbers", 0)[static_cast<size_t>(m.select)];
        Get<QPushButton>(m.button)->click();
        EXPECT_EQ(Run->GrabberOrder(), m.order) << m.button << " " << m.select;
        EXPECT_EQ(Column("LVGrabbers", 0), m.order);
        const auto rows = grabbers->selectedItems();
        EXPECT_EQ(rows.isEmpty() ? "" : rows.first()->text(0).toStdString(), selected);
    }
    Select("LVProcs", 1);
    Get<QPushButton>("BMovePUp")->click();
    EXPECT_EQ(Column("LVProcs", 0), (std::vector<std::string>{"q", "p"}));
    EXPECT_EQ(Engine().PostProcessors.FirstItem()->ID, "q");
}

TEST_F(SettingsDialogTest, DetailsAndTheButtonsOfTheScriptWindows) {
    // Without the windows to open, the buttons stay disabled whatever the script offers.
    Select("LVGrabbers", 0);
    EXPECT_EQ(Text("LAuthor"), "Ann");
    EXPECT_EQ(Text("LGrabInfo"), "https://a.invalid/");
    EXPECT_EQ(Text("LDatSource"), "https://src.invalid/");
    EXPECT_FALSE(Enabled("BGSettings"));
    EXPECT_FALSE(Enabled("BGChannels"));

    std::vector<std::string> opened;
    Dialog.OnScriptSettings = [&](TLuaBase& s) { opened.push_back("settings " + s.ID); };
    Dialog.OnChannels = [&](TLuaGrabber& g) { opened.push_back("channels " + g.ID); };
    const struct {
        const char* view;
        int row;
        bool settings, channels;
    } rows[] = {
        {"LVGrabbers", 0, true, true},    // a setting, channels of its own
        {"LVGrabbers", 1, false, false},  // NoUserChannels, no settings
        {"LVGrabbers", 2, false, true},
        {"LVProcs", 0, false, false},
        {"LVProcs", 1, true, false},
    };
    for (const auto& r : rows) {
        Select(r.view, r.row);
        const bool procs = std::string(r.view) == "LVProcs";
        EXPECT_EQ(Enabled(procs ? "BPSettings" : "BGSettings"), r.settings) << r.view << r.row;
        if (!procs) {
            EXPECT_EQ(Enabled("BGChannels"), r.channels) << r.row;
        }
    }
    Get<QPushButton>("BPSettings")->click();
    Select("LVGrabbers", 0);
    Get<QPushButton>("BGChannels")->click();
    Get<QPushButton>("BGSettings")->click();
    EXPECT_EQ(opened, (std::vector<std::string>{"settings q", "channels a", "settings a"}));

    Select("LVProcs", 0);
    EXPECT_EQ(Text("LPAuthor"), "Pat");
    Get<QTabWidget>("PageControl1")->setCurrentIndex(2);
    Dialog.LoadFromEngine();   // reopening: first page, no row, details emptied
    EXPECT_EQ(Get<QTabWidget>("PageControl1")->currentIndex(), 0);
    EXPECT_TRUE(Get<QTreeWidget>("LVGrabbers")->selectedItems().isEmpty());
    for (const char* label : {"LAuthor", "LGrabInfo", "LDatSource", "LPAuthor", "LPInfo"}) EXPECT_EQ(Text(label), "");
    EXPECT_FALSE(Enabled("BGSettings"));
}

TEST_F(SettingsDialogTest, SaveDialogsOfferTheirNamesAndFilters) {
    const struct {
        const char* button;
        const char* field;
        const char* title;
        const char* name;
        QStringList filters;
    } cases[] = {
        {"BOutBrowse", "EOutFile", "Select XML Output File", "data.xml", {"XML Files (*.XML)", "All Files (*)"}},
        {"Button4", "ESaveLog", "Select Log Output File", "log.txt", {"Text Files (*.txt)", "All Files (*)"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.button);
        Type(c.field, "");
        QString seenTitle, seenName;
        QStringList seenFilters;
        bool caseSensitive = true;
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            seenTitle = dialog->windowTitle();
            seenFilters = dialog->nameFilters();
            caseSensitive = dialog->filter() & QDir::CaseSensitive;
            seenName = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->text();
            dialog->selectFile(QString::fromStdString(Folder.Root) + "chosen");
            QMetaObject::invokeMethod(dialog, "accept");
        });
        Get<QPushButton>(c.button)->click();
        EXPECT_EQ(seenTitle, c.title);
        EXPECT_EQ(seenFilters, c.filters);
        EXPECT_FALSE(caseSensitive);   // "*.XML" matches "data.xml" as well
        EXPECT_EQ(seenName, c.name);
        const std::string chosen = Get<QLineEdit>(c.field)->text().toStdString();
        EXPECT_EQ(chosen, Folder.Root + "chosen." + (std::string(c.name).substr(std::string(c.name).size() - 3)));
        EXPECT_EQ(std::string(c.field) == "EOutFile" ? Engine().OutFile : Engine().LogFile, chosen);
    }
}

}  // namespace
