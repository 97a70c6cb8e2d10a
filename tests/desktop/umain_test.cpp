#include "desktop/umain.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QCoreApplication>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>

#include <filesystem>

#include "desktop/uvarview.h"
#include "engine/uluagrabbers.h"
#include "tests/desktop/desktopfixture.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

const char* const kStop = "Listings are downloading\rAre you sure you want to Cancel?";
const char* const kExit = "Listings are downloading\rAre you sure you want to exit?";

// A grabber whose one pass logs a line per channel, for 40 channels.
const char* const kSlowGrabber =
    "Grabbers.slow = { Passes = { Pass1 = { Type = 1, Func = function(h, c) print('item ' .. c.ID) end } } }\n"
    "function Grabbers.slow.Init(h) for i = 1, 40 do Tvrn.AddUserChannel(h, {ID = 'c' .. i}) end end\n";

class MainWindowTest : public DesktopTest {
protected:
    MainWindowTest() {
        Folder.Script("slow.lua", kSlowGrabber);
        Folder.Ini("[Grabbers]\nslow=1\n[Settings]\nSaveLog=0\n");
    }

    int Count(const TFMain& w, const std::string& prefix) const {
        int n = 0;
        for (const std::string& line : Lines(w))
            if (line.rfind(prefix, 0) == 0) ++n;
        return n;
    }
    static std::vector<std::string> Lines(const TFMain& w) {
        std::vector<std::string> lines;
        const std::string text = w.GetLogText();
        for (size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2) {
            const std::string line = text.substr(at, end - at);
            const bool stamped = line.size() >= 11 && line[2] == ':' && line.compare(8, 3, " - ") == 0;
            lines.push_back(stamped ? line.substr(11) : line);
        }
        return lines;
    }
    // Clicks the button at the run's next turn after the engine logged `line`.
    static void ClickAfter(TFMain& w, QPushButton* button, const std::string& line) {
        const TLogEvent log = w.Engine()->OnLog;
        w.Engine()->OnLog = [log, button, line, &w](const std::string& text) {
            log(text);
            if (text.ends_with(" - " + line)) Later(&w, [button] { button->click(); });
        };
    }
    // Runs f from the event loop, at the run's next turn.
    template <class F>
    static void Later(QObject* context, F f) {
        QMetaObject::invokeMethod(context, f, Qt::QueuedConnection);
    }
};

TEST_F(MainWindowTest, ShowsWhatTheEngineReports) {
    TFMain w{TStartOptions{}};
    EXPECT_EQ(w.windowTitle(), "Tavrin 3.12.00W");
    auto text = [&](const char* name) { return Find<QLabel>(&w, name)->text().toStdString(); };
    EXPECT_EQ(text("StatBarSpeed"), "Download Speed: 0 B/s");
    EXPECT_EQ(text("StatBarDownloaded"), "0 B Downloaded");
    EXPECT_EQ(text("StatBarRemaining"), "00:00:00 Remaining");

    const struct {
        int32_t bar, value, mode;
        const char* label;
        const char* percent;
    } progress[] = {
        {1, 0, 1, "PBL1", "0%"},      {1, 5, 2, "PBL1", "0%"},        // a maximum of 0
        {2, 200, 1, "PBL2", "0%"},    {2, 50, 2, "PBL2", "25%"},      {2, -1, 2, "PBL2", "100%"},
        {2, 3, 7, "PBL2", "100%"},    // another mode changes nothing
        {1, 2000000000, 1, "PBL1", "0%"}, {1, 1999999999, 2, "PBL1", "99%"},   // no overflow
        {2, 100, 1, "PBL2", "100%"},  // a smaller maximum keeps the position inside
    };
    for (const auto& p : progress) {
        w.ShowProgress(p.bar, p.value, p.mode);
        EXPECT_EQ(text(p.label), p.percent) << p.bar << " " << p.value << " " << p.mode;
    }

    w.ShowStatus(2, "Fish & Chips <b>");
    EXPECT_EQ(text("Label2"), "Fish & Chips <b>");
    w.ShowDownloadStats("", "", "1,500 KB Downloaded");
    EXPECT_EQ(text("StatBarSpeed"), "Download Speed: 0 B/s");
    EXPECT_EQ(text("StatBarDownloaded"), "1,500 KB Downloaded");
    EXPECT_EQ(text("StatBarRemaining"), "00:00:00 Remaining");

    // Unknown bars and lines change nothing and leave pending events alone; the others process them.
    bool processed = false;
    const auto pending = [&] {
        processed = false;
        Later(&w, [&] { processed = true; });
    };
    pending();
    w.ShowProgress(3, 1, 1);
    w.ShowStatus(4, "x");
    EXPECT_FALSE(processed);
    EXPECT_EQ(text("PBL1"), "99%");
    w.ShowProgress(-1, 0, -1);
    EXPECT_TRUE(processed);
    pending();
    w.ShowStatus(1, "x");
    EXPECT_TRUE(processed);
    pending();
    w.AddLogLine("a line");
    EXPECT_TRUE(processed);
}

