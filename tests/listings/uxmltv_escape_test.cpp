// Escaping and character-set conversion of the texts the XMLTV writer puts out.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "listings/codecs.h"
#include "listings/uxmltv.h"
#include "tests/listings/uxmltv_test_util.h"

using namespace xmltv_test;

namespace {

struct EscapeCase {
    const char* name;
    std::u16string in;
    std::u16string out;
};

TEST(XMLEscape, Cases) {
    const EscapeCase cases[] = {
        {"plain", u"News at Ten", u"News at Ten"},
        {"ampersand in a word", u"AT&T", u"AT&amp;T"},
        {"ampersand at the end", u"Tom &", u"Tom &amp;"},
        {"predefined entities stay", u"&amp;&lt;&gt;&quot;&apos;", u"&amp;&lt;&gt;&quot;&apos;"},
        {"decimal reference stays", u"&#8364; 5", u"&#8364; 5"},
        {"reference to a tab stays", u"&#9;", u"&#9;"},
        {"six characters are too many", u"&#128512;", u"&amp;#128512;"},
        {"six characters of hex", u"&#x20AC;", u"&amp;#x20AC;"},
        {"html entity", u"a&nbsp;b", u"a&amp;nbsp;b"},
        {"entity names are case-sensitive", u"&AMP;", u"&amp;AMP;"},
        {"reference to a forbidden control", u"&#1;", u"&amp;#1;"},
        {"hex reference to a forbidden control", u"&#x1F;", u"&amp;#x1F;"},
        {"upper-case x is no hex reference", u"&#X41;", u"&amp;#X41;"},
        {"empty reference", u"&;", u"&amp;;"},
        {"number sign inside a name", u"&a#b;", u"&amp;a#b;"},
        {"control inside a reference", u"&am\u0001p;", u"&amp;amp;"},
        {"apostrophes", u"Don't `x\u00B4", u"Don&apos;t &apos;x&apos;"},
        {"quotation marks", u"\"a\u0093b\u0094", u"&quot;a&quot;b&quot;"},
        {"tab, line feed and carriage return stay", u"a\tb\nc\rd", u"a\tb\nc\rd"},
        {"nul removed", std::u16string(u"a\0b", 3), u"ab"},
        {"controls removed", u"\u0001a\u0008\u000B\u000C\u000E\u001Fb", u"ab"},
        {"C1 controls and DEL stay", u"\u007F\u0085", u"\u007F\u0085"},
        {"surrogate pair stays", u"\U0001F600", u"\U0001F600"},
        {"lone high surrogate", u"a\xD83D" u"b", u"ab"},
        {"lone low surrogate", u"a\xDE00", u"a"},
        {"halves in the wrong order", u"\xDE00\xD83D", u""},
        {"non-characters", u"\uFFFE\uFFFFz\uFFFD", u"z\uFFFD"},
    };
    for (const auto& c : cases) EXPECT_EQ(XMLEscape(c.in), c.out) << c.name;
}

struct ConvertCase {
    const char* name;
    std::string in;
    int from, to;
    std::string out;
};

TEST(AppendXMLText, Conversions) {
    const ConvertCase cases[] = {
        {"euro into Windows-1252", "\x80", 2, 2, "\x80"},
        {"euro into ISO-8859-1", "\x80", 2, 1, "?"},
        {"euro into UTF-8", "\x80", 2, 3, "\xE2\x82\xAC"},
        {"accents into ISO-8859-1", "Caf\xC3\xA9 & Bar", 3, 1, "Caf\xE9 &amp; Bar"},
        {"acute accent of ISO-8859-1", "Don\xB4t", 1, 3, "Don&apos;t"},
        {"0x93 of ISO-8859-1 is a quotation mark", "\x93x\x94", 1, 1, "&quot;x&quot;"},
        {"0x93 of Windows-1252 is a curly quote", "\x93x\x94", 2, 3, "\xE2\x80\x9Cx\xE2\x80\x9D"},
        {"U+0093 in UTF-8", "\xC2\x93", 3, 3, "&quot;"},
        {"unassigned byte into Windows-1252", "a\x81" "b", 1, 2, "a?b"},
        {"U+0081 from UTF-8 into Windows-1252", "\xC2\x81", 3, 2, "?"},
        {"U+0081 into ISO-8859-1", "\xC2\x81", 3, 1, "\x81"},
        {"overlong quotation mark", "\xC0\xA2", 3, 3, "&quot;"},
        {"lone surrogate", "a\xED\xA0\x80" "b", 3, 3, "ab"},
        {"encoded surrogate pair", "\xED\xA0\xBD\xED\xB8\x80", 3, 3, "\xF0\x9F\x98\x80"},
        {"U+FFFE", "\xEF\xBF\xBE", 3, 3, ""},
        {"four-byte character into ISO-8859-1", "\xF0\x9F\x98\x80", 3, 1, "?"},
        {"sequence cut off by an ampersand", "\xE2\x82&", 3, 3, "??&amp;"},
        {"sequence cut off by the end", "A\xE2\x82", 3, 3, "A"},
        {"bad bytes", "A\xFF" "B\xC3" "A", 3, 3, "A?B?A"},
        {"Hangul stays", "\xED\x95\x9C", 3, 3, "\xED\x95\x9C"},
        {"reference kept in any set", "&#8364;", 1, 2, "&#8364;"},
        {"control bytes", "a\x01\x1F" "b\t", 2, 3, "ab\t"},
        {"unknown source set", "abc", 4, 3, ""},
    };
    for (const auto& c : cases) {
        std::string out = "<";
        AppendXMLText(out, c.in, c.from, c.to, true);
        EXPECT_EQ(out, "<" + c.out) << c.name;
    }
    std::string out;
    AppendXMLText(out, "a&b<\xE9", 1, 3, false);
    EXPECT_EQ(out, "a&b<\xC3\xA9") << "without escaping";
}

// The reference: decode, escape, encode, each on its own.
std::string Reference(const std::string& in, int from, int to) {
    std::u16string text = XMLEscape(DecodeCharSet(in, from));
    if (to == CharSetWindows1252)
        for (char16_t& u : text)
            if (u == 0x81 || u == 0x8D || u == 0x8F || u == 0x90 || u == 0x9D) u = u'?';
    return EncodeCharSet(text, to);
}

// Random texts, weighted towards the bytes that matter to escaping and to UTF-8.
std::string RandomText(std::mt19937& rng) {
    static const std::string interesting =
        "&;#x0123456789aAmpltgquosAPO<>\"'`\t\n\r\x01\x1F\x7F"
        "\x80\x81\x8D\x93\x94\xB4\xBF\xBE\xA0\xC0\xC1\xC2\xC3\xE0\xE2\xED\xEF\xF0\xF4\xF8\xFF";
    static const char* const tokens[] = {"&amp;", "&#65;", "&#x1;", "&nbsp;", "&;", "&#8364;", "\xEF\xBF\xBE",
                                         "\xED\xA0\x80", "\xED\xB8\x80", "\xC2\x93", "\xE2\x82\xAC", "\xF0\x9F\x98\x80"};
    std::uniform_int_distribution<int> length(0, 24), pick(0, 3), any(0, 255);
    std::uniform_int_distribution<std::size_t> which(0, interesting.size() - 1);
    std::string s;
    for (int n = length(rng); n > 0; --n) {
        switch (pick(rng)) {
        case 0: s += char(any(rng)); break;
        case 1: s += tokens[which(rng) % std::size(tokens)]; break;
        default: s += interesting[which(rng)]; break;
        }
    }
    return s;
}

TEST(AppendXMLText, RandomTextsMatchTheReference) {
    std::mt19937 rng(20240601);
    for (int i = 0; i < 30000; ++i) {
        const std::string in = RandomText(rng);
        for (int from = 1; from <= 3; ++from)
            for (int to = 1; to <= 3; ++to) {
                std::string out;
                AppendXMLText(out, in, from, to, true);
                ASSERT_EQ(out, Reference(in, from, to)) << "from " << from << " to " << to << ": " << testing::PrintToString(in);
            }
    }
}

// The writer converts its texts straight into its buffer; that must give the same bytes.
TEST(XMLTVWriter, TextsMatchAppendXMLText) {
    std::mt19937 rng(1234);
    std::uniform_int_distribution<int> repeat(1, 3000);
    for (int i = 0; i < 600; ++i) {
        std::string text = RandomText(rng);
        if (i % 50 == 0) {  // now and then a text too long to convert in the buffer at once
            const int times = repeat(rng);
            std::string longer;
            for (int k = 0; k < times; ++k) longer += text + "x";
            text = longer;
        }
        for (int from = 1; from <= 3; ++from)
            for (int to = 1; to <= 3; ++to) {
                const std::string doc = Document(to, [&](TXMLTV& w) {
                    auto p = Programme("", uint8_t(from));
                    p->Title = Texts({{text, ""}});
                    w.WriteProgramme(*p);
                });
                std::string title;
                AppendXMLText(title, text, from, to, true);
                const std::string expected = "\n    <title>" + title + "</title>\n  </programme>\n</tv>";
                ASSERT_GE(doc.size(), expected.size());
                ASSERT_EQ(doc.substr(doc.size() - expected.size()), expected)
                    << "from " << from << " to " << to << ": " << testing::PrintToString(text.substr(0, 200));
            }
    }
}

// Times are formatted by the writer itself (and remembered); the text is FormatXMLTVTime's.
TEST(XMLTVWriter, TimesAsFormatXMLTVTime) {
    std::mt19937 rng(99);
    std::uniform_int_distribution<int> year(0, 10500), month(0, 13), day(0, 32), hour(0, 25), minute(0, 61);
    const TTimeZone zones[] = {TestZone(), [] {
                                   TTimeZone z;
                                   ParseTimeZone("-03:30", z);
                                   return z;
                               }()};
    for (const TTimeZone& zone : zones) {
        std::vector<SYSTEMTIME> times = {At(2024, 3, 31, 2, 0), At(2024, 3, 31, 1, 59), At(2024, 10, 27, 2, 0),
                                         At(2024, 12, 31, 23, 30), At(2024, 6, 1, 18, 0, 59), At(0, 0, 0, 0, 0)};
        for (int i = 0; i < 300; ++i) times.push_back(At(year(rng), month(rng), day(rng), hour(rng), minute(rng), minute(rng)));
        TStringSink sink;
        {
            TXMLTV w(sink, zone, 3);
            w.WriteTV("", "", "", "", "", "");
            for (std::size_t i = 0; i < times.size(); ++i) {
                auto p = Programme("T");
                p->Start = times[i];
                p->Stop = times[(i * 7) % times.size()];  // earlier times again, to hit what the writer keeps
                p->PDCStart = times[i / 2];
                w.WriteProgramme(*p);
            }
        }
        std::size_t at = 0;
        for (std::size_t i = 0; i < times.size(); ++i) {
            const SYSTEMTIME stop = times[(i * 7) % times.size()];
            std::string expected = "<programme start=\"" + FormatXMLTVTime(times[i], zone) + "\"";
            if (stop.wYear != 0) expected += " stop=\"" + FormatXMLTVTime(stop, zone) + "\"";
            if (times[i / 2].wYear != 0) expected += " pdc-start=\"" + FormatXMLTVTime(times[i / 2], zone) + "\"";
            at = sink.Data.find("<programme ", at);
            ASSERT_NE(at, std::string::npos);
            ASSERT_EQ(sink.Data.substr(at, expected.size()), expected) << "programme " << i;
            ++at;
        }
    }
}

}  // namespace
