#include "console/uconsole.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "engine/uluagrabbers.h"
#include "platform/console.h"
#include "platform/files.h"
#include "tests/engine/programfolder.h"

using namespace testing_support;

namespace {

// A terminal of fixed size that understands what the console layer sends: cursor positioning,
// saving and restoring the cursor, line breaks and UTF-8 text, with the usual deferred wrap.
class VirtualScreen {
public:
    VirtualScreen(int width, int height) : FWidth(width), FHeight(height), FCells(height, std::vector<std::string>(width, " ")) {}

    void Feed(const std::string& bytes) {
        for (size_t i = 0; i < bytes.size();) {
            const unsigned char c = static_cast<unsigned char>(bytes[i]);
            if (c == 0x1b) {
                i = Escape(bytes, i + 1);
            } else if (c == '\n') {
                FCol = 0;   // the terminal turns a line feed into a new line
                LineFeed();
                ++i;
            } else if (c == '\r') {
                FCol = 0;
                ++i;
            } else {
                const size_t length = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
                Put(bytes.substr(i, length));
                i += length;
            }
        }
    }

    std::string Row(int row) const {
        std::string text;
        for (const std::string& cell : FCells[row]) text += cell;
        return text;
    }
    // The cells from col on, count of them.
    std::string Cells(int row, int col, int count) const {
        std::string text;
        for (int i = col; i < col + count && i < FWidth; ++i) text += FCells[row][i];
        return text;
    }

private:
    size_t Escape(const std::string& bytes, size_t i) {
        if (i >= bytes.size()) return i;
        if (bytes[i] == '7') {
            FSaved = {FCol, FRow};
            return i + 1;
        }
        if (bytes[i] == '8') {
            FCol = FSaved.first;
            FRow = FSaved.second;
            FPendingWrap = false;
            return i + 1;
        }
        if (bytes[i] != '[') return i + 1;
        size_t end = i + 1;
        while (end < bytes.size() && !(bytes[end] >= '@' && bytes[end] <= '~')) ++end;
        const std::string params = bytes.substr(i + 1, end - i - 1);
        if (end < bytes.size() && bytes[end] == 'H') {
            const size_t semi = params.find(';');
            FRow = std::stoi(params.substr(0, semi)) - 1;
            FCol = std::stoi(params.substr(semi + 1)) - 1;
            FPendingWrap = false;
        }
        return end + 1;
    }
    void LineFeed() {
        FPendingWrap = false;
        if (FRow + 1 < FHeight) {
            ++FRow;
            return;
        }
        FCells.erase(FCells.begin());
        FCells.emplace_back(FWidth, " ");
    }
    void Put(const std::string& cell) {
        if (FPendingWrap) {
            FCol = 0;
            LineFeed();
        }
        FCells[FRow][FCol] = cell;
        if (FCol + 1 < FWidth) ++FCol;
        else FPendingWrap = true;
    }