TEST_F(MainWindowTest, StopAsksAndOnlyOKStopsTheRun) {
    TFMain w{TStartOptions{}};
    auto* grab = Find<QPushButton>(&w, "BGrab");
    auto* tools = Find<QMenu>(&w, "Tools1");
    Answers = {false, true};
    OnQuestion = [&](const std::string&) {
        EXPECT_EQ(grab->text(), "Stop");
        EXPECT_FALSE(tools->menuAction()->isEnabled());
        EXPECT_EQ(Count(w, "item "), Questions.size() == 1 ? 2 : 5);   // Cancel left the run going
        if (Questions.size() == 1) ClickAfter(w, grab, "item c5");
    };
    ClickAfter(w, grab, "item c2");
    grab->click();

    EXPECT_EQ(Questions, (std::vector<std::string>{kStop, kStop}));
    EXPECT_EQ(Count(w, "item "), 6);   // OK came as channel 6 began; the run stopped after it
    EXPECT_EQ(Count(w, "Writing XML"), 1);
    EXPECT_EQ(grab->text(), "Grab Listings");
    EXPECT_TRUE(tools->menuAction()->isEnabled());
    EXPECT_FALSE(w.Closed());
    EXPECT_EQ(w.ExitCode(), 0);
}

TEST_F(MainWindowTest, ClosingDuringARunWaitsForItAndStartsNoSecondRun) {
    TFMain w{TStartOptions{}};
    w.show();
    auto* grab = Find<QPushButton>(&w, "BGrab");
    Answers = {false, true};
    OnQuestion = [&](const std::string&) {
        if (Questions.size() == 1) {
            Later(&w, [&w] { w.close(); });
        } else {
            // After OK: the button and a direct call start nothing while the run unwinds.
            Later(&w, [&w, grab] {
                grab->click();
                w.BGrabClick();
            });
        }
    };
    Later(&w, [&w] { w.close(); });
    grab->click();

    EXPECT_EQ(Questions, (std::vector<std::string>{kExit, kExit}));
    EXPECT_EQ(Count(w, "Starting pass 1 of grabber slow"), 1);
    EXPECT_LT(Count(w, "item "), 40);
    EXPECT_TRUE(w.Closed());
    EXPECT_FALSE(w.isVisible());
}

TEST_F(MainWindowTest, RestartKeepsTheLogAndReloadsScriptsAndSettings) {
    TFMain w{TStartOptions{}};
    w.AddLogLine("kept line");
    auto* debug = Find<QAction>(&w, "DebugMode1");
    EXPECT_FALSE(debug->isChecked());
    Folder.Script("second.lua", "Grabbers.second = {}\n");
    w.Engine()->Debug = true;   // written at the restart's shutdown, read back by the new engine
    Find<QAction>(&w, "RestartLua1")->trigger();
    EXPECT_TRUE(debug->isChecked());
    EXPECT_NE(w.Engine()->Grabbers.FindByID("second"), nullptr);
    EXPECT_EQ(Lines(w).front(), "kept line");

    debug->trigger();
    EXPECT_FALSE(w.Engine()->Debug);
    EXPECT_FALSE(debug->isChecked());
    Find<QAction>(&w, "ClearLog1")->trigger();
    EXPECT_EQ(w.GetLogText(), "");
    EXPECT_TRUE(Messages.empty());
}

TEST_F(MainWindowTest, TheViewerClosesBeforeARunAndARestart) {
    TFMain w{TStartOptions{}};
    const std::function<void()> steps[] = {[&] { Find<QPushButton>(&w, "BGrab")->click(); },
                                           [&] { Find<QAction>(&w, "RestartLua1")->trigger(); }};
    for (const auto& step : steps) {
        Find<QAction>(&w, "ViewLuaVariables1")->trigger();
        TFViewVars* viewer = w.VariableViewer();
        ASSERT_NE(viewer, nullptr);
        EXPECT_TRUE(viewer->isVisible());
        EXPECT_EQ(viewer->LuaState(), w.Engine()->LuaState());
        step();
        EXPECT_FALSE(viewer->isVisible());
        EXPECT_EQ(viewer->LuaState(), nullptr);
        EXPECT_EQ(viewer->Tree()->topLevelItemCount(), 0);
    }
    // The update check without its servers file: the file's error, no window.
    Find<QAction>(&w, "CheckForUpdates1")->trigger();
    ASSERT_EQ(Messages.size(), 1u);
    EXPECT_EQ(Messages[0].rfind("Cannot open file \"" + Folder.Root + "update servers.txt\"", 0), 0u) << Messages[0];
}

TEST_F(MainWindowTest, HelpItemsOpenThePagesOfTheProgramFolder) {
    TFMain w{TStartOptions{}};
    Find<QAction>(&w, "FAQ1")->trigger();
    EXPECT_EQ(Messages, std::vector<std::string>{"File not found: \"" + Folder.Root + "help/faq.html\""});
}

// ---- the program ------------------------------------------------------------------------------

