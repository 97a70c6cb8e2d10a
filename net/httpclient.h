// The engine's one HTTP client: a libcurl handle that lives as long as the engine, so cookies,
// the open connection and the Accept-Encoding carry over from one request and one script to the next.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "util/version.h"

// The "Connection" settings and the credentials of the current request. Every request reads them
// afresh, so a change made by the settings dialog applies from the next request on.
struct THTTPSettings {
    static constexpr int32_t DefaultReadTimeout = 10000;
    static constexpr int32_t DefaultMaxPageSize = 256;  // MiB

    int32_t ConnectTimeout = 10000;  // ms to establish the connection; 0 or less: the system's limit
    // Once connected, a request that receives nothing for this many ms, or moves less than
    // kMinBytesPerReadTimeout within one such span, has timed out. 0 or less: the default.
    int32_t ReadTimeout = DefaultReadTimeout;
    int32_t MaxPageSize = DefaultMaxPageSize;  // MiB a body may have; 0 or less: the default
    int32_t MaxRetries = 3;          // further attempts after a timed-out one
    int32_t RetryDelay = 3000;       // ms between attempts
    std::string Proxy;               // host name; empty: no proxy (nor one from the environment)
    int32_t ProxyPort = 0;
    std::string ProxyUsername, ProxyPassword;
    std::string WebUsername, WebPassword;  // given by the script for the current request
};

// A trickle this slow is no better than silence: a server that sends a byte a second is never
// silent for long, yet would hold a grab for hours.
constexpr int64_t kMinBytesPerReadTimeout = 1024;

// The read time-out a request works with: ReadTimeout, or the default for 0 or less.
int32_t EffectiveReadTimeout(const THTTPSettings& settings);

enum class THTTPOutcome {
    Ok,              // a 2xx answer
    HTTPError,       // any other status, redirects included: they are never followed
    ConnectTimeout,
    ReadTimeout,     // connected, then too little arrived within ReadTimeout ms
    Failed,          // anything else: refused, name not found, connection dropped, bad URL, a body
                     // larger than MaxPageSize...
};

struct THTTPResponse {
    THTTPOutcome Outcome = THTTPOutcome::Failed;
    int32_t Status = -1;   // status code of the request's last answer; -1 when none arrived
    std::string Body;      // the body as received, never decoded: the page, or the error page
    std::string Location;  // the answer's Location header, empty without one
    std::string Error;     // what went wrong, for the outcomes other than Ok and HTTPError
};

class THTTPClient {
public:
    static constexpr const char* UserAgent = "Mozilla/4.0 (compatible; Tavrin " TAVRIN_VERSION_TEXT
                                             "; listings grabber by the Tavrin project; " TAVRIN_WEB_ADDRESS ")";

    THTTPClient();   // throws std::runtime_error when libcurl cannot be set up
    ~THTTPClient();
    THTTPClient(const THTTPClient&) = delete;
    THTTPClient& operator=(const THTTPClient&) = delete;

    // One request each: HTTP/1.1 on the kept-alive connection for Get; Post closes the open
    // connections first and goes out as HTTP/1.0 with the body unchanged and no Content-Type.
    THTTPResponse Get(const std::string& url);
    THTTPResponse Post(const std::string& url, const std::string& body);

    THTTPSettings Settings;
    std::string AcceptEncoding = "identity";  // sent as it is; bodies are never decoded

    // Downloads of the engine: bytes of the pages received (cache reads excluded) and successful
    // downloads. The download loop counts; the progress statistics read them.
    int64_t BytesDownloaded = 0;
    int32_t Downloads = 0;

    // Callbacks, each may be unset. Log lines carry their debug-only flag; the engine filters.
    std::function<void(const std::string& text, bool debugOnly)> OnLog;
    std::function<void(int line, const std::string& text)> OnStatus;
    // Bar 2 follows the body of each transfer: (2, expected size, 1) at its first bytes,
    // (2, bytes so far, 2) as they come, (2, -1, 2) at its end.
    std::function<void(int bar, int64_t value, int mode)> OnProgress;
    // During transfers: empty speed and remaining texts, and "<size>B Downloaded".
    std::function<void(const std::string& speed, const std::string& remaining, const std::string& downloaded)>
        OnDownloadStats;
    // Called at least every 100 ms while a request runs, so that a window stays alive.
    std::function<void()> OnIdle;

    void Log(const std::string& text, bool debugOnly) const {
        if (OnLog) OnLog(text, debugOnly);
    }

    struct TTransfer;  // the state of one request, seen by libcurl's callbacks

private:
    THTTPResponse Perform(const std::string& url, const std::string* body);
    void Configure(const std::string& url, const std::string* body, TTransfer& transfer);
    void CloseConnections();

    struct TEasyDeleter { void operator()(void* easy) const; };
    struct TMultiDeleter { void operator()(void* multi) const; };
    struct TShareDeleter { void operator()(void* share) const; };
    // The cookie store: kept apart from the easy handle, which is reset before every request.
    std::unique_ptr<void, TShareDeleter> FShare;
    std::unique_ptr<void, TEasyDeleter> FEasy;    // libcurl handles are plain void pointers
    std::unique_ptr<void, TMultiDeleter> FMulti;  // holds the kept-alive connections
};
