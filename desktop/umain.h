// Tavrin's main window, which owns the grab engine, shows what the engine reports and starts and
// stops runs, and the interactive start that shows it. Everything runs on one thread: the engine's
// callbacks process the window's pending events, so Stop and close requests are handled while a
// run is on the stack. Built into the windows module (desktop/windowsmodule.h).
#pragma once

#include <QMainWindow>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "desktop/startup.h"

class QAction;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTimer;
class TFAbout;
class TFChanSel;
class TFGrabSettings;
class TFSettings;
class TFViewVars;
class TLuaGrabbers;

// "Tavrin 3.12.00W": the main window's caption and the application's display name.
QString MainCaption();

class TFMain : public QMainWindow {
    Q_OBJECT

public:
    // FormCreate: builds the window and creates the engine; with /Grab, Timer1 starts the run.
    explicit TFMain(const TStartOptions& options, QWidget* parent = nullptr);
    ~TFMain() override;

    // FormDestroy: frees the engine (settings, channel files and log are written; the log may be
    // mailed). Returns false, after a message, when that shutdown failed. Runs once.
    bool FreeEngine();

    TLuaGrabbers* Engine() const { return FEngine.get(); }
    bool Grabbing() const { return FGrabbing; }
    bool Closed() const { return FClosed; }
    // The result of the last run that returned normally; 0 before any.
    int ExitCode() const { return FExitCode; }
    // The dialogs of the interactive start: settings, channel selection and script settings, wired
    // to each other. Created on first use when not before.
    void CreateDialogs();
    TFSettings* SettingsDialog() const { return FSettings; }
    TFChanSel* ChannelDialog() const { return FChanSel; }
    TFGrabSettings* ScriptSettingsDialog() const { return FGrabSettings; }
    TFViewVars* VariableViewer() const { return FViewVars; }   // created on first use
    TFAbout* AboutBox() const { return FAbout; }               // the same

    // The engine's callbacks.
    void AddLogLine(const std::string& text);
    void LuaPanic();
    void ShowProgress(int32_t bar, int32_t value, int32_t mode);
    void ShowStatus(int32_t line, const std::string& text);
    void ShowDownloadStats(const std::string& speed, const std::string& remaining, const std::string& downloaded);
    std::string GetLogText() const;

    // Commands.
    void BGrabClick();
    void Timer1Timer();
    void Timer2Timer();
    void Exit1Click();
    void Settings1Click();
    void CheckForUpdates1Click();
    void RestartLua1Click();
    void ViewLuaVariables1Click();
    void DebugMode1Click();
    void ClearLog1Click();
    void FAQ1Click();
    void UserHelp1Click();
    void DeveloperHelp1Click();
    void About1Click();

protected:
    void closeEvent(QCloseEvent* event) override;   // FormCloseQuery, then FormClose
    void showEvent(QShowEvent* event) override;

private:
    struct TBar {
        int32_t Max = 0;
        int32_t Position = 0;
        QProgressBar* Widget = nullptr;
        QLabel* Percent = nullptr;
    };

    void BuildTimers();
    void BuildControls();
    void BuildMenu();
    void Arrange();
    void CreateEngine();
    void RunGrab();
    void SetRunning(bool running);
    void OpenHelp(const char* page);
    void ProcessMessages();
    void CloseViewer();

    TStartOptions FOptions;
    std::unique_ptr<TLuaGrabbers> FEngine;
    // Children of this window.
    TFSettings* FSettings = nullptr;
    TFChanSel* FChanSel = nullptr;
    TFGrabSettings* FGrabSettings = nullptr;
    TFViewVars* FViewVars = nullptr;
    TFAbout* FAbout = nullptr;
    bool FGrabbing = false;
    bool FCloseAfterGrab = false;
    bool FClosed = false;
    bool FRunOnStack = false;   // a run has not yet returned, also after a confirmed exit cleared FGrabbing
    bool FCentred = false;
    bool FDestroying = false;
    bool FShutdownOk = true;   // the last shutdown of an engine wrote everything
    int FExitCode = 0;
    std::vector<std::string> FLogLines;   // Memo1's lines as the engine gave them, byte for byte

    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    TBar FBars[2];
    QPlainTextEdit* Memo1 = nullptr;
    QPushButton* BGrab = nullptr;
    QLabel* FPanels[3] = {};
    QTimer* Timer1 = nullptr;
    QTimer* Timer2 = nullptr;
    QMenu* Tools1 = nullptr;
    QAction* DebugMode1 = nullptr;
};

// The interactive start (also /Grab alone, or /Silent alone): the application, the main window
// and its dialogs, until the window closes. Returns the process exit status.
int RunWindows(int argc, char** argv, const TStartOptions& options);
