// The text-mode console: cursor positioning, runs of one character and text at the cursor, over
// ANSI sequences on a terminal. When the output is not a terminal (a file or a pipe), positioning
// and filling do nothing and texts are written one after another.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// The Unicode character (as UTF-8 bytes) of a code page 437 byte; bytes below 0x80 stand for
// themselves.
std::string_view Cp437ToUtf8(unsigned char byte);

// Whether the character set of the environment's locale (LC_ALL, LC_CTYPE, LANG) is UTF-8. The
// process-wide locale is left alone.
bool LocaleIsUtf8();

class Console {
public:
    // The console on a file descriptor (standard output by default): whether it is a terminal and
    // whether code page 437 characters go out as UTF-8 are found out here.
    explicit Console(int fd = 1);
    // Explicit choices, for output that is examined rather than shown.
    Console(int fd, bool terminal, bool utf8);

    bool IsTerminal() const { return FTerminal; }
    bool Utf8() const { return FUtf8; }

    // The screen-buffer size in character cells; false (and 0 × 0) when it cannot be had, as for a
    // file or a terminal that does not say.
    bool GetScreenBufferSize(int& width, int& height) const;

    // Column and row count from 0 at the top left.
    void SetCursorPosition(int col, int row);
    // Puts `count` copies of a code page 437 character from (col, row) on, continuing on the next
    // rows and stopping at the end of the screen; the cursor does not move.
    void FillCharacter(unsigned char cp437, int count, int col, int row);
    // Writes bytes at the cursor as they are.
    void Write(std::string_view text);
    // Writes text whose bytes 0x80 and above are code page 437 characters (the frame).
    void WriteCp437(std::string_view text);

private:
    void Put(std::string_view bytes);

    int FFd;
    bool FTerminal;
    bool FUtf8;
};

}  // namespace platform
