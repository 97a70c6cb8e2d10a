// The character-set codecs, between byte strings and UTF-16, and the direct converters from one
// character set to another that skip the UTF-16 text in between. Listings layer.
#include "listings/codecs.h"

#include <algorithm>
#include <cstring>

#include "listings/codectables.h"

namespace {

// ---------------------------------------------------------------------------
// UTF-8 building blocks shared by the codec classes and the direct converters

inline bool IsContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }
inline bool IsHighSurrogate(char32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
inline bool IsLowSurrogate(char32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }
inline bool IsSurrogate(char32_t u) { return u >= 0xD800 && u <= 0xDFFF; }

constexpr char32_t StopDecoding = 0xFFFFFFFF;

// Decodes the sequence that starts at p[i] (i < n) and advances i behind it.
// Gives the code point, '?' for a bad lead or continuation byte (consuming the
// lead byte only) or for a value beyond U+10FFFF (consuming it whole), and
// StopDecoding for a sequence cut off by the end of the input. Overlong forms
// are taken as they stand, so a three-byte form of a surrogate gives that
// surrogate code unit.
inline char32_t DecodeUTF8At(const unsigned char* p, std::size_t n, std::size_t& i) {
    const unsigned char lead = p[i];
    if (lead < 0x80) {
        ++i;
        return lead;
    }
    std::size_t need;
    char32_t value;
    if (lead < 0xC0 || lead >= 0xF8) {
        ++i;
        return U'?';
    } else if (lead < 0xE0) {
        need = 2;
        value = lead & 0x1F;
    } else if (lead < 0xF0) {
        need = 3;
        value = lead & 0x0F;
    } else {
        need = 4;
        value = lead & 0x07;
    }
    for (std::size_t k = 1; k < need; ++k) {
        // Only a sequence whose bytes so far all continue it counts as cut
        // off; a plain byte before the end makes the lead byte bad instead,
        // so that the bytes behind it are not lost.
        if (i + k >= n) return StopDecoding;
        const unsigned char c = p[i + k];
        if (!IsContinuation(c)) {
            ++i;
            return U'?';
        }
        value = (value << 6) | (c & 0x3F);
    }
    i += need;
    return value <= 0x10FFFF ? value : U'?';
}

inline char* PutUTF8(char* d, char32_t cp) {
    if (cp < 0x80) {
        *d++ = char(cp);
    } else if (cp < 0x800) {
        *d++ = char(0xC0 | (cp >> 6));
        *d++ = char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        *d++ = char(0xE0 | (cp >> 12));
        *d++ = char(0x80 | ((cp >> 6) & 0x3F));
        *d++ = char(0x80 | (cp & 0x3F));
    } else {
        *d++ = char(0xF0 | (cp >> 18));
        *d++ = char(0x80 | ((cp >> 12) & 0x3F));
        *d++ = char(0x80 | ((cp >> 6) & 0x3F));
        *d++ = char(0x80 | (cp & 0x3F));
    }
    return d;
}

inline char32_t CombineSurrogates(char32_t high, char32_t low) {
    return 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00);
}

// Length of the run of bytes below 0x80 at the start of p[0..n).
inline std::size_t AsciiRun(const unsigned char* p, std::size_t n) {
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        std::uint64_t w;
        std::memcpy(&w, p + i, 8);
        if (w & 0x8080808080808080ull) break;
    }
    while (i < n && p[i] < 0x80) ++i;
    return i;
}

// Encoders fed one decoded code point at a time. A code point up to U+FFFF is
// one UTF-16 code unit, a larger one a surrogate pair, so surrogate code units
// that arrive one by one still pair up exactly as they would in the UTF-16
// text between decoding and encoding.
struct TUTF8Sink {
    char* d;
    char32_t pending = 0;  // a high surrogate waiting for its low half

