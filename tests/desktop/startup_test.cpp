#include "desktop/startup.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/engine/programfolder.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

TEST(CommandLineTest, ReadsTheSwitchesInOrder) {
    ProgramFolder folder;
    fs::create_directories(folder.Root + "profile2");
    const struct {
        std::vector<std::string> args;
        bool grab, silent;
        int32_t days, priority;
        std::string settings;
    } cases[] = {
        {{}, false, false, 0, -1, "settings"},
        {{"/grab"}, true, false, 0, -1, "settings"},
        {{"/SILENT", "/Grab"}, true, true, 0, -1, "settings"},
        {{"/Silent"}, false, true, 0, -1, "settings"},
        {{"/Grabber", "Grab", ""}, false, false, 0, -1, "settings"},
        {{"/D3"}, false, false, 3, -1, "settings"},
        {{"/D"}, false, false, 0, -1, "settings"},
        {{"/dx"}, false, false, 0, -1, "settings"},
        {{"/D-2"}, false, false, -2, -1, "settings"},
        {{"/D3", "/D5"}, false, false, 5, -1, "settings"},
        {{"/P"}, false, false, 0, -1, "settings"},
        {{"/p0"}, false, false, 0, 0, "settings"},
        {{"/P9"}, false, false, 0, 9, "settings"},
        {{"/P4", "/Px"}, false, false, 0, -1, "settings"},
        {{"/Cprofile2"}, false, false, 0, -1, "profile2"},
        {{"/cnothere"}, false, false, 0, -1, ""},
        {{"/C"}, false, false, 0, -1, "settings"},
    };
    for (const auto& c : cases) {
        std::string joined;
        for (const std::string& a : c.args) joined += "[" + a + "]";
        SCOPED_TRACE(joined);
        const TStartOptions o = ParseCommandLine(c.args, folder.Root);
        EXPECT_EQ(o.GrabOnStart, c.grab);
        EXPECT_EQ(o.SilentRun, c.silent);
        EXPECT_EQ(o.GrabDays, c.days);
        EXPECT_EQ(o.PriorityLevel, c.priority);
        EXPECT_EQ(o.SettingsDir, c.settings);
    }
}

}  // namespace
