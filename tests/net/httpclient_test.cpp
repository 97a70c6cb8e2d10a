#include "net/httpclient.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tests/net/serverclienttest.h"
#include "util/textutils.h"

using namespace testing_servers;

namespace {

class HTTPClientTest : public TServerClientTest {};

TEST_F(HTTPClientTest, SendsItsOwnHeaders) {
    struct Case {
        std::string AcceptEncoding;
    } cases[] = {{"identity"}, {"gzip"}, {"gzip, deflate"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.AcceptEncoding);
        FetchRaw(Server->URL("/_reset"));
        Client.AcceptEncoding = c.AcceptEncoding;
        ASSERT_EQ(Client.Get(Server->URL("/page?size=5")).Outcome, THTTPOutcome::Ok);
        const auto log = RequestLog(*Server);
        ASSERT_EQ(log.size(), 1u);
        EXPECT_EQ(log[0].Method, "GET");
        EXPECT_EQ(log[0].Version, "HTTP/1.1");
        EXPECT_EQ(log[0].Header("accept"), "text/html, */*");
        EXPECT_EQ(log[0].Header("accept-encoding"), c.AcceptEncoding);
        EXPECT_EQ(log[0].Header("user-agent"), THTTPClient::UserAgent);
        EXPECT_FALSE(log[0].Has("authorization"));
    }
    EXPECT_NE(std::string(THTTPClient::UserAgent).find("Tavrin 3.12.00W"), std::string::npos);
}

TEST_F(HTTPClientTest, ReportsEachKindOfAnswer) {
    struct Case {
        std::string Path;
        THTTPOutcome Outcome;
        int Status;
        std::string Body, Location;
    } cases[] = {
        {"/text?body=hello", THTTPOutcome::Ok, 200, "hello", ""},
        {"/status?code=203&body=partial", THTTPOutcome::Ok, 203, "partial", ""},
        {"/status?code=404&body=missing", THTTPOutcome::HTTPError, 404, "missing", ""},
        {"/status?code=500&body=broken", THTTPOutcome::HTTPError, 500, "broken", ""},
        {"/redirect?code=302&to=/elsewhere", THTTPOutcome::HTTPError, 302, "moved", "/elsewhere"},
        {"/redirect?code=301&to=http://other.invalid/x", THTTPOutcome::HTTPError, 301, "moved",
         "http://other.invalid/x"},
        {"/close", THTTPOutcome::Failed, -1, "", ""},
        {"/gzip?body=plain", THTTPOutcome::Ok, 200, "plain", ""},  // identity asked, identity given
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Path);
        FetchRaw(Server->URL("/_reset"));
        const THTTPResponse r = Client.Get(Server->URL(c.Path));
        EXPECT_EQ(r.Outcome, c.Outcome);
        EXPECT_EQ(r.Status, c.Status);
        EXPECT_EQ(r.Body, c.Body);
        EXPECT_EQ(r.Location, c.Location);
        // A redirect is never followed. (A dropped connection may be tried once more by libcurl
        // when it was a kept-alive one.)
        if (c.Outcome != THTTPOutcome::Failed) {
            EXPECT_EQ(RequestLog(*Server).size(), 1u);
        }
    }
}

TEST_F(HTTPClientTest, RefusesOtherSchemesThanHTTP) {
    for (const char* url : {"file:///etc/passwd", "ftp://127.0.0.1/x", "dict://127.0.0.1:1/x"}) {
        SCOPED_TRACE(url);
        const THTTPResponse r = Client.Get(url);
        EXPECT_EQ(r.Outcome, THTTPOutcome::Failed);
        EXPECT_EQ(r.Status, -1);
        EXPECT_TRUE(r.Body.empty());
        EXPECT_FALSE(r.Error.empty());
    }
}

TEST_F(HTTPClientTest, HandsCompressedBodiesOverUnchanged) {
    Client.AcceptEncoding = "gzip";
    const THTTPResponse r = Client.Get(Server->URL("/gzip?body=compressed%20listings"));
    ASSERT_EQ(r.Outcome, THTTPOutcome::Ok);
    ASSERT_GE(r.Body.size(), 18u);
    EXPECT_EQ(r.Body.substr(0, 2), "\x1f\x8b");  // the gzip magic: nothing was inflated
    EXPECT_EQ(r.Body.find("compressed listings"), std::string::npos);
}

