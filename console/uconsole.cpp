// Console front end: TavrinConsole's command line, its text-mode screen and the engine's callbacks
// that draw on it.
#include "console/uconsole.h"

#include <algorithm>
#include <cstdio>
#include <exception>

#include "engine/inifile.h"
#include "engine/uluagrabbers.h"
#include "platform/files.h"
#include "platform/process.h"
#include "util/infoswitches.h"
#include "util/version.h"

// ---- command line -----------------------------------------------------------------------------

static bool IsSwitch(const std::string& arg, char upper) {
    return arg.size() >= 2 && arg[0] == '/' && (arg[1] == upper || arg[1] == upper + ('a' - 'A'));
}

TConsoleOptions ParseCommandLine(const std::vector<std::string>& args, const std::string& baseDir) {
    TConsoleOptions options;
    for (const std::string& arg : args) {
        int32_t value = 0;
        if (IsSwitch(arg, 'D')) {
            options.DayLimit = ParseDecimalInt32(arg.substr(2), value) ? value : 0;
        } else if (IsSwitch(arg, 'C') && arg.size() >= 3) {
            options.SettingsDir = arg.substr(2);
            if (!platform::DirectoryExists(baseDir + options.SettingsDir)) options.SettingsDir = "settings";
        } else if (IsSwitch(arg, 'P') && arg.size() >= 3) {
            options.Priority = ParseDecimalInt32(arg.substr(2), value) ? value : -1;
        }
    }
    return options;
}

// ---- the screen -------------------------------------------------------------------------------

// Code page 437 frame characters.
enum : unsigned char {
    kDoubleTopLeft = 0xC9, kDoubleHorizontal = 0xCD, kDoubleTopRight = 0xBB, kDoubleVertical = 0xBA,
    kDoubleBottomLeft = 0xC8, kDoubleBottomRight = 0xBC,
    kTopLeft = 0xDA, kHorizontal = 0xC4, kTopRight = 0xBF, kVertical = 0xB3, kBottomLeft = 0xC0,
    kBottomRight = 0xD9, kTeeDown = 0xC2, kTeeUp = 0xC1, kShade = 0xB1,
};

constexpr int kBarCells = 71;
constexpr int kLogLines = 7;
constexpr int kLogWidth = 75;
constexpr int kStatusWidth = 77;
constexpr int kSpeedWidth = 24;
constexpr int kDownloadedWidth = 22;
constexpr int kRemainingWidth = 27;

static std::string Run(unsigned char c, int n) { return std::string(static_cast<size_t>(n), static_cast<char>(c)); }

static std::string Boxed(const std::string& inside) {
    return Run(kDoubleVertical, 1) + inside + Run(kDoubleVertical, 1);
}

std::vector<std::string> ConsoleFrameRows() {
    const std::string blank77(77, ' ');
    const std::string barTop = Boxed(Run(kTopLeft, 1) + Run(kHorizontal, kBarCells) + Run(kTopRight, 1) + "    ");
    const std::string barMid = Boxed(Run(kVertical, 1) + std::string(kBarCells, ' ') + Run(kVertical, 1) + "    ");
    const std::string barBottom =
        Boxed(Run(kBottomLeft, 1) + Run(kHorizontal, kBarCells) + Run(kBottomRight, 1) + "    ");
    const std::string logMid = Boxed(Run(kVertical, 1) + std::string(kLogWidth, ' ') + Run(kVertical, 1));
    std::vector<std::string> rows;
    rows.push_back(Run(kDoubleTopLeft, 1) + Run(kDoubleHorizontal, 77) + Run(kDoubleTopRight, 1));
    rows.push_back(Boxed(blank77));
    rows.push_back(Boxed(blank77));
    rows.push_back(barTop);
    rows.push_back(barMid);
    rows.push_back(barBottom);
    rows.push_back(Boxed(blank77));
    rows.push_back(barTop);
    rows.push_back(barMid);
    rows.push_back(barBottom);
    rows.push_back(Boxed("Log:" + std::string(73, ' ')));
    rows.push_back(Boxed(Run(kTopLeft, 1) + Run(kHorizontal, kLogWidth) + Run(kTopRight, 1)));
    for (int i = 0; i < kLogLines; ++i) rows.push_back(logMid);
    rows.push_back(Boxed(Run(kBottomLeft, 1) + Run(kHorizontal, kLogWidth) + Run(kBottomRight, 1)));
    rows.push_back(Boxed(Run(kTopLeft, 1) + Run(kHorizontal, kSpeedWidth) + Run(kTeeDown, 1) +
                         Run(kHorizontal, kDownloadedWidth) + Run(kTeeDown, 1) + Run(kHorizontal, kRemainingWidth) +
                         Run(kTopRight, 1)));
    rows.push_back(Boxed(Run(kVertical, 1) + std::string(kSpeedWidth, ' ') + Run(kVertical, 1) +
                         std::string(kDownloadedWidth, ' ') + Run(kVertical, 1) + std::string(kRemainingWidth, ' ') +
                         Run(kVertical, 1)));
    rows.push_back(Boxed(Run(kBottomLeft, 1) + Run(kHorizontal, kSpeedWidth) + Run(kTeeUp, 1) +
                         Run(kHorizontal, kDownloadedWidth) + Run(kTeeUp, 1) + Run(kHorizontal, kRemainingWidth) +
                         Run(kBottomRight, 1)));
    rows.push_back(Run(kDoubleBottomLeft, 1) + Run(kDoubleHorizontal, 77) + Run(kDoubleBottomRight, 1));
    return rows;
}

