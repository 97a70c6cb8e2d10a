#include "desktop/ugrabsettings.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QTimer>

#include <memory>

#include "desktop/udirdlg.h"
#include "desktop/ufileconts.h"
#include "desktop/ukeyedlists.h"
#include "engine/uluagrabbers.h"
#include "tests/desktop/desktopfixture.h"

using namespace testing_support;

namespace {

using Texts = std::vector<std::string>;

// Runs f on the modal dialog the next event loop shows.
template <class F>
void OnModal(F f) {
    QTimer::singleShot(0, [f] {
        QWidget* modal = QApplication::activeModalWidget();
        ASSERT_NE(modal, nullptr);
        f(modal);
    });
}

TEST(StrToBoolTest, NumbersAndTruthWords) {
    const struct {
        const char* text;
        bool value;
    } good[] = {{"1", true}, {"0", false}, {"-2", true}, {"0.0", false}, {"TRUE", true}, {"false", false}, {"tRuE", true}};
    for (const auto& g : good) EXPECT_EQ(StrToBool(g.text), g.value) << g.text;
    for (const char* bad : {"", "yes", " 1", "1x", "truex"}) {
        try {
            StrToBool(bad);
            ADD_FAILURE() << bad;
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(std::string(e.what()), "'" + std::string(bad) + "' is not a valid boolean value");
        }
    }
}

TEST(KeyedCheckListBoxTest, SetChoicesAndCheckedKeys) {
    const struct {
        const char* choices;
        const char* stored;
        Texts items;   // key=caption, "+" in front when checked
        const char* checkedKeys;
    } cases[] = {
        {"a|1;b|2;c|3", "1;3;", {"+1=a", "2=b", "+3=c"}, "1;3;"},
        {"News|nws;Sport|spt", "SPT", {"nws=News", "+spt=Sport"}, "spt;"},   // case ignored, own key back
        {"x;y", "x;y", {"+x=x", "+y=y"}, "x;y;"},
        {"a|1;x|", "", {"1=a"}, ""},          // a caption without its key adds nothing
        {"a|1;x|;", ";", {"1=a", "=x"}, ""},  // ... but with ";" an item with an empty key
    };
    TKeyedCheckListBox box;
    for (const auto& c : cases) {
        box.SetChoices(QString::fromUtf8(c.choices), QString::fromUtf8(c.stored));
        Texts items;
        for (int i = 0; i < box.count(); ++i)
            items.push_back((box.item(i)->checkState() == Qt::Checked ? "+" : "") + box.ItemText(i).toStdString());
        EXPECT_EQ(items, c.items) << c.choices;
        EXPECT_EQ(box.item(0)->text().toStdString(), c.items[0].substr(c.items[0].find('=') + 1));   // the caption only
        EXPECT_EQ(box.GetCheckedKeys().toStdString(), c.checkedKeys) << c.choices;
    }
}

// One setting of every type, a type without an editor and a key declared twice.
const char* const kScript =
    "Grabbers.g = { Name = 'Gee' }\n"
    "function Grabbers.g.Init(h)\n"
    "  Tvrn.AddSetting(h, 'Count', 1, '7', 'first caption')\n"
    "  Tvrn.AddSetting(h, 'Title', 2, 'plain', 'Title')\n"
    "  Tvrn.AddSetting(h, 'Secret', 3, '', 'Secret')\n"
    "  Tvrn.AddSetting(h, 'Flag', 4, 'True', 'Flag')\n"
    "  Tvrn.AddSetting(h, 'Files', 5, '', 'Files')\n"
    "  Tvrn.AddSetting(h, 'Dir', 6, '', 'Folder')\n"
    "  Tvrn.AddSetting(h, 'Pick', 7, 'a', 'Pick', 'a|1;b|2;c|3')\n"
    "  Tvrn.AddSetting(h, 'Odd', 9, 'x', 'Odd one')\n"
    "  Tvrn.AddSetting(h, 'Count', 1, '7', 'Count')\n"
    "end\n"
    "function Grabbers.g.OnShowSettings(h) print('showing') end\n"
    "PostProcs.p = { Name = 'Pee' }\n"
    "function PostProcs.p.Init(h) Tvrn.AddSetting(h, 'Ok', 2, '', 'Ok') Tvrn.AddSetting(h, 'Bad', 4, 'maybe', 'Bad') end\n";

class ScriptSettingsTest : public DesktopTest {
protected:
    ScriptSettingsTest() {
        Folder.Script("g.lua", kScript);
        Folder.Ini("[Grab_g]\nCount=12\nSecret=pw\nFlag=0\nPick=1;3;\nDir=" + Folder.Root + "\n");
        Run = std::make_unique<EngineRun>(Folder);
    }
    std::string Stored(const char* section, const char* key) const {
        return Run->Engine->IniFile->ReadString(section, key, "(none)");
    }
    std::unique_ptr<EngineRun> Run;
    TFGrabSettings Dialog;
};

TEST_F(ScriptSettingsTest, ControlsStackUnderTheirCaptionsAndWriteBackOnClose) {
    TLuaGrabber& g = *Run->Grabber("g");
    OnModal([&](QWidget* modal) {
        EXPECT_EQ(modal, &Dialog);
        EXPECT_EQ(Dialog.windowTitle(), "Grabber Settings: Gee");
        const int width = Dialog.width() - 100;
        int top = 10;
        for (const TSetting& s : *g.Settings) {
            SCOPED_TRACE(s.Key);
            auto* label = static_cast<QLabel*>(s.LabelControl);
            auto* control = static_cast<QWidget*>(s.Control);
            ASSERT_NE(label, nullptr);
            EXPECT_EQ(label->geometry().topLeft(), QPoint(5, top));
            EXPECT_EQ(label->text().toStdString(), s.Name);
            top = label->geometry().bottom() + 1 + 10;
            if (s.Type == 9) {
                EXPECT_EQ(control, nullptr);
                continue;
            }
            ASSERT_NE(control, nullptr);
            EXPECT_EQ(control->geometry(), QRect(5, label->geometry().bottom() + 1 + 5, width, control->sizeHint().height()));
            top = control->geometry().bottom() + 1 + 10;
            if (auto* edit = dynamic_cast<TFDEdit*>(control)) {
                const QRect b = edit->Button()->geometry();
                EXPECT_EQ(b.left(), 5 + width + 3);
                EXPECT_TRUE(edit->Button()->isVisible());
            }
        }
        // What is stored, or the default: the first declaration's place, the second's caption.
        EXPECT_EQ(static_cast<QSpinBox*>(g.Settings->Items(1)->Control)->value(), 12);
        EXPECT_EQ(static_cast<QLabel*>(g.Settings->Items(1)->LabelControl)->text(), "Count");
        EXPECT_EQ(static_cast<QLineEdit*>(g.Settings->Items(2)->Control)->text(), "plain");
        EXPECT_EQ(static_cast<QLineEdit*>(g.Settings->Items(3)->Control)->echoMode(), QLineEdit::Password);
        EXPECT_FALSE(static_cast<QCheckBox*>(g.Settings->Items(4)->Control)->isChecked());
        auto* pick = static_cast<TKeyedCheckListBox*>(g.Settings->Items(7)->Control);
        EXPECT_EQ(pick->GetCheckedKeys(), "1;3;");

        static_cast<QSpinBox*>(g.Settings->Items(1)->Control)->findChild<QLineEdit*>()->setText("-");   // a sign alone is 0
        static_cast<QLineEdit*>(g.Settings->Items(2)->Control)->setText("changed");
        static_cast<QCheckBox*>(g.Settings->Items(4)->Control)->setChecked(true);
        static_cast<QLineEdit*>(g.Settings->Items(5)->Control)->setText("/data/a.txt;");
        pick->item(0)->setCheckState(Qt::Unchecked);
        pick->item(1)->setCheckState(Qt::Checked);
        Dialog.close();   // the close button stores as OK does
    });
    Dialog.EditSettings(g);
    EXPECT_TRUE(Run->Logged("showing"));
    const struct {
        const char* key;
        const char* value;
    } stored[] = {{"Count", "0"}, {"Title", "changed"}, {"Secret", "pw"}, {"Flag", "1"}, {"Files", "/data/a.txt;"},
                  {"Pick", "2;3;"}, {"Odd", "(none)"}};
    for (const auto& s : stored) EXPECT_EQ(Stored("Grab_g", s.key), s.value) << s.key;
    EXPECT_EQ(Stored("Grab_g", "Dir"), Folder.Root);
    // The controls are gone with the showing.
    EXPECT_TRUE(Dialog.ScrollBox()->widget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly).isEmpty());
    for (const TSetting& s : *g.Settings) EXPECT_EQ(s.Control, nullptr);
}