TEST_F(HTTPClientTest, KeepsTheConnectionAndClosesItForAPost) {
    ASSERT_EQ(Client.Get(Server->URL("/page?id=1")).Outcome, THTTPOutcome::Ok);
    ASSERT_EQ(Client.Get(Server->URL("/page?id=2")).Outcome, THTTPOutcome::Ok);
    const std::string body = "a=1&b=%20two\r\nthree";
    const THTTPResponse post = Client.Post(Server->URL("/text?body=posted"), body);
    ASSERT_EQ(post.Outcome, THTTPOutcome::Ok);
    EXPECT_EQ(post.Body, "posted");
    ASSERT_EQ(Client.Get(Server->URL("/page?id=3")).Outcome, THTTPOutcome::Ok);

    const auto log = RequestLog(*Server);
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[0].Conn, log[1].Conn);
    EXPECT_NE(log[2].Conn, log[1].Conn);
    EXPECT_EQ(log[2].Method, "POST");
    EXPECT_EQ(log[2].Version, "HTTP/1.0");
    EXPECT_EQ(log[2].Body, body);
    EXPECT_FALSE(log[2].Has("content-type"));
    EXPECT_EQ(log[3].Version, "HTTP/1.1");
    EXPECT_NE(log[3].Conn, log[0].Conn);  // the connection open before the post was closed
    EXPECT_NE(log[3].Conn, log[2].Conn);
}

TEST_F(HTTPClientTest, KeepsCookiesAcrossRequestsAndPosts) {
    ASSERT_EQ(Client.Get(Server->URL("/setcookie?session=abc")).Outcome, THTTPOutcome::Ok);
    EXPECT_EQ(Client.Get(Server->URL("/cookies")).Body, "session=abc");
    EXPECT_EQ(Client.Post(Server->URL("/cookies"), "x=1").Body, "session=abc");
    EXPECT_EQ(Client.Get(Server->URL("/cookies")).Body, "session=abc");
}

TEST_F(HTTPClientTest, TellsReadAndConnectTimeoutsApart) {
    TBlackhole blackhole;
    struct Case {
        std::string URL;
        int ReadTimeout, ConnectTimeout;
        THTTPOutcome Outcome;
        std::string Body;
    } cases[] = {
        {Server->URL("/delay-headers?ms=3000"), 300, 5000, THTTPOutcome::ReadTimeout, ""},
        {Server->URL("/delay-body?ms=3000&size=10"), 300, 5000, THTTPOutcome::ReadTimeout, ""},
        {Server->URL("/hang"), 300, 5000, THTTPOutcome::ReadTimeout, ""},
        // Bytes every 100 ms for longer than the time-out: a kilobyte a time-out is enough, a byte
        // at a time is no better than silence.
        {Server->URL("/trickle?count=8&ms=100&chunk=1100"), 400, 5000, THTTPOutcome::Ok, std::string(8800, 't')},
        {Server->URL("/trickle?count=30&ms=100"), 400, 5000, THTTPOutcome::ReadTimeout, ""},
        {blackhole.URL("/page"), 5000, 300, THTTPOutcome::ConnectTimeout, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.URL);
        Client.Settings.ReadTimeout = c.ReadTimeout;
        Client.Settings.ConnectTimeout = c.ConnectTimeout;
        const auto start = std::chrono::steady_clock::now();
        const THTTPResponse r = Client.Get(c.URL);
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
        EXPECT_EQ(r.Outcome, c.Outcome);
        EXPECT_EQ(r.Body, c.Body);
        if (c.Outcome != THTTPOutcome::Ok) {
            EXPECT_EQ(r.Status, -1);
            EXPECT_GE(ms, std::min(c.ReadTimeout, c.ConnectTimeout) - 20);
            EXPECT_LT(ms, 2500);  // gave up well before the server would have answered
        }
    }
    // The connection that timed out is not used again.
    Client.Settings.ReadTimeout = 5000;
    EXPECT_EQ(Client.Get(Server->URL("/text?body=after")).Body, "after");
}

TEST(HTTPSettings, AReadTimeoutOfZeroOrLessIsTheDefault) {
    for (const auto& [configured, used] : {std::pair{0, 10000}, {-1, 10000}, {INT32_MIN, 10000}, {1, 1}, {250, 250}}) {
        THTTPSettings settings;
        settings.ReadTimeout = configured;
        EXPECT_EQ(EffectiveReadTimeout(settings), used) << configured;
    }
}

