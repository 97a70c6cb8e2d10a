#include "platform/userfolder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

void Write(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
}

std::string Read(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class Scratch {
public:
    Scratch() {
        std::string pattern = (fs::temp_directory_path() / "tavrin-user-XXXXXX").string();
        Root = mkdtemp(pattern.data());
    }
    ~Scratch() { fs::remove_all(Root); }
    fs::path Root;
};

TEST(UserFolderTest, FolderFromTheEnvironment) {
    const struct {
        const char *xdg, *home, *expected;
    } cases[] = {
        {"/data", "/home/ann", "/data/tavrin/"},
        {"/data/", "/home/ann", "/data/tavrin/"},
        {nullptr, "/home/ann", "/home/ann/.local/share/tavrin/"},
        {"", "/home/ann/", "/home/ann/.local/share/tavrin/"},
        {"relative/data", "/home/ann", "/home/ann/.local/share/tavrin/"},
        {nullptr, nullptr, ""},
        {"", "relative", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(platform::UserProgramFolder(c.xdg, c.home), c.expected)
            << (c.xdg ? c.xdg : "(null)") << " " << (c.home ? c.home : "(null)");
}

// First start, the user's own changes, a second start, a package update and a moved package: the
// user's files stay as they are, and what is shipped is always reached as it now is.
TEST(UserFolderTest, FirstStartSecondStartAndUpdates) {
    Scratch scratch;
    const fs::path installed = scratch.Root / "usr/lib/tavrin";
    Write(installed / platform::kInstalledMarker, "");
    Write(installed / "init.lua", "-- init 1");
    Write(installed / "lib/compat-5.1.lua", "");
    Write(installed / "scripts/demo/demo.lua", "");
    Write(installed / "scripts/old.lua", "");
    Write(installed / "demo/tavrin.ini", "[Settings]\n");
    Write(installed / "cache/feeddemo/channels.dat", "page");
    fs::permissions(installed / "demo/tavrin.ini", fs::perms::owner_read | fs::perms::group_read);
    const std::string user = (scratch.Root / "home/.local/share/tavrin/").string();
    std::string error;

    ASSERT_TRUE(platform::PrepareUserProgramFolder(installed.string() + "/", user, error)) << error;
    for (const char* own : {"settings", "cache", "temp", "scripts", "demo"})
        EXPECT_TRUE(fs::is_directory(fs::symlink_status(user + own))) << own;
    for (const char* linked : {"init.lua", "lib", "scripts/demo", "scripts/old.lua"})
        EXPECT_TRUE(fs::is_symlink(user + linked)) << linked;
    EXPECT_EQ(fs::read_symlink(user + "lib"), installed / "lib");
    EXPECT_FALSE(fs::exists(fs::symlink_status(user + platform::kInstalledMarker)));
    EXPECT_EQ(Read(user + "cache/feeddemo/channels.dat"), "page");
    EXPECT_EQ(access((user + "demo/tavrin.ini").c_str(), W_OK), 0);   // a copy the user may change
    struct stat st;
    ASSERT_EQ(stat(user.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);   // the settings hold passwords

    // The user's own files, and an own link that leads nowhere.
    Write(user + "settings/tavrin.ini", "mine");
    Write(user + "demo/tavrin.ini", "my demo");
    Write(user + "scripts/mine.lua", "my script");
    fs::create_symlink(scratch.Root / "nowhere", user + "scripts/mylink.lua");
    fs::remove_all(user + "cache");
    ASSERT_TRUE(platform::PrepareUserProgramFolder(installed.string() + "/", user, error)) << error;
    EXPECT_TRUE(fs::is_directory(user + "cache"));

    // An update: a script goes, another comes, a file changes, a folder is new.
    fs::remove(installed / "scripts/old.lua");
    Write(installed / "scripts/new.lua", "");
    Write(installed / "init.lua", "-- init 2");
    Write(installed / "pics/about.png", "");
    ASSERT_TRUE(platform::PrepareUserProgramFolder(installed.string() + "/", user, error)) << error;
    EXPECT_FALSE(fs::exists(fs::symlink_status(user + "scripts/old.lua")));
    EXPECT_TRUE(fs::is_symlink(user + "scripts/new.lua"));
    EXPECT_TRUE(fs::is_symlink(user + "pics"));
    EXPECT_EQ(Read(user + "init.lua"), "-- init 2");

    // The package moves: the shipped names follow it.
    const fs::path moved = scratch.Root / "opt/tavrin";
    fs::create_directories(moved.parent_path());
    fs::rename(installed, moved);
    ASSERT_TRUE(platform::PrepareUserProgramFolder(moved.string() + "/", user, error)) << error;
    EXPECT_EQ(Read(user + "init.lua"), "-- init 2");
    EXPECT_EQ(fs::read_symlink(user + "scripts/demo"), moved / "scripts/demo");

    EXPECT_EQ(Read(user + "settings/tavrin.ini"), "mine");
    EXPECT_EQ(Read(user + "demo/tavrin.ini"), "my demo");
    EXPECT_EQ(Read(user + "scripts/mine.lua"), "my script");
    EXPECT_EQ(fs::read_symlink(user + "scripts/mylink.lua"), scratch.Root / "nowhere");

    // A program folder that cannot be made says where and why.
    Write(scratch.Root / "file", "");
    EXPECT_FALSE(platform::PrepareUserProgramFolder(moved.string() + "/", (scratch.Root / "file/tavrin/").string(), error));
    EXPECT_EQ(error, "Cannot create folder \"" + (scratch.Root / "file/tavrin").string() + "\": Not a directory");
}

}  // namespace
