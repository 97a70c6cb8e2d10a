#include "desktop/ugrabsettings.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSpinBox>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <stdexcept>

#include "desktop/askuser.h"
#include "desktop/sharedcontrols.h"
#include "desktop/ufileconts.h"
#include "desktop/ukeyedlists.h"
#include "engine/inifile.h"
#include "engine/uluagrabbers.h"

namespace {

// The editors by setting type.
enum : int32_t { kNumber = 1, kText = 2, kPassword = 3, kYesNo = 4, kFile = 5, kFolder = 6, kChoices = 7 };

int32_t DecimalOrZero(const std::string& text) {
    int32_t value = 0;
    return ParseDecimalInt32(text, value) ? value : 0;
}

bool SameLetters(const std::string& a, const char* b) {
    size_t i = 0;
    for (; i < a.size() && b[i]; ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != b[i]) return false;
    return i == a.size() && !b[i];
}

// The stored text when the shown one is unchanged (a text that is not UTF-8 keeps its bytes),
// otherwise the shown one.
std::string TextBack(const QString& shown, const std::string& original) {
    return shown == DisplayText(original) ? original : shown.toStdString();
}

// A whole number; an empty field, or a sign alone, is 0 rather than the value it had.
class TNumberEdit : public QSpinBox {
public:
    using QSpinBox::QSpinBox;
    void fixup(QString& input) const override {
        const QString text = input.trimmed();
        if (text.isEmpty() || text == QLatin1String("-") || text == QLatin1String("+")) input = QStringLiteral("0");
        else QSpinBox::fixup(input);
    }
};

}  // namespace

bool StrToBool(const std::string& text) {
    if (!text.empty() && !std::isspace(static_cast<unsigned char>(text.front()))) {
        const char* begin = text.c_str();
        char* end = nullptr;
        errno = 0;
        const double number = std::strtod(begin, &end);
        if (end == begin + text.size()) return number != 0;
    }
    if (SameLetters(text, "true")) return true;
    if (SameLetters(text, "false")) return false;
    throw std::runtime_error("'" + text + "' is not a valid boolean value");
}

TFGrabSettings::TFGrabSettings(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("FGrabSettings"));
    setWindowFlags(kFixedDialogFlags);
    sb = Named(new QScrollArea(this), "sb");
    sb->setFrameShape(QFrame::NoFrame);
    sb->setWidgetResizable(true);
    sb->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    FBox = Named(new QWidget, "sbContent");
    sb->setWidget(FBox);
    Button1 = Named(new QPushButton(QStringLiteral("OK"), this), "Button1");
    Button1->setDefault(true);
    connect(Button1, &QPushButton::clicked, this, &QDialog::accept);

    const QSize ok(ButtonWidth(Button1, 75), std::max(25, Button1->sizeHint().height()));
    const int height = std::max(486, 450 + ok.height() + 11);
    setFixedSize(429, height);
    sb->setGeometry(0, 0, 429, 439);
    Button1->setGeometry(178 - (ok.width() - 75) / 2, 450, ok.width(), ok.height());
}

int TFGrabSettings::EditSettings(TLuaBase& script) {
    TLuaGrabbers* engine = LuaGrabbers;
    if (!engine) return QDialog::Rejected;
    const bool grabber = dynamic_cast<TLuaGrabber*>(&script) != nullptr;
    engine->CallOnShowSettings(script);
    const std::string section = (grabber ? "Grab_" : "Proc_") + script.ID;
    setWindowTitle(QStringLiteral("%1 Settings: %2")
                       .arg(grabber ? QStringLiteral("Grabber") : QStringLiteral("Processor"), DisplayText(script.Name)));
    try {
        Build(script, section);
    } catch (...) {
        FreeControls();
        throw;
    }
    const int result = exec();
    WriteBack(section);
    FreeControls();
    return result;
}

