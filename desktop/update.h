// The update check: asks an update server for the newest version of the program, shows it beside
// the running one with its information and download links, and replaces the local list of update
// servers ("update servers.txt" in the program folder) with the server's. The downloads go through
// the engine's HTTP client, whose progress the main window shows on its download bar.
#pragma once

#include <QDialog>

#include <string>
#include <vector>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class THTTPClient;

// The servers of an update servers file: each address followed by ";". Line breaks around an
// address are no part of it, and a last address without its ";" counts too.
std::vector<std::string> ParseUpdateServers(const std::string& text);
// The local update servers file.
std::string UpdateServersFile();

class TFUpdate : public QDialog {
    Q_OBJECT

public:
    explicit TFUpdate(THTTPClient* http, QWidget* parent = nullptr);

    // Sets the caption, reads the servers (Prepare), and shows the window modally. A servers
    // file that cannot be read raises its error before the window shows.
    int ShowCheck(const std::string& product, const std::string& version);
    void Prepare(const std::string& product, const std::string& version);
    void FormShow();

    // Fetches the update file of the chosen server and shows what it says; then replaces the local
    // servers file with the server's list. Failures are raised (the file stays as it was).
    void BCheckClick();
    bool Checking() const { return FBusy; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    std::string Fetch(const std::string& url);
    void Copy(QLineEdit* field);

    std::string FVersion;
    std::string FProduct;
    THTTPClient* FHTTP;   // the engine's
    bool FBusy = false;   // a check runs (and processes events)

    QLabel* LCurVer = nullptr;
    QLabel* LLatVer = nullptr;
    QComboBox* CServer = nullptr;
    QPushButton* BCheck = nullptr;
    QLineEdit* EInfo = nullptr;
    QLineEdit* EDown = nullptr;
    QPushButton* BOK = nullptr;
};

// Opens the update window for the product and running version over the client, and frees it.
int RunUpdateCheck(const std::string& product, THTTPClient* http, const std::string& version,
                   QWidget* parent = nullptr);