TEST_F(HTTPClientTest, EndsABodyLargerThanMaxPageSize) {
    constexpr int kMiB = 1024 * 1024;
    struct Case {
        std::string Path;
        int32_t MaxPageSize;
        THTTPOutcome Outcome;
        int Status;
        size_t Size;
    } cases[] = {
        {"/page?size=" + std::to_string(kMiB), 1, THTTPOutcome::Ok, 200, kMiB},
        {"/page?size=" + std::to_string(kMiB + 1), 1, THTTPOutcome::Failed, -1, 0},  // refused by its length
        {"/unsized?size=" + std::to_string(kMiB + 1), 1, THTTPOutcome::Failed, -1, 0},  // ended when it grew past
        {"/unsized?size=" + std::to_string(kMiB + 1), 2, THTTPOutcome::Ok, 200, kMiB + 1},
        {"/status?code=404&body=small", 0, THTTPOutcome::HTTPError, 404, 5},  // 0: the default, 256 MiB
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Path + " " + std::to_string(c.MaxPageSize));
        Client.Settings.MaxPageSize = c.MaxPageSize;
        const THTTPResponse r = Client.Get(Server->URL(c.Path));
        EXPECT_EQ(r.Outcome, c.Outcome);
        EXPECT_EQ(r.Status, c.Status);
        EXPECT_EQ(r.Body.size(), c.Size);
        EXPECT_EQ(r.Error, c.Outcome == THTTPOutcome::Failed ? "Page larger than 1 MiB (the \"MaxPageSize\" setting)" : "");
    }
}

TEST_F(HTTPClientTest, AnswersChallengesOnlyAfterTheyCome) {
    struct Case {
        std::string Path, User, Password;
        bool Post;
        int Status;
        size_t Requests;
        std::string Scheme;  // of the second request's Authorization, empty: none sent
        std::string LogLine;
    } cases[] = {
        {"/basic?user=ann&pass=s3cret", "ann", "s3cret", false, 200, 2, "Basic",
         "debug: Web authentication, method: Basic"},
        {"/digest?user=ann&pass=s3cret", "ann", "s3cret", false, 200, 2, "Digest",
         "debug: Web authentication, method: Digest"},
        {"/digest?user=ann&pass=s3cret", "ann", "s3cret", true, 200, 2, "Digest",
         "debug: Web authentication, method: Digest"},
        {"/basic?user=ann&pass=s3cret", "ann", "wrong", false, 401, 2, "Basic",
         "debug: Web authentication, method: Basic"},
        {"/basic?user=ann&pass=s3cret", "", "", false, 401, 1, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Path + " " + c.User + "/" + c.Password + (c.Post ? " post" : ""));
        FetchRaw(Server->URL("/_reset"));
        Log.clear();
        Client.Settings.WebUsername = c.User;
        Client.Settings.WebPassword = c.Password;
        const std::string body = "channel=7&day=2";
        const THTTPResponse r = c.Post ? Client.Post(Server->URL(c.Path), body) : Client.Get(Server->URL(c.Path));
        EXPECT_EQ(r.Status, c.Status);
        const auto log = RequestLog(*Server);
        ASSERT_EQ(log.size(), c.Requests);
        EXPECT_FALSE(log[0].Has("authorization"));
        if (c.Requests > 1) {
            EXPECT_EQ(log[1].Header("authorization").substr(0, c.Scheme.size()), c.Scheme);
        }
        if (c.Post) {
            for (const auto& request : log) EXPECT_EQ(request.Body, body);
        }
        const std::vector<std::string> expected =
            c.LogLine.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.LogLine};
        EXPECT_EQ(Log, expected);
    }
}

TEST_F(HTTPClientTest, CredentialsReachOnlyTheServerThatAskedForThem) {
    TServerProcess other("httpserver.py");
    Client.Settings.WebUsername = "ann";
    Client.Settings.WebPassword = "s3cret";
    ASSERT_EQ(Client.Get(Server->URL("/basic?user=ann&pass=s3cret")).Status, 200);
    ASSERT_EQ(Client.Get(other.URL("/page")).Status, 200);
    ASSERT_EQ(Client.Get(Server->URL("/page")).Status, 200);
    ASSERT_EQ(Client.Get(Server->URL("/basic?user=ann&pass=s3cret")).Status, 200);

    const auto otherLog = RequestLog(other);
    ASSERT_EQ(otherLog.size(), 1u);
    EXPECT_FALSE(otherLog[0].Has("authorization"));
    const auto log = RequestLog(*Server);
    ASSERT_EQ(log.size(), 5u);
    EXPECT_FALSE(log[0].Has("authorization"));
    EXPECT_TRUE(log[1].Has("authorization"));
    EXPECT_FALSE(log[2].Has("authorization"));  // the same server, unasked: nothing
    EXPECT_FALSE(log[3].Has("authorization"));  // challenged again before credentials go out
    EXPECT_TRUE(log[4].Has("authorization"));
}

