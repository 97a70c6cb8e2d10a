// Local servers for the download and mail tests and the download benchmark: the Python scripts of
// tests/servers, started on 127.0.0.1 with a port of the system's choosing and stopped at the end.
#pragma once

#include <curl/curl.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace testing_servers {

inline std::string ServerScript(const std::string& name) {
    return std::string(TAVRIN_SOURCE_DIR) + "/tests/servers/" + name;
}

// A server process that prints "PORT <n>" when it listens.
class TServerProcess {
public:
    TServerProcess(const std::string& script, const std::vector<std::string>& args = {}) {
        int out[2];
        if (::pipe(out) != 0) throw std::runtime_error("pipe failed");
        std::vector<std::string> argv = {"/usr/bin/python3", ServerScript(script)};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<char*> cargv;
        for (auto& a : argv) cargv.push_back(a.data());
        cargv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        const int rc = posix_spawn(&FPid, argv[0].c_str(), &actions, nullptr, cargv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        if (rc != 0) {
            ::close(out[0]);
            throw std::runtime_error("cannot start " + script);
        }
        FPort = ReadPort(out[0]);
        ::close(out[0]);
        if (FPort <= 0) {
            Stop();
            throw std::runtime_error(script + " did not report its port");
        }
    }
    ~TServerProcess() { Stop(); }
    TServerProcess(const TServerProcess&) = delete;
    TServerProcess& operator=(const TServerProcess&) = delete;

    int Port() const { return FPort; }
    std::string URL(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(FPort) + path; }

    void Stop() {
        if (FPid <= 0) return;
        ::kill(FPid, SIGTERM);
        int status = 0;
        ::waitpid(FPid, &status, 0);
        FPid = -1;
    }

private:
    static int ReadPort(int fd) {
        std::string line;
        for (;;) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 15000) <= 0) return -1;  // a server that never starts fails the test
            char c;
            if (::read(fd, &c, 1) != 1) return -1;
            if (c == '\n') break;
            line += c;
        }
        return line.rfind("PORT ", 0) == 0 ? std::atoi(line.c_str() + 5) : -1;
    }

    pid_t FPid = -1;
    int FPort = 0;
};

// One request as the test server logged it.
struct TLoggedRequest {
    int Conn = 0;
    std::string Method, Path, Version;
    std::map<std::string, std::string> Headers;  // names in lower case
    std::string Body;

    bool Has(const std::string& name) const { return Headers.count(name) != 0; }
    std::string Header(const std::string& name) const {
        auto it = Headers.find(name);
        return it == Headers.end() ? std::string() : it->second;
    }
};

inline std::string Unhex(const std::string& hex) {
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

inline size_t CollectBody(char* data, size_t size, size_t count, void* user) {
    static_cast<std::string*>(user)->append(data, size * count);
    return size * count;
}

// A plain GET on a handle of its own, for control pages.
inline std::string FetchRaw(const std::string& url) {
    std::string body;
    CURL* h = curl_easy_init();
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_PROXY, "");
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &CollectBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &body);
    const CURLcode rc = curl_easy_perform(h);
    curl_easy_cleanup(h);
    if (rc != CURLE_OK) throw std::runtime_error("control request failed: " + url);
    return body;
}

inline std::vector<TLoggedRequest> RequestLog(const TServerProcess& server) {
    std::vector<TLoggedRequest> log;
    const std::string text = FetchRaw(server.URL("/_log"));
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        if (line.empty()) continue;
        if (line[0] == '#') {
            TLoggedRequest r;
            char method[32], path[4096], version[32];
            if (std::sscanf(line.c_str(), "#%*d conn=%d %31s %4095s %31s", &r.Conn, method, path, version) == 4) {
                r.Method = method;
                r.Path = path;
                r.Version = version;
            }
            log.push_back(r);
        } else if (!log.empty() && line.rfind("body=", 0) == 0) {
            log.back().Body = Unhex(line.substr(5));
        } else if (!log.empty()) {
            const size_t colon = line.find(':');
            if (colon == std::string::npos) continue;
            std::string name = line.substr(0, colon);
            for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            log.back().Headers[name] = line.substr(colon + 2 <= line.size() ? colon + 2 : colon + 1);
        }
    }
    return log;
}

// A port that accepts no connection: its listen queue is full, so a connect attempt waits until
// its time-out.
class TBlackhole {
public:
    TBlackhole() {
        FListener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (::bind(FListener, reinterpret_cast<sockaddr*>(&addr), len) != 0 || ::listen(FListener, 0) != 0 ||
            ::getsockname(FListener, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
            throw std::runtime_error("cannot set up the blackhole");
        FPort = ntohs(addr.sin_port);
        for (int i = 0; i < 3; ++i) {  // fill the queue
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
            FFillers.push_back(fd);
        }
    }
    ~TBlackhole() {
        for (int fd : FFillers) ::close(fd);
        ::close(FListener);
    }
    TBlackhole(const TBlackhole&) = delete;
    TBlackhole& operator=(const TBlackhole&) = delete;
    std::string URL(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(FPort) + path; }

private:
    int FListener = -1;
    int FPort = 0;
    std::vector<int> FFillers;
};

// A folder of its own for one test, removed with everything in it.
class TTempDir {
public:
    TTempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tavrin-http-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        FPath = pattern + "/";
    }
    ~TTempDir() {
        std::error_code ec;
        std::filesystem::remove_all(FPath, ec);
    }
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;
    const std::string& Path() const { return FPath; }  // ends in "/"

private:
    std::string FPath;
};

}  // namespace testing_servers