    void Flush() {
        if (pending) {
            *d++ = '?';
            pending = 0;
        }
    }
    void Put(char32_t cp) {
        if (pending) {
            if (IsLowSurrogate(cp)) {
                d = PutUTF8(d, CombineSurrogates(pending, cp));
                pending = 0;
                return;
            }
            Flush();
        }
        if (IsHighSurrogate(cp))
            pending = cp;
        else if (IsLowSurrogate(cp))
            *d++ = '?';
        else
            d = PutUTF8(d, cp);
    }
};

struct TSingleByteSink {
    const TCustomSingleByteCodec& codec;
    char* d;
    char32_t pending = 0;

    void Flush() {
        if (pending) {
            *d++ = codec.ReplacementByte();
            pending = 0;
        }
    }
    void Put(char32_t cp) {
        if (pending) {
            // the pair and its high half yield one replacement together
            const bool pair = IsLowSurrogate(cp);
            Flush();
            if (pair) return;
        }
        if (cp > 0xFFFF) {
            *d++ = codec.ReplacementByte();
        } else if (IsHighSurrogate(cp)) {
            pending = cp;
        } else {
            const int b = codec.EncodeUnit(char16_t(cp));
            *d++ = b < 0 ? codec.ReplacementByte() : char(b);
        }
    }
    void PutAscii(const unsigned char* p, std::size_t n) {
        Flush();
        std::memcpy(d, p, n);
        d += n;
    }
};

// UTF-8 to a single-byte character set; returns the end of the output.
char* ConvertUTF8ToSingleByte(const unsigned char* p, std::size_t n, TSingleByteSink sink) {
    std::size_t i = 0;
    while (i < n) {
        if (p[i] < 0x80) {
            const std::size_t run = AsciiRun(p + i, n - i);
            sink.PutAscii(p + i, run);
            i += run;
            continue;
        }
        const char32_t cp = DecodeUTF8At(p, n, i);
        if (cp == StopDecoding) break;
        sink.Put(cp);
    }
    sink.Flush();
    return sink.d;
}

constexpr std::uint64_t HighBits = 0x8080808080808080ull;

// Index of the first byte with its top bit set in a word that has one.
inline unsigned FirstHighByte(std::uint64_t highBits) { return unsigned(__builtin_ctzll(highBits)) >> 3; }

// Copies a shortest-form sequence of a character other than a surrogate (it
// comes out of decoding and encoding as it went in) and gives its length, or
// gives 0 for anything else. Needs 4 readable bytes at p.
inline std::size_t CopyWellFormed(const unsigned char* p, char* d) {
    const unsigned char b = p[0];
    if (b >= 0xC2 && b <= 0xDF) {
        if (!IsContinuation(p[1])) return 0;
        std::memcpy(d, p, 2);
        return 2;
    }
    if (b >= 0xE0 && b <= 0xEF) {
        if (!IsContinuation(p[1]) || !IsContinuation(p[2]) || (b == 0xE0 && p[1] < 0xA0) || (b == 0xED && p[1] >= 0xA0))
            return 0;
        std::memcpy(d, p, 3);
        return 3;
    }
    if (b >= 0xF0 && b <= 0xF4) {
        if (!IsContinuation(p[1]) || !IsContinuation(p[2]) || !IsContinuation(p[3]) || (b == 0xF0 && p[1] < 0x90) ||
            (b == 0xF4 && p[1] >= 0x90))
            return 0;
        std::memcpy(d, p, 4);
        return 4;
    }
    return 0;
}

// UTF-8 to UTF-8: well-formed text is copied, and everything else (overlong
// forms, surrogates, bad bytes) takes the path of decoding and encoding.
// Never writes more bytes than it has read, so the output position stays at
// or behind the input position and d may run in a buffer of n bytes; that is
// also what lets the word loop store 8 bytes where fewer count.
char* ConvertUTF8ToUTF8(const unsigned char* p, std::size_t n, char* d) {
    TUTF8Sink sink{d};
    std::size_t i = 0;
    while (i + 8 <= n) {
        if (!sink.pending) {
            std::uint64_t w;
            std::memcpy(&w, p + i, 8);
            const std::uint64_t high = w & HighBits;
            std::memcpy(sink.d, &w, 8);
            if (!high) {
                i += 8;
                sink.d += 8;
                continue;
            }
            const unsigned k = FirstHighByte(high);
            i += k;
            sink.d += k;
            if (i + 4 <= n) {
                if (const std::size_t len = CopyWellFormed(p + i, sink.d)) {
                    i += len;
                    sink.d += len;
                    continue;
                }
            }
        }
        const char32_t cp = DecodeUTF8At(p, n, i);
        if (cp == StopDecoding) {
            i = n;
            break;
        }
        sink.Put(cp);
    }
    while (i < n) {
        const char32_t cp = DecodeUTF8At(p, n, i);
        if (cp == StopDecoding) break;
        sink.Put(cp);
    }
    sink.Flush();
    return sink.d;
}

