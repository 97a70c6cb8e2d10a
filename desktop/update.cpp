#include "desktop/update.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <exception>
#include <stdexcept>

#include "desktop/askuser.h"
#include "desktop/sharedcontrols.h"
#include "engine/uluagrabbers.h"
#include "net/httpclient.h"
#include "platform/files.h"
#include "util/runutils.h"
#include "util/shwmsg.h"
#include "util/textutils.h"

namespace {

std::string Text(const QLineEdit* field) { return field->text().toStdString(); }

}  // namespace

std::vector<std::string> ParseUpdateServers(const std::string& text) {
    std::vector<std::string> servers;
    // An entry is what comes before each ";", and the rest after the last one. An entry on lines
    // of its own gives one server per line that is not empty; one with no characters at all (";;")
    // is an empty server, as the file says.
    const auto entry = [&](const std::string& piece) {
        if (piece.empty()) {
            servers.emplace_back();
            return;
        }
        size_t at = 0;
        while (at <= piece.size()) {
            size_t end = piece.find_first_of("\r\n", at);
            if (end == std::string::npos) end = piece.size();
            if (end > at) servers.push_back(piece.substr(at, end - at));
            at = end + 1;
        }
    };
    size_t at = 0;
    for (size_t semicolon; (semicolon = text.find(';', at)) != std::string::npos; at = semicolon + 1)
        entry(text.substr(at, semicolon - at));
    if (at < text.size()) entry(text.substr(at));
    return servers;
}

std::string UpdateServersFile() { return BaseDir + "update servers.txt"; }

