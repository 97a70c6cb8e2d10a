// The script settings dialog: one captioned control per setting a grabber or post processor
// declared with Tvrn.AddSetting, filled from the script's section of the engine's settings and
// written back there when the dialog closes (by OK or the close button alike). The engine saves its
// settings when it is freed.
#pragma once

#include <QDialog>

#include <string>
#include <vector>

class QLabel;
class QPushButton;
class QScrollArea;
class TLuaBase;
class TSetting;

// What the settings file's yes/no values accept: a number (true unless it is 0) or "True" or
// "False" in any letter case. Raises std::runtime_error "'<text>' is not a valid boolean value".
bool StrToBool(const std::string& text);

class TFGrabSettings : public QDialog {
    Q_OBJECT

public:
    explicit TFGrabSettings(QWidget* parent = nullptr);

    // Builds the controls of the script's settings, shows the dialog modally and writes the values
    // back to the script's section ("Grab_<ID>" or "Proc_<ID>"). A yes/no setting whose default is
    // not a truth text raises the conversion error before the dialog shows; nothing is written then.
    int EditSettings(TLuaBase& script);

    // The area that holds the built controls (its content widget is their parent).
    QScrollArea* ScrollBox() const { return sb; }

private:
    struct TBuilt {
        TSetting* Setting;
        QWidget* Control;   // none for a type without an editor
        QLabel* Label;
        std::string Shown;  // the stored text as shown, so an unchanged text goes back byte for byte
    };

    void Build(TLuaBase& script, const std::string& section);
    void WriteBack(const std::string& section);
    void FreeControls();

    QScrollArea* sb = nullptr;
    QWidget* FBox = nullptr;
    QPushButton* Button1 = nullptr;
    std::vector<TBuilt> FBuilt;
};