int BarFilledCells(int32_t max, int32_t position) {
    if (position < 0) position = max;
    if (max == 0) return 0;
    // 64 bits: the position may count the bytes of a download.
    int64_t filled = static_cast<int64_t>(position) * kBarCells / max;
    if (filled < 0) filled = 0;
    if (filled > kBarCells) filled = kBarCells;
    return static_cast<int>(filled);
}

std::string BarPercentText(int32_t max, int32_t position) {
    if (position < 0) position = max;
    if (max == 0) return "0%  ";
    // Four cells lie between the bar and the frame's border. A position far beyond its maximum (a
    // new maximum is shown before the new position) or a negative maximum would run over the
    // border, so the figure stays within 0 to 999.
    const int64_t percent = std::clamp<int64_t>(static_cast<int64_t>(position) * 100 / max, 0, 999);
    char text[32];
    std::snprintf(text, sizeof text, "%.3lld%%", static_cast<long long>(percent));
    return text;
}

// Padded with blanks to at least `pad` characters, then cut to `cut`.
static std::string PadCut(const std::string& text, size_t pad, size_t cut) {
    std::string s = text;
    if (s.size() < pad) s.append(pad - s.size(), ' ');
    if (s.size() > cut) s.resize(cut);
    return s;
}

static std::string Cut(const std::string& text, size_t cut) { return text.size() > cut ? text.substr(0, cut) : text; }

// A text as it is put into the screen's cells: control characters (from web pages, say) would move
// the cursor or reprogram the terminal, and a line break would tear the frame, so each shows as one
// cell: a blank for a tab, "?" for the others. The 8-bit controls 0x80 to 0x9F (0x9B introduces a
// control sequence) are single bytes on a terminal that is not UTF-8, and the two bytes C2 80 to
// C2 9F on one that is.
static std::string ForScreen(const std::string& text, bool utf8) {
    std::string shown;
    shown.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char b = static_cast<unsigned char>(text[i]);
        if (b == '\t') {
            shown += ' ';
        } else if (b < 0x20 || b == 0x7F || (!utf8 && b >= 0x80 && b <= 0x9F)) {
            shown += '?';
        } else if (utf8 && b == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) <= 0x9F &&
                   static_cast<unsigned char>(text[i + 1]) >= 0x80) {
            shown += '?';
            ++i;
        } else {
            shown += text[i];
        }
    }
    return shown;
}

// ---- the program ------------------------------------------------------------------------------

TConsoleGrabber::TConsoleGrabber(const std::vector<std::string>& args, platform::Console& console)
    : FConsole(console) {
    FDrawing = false;
    const TConsoleOptions options = ParseCommandLine(args, BaseDir);
    SettingsDir = options.SettingsDir;
    FLog.clear();
    FEngine = std::make_unique<TLuaGrabbers>([this](const std::string& line) { AddLogLine(line); },
                                              [this] { LuaPanic(); });
    try {
        FEngine->OnProgress = [this](int32_t bar, int32_t value, int32_t mode) { ShowProgress(bar, value, mode); };
        FEngine->OnStatus = [this](int32_t line, const std::string& text) { ShowStatus(line, text); };
        FEngine->OnDownloadStats = [this](const std::string& s, const std::string& r, const std::string& d) {
            ShowDownloadStats(s, r, d);
        };
        FEngine->DayLimit = options.DayLimit;
        FEngine->OnGetLog = [this] { return GetLogText(); };
        FEngine->SetPriority(options.Priority);

        int width = 0, height = 0;
        FConsole.GetScreenBufferSize(width, height);
        FCols = static_cast<int16_t>(width - 1);
        FRows = static_cast<int16_t>(height);
        FConsole.FillCharacter(' ', FCols * FRows, 0, 0);
        DrawFrame();
        // What the engine logged while it was created was drawn before the screen was cleared.
        Redraw();
        FExitStatus = FEngine->Grab();
    } catch (...) {
        ShutDownAfterError();
        throw;
    }
}

TConsoleGrabber::~TConsoleGrabber() {
    if (FEngine) ShutDownAfterError();
}

void TConsoleGrabber::Finish() {
    if (!FEngine) return;
    // The engine is freed also when its shutdown fails; the failure then leaves here.
    struct Release {
        std::unique_ptr<TLuaGrabbers>& Engine;
        ~Release() { Engine.reset(); }
    } release{FEngine};
    FEngine->Destroy();
}