// The executable alone, without the windows module beside it: the unattended run needs neither the
// module nor Qt, and the interactive start says which module it could not load.
TEST(UnattendedRunTest, RunsWithoutADisplayAndEndsWithTheRunsResult) {
    const fs::path source = TAVRIN_SOURCE_DIR;
    const struct {
        const char* name;
        const char* failing;   // a script added beside the demo
        int status;
    } cases[] = {{"demo", "", 0}, {"failing pass", "Grabbers.bad = { Passes = { Pass1 = { Type = 6 } } }", 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ProgramFolder folder;
        fs::copy(source / "scripts", folder.Root + "scripts", fs::copy_options::recursive);
        fs::copy(source / "settings-demo", folder.Root + "demo", fs::copy_options::recursive);
        fs::copy(source / "cache", folder.Root + "cache", fs::copy_options::recursive);
        fs::copy_file(TAVRIN_DESKTOP_EXE, folder.Root + "Tavrin");
        if (*c.failing) {
            folder.Script("bad.lua", c.failing);
            std::string ini = ReadFile(folder.Root + "demo/tavrin.ini");
            ini.replace(ini.find("[Grabbers]"), 10, "[Grabbers]\nbad=1");
            WriteFile(folder.Root + "demo/tavrin.ini", ini);
        }
        const std::string root = folder.Root;
        EXPECT_EQ(Shell("cd '" + root + "' && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ./Tavrin /Silent /Cdemo "
                        "/grab > out.txt 2>&1"),
                  c.status)
            << ReadFile(root + "out.txt");
        EXPECT_EQ(Shell("xmllint --nonet --noout --dtdvalid /usr/share/xmltv/xmltv.dtd '" + root + "demo.xml'"), 0);
        EXPECT_NE(ReadFile(root + "demo/tavrin.ini").find("[Settings]"), std::string::npos);
    }

    ProgramFolder folder;
    const std::string root = folder.Root;
    fs::copy_file(TAVRIN_DESKTOP_EXE, root + "Tavrin");
    ASSERT_EQ(Shell("readelf -d '" + root + "Tavrin' > '" + root + "needed.txt'"), 0);
    const std::string needed = ReadFile(root + "needed.txt");
    EXPECT_NE(needed.find("liblua5.1"), std::string::npos) << needed;
    EXPECT_EQ(needed.find("libQt6"), std::string::npos) << needed;
    EXPECT_EQ(Shell("cd '" + root + "' && ./Tavrin > out.txt 2>&1"), 1);
    EXPECT_NE(ReadFile(root + "out.txt").find(root + "libtavrin_windows.so: cannot open"), std::string::npos)
        << ReadFile(root + "out.txt");
    // --help and --version are answered without the module and without touching the folder.
    for (const auto& [args, start] : {std::pair{"-V /Grab", "Tavrin 3.12.00W\n"},
                                      std::pair{"/Grab --help", "Usage: Tavrin [/Grab [/Silent]] "}}) {
        EXPECT_EQ(Shell("cd '" + root + "' && env -u DISPLAY ./Tavrin " + args + " > info.txt 2>&1"), 0);
        EXPECT_EQ(ReadFile(root + "info.txt").rfind(start, 0), 0u) << ReadFile(root + "info.txt");
    }
    EXPECT_FALSE(fs::exists(root + "temp"));
}

// A stop signal ends the unattended run of a script stuck in a loop cleanly: the item fails, the
// log and the settings are saved.
TEST(UnattendedRunTest, StopSignalEndsTheRunCleanly) {
    ProgramFolder folder;
    folder.Ini("[Grabbers]\r\ng=1\r\n");
    folder.Script("g.lua", "Grabbers.g = { Init = function(h) Tvrn.AddUserChannel(h,{ID='c',XML_ID='c.x'}) end,"
                           " Passes = { Pass1 = { Type = 1, Func = function()"
                           " io.open('looping', 'w'):close() while true do end end } } }\n");
    const std::string root = folder.Root;
    fs::copy_file(TAVRIN_DESKTOP_EXE, root + "Tavrin");
    // One signal, straight to the program (a wrapper such as timeout would pass on a second one);
    // a watchdog ends a program that never stops.
    EXPECT_EQ(Shell("cd '" + root + "' && { env -u DISPLAY -u WAYLAND_DISPLAY ./Tavrin /Grab /Silent > out.txt 2>&1 & "
                    "pid=$!; ( sleep 60; kill -KILL $pid ) > /dev/null 2>&1 & dog=$!; "
                    "until [ -e looping ] || ! kill -0 $pid; do sleep 0.05; done; kill -TERM $pid; "
                    "wait $pid; status=$?; pkill -P $dog; kill $dog; exit $status; }"),
              2)
        << ReadFile(root + "out.txt");
    const std::string log = ReadFile(root + "log.txt");
    EXPECT_NE(log.find(" - Stopped\r\n"), std::string::npos) << log;
    EXPECT_NE(folder.IniText().find("[GrabberOrder]\r\ng=1\r\n"), std::string::npos);
}

}  // namespace
