// The settings dialog: edits the engine's settings in place. There is no Cancel: each control
// writes its value to the engine as it changes, and the engine saves them when it is freed.
#pragma once

#include <QDialog>

#include <functional>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTabWidget;
class QTreeWidget;
class QTreeWidgetItem;
class TLuaBase;
class TLuaGrabber;
class TLuaGrabbers;

class TFSettings : public QDialog {
    Q_OBJECT

public:
    explicit TFSettings(QWidget* parent = nullptr);

    // Fills every control afresh from the engine (first pages, no row selected, details emptied),
    // then shows the dialog modally until "OK" or the close button.
    int ShowModal();
    void LoadFromEngine();

    // The windows that "Settings" and "Channels" open. Until a program sets them the buttons stay
    // disabled; set, a button is enabled when the selected script has something to show.
    std::function<void(TLuaBase& script)> OnScriptSettings;
    std::function<void(TLuaGrabber& grabber)> OnChannels;

    // Handlers.
    void Button2Click();   // "^": the selected sort key one place up
    void Button3Click();   // "v": one place down
    void BMoveGUpClick();
    void BMoveGDownClick();
    void BMovePUpClick();
    void BMovePDownClick();
    void LVGrabbersClick();
    void LVProcsClick();
    void BOutBrowseClick();
    void Button4Click();

private:
    void BuildXMLPage(QWidget* page);
    void BuildLoggingPage(QWidget* page);
    void BuildConnectionPage(QWidget* page);
    void BuildGrabbersPage(QWidget* page);
    void BuildProcsPage(QWidget* page);
    void ConnectWriteThrough();
    void FillSortKeys();
    void RebuildXMLSort();
    void MoveSortKey(bool up);
    void MoveScript(QTreeWidget* view, bool grabbers, bool up);
    void Browse(QLineEdit* field, const char* title, const char* defaultName, const char* suffix, const char* filter);
    TLuaBase* SelectedScript(QTreeWidget* view) const;
    static TLuaGrabbers* Engine();

    QTabWidget* PageControl1 = nullptr;
    QTabWidget* PageControl2 = nullptr;
    QComboBox* CBTimeZone = nullptr;
    QComboBox* CBCharSet = nullptr;
    QLineEdit* EOutFile = nullptr;
    QCheckBox* CBSort = nullptr;
    QListWidget* LBSort = nullptr;
    QCheckBox* CBSortRev = nullptr;
    QCheckBox* CBSaveLog = nullptr;
    QLineEdit* ESaveLog = nullptr;
    QCheckBox* CBEMailLog = nullptr;
    QCheckBox* CBAttachXML = nullptr;
    QLineEdit* ESMTP = nullptr;
    QLineEdit* EEmailAddr = nullptr;
    QLineEdit* ERetries = nullptr;
    QLineEdit* ERDelay = nullptr;
    QLineEdit* EConTOut = nullptr;
    QLineEdit* EReadTOut = nullptr;
    QLineEdit* EProxy = nullptr;
    QLineEdit* EPort = nullptr;
    QLineEdit* EUsername = nullptr;
    QLineEdit* EPassword = nullptr;
    QTreeWidget* LVGrabbers = nullptr;
    QTreeWidget* LVProcs = nullptr;
    QLabel* LAuthor = nullptr;
    QLabel* LGrabInfo = nullptr;
    QLabel* LDatSource = nullptr;
    QLabel* LPAuthor = nullptr;
    QLabel* LPInfo = nullptr;
    QPushButton* BGSettings = nullptr;
    QPushButton* BGChannels = nullptr;
    QPushButton* BPSettings = nullptr;
};

// A filter of the form "Description|pattern|Description|pattern" as the file dialog's name
// filters; "*.*" stands for every file.
QStringList NameFilters(const QString& filter);