    int FWidth, FHeight;
    std::vector<std::vector<std::string>> FCells;
    int FCol = 0, FRow = 0;
    bool FPendingWrap = false;
    std::pair<int, int> FSaved{0, 0};
};

std::string Utf8(const std::string& cp437) {
    std::string text;
    for (char c : cp437) text += platform::Cp437ToUtf8(static_cast<unsigned char>(c));
    return text;
}

std::string Repeat(const std::string& s, int n) {
    std::string text;
    for (int i = 0; i < n; ++i) text += s;
    return text;
}

TEST(ConsoleCommandLineTest, Switches) {
    ProgramFolder folder;
    std::filesystem::create_directories(folder.Root + "other");
    struct Case {
        std::vector<std::string> args;
        int dayLimit;
        const char* settingsDir;
        int priority;
    } cases[] = {
        {{}, 0, "settings", -1},
        {{"/D"}, 0, "settings", -1},
        {{"/d3"}, 3, "settings", -1},
        {{"/D7", "/D2"}, 2, "settings", -1},      // the later switch wins
        {{"/Dx"}, 0, "settings", -1},
        {{"/D-1"}, -1, "settings", -1},
        {{"/Cnowhere"}, 0, "settings", -1},       // no such folder: "settings" stays
        {{"/cother"}, 0, "other", -1},
        {{"/Cother", "/Cnowhere"}, 0, "settings", -1},
        {{"/C"}, 0, "settings", -1},              // too short: ignored
        {{"/P"}, 0, "settings", -1},
        {{"/P4"}, 0, "settings", 4},
        {{"/px"}, 0, "settings", -1},
        {{"/P4", "/Px"}, 0, "settings", -1},
        {{"D3", "-D3", "/X9", "", "/"}, 0, "settings", -1},
        {{"/d5", "/pother", "/cother"}, 5, "other", -1},
    };
    for (const Case& c : cases) {
        const TConsoleOptions options = ParseCommandLine(c.args, folder.Root);
        std::string joined;
        for (const std::string& a : c.args) joined += a + " ";
        EXPECT_EQ(options.DayLimit, c.dayLimit) << joined;
        EXPECT_EQ(options.SettingsDir, c.settingsDir) << joined;
        EXPECT_EQ(options.Priority, c.priority) << joined;
    }
}

TEST(ConsoleBarTest, CellsAndPercent) {
    struct Case {
        int32_t max, position;
        int filled;
        const char* percent;
    } cases[] = {
        {0, 0, 0, "0%  "},
        {0, 50, 0, "0%  "},
        {70, 35, 35, "050%"},
        {70, 0, 0, "000%"},
        {70, 140, 71, "200%"},
        {70, -1, 71, "100%"},
        {3, 1, 23, "033%"},
        {2147483647, 2147483647, 71, "100%"},    // byte counts: no overflow
        {2000000000, 1000000000, 35, "050%"},
        {1000, 5, 0, "000%"},
        {-10, 5, 0, "000%"},
        {3, 462, 71, "999%"},   // four cells, whatever the figure: the border comes next
    };
    for (const Case& c : cases) {
        EXPECT_EQ(BarFilledCells(c.max, c.position), c.filled) << c.max << " " << c.position;
        EXPECT_EQ(BarPercentText(c.max, c.position), c.percent) << c.max << " " << c.position;
    }
}

// The frame as the screen shows it, row by row.
std::vector<std::string> ExpectedFrame() {
    const std::string v = "║", h = "─", blank77(77, ' ');
    const std::string barTop = v + "┌" + Repeat(h, 71) + "┐    " + v;
    const std::string barMid = v + "│" + std::string(71, ' ') + "│    " + v;
    const std::string barBottom = v + "└" + Repeat(h, 71) + "┘    " + v;
    std::vector<std::string> rows = {
        "╔" + Repeat("═", 77) + "╗", v + blank77 + v, v + blank77 + v, barTop, barMid, barBottom,
        v + blank77 + v, barTop, barMid, barBottom, v + "Log:" + std::string(73, ' ') + v,
        v + "┌" + Repeat(h, 75) + "┐" + v,
    };
    for (int i = 0; i < 7; ++i) rows.push_back(v + "│" + std::string(75, ' ') + "│" + v);
    rows.push_back(v + "└" + Repeat(h, 75) + "┘" + v);
    rows.push_back(v + "┌" + Repeat(h, 24) + "┬" + Repeat(h, 22) + "┬" + Repeat(h, 27) + "┐" + v);
    rows.push_back(v + "│" + std::string(24, ' ') + "│" + std::string(22, ' ') + "│" + std::string(27, ' ') + "│" + v);
    rows.push_back(v + "└" + Repeat(h, 24) + "┴" + Repeat(h, 22) + "┴" + Repeat(h, 27) + "┘" + v);
    rows.push_back("╚" + Repeat("═", 77) + "╝");
    return rows;
}

TEST(ConsoleFrameTest, RowsInCodePage437) {
    const std::vector<std::string> rows = ConsoleFrameRows();
    const std::vector<std::string> expected = ExpectedFrame();
    ASSERT_EQ(rows.size(), 24u);
    for (size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].size(), 79u) << i;
        EXPECT_EQ(Utf8(rows[i]), expected[i]) << i;
    }
    EXPECT_EQ(rows[0].substr(0, 2), "\xC9\xCD");
    EXPECT_EQ(rows[20][26], '\xC2');
    EXPECT_EQ(rows[20][49], '\xC2');
    EXPECT_EQ(rows[22][26], '\xC1');
    EXPECT_EQ(rows[22][49], '\xC1');
}

