// TDirDialog: choosing a folder, over Qt's own folder dialog (QFileDialog in directory mode, not the
// desktop's, so that tests can drive it).
//
// Of the options only DoReturnOnlyFSDirs changes anything here: the dialog then lists folders only
// (without it, files are listed too but cannot be chosen). The others choose what a Windows
// folder browser offers (computers, printers, the domain level, file-system ancestors, a status
// line); they are kept, so settings and callers that pass them still work, and have no effect on
// Linux, where everything the dialog shows is a folder of the file system.
#pragma once

#include <QObject>
#include <QString>

#include <functional>

enum TDirOption {
    DoBrowseForComputer = 0x1,
    DoBrowseForPrinter = 0x2,
    DoDontGoBelowDomain = 0x4,
    DoReturnFSAncestors = 0x8,
    DoReturnOnlyFSDirs = 0x10,
    DoStatusText = 0x20,
};
using TDirOptions = unsigned;

// Asked at each change of the selection: the selected folder (empty for an entry that is not a
// folder) and whether it may be chosen (true when called); the dialog's OK button follows the answer.
using TOnCheckDir = std::function<void(QObject* sender, const QString& selection, bool& allow)>;

class TDirDialog : public QObject {
    Q_OBJECT

public:
    explicit TDirDialog(QObject* parent = nullptr);

    // The folder chosen by the last Execute that returned true.
    QString Directory;
    // The dialog's title; empty gives "Select Folder".
    QString Caption;
    TDirOptions Options = 0;
    TOnCheckDir OnCheckDir;

    // The folder the dialog opens on: Directory while StartFromDir is set, else its own value.
    QString InitialDir() const;
    // A different value is kept and clears StartFromDir.
    void SetInitialDir(const QString& dir);
    bool StartFromDir() const { return FStartFromDir; }
    // Set, InitialDir follows Directory.
    void SetStartFromDir(bool start);

    // Shows the dialog, opened on InitialDir when that is an existing folder. False when cancelled;
    // otherwise Directory is the chosen folder and the result true.
    bool Execute();

private:
    QString FInitialDir;
    bool FStartFromDir = false;
    bool FInitialized = false;   // the shown dialog is set up: selection changes are the user's
};