TEST_F(ScriptSettingsTest, AYesNoDefaultThatIsNoTruthTextStopsBeforeTheDialogShows) {
    TLuaBase& p = *Run->Engine->PostProcessors.FirstItem();
    try {
        Dialog.EditSettings(p);
        ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), "'maybe' is not a valid boolean value");
    }
    EXPECT_EQ(Dialog.windowTitle(), "Processor Settings: Pee");
    EXPECT_FALSE(Run->Engine->IniFile->SectionExists("Proc_p"));
    EXPECT_TRUE(Dialog.ScrollBox()->widget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly).isEmpty());
}

TEST(FDEditTest, TheButtonFollowsTheField) {
    QWidget parent, other;
    auto* edit = new TDirEdit(&parent);   // freed by its parent
    QPushButton* button = edit->Button();
    parent.show();
    EXPECT_TRUE(button->isVisible());
    button->resize(60, 24);
    edit->setGeometry(100, 50, 120, 21);
    // (21 - 24) / 2 truncates to -1.
    const struct {
        TButtonPosition position;
        QPoint at;
    } places[] = {{bpAbove, {100, 23}}, {bpBelow, {100, 74}}, {bpLeft, {37, 49}}, {bpRight, {223, 49}}};
    for (const auto& p : places) {
        edit->SetButtonPosition(p.position);
        EXPECT_EQ(button->pos(), p.at) << p.position;
    }
    edit->move(10, 10);
    EXPECT_EQ(button->pos(), QPoint(133, 9));
    EXPECT_EQ(button->parentWidget(), &parent);
    edit->setEnabled(false);
    EXPECT_FALSE(button->isEnabled());
    edit->hide();
    EXPECT_FALSE(button->isVisible());
    edit->setParent(&other);
    EXPECT_EQ(button->parentWidget(), &other);
    delete button;   // the field lets go of a button freed elsewhere
    EXPECT_EQ(edit->Button(), nullptr);
    edit->SetButtonPosition(bpLeft);
}

