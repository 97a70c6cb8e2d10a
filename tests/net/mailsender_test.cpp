#include "net/mailsender.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/files.h"
#include "tests/net/testservers.h"

using namespace testing_servers;

namespace {

TEST(MailAddresses, SplitsTheListAtCommas) {
    struct Case {
        std::string Text;
        std::vector<std::string> Recipients;
        std::vector<std::string> Envelope;
    } cases[] = {
        {"me@example.org", {"me@example.org"}, {"me@example.org"}},
        {" a@x.org , b@y.org,c@z.org ", {"a@x.org", "b@y.org", "c@z.org"}, {"a@x.org", "b@y.org", "c@z.org"}},
        {"a@x.org,, ,b@y.org,", {"a@x.org", "b@y.org"}, {"a@x.org", "b@y.org"}},
        {"Ann <ann@x.org>, \"Doe, John\" <john@y.org>",
         {"Ann <ann@x.org>", "\"Doe, John\" <john@y.org>"},
         {"ann@x.org", "john@y.org"}},
        {"", {}, {}},
        {" , ", {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Text);
        const std::vector<std::string> recipients = SplitMailAddresses(c.Text);
        EXPECT_EQ(recipients, c.Recipients);
        std::vector<std::string> envelope;
        for (const auto& r : recipients) envelope.push_back(EnvelopeAddress(r));
        EXPECT_EQ(envelope, c.Envelope);
    }
}

TEST(MailBody, StartsWithTheCaptionAndEndsEveryLineWithCRLF) {
    struct Case {
        std::string Log;
        bool Missing;
        std::string Body;
    } cases[] = {
        {"", false, "Merrowfeed Log:\r\n"},
        {"", true, "Merrowfeed Log:\r\nXML unavailable for attachment\r\n"},
        {"10:00:00 - one\r\n10:00:01 - two\r\n", false, "Merrowfeed Log:\r\n10:00:00 - one\r\n10:00:01 - two\r\n"},
        {"a\nb", true, "Merrowfeed Log:\r\na\r\nb\r\nXML unavailable for attachment\r\n"},
        {"a\r\n\r\nb\r\n", false, "Merrowfeed Log:\r\na\r\n\r\nb\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Log);
        EXPECT_EQ(MailBody(c.Log, c.Missing), c.Body);
    }
}

TEST(MailBody, IsQuotedPrintableWithShortLines) {
    struct Case {
        std::string Text, Encoded;
    } cases[] = {
        {"", ""},
        {"plain line\r\n", "plain line\r\n"},
        {"a=b\r\n", "a=3Db\r\n"},
        {"caf\xe9 \xc3\xa9\r\n", "caf=E9 =C3=A9\r\n"},
        {"trailing space \r\ntab\t\r\n", "trailing space=20\r\ntab=09\r\n"},
        {"lone\nfeed", "lone\r\nfeed"},
        {std::string(76, 'x') + "\r\n", std::string(76, 'x') + "\r\n"},
        {std::string(77, 'x') + "\r\n", std::string(75, 'x') + "=\r\nxx\r\n"},
        {std::string(74, 'x') + "=\r\n", std::string(74, 'x') + "=\r\n=3D\r\n"},
        {".leading dot\r\n", ".leading dot\r\n"},  // dot-stuffing is the SMTP layer's job
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Text);
        EXPECT_EQ(QuotedPrintable(c.Text), c.Encoded);
    }
}

TEST(MailMessage, IsComposedWholeWithOrWithoutTheFile) {
    const std::vector<std::string> to = {"ann@example.org", "Bob <bob@example.net>"};
    const std::string date = "Tue, 14 Nov 2023 22:13:20 +0000";
    const std::string head = "Date: Tue, 14 Nov 2023 22:13:20 +0000\r\n"
                             "From: \"Merrowfeed (Do not reply)\" <noreply@tavrin.invalid>\r\n"
                             "To: ann@example.org, Bob <bob@example.net>\r\n"
                             "Subject: XMLTV Results\r\n"
                             "MIME-Version: 1.0\r\n";
    const std::string body = "Merrowfeed Log:\r\nx=1\r\n";
    EXPECT_EQ(ComposeLogMail(to, body, nullptr, date, "B"),
              head + "Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: quoted-printable\r\n"
                     "\r\nMerrowfeed Log:\r\nx=3D1\r\n");

    std::string aaa;  // 57 bytes of "aaa" fill one 76-character base64 line
    for (int i = 0; i < 19; ++i) aaa += "YWFh";
    struct Case {
        std::string FileName, Data, NameParameter, Encoded, Type = "application/xml";
    } cases[] = {
        {"out.xml", "<tv/>", "name=\"out.xml\"", "PHR2Lz4=\r\n"},
        {"a b.xml", "ab", "name=\"a b.xml\"", "YWI=\r\n"},
        {"t\xc3\xa9l\xc3\xa9.xml", "", "name*=utf-8''t%C3%A9l%C3%A9.xml", ""},
        {"x.xml", std::string(57, 'a') + "b", "name=\"x.xml\"", aaa + "\r\nYg==\r\n"},
        // a compressed file goes as it is
        {"tv.xml.GZ", std::string("\x1f\x8b\x08", 3), "name=\"tv.xml.GZ\"", "H4sI\r\n", "application/gzip"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.FileName);
        const TMailAttachment file{c.FileName, c.Data};
        const std::string file2231 = "file" + c.NameParameter;
        EXPECT_EQ(ComposeLogMail(to, body, &file, date, "=_b"),
                  head + "Content-Type: multipart/mixed; boundary=\"=_b\"\r\n\r\n"
                         "This is a multi-part message in MIME format.\r\n"
                         "--=_b\r\n"
                         "Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: quoted-printable\r\n"
                         "Content-Disposition: inline\r\n\r\n"
                         "Merrowfeed Log:\r\nx=3D1\r\n"
                         "\r\n--=_b\r\n"
                         "Content-Type: " + c.Type + "; " + c.NameParameter + "\r\n"
                         "Content-Transfer-Encoding: base64\r\n"
                         "Content-Disposition: attachment; " + file2231 + "\r\n\r\n" +
                         c.Encoded + "--=_b--\r\n");
    }
    // A log that is not UTF-8 is declared as Latin-1.
    EXPECT_NE(ComposeLogMail(to, "caf\xe9\r\n", nullptr, date, "B").find("charset=iso-8859-1"), std::string::npos);
}

class MailTest : public ::testing::Test {
protected:
    void SetUp() override {
        Callbacks.OnLog = [this](const std::string& text, bool debugOnly) {
            EXPECT_FALSE(debugOnly);
            Log.push_back(text);
        };
        Callbacks.OnProgress = [this](int bar, int64_t value, int mode) {
            EXPECT_EQ(bar, 2);
            Progress.push_back({value, mode});
        };
    }
    std::optional<std::string> Sunk(const std::string& name) const {
        std::string text;
        if (!platform::ReadWholeFile(Sink.Path() + name, text)) return std::nullopt;
        return text;
    }

    TTempDir Sink, Work;
    TMailCallbacks Callbacks;
    std::vector<std::string> Log;
    std::vector<std::pair<int64_t, int>> Progress;
};

const std::string kLogText = "12:00:00 - Grab started\r\n12:00:01 - caf\xc3\xa9 \xe2\x82\xac\r\n"
                             ".dotted line\r\n12:00:02 - " + std::string(200, 'L') + "\r\n";

TEST_F(MailTest, SendsTheLogToEveryRecipient) {
    TServerProcess server("smtpsink.py", {"--dir", Sink.Path()});
    const std::string xml = "<?xml version=\"1.0\"?>\n<tv>\n</tv>\n";
    ASSERT_TRUE(platform::WriteFileSafely(Work.Path() + "listings.xml", xml));
    struct Case {
        const char* Name;
        bool AttachXML;
        std::string OutFile;
        std::string Multipart, Attach, BodyTail;
    } cases[] = {
        {"no attachment wanted", false, Work.Path() + "listings.xml", "no", "", ""},
        {"attachment", true, Work.Path() + "listings.xml", "yes", "listings.xml application/xml " + std::to_string(xml.size()) + "\n", ""},
        {"attachment missing", true, Work.Path() + "absent.xml", "no", "", "XML unavailable for attachment\r\n"},
        {"attachment without a name", true, "", "no", "", "XML unavailable for attachment\r\n"},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string id = std::to_string(++n);
        Log.clear();
        Progress.clear();
        TLogMail mail;
        mail.Server = "127.0.0.1";
        mail.Port = server.Port();
        mail.Addresses = "ann@example.org, Bob <bob@example.net>";
        mail.AttachXML = c.AttachXML;
        mail.OutFile = c.OutFile;
        ASSERT_TRUE(SendLogMail(mail, kLogText, Callbacks));
        EXPECT_EQ(Log, (std::vector<std::string>{"Creating EMail", "Connecting and sending EMail", "EMail Sent"}));
        EXPECT_EQ(Sunk(id + ".envelope"),
                  "MAIL FROM:<noreply@tavrin.invalid>\nRCPT TO:<ann@example.org>\nRCPT TO:<bob@example.net>\n");
        EXPECT_EQ(Sunk(id + ".headers"), "Subject: XMLTV Results\n"
                                         "From-Name: Merrowfeed (Do not reply)\n"
                                         "From-Address: noreply@tavrin.invalid\n"
                                         "To: ann@example.org, bob@example.net\n"
                                         "Date-Parsed: yes\n"
                                         "Multipart: " + c.Multipart + "\n");
        EXPECT_EQ(Sunk(id + ".body"), "Merrowfeed Log:\r\n" + kLogText + c.BodyTail);
        EXPECT_EQ(Sunk(id + ".attach"), c.Attach);
        if (!c.Attach.empty()) {
            EXPECT_EQ(Sunk(id + ".file-listings.xml"), xml);
        }
        // Bar 2 follows the upload: its size first, the end last.
        ASSERT_GE(Progress.size(), 3u);
        EXPECT_EQ(Progress.front().second, 1);
        EXPECT_GT(Progress.front().first, static_cast<int64_t>(kLogText.size()));
        EXPECT_EQ(Progress.back(), (std::pair<int64_t, int>{-1, 2}));
    }
}

TEST_F(MailTest, LogsWhyAMailWasNotSent) {
    TServerProcess refusing("smtpsink.py", {"--dir", Sink.Path(), "--reject-rcpt"});
    TServerProcess stopped("smtpsink.py", {"--dir", Sink.Path()});
    const int closedPort = stopped.Port();
    stopped.Stop();
    struct Case {
        const char* Name;
        std::string Server, Addresses;
        int Port;
        std::string Reason;  // empty: any text
    } cases[] = {
        {"recipient refused", "127.0.0.1", "ann@example.org", refusing.Port(), ""},
        {"nobody listening", "127.0.0.1", "ann@example.org", closedPort, ""},
        {"no server", "", "ann@example.org", 25, "No mail server given"},
        {"no recipient", "127.0.0.1", " , ", refusing.Port(), "No recipient address given"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        Log.clear();
        TLogMail mail;
        mail.Server = c.Server;
        mail.Port = c.Port;
        mail.Addresses = c.Addresses;
        EXPECT_FALSE(SendLogMail(mail, kLogText, Callbacks));
        ASSERT_EQ(Log.size(), 3u);
        EXPECT_EQ(Log[0], "Creating EMail");
        EXPECT_EQ(Log[1], "Connecting and sending EMail");
        const std::string prefix = "Error emailing log: '";
        ASSERT_EQ(Log[2].rfind(prefix, 0), 0u) << Log[2];
        EXPECT_EQ(Log[2].back(), '\'');
        const std::string reason = Log[2].substr(prefix.size(), Log[2].size() - prefix.size() - 1);
        if (c.Reason.empty()) {
            EXPECT_FALSE(reason.empty());
        } else {
            EXPECT_EQ(reason, c.Reason);
        }
    }
    EXPECT_FALSE(Sunk("1.eml"));
}

}  // namespace