// The console program's screen in a scratch program folder, drawn into a file read back as a
// terminal would show it.
class ScreenRun {
public:
    explicit ScreenRun(bool utf8 = true) {
        FFile = std::filesystem::path(Folder.Root) / "screen.out";
        FFd = open(FFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        Console = std::make_unique<platform::Console>(FFd, true, utf8);
        BaseDir = Folder.Root;
        Grabber = std::make_unique<TConsoleGrabber>(std::vector<std::string>{}, *Console);
    }
    ~ScreenRun() {
        Grabber.reset();
        close(FFd);
    }
    VirtualScreen Screen() const {
        VirtualScreen screen(80, 25);
        screen.Feed(ReadFile(FFile));
        return screen;
    }
    std::string Output() const { return ReadFile(FFile); }

    ProgramFolder Folder;
    std::unique_ptr<platform::Console> Console;
    std::unique_ptr<TConsoleGrabber> Grabber;

private:
    std::filesystem::path FFile;
    int FFd = -1;
};

TEST(ConsoleScreenTest, FrameAndLogWindow) {
    ScreenRun run;
    TConsoleGrabber& g = *run.Grabber;
    for (int i = 1; i <= 10; ++i) g.AddLogLine("line " + std::to_string(i));
    g.AddLogLine(std::string(70, 'a') + std::string(30, 'b'));
    const VirtualScreen screen = run.Screen();
    const std::vector<std::string> frame = ExpectedFrame();
    EXPECT_EQ(screen.Row(0), "╔══ Tavrin 3.12.00W " + Repeat("═", 58) + "╗ ");
    for (int row : {3, 5, 7, 9, 10, 11, 19, 20, 22, 23}) EXPECT_EQ(screen.Row(row), frame[row] + " ") << row;
    // The last seven lines, the oldest at row 12, each cut to 75 cells.
    for (int k = 0; k < 6; ++k) {
        const std::string line = "line " + std::to_string(k + 5);
        EXPECT_EQ(screen.Cells(12 + k, 0, 79), "║│" + line + std::string(75 - line.size(), ' ') + "│║") << k;
    }
    EXPECT_EQ(screen.Cells(18, 2, 75), std::string(70, 'a') + "bbbbb");
    EXPECT_EQ(screen.Cells(18, 77, 2), "│║");
    EXPECT_EQ(g.Log().size(), 11u);
    EXPECT_EQ(g.GetLogText().substr(0, 16), "line 1\r\nline 2\r\n");
}

TEST(ConsoleScreenTest, StatusBarsAndStatistics) {
    struct Case {
        std::function<void(TConsoleGrabber&)> act;
        int row, col, count;
        std::string shown;
    } cases[] = {
        {[](TConsoleGrabber& g) { g.ShowStatus(1, std::string(80, 's') + "tail"); }, 1, 0, 80,
         "║" + std::string(77, 's') + "║ "},
        {[](TConsoleGrabber& g) {
             g.ShowStatus(2, "busy");
             g.ShowStatus(2, "");
         },
         2, 1, 77, std::string(77, ' ')},
        {[](TConsoleGrabber& g) { g.ShowStatus(3, "Fetching"); }, 6, 1, 77, "Fetching" + std::string(69, ' ')},
        {[](TConsoleGrabber& g) { g.ShowStatus(4, "ignored"); }, 1, 1, 10, std::string(10, ' ')},
        {[](TConsoleGrabber& g) {
             g.ShowProgress(1, 70, 1);
             g.ShowProgress(1, 35, 2);
         },
         4, 1, 77, "│" + Repeat("▒", 35) + std::string(36, ' ') + "│050%"},
        {[](TConsoleGrabber& g) {
             g.ShowProgress(2, 10, 1);
             g.ShowProgress(2, -1, 2);
         },
         8, 1, 77, "│" + Repeat("▒", 71) + "│100%"},
        {[](TConsoleGrabber& g) { g.ShowProgress(2, 10, 1); }, 8, 1, 77, "│" + std::string(71, ' ') + "│000%"},
        {[](TConsoleGrabber& g) {
             g.ShowProgress(1, 10, 1);
             g.ShowProgress(1, 5, 3);   // other modes change nothing
             g.ShowProgress(3, 9, 2);   // other bars too
             g.ShowProgress(-1, -1, -1);
         },
         4, 1, 77, "│" + std::string(71, ' ') + "│000%"},
        {[](TConsoleGrabber& g) { g.ShowProgress(1, 0, 2); }, 4, 73, 5, "│0%  "},
        // Statistics show at the next redraw; an empty text leaves its cell alone.
        {[](TConsoleGrabber& g) {
             g.ShowDownloadStats("Download Speed: 1 KB/s", "00:01:00 Remaining", "5 MB Downloaded");
             g.ShowDownloadStats("", "", "6 MB Downloaded");
             g.ShowStatus(1, "");
         },
         21, 0, 79,
         "║│Download Speed: 1 KB/s  │6 MB Downloaded       │00:01:00 Remaining         │║"},
        {[](TConsoleGrabber& g) { g.ShowDownloadStats("Download Speed: 1 KB/s", "", ""); }, 21, 2, 24,
         std::string(24, ' ')},
        // Control bytes from scripts or pages cannot move the cursor or break the frame.
        {[](TConsoleGrabber& g) { g.AddLogLine("a\x1b[2J\tb\r\nc\x7f"); }, 12, 0, 13, "║│a?[2J b??c?"},
        {[](TConsoleGrabber& g) { g.ShowStatus(3, "x\x1b" "7y"); }, 6, 0, 5, "║x?7y"},
        {[](TConsoleGrabber& g) { g.AddLogLine("a\xC2\x9B" "2J\xC2\xA0" "b"); }, 12, 0, 8, "║│a?2J\u00A0b"},
        // A new maximum is drawn before the new position: the old one may be far beyond it.
        {[](TConsoleGrabber& g) {
             g.ShowProgress(1, 462, 1);
             g.ShowProgress(1, 462, 2);
             g.ShowProgress(1, 3, 1);
         },
         4, 1, 79, "│" + Repeat("▒", 71) + "│999%║ "},
    };
    for (const Case& c : cases) {
        ScreenRun run;
        c.act(*run.Grabber);
        EXPECT_EQ(run.Screen().Cells(c.row, c.col, c.count), c.shown) << c.row << "," << c.col;
    }
    ScreenRun latin(false);   // a terminal that is not UTF-8 takes 0x9B for a control sequence
    latin.Grabber->ShowStatus(1, "a\x9B" "2J\x80\x9F\xA0");
    const std::string shown = latin.Output();
    EXPECT_NE(shown.find("a?2J??\xA0 "), std::string::npos);
    EXPECT_EQ(shown.find_first_of("\x80\x9B\x9F"), std::string::npos);
    ScreenRun run;
    run.Grabber->ShowDownloadStats(std::string(30, 'x'), "r", "");
    EXPECT_EQ(run.Grabber->SpeedText(), std::string(24, 'x'));
    EXPECT_EQ(run.Grabber->RemainingText(), "r" + std::string(26, ' '));
    EXPECT_EQ(run.Grabber->DownloadedText(), "");
    run.Grabber->ShowStatus(1, "abc");
    EXPECT_EQ(run.Grabber->Status(1), "abc" + std::string(75, ' '));
}

// ---- the program itself ------------------------------------------------------------------------

struct ProgramResult {
    int status = -1;
    std::string output;
    std::string errors;
};

// Runs TavrinConsole from a copy in the program folder (its own folder is the program folder),
// with standard output on a pseudo-terminal of 80 × 25 or into a file.
ProgramResult RunProgram(const ProgramFolder& folder, bool terminal, const char* lang,
                         const std::vector<std::string>& args = {}) {
    const std::string exe = folder.Root + "TavrinConsole";
    if (!std::filesystem::exists(exe)) std::filesystem::copy_file(TAVRIN_CONSOLE_EXE, exe);
    const std::string outName = folder.Root + "stdout.txt", errName = folder.Root + "stderr.txt";
    int master = -1, slave = -1;
    if (terminal) {
        winsize size{};
        size.ws_col = 80;
        size.ws_row = 25;
        if (openpty(&master, &slave, nullptr, nullptr, &size) != 0) return {};
    }
    const pid_t pid = fork();
    if (pid == 0) {
        const int out = terminal ? slave : open(outName.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(errName.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, 1);
        dup2(err, 2);
        if (chdir(folder.Root.c_str()) != 0) _exit(126);
        unsetenv("LC_ALL");
        unsetenv("LC_CTYPE");
        setenv("LANG", lang, 1);
        std::vector<char*> argv{const_cast<char*>(exe.c_str())};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(exe.c_str(), argv.data());
        _exit(127);
    }
    ProgramResult result;
    if (terminal) {
        close(slave);
        char buffer[4096];
        ssize_t n;
        while ((n = read(master, buffer, sizeof buffer)) > 0) result.output.append(buffer, static_cast<size_t>(n));
        close(master);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (!terminal) result.output = ReadFile(outName);
    result.errors = ReadFile(errName);
    return result;
}

const char* kNineLines = "for i = 1, 9 do print('line ' .. i) end\nGrabbers.g = {}\n";

TEST(ConsoleProgramTest, OnAPseudoTerminal) {
    ProgramFolder folder;
    folder.Script("a.lua", kNineLines);
    const ProgramResult result = RunProgram(folder, true, "C.UTF-8");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.errors, "");
    VirtualScreen screen(80, 25);
    screen.Feed(result.output);
    const std::vector<std::string> frame = ExpectedFrame();
    EXPECT_EQ(screen.Row(0), "╔══ Tavrin 3.12.00W " + Repeat("═", 58) + "╗ ");
    for (int row = 1; row < 24; ++row) {
        if (row == 4 || row == 8 || (row >= 12 && row <= 18)) continue;   // bars and log lines
        EXPECT_EQ(screen.Row(row), frame[row] + " ") << row;
    }
    // The window holds seven consecutive lines of the log, the script's last ones followed by the
    // grab run's (the script adds no programmes, so the run ends early).
    std::vector<std::string> logged;
    {
        std::istringstream log(ReadFile(folder.Root + "log.txt"));
        for (std::string line; std::getline(log, line);) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.size() > 11) logged.push_back(line.substr(11));
        }
    }
    auto shown = [&](int k) {
        std::string text = screen.Cells(12 + k, 13, 66);
        text = text.substr(0, text.size() - std::string("│║").size());
        return text.substr(0, text.find_last_not_of(' ') + 1);
    };
    const auto first = std::find(logged.begin(), logged.end(), shown(0));
    ASSERT_NE(first, logged.end()) << shown(0);
    ASSERT_GE(logged.end() - first, 7);
    for (int k = 0; k < 7; ++k) {   // each "HH:MM:SS - text"
        EXPECT_EQ(screen.Cells(12 + k, 0, 2), "║│") << k;
        EXPECT_EQ(screen.Cells(12 + k, 10, 3), " - ") << k;
        EXPECT_EQ(shown(k), *(first + k)) << k;
        EXPECT_EQ(screen.Cells(12 + k, 77, 2), "│║") << k;
    }
    EXPECT_LT(std::find(first, first + 7, "line 9"), std::find(first, first + 7, "Combining Grabber Programs"));
    EXPECT_EQ(screen.Cells(4, 1, 77), "│" + std::string(71, ' ') + "│0%  ");
    EXPECT_EQ(screen.Row(24), std::string(80, ' '));
    EXPECT_EQ(ReadFile(folder.Root + "log.txt").substr(11, 6), "line 1");
    EXPECT_NE(folder.IniText().find("[GrabberOrder]\r\ng=1\r\n"), std::string::npos);
}

