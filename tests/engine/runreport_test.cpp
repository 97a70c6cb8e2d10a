// The report at shutdown: the log e-mail through a local SMTP sink, then the log file.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "engine/uluagrabbers.h"
#include "platform/files.h"
#include "tests/engine/programfolder.h"
#include "tests/net/testservers.h"

using namespace testing_support;
using namespace testing_servers;

namespace {

std::optional<std::string> FileText(const std::string& path) {
    std::string text;
    if (!platform::ReadWholeFile(path, text)) return std::nullopt;
    return text;
}

bool HasLine(const std::string& text, const std::string& line) {
    return text.find(" - " + line + "\r\n") != std::string::npos;
}

TEST(RunReport, MailsTheLogWhenAskedThenSavesIt) {
    TTempDir sinkDir;
    TServerProcess sink("smtpsink.py", {"--dir", sinkDir.Path()});
    const std::string xml = "<?xml version=\"1.0\"?>\n<tv/>\n";

    struct Case {
        const char* Name;
        std::string Settings;    // lines of the [Settings] section
        bool AllowMail;
        bool OutFileExists;
        bool Mailed;             // the sink holds a message afterwards
        std::string BodyTail;    // the end of the mail's body
        std::string Attach;      // the sink's attachment line
        std::vector<std::string> MailLines;   // in the log file, in this order
        bool LogFile;
    } cases[] = {
        {"mail with the file attached", "EMailLog=1\nAttachXML=1\n", true, true, true, "Just before shutdown\r\n",
         "out.xml application/xml " + std::to_string(xml.size()) + "\n",
         {"Creating EMail", "Connecting and sending EMail", "EMail Sent"}, true},
        {"the file to attach is missing", "EMailLog=1\nAttachXML=1\n", true, false, true,
         "Just before shutdown\r\nXML unavailable for attachment\r\n", "",
         {"Creating EMail", "Connecting and sending EMail", "EMail Sent"}, true},
        {"no attachment wanted", "EMailLog=1\nAttachXML=0\n", true, true, true, "Just before shutdown\r\n", "",
         {"Creating EMail", "Connecting and sending EMail", "EMail Sent"}, true},
        {"log file off, mail still sent", "EMailLog=1\nSaveLog=0\n", true, true, true,
         "Just before shutdown\r\n", "", {}, false},
        {"mail not allowed by the front end", "EMailLog=1\n", false, true, false, "", "", {}, true},
        {"mail off", "EMailLog=0\n", true, true, false, "", "", {}, true},
    };
    int sent = 0;   // the sink numbers the messages it receives from 1
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string next = sinkDir.Path() + std::to_string(sent + 1);
        ProgramFolder folder;
        folder.Ini("[Settings]\nOutfile=out.xml\nLogFile=report.txt\nEMailAddress=ann@example.org, Bob <bob@example.net>\n" +
                   c.Settings + "[Connection]\nEMailServer=127.0.0.1\n");
        if (c.OutFileExists) WriteFile(folder.Root + "out.xml", xml);
        EngineRun run(folder);
        run.Engine->MailPort = sink.Port();
        run.Engine->AllowMail = c.AllowMail;
        run.Engine->BytesDownloaded = 12345;
        std::vector<std::pair<int32_t, int32_t>> progress;
        run.Engine->OnProgress = [&progress](int32_t bar, int32_t value, int32_t mode) {
            EXPECT_EQ(bar, 2);
            progress.push_back({value, mode});
        };
        run.Engine->Log("Just before shutdown");
        TLuaGrabbers* engine = run.Engine.get();
        engine->Destroy();
        EXPECT_EQ(engine->BytesDownloaded, c.Mailed ? 0 : 12345);

        EXPECT_EQ(FileText(next + ".eml").has_value(), c.Mailed);
        if (c.Mailed) ++sent;
        EXPECT_FALSE(FileText(sinkDir.Path() + std::to_string(sent + 1) + ".eml"));   // one message only
        if (c.Mailed) {
            EXPECT_EQ(FileText(next + ".envelope"),
                      "MAIL FROM:<noreply@tavrin.invalid>\nRCPT TO:<ann@example.org>\nRCPT TO:<bob@example.net>\n");
            const std::optional<std::string> headers = FileText(next + ".headers");
            ASSERT_TRUE(headers);
            EXPECT_EQ(headers->substr(0, headers->find("Date-Parsed")),
                      "Subject: XMLTV Results\nFrom-Name: Merrowfeed (Do not reply)\n"
                      "From-Address: noreply@tavrin.invalid\nTo: ann@example.org, bob@example.net\n");
            const std::string body = FileText(next + ".body").value_or("");
            EXPECT_EQ(body.rfind("Merrowfeed Log:\r\n", 0), 0u) << body;
            ASSERT_GE(body.size(), c.BodyTail.size());
            EXPECT_EQ(body.substr(body.size() - c.BodyTail.size()), c.BodyTail);
            // The mail holds the log as it was before the mail's own lines.
            EXPECT_EQ(body.find("Creating EMail"), std::string::npos);
            EXPECT_EQ(FileText(next + ".attach"), c.Attach);
            ASSERT_FALSE(progress.empty());
            EXPECT_EQ(progress.back(), (std::pair<int32_t, int32_t>{-1, 2}));
        }

        const std::optional<std::string> log = FileText(folder.Root + "report.txt");
        ASSERT_EQ(log.has_value(), c.LogFile);
        if (!log) continue;
        EXPECT_TRUE(HasLine(*log, "Just before shutdown"));
        size_t at = 0;
        for (const std::string& line : c.MailLines) {
            const size_t found = log->find(" - " + line + "\r\n", at);
            ASSERT_NE(found, std::string::npos) << line << "\n" << *log;
            at = found;
        }
        if (c.MailLines.empty()) {
            EXPECT_FALSE(HasLine(*log, "Creating EMail"));
        }
    }
}

TEST(RunReport, AMailThatFailsIsLoggedAndTheLogFileStillWritten) {
    TTempDir refusedDir;
    TServerProcess refusing("smtpsink.py", {"--dir", refusedDir.Path(), "--reject-rcpt"});
    struct Case {
        const char* Name;
        std::string Server;
        bool UseRefusingPort;
    } cases[] = {
        {"recipients refused", "127.0.0.1", true},
        {"no mail server", "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        ProgramFolder folder;
        folder.Ini("[Settings]\nEMailLog=1\nLogFile=report.txt\nEMailAddress=ann@example.org\n[Connection]\nEMailServer=" +
                   c.Server + "\n");
        EngineRun run(folder);
        if (c.UseRefusingPort) run.Engine->MailPort = refusing.Port();
        EXPECT_NO_THROW(run.Destroy());
        const std::string log = FileText(folder.Root + "report.txt").value_or("");
        EXPECT_TRUE(HasLine(log, "Creating EMail")) << log;
        EXPECT_TRUE(HasLine(log, "Connecting and sending EMail")) << log;
        EXPECT_FALSE(HasLine(log, "EMail Sent")) << log;
        EXPECT_NE(log.find(" - Error emailing log: '"), std::string::npos) << log;
        EXPECT_FALSE(FileText(refusedDir.Path() + "1.eml"));
    }
}

}  // namespace
