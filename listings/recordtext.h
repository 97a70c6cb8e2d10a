// The text fields of the listings records (titles, descriptions, IDs, language codes): a byte string
// in 16 bytes instead of a std::string's 32.
//
// A grab holds a dozen texts per programme, most of them short (IDs, channel IDs, language codes,
// categories, episode numbers). Up to 15 bytes are kept inside the object; a longer text is one
// block of its length (rounded up to 8 bytes) from the record store, away from the heap
// that the scripts' short-lived allocations churn. Texts are written once and read many times, so
// a change makes a new block rather than keeping spare room. The text is always followed by a NUL
// byte, so c_str() costs nothing. It reads like a std::string: it converts to std::string and
// std::string_view, compares with both and with C strings, and offers the read-only members the
// code uses.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>

class TRecordText {
public:
    static constexpr std::size_t npos = std::string_view::npos;

    TRecordText() noexcept { SetInlineSize(0); }
    TRecordText(std::string_view s) { Set(s); }
    TRecordText(const char* s) { Set(s ? std::string_view(s) : std::string_view()); }
    // Explicit, so that `test ? text : std::string(...)` has one meaning: a std::string.
    explicit TRecordText(const std::string& s) { Set(s); }
    TRecordText(const TRecordText& other) { Set(other.View()); }
    TRecordText(TRecordText&& other) noexcept {
        std::memcpy(FBytes, other.FBytes, sizeof FBytes);
        other.SetInlineSize(0);
    }
    ~TRecordText() { Release(); }

    TRecordText& operator=(const TRecordText& other) {
        if (this != &other) assign(other.View());
        return *this;
    }
    TRecordText& operator=(TRecordText&& other) noexcept {
        if (this != &other) {
            Release();
            std::memcpy(FBytes, other.FBytes, sizeof FBytes);
            other.SetInlineSize(0);
        }
        return *this;
    }
    TRecordText& operator=(std::string_view s) { return assign(s); }
    TRecordText& operator=(const char* s) { return assign(s ? std::string_view(s) : std::string_view()); }
    TRecordText& operator=(const std::string& s) { return assign(std::string_view(s)); }

    // The text may lie inside this one.
    TRecordText& assign(std::string_view s);
    TRecordText& assign(const char* s, std::size_t n) { return assign(std::string_view(s, n)); }
    TRecordText& operator+=(std::string_view s);
    TRecordText& operator+=(char c) { return *this += std::string_view(&c, 1); }
    void clear() noexcept {
        Release();
        SetInlineSize(0);
    }

    const char* data() const noexcept { return IsInline() ? FBytes : HeapData(); }
    const char* c_str() const noexcept { return data(); }
    std::size_t size() const noexcept { return IsInline() ? InlineCapacity - Tag() : HeapSize(); }
    std::size_t length() const noexcept { return size(); }
    bool empty() const noexcept { return size() == 0; }
    char operator[](std::size_t i) const noexcept { return data()[i]; }
    char front() const noexcept { return data()[0]; }
    char back() const noexcept { return data()[size() - 1]; }
    const char* begin() const noexcept { return data(); }
    const char* end() const noexcept { return data() + size(); }

    std::string_view View() const noexcept { return {data(), size()}; }
    std::string str() const { return std::string(View()); }
    operator std::string_view() const noexcept { return View(); }
    operator std::string() const { return str(); }

    std::size_t find(std::string_view s, std::size_t pos = 0) const noexcept { return View().find(s, pos); }
    std::size_t find(char c, std::size_t pos = 0) const noexcept { return View().find(c, pos); }
    std::size_t rfind(std::string_view s, std::size_t pos = npos) const noexcept { return View().rfind(s, pos); }
    std::size_t rfind(char c, std::size_t pos = npos) const noexcept { return View().rfind(c, pos); }
    std::size_t find_first_of(std::string_view s, std::size_t pos = 0) const noexcept {
        return View().find_first_of(s, pos);
    }
    std::size_t find_first_not_of(std::string_view s, std::size_t pos = 0) const noexcept {
        return View().find_first_not_of(s, pos);
    }
    std::string substr(std::size_t pos = 0, std::size_t n = npos) const { return std::string(View().substr(pos, n)); }
    int compare(std::string_view s) const noexcept { return View().compare(s); }
    bool starts_with(std::string_view s) const noexcept { return View().starts_with(s); }
    bool ends_with(std::string_view s) const noexcept { return View().ends_with(s); }

    friend bool operator==(const TRecordText& a, const TRecordText& b) noexcept { return a.View() == b.View(); }
    friend bool operator==(const TRecordText& a, std::string_view b) noexcept { return a.View() == b; }
    friend bool operator==(const TRecordText& a, const char* b) noexcept { return a.View() == std::string_view(b); }
    friend bool operator==(const TRecordText& a, const std::string& b) noexcept { return a.View() == b; }
    friend std::strong_ordering operator<=>(const TRecordText& a, const TRecordText& b) noexcept {
        return a.View() <=> b.View();
    }
    friend std::strong_ordering operator<=>(const TRecordText& a, std::string_view b) noexcept {
        return a.View() <=> b;
    }

private:
    static constexpr std::size_t InlineCapacity = 15;
    static constexpr unsigned char HeapTag = 0xFF;

    // Inline: the bytes, then NUL, with the last byte InlineCapacity - size (itself the NUL when full).
    // A block: its address and size at the start, HeapTag in the last byte.
    unsigned char Tag() const noexcept { return static_cast<unsigned char>(FBytes[InlineCapacity]); }
    bool IsInline() const noexcept { return Tag() != HeapTag; }
    void SetInlineSize(std::size_t n) noexcept {
        FBytes[n] = '\0';
        FBytes[InlineCapacity] = static_cast<char>(InlineCapacity - n);
    }
    const char* HeapData() const noexcept {
        const char* p;
        std::memcpy(&p, FBytes, sizeof p);
        return p;
    }
    std::size_t HeapSize() const noexcept {
        std::uint32_t n;
        std::memcpy(&n, FBytes + sizeof(char*), sizeof n);
        return n;
    }
    void Set(std::string_view s);  // over an empty or released text
    void Release() noexcept;

    alignas(8) char FBytes[16];
};

std::string operator+(const TRecordText& a, std::string_view b);
std::string operator+(std::string_view a, const TRecordText& b);
std::string operator+(const TRecordText& a, const TRecordText& b);
std::string operator+(const TRecordText& a, const char* b);
std::string operator+(const char* a, const TRecordText& b);
std::string operator+(const TRecordText& a, const std::string& b);
std::string operator+(const std::string& a, const TRecordText& b);
std::string operator+(const TRecordText& a, char b);
std::ostream& operator<<(std::ostream& out, const TRecordText& text);

template <>
struct std::hash<TRecordText> {
    std::size_t operator()(const TRecordText& t) const noexcept { return std::hash<std::string_view>()(t.View()); }
};
