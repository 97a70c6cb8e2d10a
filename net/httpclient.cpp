// Net layer: the engine's HTTP client over one libcurl handle: requests and their outcomes,
// time-outs, credentials given only when asked for, the proxy, cookies and progress.
#include "net/httpclient.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <exception>
#include <stdexcept>

#include "util/textutils.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kIdleIntervalMs = 100;                 // the longest wait between two calls of OnIdle
constexpr int64_t kMaxReserve = 64 * 1024 * 1024;    // a Content-Length we trust for reserving memory
constexpr long kAuthMethods = CURLAUTH_BASIC | CURLAUTH_DIGEST | CURLAUTH_NTLM;

void GlobalInit() {
    static const CURLcode code = curl_global_init(CURL_GLOBAL_DEFAULT);
    if (code != CURLE_OK)
        throw std::runtime_error(std::string("Cannot initialise libcurl: ") + curl_easy_strerror(code));
}

bool StartsWithNoCase(const std::string& text, const char* prefix) {
    size_t i = 0;
    for (; prefix[i]; ++i) {
        if (i >= text.size()) return false;
        const char a = text[i], b = prefix[i];
        if (a != b && !((a ^ b) == 0x20 && ((a | 0x20) >= 'a' && (a | 0x20) <= 'z'))) return false;
    }
    return true;
}

std::string Trim(const std::string& text) {
    size_t first = 0, last = text.size();
    while (first < last && (text[first] == ' ' || text[first] == '\t')) ++first;
    while (last > first && (text[last - 1] == ' ' || text[last - 1] == '\t' || text[last - 1] == '\r' ||
                            text[last - 1] == '\n'))
        --last;
    return text.substr(first, last - first);
}

// The scheme libcurl answers among those offered, in libcurl's own order of preference.
const char* PickedMethod(unsigned offered) {
    if (offered & CURLAUTH_DIGEST) return "Digest";
    if (offered & CURLAUTH_NTLM) return "NTLM";
    if (offered & CURLAUTH_BASIC) return "Basic";
    return nullptr;
}

unsigned SchemeBit(const std::string& value) {
    const std::string v = Trim(value);
    if (StartsWithNoCase(v, "Digest")) return CURLAUTH_DIGEST;
    if (StartsWithNoCase(v, "NTLM")) return CURLAUTH_NTLM;
    if (StartsWithNoCase(v, "Basic")) return CURLAUTH_BASIC;
    return 0;
}

int64_t MaxPageBytes(const THTTPSettings& settings) {
    const int64_t mib = settings.MaxPageSize > 0 ? settings.MaxPageSize : THTTPSettings::DefaultMaxPageSize;
    return mib * 1024 * 1024;
}

struct TListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

}  // namespace

// ---- one request ----------------------------------------------------------------------------

struct THTTPClient::TTransfer {
    THTTPClient* Client = nullptr;
    CURL* Easy = nullptr;
    std::unique_ptr<curl_slist, TListDeleter> Headers;
    char ErrorBuffer[CURL_ERROR_SIZE] = {};

    std::string Body;
    std::string Location;
    int64_t MaxBody = 0;          // bytes a body may have
    bool TooLarge = false;        // the body went past MaxBody: the transfer was ended
    int Code = 0;                 // status of the answer whose headers are being read
    unsigned WebOffered = 0, ProxyOffered = 0;
    bool WebCredentials = false, ProxyCredentials = false;
    bool WebLogged = false, ProxyLogged = false;

    bool BodyStarted = false;
    bool Connected = false;       // set once a connection stands; the read time-out counts from then
    Clock::time_point LastActivity = Clock::now();
    Clock::time_point SpanStart = Clock::now();  // the read time-out's span now running
    int64_t SpanBytes = 0;                       // bytes moved in it, either way
    int64_t LastUpload = 0;
    std::exception_ptr Pending;   // an exception of a callback, raised again once libcurl is out

    void Moved(size_t bytes) {
        LastActivity = Clock::now();
        SpanBytes += static_cast<int64_t>(bytes);
    }

    void EndBody() {
        if (!BodyStarted) return;
        BodyStarted = false;
        if (Client->OnProgress) Client->OnProgress(2, -1, 2);
    }

