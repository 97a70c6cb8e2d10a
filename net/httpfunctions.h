// What HTTP.Get, HTTP.Post, HTTP.SetAcptEnc and Tvrn.CleanCache do, without Lua: the per-script
// file cache, the retry loop and its log lines, the counters. The bindings only read the arguments,
// call these and push the results.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "net/cachewriter.h"
#include "net/httpclient.h"

constexpr int32_t kAnyCacheAge = -1;  // a cached page of any age is fresh

struct TPageRequest {
    std::string URL;
    std::optional<std::string> ScriptID;  // the caller's script; none: the cache folder "none"
    std::string Username, Password;       // empty when the script gave none
    std::string CacheFile;                // path inside the script's cache folder; empty: no caching
    int32_t CacheAge = kAnyCacheAge;      // whole days; a cached page younger than this is used
};

struct TPageResult {
    std::string Page;     // bytes as received (or as cached), never converted
    int32_t Status = -1;  // 0 from the cache, else the HTTP status; -1 when every attempt timed out
};

class THTTPFunctions {
public:
    // `baseDir` is the program folder with its trailing separator; `startDateTime` the engine's start
    // (its StartDateTime), from which cache ages count. Cache pages are written through a spare
    // file in the program's "temp/" folder.
    THTTPFunctions(THTTPClient& client, std::string baseDir, double startDateTime);
    THTTPFunctions(const THTTPFunctions&) = delete;
    THTTPFunctions& operator=(const THTTPFunctions&) = delete;

    TPageResult Get(const TPageRequest& request);
    TPageResult Post(const TPageRequest& request, const std::string& postVars);

    // Deletes every file below the script's cache folder whose cache age is at least maxDays.
    void CleanCache(const std::optional<std::string>& scriptID, int32_t maxDays);

    // Accept-Encoding of every later request of the engine.
    void SetAcptEnc(const std::string& encoding) { FClient.AcceptEncoding = encoding; }

    // "<BaseDir>cache/<ID>/", with "none" for no script.
    std::string CacheFolder(const std::optional<std::string>& scriptID) const;

    // The waits between attempts; tests replace it.
    std::function<void(uint32_t ms)> Sleep;
    // The default wait: sleeps in slices of at most 100 ms and calls the client's OnIdle after each.
    void WaitKeepingAlive(uint32_t ms) const;

private:
    TPageResult Fetch(const TPageRequest& request, const std::string* postVars);
    TPageResult Download(const std::string& url, const std::string* postVars);
    void StoreInCache(const std::string& path, const std::string& page);

    THTTPClient& FClient;
    std::string FBaseDir;
    double FStartDateTime;
    TCacheWriter FCacheWriter;
};

// Cache age in whole days of a file last modified at fileDateTime (local time, as a date-time in
// days like StartDateTime): the days from then to the engine's start plus 0.1, truncated. A file
// from after the start is 0 days old.
int32_t CacheAgeDays(double startDateTime, double fileDateTime);
// The local date-time of a file time in milliseconds since 1970-01-01 UTC.
double FileDateTime(int64_t fileUnixMs);

// A URL as the log shows it: without the user name and password it may carry ("user:pw@"), control
// characters shown as "?".
std::string URLForLog(std::string_view url);
// The start of an error page for one log line: at most 200 bytes (not cutting a UTF-8 character),
// control characters shown as "?", and when there was more " ... (<size> bytes)".
std::string BodyExcerpt(std::string_view body);

// The path of a script-chosen cache file inside `folder` (which ends in "/"), "\" counting as a
// separator. None when the name is absolute, holds a NUL byte, names no file, or whose ".." parts
// would leave the folder: cache names are often built from text found in pages.
std::optional<std::string> CachePathIn(const std::string& folder, const std::string& cacheFile);
