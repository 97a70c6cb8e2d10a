#include "util/runutils.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "util/shwmsg.h"

namespace fs = std::filesystem;

namespace {

class RunUtilsTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "tavrin-run-XXXXXX").string();
        Dir = std::string(mkdtemp(pattern.data())) + "/";
        std::ofstream(Dir + "faq.html") << "<html></html>";
        FOldOpener = SetOpener([this](const std::string& target, const std::string& dir) {
            Opened.push_back(target + "|" + dir);
            return true;
        });
        FOldHandler = SetMessageHandler([this](const std::string& text) { Shown.push_back(text); });
    }
    void TearDown() override {
        SetOpener(FOldOpener);
        SetMessageHandler(FOldHandler);
        fs::remove_all(Dir);
    }

    std::string Dir;
    std::vector<std::string> Opened, Shown;

private:
    TOpener FOldOpener;
    TMessageHandler FOldHandler;
};

TEST_F(RunUtilsTest, OpenFileOpensInTheTargetsFolderOrSaysItIsMissing) {
    const struct {
        std::string target, opened, shown;
    } cases[] = {
        {Dir + "faq.html", Dir + "faq.html|" + Dir, ""},
        {Dir + "missing.html", "", "File not found: \"" + Dir + "missing.html\""},
        {"https://tavrin.invalid/help", "https://tavrin.invalid/help|", ""},
        {"mailto:someone@tavrin.invalid", "mailto:someone@tavrin.invalid|", ""},
        {"", "", "File not found: \"\""},
    };
    for (const auto& c : cases) {
        Opened.clear();
        Shown.clear();
        OpenFile(c.target);
        EXPECT_EQ(Opened, c.opened.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.opened}) << c.target;
        EXPECT_EQ(Shown, c.shown.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.shown}) << c.target;
    }
}

TEST_F(RunUtilsTest, RunProgramHandsEveryTargetOnWithoutAFolder) {
    for (const std::string target : {"https://tavrin.invalid/", "None", "/no/such/file"}) {
        Opened.clear();
        RunProgram(target);
        EXPECT_EQ(Opened, std::vector<std::string>{target + "|"});
    }
    EXPECT_TRUE(Shown.empty());
}

TEST(IsAddressTest, TellsSchemesFromPaths) {
    const struct {
        const char* target;
        bool address;
    } cases[] = {{"http://a", true}, {"mailto:x@y", true}, {"svn+ssh://h", true}, {"C:\\dir\\f.txt", false},
                 {"/home/u/f:1.txt", false}, {"dir/f.html", false}, {"1http://a", false}, {":x", false}};
    for (const auto& c : cases) EXPECT_EQ(IsAddress(c.target), c.address) << c.target;
}

}  // namespace
