// Net layer: the page functions behind HTTP.Get and HTTP.Post, without Lua: the per-script file
// cache and the age of its pages, the retry loop and its log lines, cleaning the cache.
#include "net/httpfunctions.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <vector>

#include "platform/files.h"
#include "platform/systime.h"
#include "util/fileutils.h"

namespace {

bool IsRedirect(int32_t status) { return status == 302 || status == 303 || status == 307; }

// Text from the network in a log line: no line breaks, no terminal escapes.
void ShowControlsAsQuestionMarks(std::string& text) {
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
}

// The cached page at path when it is fresh enough for cacheAge: one open, one status (time and
// size) and one read straight into the page. A page that cannot be read counts as stale, and so
// does an empty one, which was never written as such (empty pages are not cached): both are
// fetched again.
bool ReadFreshPage(const std::string& path, int32_t cacheAge, double startDateTime, std::string& page) {
    if (cacheAge != kAnyCacheAge && cacheAge <= 0) return false;  // no file is younger than 0 days
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    bool fresh = ::fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode);
    if (fresh && cacheAge != kAnyCacheAge) {
        const int64_t modified = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000;
        fresh = CacheAgeDays(startDateTime, FileDateTime(modified)) < cacheAge;
    }
    size_t got = 0;
    if (fresh) {
        // The size from the status; a file that shows none (not a plain file) is read to its end.
        const size_t expected = st.st_size > 0 ? static_cast<size_t>(st.st_size) : 0;
        page.resize(expected > 0 ? expected : 4096);
        while (expected == 0 || got < expected) {
            if (got == page.size()) page.resize(page.size() * 2);
            const ssize_t n = ::read(fd, page.data() + got, page.size() - got);
            if (n == 0) break;
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                fresh = false;
                break;
            }
            got += static_cast<size_t>(n);
        }
    }
    ::close(fd);
    page.resize(fresh ? got : 0);
    return fresh && got > 0;
}

}  // namespace

std::string URLForLog(std::string_view url) {
    // The authority runs from after "//" (or from the start, as libcurl guesses a missing scheme) to
    // the first "/", "?" or "#"; the user information is what precedes its last "@".
    size_t start = 0;
    const size_t scheme = url.find("://");
    if (scheme != std::string_view::npos && url.find_first_of("/?#") > scheme) start = scheme + 3;
    else if (url.substr(0, 2) == "//") start = 2;
    const size_t end = std::min(url.find_first_of("/?#", start), url.size());
    const size_t at = url.substr(start, end - start).rfind('@');
    std::string shown(url.substr(0, start));
    shown += url.substr(at == std::string_view::npos ? start : start + at + 1);
    ShowControlsAsQuestionMarks(shown);  // URLs are often built from page text
    return shown;
}

std::string BodyExcerpt(std::string_view body) {
    constexpr size_t kMaxExcerpt = 200;
    size_t length = std::min(body.size(), kMaxExcerpt);
    // Cut before a character whose UTF-8 continuation bytes would be left behind.
    if (length < body.size())
        for (size_t back = 0; back < 3 && length > 0 && (static_cast<unsigned char>(body[length]) & 0xC0) == 0x80;
             ++back)
            --length;
    std::string excerpt(body.substr(0, length));
    ShowControlsAsQuestionMarks(excerpt);
    if (length < body.size()) excerpt += " ... (" + std::to_string(body.size()) + " bytes)";
    return excerpt;
}

int32_t CacheAgeDays(double startDateTime, double fileDateTime) {
    const double days = startDateTime - fileDateTime + 0.1;
    // A file stamped after the start (written during the run, or a clock set wrong) is fresh, not
    // of negative age: with that, CacheAge 0 would serve it and CleanCache 0 would keep it.
    if (days <= 0) return 0;
    if (days >= 2147483647.0) return 2147483647;
    return static_cast<int32_t>(std::trunc(days));
}

double FileDateTime(int64_t fileUnixMs) {
    return platform::DateTimeFromSystemTime(platform::LocalFromUnixMs(fileUnixMs));
}

std::optional<std::string> CachePathIn(const std::string& folder, const std::string& cacheFile) {
    if (cacheFile.find('\0') != std::string::npos) return std::nullopt;
    std::string name = cacheFile;
    std::replace(name.begin(), name.end(), '\\', '/');  // scripts were written with either separator
    if (name.empty() || name[0] == '/') return std::nullopt;
    if (name.size() >= 2 && name[1] == ':' && ((name[0] | 0x20) >= 'a' && (name[0] | 0x20) <= 'z'))
        return std::nullopt;  // a drive letter
    std::vector<std::string> parts;
    std::string part;
    size_t start = 0;
    while (start <= name.size()) {
        size_t slash = name.find('/', start);
        if (slash == std::string::npos) slash = name.size();
        part = name.substr(start, slash - start);
        if (part == "..") {
            if (parts.empty()) return std::nullopt;
            parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = slash + 1;
    }
    if (part.empty() || part == "." || part == "..") return std::nullopt;  // names a folder, not a file
    std::string path = folder;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i) path += '/';
        path += parts[i];
    }
    return path;
}