// ---------------------------------------------------------------------------
// Precomputed byte conversions between the single-byte character sets

struct TByteToUTF8 {
    unsigned char len[256];
    char bytes[256][4];

    explicit TByteToUTF8(const TCustomSingleByteCodec& from) {
        for (int b = 0; b < 256; ++b) {
            TUTF8Sink sink{bytes[b]};
            sink.Put(from.DecodeByte(static_cast<unsigned char>(b)));
            sink.Flush();
            len[b] = static_cast<unsigned char>(sink.d - bytes[b]);
        }
    }
};

struct TByteToByte {
    char map[256];
    bool identity = true;

    TByteToByte(const TCustomSingleByteCodec& from, const TCustomSingleByteCodec& to) {
        for (int b = 0; b < 256; ++b) {
            const int e = to.EncodeUnit(from.DecodeByte(static_cast<unsigned char>(b)));
            map[b] = e < 0 ? to.ReplacementByte() : char(e);
            if (static_cast<unsigned char>(map[b]) != b) identity = false;
        }
    }
};

const TCustomSingleByteCodec* SingleByteCodec(int charSet) {
    switch (charSet) {
        case CharSetISO8859_1: return &ISO8859_1Codec();
        case CharSetWindows1252: return &Windows1252Codec();
        default: return nullptr;
    }
}

const TByteToUTF8& ByteToUTF8(int charSet) {
    static const TByteToUTF8 iso(ISO8859_1Codec());
    static const TByteToUTF8 win1252(Windows1252Codec());
    return charSet == CharSetISO8859_1 ? iso : win1252;
}

const TByteToByte& ByteToByte(int fromSet, int toSet) {
    static const TByteToByte isoToWin(ISO8859_1Codec(), Windows1252Codec());
    static const TByteToByte winToIso(Windows1252Codec(), ISO8859_1Codec());
    static const TByteToByte isoToIso(ISO8859_1Codec(), ISO8859_1Codec());
    static const TByteToByte winToWin(Windows1252Codec(), Windows1252Codec());
    if (fromSet == CharSetISO8859_1) return toSet == CharSetISO8859_1 ? isoToIso : isoToWin;
    return toSet == CharSetISO8859_1 ? winToIso : winToWin;
}

void AppendSingleByteToUTF8(std::string& out, const unsigned char* p, std::size_t n, const TByteToUTF8& table) {
    // Room for the longest outcome (three bytes per high byte), trimmed at the end.
    std::size_t highBytes = 0;
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        std::uint64_t w;
        std::memcpy(&w, p + i, 8);
        // one per byte with its top bit set, summed into the top byte
        highBytes += std::size_t((((w & HighBits) >> 7) * 0x0101010101010101ull) >> 56);
    }
    for (; i < n; ++i) highBytes += p[i] >> 7;

    const std::size_t start = out.size();
    out.resize(start + n + 2 * highBytes);
    char* d = out.data() + start;
    // Every byte gives at least one, so while 8 input bytes remain the output
    // has room for 8 at d, and for a whole 4-byte table row while 4 remain.
    i = 0;
    while (i + 8 <= n) {
        std::uint64_t w;
        std::memcpy(&w, p + i, 8);
        const std::uint64_t high = w & HighBits;
        std::memcpy(d, &w, 8);
        if (!high) {
            i += 8;
            d += 8;
            continue;
        }
        const unsigned k = FirstHighByte(high);
        i += k;
        d += k;
        const unsigned char b = p[i++];
        if (i + 3 <= n)  // room for the whole row: this byte's one, three more behind it
            std::memcpy(d, table.bytes[b], 4);
        else
            std::memcpy(d, table.bytes[b], table.len[b]);
        d += table.len[b];
    }
    for (; i < n; ++i) {
        const unsigned char b = p[i];
        std::memcpy(d, table.bytes[b], table.len[b]);
        d += table.len[b];
    }
    out.resize(d - out.data());
}

}  // namespace