TEST(ConsoleProgramTest, IntoAFile) {
    struct Case {
        const char* lang;
        std::string topLeft;
    } cases[] = {
        {"C.UTF-8", "╔══"},
        {"C", "\xC9\xCD\xCD"},
    };
    for (const Case& c : cases) {
        ProgramFolder folder;
        folder.Script("a.lua", kNineLines);
        const ProgramResult result = RunProgram(folder, false, c.lang);
        EXPECT_EQ(result.status, 0);
        // Texts follow one another: each log line as it arrives (while the engine is created),
        // the frame with its title, then the redraw of the last seven lines.
        size_t at = 0;
        for (int i = 1; i <= 9; ++i) {
            at = result.output.find("line " + std::to_string(i), at);
            ASSERT_NE(at, std::string::npos) << c.lang << " line " << i;
        }
        at = result.output.find(c.topLeft, at);
        EXPECT_NE(at, std::string::npos) << c.lang;
        at = result.output.find(" Tavrin 3.12.00W ", at);
        EXPECT_NE(at, std::string::npos) << c.lang;
        for (int i = 3; i <= 9; ++i) {
            at = result.output.find("line " + std::to_string(i), at);
            ASSERT_NE(at, std::string::npos) << c.lang << " redrawn line " << i;
        }
        // Nothing of the terminal's language reaches a file.
        EXPECT_EQ(result.output.find('\x1b'), std::string::npos);
    }
}

