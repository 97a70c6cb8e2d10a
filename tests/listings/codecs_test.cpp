#include "listings/codecs.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

std::string Hex(std::string_view s) {
    std::string out;
    char buf[4];
    for (unsigned char c : s) {
        std::snprintf(buf, sizeof buf, "%02X ", c);
        out += buf;
    }
    return out;
}

std::string Hex(std::u16string_view s) {
    std::string out;
    char buf[8];
    for (char16_t u : s) {
        std::snprintf(buf, sizeof buf, "%04X ", unsigned(u));
        out += buf;
    }
    return out;
}

// Expected code units of the bytes 0x80..0xFF, written down from the code
// page charts (Windows-1255 taken from the C library's converter); 0 marks a
// byte the chart leaves unassigned.
const char16_t Chart1252[32] = {
    0x20AC, 0, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0, 0x017D, 0,
    0, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0, 0x017E, 0x0178};

const char16_t Chart1255[128] = {
    0x20AC, 0, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0, 0x2039, 0, 0, 0, 0,
    0, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x02DC, 0x2122, 0, 0x203A, 0, 0, 0, 0,
    0x00A0, 0x00A1, 0x00A2, 0x00A3, 0x20AA, 0x00A5, 0x00A6, 0x00A7, 0x00A8, 0x00A9, 0x00D7, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x00AF,
    0x00B0, 0x00B1, 0x00B2, 0x00B3, 0x00B4, 0x00B5, 0x00B6, 0x00B7, 0x00B8, 0x00B9, 0x00F7, 0x00BB, 0x00BC, 0x00BD, 0x00BE, 0x00BF,
    0x05B0, 0x05B1, 0x05B2, 0x05B3, 0x05B4, 0x05B5, 0x05B6, 0x05B7, 0x05B8, 0x05B9, 0, 0x05BB, 0x05BC, 0x05BD, 0x05BE, 0x05BF,
    0x05C0, 0x05C1, 0x05C2, 0x05C3, 0x05F0, 0x05F1, 0x05F2, 0x05F3, 0x05F4, 0, 0, 0, 0, 0, 0, 0,
    0x05D0, 0x05D1, 0x05D2, 0x05D3, 0x05D4, 0x05D5, 0x05D6, 0x05D7, 0x05D8, 0x05D9, 0x05DA, 0x05DB, 0x05DC, 0x05DD, 0x05DE, 0x05DF,
    0x05E0, 0x05E1, 0x05E2, 0x05E3, 0x05E4, 0x05E5, 0x05E6, 0x05E7, 0x05E8, 0x05E9, 0x05EA, 0, 0, 0x200E, 0x200F, 0};

// Our own values for bytes the charts leave open.
struct Deviation { unsigned char byte; char16_t unit; };
const Deviation Deviations1255[] = {
    {0xCA, 0x05BA}, {0xD9, 0xF88D}, {0xDA, 0xF88E}, {0xDB, 0xF88F}, {0xDC, 0xF890}, {0xDD, 0xF891},
    {0xDE, 0xF892}, {0xDF, 0xF893}, {0xFB, 0xF894}, {0xFC, 0xF895}, {0xFF, 0xF896}};

char16_t Expected1255(unsigned char b) {
    if (b < 0x80) return b;
    for (const Deviation& d : Deviations1255)
        if (d.byte == b) return d.unit;
    return Chart1255[b - 0x80] ? Chart1255[b - 0x80] : char16_t(b);  // the rest: same number
}

char16_t Expected1252(unsigned char b) {
    if (b < 0x80 || b >= 0xA0) return b;
    return Chart1252[b - 0x80] ? Chart1252[b - 0x80] : char16_t(b);
}

}  // namespace

