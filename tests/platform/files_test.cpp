#include "platform/files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace platform;

namespace {

class FilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "tavrin-files-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        root = pattern + "/";
    }
    void TearDown() override { fs::remove_all(root); }

    void Put(const std::string& rel, const std::string& content = "x") {
        fs::create_directories(fs::path(root + rel).parent_path());
        std::ofstream(root + rel, std::ios::binary) << content;
    }
    std::string Get(const std::string& rel) {
        std::string content, error;
        EXPECT_TRUE(ReadWholeFile(root + rel, content, &error)) << error;
        return content;
    }
    std::string Listing() {  // the folder's names, sorted
        std::string names;
        for (const auto& e : ListDirectory(root)) names += e.Name + " ";
        return names;
    }

    std::string root;
};

}  // namespace

TEST(Mask, MatchesLikeWindowsWildcards) {
    struct Case { const char* name; const char* mask; bool match; };
    const Case cases[] = {
        {"News.LUA", "*.lua", true}, {"a.luac", "*.lua", false}, {"a.lua.bak", "*.lua", false},
        {"x.lua.lua", "*.lua", true}, {"x.lua", "?.lua", true},  {"xy.lua", "?.lua", false},
        {"", "*", true},             {"noext", "*.*", true},     {"abcbc", "a*bc", true},
        {"abcb", "a*bc", false},     {"ab", "abc", false},       {"a", "", false},
        {"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", "*a*a*a*a*a*a*a*a*b", false},
        {"\xC9t\xE9.lua", "\xE9t\xE9.lua", false},  // only ASCII letters fold
    };
    for (const auto& c : cases) EXPECT_EQ(MatchesMask(c.name, c.mask), c.match) << c.name << " / " << c.mask;
}

TEST_F(FilesTest, ListDirectorySortsFlagsAndFilters) {
    for (const char* rel : {"b.lua", "A.LUA", ".hidden", "sub/inner.lua", "c.txt", "Cdir/f"}) Put(rel);
    fs::create_directory_symlink(root + "sub", root + "link");
    struct Case { std::string folder, mask, expected; };
    const Case cases[] = {
        {root, "*", ".hidden A.LUA b.lua c.txt Cdir/ link/ sub/ "},
        {root, "*.lua", "A.LUA b.lua "},
        {root.substr(0, root.size() - 1), "?dir", "Cdir/ "},  // without trailing separator
        {root + "sub\\", "*", "inner.lua "},                    // Windows separator
        {root + "missing", "*", ""},
        {root + "b.lua", "*", ""},
    };
    for (const auto& c : cases) {
        std::string got;
        for (const auto& e : ListDirectory(c.folder, c.mask)) got += e.Name + (e.IsDirectory ? "/ " : " ");
        EXPECT_EQ(got, c.expected) << c.folder << " " << c.mask;
    }
}

TEST_F(FilesTest, ExistenceDeletionAndFolderCreation) {
    Put("file");
    Put("dir/inside");
    Put("blocker");
    fs::create_symlink(root + "nowhere", root + "dangling");
    struct Case { std::string path; bool file, dir, deleted; };
    const Case cases[] = {
        {root + "file", true, false, true},       {root + "dir", false, true, false},
        {root + "dir\\inside", true, false, true}, {root + "missing", false, false, false},
        {root + "dangling", false, false, true},  {"", false, false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FileExists(c.path), c.file) << c.path;
        EXPECT_EQ(DirectoryExists(c.path), c.dir) << c.path;
        EXPECT_EQ(DeleteFile(c.path), c.deleted) << c.path;
    }
    EXPECT_EQ(Listing(), "blocker dir ");
    EXPECT_EQ(ListDirectory(root + "dir").size(), 0u);

    struct Make { std::string path; bool ok; };
    const Make makes[] = {
        {root + "a/b/c", true}, {root + "a/b/c", true}, {root + "w\\x\\y\\", true}, {root + "p//q/", true},
        {root + "blocker/sub", false},  // a file is in the way
        {root + "blocker", false},      {"", false},
    };
    for (const auto& m : makes) EXPECT_EQ(ForceDirectories(m.path), m.ok) << m.path;
    for (const char* made : {"a/b/c", "w/x/y", "p/q"}) EXPECT_TRUE(fs::is_directory(root + made)) << made;
}

