// The XMLTV writer: document layout, element forms, character sets and errors.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "listings/uxmltv.h"
#include "tests/listings/uxmltv_test_util.h"

using namespace xmltv_test;

namespace {

const std::string Start =
    "\n  <programme start=\"20240601190000 +0100\" stop=\"20240601200000 +0100\" channel=\"bbc1.example\">";
const std::string Title = "\n    <title>T</title>";
const std::string End = "\n  </programme>";
const std::string Tail = "\n</tv>";

TEST(XMLTVWriter, WholeDocument) {
    const std::string doc = Document(3, [](TXMLTV& w) {
        auto c = Channel("bbc1.example", "BBC One");
        c->Name->Add(std::make_unique<TXMLTVString>("BBC 1", "en"));
        c->Icon = Icons({"logo.png"}, 64, 48);
        c->URL = Strings({"http://bbc.example/?a&b", ""});
        w.WriteChannel(*c);
        w.WriteProgramme(*FullProgramme(3, "News", "Jane Doe"));
    });
    EXPECT_EQ(doc, Head("UTF-8") + R"(
  <channel id="bbc1.example">
    <display-name>BBC One</display-name>
    <display-name lang="en">BBC 1</display-name>
    <icon src="logo.png" width="64" height="48"/>
    <url>http://bbc.example/?a&amp;b</url>
  </channel>
  <programme start="20240601190000 +0100" stop="20240601200000 +0100" pdc-start="20240601190100 +0100" vps-start="20241201180200 +0000" showview="123" videoplus="456" channel="bbc1.example" clumpidx="0/2">
    <title lang="en">News</title>
    <title>T2</title>
    <sub-title>Part 1</sub-title>
    <desc lang="en">Tom &amp; Jerry&apos;s &quot;best&quot; &lt;bits&gt;</desc>
    <credits>
      <director>Jane Doe</director>
      <actor>Jane Doe</actor>
      <actor>Sherlock - John Roe</actor>
      <writer>W</writer>
      <adapter>A</adapter>
      <producer>P</producer>
      <presenter>Pr</presenter>
      <commentator>C</commentator>
      <guest>G</guest>
    </credits>
    <date>2001</date>
    <category lang="en">Drama</category>
    <category>Film</category>
    <language lang="en">English</language>
    <orig-language>fr</orig-language>
    <length units="minutes">90</length>
    <icon src="a.png?x=1&amp;y=2" width="100"/>
    <url>http://x.example/?a=1&amp;b=2</url>
    <country>UK</country>
    <episode-num system="xmltv_ns">0.4/10.</episode-num>
    <episode-num system="">S1E5</episode-num>
    <video>
      <colour>no</colour>
      <aspect>16:9</aspect>
      <quality>HDTV</quality>
    </video>
    <audio>
      <present>no</present>
      <stereo>stereo</stereo>
    </audio>
    <previously-shown start="20240101120000 +0000" channel="bbc1.example"/>
    <premiere lang="en">First showing</premiere>
    <last-chance></last-chance>
    <new/>
    <subtitles type="teletext">
      <language lang="en">English</language>
    </subtitles>
    <subtitles></subtitles>
    <rating system="BBFC">
      <value>15</value>
      <icon src="15.png"/>
    </rating>
    <star-rating>
      <value>3/5</value>
    </star-rating>
  </programme>
</tv>)");
    EXPECT_TRUE(DTDValid(doc));
    EXPECT_TRUE(Accepted(doc, TCheck::Validator));
}

TEST(XMLTVWriter, ProgrammeEdgeCases) {
    struct Case {
        const char* name;
        std::function<void(TProgram&)> fill;
        std::string expected;
        bool valid = true;  // complete enough for the format's document type
    } const cases[] = {
        {"only new: the end tag follows the empty tag",
         [](TProgram& p) { p.Title.reset(), p.New = true; }, Start + "\n    <new/></programme>", false},
        {"nothing inside", [](TProgram& p) { p.Title.reset(); }, Start + "</programme>", false},
        {"empty channel id stays",
         [](TProgram& p) { p.XMLChannel.clear(), p.Stop = {}; },
         "\n  <programme start=\"20240601190000 +0100\" channel=\"\">" + Title + End},
        {"titles with a language but no text are kept",
         [](TProgram& p) { p.Title = Texts({{"", "en"}, {"", ""}}); },
         Start + "\n    <title lang=\"en\"></title>\n    <title></title>" + End},
        {"plain video and audio, empty credits: one line each",
         [](TProgram& p) {
             p.Credits = std::make_unique<TXMLTVCredits>();
             p.Video = std::make_unique<TXMLTVVideo>();
             p.Audio = std::make_unique<TXMLTVAudio>();
         },
         Start + Title + "\n    <credits></credits>\n    <video></video>\n    <audio></audio>" + End},
        {"previously shown without details",
         [](TProgram& p) { p.PreviouslyShown = std::make_unique<TXMLTVPreviouslyShown>(); },
         Start + Title + "\n    <previously-shown/>" + End},
        {"length without a known unit", [](TProgram& p) { p.Length = -2, p.Units = 7; },
         Start + Title + "\n    <length>-2</length>" + End, false},
        {"unknown source set: texts and attributes vanish, tags stay",
         [](TProgram& p) {
             p.Encoding = 0;
             p.Title = Texts({{"T", "en"}});
             p.Length = 5, p.Units = 2;
             p.Video = std::make_unique<TXMLTVVideo>();
             p.Video->Colour = false;
             p.StarRating = std::make_unique<TXMLTVStarRating>();
         },
         "\n  <programme>\n    <title></title>\n    <length>5</length>\n    <video>\n      <colour>no</colour>"
         "\n    </video>\n    <star-rating>\n      <value></value>\n    </star-rating>" +
             End,
         false},
    };
    for (const auto& c : cases) {
        const std::string doc = Document(3, [&](TXMLTV& w) {
            auto p = Programme("T");
            c.fill(*p);
            w.WriteProgramme(*p);
        });
        EXPECT_EQ(doc, Head("UTF-8") + c.expected + Tail) << c.name;
        EXPECT_TRUE(c.valid ? DTDValid(doc) : WellFormed(doc)) << c.name;
    }
}

TEST(XMLTVWriter, ChannelsAndTvAttributes) {
    struct Case {
        const char* name;
        std::function<void(TXMLTV&)> body;
        std::string expected;
    } const cases[] = {
        {"a channel with nothing but its id, on one line",
         [](TXMLTV& w) {
             StandardTV(w);
             w.WriteChannel(*Channel("c1", ""));
         },
         Head("UTF-8") + "\n  <channel id=\"c1\"></channel>" + Tail},
        {"a channel of an unknown source set",
         [](TXMLTV& w) {
             StandardTV(w);
             auto c = Channel("c1", "", 9);
             c->Name = Texts({{"N", "en"}});
             w.WriteChannel(*c);
         },
         Head("UTF-8") + "\n  <channel>\n    <display-name></display-name>\n  </channel>" + Tail},
        {"every tv attribute, in order",
         [](TXMLTV& w) { w.WriteTV("1", "http://si.example/", "S & Co", "http://sd.example/", "Gen", "http://g.example/"); },
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<tv date=\"1\" source-info-url=\"http://si.example/\" "
         "source-info-name=\"S &amp; Co\" source-data-url=\"http://sd.example/\" generator-info-name=\"Gen\" "
         "generator-info-url=\"http://g.example/\"></tv>"},
        {"no tv attributes", [](TXMLTV& w) { w.WriteTV("", "", "", "", "", ""); },
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<tv></tv>"},
    };
    for (const auto& c : cases) {
        TStringSink sink;
        {
            TXMLTV w(sink, TestZone(), 3);
            c.body(w);
        }
        EXPECT_EQ(sink.Data, c.expected) << c.name;
        EXPECT_TRUE(WellFormed(sink.Data)) << c.name;
    }
}

TEST(XMLTVWriter, EuroSignIntoEachCharacterSet) {
    struct Case {
        int charSet;
        const char* declared;
        std::string euro;
    } const cases[] = {
        {1, "ISO-8859-1", "?"},
        {2, "Windows-1252", "\x80"},
        {3, "UTF-8", "\xE2\x82\xAC"},
        {0, "ISO-8859-1", "?"},  // an unknown output set writes ISO-8859-1, and says so
        {4, "ISO-8859-1", "?"},
    };
    for (const auto& c : cases) {
        const std::string doc = Document(c.charSet, [](TXMLTV& w) { w.WriteProgramme(*Programme("5 \x80", 2)); });
        EXPECT_EQ(doc, Head(c.declared) + Start + "\n    <title>5 " + c.euro + "</title>" + End + Tail) << c.charSet;
        EXPECT_TRUE(DTDValid(doc)) << c.charSet;
    }
}

TEST(XMLTVWriter, TagBuildingBlocks) {
    TStringSink sink;
    {
        TXMLTV w(sink, TestZone(), 3);
        EXPECT_EQ(sink.Data, "");  // nothing reaches the sink before the end or a full buffer
        w.OpenTag(xtTV);
        w.OpenTagStart(xtProgramme);
        w.WriteAttribute("a", "1", 3);
        w.WriteAttribute("b", "2", 0);  // vanishes whole
        w.EndOpenTag();
        for (int depth = 0; depth < 8; ++depth) w.OpenTag(xtValue);  // deeper than any document nests
        w.WriteText("x", 3, true);
        w.WriteEmptyTag(xtNew);
        w.CloseTag();
        w.OpenTagStart(xtIcon);
        w.EndEmptyTag();
        EXPECT_EQ(w.OpenTags(), 9);
        w.WriteChannel(*Channel("c", ""));  // closes everything below tv first
        EXPECT_EQ(w.OpenTags(), 1);
    }
    std::string expected = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<tv>\n  <programme a=\"1\">";
    for (int depth = 2; depth < 10; ++depth) expected += "\n" + std::string(std::size_t(2 * depth), ' ') + "<value>";
    expected += "x\n" + std::string(20, ' ') + "<new/></value>\n" + std::string(18, ' ') + "<icon/>";
    for (int depth = 8; depth >= 1; --depth)
        expected += "\n" + std::string(std::size_t(2 * depth), ' ') + (depth > 1 ? "</value>" : "</programme>");
    EXPECT_EQ(sink.Data, expected + "\n  <channel id=\"c\"></channel>\n</tv>");
}

TEST(XMLTVWriter, Errors) {
    struct Case {
        const char* name;
        std::function<void(TXMLTV&)> act;
        const char* message;
    } const cases[] = {
        {"close with nothing open", [](TXMLTV& w) { w.CloseTag(); }, "Can't close tag, no tags are open"},
        {"channel before tv", [](TXMLTV& w) { w.WriteChannel(*Channel("c", "C")); },
         "Cannot add a channel tag, open a tv tag first"},
        {"programme before tv", [](TXMLTV& w) { w.WriteProgramme(*Programme("T")); },
         "Cannot add a program tag, open a tv tag first"},
        {"tv twice",
         [](TXMLTV& w) {
             w.WriteTV("", "", "", "", "", "");
             w.WriteTV("", "", "", "", "", "");
         },
         "Cannot add a tv tag, it already exists"},
        {"tv inside another element",
         [](TXMLTV& w) {
             w.OpenTag(xtChannel);
             w.WriteTV("", "", "", "", "", "");
         },
         "Cannot add a tv tag, it already exists"},
    };
    for (const auto& c : cases) {
        TStringSink sink;
        TXMLTV w(sink, TestZone(), 3);
        try {
            c.act(w);
            ADD_FAILURE() << c.name << ": no error";
        } catch (const EXMLTVException& e) {
            EXPECT_STREQ(e.what(), c.message) << c.name;
        }
    }
}

}  // namespace