    void HeaderLine(const std::string& line) {
        Moved(line.size());
        if (StartsWithNoCase(line, "HTTP/")) {
            // A new answer (an interim one, or the one after an authentication round): forget the last.
            EndBody();
            const size_t space = line.find(' ');
            Code = space == std::string::npos ? 0 : std::atoi(line.c_str() + space + 1);
            Body.clear();
            Location.clear();
            WebOffered = ProxyOffered = 0;
        } else if (StartsWithNoCase(line, "Location:")) {
            Location = Trim(line.substr(9));
        } else if (StartsWithNoCase(line, "WWW-Authenticate:")) {
            WebOffered |= SchemeBit(line.substr(17));
        } else if (StartsWithNoCase(line, "Proxy-Authenticate:")) {
            ProxyOffered |= SchemeBit(line.substr(19));
        } else if (line == "\r\n" || line == "\n") {
            // End of this answer's headers: libcurl answers a challenge by itself when it has
            // credentials; say which method it takes.
            if (Code == 401 && WebCredentials && !WebLogged) {
                if (const char* method = PickedMethod(WebOffered)) {
                    WebLogged = true;
                    Client->Log(std::string("Web authentication, method: ") + method, true);
                }
            } else if (Code == 407 && ProxyCredentials && !ProxyLogged) {
                if (const char* method = PickedMethod(ProxyOffered)) {
                    ProxyLogged = true;
                    Client->Log(std::string("Proxy authentication, method: ") + method, true);
                }
            }
        }
    }

    // False when the body would grow past MaxBody: the transfer must end.
    bool BodyData(const char* data, size_t size) {
        Moved(size);
        if (!BodyStarted) {
            BodyStarted = true;
            curl_off_t expected = -1;
            if (curl_easy_getinfo(Easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &expected) != CURLE_OK) expected = -1;
            if (expected > MaxBody) TooLarge = true;  // announced too large: not a byte more
            else if (expected > 0) Body.reserve(static_cast<size_t>(std::min<int64_t>(expected, kMaxReserve)));
            if (Client->OnProgress) Client->OnProgress(2, expected > 0 ? expected : 0, 1);
        }
        if (TooLarge || static_cast<int64_t>(Body.size() + size) > MaxBody) {
            TooLarge = true;
            std::string().swap(Body);
            return false;
        }
        Body.append(data, size);
        const int64_t got = static_cast<int64_t>(Body.size());
        if (Client->OnProgress) Client->OnProgress(2, got, 2);
        if (Client->OnDownloadStats)
            Client->OnDownloadStats("", "", FormatSizeBias(1, Client->BytesDownloaded + got) + "B Downloaded");
        return true;
    }
};

namespace {

using TTransfer = THTTPClient::TTransfer;

size_t BodyCallback(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<TTransfer*>(user);
    try {
        return t->BodyData(data, size * count) ? size * count : 0;  // 0 fails the transfer
    } catch (...) {
        t->Pending = std::current_exception();
        return 0;  // fails the transfer with a write error
    }
}

size_t HeaderCallback(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<TTransfer*>(user);
    try {
        t->HeaderLine(std::string(data, size * count));
        return size * count;
    } catch (...) {
        t->Pending = std::current_exception();
        return 0;
    }
}

int PrereqCallback(void* user, char*, char*, int, int) {
    auto* t = static_cast<TTransfer*>(user);
    t->Connected = true;
    t->Moved(0);
    t->SpanStart = t->LastActivity;
    t->SpanBytes = 0;
    return CURL_PREREQFUNC_OK;
}

int XferCallback(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t ulNow) {
    auto* t = static_cast<TTransfer*>(user);
    if (ulNow != t->LastUpload) {  // a body going out counts as activity too; each round starts at 0
        t->Moved(ulNow > t->LastUpload ? static_cast<size_t>(ulNow - t->LastUpload) : 0);
        t->LastUpload = ulNow;
    }
    return 0;
}

// Keeps the easy handle in the multi handle for one request, whatever way the request ends.
class TAttached {
public:
    TAttached(CURLM* multi, CURL* easy) : FMulti(multi), FEasy(easy) { FCode = curl_multi_add_handle(multi, easy); }
    ~TAttached() {
        if (FCode == CURLM_OK) curl_multi_remove_handle(FMulti, FEasy);
    }
    TAttached(const TAttached&) = delete;
    TAttached& operator=(const TAttached&) = delete;
    CURLMcode Code() const { return FCode; }

private:
    CURLM* FMulti;
    CURL* FEasy;
    CURLMcode FCode;
};

}  // namespace

// ---- the client -----------------------------------------------------------------------------

void THTTPClient::TEasyDeleter::operator()(void* easy) const { curl_easy_cleanup(static_cast<CURL*>(easy)); }
void THTTPClient::TShareDeleter::operator()(void* share) const { curl_share_cleanup(static_cast<CURLSH*>(share)); }
void THTTPClient::TMultiDeleter::operator()(void* multi) const { curl_multi_cleanup(static_cast<CURLM*>(multi)); }

int32_t EffectiveReadTimeout(const THTTPSettings& settings) {
    return settings.ReadTimeout > 0 ? settings.ReadTimeout : THTTPSettings::DefaultReadTimeout;
}

