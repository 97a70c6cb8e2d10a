// A scratch program folder for driving the engine: init files from the source tree, scripts and
// settings written by the test, and an engine whose log the test keeps.
#pragma once

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "engine/uluagrabbers.h"

namespace testing_support {

namespace fs = std::filesystem;

inline std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void WriteFile(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

// Runs a command through the shell; its exit status, or -1 when it did not end normally.
inline int Shell(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class ProgramFolder {
public:
    ProgramFolder() {
        std::string pattern = (fs::temp_directory_path() / "tavrin-program-XXXXXX").string();
        Root = std::string(mkdtemp(pattern.data())) + "/";
        fs::copy_file(fs::path(TAVRIN_SOURCE_DIR) / "init.lua", Root + "init.lua");
        fs::create_directories(Root + "lib");
        fs::copy_file(fs::path(TAVRIN_SOURCE_DIR) / "lib/compat-5.1.lua", Root + "lib/compat-5.1.lua");
        fs::create_directories(Root + "settings");
        FOldDir = fs::current_path();
        fs::current_path(Root);   // relative log file names land here
    }
    ~ProgramFolder() {
        fs::current_path(FOldDir);
        fs::remove_all(Root);
    }
    void Script(const std::string& name, const std::string& text) const { WriteFile(Root + "scripts/" + name, text); }
    void Ini(const std::string& text) const { WriteFile(Root + "settings/tavrin.ini", text); }
    std::string IniText() const { return ReadFile(Root + "settings/tavrin.ini"); }

    std::string Root;   // ends in "/"

private:
    fs::path FOldDir;
};

// An engine over a program folder, with its log lines kept without their time prefix.
class EngineRun {
public:
    explicit EngineRun(const ProgramFolder& folder, const std::string& settingsDir = "settings") {
        BaseDir = folder.Root;
        SettingsDir = settingsDir;
        Engine = std::make_unique<TLuaGrabbers>([this](const std::string& line) { Add(line); },
                                                [this] {
                                                    Raw.push_back("Lua Panic");
                                                    Lines.push_back("Lua Panic");
                                                });
        Engine->OnGetLog = [this] {
            std::string text;
            for (const std::string& line : Raw) text += line + "\r\n";
            return text;
        };
    }
    ~EngineRun() {
        if (Engine) Engine->Destroy();
    }
    void Destroy() {
        Engine->Destroy();
        Engine.reset();
    }
    TLuaGrabber* Grabber(const std::string& id) const { return Engine->Grabbers.FindByID(id); }
    std::vector<std::string> GrabberOrder() const {
        std::vector<std::string> ids;
        for (const TLuaBase& g : Engine->Grabbers) ids.push_back(g.ID);
        return ids;
    }
    bool Logged(const std::string& line) const {
        for (const std::string& l : Lines)
            if (l == line) return true;
        return false;
    }

    std::unique_ptr<TLuaGrabbers> Engine;
    std::vector<std::string> Lines;   // without "HH:MM:SS - "
    std::vector<std::string> Raw;

private:
    void Add(const std::string& line) {
        Raw.push_back(line);
        static const std::regex stamp("^[0-2][0-9]:[0-5][0-9]:[0-5][0-9] - ");
        EXPECT_TRUE(std::regex_search(line, stamp)) << line;
        Lines.push_back(line.size() >= 11 ? line.substr(11) : line);
    }
};

}  // namespace testing_support