TEST_F(FilesTest, ModificationTimes) {
    Put("f");
    struct Case { int64_t ms; SYSTEMTIME utc; };
    const Case cases[] = {
        {1700000000123, {2023, 11, 2, 14, 22, 13, 20, 123}},
        {951782400000, {2000, 2, 2, 29, 0, 0, 0, 0}},   // leap day
        {-1, {1969, 12, 3, 31, 23, 59, 59, 999}},        // before 1970 rounds down, not toward zero
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(SetFileModifiedMs(root + "f", c.ms)) << c.ms;
        EXPECT_EQ(FileModifiedMs(root + "f"), c.ms);
        const SYSTEMTIME u = *FileModifiedUtc(root + "f");
        EXPECT_EQ(std::vector<int>({u.wYear, u.wMonth, u.wDayOfWeek, u.wDay, u.wHour, u.wMinute, u.wSecond, u.wMilliseconds}),
                  std::vector<int>({c.utc.wYear, c.utc.wMonth, c.utc.wDayOfWeek, c.utc.wDay, c.utc.wHour,
                                    c.utc.wMinute, c.utc.wSecond, c.utc.wMilliseconds})) << c.ms;
        EXPECT_EQ(UnixMsFromUtc(c.utc), c.ms);
        // Local records depend on the machine's zone, but lead back to the same instant.
        EXPECT_EQ(UnixMsFromLocal(*FileModifiedLocal(root + "f")), c.ms);
    }
    EXPECT_FALSE(FileModifiedMs(root + "missing").has_value());
    EXPECT_FALSE(SetFileModifiedMs(root + "missing", 0));
}

TEST_F(FilesTest, SaveFileReplacesOnlyOnCommit) {
    enum class End { Commit, Discard, Destroy };
    struct Case { const char* name; bool existed; End end; const char* expected; };
    const Case cases[] = {
        {"new", false, End::Commit, "fresh"},    {"old", true, End::Commit, "fresh"},
        {"kept", true, End::Discard, "before"},  {"dropped", true, End::Destroy, "before"},
        {"never", false, End::Destroy, nullptr},
    };
    for (const auto& c : cases) {
        if (c.existed) Put(c.name, "before");
        {
            SaveFile f(root + c.name);
            ASSERT_TRUE(f.Write("fre") && f.Write("sh")) << f.Error();
            if (c.existed) {
                EXPECT_EQ(Get(c.name), "before") << c.name;  // untouched while writing
            }
            if (c.end == End::Commit) {
                EXPECT_TRUE(f.Commit()) << f.Error();
            }
            if (c.end == End::Discard) f.Discard();
        }
        if (c.expected) {
            EXPECT_EQ(Get(c.name), c.expected) << c.name;
        }
    }
    EXPECT_EQ(Listing(), "dropped kept new old ");  // no temporary file left over
}