TEST(Codecs, SingleByteDecodingMatchesCharts) {
    struct Case { const char* name; const TCustomSingleByteCodec& codec; char16_t (*expected)(unsigned char); };
    const Case cases[] = {
        {"ISO-8859-1", ISO8859_1Codec(), [](unsigned char b) { return char16_t(b); }},
        {"Windows-1252", Windows1252Codec(), Expected1252},
        {"Windows-1255", Windows1255Codec(), Expected1255},
    };
    for (const Case& c : cases) {
        std::string all;
        std::u16string expected;
        for (int b = 1; b < 256; ++b) {
            all += char(b);
            expected += c.expected(static_cast<unsigned char>(b));
        }
        EXPECT_EQ(Hex(c.codec.DecodeStr(all)), Hex(expected)) << c.name;
        EXPECT_EQ(c.codec.DecodeStr(std::string_view("\0", 1)), std::u16string(1, u'\0')) << c.name;
        // every byte survives the round trip
        EXPECT_EQ(Hex(c.codec.EncodeStr(c.codec.DecodeStr(all))), Hex(all)) << c.name;
    }
}

TEST(Codecs, Windows1255Deviations) {
    // listed one by one so that a wrong byte names itself
    const Deviation all[] = {
        {0x81, 0x0081}, {0x8A, 0x008A}, {0x8C, 0x008C}, {0x8D, 0x008D}, {0x8E, 0x008E}, {0x8F, 0x008F},
        {0x90, 0x0090}, {0x9A, 0x009A}, {0x9C, 0x009C}, {0x9D, 0x009D}, {0x9E, 0x009E}, {0x9F, 0x009F},
        {0xCA, 0x05BA}, {0xD9, 0xF88D}, {0xDA, 0xF88E}, {0xDB, 0xF88F}, {0xDC, 0xF890}, {0xDD, 0xF891},
        {0xDE, 0xF892}, {0xDF, 0xF893}, {0xFB, 0xF894}, {0xFC, 0xF895}, {0xFF, 0xF896}};
    for (const Deviation& d : all) {
        EXPECT_EQ(Windows1255Codec().DecodeByte(d.byte), d.unit) << std::hex << int(d.byte);
        EXPECT_EQ(Windows1255Codec().EncodeStr(std::u16string(1, d.unit)), std::string(1, char(d.byte)))
            << std::hex << int(d.byte);
    }
    for (unsigned char b : {0x81, 0x8D, 0x8F, 0x90, 0x9D})
        EXPECT_EQ(Windows1252Codec().DecodeByte(b), char16_t(b)) << std::hex << int(b);
}

TEST(Codecs, SingleByteEncodingTakesFirstByteOrQuestionMark) {
    // Every BMP unit: the lowest byte that decodes to it, else "?".
    for (const TCustomSingleByteCodec* codec :
         {static_cast<const TCustomSingleByteCodec*>(&ISO8859_1Codec()), static_cast<const TCustomSingleByteCodec*>(&Windows1252Codec()),
          static_cast<const TCustomSingleByteCodec*>(&Windows1255Codec())}) {
        std::vector<int> first(0x10000, -1);
        for (int b = 255; b >= 0; --b) first[codec->DecodeByte(static_cast<unsigned char>(b))] = b;
        for (int u = 0; u < 0x10000; ++u) {
            if (u >= 0xD800 && u <= 0xDFFF) continue;
            const std::string expected(1, first[u] < 0 ? '?' : char(first[u]));
            ASSERT_EQ(codec->EncodeStr(std::u16string(1, char16_t(u))), expected) << std::hex << u;
        }
    }
}