THTTPClient::THTTPClient() {
    GlobalInit();
    FShare.reset(curl_share_init());
    FEasy.reset(curl_easy_init());
    FMulti.reset(curl_multi_init());
    if (!FShare || !FEasy || !FMulti ||
        curl_share_setopt(static_cast<CURLSH*>(FShare.get()), CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE) != CURLSHE_OK)
        throw std::runtime_error("Cannot create the HTTP client");
}

THTTPClient::~THTTPClient() {
    FMulti.reset();  // closes the connections before the handle that used them goes
    FEasy.reset();
    FShare.reset();
}

THTTPResponse THTTPClient::Get(const std::string& url) { return Perform(url, nullptr); }

THTTPResponse THTTPClient::Post(const std::string& url, const std::string& body) {
    CloseConnections();
    return Perform(url, &body);
}

void THTTPClient::CloseConnections() {
    // The connection cache belongs to the multi handle; a new one starts with none. Cookies stay:
    // they belong to the easy handle.
    CURLM* fresh = curl_multi_init();
    if (fresh) FMulti.reset(fresh);
}

void THTTPClient::Configure(const std::string& url, const std::string* body, TTransfer& t) {
    CURL* easy = t.Easy;
    CURLcode first = CURLE_OK;
    auto set = [&](CURLoption option, auto value) {
        const CURLcode code = curl_easy_setopt(easy, option, value);
        if (code != CURLE_OK && first == CURLE_OK) first = code;
    };
    // Start from a clean handle every time: libcurl keeps the authentication method of an earlier
    // challenge and would otherwise send credentials unasked, even to another host. Connections
    // survive the reset in the multi handle, cookies in the share. The cookie file list is dropped
    // first: the reset would lose it without freeing it.
    set(CURLOPT_COOKIEFILE, static_cast<const char*>(nullptr));
    curl_easy_reset(easy);
    first = CURLE_OK;

    set(CURLOPT_URL, url.c_str());
    set(CURLOPT_NOSIGNAL, 1L);
    set(CURLOPT_PROTOCOLS_STR, "http,https");  // page links must not reach local files or other services
    set(CURLOPT_ERRORBUFFER, t.ErrorBuffer);
    set(CURLOPT_WRITEFUNCTION, &BodyCallback);
    set(CURLOPT_WRITEDATA, static_cast<void*>(&t));
    set(CURLOPT_HEADERFUNCTION, &HeaderCallback);
    set(CURLOPT_HEADERDATA, static_cast<void*>(&t));
    set(CURLOPT_PREREQFUNCTION, &PrereqCallback);
    set(CURLOPT_PREREQDATA, static_cast<void*>(&t));
    set(CURLOPT_XFERINFOFUNCTION, &XferCallback);
    set(CURLOPT_XFERINFODATA, static_cast<void*>(&t));
    set(CURLOPT_NOPROGRESS, 0L);
    set(CURLOPT_SHARE, FShare.get());  // the cookies gathered so far
    set(CURLOPT_COOKIEFILE, "");        // and the cookie engine on
    set(CURLOPT_FOLLOWLOCATION, 0L);
    set(CURLOPT_HTTP_CONTENT_DECODING, 0L);
    set(CURLOPT_USERAGENT, UserAgent);
    set(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(std::max(Settings.ConnectTimeout, 0)));

    auto add = [&](const std::string& line) {
        curl_slist* head = curl_slist_append(t.Headers.get(), line.c_str());
        if (!head) {
            if (first == CURLE_OK) first = CURLE_OUT_OF_MEMORY;
            return;
        }
        (void)t.Headers.release();  // the same list, possibly with a new head
        t.Headers.reset(head);
    };
    add("Accept: text/html, */*");
    add("Accept-Encoding: " + AcceptEncoding);
    if (body) {
        add("Content-Type:");  // no content type of our own
        add("Expect:");
    }
    set(CURLOPT_HTTPHEADER, t.Headers.get());

    set(CURLOPT_PROXY, Settings.Proxy.c_str());  // empty: no proxy, none from the environment either
    set(CURLOPT_NOPROXY, "");
    if (!Settings.Proxy.empty() && Settings.ProxyPort > 0) set(CURLOPT_PROXYPORT, static_cast<long>(Settings.ProxyPort));

    // Credentials are offered for several methods, so libcurl sends none until a challenge names one.
    t.WebCredentials = !Settings.WebUsername.empty() || !Settings.WebPassword.empty();
    if (t.WebCredentials) {
        set(CURLOPT_USERNAME, Settings.WebUsername.c_str());
        set(CURLOPT_PASSWORD, Settings.WebPassword.c_str());
        set(CURLOPT_HTTPAUTH, kAuthMethods);
    }
    t.ProxyCredentials = !Settings.Proxy.empty() && (!Settings.ProxyUsername.empty() || !Settings.ProxyPassword.empty());
    if (t.ProxyCredentials) {
        set(CURLOPT_PROXYUSERNAME, Settings.ProxyUsername.c_str());
        set(CURLOPT_PROXYPASSWORD, Settings.ProxyPassword.c_str());
        set(CURLOPT_PROXYAUTH, kAuthMethods);
    }

    if (body) {
        set(CURLOPT_POST, 1L);
        set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body->size()));
        set(CURLOPT_POSTFIELDS, body->data());
        set(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
    } else {
        set(CURLOPT_HTTPGET, 1L);
        set(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    }
    if (first != CURLE_OK) throw std::runtime_error(curl_easy_strerror(first));
}