void TConsoleGrabber::ShutDownAfterError() noexcept {
    try {
        Finish();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "TavrinConsole: %s\n", e.what());
    }
}

void TConsoleGrabber::TakeStopRequest() {
    if (FEngine && platform::StopSignalled()) FEngine->Stop = true;
}

void TConsoleGrabber::AddLogLine(const std::string& text) {
    TakeStopRequest();
    FLog.push_back(text);
    Redraw();
}

void TConsoleGrabber::LuaPanic() {
    FLog.push_back("Lua Panic");
    Redraw();
}

void TConsoleGrabber::ShowProgress(int32_t bar, int32_t value, int32_t mode) {
    TakeStopRequest();   // the engine's idle call (bar -1) comes here too
    if (bar == 1 || bar == 2) {
        if (mode == 1) FBars[bar - 1].Max = value;
        else if (mode == 2) FBars[bar - 1].Position = value;
    }
    Redraw();
}

void TConsoleGrabber::ShowStatus(int32_t line, const std::string& text) {
    TakeStopRequest();
    if (line >= 1 && line <= 3) FStatus[line - 1] = PadCut(text, 78, std::string::npos);
    Redraw();
}

void TConsoleGrabber::ShowDownloadStats(const std::string& speed, const std::string& remaining,
                                        const std::string& downloaded) {
    if (!speed.empty()) FSpeedText = PadCut(speed, kSpeedWidth, kSpeedWidth);
    if (!remaining.empty()) FRemainingText = PadCut(remaining, kRemainingWidth, kRemainingWidth);
    if (!downloaded.empty()) FDownloadedText = PadCut(downloaded, kDownloadedWidth, kDownloadedWidth);
}

std::string TConsoleGrabber::GetLogText() const { return JoinLogLines(FLog); }

void TConsoleGrabber::DrawFrame() {
    FConsole.SetCursorPosition(0, 0);
    for (const std::string& row : ConsoleFrameRows()) FConsole.WriteCp437(row + "\n");
    FConsole.SetCursorPosition(3, 0);
    FConsole.Write(std::string(" Tavrin ") + kTavrinVersion + " ");
}

void TConsoleGrabber::DrawBar(int col, int row, int32_t max, int32_t position) {
    const int filled = BarFilledCells(max, position);
    FConsole.FillCharacter(kShade, filled, col, row);
    FConsole.FillCharacter(' ', kBarCells - filled, col + filled, row);
    FConsole.SetCursorPosition(col + kBarCells + 1, row);
    FConsole.Write(BarPercentText(max, position));
}

void TConsoleGrabber::Redraw() {
    if (FDrawing) return;
    FDrawing = true;
    const auto put = [this](const std::string& text, const char* end = "") {
        FConsole.Write(ForScreen(text, FConsole.Utf8()) + end);
    };
    FConsole.SetCursorPosition(1, 1);
    put(Cut(FStatus[0], kStatusWidth), "\n");
    FConsole.SetCursorPosition(1, 2);
    put(Cut(FStatus[1], kStatusWidth), "\n");
    DrawBar(2, 4, FBars[0].Max, FBars[0].Position);
    FConsole.SetCursorPosition(1, 6);
    put(Cut(FStatus[2], kStatusWidth), "\n");
    DrawBar(2, 8, FBars[1].Max, FBars[1].Position);
    const size_t first = FLog.size() > kLogLines ? FLog.size() - kLogLines : 0;
    for (size_t i = first; i < FLog.size(); ++i) {
        FConsole.SetCursorPosition(2, 12 + static_cast<int>(i - first));
        put(PadCut(FLog[i], 78, kLogWidth));
    }
    FConsole.SetCursorPosition(2, 21);
    put(Cut(FSpeedText, kSpeedWidth));
    FConsole.SetCursorPosition(27, 21);
    put(Cut(FDownloadedText, kDownloadedWidth));
    FConsole.SetCursorPosition(50, 21);
    put(Cut(FRemainingText, kRemainingWidth));
    FConsole.SetCursorPosition(0, 24);
    FDrawing = false;
}

std::string ConsoleUsage(const std::string& command) {
    return "Usage: " + command + " [/D<days>] [/C<folder>] [/P<level>]\n"
           "Runs one grab of the enabled grabbers and post processors and writes the XMLTV file.\n"
           "\n" +
           SharedSwitchesUsage() +
           "\n"
           "Exit status: 0 done, 2 a pass of the run failed, 1 an error ended the program.\n"
           "The manual page tavrin-console(1) tells more.";
}

int RunTavrinConsole(const std::vector<std::string>& args, platform::Console& console) {
    try {
        TConsoleGrabber grabber(args, console);
        grabber.Finish();
        return grabber.ExitStatus();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "TavrinConsole: %s\n", e.what());
        return 1;
    }
}