TEST(Codecs, EncodingNamedCharacters) {
    struct Case { const TCustomUnicodeCodec& codec; std::u16string text; std::string bytes; };
    const Case cases[] = {
        {Windows1252Codec(), u"\u20AC", "\x80"},
        {ISO8859_1Codec(), u"\u20AC", "?"},
        {UTF8Codec(), u"\u20AC", "\xE2\x82\xAC"},
        {Windows1252Codec(), u"\u0081", "\x81"},
        {Windows1252Codec(), u"\u0093\u0080", "??"},
        {Windows1255Codec(), u"\u05D0\u200E", "\xE0\xFD"},
        {Windows1255Codec(), u"\u00C0\u00D7", "?\xAA"},
        {ISO8859_1Codec(), u"\u00FF\u0100", "\xFF?"},
        {UTF8Codec(), std::u16string(u"\0\u007F\u0080\u07FF\u0800\uFFFF", 6), std::string("\0\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF", 12)},
        // surrogates: a pair is one character, a lone half is unconvertible
        {UTF8Codec(), u"\U0001F600", "\xF0\x9F\x98\x80"},
        {UTF8Codec(), u"\U0010FFFF", "\xF4\x8F\xBF\xBF"},
        {UTF8Codec(), u"\xD800" "A", "?A"},
        {UTF8Codec(), u"A\xDC00", "A?"},
        {UTF8Codec(), u"\xDC00\xD800", "??"},
        {UTF8Codec(), u"\xD800\U0001F600", "?\xF0\x9F\x98\x80"},
        {ISO8859_1Codec(), u"a\U0001F600b", "a?b"},
        {Windows1252Codec(), u"\xD800\xD800\xDC00", "??"},
        {Windows1255Codec(), u"\xDC00\xD800", "??"},
        {UTF8Codec(), u"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(Hex(c.codec.EncodeStr(c.text)), Hex(c.bytes)) << Hex(c.text);
}

TEST(Codecs, UTF8Decoding) {
    struct Case { std::string bytes; std::u16string text; };
    const Case cases[] = {
        {"caf\xC3\xA9", u"caf\u00E9"},
        {"\xC2\x80\xDF\xBF\xEF\xBF\xBF", u"\u0080\u07FF\uFFFF"},
        {"A\xE2\x82", u"A"},                    // sequence cut off at the end is dropped
        {"\xF0\x9F\x98", u""},
        {"A\xFF" "B", u"A?B"},
        {"\xC3" "A", u"?A"},
        {"\xE2\x82" "A", u"??A"},                // bad third byte: lead gives "?", the stray 0x82 another
        {"\xE9s", u"?s"},                        // a plain byte is no cut-off sequence: nothing lost
        {"\x80\xBF", u"??"},
        {"\xF8\x88\x80\x80\x80", u"?????"},
        {std::string("\xC0\x80", 2), std::u16string(1, u'\0')},  // overlong forms stand
        {"\xE0\x80\xAF", u"/"},
        {"\xF0\x80\x81\x81", u"A"},
        {"\xF0\x80\x80" "A", u"???A"},          // bad fourth byte: each byte before it is bad on its own
        {"\xF0\x9F\x98\x80", u"\U0001F600"},
        {"\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
        {"\xF4\x90\x80\x80" "A", u"?A"},        // beyond U+10FFFF: one "?" for the whole sequence
        {"\xF7\xBF\xBF\xBF", u"?"},
        {"\xED\xA0\x80", u"\xD800"},            // three-byte surrogates decode as units
        {"", u""},
    };
    for (const Case& c : cases) EXPECT_EQ(Hex(UTF8Codec().DecodeStr(c.bytes)), Hex(c.text)) << Hex(c.bytes);
    EXPECT_EQ(UTF8Codec().DecodeStr(nullptr, 5), u"");
    EXPECT_EQ(ISO8859_1Codec().DecodeStr(nullptr, 5), u"");
}

TEST(Codecs, ConversionHelpers) {
    struct Case { std::string bytes; int from, to; std::string expected; };
    const Case cases[] = {
        {"\x80", 2, 1, "?"},
        {"\x80\xE9", 2, 3, "\xE2\x82\xAC\xC3\xA9"},
        {"\xE9", 1, 3, "\xC3\xA9"},
        {"\x80\x81", 1, 2, "?\x81"},
        {"\xE2\x82\xAC\xC3\xA9", 3, 2, "\x80\xE9"},
        {"\xE2\x82\xAC\xC3\xA9", 3, 1, "?\xE9"},
        {"\xED\xA0\xBD\xED\xB8\x80", 3, 3, "\xF0\x9F\x98\x80"},  // the halves meet in the text between
        {"\xED\xA0\xBD\xED\xB8\x80", 3, 1, "?"},
        {"\xED\xA0\xBD" "A", 3, 3, "?A"},
        {"A\xC3" "B\xC0\x80", 3, 3, std::string("A?B\0", 4)},
        {"abc", 0, 3, ""},
        {"abc", 3, 4, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Hex(ConvertCharSet(c.bytes, c.from, c.to)), Hex(c.expected)) << Hex(c.bytes) << c.from << c.to;
        std::string out = "<";
        AppendConvertedCharSet(out, c.bytes, c.from, c.to);
        EXPECT_EQ(Hex(out), Hex("<" + c.expected));
    }
    EXPECT_EQ(CodecForCharSet(1), &ISO8859_1Codec());
    EXPECT_EQ(CodecForCharSet(2), &Windows1252Codec());
    EXPECT_EQ(CodecForCharSet(3), &UTF8Codec());
    EXPECT_EQ(CodecForCharSet(0), nullptr);
    EXPECT_EQ(DecodeCharSet("x", 4), u"");
    EXPECT_EQ(EncodeCharSet(u"x", -1), "");
    std::string out = "a";
    AppendEncodedCharSet(out, u"\u00E9", 3);
    EXPECT_EQ(out, "a\xC3\xA9");
    EXPECT_EQ(Hex(Windows1255ToUTF8("\xE0\xFD")), Hex("\xD7\x90\xE2\x80\x8E"));
    EXPECT_EQ(Windows1255ToUTF8(""), "");
}

namespace {

// Inputs that favour the interesting cases: ASCII runs longer than a word,
// every kind of lead byte, surrogate halves, cut-off sequences.
std::string RandomBytes(std::mt19937& rng) {
    static const char* const pieces[] = {
        "plain ascii text run", "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\xED\xA0\xBD", "\xED\xB8\x80",
        "\xC0\x80", "\xF4\x90\x80\x80", "\x80", "\xFF", "\xE2\x82", "\xF0\x9F", "\xC3", "\x9D", "A"};
    std::uniform_int_distribution<int> count(0, 12), pick(0, std::size(pieces)), byte(0, 255);
    std::string s;
    for (int n = count(rng); n > 0; --n) {
        const int k = pick(rng);
        if (k == int(std::size(pieces))) s += char(byte(rng));
        else s += pieces[k];
    }
    return s;
}

}  // namespace

TEST(Codecs, DirectConversionEqualsDecodeThenEncode) {
    std::mt19937 rng(20240601);
    for (int round = 0; round < 20000; ++round) {
        const std::string bytes = RandomBytes(rng);
        for (int from = 1; from <= 3; ++from)
            for (int to = 1; to <= 3; ++to)
                ASSERT_EQ(Hex(ConvertCharSet(bytes, from, to)), Hex(EncodeCharSet(DecodeCharSet(bytes, from), to)))
                    << Hex(bytes) << " from " << from << " to " << to;
        ASSERT_EQ(Windows1255ToUTF8(bytes), UTF8Codec().EncodeStr(Windows1255Codec().DecodeStr(bytes))) << Hex(bytes);
    }
}

TEST(Codecs, UTF8RoundTripOfRandomText) {
    // Any text of whole characters survives UTF-16 -> UTF-8 -> UTF-16 unchanged.
    std::mt19937 rng(7);
    std::uniform_int_distribution<char32_t> plane(0, 0x10FFFF), bmp(0, 0xFFFF), len(0, 20);
    for (int round = 0; round < 5000; ++round) {
        std::u16string text;
        for (char32_t n = len(rng); n > 0; --n) {
            char32_t cp = (n & 1) ? plane(rng) : bmp(rng);
            if (cp >= 0xD800 && cp <= 0xDFFF) cp = 'x';
            if (cp > 0xFFFF) {
                text += char16_t(0xD800 + ((cp - 0x10000) >> 10));
                text += char16_t(0xDC00 + ((cp - 0x10000) & 0x3FF));
            } else {
                text += char16_t(cp);
            }
        }
        const std::string bytes = UTF8Codec().EncodeStr(text);
        ASSERT_EQ(Hex(UTF8Codec().DecodeStr(bytes)), Hex(text));
        ASSERT_EQ(ConvertCharSet(bytes, 3, 3), bytes);
    }
}
