#include "desktop/ufileconts.h"

#include <QEvent>
#include <QFileDialog>
#include <QPushButton>

#include "desktop/sharedcontrols.h"
#include "desktop/udirdlg.h"

// ---- TFDEdit ----------------------------------------------------------------------------------

TFDEdit::TFDEdit(QWidget* parent) : QLineEdit(parent) {
    FButton = new QPushButton(QStringLiteral("Browse"));
    FButton->setObjectName(QStringLiteral("BrowseButton"));
    FButton->resize(ButtonWidth(FButton, 75), std::max(25, FButton->sizeHint().height()));
    connect(FButton, &QPushButton::clicked, this, &TFDEdit::BrowseClick);
    FollowParent();
}

TFDEdit::~TFDEdit() { delete FButton.data(); }

void TFDEdit::SetButtonPosition(TButtonPosition position) {
    FButtonPosition = position;
    PlaceButton();
}

void TFDEdit::PlaceButton() {
    if (!FButton) return;
    const QRect f = geometry();
    const QSize b = FButton->size();
    QPoint at;
    switch (FButtonPosition) {
        case bpAbove: at = {f.left(), f.top() - b.height() - 3}; break;
        case bpBelow: at = {f.left(), f.top() + f.height() + 3}; break;
        case bpLeft: at = {f.left() - b.width() - 3, f.top() + (f.height() - b.height()) / 2}; break;
        case bpRight: at = {f.left() + f.width() + 3, f.top() + (f.height() - b.height()) / 2}; break;
    }
    FButton->move(at);
}

void TFDEdit::FollowParent() {
    if (!FButton) return;
    FButton->setParent(parentWidget());   // hides the button; shown again below with the field
    FButton->setEnabled(isEnabled());
    FButton->setLayoutDirection(layoutDirection());
    PlaceButton();
    const bool hiddenByCaller = isHidden() && testAttribute(Qt::WA_WState_ExplicitShowHide);
    if (parentWidget() && !hiddenByCaller) FButton->show();
}

bool TFDEdit::event(QEvent* event) {
    const bool result = QLineEdit::event(event);
    switch (event->type()) {
        case QEvent::ParentChange: FollowParent(); break;
        case QEvent::Move:
        case QEvent::Resize: PlaceButton(); break;
        case QEvent::ShowToParent:
            if (FButton && parentWidget()) FButton->show();
            break;
        case QEvent::HideToParent:
            if (FButton) FButton->hide();
            break;
        default: break;
    }
    return result;
}

void TFDEdit::changeEvent(QEvent* event) {
    QLineEdit::changeEvent(event);
    if (!FButton) return;
    if (event->type() == QEvent::EnabledChange) FButton->setEnabled(isEnabled());
    else if (event->type() == QEvent::LayoutDirectionChange) FButton->setLayoutDirection(layoutDirection());
}

void TFDEdit::BrowseClick() {
    QString value = text();
    if (Browse(value)) setText(value);
}

// ---- TFileEdit --------------------------------------------------------------------------------

TFileEdit::TFileEdit(QWidget* parent) : TFDEdit(parent), FDialog(new QFileDialog) {
    FDialog->setObjectName(QStringLiteral("FileDialog"));
    FDialog->setOption(QFileDialog::DontUseNativeDialog);
    FDialog->setAcceptMode(QFileDialog::AcceptSave);
    // The file is the script's to read: choosing an existing one is no reason to ask.
    FDialog->setOption(QFileDialog::DontConfirmOverwrite);
    FDialog->setFileMode(QFileDialog::AnyFile);
}

TFileEdit::~TFileEdit() { delete FDialog; }

bool TFileEdit::MultiSelect() const { return FDialog->fileMode() == QFileDialog::ExistingFiles; }

// Several files can be marked only among existing ones; one file may also be a new name.
void TFileEdit::SetMultiSelect(bool on) {
    FDialog->setFileMode(on ? QFileDialog::ExistingFiles : QFileDialog::AnyFile);
}

bool TFileEdit::Browse(QString& text) {
    // The folder of the (first) path in the field.
    const QString first = text.section(QLatin1Char(';'), 0, 0);
    const qsizetype slash = std::max(first.lastIndexOf(QLatin1Char('/')), first.lastIndexOf(QLatin1Char('\\')));
    if (slash >= 0) FDialog->setDirectory(first.left(slash + 1));
    if (FDialog->exec() != QDialog::Accepted) return false;
    const QStringList files = FDialog->selectedFiles();
    if (MultiSelect()) {
        text.clear();
        for (const QString& file : files) text += file + QLatin1Char(';');
    } else {
        text = files.isEmpty() ? QString() : files.first();
    }
    return true;
}

// ---- TDirEdit ---------------------------------------------------------------------------------

TDirEdit::TDirEdit(QWidget* parent) : TFDEdit(parent), FDialog(new TDirDialog(this)) {}

bool TDirEdit::Browse(QString& text) {
    FDialog->SetInitialDir(text);
    FDialog->SetStartFromDir(false);
    if (!FDialog->Execute()) return false;
    text = FDialog->Directory;
    return true;
}
