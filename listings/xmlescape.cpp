// XML text escaping and the character-set conversion around it, with a fast path that converts runs
// of plain bytes whole and scans ASCII sixteen bytes at a time. Listings layer, over the codecs.
#include "listings/xmlescape.h"

#include <array>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "listings/codecs.h"

namespace {

// Windows-1252 leaves 0x81, 0x8D, 0x8F, 0x90 and 0x9D unassigned; the codec maps them to the C1
// controls of the same number, but XML parsers refuse those bytes in a Windows-1252 document.
inline bool IsUnassigned1252(char32_t u) {
    return u == 0x81 || u == 0x8D || u == 0x8F || u == 0x90 || u == 0x9D;
}

inline bool IsXMLChar(unsigned long v) {
    return v == 0x9 || v == 0xA || v == 0xD || (v >= 0x20 && v <= 0xD7FF) || (v >= 0xE000 && v <= 0xFFFD) ||
           (v >= 0x10000 && v <= 0x10FFFF);
}

inline bool IsDigit(char32_t c) { return c >= '0' && c <= '9'; }
inline bool IsAsciiLetter(char32_t c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
inline int HexValue(char32_t c) {
    if (IsDigit(c)) return int(c - '0');
    if (c >= 'a' && c <= 'f') return int(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') return int(c - 'A' + 10);
    return -1;
}

// Whether the characters between an ampersand and a semicolon name a reference XML defines by
// itself: one of the five predefined entities or a character reference to an XML character.
template <class Ch>
bool IsKnownReference(const Ch* s, std::size_t n) {
    auto is = [&](const char* name) {
        const std::size_t len = std::strlen(name);
        if (len != n) return false;
        for (std::size_t i = 0; i < n; ++i)
            if (char32_t(s[i]) != char32_t(static_cast<unsigned char>(name[i]))) return false;
        return true;
    };
    if (n >= 2 && s[0] == '#') {
        unsigned long v = 0;
        if (s[1] == 'x') {
            if (n == 2) return false;
            for (std::size_t i = 2; i < n; ++i) {
                const int h = HexValue(char32_t(s[i]));
                if (h < 0 || v > 0x10FFFF) return false;
                v = v * 16 + unsigned(h);
            }
        } else {
            for (std::size_t i = 1; i < n; ++i) {
                if (!IsDigit(char32_t(s[i])) || v > 0x10FFFF) return false;
                v = v * 10 + unsigned(s[i] - '0');
            }
        }
        return IsXMLChar(v);
    }
    return is("amp") || is("lt") || is("gt") || is("quot") || is("apos");
}

// Whether the ampersand at s[i] starts a reference that may stay as it is. First the old rule: up
// to six characters follow, a semicolon comes before any character other than '#', a digit or an
// ASCII letter (so the reference has at most five characters). Then the reference must be one XML
// knows; "&nbsp;" or "&#1;" would make the whole document unreadable.
template <class Ch>
bool KeepsAmpersand(const Ch* s, std::size_t n, std::size_t i) {
    for (std::size_t j = i + 1; j < n && j <= i + 6; ++j) {
        const char32_t c = char32_t(s[j]);
        if (c == ';') return IsKnownReference(s + i + 1, j - i - 1);
        if (c != '#' && !IsDigit(c) && !IsAsciiLetter(c)) return false;
    }
    return false;
}

// The text that stands for a character needing attention, or nothing when the character is
// removed. Characters that need none are not passed here.
inline std::string_view Replacement(char32_t u) {
    switch (u) {
    case '\'': case '`': case 0xB4: return "&apos;";
    case '"': case 0x93: case 0x94: return "&quot;";
    case '>': return "&gt;";
    case '<': return "&lt;";
    default: return {};
    }
}

// Escapes `in` onto `out`; with toSet 2 the characters Windows-1252 cannot carry become "?".
void EscapeInto(std::u16string& out, std::u16string_view in, int toSet) {
    const std::size_t n = in.size();
    for (std::size_t i = 0; i < n; ++i) {
        const char16_t u = in[i];
        if (u == '&') {
            out += KeepsAmpersand(in.data(), n, i) ? u"&" : u"&amp;";
        } else if (u < 0x20) {
            if (u == '\t' || u == '\n' || u == '\r') out += u;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            if (u <= 0xDBFF && i + 1 < n && in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF) {
                out += u;
                out += in[++i];
            }  // a lone half is dropped
        } else if (u == 0xFFFE || u == 0xFFFF) {
            // not an XML character
        } else if (const std::string_view r = Replacement(u); !r.empty()) {
            for (const char c : r) out += char16_t(c);
        } else if (toSet == CharSetWindows1252 && IsUnassigned1252(u)) {
            out += u'?';
        } else {
            out += u;
        }
    }
}

// Byte classes for the fast path, one table per pair of character sets.
enum : std::uint8_t {
    bcPlain,    // converted with its neighbours as it is
    bcSpecial,  // a character escaping changes, decoded from this one byte
    bcHard,     // the text needs the full decode-escape-encode path
    bcLead,     // a UTF-8 lead byte whose class depends on what follows
};

struct TByteClasses {
    std::array<std::uint8_t, 256> c{};
};

inline bool IsSpecialUnit(char32_t u, int toSet) {
    return u < 0x20 || !Replacement(u).empty() || u == '&' || (toSet == CharSetWindows1252 && IsUnassigned1252(u));
}

TByteClasses MakeByteClasses(int fromSet, int toSet) {
    TByteClasses t;
    for (int b = 0; b < 256; ++b) {
        std::uint8_t& c = t.c[b];
        if (b < 0x80) {
            c = IsSpecialUnit(char32_t(b), toSet) && b != '\t' && b != '\n' && b != '\r' ? bcSpecial : bcPlain;
        } else if (fromSet != CharSetUTF8) {
            const auto* codec = static_cast<const TCustomSingleByteCodec*>(CodecForCharSet(fromSet));
            c = IsSpecialUnit(codec->DecodeByte(static_cast<unsigned char>(b)), toSet) ? bcSpecial : bcPlain;
        } else if (b == 0xC0 || b == 0xC1) {
            c = bcHard;  // overlong forms of ASCII characters
        } else if (b == 0xC2 || b == 0xE0 || b == 0xED || b == 0xEF || b == 0xF0) {
            c = bcLead;
        } else {
            c = bcPlain;  // continuation bytes and bad leads decode to "?", other leads to harmless characters
        }
    }
    return t;
}

const std::array<std::array<TByteClasses, 3>, 3> AllByteClasses = [] {
    std::array<std::array<TByteClasses, 3>, 3> all;
    for (int f = 1; f <= 3; ++f)
        for (int t = 1; t <= 3; ++t) all[f - 1][t - 1] = MakeByteClasses(f, t);
    return all;
}();

inline const TByteClasses& ByteClasses(int fromSet, int toSet) { return AllByteClasses[fromSet - 1][toSet - 1]; }

// The number of leading bytes that are printable ASCII characters escaping leaves alone, looked at
// sixteen at a time; the caller goes on byte by byte from there.
inline std::size_t PlainAsciiRun(const unsigned char* p, std::size_t n) {
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128i below = _mm_set1_epi8(0x20);
    for (; i + 16 <= n; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        __m128i m = _mm_cmplt_epi8(v, below);  // signed: controls and every byte above 0x7F
        m = _mm_or_si128(m, _mm_cmpeq_epi8(v, _mm_set1_epi8('"')));
        m = _mm_or_si128(m, _mm_cmpeq_epi8(v, _mm_set1_epi8('&')));
        m = _mm_or_si128(m, _mm_cmpeq_epi8(v, _mm_set1_epi8('\'')));
        m = _mm_or_si128(m, _mm_cmpeq_epi8(v, _mm_set1_epi8('<')));
        m = _mm_or_si128(m, _mm_cmpeq_epi8(v, _mm_set1_epi8('>')));
        m = _mm_or_si128(m, _mm_cmpeq_epi8(v, _mm_set1_epi8('`')));
        if (const int mask = _mm_movemask_epi8(m)) return i + std::size_t(__builtin_ctz(unsigned(mask)));
    }
#else
    (void)p;
    (void)n;
#endif
    return i;
}

// The class of the UTF-8 lead byte at p[i]: bcSpecial for U+0080..U+00BF characters that escaping
// changes (two bytes, the unit is the second byte), bcHard where the sequence may decode to
// something the fast path does not handle (overlong forms, surrogates, U+FFFE, U+FFFF).
inline std::uint8_t LeadClass(const unsigned char* p, std::size_t n, std::size_t i, int toSet) {
    if (i + 1 >= n) return bcPlain;  // cut off: decodes to nothing
    const unsigned char lead = p[i], next = p[i + 1];
    switch (lead) {
    case 0xC2: return next >= 0x80 && next <= 0xBF && IsSpecialUnit(next, toSet) ? bcSpecial : bcPlain;
    case 0xE0: return next >= 0x80 && next < 0xA0 ? bcHard : bcPlain;
    case 0xED: return next >= 0xA0 && next <= 0xBF ? bcHard : bcPlain;
    case 0xEF: return next == 0xBF && i + 2 < n && (p[i + 2] == 0xBE || p[i + 2] == 0xBF) ? bcHard : bcPlain;
    case 0xF0: return next >= 0x80 && next < 0x90 ? bcHard : bcPlain;
    default: return bcPlain;
    }
}

// Output targets of the text conversion: a std::string, or memory known to be large enough.
struct TStringOut {
    std::string& s;
    void Put(const char* p, std::size_t n) { s.append(p, n); }
    void Put(std::string_view v) { s.append(v); }
    void Put(char c) { s += c; }
    void PutRepeated(std::size_t n, char c) { s.append(n, c); }
    void Converted(std::string_view bytes, int fromSet, int toSet) { AppendConvertedCharSet(s, bytes, fromSet, toSet); }
    void Encoded(std::u16string_view text, int toSet) { AppendEncodedCharSet(s, text, toSet); }
    std::size_t Mark() const { return s.size(); }
    void Rollback(std::size_t mark) { s.resize(mark); }
};

struct TRawOut {
    char* d;
    char* const begin;
    std::string& scratch;  // for the codecs, which append to strings
    void Put(const char* p, std::size_t n) {
        std::memcpy(d, p, n);
        d += n;
    }
    void Put(std::string_view v) { Put(v.data(), v.size()); }
    void Put(char c) { *d++ = c; }
    void PutRepeated(std::size_t n, char c) {
        std::memset(d, c, n);
        d += n;
    }
    void Converted(std::string_view bytes, int fromSet, int toSet) {
        scratch.clear();
        AppendConvertedCharSet(scratch, bytes, fromSet, toSet);
        Put(scratch);
    }
    void Encoded(std::u16string_view text, int toSet) {
        scratch.clear();
        AppendEncodedCharSet(scratch, text, toSet);
        Put(scratch);
    }
    std::size_t Mark() const { return std::size_t(d - begin); }
    void Rollback(std::size_t mark) { d = begin + mark; }
};


// Converts a run of bytes that a special character follows. In UTF-8 a sequence cut off by that
// character is not dropped, as at the end of the text, but yields one "?" per byte: its lead byte
// is bad, and so is every continuation byte behind it. A lead byte is no continuation either, so
// a sequence it cuts off in turn goes the same way.
template <class Out>
void PutRun(Out& out, const unsigned char* p, std::size_t n, bool ascii, int fromSet, int toSet) {
    if (n == 0) return;
    if (ascii) {  // the same bytes in every character set
        out.Put(reinterpret_cast<const char*>(p), n);
        return;
    }
    std::size_t keep = n;  // bytes converted as they are; the rest become "?"
    if (fromSet == CharSetUTF8) {
        for (;;) {
            std::size_t k = keep;
            while (k > 0 && keep - k < 3 && (p[k - 1] & 0xC0) == 0x80) --k;
            if (k == 0 || p[k - 1] < 0xC0 || p[k - 1] > 0xF7) break;
            const unsigned char lead = p[k - 1];
            const std::size_t need = lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
            if (keep - (k - 1) >= need) break;
            keep = k - 1;
        }
    }
    out.Converted(std::string_view(reinterpret_cast<const char*>(p), keep), fromSet, toSet);
    out.PutRepeated(n - keep, '?');
}

template <class Out>
void PutEscapedSlow(Out& out, std::string_view bytes, int fromSet, int toSet) {
    const std::u16string text = DecodeCharSet(bytes, fromSet);
    std::u16string escaped;
    escaped.reserve(text.size() + 16);
    EscapeInto(escaped, text, toSet);
    out.Encoded(escaped, toSet);
}

inline bool KnownCharSet(int charSet) { return charSet >= 1 && charSet <= 3; }

// The conversion behind AppendXMLText and the writer's texts; both sets are known.
template <class Out>
void PutText(Out& out, std::string_view bytes, int fromSet, int toSet, bool escape) {
    if (!escape) {
        out.Converted(bytes, fromSet, toSet);
        return;
    }
    // Fast path: the text is converted in runs between the characters escaping changes, which
    // are handled here byte by byte. Text that may decode to anything unusual takes the slow path.
    const std::uint8_t* const cls = ByteClasses(fromSet, toSet).c.data();
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    const std::size_t start = out.Mark();
    std::size_t run = 0, i = 0;
    unsigned high = 0;  // bit 7 set when the run holds a byte above 0x7F
    while (i < n) {
        // most bytes need nothing: skip them in blocks
        if (n - i >= 16) {
            i += PlainAsciiRun(p + i, n - i);
        } else {
            while (i + 4 <= n && (cls[p[i]] | cls[p[i + 1]] | cls[p[i + 2]] | cls[p[i + 3]]) == bcPlain) {
                high |= p[i] | p[i + 1] | p[i + 2] | p[i + 3];
                i += 4;
            }
        }
        if (i == n) break;
        const unsigned char b = p[i];
        std::uint8_t c = cls[b];
        if (c == bcPlain) {
            high |= b;
            ++i;
            continue;
        }
        char32_t u;
        std::size_t len = 1;
        if (c == bcLead) {
            c = LeadClass(p, n, i, toSet);
            if (c == bcPlain) {
                high |= b;
                ++i;
                continue;
            }
            u = p[i + 1];
            len = 2;
        } else if (b < 0x80 || fromSet == CharSetUTF8) {
            u = b;
        } else {
            u = static_cast<const TCustomSingleByteCodec*>(CodecForCharSet(fromSet))->DecodeByte(b);
        }
        if (c == bcHard) {
            out.Rollback(start);
            PutEscapedSlow(out, bytes, fromSet, toSet);
            return;
        }
        PutRun(out, p + run, i - run, (high & 0x80) == 0, fromSet, toSet);
        high = 0;
        if (u == '&') {
            out.Put(KeepsAmpersand(p, n, i) ? std::string_view("&") : std::string_view("&amp;"));
        } else if (const std::string_view r = Replacement(u); !r.empty()) {
            out.Put(r);
        } else if (u >= 0x80) {
            out.Put('?');  // a control Windows-1252 cannot carry
        }  // other controls are dropped
        i += len;
        run = i;
    }
    // the end of the text: here a cut-off sequence is dropped
    if (high & 0x80)
        out.Converted(std::string_view(bytes.data() + run, n - run), fromSet, toSet);
    else
        out.Put(bytes.data() + run, n - run);
}

}  // namespace

std::u16string XMLEscape(std::u16string_view text) {
    std::u16string out;
    out.reserve(text.size());
    EscapeInto(out, text, 0);
    return out;
}

void AppendXMLText(std::string& out, std::string_view bytes, int fromSet, int toSet, bool escape) {
    if (!KnownCharSet(fromSet) || !KnownCharSet(toSet) || bytes.empty()) return;
    TStringOut target{out};
    PutText(target, bytes, fromSet, toSet, escape);
}

char* PutXMLText(char* out, std::string_view bytes, int fromSet, int toSet, bool escape, std::string& scratch) {
    if (!KnownCharSet(fromSet) || !KnownCharSet(toSet) || bytes.empty()) return out;
    TRawOut target{out, out, scratch};
    PutText(target, bytes, fromSet, toSet, escape);
    return target.d;
}
