// Engine layer: the engine's side of the downloads and the log e-mail: the HTTP client it owns, the
// "Connection" settings handed to the client before each request, the page functions it offers
// scripts as their host, and the mail sent at shutdown.
#include <algorithm>
#include <limits>
#include <stdexcept>

#include "engine/uluagrabbers.h"
#include "platform/files.h"
#include "net/mailsender.h"

namespace {

// Progress values are 64-bit in the client; the front ends' bars take 32 bits.
int32_t BarValue(int64_t value) {
    return static_cast<int32_t>(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

}  // namespace

void TLuaGrabbers::CreateHTTPClient() {
    HTTPClient = std::make_unique<THTTPClient>();
    THTTPClient& client = *HTTPClient;
    client.OnLog = [this](const std::string& text, bool debugOnly) { Log(text, debugOnly); };
    client.OnStatus = [this](int line, const std::string& text) { DoStatus(line, text); };
    client.OnProgress = [this](int bar, int64_t value, int mode) { DoProgress(bar, BarValue(value), mode); };
    client.OnDownloadStats = [this](const std::string& speed, const std::string& remaining,
                                    const std::string& downloaded) { DoDownloadStats(speed, remaining, downloaded); };
    client.OnIdle = [this] { DoProgress(-1, 0, -1); };
    HTTPFunctions = std::make_unique<THTTPFunctions>(client, BaseDir, StartDateTime);
    ApplyConnectionSettings();
}

void TLuaGrabbers::ApplyConnectionSettings() {
    if (!HTTPClient) return;
    THTTPSettings& settings = HTTPClient->Settings;
    settings.ConnectTimeout = ConnectTimeout;
    settings.ReadTimeout = ReadTimeout;
    settings.MaxPageSize = MaxPageSize;
    settings.MaxRetries = MaxRetries;
    settings.RetryDelay = RetryDelay;
    settings.Proxy = Proxy;
    settings.ProxyPort = ProxyPort;
    settings.ProxyUsername = ProxyUsername;
    settings.ProxyPassword = ProxyPassword;
    settings.WebUsername = WebUsername;
    settings.WebPassword = WebPassword;
    HTTPClient->BytesDownloaded = BytesDownloaded;
    HTTPClient->Downloads = Downloads;
}

void TLuaGrabbers::TakeDownloadCounters() {
    if (!HTTPClient) return;
    BytesDownloaded = HTTPClient->BytesDownloaded;
    Downloads = HTTPClient->Downloads;
}

TPageResult TLuaGrabbers::FetchPage(const TPageRequest& request, const std::string* postVars) {
    if (!HTTPFunctions) throw std::runtime_error("The HTTP client is not available");
    WebUsername = request.Username;
    WebPassword = request.Password;
    ApplyConnectionSettings();
    // The counters come back also when the request ends in an exception.
    struct TTakeCounters {
        TLuaGrabbers& Engine;
        ~TTakeCounters() { Engine.TakeDownloadCounters(); }
    } takeCounters{*this};
    return postVars ? HTTPFunctions->Post(request, *postVars) : HTTPFunctions->Get(request);
}

void TLuaGrabbers::SetAcceptEncoding(const std::string& encoding) {
    if (!HTTPFunctions) throw std::runtime_error("The HTTP client is not available");
    HTTPFunctions->SetAcptEnc(encoding);
}

void TLuaGrabbers::CleanCache(const std::optional<std::string>& scriptID, int32_t maxDays) {
    if (!HTTPFunctions) throw std::runtime_error("The HTTP client is not available");
    HTTPFunctions->CleanCache(scriptID, maxDays);
}

void TLuaGrabbers::SendLogMail() {
    TLogMail mail;
    mail.Server = EMailServer;
    mail.Port = MailPort;
    mail.Addresses = EMailAddress;
    mail.AttachXML = AttachXML;
    mail.OutFile = OutFile;
    TMailCallbacks callbacks;
    callbacks.OnLog = [this](const std::string& text, bool debugOnly) { Log(text, debugOnly); };
    callbacks.OnProgress = [this](int bar, int64_t value, int mode) { DoProgress(bar, BarValue(value), mode); };
    const std::string logText = GetLogText();
    // The mail's progress reuses the download bar; the downloads are over by now.
    BytesDownloaded = 0;
    ::SendLogMail(mail, logText, callbacks);
}
