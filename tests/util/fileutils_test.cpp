#include "util/fileutils.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

class FindFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "tavrin-find-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        root = pattern;
        for (const char* rel : {"b.lua", "A.LUA", ".hidden.lua", "notes.txt", "x.lua.bak", "sub/x.lua",
                                "sub/deeper/y.Lua", "sub/deeper/readme", "zdir/z.lua", "empty/"}) {
            const fs::path p = fs::path(root) / rel;
            if (std::string(rel).back() == '/') {
                fs::create_directories(p);
            } else {
                fs::create_directories(p.parent_path());
                std::ofstream(p) << "x";
            }
        }
    }
    void TearDown() override { fs::remove_all(root); }

    std::string Find(const std::string& folder, const std::string& mask, bool recurse) {
        std::vector<std::string> list;
        FindFiles(folder, mask, recurse, list);
        std::string joined;
        for (const auto& name : list) {
            // strip the temporary root so the table can name paths as they are built
            joined += (name.rfind(root, 0) == 0 ? "R" + name.substr(root.size()) : name) + " ";
        }
        return joined;
    }

    std::string root;  // without trailing separator
};

}  // namespace

TEST_F(FindFilesTest, SubFoldersFirstThenOwnFiles) {
    struct Case { std::string folder, mask; bool recurse; std::string expected; };
    const Case cases[] = {
        {root, "*.lua", true, "R/sub/deeper/y.Lua R/sub/x.lua R/zdir/z.lua R/.hidden.lua R/A.LUA R/b.lua "},
        {root, "*.lua", false, "R/.hidden.lua R/A.LUA R/b.lua "},
        {root + "/", "*.lua", false, "R/.hidden.lua R/A.LUA R/b.lua "},
        {root + "\\", "?.lua", false, "R\\A.LUA R\\b.lua "},  // the given separator is kept
        {root, "*", true,
         "R/sub/deeper/readme R/sub/deeper/y.Lua R/sub/x.lua R/zdir/z.lua "
         "R/.hidden.lua R/A.LUA R/b.lua R/notes.txt R/x.lua.bak "},
        {root, "*", false, "R/.hidden.lua R/A.LUA R/b.lua R/notes.txt R/x.lua.bak "},  // no folders
        {root + "/sub", "*.LUA", true, "R/sub/deeper/y.Lua R/sub/x.lua "},
        {root + "/empty", "*", true, ""},
        {root + "/missing", "*", true, ""},
        {root + "/b.lua", "*", true, ""},
        {root, "*.none", true, ""},
        {"", "*", true, ""},
    };
    for (const auto& c : cases) EXPECT_EQ(Find(c.folder, c.mask, c.recurse), c.expected) << c.folder << " " << c.mask;
}

TEST_F(FindFilesTest, AppendsAndSurvivesFolderLoops) {
    fs::create_directory_symlink(root, root + "/sub/back");  // leads back to the top
    std::vector<std::string> list{"kept"};
    FindFiles(root + "/sub", "*.lua", true, list);
    // every real folder is searched once: through the link the top is reached, but not sub again
    const std::vector<std::string> expected{"kept",
                                            root + "/sub/back/zdir/z.lua",
                                            root + "/sub/back/.hidden.lua",
                                            root + "/sub/back/A.LUA",
                                            root + "/sub/back/b.lua",
                                            root + "/sub/deeper/y.Lua",
                                            root + "/sub/x.lua"};
    EXPECT_EQ(list, expected);
}
