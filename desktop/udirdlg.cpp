#include "desktop/udirdlg.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

namespace {

// The folder dialog, which refuses OK while the check says no.
class TFolderDialog : public QFileDialog {
public:
    using QFileDialog::QFileDialog;
    bool Allowed = true;

    QPushButton* OKButton() const {
        auto* box = findChild<QDialogButtonBox*>();
        if (!box) return nullptr;
        QPushButton* ok = box->button(QDialogButtonBox::Open);
        return ok ? ok : box->button(QDialogButtonBox::Save);
    }
    void ApplyAllowed() {
        if (QPushButton* ok = OKButton()) ok->setEnabled(Allowed);
    }
    void accept() override {
        if (Allowed) QFileDialog::accept();
    }
};

}  // namespace

TDirDialog::TDirDialog(QObject* parent) : QObject(parent) {}

QString TDirDialog::InitialDir() const { return FStartFromDir ? Directory : FInitialDir; }

void TDirDialog::SetInitialDir(const QString& dir) {
    if (dir == InitialDir()) return;
    FInitialDir = dir;
    FStartFromDir = false;
}

void TDirDialog::SetStartFromDir(bool start) {
    FStartFromDir = start;
    if (start) FInitialDir = Directory;
}

bool TDirDialog::Execute() {
    FInitialized = false;
    TFolderDialog dialog(nullptr, Caption.isEmpty() ? QStringLiteral("Select Folder") : Caption);
    dialog.setObjectName(QStringLiteral("DirDialog"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, (Options & DoReturnOnlyFSDirs) != 0);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    const QString initial = InitialDir();
    const QFileInfo start(initial);
    if (!initial.isEmpty() && start.isDir()) {
        dialog.setDirectory(start.absoluteFilePath());
        dialog.selectFile(start.absoluteFilePath());
    }
    // The selection is the highlighted folder, a typed one, or else the folder shown; the check
    // runs after the dialog's own handling of each change, which sets the OK button too.
    const auto check = [this, &dialog] {
        QTimer::singleShot(0, &dialog, [this, &dialog] {
            if (!FInitialized || !OnCheckDir) return;
            const QString path = dialog.selectedFiles().value(0);
            bool allow = true;
            OnCheckDir(this, QFileInfo(path).isDir() ? path : QString(), allow);
            dialog.Allowed = allow;
            dialog.ApplyAllowed();
        });
    };
    QObject::connect(&dialog, &QFileDialog::currentChanged, &dialog, check);
    QObject::connect(&dialog, &QFileDialog::directoryEntered, &dialog, check);
    if (auto* name = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
        QObject::connect(name, &QLineEdit::textChanged, &dialog, check);
    FInitialized = true;
    if (dialog.exec() != QDialog::Accepted) return false;
    const QStringList chosen = dialog.selectedFiles();
    Directory = chosen.isEmpty() ? QString() : chosen.first();
    return true;
}
