#include "listings/uxmltv.h"

#include <array>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <exception>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "listings/codecs.h"
#include "listings/ubufferedfs.h"
#include "listings/uxmltvrecs.h"

const char* const XMLTVTagNames[XMLTVTagCount] = {
    "tv", "channel", "display-name", "url", "programme", "title", "sub-title", "desc", "credits", "director",
    "actor", "writer", "adapter", "producer", "presenter", "commentator", "guest", "date", "category",
    "language", "orig-language", "length", "icon", "episode-num", "video", "colour", "aspect",
    "previously-shown", "premiere", "subtitles", "rating", "star-rating", "country", "present", "quality",
    "audio", "stereo", "last-chance", "new", "value",
};

namespace {

const char* const CharSetNames[] = {"ISO-8859-1", "Windows-1252", "UTF-8"};
const char* const UnitNames[] = {"seconds", "minutes", "hours"};
const char* const SubtitleTypeNames[] = {"teletext", "onscreen"};

// ---------------------------------------------------------------------------
// Escaping

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

// No text grows by more than this factor: an escaped character takes at most six bytes ("&quot;"),
// a converted one at most three per source byte.
constexpr std::size_t MaxGrowth = 6;

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

const char* XMLTVCharSetName(int charSet) {
    return charSet >= 1 && charSet <= 3 ? CharSetNames[charSet - 1] : nullptr;
}

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

// ---------------------------------------------------------------------------
// The output file

namespace {

// Writes to "<name>.tmp" and puts it in place of the target once the document is complete, so a
// failed run leaves the previous listings where they were.
class TFileSink : public TXMLTVSink {
public:
    explicit TFileSink(const std::string& fileName) : FFileName(fileName), FTempName(fileName + ".tmp") {
        try {
            FStream = std::make_unique<TBufferedFS>(FTempName, fmCreate);
        } catch (const EFCreateError& e) {
            // name the file the user asked for; the system's reason is the same for both
            std::string message = e.what();
            const std::string quoted = "\"" + FTempName + "\"";
            if (const auto at = message.find(quoted); at != std::string::npos)
                message.replace(at, quoted.size(), "\"" + FFileName + "\"");
            throw EFCreateError(message);
        }
    }
    ~TFileSink() override { TFileSink::Abandon(); }

    void Write(const char* data, std::size_t size) override { FStream->Write(data, size); }

    void Commit() override {
        if (!FStream) return;
        try {
            FStream->Close();
        } catch (...) {
            Abandon();
            throw;
        }
        FStream.reset();
        if (std::rename(FTempName.c_str(), FFileName.c_str()) != 0) {
            const int error = errno;
            std::remove(FTempName.c_str());
            throw EFCreateError("Cannot create file \"" + FFileName + "\". " + std::strerror(error));
        }
    }

