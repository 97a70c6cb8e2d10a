#include "net/cachewriter.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "platform/files.h"
#include "tests/net/testservers.h"

using testing_servers::TTempDir;

namespace {

namespace fs = std::filesystem;

std::optional<std::string> Read(const std::string& path) {
    std::string text;
    if (!platform::ReadWholeFile(path, text)) return std::nullopt;
    return text;
}

void Put(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    for (const platform::DirEntry& e : platform::ListDirectory(folder)) names.push_back(e.Name);
    return names;
}

ino_t Inode(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

class CacheWriterTest : public ::testing::Test {
protected:
    std::string Cache(const std::string& name) const { return Base.Path() + "cache/" + name; }
    std::string SpareFolder() const { return Base.Path() + "temp/"; }

    TTempDir Base;
};

TEST_F(CacheWriterTest, ReplacesWhatStandsAtThePath) {
    struct Case {
        const char* Name;
        bool Folder;                                     // the page's folder exists
        std::function<void(const std::string& path)> Before;  // puts something at the path
        std::string Error;                               // empty: the page is written
    } cases[] = {
        {"nothing", true, [](const std::string&) {}, ""},
        {"a page", true, [](const std::string& p) { Put(p, "old page"); }, ""},
        {"a longer page", true, [](const std::string& p) { Put(p, std::string(9000, 'o')); }, ""},
        {"no folder yet", false, [](const std::string&) {}, ""},
        {"a link to a file", true,
         [](const std::string& p) {
             Put(p + ".real", "linked");
             fs::create_symlink(p + ".real", p);
         },
         ""},
        {"a folder", true, [](const std::string& p) { fs::create_directories(p + "/inside"); },
         "cannot replace it: Is a directory"},
        {"a file where its folder should be", false,
         [](const std::string& p) {
             fs::create_directories(fs::path(p).parent_path().parent_path());
             Put(fs::path(p).parent_path().string(), "in the way");
         },
         "cannot create its folder"},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string name = c.Name;
        const std::string folder = Cache("case" + std::to_string(++n) + "/sub");
        const std::string path = folder + "/p.html";
        if (c.Folder) fs::create_directories(folder);
        c.Before(path);
        TCacheWriter writer(SpareFolder());
        // The spare already holds a longer page of its own.
        ASSERT_EQ(writer.Write(Cache("warm.html"), std::string(7000, 'w')), "");
        ASSERT_EQ(writer.Write(Cache("warm.html"), "w"), "");
        ASSERT_FALSE(writer.Spare().empty());

        EXPECT_EQ(writer.Write(path, "new page"), c.Error);
        if (c.Error.empty()) {
            EXPECT_EQ(Read(path), "new page");
            EXPECT_FALSE(fs::is_symlink(path));
            std::vector<std::string> names = Names(folder);
            std::erase(names, "p.html.real");
            EXPECT_EQ(names, std::vector<std::string>{"p.html"});  // nothing temporary beside it
        } else {
            EXPECT_FALSE(fs::is_regular_file(path));
        }
        if (name == "a link to a file") {
            EXPECT_EQ(Read(path + ".real"), "linked");
        }
        if (name == "a folder") {
            EXPECT_TRUE(fs::is_directory(path + "/inside"));
        }
        EXPECT_EQ(Read(Cache("warm.html")), "w");
    }
}

// Pages of every size written, replaced and written anew in a random order must each read back
// as last written: a spare that held a longer page must not leave its tail behind.
TEST_F(CacheWriterTest, EveryPageReadsBackAsLastWritten) {
    std::mt19937 random(20240601);
    std::map<std::string, std::string> expected;
    TCacheWriter writer(SpareFolder());
    for (int step = 0; step < 400; ++step) {
        const std::string path = Cache("day" + std::to_string(random() % 3) + "/p" + std::to_string(random() % 12));
        const size_t sizes[] = {1, 100, 4095, 4096, 4097, 50 * 1024, 200000};
        std::string page(sizes[random() % std::size(sizes)], '\0');
        for (char& ch : page) ch = static_cast<char>('a' + random() % 26);
        ASSERT_EQ(writer.Write(path, page), "") << step;
        expected[path] = page;
    }
    for (const auto& [path, page] : expected) EXPECT_EQ(Read(path), page) << path;
}

// The point of the spare: replacing pages takes no new file from the file system; the replaced
// page's file carries the next page. The pages' folders hold the pages only, the spare folder the
// spare only, and the spare goes with the writer.
TEST_F(CacheWriterTest, ReplacingPagesReusesTheirFiles) {
    const std::vector<std::string> pages = {Cache("a/1.html"), Cache("a/2.html"), Cache("b/3.html")};
    std::set<ino_t> inodes;
    {
        TCacheWriter writer(SpareFolder());
        for (const std::string& p : pages) ASSERT_EQ(writer.Write(p, "first " + p), "");
        for (int round = 0; round < 10; ++round) {
            for (const std::string& p : pages) {
                ASSERT_EQ(writer.Write(p, "round " + std::to_string(round) + " " + p), "");
                inodes.insert(Inode(p));
                inodes.insert(Inode(writer.Spare()));
            }
        }
        EXPECT_LE(inodes.size(), pages.size() + 1);
        for (const std::string& p : pages) EXPECT_EQ(Read(p), "round 9 " + p);
        EXPECT_EQ(Names(Cache("a")), (std::vector<std::string>{"1.html", "2.html"}));
        EXPECT_EQ(Names(Cache("b")), std::vector<std::string>{"3.html"});
        ASSERT_FALSE(writer.Spare().empty());
        EXPECT_EQ(Names(SpareFolder()), std::vector<std::string>{fs::path(writer.Spare()).filename().string()});
    }
    EXPECT_TRUE(Names(SpareFolder()).empty());
}

// A page that is also linked elsewhere keeps its old bytes there: once replaced it is not reused.
TEST_F(CacheWriterTest, LeavesAPageLinkedElsewhereAlone) {
    TCacheWriter writer(SpareFolder());
    ASSERT_EQ(writer.Write(Cache("p.html"), "old"), "");
    fs::create_hard_link(Cache("p.html"), Base.Path() + "kept.html");
    ASSERT_EQ(writer.Write(Cache("p.html"), "new"), "");
    ASSERT_EQ(writer.Write(Cache("q.html"), "other"), "");
    ASSERT_EQ(writer.Write(Cache("p.html"), "newer"), "");
    EXPECT_EQ(Read(Base.Path() + "kept.html"), "old");
    EXPECT_EQ(Read(Cache("p.html")), "newer");
    EXPECT_EQ(Read(Cache("q.html")), "other");
}

// Without a spare (its folder cannot be made, or it vanished) pages are still written whole, the
// plain way, with nothing left beside them.
TEST_F(CacheWriterTest, WritesWithoutASpare) {
    Put(Base.Path() + "blocked", "a file where the spare folder should be");
    TCacheWriter blocked(Base.Path() + "blocked/");
    ASSERT_EQ(blocked.Write(Cache("p.html"), "one"), "");
    ASSERT_EQ(blocked.Write(Cache("p.html"), "two"), "");
    EXPECT_EQ(Read(Cache("p.html")), "two");
    EXPECT_EQ(Names(Cache("")), std::vector<std::string>{"p.html"});

    TCacheWriter writer(SpareFolder());
    ASSERT_EQ(writer.Write(Cache("p.html"), "three"), "");
    ASSERT_FALSE(writer.Spare().empty());
    fs::remove_all(SpareFolder());  // the temporary folder emptied by another program
    ASSERT_EQ(writer.Write(Cache("p.html"), "four"), "");
    EXPECT_EQ(Read(Cache("p.html")), "four");
    EXPECT_EQ(Names(Cache("")), std::vector<std::string>{"p.html"});
}

}  // namespace
