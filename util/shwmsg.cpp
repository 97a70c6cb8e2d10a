#include "util/shwmsg.h"

#include <cstdarg>
#include <cstdio>
#include <utility>
#include <vector>

namespace {

TMessageHandler& Handler() {
    static TMessageHandler handler;
    return handler;
}

}  // namespace

TMessageHandler SetMessageHandler(TMessageHandler handler) { return std::exchange(Handler(), std::move(handler)); }

void ShowMessage(const std::string& text) {
    if (const TMessageHandler& handler = Handler()) handler(text);
    else std::fprintf(stderr, "%s\n", text.c_str());
}

void ShowMessageFmt(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::vector<char> text(length > 0 ? static_cast<size_t>(length) + 1 : 1, '\0');
    if (length > 0) std::vsnprintf(text.data(), text.size(), format, again);
    va_end(again);
    ShowMessage(text.data());
}
