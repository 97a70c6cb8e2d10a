// Net layer: the log e-mail: the MIME message (the log text, the XMLTV file attached on request)
// composed and handed to the mail server over libcurl's SMTP.
#include "net/mailsender.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <optional>
#include <stdexcept>

#include "platform/files.h"
#include "util/fileutils.h"

namespace {

struct TEasyDeleter {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct TListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

class EMailError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

void Check(CURLcode code, const char* errorBuffer = nullptr) {
    if (code == CURLE_OK) return;
    throw EMailError(errorBuffer && errorBuffer[0] ? errorBuffer : curl_easy_strerror(code));
}

std::string Trim(const std::string& text) {
    size_t first = 0, last = text.size();
    while (first < last && std::strchr(" \t\r\n", text[first])) ++first;
    while (last > first && std::strchr(" \t\r\n", text[last - 1])) --last;
    return text.substr(first, last - first);
}

// The sending time as a mail date in the machine's zone, with English names whatever the locale.
std::string MailDate() {
    static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char zone[16];
    std::strftime(zone, sizeof zone, "%z", &local);
    char text[64];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d %s", days[local.tm_wday], local.tm_mday,
                  months[local.tm_mon], local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec, zone);
    return text;
}

bool IsUTF8(const std::string& text) {
    const size_t n = text.size();
    for (size_t i = 0; i < n;) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        size_t extra = 0;
        if (c < 0x80) extra = 0;
        else if (c >= 0xC2 && c <= 0xDF) extra = 1;
        else if (c >= 0xE0 && c <= 0xEF) extra = 2;
        else if (c >= 0xF0 && c <= 0xF4) extra = 3;
        else return false;
        if (n - i <= extra) return false;
        for (size_t k = 1; k <= extra; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
        i += extra + 1;
    }
    return true;
}

// The log holds lines of mixed origin: declare UTF-8 when it is valid UTF-8, Latin-1 otherwise.
std::string TextType(const std::string& body) {
    return std::string("text/plain; charset=") + (IsUTF8(body) ? "utf-8" : "iso-8859-1");
}

struct TProgress {
    const TMailCallbacks* Callbacks = nullptr;
    bool Announced = false;
    curl_off_t Sent = -1;
};

int ProgressCallback(void* user, curl_off_t, curl_off_t, curl_off_t ulTotal, curl_off_t ulNow) {
    auto* p = static_cast<TProgress*>(user);
    if (!p->Callbacks->OnProgress) return 0;
    try {
        if (!p->Announced) {  // the size first, once it is known or the first bytes are out
            if (ulTotal <= 0 && ulNow == 0) return 0;
            p->Announced = true;
            p->Callbacks->OnProgress(2, ulTotal > 0 ? ulTotal : 0, 1);
        }
        if (ulNow != p->Sent) {
            p->Sent = ulNow;
            p->Callbacks->OnProgress(2, ulNow, 2);
        }
    } catch (...) {
        return 1;  // the front end failed: stop sending rather than unwind through libcurl
    }
    return 0;
}

struct TReader {
    const std::string* Text;
    size_t Offset = 0;
};

size_t ReadCallback(char* buffer, size_t size, size_t count, void* user) {
    auto* r = static_cast<TReader*>(user);
    const size_t n = std::min(size * count, r->Text->size() - r->Offset);
    std::memcpy(buffer, r->Text->data() + r->Offset, n);
    r->Offset += n;
    return n;
}

// A boundary that cannot occur in the parts: quoted-printable text escapes every "=", and "=" and
// "_" together never occur in base64 lines.
std::string NewBoundary() {
    static unsigned serial = 0;
    char text[64];
    std::snprintf(text, sizeof text, "=_tavrin_%lx_%u", static_cast<unsigned long>(std::time(nullptr)), ++serial);
    return text;
}

void Send(const TLogMail& mail, const std::vector<std::string>& recipients, const std::string& message,
          const TMailCallbacks& callbacks) {
    static const CURLcode init = curl_global_init(CURL_GLOBAL_DEFAULT);
    Check(init);
    std::unique_ptr<CURL, TEasyDeleter> easy(curl_easy_init());
    if (!easy) throw EMailError("Cannot create the mail client");
    CURL* h = easy.get();
    char errorBuffer[CURL_ERROR_SIZE] = {};
    auto set = [&](CURLoption option, auto value) { Check(curl_easy_setopt(h, option, value)); };

    set(CURLOPT_ERRORBUFFER, errorBuffer);
    set(CURLOPT_NOSIGNAL, 1L);
    const std::string url = "smtp://" + Trim(mail.Server) + ":" + std::to_string(mail.Port);
    set(CURLOPT_URL, url.c_str());
    set(CURLOPT_PROTOCOLS_STR, "smtp");
    set(CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_NONE));
    set(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(std::max(mail.ConnectTimeout, 0)));
    const long stallSeconds = std::max<long>(1, (std::max(mail.StallTimeout, 0) + 999) / 1000);
    set(CURLOPT_SERVER_RESPONSE_TIMEOUT, stallSeconds);
    set(CURLOPT_LOW_SPEED_LIMIT, 1L);
    set(CURLOPT_LOW_SPEED_TIME, stallSeconds);