THTTPFunctions::THTTPFunctions(THTTPClient& client, std::string baseDir, double startDateTime)
    : Sleep([this](uint32_t ms) { WaitKeepingAlive(ms); }),
      FClient(client),
      FBaseDir(std::move(baseDir)),
      FStartDateTime(startDateTime),
      FCacheWriter(FBaseDir + "temp/") {}

void THTTPFunctions::WaitKeepingAlive(uint32_t ms) const {
    // A retry delay of seconds must not freeze a window: wait in slices, giving it a turn after each.
    constexpr uint32_t kSliceMs = 100;
    while (ms > 0) {
        const uint32_t slice = std::min(ms, kSliceMs);
        platform::SleepMs(slice);
        ms -= slice;
        if (FClient.OnIdle) FClient.OnIdle();
    }
}

std::string THTTPFunctions::CacheFolder(const std::optional<std::string>& scriptID) const {
    return FBaseDir + "cache/" + scriptID.value_or("none") + "/";
}

TPageResult THTTPFunctions::Get(const TPageRequest& request) { return Fetch(request, nullptr); }

TPageResult THTTPFunctions::Post(const TPageRequest& request, const std::string& postVars) {
    return Fetch(request, &postVars);
}

TPageResult THTTPFunctions::Fetch(const TPageRequest& request, const std::string* postVars) {
    FClient.Settings.WebUsername = request.Username;
    FClient.Settings.WebPassword = request.Password;

    std::optional<std::string> cachePath;
    if (!request.CacheFile.empty()) {
        cachePath = CachePathIn(CacheFolder(request.ScriptID), request.CacheFile);
        if (!cachePath)
            FClient.Log("Cache file \"" + request.CacheFile + "\" refused: it must lie inside the script's cache folder",
                        false);
    }

    if (FClient.OnStatus) FClient.OnStatus(3, "Downloading " + URLForLog(request.URL) + " ...");

    TPageResult result;
    if (cachePath && ReadFreshPage(*cachePath, request.CacheAge, FStartDateTime, result.Page)) {
        result.Status = 0;
        return result;
    }

    result = Download(request.URL, postVars);
    if (result.Status != -1 && cachePath && !result.Page.empty()) StoreInCache(*cachePath, result.Page);
    return result;
}

TPageResult THTTPFunctions::Download(const std::string& url, const std::string* postVars) {
    // Settings from the file may be anything: no attempt at all, or a "negative" wait of 49 days,
    // would be worse than one attempt and no wait.
    const int32_t maxRetries = std::max(FClient.Settings.MaxRetries, 0);
    const int32_t retryDelay = std::max(FClient.Settings.RetryDelay, 0);

    TPageResult result;
    for (int32_t attempt = 0; attempt <= maxRetries;) {
        THTTPResponse response = postVars ? FClient.Post(url, *postVars) : FClient.Get(url);
        switch (response.Outcome) {
            case THTTPOutcome::Ok:
                result.Page = std::move(response.Body);
                result.Status = response.Status;
                FClient.BytesDownloaded += static_cast<int64_t>(result.Page.size());
                FClient.Downloads += 1;
                return result;
            case THTTPOutcome::ReadTimeout:
            case THTTPOutcome::ConnectTimeout: {
                ++attempt;
                const char* what = response.Outcome == THTTPOutcome::ReadTimeout ? "Read" : "Connect";
                FClient.Log(std::string(what) + " timed out retrying " + std::to_string(maxRetries - attempt + 1) +
                                " more times in " + std::to_string(retryDelay) + " ms",
                            false);
                if (retryDelay != 0 && attempt <= maxRetries && Sleep) Sleep(static_cast<uint32_t>(retryDelay));
                break;
            }
            case THTTPOutcome::HTTPError:
                result.Status = response.Status;
                if (!postVars && IsRedirect(response.Status)) {
                    FClient.Log("Redirecting to: " + URLForLog(response.Location), true);
                    result.Page = std::move(response.Location);
                    return result;
                }
                FClient.Log("HTTP Protocol error(" + std::to_string(response.Status) + ") downloading \"" +
                                URLForLog(url) + "\" : " + BodyExcerpt(response.Body),
                            false);
                return result;
            case THTTPOutcome::Failed:
                result.Status = response.Status;
                ShowControlsAsQuestionMarks(response.Error);  // it may quote what the server sent
                FClient.Log("Error downloading \"" + URLForLog(url) + "\" : " + response.Error, false);
                return result;
        }
    }
    result.Status = -1;  // every attempt timed out
    return result;
}

void THTTPFunctions::StoreInCache(const std::string& path, const std::string& page) {
    // Failing to cache never fails the call: the page has been downloaded.
    const std::string error = FCacheWriter.Write(path, page);
    if (!error.empty()) FClient.Log("Cache file \"" + path + "\" not written: " + error, false);
}

void THTTPFunctions::CleanCache(const std::optional<std::string>& scriptID, int32_t maxDays) {
    std::vector<std::string> files;
    FindFiles(CacheFolder(scriptID), "*", true, files, TLinks::AsFiles);   // a link goes, never what it leads to
    for (const std::string& file : files) {
        const std::optional<int64_t> modified = platform::FileModifiedMs(file);
        if (modified && CacheAgeDays(FStartDateTime, FileDateTime(*modified)) >= maxDays)
            platform::DeleteFile(file);
    }
}
