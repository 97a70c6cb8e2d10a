#include "scriptapi/uluafuncs_http.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <vector>

#include "platform/files.h"
#include "platform/systime.h"
#include "util/fileutils.h"

namespace {

constexpr double kMsPerDay = 86400000.0;

bool IsRedirect(int32_t status) { return status == 302 || status == 303 || status == 307; }

std::string Reason(const char* what, int err) { return std::string(what) + ": " + std::strerror(err); }

// The page goes to a temporary file beside the cache file and is renamed over it, so an
// interrupted write never leaves a truncated page to be served as fresh. Unlike the settings and
// the XMLTV file, cache pages are not synced to disk: that costs more than the download itself,
// and a page lost in a system crash is fetched again (an emptied one reads as absent).
// Returns the reason of a failure, empty on success.
std::string WriteCacheFile(const std::string& path, const std::string& page) {
    static unsigned serial = 0;
    std::string temp;
    int fd = -1;
    for (int tries = 0; fd < 0 && tries < 100; ++tries) {
        temp = path + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(++serial);
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) return Reason("cannot create a temporary file", errno);
    }
    if (fd < 0) return "cannot create a temporary file";
    const char* p = page.data();
    size_t left = page.size();
    while (left > 0) {
        const ssize_t put = ::write(fd, p, left);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            const int err = put < 0 ? errno : EIO;
            ::close(fd);
            ::unlink(temp.c_str());
            return Reason("cannot write", err);
        }
        p += put;
        left -= static_cast<size_t>(put);
    }
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        return Reason("cannot write", err);
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        return Reason("cannot replace it", err);
    }
    return "";
}

}  // namespace

int32_t CacheAgeDays(int64_t startUnixMs, int64_t fileUnixMs) {
    const double days = static_cast<double>(startUnixMs - fileUnixMs) / kMsPerDay + 0.1;
    // A file stamped after the start (written during the run, or a clock set wrong) is fresh, not
    // of negative age: with that, CacheAge 0 would serve it and CleanCache 0 would keep it.
    if (days <= 0) return 0;
    if (days >= 2147483647.0) return 2147483647;
    return static_cast<int32_t>(std::trunc(days));
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

THTTPFunctions::THTTPFunctions(THTTPClient& client, std::string baseDir, int64_t startUnixMs)
    : Sleep(platform::SleepMs), FClient(client), FBaseDir(std::move(baseDir)), FStartUnixMs(startUnixMs) {}

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

    if (FClient.OnStatus) FClient.OnStatus(3, "Downloading " + request.URL + " ...");

    TPageResult result;
    if (cachePath && platform::FileExists(*cachePath)) {
        bool fresh = request.CacheAge == kAnyCacheAge;
        if (!fresh) {
            const std::optional<int64_t> modified = platform::FileModifiedMs(*cachePath);
            fresh = modified && CacheAgeDays(FStartUnixMs, *modified) < request.CacheAge;
        }
        // A cached page that cannot be read is fetched again, as if it were stale; so is an empty
        // one, which was never written as such (empty pages are not cached).
        if (fresh && platform::ReadWholeFile(*cachePath, result.Page) && !result.Page.empty()) {
            result.Status = 0;
            return result;
        }
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
        const THTTPResponse response = postVars ? FClient.Post(url, *postVars) : FClient.Get(url);
        switch (response.Outcome) {
            case THTTPOutcome::Ok:
                result.Page = response.Body;
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
                    result.Page = response.Location;
                    FClient.Log("Redirecting to: " + response.Location, true);
                    return result;
                }
                FClient.Log("HTTP Protocol error(" + std::to_string(response.Status) + ") downloading \"" + url +
                                "\" : " + response.Body,
                            false);
                return result;
            case THTTPOutcome::Failed:
                result.Status = response.Status;
                FClient.Log("Error downloading \"" + url + "\" : " + response.Error, false);
                return result;
        }
    }
    result.Status = -1;  // every attempt timed out
    return result;
}

void THTTPFunctions::StoreInCache(const std::string& path, const std::string& page) {
    // Failing to cache never fails the call: the page has been downloaded.
    const size_t slash = path.rfind('/');
    std::string error;
    if (slash != std::string::npos && !platform::DirectoryExists(path.substr(0, slash)) &&
        !platform::ForceDirectories(path.substr(0, slash)))
        error = "cannot create its folder";
    else
        error = WriteCacheFile(path, page);
    if (!error.empty()) FClient.Log("Cache file \"" + path + "\" not written: " + error, false);
}

void THTTPFunctions::CleanCache(const std::optional<std::string>& scriptID, int32_t maxDays) {
    std::vector<std::string> files;
    FindFiles(CacheFolder(scriptID), "*", true, files);
    for (const std::string& file : files) {
        const std::optional<int64_t> modified = platform::FileModifiedMs(file);
        if (modified && CacheAgeDays(FStartUnixMs, *modified) >= maxDays) platform::DeleteFile(file);
    }
}