    const std::string from = std::string("<") + kMailSenderAddress + ">";
    set(CURLOPT_MAIL_FROM, from.c_str());
    std::unique_ptr<curl_slist, TListDeleter> rcpt;
    for (const std::string& r : recipients) {
        curl_slist* head = curl_slist_append(rcpt.get(), ("<" + EnvelopeAddress(r) + ">").c_str());
        if (!head) throw EMailError("Out of memory");
        (void)rcpt.release();
        rcpt.reset(head);
    }
    set(CURLOPT_MAIL_RCPT, rcpt.get());

    TProgress progress;
    progress.Callbacks = &callbacks;
    set(CURLOPT_XFERINFOFUNCTION, &ProgressCallback);
    set(CURLOPT_XFERINFODATA, static_cast<void*>(&progress));
    set(CURLOPT_NOPROGRESS, 0L);

    // The message is composed here rather than by libcurl's MIME parts, whose size libcurl does
    // not report: bar 2 needs it as its maximum.
    TReader reader{&message};
    set(CURLOPT_UPLOAD, 1L);
    set(CURLOPT_READFUNCTION, &ReadCallback);
    set(CURLOPT_READDATA, static_cast<void*>(&reader));
    set(CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(message.size()));

    const CURLcode result = curl_easy_perform(h);
    if (callbacks.OnProgress) callbacks.OnProgress(2, -1, 2);
    Check(result, errorBuffer);
}

std::string Base64Lines(const std::string& data) {
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    size_t width = 0;
    for (size_t i = 0; i < data.size(); i += 3) {
        const size_t n = std::min<size_t>(3, data.size() - i);
        uint32_t v = static_cast<uint32_t>(static_cast<unsigned char>(data[i])) << 16;
        if (n > 1) v |= static_cast<uint32_t>(static_cast<unsigned char>(data[i + 1])) << 8;
        if (n > 2) v |= static_cast<unsigned char>(data[i + 2]);
        out += alphabet[(v >> 18) & 63];
        out += alphabet[(v >> 12) & 63];
        out += n > 1 ? alphabet[(v >> 6) & 63] : '=';
        out += n > 2 ? alphabet[v & 63] : '=';
        width += 4;
        if (width == 76) {
            out += "\r\n";
            width = 0;
        }
    }
    if (width) out += "\r\n";
    return out;
}

// A file name as a header parameter: quoted when it is plain ASCII, else in the RFC 2231 form.
std::string FileNameParameter(const std::string& key, const std::string& name) {
    bool plain = true;
    for (const char c : name) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u >= 0x7f || c == '"' || c == '\\') plain = false;
    }
    if (plain) return key + "=\"" + name + "\"";
    static const char hex[] = "0123456789ABCDEF";
    std::string encoded = key + "*=utf-8''";
    for (const char c : name) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (std::isalnum(u) || std::strchr("!#$&+-.^_`|~", c)) {
            encoded += c;
        } else {
            encoded += '%';
            encoded += hex[u >> 4];
            encoded += hex[u & 15];
        }
    }
    return encoded;
}

}  // namespace

std::vector<std::string> SplitMailAddresses(const std::string& addresses) {
    std::vector<std::string> result;
    std::string current;
    bool quoted = false, angled = false;
    auto flush = [&] {
        std::string entry = Trim(current);
        if (!entry.empty()) result.push_back(entry);
        current.clear();
    };
    for (const char c : addresses) {
        if (c == '"' && !angled) quoted = !quoted;
        else if (c == '<' && !quoted) angled = true;
        else if (c == '>' && !quoted) angled = false;
        if (c == ',' && !quoted && !angled) flush();
        else current += c;
    }
    flush();
    return result;
}

std::string EnvelopeAddress(const std::string& recipient) {
    const size_t open = recipient.rfind('<');
    if (open != std::string::npos) {
        const size_t close = recipient.find('>', open);
        if (close != std::string::npos) return Trim(recipient.substr(open + 1, close - open - 1));
    }
    return Trim(recipient);
}

std::string MailBody(const std::string& logText, bool xmlMissing) {
    std::string body = "Merrowfeed Log:\r\n";
    size_t start = 0;
    while (start < logText.size()) {
        size_t end = logText.find('\n', start);
        const bool last = end == std::string::npos;
        if (last) end = logText.size();
        size_t stop = end;
        if (stop > start && logText[stop - 1] == '\r') --stop;
        body.append(logText, start, stop - start);
        body += "\r\n";
        start = end + 1;
    }
    if (xmlMissing) body += std::string(kXMLMissingLine) + "\r\n";
    return body;
}

