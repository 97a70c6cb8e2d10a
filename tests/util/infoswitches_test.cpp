#include "util/infoswitches.h"

#include <gtest/gtest.h>

namespace {

TEST(InfoSwitchesTest, FirstInfoSwitchWinsAndOnlyExactSpellings) {
    const struct {
        std::vector<std::string> args;
        TInfoSwitch expected;
    } cases[] = {
        {{}, TInfoSwitch::None},
        {{"/D3", "/Cdemo"}, TInfoSwitch::None},
        {{"/D3", "--help"}, TInfoSwitch::Help},
        {{"-h", "--version"}, TInfoSwitch::Help},
        {{"-V", "-h"}, TInfoSwitch::Version},
        {{"--version"}, TInfoSwitch::Version},
        {{"-H", "-v", "--Help", "/h", "--versions", "help"}, TInfoSwitch::None},
    };
    for (const auto& c : cases) {
        std::string joined;
        for (const std::string& a : c.args) joined += "[" + a + "]";
        EXPECT_EQ(FindInfoSwitch(c.args), c.expected) << joined;
    }
    EXPECT_EQ(VersionLine(), "Tavrin 3.12.00W");
    EXPECT_EQ(CommandName("/usr/bin/tavrin-console", "TavrinConsole"), "tavrin-console");
    EXPECT_EQ(CommandName(nullptr, "TavrinConsole"), "TavrinConsole");
}

}  // namespace