TEST(ConsoleProgramTest, EscapingErrorEndsWithStatusOne) {
    ProgramFolder folder;
    folder.Script("a.lua", "print('before the end')\n");
    std::filesystem::remove_all(folder.Root + "settings");   // the settings cannot be written
    const ProgramResult result = RunProgram(folder, false, "C");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.errors.rfind("TavrinConsole: Cannot create file \"" + folder.Root + "settings/tavrin.ini\"", 0), 0u)
        << result.errors;
    EXPECT_NE(ReadFile(folder.Root + "log.txt").find("before the end"), std::string::npos);
}

// SIGTERM or Ctrl+C ends a run cleanly, even one stuck in a script, with settings and log saved; a
// script that swallows the stop is ended by the second signal. Each signal is sent once the output
// shows the script has reached the point the case needs.
TEST(ConsoleProgramTest, StopSignals) {
    struct Case {
        const char* loop;
        std::vector<std::string> sendAfter;   // a signal once each of these has been shown
        bool endsCleanly;
    } cases[] = {
        {"while true do end", {"looping"}, true},
        {"while true do local ok, e = pcall(function() while true do end end)"
         " if e == 'Stopped' and not said then said = true print('swallowed') end end",
         {"looping", "swallowed"}, false},
    };
    for (const Case& c : cases) {
        ProgramFolder folder;
        folder.Ini("[Grabbers]\r\ng=1\r\n");
        folder.Script("g.lua", "Grabbers.g = { Init = function(h) Tvrn.AddUserChannel(h,{ID='c',XML_ID='c.x'}) end,"
                               " Passes = { Pass1 = { Type = 1, Func = function() print('looping') " +
                                   std::string(c.loop) + " end } } }\n");
        std::filesystem::copy_file(TAVRIN_CONSOLE_EXE, folder.Root + "TavrinConsole");
        int out[2];
        ASSERT_EQ(pipe(out), 0);
        const pid_t pid = fork();
        if (pid == 0) {
            dup2(out[1], 1);
            close(out[0]);
            if (chdir(folder.Root.c_str()) != 0) _exit(126);
            alarm(60);   // a program that never answers still ends, and the test with it
            execl("./TavrinConsole", "./TavrinConsole", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(out[1]);
        std::string output;
        size_t next = 0;
        char buffer[4096];
        ssize_t n;
        while ((n = read(out[0], buffer, sizeof buffer)) > 0) {
            output.append(buffer, static_cast<size_t>(n));
            if (next < c.sendAfter.size() && output.find(c.sendAfter[next]) != std::string::npos) {
                kill(pid, SIGTERM);
                ++next;
            }
        }
        close(out[0]);
        int status = 0;
        waitpid(pid, &status, 0);
        if (!c.endsCleanly) {
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
            continue;
        }
        ASSERT_TRUE(WIFEXITED(status)) << status;
        EXPECT_EQ(WEXITSTATUS(status), 2);   // the stopped item failed
        const std::string log = ReadFile(folder.Root + "log.txt");
        EXPECT_NE(log.find(" - Stopped\r\n"), std::string::npos) << log;
        EXPECT_NE(log.find(" - Grab failed on channel \"c\"\r\n"), std::string::npos) << log;
        EXPECT_NE(folder.IniText().find("[GrabberOrder]\r\ng=1\r\n"), std::string::npos);
    }
}

// A second program on a settings folder in use ends at once and changes nothing.
TEST(ConsoleProgramTest, SettingsFolderInUse) {
    ProgramFolder folder;
    folder.Script("a.lua", "Grabbers.g = {}");
    folder.Ini("[Settings]\r\nDebug=0\r\n");
    platform::FolderLock otherRun;
    ASSERT_EQ(otherRun.Lock(folder.Root + "settings", "tavrin.lock"), platform::FolderLock::Result::Locked);
    const ProgramResult result = RunProgram(folder, false, "C");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.errors, "TavrinConsole: Settings folder \"" + folder.Root + "settings\" is in use by another Tavrin\n");
    EXPECT_FALSE(std::filesystem::exists(folder.Root + "log.txt"));
    EXPECT_EQ(folder.IniText(), "[Settings]\r\nDebug=0\r\n");
}

}  // namespace
