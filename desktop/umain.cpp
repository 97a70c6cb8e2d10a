#include "desktop/umain.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStatusBar>
#include <QTimer>

#include <clocale>
#include <exception>

#include "desktop/askuser.h"
#include "desktop/uabout.h"
#include "desktop/ugrabsettings.h"
#include "desktop/uselchans.h"
#include "desktop/usettings.h"
#include "desktop/update.h"
#include "desktop/uvarview.h"
#include "engine/uluagrabbers.h"
#include "util/runutils.h"
#include "util/shwmsg.h"
#include "util/version.h"

QString MainCaption() { return QStringLiteral("Tavrin %1").arg(QLatin1String(kTavrinVersion)); }

// ---- the window -------------------------------------------------------------------------------

namespace {

const char* const kStopQuestion = "Listings are downloading\rAre you sure you want to Cancel?";
const char* const kExitQuestion = "Listings are downloading\rAre you sure you want to exit?";

// Runs a command; an error that escapes it is shown and the program goes on, as an unhandled
// error of a window's handler is.
template <class F>
auto Guarded(F f) {
    return [f] {
        try {
            f();
        } catch (const std::exception& e) {
            ShowMessage(e.what());
        }
    };
}

QLabel* PlainLabel(QWidget* parent, const char* name) {
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setTextFormat(Qt::PlainText);   // status texts are shown as they are: no markup, no "&"
    return label;
}

}  // namespace

TFMain::TFMain(const TStartOptions& options, QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                              Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      FOptions(options) {
    setObjectName(QStringLiteral("FMain"));
    BuildTimers();
    BuildControls();
    BuildMenu();
    Arrange();
    CreateEngine();
    setWindowTitle(MainCaption());
    QGuiApplication::setApplicationDisplayName(MainCaption());
    if (FOptions.GrabOnStart) Timer1->start();
}

TFMain::~TFMain() {
    Timer1->stop();
    Timer2->stop();
    FDestroying = true;   // the shutdown's log lines must not let events reach a window being destroyed
    FreeEngine();
}

void TFMain::BuildControls() {
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("Client"));
    setCentralWidget(client);

    Label1 = PlainLabel(client, "Label1");
    Label2 = PlainLabel(client, "Label2");
    Label3 = PlainLabel(client, "Label3");
    Label4 = PlainLabel(client, "Label4");
    Label4->setText(QStringLiteral("Log:"));
    for (int i = 0; i < 2; ++i) {
        FBars[i].Widget = new QProgressBar(client);
        FBars[i].Widget->setObjectName(i == 0 ? QStringLiteral("PB1") : QStringLiteral("PB2"));
        FBars[i].Widget->setRange(0, 1);   // empty; a range of 0 to 0 would draw a busy indicator
        FBars[i].Widget->setValue(0);
        FBars[i].Widget->setTextVisible(false);
        FBars[i].Percent = PlainLabel(client, i == 0 ? "PBL1" : "PBL2");
    }

    Memo1 = new QPlainTextEdit(client);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setReadOnly(true);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);

    BGrab = new QPushButton(QStringLiteral("Grab Listings"), client);
    BGrab->setObjectName(QStringLiteral("BGrab"));
    connect(BGrab, &QPushButton::clicked, this, Guarded([this] { BGrabClick(); }));

    auto* status = new QStatusBar(this);
    status->setObjectName(QStringLiteral("StatBar"));
    status->setSizeGripEnabled(false);
    setStatusBar(status);
    const char* const names[3] = {"StatBarSpeed", "StatBarDownloaded", "StatBarRemaining"};
    const char* const texts[3] = {"Download Speed: 0 B/s", "0 B Downloaded", "00:00:00 Remaining"};
    for (int i = 0; i < 3; ++i) {
        FPanels[i] = PlainLabel(status, names[i]);
        FPanels[i]->setText(QLatin1String(texts[i]));
        status->addWidget(FPanels[i]);
    }

}

void TFMain::BuildTimers() {
    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(1);
    Timer1->setSingleShot(true);
    connect(Timer1, &QTimer::timeout, this, Guarded([this] { Timer1Timer(); }));
    Timer2 = new QTimer(this);
    Timer2->setObjectName(QStringLiteral("Timer2"));
    Timer2->setInterval(250);
    connect(Timer2, &QTimer::timeout, this, [this] { Timer2Timer(); });
    Timer2->start();
}

