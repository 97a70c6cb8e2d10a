#include "desktop/askuser.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <QStringDecoder>

#include <utility>

#include "util/shwmsg.h"

namespace {

TConfirmHandler& Handler() {
    static TConfirmHandler handler;
    return handler;
}

bool AskWithBox(QWidget* parent, QString text) {
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));   // the questions break their line with a CR
    return QMessageBox::question(parent, QGuiApplication::applicationDisplayName(), text,
                                 QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok) == QMessageBox::Ok;
}

}  // namespace

TConfirmHandler SetConfirmHandler(TConfirmHandler handler) { return std::exchange(Handler(), std::move(handler)); }

bool Confirm(QWidget* parent, const QString& text) {
    const TConfirmHandler& handler = Handler();
    return handler ? handler(parent, text) : AskWithBox(parent, text);
}

void ShowMessageBox(const std::string& text) {
    QMessageBox box(QMessageBox::Information, QStringLiteral("Message"), DisplayText(text), QMessageBox::Ok);
    box.exec();
}

bool ScreenAvailable() { return QGuiApplication::platformName() != QLatin1String("offscreen"); }

void InstallMessageBox() {
    if (ScreenAvailable()) SetMessageHandler(ShowMessageBox);
}

QString DisplayText(const std::string& text) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString decoded = utf8(QByteArrayView(text.data(), static_cast<qsizetype>(text.size())));
    if (!utf8.hasError()) return decoded;
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}
