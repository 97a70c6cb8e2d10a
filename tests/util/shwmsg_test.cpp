#include "util/shwmsg.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(ShowMessageTest, GoesToTheInstalledHandlerElseToStandardError) {
    std::vector<std::string> shown;
    const TMessageHandler previous = SetMessageHandler([&](const std::string& text) { shown.push_back(text); });
    ShowMessage("Lua Panic");
    ShowMessageFmt("File not found: \"%s\" (%d)", "a b", 7);
    ShowMessageFmt("%s", std::string(5000, 'x').c_str());   // longer than any fixed buffer
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(shown[0], "Lua Panic");
    EXPECT_EQ(shown[1], "File not found: \"a b\" (7)");
    EXPECT_EQ(shown[2], std::string(5000, 'x'));

    SetMessageHandler(nullptr);
    testing::internal::CaptureStderr();
    ShowMessage("Error changing order");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error changing order\n");
    SetMessageHandler(previous);
}

}  // namespace