// ---------------------------------------------------------------------------
// Codec classes

TCustomSingleByteCodec::TCustomSingleByteCodec(const TByteTable& high) : FHigh(high) {
    for (int i = 0; i < 128; ++i) FReverse.emplace_back(FHigh[i], static_cast<unsigned char>(0x80 + i));
    // stable: among bytes that decode to the same unit, the lowest comes first
    std::stable_sort(FReverse.begin(), FReverse.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    FReverse.erase(std::unique(FReverse.begin(), FReverse.end(),
                               [](const auto& a, const auto& b) { return a.first == b.first; }),
                   FReverse.end());
    // units below 0x80 always encode as themselves, whatever a high byte decodes to
    FReverse.erase(std::remove_if(FReverse.begin(), FReverse.end(), [](const auto& e) { return e.first < 0x80; }),
                   FReverse.end());
    FLatin1.fill(-1);
    for (const auto& [unit, byte] : FReverse)
        if (unit < 0x100) FLatin1[unit - 0x80] = byte;
}

int TCustomSingleByteCodec::EncodeUnit(char16_t u) const {
    if (u < 0x80) return u;
    if (u < 0x100) return FLatin1[u - 0x80];
    const auto it = std::lower_bound(FReverse.begin(), FReverse.end(), u,
                                     [](const auto& e, char16_t v) { return e.first < v; });
    if (it == FReverse.end() || it->first != u) return -1;
    return it->second;
}

std::u16string TCustomSingleByteCodec::DecodeStr(const char* bytes, std::size_t length) const {
    if (bytes == nullptr || length == 0) return {};
    std::u16string result(length, u'\0');
    for (std::size_t i = 0; i < length; ++i) result[i] = DecodeByte(static_cast<unsigned char>(bytes[i]));
    return result;
}

std::string TCustomSingleByteCodec::EncodeStr(std::u16string_view text) const {
    std::string result(text.size(), '\0');
    std::size_t o = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t u = text[i];
        if (IsHighSurrogate(u) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
            result[o++] = FReplacementByte;  // one character outside the set, one replacement
            ++i;
            continue;
        }
        const int b = EncodeUnit(u);
        result[o++] = b < 0 ? FReplacementByte : char(b);
    }
    result.resize(o);
    return result;
}

std::u16string TUTF8Codec::DecodeStr(const char* bytes, std::size_t length) const {
    if (bytes == nullptr || length == 0) return {};
    const auto* p = reinterpret_cast<const unsigned char*>(bytes);
    std::u16string result(length, u'\0');  // never more units than bytes
    std::size_t o = 0;
    std::size_t i = 0;
    while (i < length) {
        const char32_t cp = DecodeUTF8At(p, length, i);
        if (cp == StopDecoding) break;
        if (cp == U'?') {
            result[o++] = FReplacementChar;
        } else if (cp > 0xFFFF) {
            result[o++] = char16_t(0xD800 + ((cp - 0x10000) >> 10));
            result[o++] = char16_t(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            result[o++] = char16_t(cp);
        }
    }
    result.resize(o);
    return result;
}

std::string TUTF8Codec::EncodeStr(std::u16string_view text) const {
    std::string result(text.size() * 3, '\0');  // a pair needs 4 bytes for 2 units
    char* d = result.data();
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t u = text[i];
        if (IsSurrogate(u)) {
            if (IsHighSurrogate(u) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
                d = PutUTF8(d, CombineSurrogates(u, text[i + 1]));
                ++i;
            } else {
                *d++ = '?';
            }
            continue;
        }
        d = PutUTF8(d, u);
    }
    result.resize(d - result.data());
    return result;
}

