// Text helpers: byte counts and durations for the progress lines, and position-based search and copy
// for the text parsers. Positions count from 1, as scripts and the parsers expect; -1 means "not found".
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

// Raised by PosFrom for a start position below 1.
class ESearchError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The user's locale thousands separator, read once; "," when the locale has none.
const std::string& LocaleThousandsSeparator();

// A byte count in the largest unit that keeps it at most 1024, moved `bias` units down (never below
// bytes): "1,500 K". The callers append "B"; a count in bytes ends in the bare space ("1,024 ").
// A negative count gives "ERROR".
std::string FormatSizeBias(int bias, int64_t size);
std::string FormatSizeBias(int bias, int64_t size, std::string_view separator);
std::string FormatSize(int64_t size);

// "hh:mm:ss" with at least two digits a part; hours are not wrapped (360000 gives "100:00:00").
std::string FormatDuration(int32_t seconds);

// First occurrence of `pattern` at or after `start`, compared byte for byte; -1 when there is none
// (an empty pattern is never found). Throws ESearchError "Cannot start string search from %d" for a
// start below 1.
int PosFrom(std::string_view text, std::string_view pattern, int start);
int PosFirst(std::string_view text, std::string_view pattern);

// The bytes from position `first` to position `last`, both included, limited to the text.
std::string CopyRange(std::string_view text, int first, int last);