void TFGrabSettings::Build(TLuaBase& script, const std::string& section) {
    const TIniFile& ini = *LuaGrabbers->IniFile;
    const int width = this->width() - 100;   // room for a "Browse" button right of the fields
    int nextTop = 10;
    for (TSetting& setting : *script.Settings) {
        TBuilt built{&setting, nullptr, nullptr, {}};
        const auto stored = [&] { return ini.ReadString(section, setting.Key, setting.Default); };
        switch (setting.Type) {
            case kNumber: {
                auto* spin = new TNumberEdit(FBox);
                spin->setRange(INT_MIN, INT_MAX);
                spin->setValue(ini.ReadInteger(section, setting.Key, DecimalOrZero(setting.Default)));
                built.Control = spin;
                break;
            }
            case kText:
            case kPassword: {
                auto* edit = new QLineEdit(FBox);
                if (setting.Type == kPassword) ShowStars(edit);
                built.Shown = stored();
                edit->setText(DisplayText(built.Shown));
                built.Control = edit;
                break;
            }
            case kYesNo: {
                const bool byDefault = StrToBool(setting.Default);   // checked first, stored value or not
                auto* box = new QCheckBox(FBox);
                box->setChecked(ini.ReadBool(section, setting.Key, byDefault));
                built.Control = box;
                break;
            }
            case kFile:
            case kFolder: {
                TFDEdit* edit = setting.Type == kFile ? static_cast<TFDEdit*>(new TFileEdit(FBox)) : new TDirEdit(FBox);
                if (auto* file = dynamic_cast<TFileEdit*>(edit)) file->SetMultiSelect(true);
                built.Shown = stored();
                edit->setText(DisplayText(built.Shown));
                built.Control = edit;
                break;
            }
            case kChoices: built.Control = new TKeyedCheckListBox(FBox); break;
            default: break;   // no editor: the caption stands alone, and nothing is written back
        }
        if (built.Control) {
            built.Control->setObjectName(QString::fromStdString("Setting_" + setting.Key));
            built.Control->setGeometry(5, 0, width, built.Control->sizeHint().height());
        }
        built.Label = new QLabel(DisplayText(setting.Name), FBox);
        built.Label->setTextFormat(Qt::PlainText);
        built.Label->adjustSize();
        built.Label->move(5, nextTop);
        const int below = nextTop + built.Label->height();
        if (built.Control) {
            built.Control->move(5, below + 5);
            nextTop = built.Control->y() + built.Control->height() + 10;
        } else {
            nextTop = below + 10;
        }
        if (setting.Type == kChoices)
            static_cast<TKeyedCheckListBox*>(built.Control)->SetChoices(DisplayText(setting.ExtraData), DisplayText(stored()));
        setting.Control = built.Control;
        setting.LabelControl = built.Label;
        if (built.Control) built.Control->show();
        built.Label->show();
        FBuilt.push_back(built);
    }
    FBox->setMinimumHeight(nextTop);
}

void TFGrabSettings::WriteBack(const std::string& section) {
    TIniFile& ini = *LuaGrabbers->IniFile;
    for (const TBuilt& b : FBuilt) {
        const std::string& key = b.Setting->Key;
        switch (b.Setting->Type) {
            case kNumber: {
                auto* spin = static_cast<QSpinBox*>(b.Control);
                spin->interpretText();   // what is typed, also when the field still has the focus
                ini.WriteInteger(section, key, spin->value());
                break;
            }
            case kText:
            case kPassword:
            case kFile:
            case kFolder:
                ini.WriteString(section, key, TextBack(static_cast<QLineEdit*>(b.Control)->text(), b.Shown));
                break;
            case kYesNo: ini.WriteBool(section, key, static_cast<QCheckBox*>(b.Control)->isChecked()); break;
            case kChoices:
                ini.WriteString(section, key, static_cast<TKeyedCheckListBox*>(b.Control)->GetCheckedKeys().toStdString());
                break;
            default: break;
        }
    }
}

void TFGrabSettings::FreeControls() {
    for (TBuilt& b : FBuilt) {
        delete b.Control;
        delete b.Label;
        b.Setting->Control = nullptr;   // the record never points at a freed control
        b.Setting->LabelControl = nullptr;
    }
    FBuilt.clear();
    FBox->setMinimumHeight(0);
}