THTTPResponse THTTPClient::Perform(const std::string& url, const std::string* body) {
    THTTPResponse response;
    TTransfer t;
    t.Client = this;
    t.Easy = static_cast<CURL*>(FEasy.get());
    t.MaxBody = MaxPageBytes(Settings);
    try {
        Configure(url, body, t);
    } catch (const std::runtime_error& e) {
        response.Error = e.what();
        return response;
    }

    CURLcode result = CURLE_OK;
    bool readTimedOut = false;
    {
        CURLM* multi = static_cast<CURLM*>(FMulti.get());
        TAttached attached(multi, t.Easy);
        if (attached.Code() != CURLM_OK) {
            response.Error = curl_multi_strerror(attached.Code());
            return response;
        }
        const int readTimeout = EffectiveReadTimeout(Settings);
        t.LastActivity = Clock::now();
        for (bool done = false; !done;) {
            int running = 0;
            const CURLMcode mc = curl_multi_perform(multi, &running);
            if (mc != CURLM_OK) {
                response.Error = curl_multi_strerror(mc);
                t.EndBody();
                return response;
            }
            int left = 0;
            while (CURLMsg* msg = curl_multi_info_read(multi, &left)) {
                if (msg->msg == CURLMSG_DONE && msg->easy_handle == t.Easy) {
                    result = msg->data.result;
                    done = true;
                }
            }
            if (done || t.Pending) break;

            int waitMs = kIdleIntervalMs;
            const Clock::time_point now = Clock::now();
            if (t.Connected) {
                using std::chrono::duration_cast, std::chrono::milliseconds;
                const auto idle = duration_cast<milliseconds>(now - t.LastActivity).count();
                auto span = duration_cast<milliseconds>(now - t.SpanStart).count();
                if (span >= readTimeout && t.SpanBytes >= kMinBytesPerReadTimeout) {
                    t.SpanStart = now;  // enough went through: the next span starts
                    t.SpanBytes = 0;
                    span = 0;
                }
                if (idle >= readTimeout || span >= readTimeout) {
                    readTimedOut = true;  // leaving the multi handle unfinished closes the connection
                    break;
                }
                waitMs = static_cast<int>(std::min<int64_t>({waitMs, readTimeout - idle, readTimeout - span}));
            }
            const CURLMcode pc = curl_multi_poll(multi, nullptr, 0, waitMs, nullptr);
            if (pc != CURLM_OK) {
                response.Error = curl_multi_strerror(pc);
                t.EndBody();
                return response;
            }
            // Every wake, by data or by the time-out: the caller never goes longer than the
            // time-out without a turn, however slowly libcurl reports progress.
            if (OnIdle) OnIdle();
        }
    }
    t.EndBody();
    if (t.Pending) std::rethrow_exception(t.Pending);

    long code = 0;
    if (curl_easy_getinfo(t.Easy, CURLINFO_RESPONSE_CODE, &code) != CURLE_OK) code = 0;
    response.Status = code > 0 ? static_cast<int32_t>(code) : -1;
    const bool success = response.Status >= 200 && response.Status <= 299;

    if (!readTimedOut && result == CURLE_OK) {
        response.Outcome = success ? THTTPOutcome::Ok : THTTPOutcome::HTTPError;
        response.Body = std::move(t.Body);
        response.Location = std::move(t.Location);
        return response;
    }
    if (readTimedOut) {
        response.Outcome = THTTPOutcome::ReadTimeout;
        response.Error = "Read timed out";
    } else if (t.TooLarge) {
        response.Error = "Page larger than " + std::to_string(t.MaxBody / (1024 * 1024)) +
                         " MiB (the \"MaxPageSize\" setting)";
    } else {
        // No time limit but the connect time-out is set, so a time-out from libcurl is that one.
        response.Outcome = result == CURLE_OPERATION_TIMEDOUT ? THTTPOutcome::ConnectTimeout : THTTPOutcome::Failed;
        response.Error = t.ErrorBuffer[0] ? t.ErrorBuffer : curl_easy_strerror(result);
    }
    // A transfer that broke off is no success, whatever status its headers had.
    if (success) response.Status = -1;
    return response;
}
