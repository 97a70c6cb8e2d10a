// Size and duration texts for the progress lines, and the 1-based search and copy of the text
// parsers. Support utilities layer, above platform.
#include "util/textutils.h"

#include <climits>
#include <cstdio>

#include <langinfo.h>
#include <locale.h>

const std::string& LocaleThousandsSeparator() {
    static const std::string separator = [] {
        std::string sep;
        // The user's locale from the environment, without touching the process-wide locale.
        if (locale_t loc = ::newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(nullptr))) {
            if (const char* s = ::nl_langinfo_l(THOUSEP, loc)) sep = s;
            ::freelocale(loc);
        }
        return sep.empty() ? std::string(",") : sep;
    }();
    return separator;
}

static std::string GroupThousands(uint64_t value, std::string_view separator) {
    const std::string digits = std::to_string(value);
    std::string result;
    result.reserve(digits.size() + digits.size() / 3 * separator.size());
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) result += separator;
        result += digits[i];
    }
    return result;
}

std::string FormatSizeBias(int bias, int64_t size, std::string_view separator) {
    static const char* const units[] = {"", "K", "M", "G", "T", "P", "E"};
    constexpr int maxUnit = 6;  // 1024^7 is beyond any 64-bit count
    if (size < 0) return "ERROR";
    int unit = 0;
    for (int64_t v = size; v > 1024; v /= 1024) ++unit;
    // A caller's bias may not move the unit outside the table, whichever way it points.
    const int64_t shifted = static_cast<int64_t>(unit) - bias;
    unit = shifted < 0 ? 0 : (shifted > maxUnit ? maxUnit : static_cast<int>(shifted));
    int64_t value = size;
    for (int i = 0; i < unit; ++i) value /= 1024;
    return GroupThousands(static_cast<uint64_t>(value), separator) + " " + units[unit];
}

std::string FormatSizeBias(int bias, int64_t size) { return FormatSizeBias(bias, size, LocaleThousandsSeparator()); }

std::string FormatSize(int64_t size) { return FormatSizeBias(0, size); }

std::string FormatDuration(int32_t seconds) {
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%.2d:%.2d:%.2d", seconds / 3600, (seconds % 3600) / 60, seconds % 60);
    return buffer;
}

int PosFrom(std::string_view text, std::string_view pattern, int start) {
    if (start < 1) throw ESearchError("Cannot start string search from " + std::to_string(start));
    if (text.size() < static_cast<size_t>(start) || pattern.empty()) return -1;
    const size_t found = text.find(pattern, static_cast<size_t>(start) - 1);
    if (found == std::string_view::npos || found >= static_cast<size_t>(INT_MAX)) return -1;
    return static_cast<int>(found) + 1;
}

int PosFirst(std::string_view text, std::string_view pattern) { return PosFrom(text, pattern, 1); }

std::string CopyRange(std::string_view text, int first, int last) {
    // Positions outside the text are cut to it, so no caller can read outside the string.
    const int64_t from = first < 1 ? 1 : first;
    const int64_t to = static_cast<int64_t>(last) > static_cast<int64_t>(text.size()) ? static_cast<int64_t>(text.size()) : last;
    if (to < from) return std::string();
    return std::string(text.substr(static_cast<size_t>(from - 1), static_cast<size_t>(to - from + 1)));
}
