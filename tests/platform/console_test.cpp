#include "platform/console.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <optional>
#include <string>

namespace {

// Everything written to a pipe, read back.
class Pipe {
public:
    Pipe() {
        int fds[2];
        if (pipe(fds) == 0) {
            ReadFd = fds[0];
            WriteFd = fds[1];
            fcntl(ReadFd, F_SETFL, O_NONBLOCK);
        }
    }
    ~Pipe() {
        close(ReadFd);
        close(WriteFd);
    }
    std::string Drain() {
        std::string out;
        char buffer[4096];
        ssize_t n;
        while ((n = read(ReadFd, buffer, sizeof buffer)) > 0) out.append(buffer, static_cast<size_t>(n));
        return out;
    }
    int ReadFd = -1, WriteFd = -1;
};

TEST(Cp437Test, FrameCharacters) {
    struct Case {
        unsigned char byte;
        const char* utf8;
    } cases[] = {
        {0xC9, "╔"}, {0xCD, "═"}, {0xBB, "╗"}, {0xBA, "║"}, {0xC8, "╚"}, {0xBC, "╝"},
        {0xDA, "┌"}, {0xC4, "─"}, {0xBF, "┐"}, {0xB3, "│"}, {0xC0, "└"}, {0xD9, "┘"},
        {0xC2, "┬"}, {0xC1, "┴"}, {0xB1, "▒"}, {0x80, "Ç"}, {0xE1, "ß"}, {0xFF, "\xC2\xA0"},
        {'A', "A"}, {' ', " "}, {0x7F, "\x7F"},
    };
    for (const Case& c : cases) EXPECT_EQ(platform::Cp437ToUtf8(c.byte), c.utf8) << int(c.byte);
}

TEST(ConsoleTest, OutputPerMode) {
    struct Case {
        bool terminal, utf8;
        std::function<void(platform::Console&)> draw;
        std::string output;
    } cases[] = {
        // Not a terminal: positioning and filling do nothing, texts follow one another.
        {false, true, [](platform::Console& c) {
             c.SetCursorPosition(3, 0);
             c.Write("one");
             c.FillCharacter(0xB1, 10, 0, 0);
             c.Write("two");
         },
         "onetwo"},
        {false, true, [](platform::Console& c) { c.WriteCp437("\xC9\xCD\xBB ok"); }, "╔═╗ ok"},
        {false, false, [](platform::Console& c) { c.WriteCp437("\xC9\xCD\xBB ok"); }, "\xC9\xCD\xBB ok"},
        // Log texts are bytes of their own and pass unchanged in either case.
        {false, true, [](platform::Console& c) { c.Write("caf\xe9"); }, "caf\xe9"},
        // A terminal: ANSI positions count from 1.
        {true, true, [](platform::Console& c) { c.SetCursorPosition(3, 0); }, "\x1b[1;4H"},
        {true, true, [](platform::Console& c) { c.SetCursorPosition(0, 24); }, "\x1b[25;1H"},
        // Without a known screen size a run is put in one piece; the cursor is kept.
        {true, true, [](platform::Console& c) { c.FillCharacter(0xB1, 3, 2, 4); }, "\x1b" "7\x1b[5;3H▒▒▒\x1b" "8"},
        {true, false, [](platform::Console& c) { c.FillCharacter(0xB1, 2, 0, 0); }, "\x1b" "7\x1b[1;1H\xB1\xB1\x1b" "8"},
        {true, true, [](platform::Console& c) { c.FillCharacter(' ', 0, 0, 0); }, ""},
        {true, true, [](platform::Console& c) { c.FillCharacter(' ', -5, 0, 0); }, ""},
    };
    for (const Case& c : cases) {
        Pipe pipe;
        platform::Console console(pipe.WriteFd, c.terminal, c.utf8);
        c.draw(console);
        EXPECT_EQ(pipe.Drain(), c.output);
    }
}

TEST(ConsoleTest, PseudoTerminalSizeAndFillAcrossRows) {
    int master = -1, slave = -1;
    winsize size{};
    size.ws_col = 10;
    size.ws_row = 3;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, &size), 0);
    termios raw{};
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave, TCSANOW, &raw);
    fcntl(master, F_SETFL, O_NONBLOCK);

    platform::Console console(slave);
    EXPECT_TRUE(console.IsTerminal());
    int width = 0, height = 0;
    EXPECT_TRUE(console.GetScreenBufferSize(width, height));
    EXPECT_EQ(width, 10);
    EXPECT_EQ(height, 3);

    struct Case {
        int count, col, row;
        std::string output;
    } cases[] = {
        {25, 5, 0, "\x1b" "7\x1b[1;6Hxxxxx\x1b[2;1Hxxxxxxxxxx\x1b[3;1Hxxxxxxxxxx\x1b" "8"},
        {40, 5, 1, "\x1b" "7\x1b[2;6Hxxxxx\x1b[3;1Hxxxxxxxxxx\x1b" "8"},   // stops at the end of the screen
        {4, 12, 0, "\x1b" "7\x1b[2;1Hxxxx\x1b" "8"},                      // beyond the row: the next one
        {1, 0, 5, "\x1b" "7\x1b" "8"},
    };
    for (const Case& c : cases) {
        console.FillCharacter('x', c.count, c.col, c.row);
        std::string out;
        char buffer[4096];
        ssize_t n;
        while ((n = read(master, buffer, sizeof buffer)) > 0) out.append(buffer, static_cast<size_t>(n));
        EXPECT_EQ(out, c.output) << c.count << " at " << c.col << "," << c.row;
    }
    close(slave);
    close(master);

    Pipe pipe;
    platform::Console file(pipe.WriteFd);
    EXPECT_FALSE(file.IsTerminal());
    EXPECT_FALSE(file.GetScreenBufferSize(width, height));
    EXPECT_EQ(width, 0);
    EXPECT_EQ(height, 0);
}

class EnvironmentVariable {
public:
    explicit EnvironmentVariable(const char* name) : FName(name) {
        if (const char* v = std::getenv(name)) FOld = v;
    }
    ~EnvironmentVariable() {
        if (FOld) setenv(FName, FOld->c_str(), 1);
        else unsetenv(FName);
    }
    void Set(const char* value) {
        if (value) setenv(FName, value, 1);
        else unsetenv(FName);
    }

private:
    const char* FName;
    std::optional<std::string> FOld;
};

TEST(ConsoleTest, LocaleCharacterSet) {
    EnvironmentVariable all("LC_ALL"), ctype("LC_CTYPE"), lang("LANG");
    struct Case {
        const char *lcAll, *lcCtype, *lang;
        bool utf8;
    } cases[] = {
        {"C.UTF-8", nullptr, nullptr, true},
        {"C", nullptr, "C.UTF-8", false},          // LC_ALL wins
        {nullptr, nullptr, "C.UTF-8", true},
        {nullptr, "C.UTF-8", "C", true},
        {nullptr, nullptr, nullptr, false},
        {"POSIX", nullptr, nullptr, false},
        {"xx_YY.utf8", nullptr, nullptr, true},    // not installed: judged by its name
    };
    for (const Case& c : cases) {
        all.Set(c.lcAll);
        ctype.Set(c.lcCtype);
        lang.Set(c.lang);
        EXPECT_EQ(platform::LocaleIsUtf8(), c.utf8)
            << (c.lcAll ? c.lcAll : "-") << " " << (c.lcCtype ? c.lcCtype : "-") << " " << (c.lang ? c.lang : "-");
    }
}

}  // namespace