TEST_F(HTTPClientTest, GoesThroughAProxyThatAsksForCredentials) {
    TServerProcess proxy("proxyserver.py", {"--user", "pat", "--pass", "pw"});
    Client.Settings.Proxy = "127.0.0.1";
    Client.Settings.ProxyPort = proxy.Port();
    Client.Settings.ProxyUsername = "pat";
    Client.Settings.ProxyPassword = "pw";

    const THTTPResponse r = Client.Get(Server->URL("/text?body=proxied"));
    EXPECT_EQ(r.Status, 200);
    EXPECT_EQ(r.Body, "proxied");
    EXPECT_EQ(Log, std::vector<std::string>{"debug: Proxy authentication, method: Basic"});
    auto proxyLog = RequestLog(proxy);
    ASSERT_EQ(proxyLog.size(), 2u);
    EXPECT_FALSE(proxyLog[0].Has("proxy-authorization"));
    EXPECT_EQ(proxyLog[1].Header("proxy-authorization"), "Basic cGF0OnB3");
    auto serverLog = RequestLog(*Server);
    ASSERT_EQ(serverLog.size(), 1u);
    EXPECT_FALSE(serverLog[0].Has("proxy-authorization"));

    // Without credentials the 407 is the answer; without a proxy the server is asked directly.
    Client.Settings.ProxyUsername.clear();
    Client.Settings.ProxyPassword.clear();
    EXPECT_EQ(Client.Get(Server->URL("/text?body=x")).Status, 407);
    Client.Settings.Proxy.clear();
    EXPECT_EQ(Client.Get(Server->URL("/text?body=direct")).Body, "direct");
    EXPECT_EQ(RequestLog(proxy).size(), 3u);
    EXPECT_EQ(RequestLog(*Server).size(), 2u);
}

TEST_F(HTTPClientTest, ReportsProgressOnBarTwo) {
    struct Event {
        int Bar;
        int64_t Value;
        int Mode;
    };
    std::vector<Event> events;
    std::vector<std::string> downloaded;
    Client.OnProgress = [&](int bar, int64_t value, int mode) { events.push_back({bar, value, mode}); };
    Client.OnDownloadStats = [&](const std::string& speed, const std::string& remaining, const std::string& text) {
        EXPECT_EQ(speed, "");
        EXPECT_EQ(remaining, "");
        downloaded.push_back(text);
    };
    Client.BytesDownloaded = 5000000;
    const THTTPResponse r = Client.Get(Server->URL("/page?size=100000"));
    ASSERT_EQ(r.Body.size(), 100000u);

    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ(events.front().Bar, 2);
    EXPECT_EQ(events.front().Value, 100000);
    EXPECT_EQ(events.front().Mode, 1);
    int64_t last = 0;
    for (size_t i = 1; i + 1 < events.size(); ++i) {
        EXPECT_EQ(events[i].Bar, 2);
        EXPECT_EQ(events[i].Mode, 2);
        EXPECT_GT(events[i].Value, last);
        last = events[i].Value;
    }
    EXPECT_EQ(last, 100000);
    EXPECT_EQ(events.back().Value, -1);
    EXPECT_EQ(events.back().Mode, 2);
    ASSERT_FALSE(downloaded.empty());
    EXPECT_EQ(downloaded.back(), FormatSizeBias(1, 5100000) + "B Downloaded");
}

TEST_F(HTTPClientTest, KeepsTheCallerAliveWhileWaiting) {
    int idles = 0;
    Client.OnIdle = [&] { ++idles; };
    Client.Settings.ReadTimeout = 5000;
    EXPECT_EQ(Client.Get(Server->URL("/delay-headers?ms=450")).Status, 200);
    EXPECT_GE(idles, 2);
}

}  // namespace