TEST_F(FilesTest, SaveFileKeepsModeAndLinks) {
    Put("mode", "a");
    ::chmod((root + "mode").c_str(), 0640);
    ASSERT_TRUE(WriteFileSafely(root + "mode", std::string("a\0b\r\n", 5)));
    struct stat st;
    ASSERT_EQ(::stat((root + "mode").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(Get("mode"), std::string("a\0b\r\n", 5));

    Put("sub/real", "a");
    fs::create_symlink(root + "sub/real", root + "alias");
    ASSERT_TRUE(WriteFileSafely(root + "alias", "through link"));
    EXPECT_TRUE(fs::is_symlink(root + "alias"));
    EXPECT_EQ(Get("sub\\real"), "through link");
}

TEST_F(FilesTest, FailuresAreReported) {
    fs::create_directory(root + "dir");
    struct Case { std::string target, error; };
    const Case cases[] = {
        {root + "missing/f", "Cannot create a temporary file for \"" + root + "missing/f\": No such file or directory"},
        {root + "dir", "Cannot write \"" + root + "dir\": Is a directory"},
        {root + "dir/", "Cannot write \"" + root + "dir/\": Is a directory"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(WriteFileSafely(c.target, "x", &error));
        EXPECT_EQ(error, c.error);
        SaveFile f(c.target);
        EXPECT_FALSE(f.Write("x") || f.Commit());
        EXPECT_EQ(f.Error(), c.error);  // the first failure is the one reported
    }
    EXPECT_EQ(Listing(), "dir ");
    EXPECT_TRUE(fs::is_empty(root + "dir"));

    std::string content = "stale", error;
    EXPECT_FALSE(ReadWholeFile(root + "missing", content, &error));
    EXPECT_EQ(error, "Cannot open \"" + root + "missing\": No such file or directory");
    EXPECT_EQ(content, "");
}

// The temporary file's name may be taken, and the flush to disk may fail: the old file survives.
TEST_F(FilesTest, SaveFileAroundItsTemporaryFile) {
    enum class Blocker { None, File, Folder };
    struct Case { const char* name; Blocker blocker; int flushError; std::string error; };
    const Case cases[] = {
        {"another writer's file", Blocker::File, 0, ""},
        {"a folder", Blocker::Folder, 0, "Cannot create a temporary file for \"" + root + "t\": Is a directory"},
        {"failing flush", Blocker::None, EIO, "Cannot write \"" + root + "t\": Input/output error"},
    };
    for (const auto& c : cases) {
        Put("t", "before");
        if (c.blocker == Blocker::File) Put("t.tmp", "theirs");
        if (c.blocker == Blocker::Folder) fs::create_directory(root + "t.tmp");
        if (c.flushError) FailFlushesForTest(c.flushError);
        std::string error;
        EXPECT_EQ(WriteFileSafely(root + "t", "after", &error), c.error.empty()) << c.name;
        EXPECT_EQ(error, c.error) << c.name;
        EXPECT_EQ(Get("t"), c.error.empty() ? "after" : "before") << c.name;
        // nothing of ours left beside it, and nothing of theirs touched
        EXPECT_EQ(Listing(), c.blocker == Blocker::None ? "t " : "t t.tmp ") << c.name;
        if (c.blocker == Blocker::File) {
            EXPECT_EQ(Get("t.tmp"), "theirs");
        }
        fs::remove_all(root + "t.tmp");
    }
}

// Two writers of one file at once each make a temporary file of their own; the last to commit wins.
TEST_F(FilesTest, SaveFilesAtOnceKeepApart) {
    SaveFile first(root + "t"), second(root + "t");
    ASSERT_TRUE(first.IsOpen() && second.IsOpen());
    EXPECT_TRUE(first.Write("first, a longer text") && second.Write("second"));
    EXPECT_TRUE(first.Commit() && second.Commit());
    EXPECT_EQ(Get("t"), "second");
    EXPECT_EQ(Listing(), "t ");
}

// A FIFO (or a device) is written in place, never replaced by a plain file.
TEST_F(FilesTest, SaveFileWritesAFifoInPlace) {
    ASSERT_EQ(::mkfifo((root + "pipe").c_str(), 0600), 0);
    const int reader = ::open((root + "pipe").c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    std::string error;
    EXPECT_TRUE(WriteFileSafely(root + "pipe", "through", &error)) << error;
    char buffer[16] = {};
    EXPECT_EQ(::read(reader, buffer, sizeof buffer), 7);
    EXPECT_EQ(std::string(buffer), "through");
    ::close(reader);
    struct stat st;
    ASSERT_EQ(::lstat((root + "pipe").c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_EQ(Listing(), "pipe ");
}

// What a killed writer left is removed: exactly our names, plain files, none a live writer holds.
TEST_F(FilesTest, RemoveStaleTempFiles) {
    struct Case { const char* name; bool removed; } cases[] = {
        {"t.tmp", true}, {"t.tmpAb3xY9", true}, {"t.tmpAb3xY", false}, {"t.tmpAb3xY90", false},
        {"t.tmp-b3xY9", false}, {"t.TMPAb3xY9", false}, {"u.tmpAb3xY9", false}, {"t", false},
    };
    for (const Case& c : cases) Put(c.name, "x");
    fs::create_directory(root + "t.tmpFolder");
    fs::create_symlink(root + "t", root + "t.tmpLink00");
    SaveFile live(root + "t");
    ASSERT_TRUE(live.Write("being written"));
    const std::vector<std::string> removed = RemoveStaleTempFiles(root + "t");
    for (const Case& c : cases) EXPECT_EQ(fs::exists(root + c.name), !c.removed) << c.name;
    EXPECT_EQ(removed, (std::vector<std::string>{root + "t.tmp", root + "t.tmpAb3xY9"}));
    EXPECT_TRUE(fs::is_directory(root + "t.tmpFolder"));
    EXPECT_TRUE(fs::is_symlink(root + "t.tmpLink00"));
    EXPECT_TRUE(live.Commit());
    EXPECT_EQ(Get("t"), "being written");
}

TEST_F(FilesTest, FolderLock) {
    FolderLock first, second;
    EXPECT_EQ(first.Lock(root, "lock"), FolderLock::Result::Locked);
    EXPECT_EQ(second.Lock(root, "lock"), FolderLock::Result::InUse);
    first.Unlock();
    EXPECT_EQ(second.Lock(root, "lock"), FolderLock::Result::Locked);
    EXPECT_EQ(first.Lock(root + "missing", "lock"), FolderLock::Result::Unavailable);
}

TEST_F(FilesTest, CurrentAndProgramFolders) {
    const std::string before = CurrentDir();
    ASSERT_TRUE(SetCurrentDir(root));
    EXPECT_EQ(CurrentDir(), *CanonicalPath(root));
    EXPECT_FALSE(SetCurrentDir(root + "missing"));
    ASSERT_TRUE(SetCurrentDir(before));

    const std::string exeDir = ExecutableDir();
    EXPECT_EQ(exeDir.back(), '/');
    EXPECT_TRUE(FileExists(exeDir + "test_platform"));
}
