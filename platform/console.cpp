// The text-mode console over ANSI sequences: cursor moves, runs of one character, and code page 437
// bytes shown as Unicode. Platform layer: the lowest, it knows nothing of the rest of the program.
#include "platform/console.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <langinfo.h>
#include <locale.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace platform {

// Code page 437, bytes 0x80 to 0xFF.
static const char* const kCp437High[128] = {
    "Ç", "ü", "é", "â", "ä", "à", "å", "ç", "ê", "ë", "è", "ï", "î", "ì", "Ä", "Å",
    "É", "æ", "Æ", "ô", "ö", "ò", "û", "ù", "ÿ", "Ö", "Ü", "¢", "£", "¥", "₧", "ƒ",
    "á", "í", "ó", "ú", "ñ", "Ñ", "ª", "º", "¿", "⌐", "¬", "½", "¼", "¡", "«", "»",
    "░", "▒", "▓", "│", "┤", "╡", "╢", "╖", "╕", "╣", "║", "╗", "╝", "╜", "╛", "┐",
    "└", "┴", "┬", "├", "─", "┼", "╞", "╟", "╚", "╔", "╩", "╦", "╠", "═", "╬", "╧",
    "╨", "╤", "╥", "╙", "╘", "╒", "╓", "╫", "╪", "┘", "┌", "█", "▄", "▌", "▐", "▀",
    "α", "ß", "Γ", "π", "Σ", "σ", "µ", "τ", "Φ", "Θ", "Ω", "δ", "∞", "φ", "ε", "∩",
    "≡", "±", "≥", "≤", "⌠", "⌡", "÷", "≈", "°", "∙", "·", "√", "ⁿ", "²", "■", "\xC2\xA0",
};

static const char kAscii[128] = {
    0,   1,   2,   3,   4,   5,   6,   7,   8,   9,   10,  11,  12,  13,  14,  15,
    16,  17,  18,  19,  20,  21,  22,  23,  24,  25,  26,  27,  28,  29,  30,  31,
    ' ', '!', '"', '#', '$', '%', '&', '\'', '(', ')', '*', '+', ',', '-', '.', '/',
    '0', '1', '2', '3', '4', '5', '6', '7', '8', '9', ':', ';', '<', '=', '>', '?',
    '@', 'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J', 'K', 'L', 'M', 'N', 'O',
    'P', 'Q', 'R', 'S', 'T', 'U', 'V', 'W', 'X', 'Y', 'Z', '[', '\\', ']', '^', '_',
    '`', 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j', 'k', 'l', 'm', 'n', 'o',
    'p', 'q', 'r', 's', 't', 'u', 'v', 'w', 'x', 'y', 'z', '{', '|', '}', '~', 127,
};

std::string_view Cp437ToUtf8(unsigned char byte) {
    if (byte >= 0x80) return kCp437High[byte - 0x80];
    return std::string_view(&kAscii[byte], 1);
}

static bool NameSaysUtf8(const char* name) {
    if (!name) return false;
    std::string lower;
    for (const char* p = name; *p; ++p) {
        char c = *p;
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
        if (c != '-' && c != '_') lower += c;
    }
    return lower.find("utf8") != std::string::npos;
}

bool LocaleIsUtf8() {
    if (locale_t loc = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(nullptr))) {
        const bool utf8 = NameSaysUtf8(nl_langinfo_l(CODESET, loc));
        freelocale(loc);
        return utf8;
    }
    // A locale named in the environment but not installed: go by its name.
    for (const char* var : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = std::getenv(var);
        if (value && *value) return NameSaysUtf8(value);
    }
    return false;
}

Console::Console(int fd) : FFd(fd), FTerminal(isatty(fd) == 1), FUtf8(LocaleIsUtf8()) {}

Console::Console(int fd, bool terminal, bool utf8) : FFd(fd), FTerminal(terminal), FUtf8(utf8) {}

bool Console::GetScreenBufferSize(int& width, int& height) const {
    width = height = 0;
    if (!FTerminal) return false;
    winsize ws{};
    if (ioctl(FFd, TIOCGWINSZ, &ws) != 0 || ws.ws_col == 0 || ws.ws_row == 0) return false;
    width = ws.ws_col;
    height = ws.ws_row;
    return true;
}

void Console::Put(std::string_view bytes) {
    // Unbuffered: every write reaches the terminal at once. Failures are ignored, as the screen
    // is only a view of the run.
    while (!bytes.empty()) {
        const ssize_t n = ::write(FFd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return;
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
}

static std::string CursorTo(int col, int row) {
    return "\x1b[" + std::to_string(row + 1) + ";" + std::to_string(col + 1) + "H";
}

void Console::SetCursorPosition(int col, int row) {
    if (!FTerminal || col < 0 || row < 0) return;
    Put(CursorTo(col, row));
}

void Console::FillCharacter(unsigned char cp437, int count, int col, int row) {
    if (!FTerminal || count <= 0 || col < 0 || row < 0) return;
    const std::string_view cell = FUtf8 ? Cp437ToUtf8(cp437) : std::string_view(reinterpret_cast<const char*>(&cp437), 1);
    int width = 0, height = 0;
    GetScreenBufferSize(width, height);
    std::string out = "\x1b" "7";   // keep the cursor where it is
    while (count > 0) {
        if (height > 0 && row >= height) break;
        int run = count;
        if (width > 0) {
            if (col >= width) {
                col = 0;
                ++row;
                continue;
            }
            if (run > width - col) run = width - col;
        }
        out += CursorTo(col, row);
        for (int i = 0; i < run; ++i) out += cell;
        count -= run;
        col += run;
    }
    out += "\x1b" "8";
    Put(out);
}

void Console::Write(std::string_view text) { Put(text); }

void Console::WriteCp437(std::string_view text) {
    if (!FUtf8) {
        Put(text);
        return;
    }
    std::string out;
    out.reserve(text.size() * 3);
    for (char c : text) out += Cp437ToUtf8(static_cast<unsigned char>(c));
    Put(out);
}

}  // namespace platform