void TFMain::BuildMenu() {
    const auto item = [this](QMenu* menu, const char* caption, const char* name, auto handler) {
        QAction* action = menu->addAction(QLatin1String(caption));
        action->setObjectName(QLatin1String(name));
        connect(action, &QAction::triggered, this, Guarded([this, handler] { (this->*handler)(); }));
        return action;
    };

    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("File1"));
    item(file, "&Exit", "Exit1", &TFMain::Exit1Click);

    Tools1 = menuBar()->addMenu(QStringLiteral("&Tools"));
    Tools1->setObjectName(QStringLiteral("Tools1"));
    item(Tools1, "&Settings", "Settings1", &TFMain::Settings1Click);
    item(Tools1, "&Check For Updates", "CheckForUpdates1", &TFMain::CheckForUpdates1Click);
    QMenu* developer = Tools1->addMenu(QStringLiteral("&Developer"));
    developer->setObjectName(QStringLiteral("Developer1"));
    item(developer, "&Restart Lua", "RestartLua1", &TFMain::RestartLua1Click);
    item(developer, "&View Lua Variables", "ViewLuaVariables1", &TFMain::ViewLuaVariables1Click);
    DebugMode1 = item(developer, "&Debug Mode", "DebugMode1", &TFMain::DebugMode1Click);
    DebugMode1->setCheckable(true);
    item(developer, "&Clear Log", "ClearLog1", &TFMain::ClearLog1Click);

    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("Help1"));
    item(help, "&FAQ", "FAQ1", &TFMain::FAQ1Click);
    item(help, "&User Help", "UserHelp1", &TFMain::UserHelp1Click);
    item(help, "&Developer Help", "DeveloperHelp1", &TFMain::DeveloperHelp1Click);
    item(help, "&About", "About1", &TFMain::About1Click);
}

// The places are those of a 425 × 491 client area drawn with a font 13 pixels high. A taller font
// moves each row of text down by the difference; a button caption wider than its button widens the
// button and moves the log beside it, and the window grows by as much; the status bar's panels grow
// to their longest usual texts.
void TFMain::Arrange() {
    const QFontMetrics fm(font());
    const int dy = std::max(0, fm.height() - 13);
    const int lineH = 13 + dy;
    const int grabW = std::max(75, BGrab->sizeHint().width());
    const int grabH = std::max(25, BGrab->sizeHint().height());
    const int dx = grabW - 75;

    const char* const widest[3] = {"Download Speed: 1,023 KB/s", "999,999 KB Downloaded", "00:00:00 Remaining"};
    const int minimum[3] = {150, 150, 100};
    int panels = 0;
    for (int i = 0; i < 3; ++i) {
        const int w = std::max(minimum[i], FPanels[i]->fontMetrics().horizontalAdvance(QLatin1String(widest[i])) + 12);
        FPanels[i]->setMinimumWidth(w);
        panels += w + 6;
    }
    const int width = std::max(425 + dx, panels);
    const int percentW = std::max(33, fm.horizontalAdvance(QStringLiteral("100%")) + 4);
    const int percentX = width - percentW;
    const int barW = percentX - 7;

    Label1->setGeometry(0, 0, width, lineH);
    Label2->setGeometry(0, 16 + dy, width, lineH);
    FBars[0].Widget->setGeometry(0, 37 + 2 * dy, barW, 17);
    FBars[0].Percent->setGeometry(percentX, 36 + 2 * dy, percentW, lineH);
    Label3->setGeometry(0, 60 + 2 * dy, width, lineH);
    FBars[1].Widget->setGeometry(0, 81 + 3 * dy, barW, 17);
    FBars[1].Percent->setGeometry(percentX, 80 + 3 * dy, percentW, lineH);
    Label4->setGeometry(80 + dx, 104 + 4 * dy, Label4->sizeHint().width(), lineH);
    const int top = 120 + 5 * dy;
    BGrab->setGeometry(0, top, grabW, grabH);
    Memo1->setGeometry(80 + dx, top, width - 88 - dx, 345);

    const int clientH = top + 345 + 7;
    centralWidget()->setFixedSize(width, clientH);
    statusBar()->setFixedHeight(std::max(19, statusBar()->sizeHint().height()));
    setFixedSize(width, menuBar()->sizeHint().height() + clientH + statusBar()->height());
}