TEST(DirDialogTest, StartFolderCheckAndCancel) {
    TDirDialog dialog;
    dialog.Directory = "/a";
    dialog.SetStartFromDir(true);
    EXPECT_EQ(dialog.InitialDir(), "/a");
    dialog.Directory = "/b";
    EXPECT_EQ(dialog.InitialDir(), "/b");   // follows Directory while StartFromDir is set
    dialog.SetInitialDir("/b");             // the same value: StartFromDir stays
    EXPECT_TRUE(dialog.StartFromDir());
    dialog.SetInitialDir("/c");
    EXPECT_FALSE(dialog.StartFromDir());
    EXPECT_EQ(dialog.InitialDir(), "/c");

    ProgramFolder folder;
    fs::create_directories(folder.Root + "no");
    fs::create_directories(folder.Root + "yes");
    dialog.SetInitialDir(QString::fromStdString(folder.Root + "yes"));
    std::vector<std::string> asked;
    dialog.OnCheckDir = [&](QObject*, const QString& path, bool& allow) {
        asked.push_back(path.toStdString());
        allow = !path.endsWith(QLatin1String("/no"));
    };
    OnModal([&](QWidget* modal) {
        auto* files = qobject_cast<QFileDialog*>(modal);
        ASSERT_NE(files, nullptr);
        EXPECT_EQ(files->directory().absolutePath().toStdString() + "/", folder.Root);   // opened on the folder
        files->selectFile(QString::fromStdString(folder.Root + "no"));
        QTimer::singleShot(0, [files] {
            QPushButton* ok = files->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Open);
            EXPECT_FALSE(ok->isEnabled());
            static_cast<QDialog*>(files)->accept();   // refused while the check says no
            EXPECT_TRUE(files->isVisible());
            files->reject();
        });
    });
    EXPECT_FALSE(dialog.Execute());
    EXPECT_NE(std::find(asked.begin(), asked.end(), folder.Root + "no"), asked.end());
    EXPECT_EQ(dialog.Directory, "/b");

    OnModal([&](QWidget* modal) {
        static_cast<QFileDialog*>(modal)->selectFile(QString::fromStdString(folder.Root + "yes"));
        static_cast<QDialog*>(modal)->accept();
    });
    EXPECT_TRUE(dialog.Execute());
    EXPECT_EQ(dialog.Directory.toStdString(), folder.Root + "yes");
}

TEST(FileEditTest, SeveralFilesEachFollowedByASemicolon) {
    ProgramFolder folder;
    WriteFile(folder.Root + "a.txt", "a");
    WriteFile(folder.Root + "b.txt", "b");
    TFileEdit edit;
    edit.SetMultiSelect(true);
    edit.setText(QString::fromStdString(folder.Root + "old.txt;"));
    OnModal([&](QWidget* modal) {
        auto* files = static_cast<QFileDialog*>(modal);
        EXPECT_EQ(files->directory().absolutePath().toStdString() + "/", folder.Root);
        files->selectFile(QStringLiteral("\"a.txt\" \"b.txt\""));
        static_cast<QDialog*>(files)->accept();
    });
    edit.BrowseClick();
    EXPECT_EQ(edit.text().toStdString(), folder.Root + "a.txt;" + folder.Root + "b.txt;");
    OnModal([](QWidget* modal) { static_cast<QFileDialog*>(modal)->reject(); });
    edit.BrowseClick();   // cancelled: the text stays
    EXPECT_EQ(edit.text().toStdString(), folder.Root + "a.txt;" + folder.Root + "b.txt;");
}

}  // namespace