    void Abandon() override {
        if (!FStream) return;
        FStream.reset();  // closes the file; a failure to write the rest does not matter any more
        std::remove(FTempName.c_str());
    }

private:
    std::string FFileName;
    std::string FTempName;
    std::unique_ptr<TBufferedFS> FStream;
};

// Lengths of the tag names, so that writing a tag needs no strlen.
const std::array<std::uint8_t, XMLTVTagCount> TagLengths = [] {
    std::array<std::uint8_t, XMLTVTagCount> lengths{};
    for (int t = 0; t < XMLTVTagCount; ++t) lengths[t] = static_cast<std::uint8_t>(std::strlen(XMLTVTagNames[t]));
    return lengths;
}();

inline std::string_view TagName(int tag) { return {XMLTVTagNames[tag], TagLengths[tag]}; }

// The markup of a tag on its line, made once per indentation: "\n    <title" and "\n    </title>".
// Documents nest four deep; deeper elements are written piece by piece.
constexpr int TabledLevels = 6;
struct TTagLines {
    std::string Open[TabledLevels][XMLTVTagCount];
    std::string Close[TabledLevels][XMLTVTagCount];
    TTagLines() {
        for (int level = 0; level < TabledLevels; ++level)
            for (int t = 0; t < XMLTVTagCount; ++t) {
                const std::string line = "\n" + std::string(std::size_t(2 * level), ' ');
                Open[level][t] = line + "<" + XMLTVTagNames[t];
                Close[level][t] = line + "</" + XMLTVTagNames[t] + ">";
            }
    }
};
const TTagLines TagLines;

// The level of an indentation the tables hold, or -1.
inline int TabledLevel(std::int32_t indent) {
    return indent >= 0 && indent < 2 * TabledLevels && indent % 2 == 0 ? indent / 2 : -1;
}

// A number with at least `width` digits, as "%.*d" prints it.
char* PutNumber(char* d, long long value, int width) {
    char digits[24];
    char* end = std::to_chars(digits, digits + sizeof digits, value < 0 ? -value : value).ptr;
    if (value < 0) *d++ = '-';
    for (long long k = end - digits; k < width; ++k) *d++ = '0';
    std::memcpy(d, digits, std::size_t(end - digits));
    return d + (end - digits);
}

// Two digits at least, as "%.2d" prints a field of a date.
inline char* PutDigits2(char* d, unsigned value) {
    if (value >= 100) return PutNumber(d, value, 2);
    *d++ = char('0' + value / 10);
    *d++ = char('0' + value % 10);
    return d;
}

// The writer collects its bytes in a buffer of this size and hands them on when it is full. Pieces
// larger than its 64 KiB buffer go through TBufferedFS without being copied once more.
constexpr std::size_t BufferSize = 131072;

}  // namespace

// ---------------------------------------------------------------------------
// The writer

inline void TXMLTV::Markup(std::string_view Text) {
    if (Text.size() <= BufferSize - FLen) [[likely]] {
        std::memcpy(FBuf.get() + FLen, Text.data(), Text.size());
        FLen += Text.size();
    } else {
        MarkupSpill(Text);
    }
}

void TXMLTV::MarkupSpill(std::string_view Text) {
    FlushOut();
    if (Text.size() > BufferSize) {
        FStream->Write(Text.data(), Text.size());
        return;
    }
    std::memcpy(FBuf.get(), Text.data(), Text.size());
    FLen = Text.size();
}

inline void TXMLTV::Markup(char C) {
    if (FLen == BufferSize) [[unlikely]] FlushOut();
    FBuf[FLen++] = C;
}

TXMLTV::TXMLTV(const std::string& FileName, const TTimeZone& TimeZone, int CharSet)
    : FOwnedSink(std::make_unique<TFileSink>(FileName)), FStream(FOwnedSink.get()) {
    Start(TimeZone, CharSet);
}

TXMLTV::TXMLTV(TXMLTVSink& Sink, const TTimeZone& TimeZone, int CharSet) : FStream(&Sink) {
    Start(TimeZone, CharSet);
}

void TXMLTV::Start(const TTimeZone& TimeZone, int CharSet) {
    FUncaught = std::uncaught_exceptions();
    FTimeZone = TimeZone;
    // The declaration must name the character set the bytes are in; the settings offer only 1 to 3.
    FCharSet = static_cast<std::uint8_t>(XMLTVCharSetName(CharSet) ? CharSet : CharSetISO8859_1);
    FBuf = std::make_unique_for_overwrite<char[]>(BufferSize);
    FTags.reserve(8);
    Markup("<?xml version=\"1.0\" encoding=\"");
    Markup(XMLTVCharSetName(FCharSet));
    Markup("\"?>");
}

TXMLTV::~TXMLTV() {
    if (FClosed) return;
    if (std::uncaught_exceptions() > FUncaught) {
        FClosed = true;
        FStream->Abandon();
        return;
    }
    try {
        Close();
    } catch (...) {
        // Close has abandoned the output; a destructor cannot report more
    }
}

void TXMLTV::Close() {
    if (FClosed) return;
    FClosed = true;
    try {
        while (!FTags.empty()) CloseTag();
        FlushOut();
        FStream->Commit();
    } catch (...) {
        FStream->Abandon();
        throw;
    }
}

void TXMLTV::NewLine() {
    Markup('\n');
    for (std::int32_t i = 0; i < FIndent; ++i) Markup(' ');
}

void TXMLTV::FlushOut() {
    if (FLen == 0) return;
    FStream->Write(FBuf.get(), FLen);
    FLen = 0;
}

void TXMLTV::WriteText(std::string_view Text, int CharSet, bool Escape) {
    if (!KnownCharSet(CharSet) || Text.empty()) return;
    const std::size_t worst = MaxGrowth * Text.size();
    if (worst <= BufferSize) {
        // converted straight into the buffer, which has room for the longest possible result
        if (worst > BufferSize - FLen) FlushOut();
        TRawOut out{FBuf.get() + FLen, FBuf.get() + FLen, FConv};
        PutText(out, Text, CharSet, FCharSet, Escape);
        FLen += out.Mark();
    } else {
        FLarge.clear();
        TStringOut out{FLarge};
        PutText(out, Text, CharSet, FCharSet, Escape);
        Markup(FLarge);
    }
}

void TXMLTV::OpenTagStart(TXMLTVTag Tag) {
    FTags.push_back(Tag);
    if (const int level = TabledLevel(FIndent); level >= 0) {
        Markup(TagLines.Open[level][Tag]);
    } else {
        NewLine();
        Markup('<');
        Markup(TagName(Tag));
    }
    FLastOpenDepth = static_cast<std::int32_t>(FTags.size());
    FIndent += 2;
}

void TXMLTV::OpenTag(TXMLTVTag Tag) {
    OpenTagStart(Tag);
    Markup('>');
}

void TXMLTV::WriteAttribute(std::string_view Name, std::string_view Value, int CharSet) {
    // Name, equals sign and quotes are taken in the value's character set too, so an attribute
    // of a record with an unknown character set vanishes whole rather than being left empty.
    if (!XMLTVCharSetName(CharSet)) return;
    Markup(' ');
    Markup(Name);  // our own ASCII names, the same bytes in every character set
    Markup("=\"");
    WriteText(Value, CharSet, true);
    Markup('"');
}

void TXMLTV::EndOpenTag() { Markup('>'); }

void TXMLTV::EndEmptyTag() {
    if (FTags.empty()) throw EXMLTVException("Can't close tag, no tags are open");
    Markup("/>");
    FTags.pop_back();
    FIndent -= 2;
}

void TXMLTV::WriteEmptyTag(TXMLTVTag Tag) {
    if (const int level = TabledLevel(FIndent); level >= 0) {
        Markup(TagLines.Open[level][Tag]);
    } else {
        NewLine();
        Markup('<');
        Markup(TagName(Tag));
    }
    Markup("/>");
}

void TXMLTV::CloseTag() {
    if (FTags.empty()) throw EXMLTVException("Can't close tag, no tags are open");
    FIndent -= 2;
    const std::uint8_t tag = FTags.back();
    const std::string& line = TagLines.Close[0][tag];  // "\n</tag>"
    if (static_cast<std::int32_t>(FTags.size()) == FLastOpenDepth) {
        Markup(std::string_view(line).substr(1));  // no children: on the line of the start tag
    } else if (const int level = TabledLevel(FIndent); level >= 0) {
        Markup(TagLines.Close[level][tag]);
    } else {
        NewLine();
        Markup(std::string_view(line).substr(1));
    }
    FTags.pop_back();
}

void TXMLTV::CloseTo(TXMLTVTag Tag) {
    while (FTags.empty() || FTags.back() != Tag) CloseTag();
}

// ---- the document

void TXMLTV::WriteTV(const std::string& Date, const std::string& SourceInfoURL, const std::string& SourceInfoName,
                     const std::string& SourceDataURL, const std::string& GeneratorName,
                     const std::string& GeneratorURL) {
    if (!FTags.empty()) throw EXMLTVException("Cannot add a tv tag, it already exists");
    OpenTagStart(xtTV);
    const std::pair<const char*, const std::string*> attributes[] = {
        {"date", &Date},
        {"source-info-url", &SourceInfoURL},
        {"source-info-name", &SourceInfoName},
        {"source-data-url", &SourceDataURL},
        {"generator-info-name", &GeneratorName},
        {"generator-info-url", &GeneratorURL},
    };
    for (const auto& [name, value] : attributes)
        if (!value->empty()) WriteAttribute(name, *value, FCharSet);
    EndOpenTag();
}

void TXMLTV::WriteChannel(const TChannel& Channel) {
    if (FTags.empty()) throw EXMLTVException("Cannot add a channel tag, open a tv tag first");
    CloseTo(xtTV);
    const int E = Channel.Encoding;
    OpenTagStart(xtChannel);
    WriteAttribute("id", Channel.XML_ID, E);
    EndOpenTag();
    WriteTextElements(Channel.Name.get(), xtDisplayName, E);
    WriteIcons(Channel.Icon.get(), E);
    WritePlainElements(Channel.URL.get(), xtURL, E);
    CloseTag();
}

// The attribute with FormatXMLTVTime's text, made without a format string: two per programme.
void TXMLTV::WriteTime(std::string_view Name, const SYSTEMTIME& Time, int E) {
    if (!KnownCharSet(E)) return;
    // A programme's stop is mostly the next one's start, and programmes on different channels
    // share their starts: the last few texts are kept.
    TTimeText* slot = nullptr;
    for (TTimeText& cached : FTimeTexts)
        if (cached.Valid && std::memcmp(&cached.Time, &Time, sizeof Time) == 0) {
            slot = &cached;
            break;
        }
    if (!slot) {
        slot = &FTimeTexts[FNextTimeText];
        FNextTimeText = (FNextTimeText + 1) % FTimeTexts.size();
        const SYSTEMTIME t = ToZone(Time, FTimeZone, FOffset);
        char* d = PutNumber(slot->Text, t.wYear, 4);
        for (const std::uint16_t v : {t.wMonth, t.wDay, t.wHour, t.wMinute}) d = PutDigits2(d, v);
        std::memcpy(d, "00 ", 3);
        d += 3;
        slot->Length = std::size_t(d - slot->Text);
        slot->Offset = FOffset;
        slot->Time = Time;
        slot->Valid = true;
    }
    Markup(' ');
    Markup(Name);
    Markup("=\"");
    Markup(std::string_view(slot->Text, slot->Length));  // digits and a space: the same in any set
    WriteText(slot->Offset, E, true);
    Markup('"');
}

void TXMLTV::WriteProgramme(const TProgram& P) {
    if (FTags.empty()) throw EXMLTVException("Cannot add a program tag, open a tv tag first");
    CloseTo(xtTV);
    const int E = P.Encoding;
    OpenTagStart(xtProgramme);
    WriteTime("start", P.Start, E);
    if (P.Stop.wYear != 0) WriteTime("stop", P.Stop, E);
    if (P.PDCStart.wYear != 0) WriteTime("pdc-start", P.PDCStart, E);
    if (P.VPSStart.wYear != 0) WriteTime("vps-start", P.VPSStart, E);
    if (!P.ShowView.empty()) WriteAttribute("showview", P.ShowView, E);
    if (!P.VideoPlus.empty()) WriteAttribute("videoplus", P.VideoPlus, E);
    WriteAttribute("channel", P.XMLChannel, E);
    if (!P.Clump.empty()) WriteAttribute("clumpidx", P.Clump, E);
    EndOpenTag();

    WriteTextElements(P.Title.get(), xtTitle, E);
    WriteTextElements(P.Sub_Title.get(), xtSubTitle, E);
    WriteTextElements(P.Description.get(), xtDesc, E);
    WriteCredits(P.Credits.get(), E);
    WritePlainElement(P.Date, xtDate, E);
    WriteTextElements(P.Category.get(), xtCategory, E);
    WriteTextElement(P.Lang.get(), xtLanguage, E);
    WriteTextElement(P.OriginalLang.get(), xtOrigLanguage, E);
    if (P.Length != 0) {
        OpenTagStart(xtLength);
        // Producers always set a unit with a length; should one be missing, the attribute is left
        // out rather than a name made up
        if (P.Units >= 1 && P.Units <= 3) WriteAttribute("units", UnitNames[P.Units - 1], E);
        EndOpenTag();
        char digits[24];
        WriteText(std::string_view(digits, std::size_t(PutNumber(digits, P.Length, 1) - digits)), FCharSet, false);
        CloseTag();
    }
    WriteIcons(P.Icon.get(), E);
    WritePlainElements(P.URL.get(), xtURL, E);
    WriteTextElements(P.Country.get(), xtCountry, E);
    if (const auto* episodes = P.Episode.get())
        for (const TEpisode& episode : *episodes) WriteEpisode(episode, E);
    WriteVideo(P.Video.get(), E);
    WriteAudio(P.Audio.get(), E);
    WritePreviouslyShown(P.PreviouslyShown.get(), E);
    WriteTextElement(P.Premiere.get(), xtPremiere, E);
    WriteTextElement(P.LastChance.get(), xtLastChance, E);
    if (P.New) WriteEmptyTag(xtNew);
    if (const auto* subtitles = P.Subtitles.get())
        for (const TXMLTVSubtitles& item : *subtitles) WriteSubtitles(item, E);
    if (const auto* ratings = P.Rating.get())
        for (const TXMLTVRating& item : *ratings) WriteRating(item, E);
    WriteStarRating(P.StarRating.get(), E);
    CloseTag();
}

// ---- element writers

void TXMLTV::WriteTextElement(const TXMLTVString* Item, TXMLTVTag Tag, int E) {
    if (!Item) return;
    if (!Item->Lang.empty()) {
        OpenTagStart(Tag);
        WriteAttribute("lang", Item->Lang, E);
        EndOpenTag();
    } else {
        OpenTag(Tag);
    }
    WriteText(Item->Value, E, true);
    CloseTag();
}

void TXMLTV::WriteTextElements(const TXMLTVStringList* List, TXMLTVTag Tag, int E) {
    if (!List) return;
    for (const TXMLTVString& item : *List) WriteTextElement(&item, Tag, E);
}

void TXMLTV::WritePlainElement(std::string_view Text, TXMLTVTag Tag, int E) {
    if (Text.empty()) return;
    OpenTag(Tag);
    WriteText(Text, E, true);
    CloseTag();
}

void TXMLTV::WritePlainElements(const TStringList* List, TXMLTVTag Tag, int E) {
    if (!List) return;
    for (const std::string& text : *List) WritePlainElement(text, Tag, E);
}

void TXMLTV::WriteNumberAttribute(std::string_view Name, long long Value, int E) {
    char digits[24];
    WriteAttribute(Name, std::string_view(digits, std::size_t(PutNumber(digits, Value, 1) - digits)), E);
}

void TXMLTV::WriteIcon(const TXMLTVIcon& Icon, int E) {
    OpenTagStart(xtIcon);
    WriteAttribute("src", Icon.Source, E);
    if (Icon.Width != 0) WriteNumberAttribute("width", Icon.Width, E);
    if (Icon.Height != 0) WriteNumberAttribute("height", Icon.Height, E);
    EndEmptyTag();
}

void TXMLTV::WriteIcons(const TXMLTVIconList* List, int E) {
    if (!List) return;
    for (const TXMLTVIcon& icon : *List) WriteIcon(icon, E);
}

void TXMLTV::WriteActor(const TCastMember& Member, int E) {
    if (Member.Actor.empty()) return;
    OpenTag(xtActor);
    if (Member.Character.empty()) {
        WriteText(Member.Actor, E, true);
    } else {
        // the part first, then the name; joined before converting, as a byte sequence cut off at
        // the end of the part converts differently from one that a space follows
        FScratch.assign(Member.Character).append(" - ").append(Member.Actor);
        WriteText(FScratch, E, true);
    }
    CloseTag();
}

void TXMLTV::WriteCredits(const TXMLTVCredits* Credits, int E) {
    if (!Credits) return;
    OpenTag(xtCredits);
    WritePlainElements(Credits->Director.get(), xtDirector, E);
    if (const auto* cast = Credits->Actor.get())
        for (const TCastMember& member : *cast) WriteActor(member, E);
    WritePlainElements(Credits->Writer.get(), xtWriter, E);
    WritePlainElements(Credits->Adapter.get(), xtAdapter, E);
    WritePlainElements(Credits->Producer.get(), xtProducer, E);
    WritePlainElements(Credits->Presenter.get(), xtPresenter, E);
    WritePlainElements(Credits->Commentator.get(), xtCommentator, E);
    WritePlainElements(Credits->Guest.get(), xtGuest, E);
    CloseTag();
}

void TXMLTV::WriteNo(TXMLTVTag Tag) {
    OpenTag(Tag);
    WriteText("no", FCharSet, false);
    CloseTag();
}

void TXMLTV::WriteVideo(const TXMLTVVideo* Video, int E) {
    if (!Video) return;
    OpenTag(xtVideo);
    if (!Video->Present) WriteNo(xtPresent);
    if (!Video->Colour) WriteNo(xtColour);
    WritePlainElement(Video->Aspect, xtAspect, E);
    WritePlainElement(Video->Quality, xtQuality, E);
    CloseTag();
}

void TXMLTV::WriteAudio(const TXMLTVAudio* Audio, int E) {
    if (!Audio) return;
    OpenTag(xtAudio);
    if (!Audio->Present) WriteNo(xtPresent);
    WritePlainElement(Audio->Stereo, xtStereo, E);
    CloseTag();
}

void TXMLTV::WritePreviouslyShown(const TXMLTVPreviouslyShown* Shown, int E) {
    if (!Shown) return;
    OpenTagStart(xtPreviouslyShown);
    if (!Shown->Start.empty()) WriteAttribute("start", Shown->Start, E);
    if (!Shown->Channel.empty()) WriteAttribute("channel", Shown->Channel, E);
    EndEmptyTag();
}

void TXMLTV::WriteSubtitles(const TXMLTVSubtitles& Subtitles, int E) {
    OpenTagStart(xtSubtitles);
    // a script may give no type (0); only the two known types have a name
    if (Subtitles.Type >= 1 && Subtitles.Type <= 2) WriteAttribute("type", SubtitleTypeNames[Subtitles.Type - 1], E);
    EndOpenTag();
    WriteTextElement(Subtitles.Lang.get(), xtLanguage, E);
    CloseTag();
}

void TXMLTV::WriteRating(const TXMLTVRating& Rating, int E) {
    if (!Rating.System.empty()) {
        OpenTagStart(xtRating);
        WriteAttribute("system", Rating.System, E);
        EndOpenTag();
    } else {
        OpenTag(xtRating);
    }
    WritePlainElement(Rating.Value, xtValue, E);
    WriteIcons(Rating.Icon.get(), E);
    CloseTag();
}

void TXMLTV::WriteEpisode(const TEpisode& Episode, int E) {
    OpenTagStart(xtEpisodeNum);
    WriteAttribute("system", Episode.System, E);
    EndOpenTag();
    WriteText(Episode.Number, E, true);
    CloseTag();
}

void TXMLTV::WriteStarRating(const TXMLTVStarRating* Rating, int E) {
    if (!Rating) return;
    OpenTag(xtStarRating);
    char text[32];
    char* d = PutNumber(text, Rating->Number, 1);
    *d++ = '/';
    d = PutNumber(d, Rating->OutOf, 1);
    WritePlainElement(std::string_view(text, std::size_t(d - text)), xtValue, E);
    WriteIcons(Rating->Icon.get(), E);
    CloseTag();
}
