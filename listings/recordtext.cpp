#include "listings/recordtext.h"

#include "listings/recordstore.h"

#include <limits>
#include <ostream>
#include <stdexcept>


void TRecordText::Set(std::string_view s) {
    const std::size_t n = s.size();
    if (n <= InlineCapacity) {
        if (n) std::memcpy(FBytes, s.data(), n);
        SetInlineSize(n);
        return;
    }
    if (n >= std::numeric_limits<std::uint32_t>::max()) throw std::length_error("Text too long");
    char* p = static_cast<char*>(recordstore::Allocate(n + 1));
    std::memcpy(p, s.data(), n);
    p[n] = '\0';
    const std::uint32_t size = static_cast<std::uint32_t>(n);
    std::memcpy(FBytes, &p, sizeof p);
    std::memcpy(FBytes + sizeof p, &size, sizeof size);
    FBytes[InlineCapacity] = static_cast<char>(HeapTag);
}

void TRecordText::Release() noexcept {
    if (!IsInline()) recordstore::Free(const_cast<char*>(HeapData()), HeapSize() + 1);
}

TRecordText& TRecordText::assign(std::string_view s) {
    TRecordText fresh(s);  // before the old text goes: s may lie in it
    return *this = std::move(fresh);
}

TRecordText& TRecordText::operator+=(std::string_view s) {
    if (s.empty()) return *this;
    std::string joined;
    joined.reserve(size() + s.size());
    joined.append(View()).append(s);
    return assign(joined);
}

std::string operator+(const TRecordText& a, std::string_view b) {
    std::string r;
    r.reserve(a.size() + b.size());
    return r.append(a.View()).append(b);
}
std::string operator+(std::string_view a, const TRecordText& b) {
    std::string r;
    r.reserve(a.size() + b.size());
    return r.append(a).append(b.View());
}
std::string operator+(const TRecordText& a, const TRecordText& b) { return a + b.View(); }
std::string operator+(const TRecordText& a, const char* b) { return a + std::string_view(b); }
std::string operator+(const char* a, const TRecordText& b) { return std::string_view(a) + b; }
std::string operator+(const TRecordText& a, const std::string& b) { return a + std::string_view(b); }
std::string operator+(const std::string& a, const TRecordText& b) { return std::string_view(a) + b; }
std::string operator+(const TRecordText& a, char b) { return a + std::string_view(&b, 1); }

std::ostream& operator<<(std::ostream& out, const TRecordText& text) { return out << text.View(); }