std::string QuotedPrintable(const std::string& text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        const bool last = end == std::string::npos;
        if (last) end = text.size();
        size_t stop = end;
        if (stop > start && text[stop - 1] == '\r') --stop;
        if (last && start == stop) break;  // nothing after the final line break
        size_t width = 0;
        for (size_t i = start; i < stop; ++i) {
            const unsigned char c = static_cast<unsigned char>(text[i]);
            const bool lineEnd = i + 1 == stop;
            std::string piece;
            if ((c >= 33 && c <= 126 && c != '=') || ((c == ' ' || c == '\t') && !lineEnd)) {
                piece.assign(1, static_cast<char>(c));
            } else {
                piece = {'=', hex[c >> 4], hex[c & 15]};
            }
            // Keep room for the soft break "=" within 76 characters.
            if (width + piece.size() > (lineEnd ? 76 : 75)) {
                out += "=\r\n";
                width = 0;
            }
            out += piece;
            width += piece.size();
        }
        if (!last) out += "\r\n";
        start = end + 1;
    }
    return out;
}

std::string ComposeLogMail(const std::vector<std::string>& recipients, const std::string& body,
                           const TMailAttachment* attachment, const std::string& date, const std::string& boundary) {
    std::string to;
    for (const std::string& r : recipients) to += (to.empty() ? "" : ", ") + r;
    std::string m;
    m += "Date: " + date + "\r\n";
    // The display name holds parentheses, which would be a comment unless quoted.
    m += std::string("From: \"") + kMailSenderName + "\" <" + kMailSenderAddress + ">\r\n";
    m += "To: " + to + "\r\n";
    m += std::string("Subject: ") + kMailSubject + "\r\n";
    m += "MIME-Version: 1.0\r\n";
    const std::string textHeaders =
        "Content-Type: " + TextType(body) + "\r\nContent-Transfer-Encoding: quoted-printable\r\n";
    if (!attachment) return m + textHeaders + "\r\n" + QuotedPrintable(body);

    m += "Content-Type: multipart/mixed; boundary=\"" + boundary + "\"\r\n\r\n";
    m += "This is a multi-part message in MIME format.\r\n";
    m += "--" + boundary + "\r\n" + textHeaders + "Content-Disposition: inline\r\n\r\n" + QuotedPrintable(body);
    // The line break before a boundary belongs to the boundary: the body's own last one stays.
    m += "\r\n--" + boundary + "\r\n";
    // A compressed output file travels as it is, compressed.
    const char* type = IsGzipFileName(attachment->FileName) ? "application/gzip" : "application/xml";
    m += std::string("Content-Type: ") + type + "; " + FileNameParameter("name", attachment->FileName) + "\r\n";
    m += "Content-Transfer-Encoding: base64\r\n";
    m += "Content-Disposition: attachment; " + FileNameParameter("filename", attachment->FileName) + "\r\n\r\n";
    m += Base64Lines(attachment->Data);
    m += "--" + boundary + "--\r\n";
    return m;
}

bool SendLogMail(const TLogMail& mail, const std::string& logText, const TMailCallbacks& callbacks) {
    auto log = [&](const std::string& text) {
        if (callbacks.OnLog) callbacks.OnLog(text, false);
    };
    log("Creating EMail");
    const std::vector<std::string> recipients = SplitMailAddresses(mail.Addresses);
    const bool attach = mail.AttachXML && !mail.OutFile.empty() && platform::FileExists(mail.OutFile);
    const std::string body = MailBody(logText, mail.AttachXML && !attach);
    log("Connecting and sending EMail");
    try {
        if (Trim(mail.Server).empty()) throw EMailError("No mail server given");
        if (recipients.empty()) throw EMailError("No recipient address given");
        std::optional<TMailAttachment> attachment;
        if (attach) {
            attachment.emplace();
            const size_t slash = platform::NativePath(mail.OutFile).rfind('/');
            attachment->FileName = slash == std::string::npos ? mail.OutFile : mail.OutFile.substr(slash + 1);
            std::string error;
            if (!platform::ReadWholeFile(mail.OutFile, attachment->Data, &error)) throw EMailError(error);
        }
        const std::string message =
            ComposeLogMail(recipients, body, attachment ? &*attachment : nullptr, MailDate(), NewBoundary());
        Send(mail, recipients, message, callbacks);
    } catch (const EMailError& e) {
        log(std::string("Error emailing log: '") + e.what() + "'");
        return false;
    } catch (const std::bad_alloc&) {
        log("Error emailing log: 'Out of memory'");
        return false;
    }
    log("EMail Sent");
    return true;
}