void TFMain::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (FCentred) return;
    FCentred = true;
    if (const QScreen* screen = this->screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

// ---- the engine -------------------------------------------------------------------------------

void TFMain::CreateEngine() {
    FEngine = CreateDesktopEngine(
        FOptions,
        {.OnLog = [this](const std::string& line) { AddLogLine(line); },
         .OnPanic = [this] { LuaPanic(); },
         .OnProgress = [this](int32_t bar, int32_t value, int32_t mode) { ShowProgress(bar, value, mode); },
         .OnStatus = [this](int32_t line, const std::string& text) { ShowStatus(line, text); },
         .OnDownloadStats = [this](const std::string& speed, const std::string& remaining,
                                   const std::string& downloaded) { ShowDownloadStats(speed, remaining, downloaded); },
         .OnGetLog = [this] { return GetLogText(); }});
    DebugMode1->setChecked(FEngine->Debug);
}

bool TFMain::FreeEngine() {
    if (FEngine) FShutdownOk = FreeDesktopEngine(FEngine);
    return FShutdownOk;
}

void TFMain::AddLogLine(const std::string& text) {
    FLogLines.push_back(text);
    Memo1->appendPlainText(DisplayText(text));
    ProcessMessages();
}

void TFMain::LuaPanic() { ShowMessage("Lua Panic"); }

void TFMain::ShowProgress(int32_t bar, int32_t value, int32_t mode) {
    if (bar == -1) {
        ProcessMessages();
        return;
    }
    if (bar != 1 && bar != 2) return;
    TBar& b = FBars[bar - 1];
    // A bar's position stays within 0 and its maximum, as a progress control keeps it.
    if (mode == 1) {
        b.Max = std::max(value, 0);
        b.Position = std::min(b.Position, b.Max);
    } else if (mode == 2) {
        b.Position = value < 0 ? b.Max : std::min(value, b.Max);
    }
    const int64_t percent = b.Max == 0 ? 0 : static_cast<int64_t>(b.Position) * 100 / b.Max;
    b.Widget->setRange(0, std::max(b.Max, 1));
    b.Widget->setValue(b.Position);
    b.Percent->setText(QString::asprintf("%lld%%", static_cast<long long>(percent)));
    ProcessMessages();
}

void TFMain::ShowStatus(int32_t line, const std::string& text) {
    QLabel* const labels[3] = {Label1, Label2, Label3};
    if (line < 1 || line > 3) return;
    labels[line - 1]->setText(DisplayText(text));
    ProcessMessages();
}

void TFMain::ShowDownloadStats(const std::string& speed, const std::string& remaining,
                               const std::string& downloaded) {
    if (!speed.empty()) FPanels[0]->setText(DisplayText(speed));
    if (!downloaded.empty()) FPanels[1]->setText(DisplayText(downloaded));
    if (!remaining.empty()) FPanels[2]->setText(DisplayText(remaining));
}

std::string TFMain::GetLogText() const { return JoinLogLines(FLogLines); }

void TFMain::ProcessMessages() {
    if (!FDestroying) QCoreApplication::processEvents();
}

// ---- runs -------------------------------------------------------------------------------------

void TFMain::BGrabClick() {
    if (FGrabbing) {
        // Asked while the run processes events: only the engine's Stop reaches the run.
        if (Confirm(this, QLatin1String(kStopQuestion)) && FEngine) FEngine->Stop = true;
        return;
    }
    // A confirmed exit clears FGrabbing while the run still unwinds; no second run starts then.
    if (FRunOnStack || !FEngine) return;
    RunGrab();
}

void TFMain::RunGrab() {
    CloseViewer();   // the run changes the Lua state
    FRunOnStack = true;
    SetRunning(true);
    FGrabbing = true;
    if (const auto result = GrabOrLogError(*FEngine, [this](const std::string& line) { AddLogLine(line); }))
        FExitCode = *result;
    FGrabbing = false;
    FRunOnStack = false;
    SetRunning(false);
    if (FCloseAfterGrab) close();
}

void TFMain::SetRunning(bool running) {
    BGrab->setText(running ? QStringLiteral("Stop") : QStringLiteral("Grab Listings"));
    BGrab->setEnabled(!FCloseAfterGrab);
    Tools1->menuAction()->setEnabled(!running);
}

void TFMain::Timer1Timer() {
    Timer1->stop();
    BGrabClick();
    close();
}

void TFMain::Timer2Timer() { ProcessMessages(); }

void TFMain::closeEvent(QCloseEvent* event) {
    if (FGrabbing) {
        if (Confirm(this, QLatin1String(kExitQuestion))) {
            FGrabbing = false;
            FCloseAfterGrab = true;
            if (FEngine) FEngine->Stop = true;
            BGrab->setEnabled(false);   // it still reads "Stop", but the run is already stopping
        }
        event->ignore();
        return;
    }
    event->accept();
    CloseViewer();
    FClosed = true;
}

// ---- commands ---------------------------------------------------------------------------------

void TFMain::Exit1Click() { close(); }

void TFMain::CreateDialogs() {
    if (!FSettings) FSettings = new TFSettings(this);
    if (!FChanSel) FChanSel = new TFChanSel(this);
    if (!FGrabSettings) FGrabSettings = new TFGrabSettings(this);
    FSettings->OnChannels = [this](TLuaGrabber& grabber) { FChanSel->SelectChannels(grabber); };
    FSettings->OnScriptSettings = [this](TLuaBase& script) {
        try {
            FGrabSettings->EditSettings(script);
        } catch (const std::exception& e) {   // a setting's default that cannot be shown
            ShowMessage(e.what());
        }
    };
}

void TFMain::Settings1Click() {
    if (!FEngine) return;
    CreateDialogs();
    FSettings->ShowModal();
}

void TFMain::CheckForUpdates1Click() {
    if (!FEngine) return;
    FEngine->ApplyConnectionSettings();   // the proxy and time-outs of the settings
    RunUpdateCheck("TAVRIN", FEngine->HTTPClient.get(), kTavrinVersion, this);
}

void TFMain::ViewLuaVariables1Click() {
    if (!FEngine) return;
    if (!FViewVars) FViewVars = new TFViewVars(this);
    FViewVars->ShowState(FEngine->LuaState());
}

void TFMain::CloseViewer() {
    if (!FViewVars) return;
    FViewVars->close();
    FViewVars->Forget();
}

void TFMain::About1Click() {
    if (!FAbout) FAbout = new TFAbout(this);
    FAbout->ShowModal();
}

void TFMain::RestartLua1Click() {
    if (FRunOnStack) return;
    // The menu stays disabled while the new engine loads its scripts (and processes events).
    FRunOnStack = true;
    Tools1->menuAction()->setEnabled(false);
    BGrab->setEnabled(false);
    struct Reenable {
        TFMain* Self;
        ~Reenable() {
            Self->FRunOnStack = false;
            Self->Tools1->menuAction()->setEnabled(true);
            Self->BGrab->setEnabled(!Self->FCloseAfterGrab);
        }
    } reenable{this};
    CloseViewer();   // it must not read the state that is freed now
    FreeEngine();
    CreateEngine();
}

void TFMain::DebugMode1Click() {
    if (!FEngine) return;
    FEngine->Debug = !FEngine->Debug;
    DebugMode1->setChecked(FEngine->Debug);
}

void TFMain::ClearLog1Click() {
    FLogLines.clear();
    Memo1->clear();
}

void TFMain::OpenHelp(const char* page) { OpenFile(BaseDir + "help/" + page); }
void TFMain::FAQ1Click() { OpenHelp("faq.html"); }
void TFMain::UserHelp1Click() { OpenHelp("userguide.html"); }
void TFMain::DeveloperHelp1Click() { OpenHelp("grabbers.html"); }

// ---- the program ------------------------------------------------------------------------------

int RunWindows(int argc, char** argv, const TStartOptions& options) {
    QApplication app(argc, argv);
    // Qt takes the C library's locale from the environment; the scripts and the engine must run
    // under the same "C" locale as in TavrinConsole: Lua reads and prints numbers (a decimal comma
    // would break them) and compares strings through it.
    std::setlocale(LC_ALL, "C");
    QApplication::setApplicationName(QStringLiteral("Tavrin"));
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Tavrin"));
    InstallMessageBox();
    try {
        TFMain main(options);
        main.CreateDialogs();
        main.show();
        QApplication::exec();
        if (!main.FreeEngine()) return 1;
        return main.ExitCode();
    } catch (const std::exception& e) {
        // The engine could not be created (for example, the settings file cannot be read).
        ShowMessage(e.what());
        return 1;
    }
}
