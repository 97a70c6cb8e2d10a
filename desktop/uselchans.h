// The channel selection dialog: a grabber's available and selected channels side by side. Every
// move goes straight into the grabber's lists (the selected list in run order); the engine keeps
// the selection in the grabber's channel files. "Refresh Channels" asks the script for a fresh list.
#pragma once

#include <QDialog>

class QLabel;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class TChanList;
class TLuaGrabber;

class TFChanSel : public QDialog {
    Q_OBJECT

public:
    explicit TFChanSel(QWidget* parent = nullptr);

    // Fills the lists from the grabber and shows the dialog modally.
    int SelectChannels(TLuaGrabber& grabber);
    // The part of SelectChannels before the showing: the grabber, both lists, the refresh button.
    void Load(TLuaGrabber& grabber);
    void FillLists();

    void BAddClick();
    void BRemClick();
    void BUpClick();
    void BDownClick();
    void BRefChansClick();

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    // Moves the marked lines of `from` and their channels to the other side.
    void MoveMarked(QListWidget* from, TChanList& source, TChanList& target, bool toSelected);
    void MoveSelected(bool up);
    void AddLine(QListWidget* list, const std::string& name, bool sorted);

    TLuaGrabber* FGrabber = nullptr;   // borrowed while the dialog is shown
    bool FRefreshing = false;          // the script's refresh runs and processes events

    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QListWidget* LBAv = nullptr;
    QListWidget* LBSel = nullptr;
    QPushButton* BAdd = nullptr;
    QPushButton* BRem = nullptr;
    QPushButton* BUp = nullptr;
    QPushButton* BDown = nullptr;
    QPushButton* BRefChans = nullptr;
    QPushButton* Button6 = nullptr;
};
