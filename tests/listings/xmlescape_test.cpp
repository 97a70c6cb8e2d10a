// Escaping and character-set conversion of the texts of an XML document.
#include "listings/xmlescape.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "listings/codecs.h"
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

}  // namespace
