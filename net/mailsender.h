// The log e-mail sent at shutdown: one plain-text message (multipart when the XMLTV file is
// attached) handed to the mail server over libcurl's SMTP, without authentication or TLS.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

constexpr const char* kMailSenderAddress = "noreply@tavrin.invalid";
constexpr const char* kMailSenderName = "Merrowfeed (Do not reply)";
constexpr const char* kMailSubject = "XMLTV Results";
constexpr const char* kXMLMissingLine = "XML unavailable for attachment";

struct TLogMail {
    std::string Server;            // "EMailServer"
    int32_t Port = 25;
    std::string Addresses;         // "EMailAddress": one or more, separated by commas
    bool AttachXML = false;        // "AttachXML"
    std::string OutFile;           // "Outfile": attached when AttachXML is on and the file exists
    int32_t ConnectTimeout = 30000;  // ms
    int32_t StallTimeout = 60000;    // ms without progress before the server counts as gone
};

struct TMailCallbacks {
    std::function<void(const std::string& text, bool debugOnly)> OnLog;
    std::function<void(int bar, int64_t value, int mode)> OnProgress;  // bar 2, as for downloads
};

// Mails the log text: logs "Creating EMail", "Connecting and sending EMail", then "EMail Sent" or
// "Error emailing log: '<reason>'". Returns whether the server took the message; never throws for
// a mail failure, so the shutdown goes on.
bool SendLogMail(const TLogMail& mail, const std::string& logText, const TMailCallbacks& callbacks);

// ---- the parts of the message, exposed for the tests ----

// The recipients as written (display names kept), split at commas outside quotes and <...>,
// trimmed, empty entries dropped.
std::vector<std::string> SplitMailAddresses(const std::string& addresses);
// The bare address of one recipient: the part inside <...>, else the whole entry.
std::string EnvelopeAddress(const std::string& recipient);
// The body: "Merrowfeed Log:", the log's lines, and the missing-file line when asked for; every
// line ended by CR LF.
std::string MailBody(const std::string& logText, bool xmlMissing);
// Quoted-printable text with CR LF line ends and no line longer than 76 characters.
std::string QuotedPrintable(const std::string& text);

struct TMailAttachment {
    std::string FileName;  // without folder
    std::string Data;
};
// The whole message: headers, then the quoted-printable body, or with an attachment a
// multipart/mixed message of the body and the file in base64 as application/xml (application/gzip
// for a file name ending in ".gz").
std::string ComposeLogMail(const std::vector<std::string>& recipients, const std::string& body,
                           const TMailAttachment* attachment, const std::string& date, const std::string& boundary);