namespace {
TCustomSingleByteCodec::TByteTable IdentityHigh() {
    TCustomSingleByteCodec::TByteTable t{};
    for (int i = 0; i < 128; ++i) t[i] = char16_t(0x80 + i);
    return t;
}
}  // namespace

TISO8859_1Codec::TISO8859_1Codec() : TCustomSingleByteCodec(IdentityHigh()) {}
TWindows1252Codec::TWindows1252Codec() : TCustomSingleByteCodec(Windows1252High) {}
TWindows1255Codec::TWindows1255Codec() : TCustomSingleByteCodec(Windows1255High) {}

const TISO8859_1Codec& ISO8859_1Codec() {
    static const TISO8859_1Codec codec;
    return codec;
}

const TWindows1252Codec& Windows1252Codec() {
    static const TWindows1252Codec codec;
    return codec;
}

const TUTF8Codec& UTF8Codec() {
    static const TUTF8Codec codec;
    return codec;
}

const TWindows1255Codec& Windows1255Codec() {
    static const TWindows1255Codec codec;
    return codec;
}

const TCustomUnicodeCodec* CodecForCharSet(int charSet) {
    switch (charSet) {
        case CharSetISO8859_1: return &ISO8859_1Codec();
        case CharSetWindows1252: return &Windows1252Codec();
        case CharSetUTF8: return &UTF8Codec();
        default: return nullptr;
    }
}

// ---------------------------------------------------------------------------
// Helpers by character-set number

std::u16string DecodeCharSet(std::string_view bytes, int charSet) {
    const TCustomUnicodeCodec* codec = CodecForCharSet(charSet);
    return codec ? codec->DecodeStr(bytes) : std::u16string();
}

std::string EncodeCharSet(std::u16string_view text, int charSet) {
    const TCustomUnicodeCodec* codec = CodecForCharSet(charSet);
    return codec ? codec->EncodeStr(text) : std::string();
}

void AppendEncodedCharSet(std::string& out, std::u16string_view text, int charSet) {
    const TCustomUnicodeCodec* codec = CodecForCharSet(charSet);
    if (codec == nullptr || text.empty()) return;
    out += codec->EncodeStr(text);
}

void AppendConvertedCharSet(std::string& out, std::string_view bytes, int fromSet, int toSet) {
    if (!CodecForCharSet(fromSet) || !CodecForCharSet(toSet) || bytes.empty()) return;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();

    if (fromSet == CharSetUTF8) {
        // the output is never longer than the input
        const std::size_t start = out.size();
        out.resize(start + n);
        char* end;
        if (toSet == CharSetUTF8)
            end = ConvertUTF8ToUTF8(p, n, out.data() + start);
        else
            end = ConvertUTF8ToSingleByte(p, n, TSingleByteSink{*SingleByteCodec(toSet), out.data() + start});
        out.resize(end - out.data());
        return;
    }

    if (toSet == CharSetUTF8) {
        AppendSingleByteToUTF8(out, p, n, ByteToUTF8(fromSet));
        return;
    }

    const TByteToByte& table = ByteToByte(fromSet, toSet);
    if (table.identity) {
        out.append(bytes);
        return;
    }
    const std::size_t start = out.size();
    out.resize(start + n);
    char* d = out.data() + start;
    for (std::size_t i = 0; i < n; ++i) d[i] = table.map[p[i]];
}

std::string ConvertCharSet(std::string_view bytes, int fromSet, int toSet) {
    std::string out;
    AppendConvertedCharSet(out, bytes, fromSet, toSet);
    return out;
}

std::string Windows1255ToUTF8(std::string_view bytes) {
    static const TByteToUTF8 table(Windows1255Codec());
    std::string out;
    AppendSingleByteToUTF8(out, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), table);
    return out;
}