TFUpdate::TFUpdate(THTTPClient* http, QWidget* parent) : QDialog(parent), FHTTP(http) {
    setObjectName(QStringLiteral("FUpdate"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    const auto label = [this](const char* text, const char* name) {
        auto* l = Named(new QLabel(QLatin1String(text), this), name);
        l->setTextFormat(Qt::PlainText);
        return l;
    };
    const auto button = [this](const char* text, const char* name) {
        auto* b = Named(new QPushButton(QLatin1String(text), this), name);
        b->setAutoDefault(false);
        return b;
    };
    const auto linkField = [this](const char* name) {
        auto* e = Named(new QLineEdit(this), name);
        e->setReadOnly(true);
        QPalette p = e->palette();
        p.setColor(QPalette::Base, p.color(QPalette::Button));
        e->setPalette(p);
        return e;
    };
    QLabel* label4 = label("To be notified of updates subscribe to my ", "Label4");
    auto* label5 = Named(new TURLLabel(this, QStringLiteral(" mailinglist"),
                                       QString::fromLatin1(kTavrinWebAddress) + QStringLiteral("mailinglist")),
                         "Label5");
    LCurVer = label("Current version:", "LCurVer");
    LLatVer = label("Latest version:", "LLatVer");
    QLabel* label3 = label("Update Server:", "Label3");
    CServer = Named(new QComboBox(this), "CServer");
    CServer->setEditable(true);
    CServer->setInsertPolicy(QComboBox::NoInsert);
    BCheck = button("Check for Updates", "BCheck");
    QLabel* label1 = label("Latest version information:", "Label1");
    EInfo = linkField("EInfo");
    QPushButton* copyInfo = button("Copy Link", "BCopyInfo");
    QPushButton* openInfo = button("Open Link", "BOpenInfo");
    QLabel* label2 = label("Latest version download:", "Label2");
    EDown = linkField("EDown");
    QPushButton* copyDown = button("Copy Link", "BCopyDown");
    QPushButton* openDown = button("Open Link", "BOpenDown");
    BOK = button("OK", "BOK");
    BOK->setDefault(true);

    connect(BCheck, &QPushButton::clicked, this, [this] {
        try {
            BCheckClick();
        } catch (const std::exception& e) {
            ShowMessage(e.what());
        }
    });
    connect(copyInfo, &QPushButton::clicked, this, [this] { Copy(EInfo); });
    connect(copyDown, &QPushButton::clicked, this, [this] { Copy(EDown); });
    connect(openInfo, &QPushButton::clicked, this, [this] { RunProgram(Text(EInfo)); });
    connect(openDown, &QPushButton::clicked, this, [this] { RunProgram(Text(EDown)); });
    connect(BOK, &QPushButton::clicked, this, &QDialog::accept);

    // A client area of 467 × 229 with the controls at their places, moved down as the fonts need.
    TRowPlacer rows;
    label4->adjustSize();
    rows.Row(8, 13, {{label4, 16, 8}, {label5, std::max(208, 16 + label4->width()), 8}});
    // The latest version stands right of the longest current version text.
    const int current = fontMetrics().horizontalAdvance(QStringLiteral("Current version %1").arg(QLatin1String(kTavrinVersion)));
    const int latestLeft = std::max(176, 16 + current + 12);
    rows.Row(24, 13, {{LCurVer, 16, 24, latestLeft - 16 - 4}, {LLatVer, latestLeft, 24, 200}});
    rows.Row(40, 13, {{label3, 16, 40}});
    rows.Row(56, 21, {{CServer, 16, 56, 289}});
    rows.Row(80, 25, {{BCheck, 16, 80, 105, 25}});
    rows.Row(112, 13, {{label1, 16, 112}});
    rows.Row(126, 25, {{EInfo, 16, 128, 273}, {copyInfo, 304, 126, 75, 25}, {openInfo, 392, 126, 75, 25}});
    rows.Row(152, 13, {{label2, 16, 152}});
    rows.Row(166, 25, {{EDown, 16, 168, 273}, {copyDown, 304, 166, 75, 25}, {openDown, 392, 166, 75, 25}});
    rows.Row(200, 25, {{BOK, 196, 200, 75, 25}});
    const int right = std::max({467, openInfo->geometry().right() + 8, openDown->geometry().right() + 8});
    setFixedSize(right, 229 + rows.Shift());
}

int TFUpdate::ShowCheck(const std::string& product, const std::string& version) {
    Prepare(product, version);
    return exec();
}

void TFUpdate::Prepare(const std::string& product, const std::string& version) {
    setWindowTitle(QStringLiteral("Check for updates for %1").arg(DisplayText(product)));
    FProduct = product;
    FVersion = version;
    FormShow();
}

void TFUpdate::FormShow() {
    std::string text, error;
    if (!platform::ReadWholeFile(UpdateServersFile(), text, &error))
        throw std::runtime_error("Cannot open file \"" + UpdateServersFile() + "\". " + error);
    CServer->clear();
    for (const std::string& server : ParseUpdateServers(text)) CServer->addItem(DisplayText(server));
    CServer->setCurrentIndex(CServer->count() > 0 ? 0 : -1);
    LCurVer->setText(QStringLiteral("Current version %1").arg(DisplayText(FVersion)));
}

std::string TFUpdate::Fetch(const std::string& url) {
    if (!FHTTP) throw std::runtime_error("The HTTP client is not available");
    THTTPResponse response = FHTTP->Get(url);
    switch (response.Outcome) {
        case THTTPOutcome::Ok: return std::move(response.Body);
        case THTTPOutcome::HTTPError:   // redirects too: the client follows none
            throw std::runtime_error("HTTP Protocol error(" + std::to_string(response.Status) + ") downloading \"" +
                                     url + "\"");
        default:
            throw std::runtime_error("Error downloading \"" + url + "\" : " +
                                     (response.Error.empty() ? std::string("no answer") : response.Error));
    }
}

void TFUpdate::BCheckClick() {
    if (FBusy) return;
    // The fetches process events: the window stays open and the button waits until they end.
    FBusy = true;
    BCheck->setEnabled(false);
    BOK->setEnabled(false);
    struct TDone {
        TFUpdate* Self;
        ~TDone() {
            Self->FBusy = false;
            Self->BCheck->setEnabled(true);
            Self->BOK->setEnabled(true);
        }
    } done{this};

    // Typed text that is none of the items is the server to ask.
    const std::string server = CServer->currentText().toStdString();
    const std::string answer = Fetch(server + "/update/" + FProduct + ".txt");
    // "version;information link;download link;": a missing ";" fails the search that needs it.
    const int first = PosFirst(answer, ";");
    const int second = PosFrom(answer, ";", first + 1);
    EInfo->setText(DisplayText(CopyRange(answer, first + 1, second - 1)));
    EInfo->setCursorPosition(0);   // a long link shows its start
    const int third = PosFrom(answer, ";", second + 1);
    EDown->setText(third < 0 ? QString() : DisplayText(CopyRange(answer, second + 1, third - 1)));
    EDown->setCursorPosition(0);
    const std::string latest = CopyRange(answer, 1, first - 1);
    ShowMessage(latest != FVersion ? "Update available!" : "No updates available");
    LLatVer->setText(QStringLiteral("Latest version %1").arg(DisplayText(latest)));

    // The server's list replaces ours whole, or not at all.
    const std::string servers = Fetch(server + "/update/servers.txt");
    std::string error;
    if (!platform::WriteFileSafely(UpdateServersFile(), servers, &error))
        throw std::runtime_error("Cannot write \"" + UpdateServersFile() + "\": " + error);
}

void TFUpdate::Copy(QLineEdit* field) {
    field->selectAll();
    QApplication::clipboard()->setText(field->text());
}

void TFUpdate::closeEvent(QCloseEvent* event) {
    if (FBusy) event->ignore();
    else QDialog::closeEvent(event);
}

void TFUpdate::reject() {
    if (!FBusy) QDialog::reject();
}

int RunUpdateCheck(const std::string& product, THTTPClient* http, const std::string& version, QWidget* parent) {
    TFUpdate window(http, parent);
    return window.ShowCheck(product, version);
}
