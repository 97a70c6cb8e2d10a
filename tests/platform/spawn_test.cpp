#include "platform/spawn.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

// The started program writes into a named pipe: opening it for reading waits for the writer, so
// the test needs no sleep to see what the detached program did.
TEST(SpawnDetachedTest, StartsTheProgramInTheGivenFolderWithoutAShell) {
    std::string pattern = (fs::temp_directory_path() / "tavrin-spawn-XXXXXX").string();
    const fs::path dir = mkdtemp(pattern.data());
    const fs::path fifo = dir / "answer";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);

    std::string error;
    // The argument with blanks and a ";" reaches the program as one word: no shell splits it.
    ASSERT_TRUE(platform::SpawnDetached({"sh", "-c", "printf '%s|%s' \"$(pwd)\" \"$0\" > answer", "a b; c"},
                                        dir.string(), &error))
        << error;
    std::ifstream in(fifo);
    std::string answer;
    std::getline(in, answer);
    EXPECT_EQ(answer, fs::canonical(dir).string() + "|a b; c");
    fs::remove_all(dir);
}

TEST(SpawnDetachedTest, ReportsWhatCouldNotBeStarted) {
    const struct {
        std::vector<std::string> argv;
        std::string dir;
        std::string error;
    } cases[] = {
        {{"tavrin-no-such-program"}, "", "Cannot start tavrin-no-such-program: No such file or directory"},
        {{"true"}, "/tavrin-no-such-folder", "Cannot start true: No such file or directory"},
        {{}, "", "Nothing to start: Invalid argument"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(platform::SpawnDetached(c.argv, c.dir, &error));
        EXPECT_EQ(error, c.error);
    }
}

}  // namespace
