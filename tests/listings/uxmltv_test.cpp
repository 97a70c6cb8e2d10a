// The XMLTV writer: document layout, element forms, character sets and errors.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "listings/uxmltv.h"
#include "tests/listings/uxmltv_test_util.h"

using namespace xmltv_test;

namespace {

const std::string Tail = "\n</tv>";

TEST(XMLTVWriter, DocumentLayout) {
    const std::string doc = Document(3, [](TXMLTV& w) {
        auto c = Channel("bbc1.example", "BBC One");
        c->Name->Add(std::make_unique<TXMLTVString>("BBC 1", "en"));
        c->Icon = Icons({"http://img.example/bbc1.png"});
        c->URL = Strings({"http://bbc.example/", ""});
        w.WriteChannel(*c);
        auto p = Programme("");
        p->Title = Texts({{"News", "en"}});
        p->Category = Texts({{"News", ""}});
        w.WriteProgramme(*p);
    });
    EXPECT_EQ(doc, Head("UTF-8") +
                       "\n  <channel id=\"bbc1.example\">"
                       "\n    <display-name>BBC One</display-name>"
                       "\n    <display-name lang=\"en\">BBC 1</display-name>"
                       "\n    <icon src=\"http://img.example/bbc1.png\"/>"
                       "\n    <url>http://bbc.example/</url>"
                       "\n  </channel>"
                       "\n  <programme start=\"20240601190000 +0100\" stop=\"20240601200000 +0100\" "
                       "channel=\"bbc1.example\">"
                       "\n    <title lang=\"en\">News</title>"
                       "\n    <category>News</category>"
                       "\n  </programme>" +
                       Tail);
    EXPECT_TRUE(DTDValid(doc));
    EXPECT_TRUE(Accepted(doc, TCheck::Validator));
}

TEST(XMLTVWriter, TvElementAttributes) {
    struct Case {
        const char* name;
        std::string args[6];
        std::string expected;
    } const cases[] = {
        {"none", {"", "", "", "", "", ""}, "<tv></tv>"},
        {"all, in order",
         {"20240601", "http://si.example/", "Source & Co", "http://sd.example/", "Gen", "http://gen.example/"},
         "<tv date=\"20240601\" source-info-url=\"http://si.example/\" source-info-name=\"Source &amp; Co\" "
         "source-data-url=\"http://sd.example/\" generator-info-name=\"Gen\" generator-info-url=\"http://gen.example/\">"
         "</tv>"},
        {"only a generator", {"", "", "", "", "Gen", ""}, "<tv generator-info-name=\"Gen\"></tv>"},
    };
    for (const auto& c : cases) {
        TStringSink sink;
        {
            TXMLTV w(sink, TestZone(), 3);
            w.WriteTV(c.args[0], c.args[1], c.args[2], c.args[3], c.args[4], c.args[5]);
        }
        EXPECT_EQ(sink.Data, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + c.expected) << c.name;
        EXPECT_TRUE(WellFormed(sink.Data)) << c.name;
    }
}

// One programme's element, as it follows the tv start tag.
struct ProgrammeCase {
    const char* name;
    std::function<void(TProgram&)> fill;
    std::string expected;
    bool valid = true;  // complete enough for the format's document type
};

const std::string Start = "\n  <programme start=\"20240601190000 +0100\" stop=\"20240601200000 +0100\" channel=\"bbc1.example\">";
const std::string Title = "\n    <title>T</title>";
const std::string End = "\n  </programme>";

TEST(XMLTVWriter, ProgrammeElements) {
    const ProgrammeCase cases[] = {
        {"only a title", [](TProgram&) {}, Start + Title + End},
        {"only new: the end tag follows the empty tag",
         [](TProgram& p) {
             p.Title.reset();
             p.New = true;
         },
         Start + "\n    <new/></programme>", false},
        {"new after a title", [](TProgram& p) { p.New = true; }, Start + Title + "\n    <new/>" + End},
        {"nothing inside", [](TProgram& p) { p.Title.reset(); }, Start + "</programme>", false},
        {"empty channel id stays",
         [](TProgram& p) {
             p.XMLChannel.clear();
             p.Stop = {};
         },
         "\n  <programme start=\"20240601190000 +0100\" channel=\"\">" + Title + End},
        {"all attributes, in order",
         [](TProgram& p) {
             p.PDCStart = At(2024, 6, 1, 18, 1);
             p.VPSStart = At(2024, 12, 1, 18, 2);
             p.ShowView = "123";
             p.VideoPlus = "456";
             p.Clump = "0/2";
         },
         "\n  <programme start=\"20240601190000 +0100\" stop=\"20240601200000 +0100\" "
         "pdc-start=\"20240601190100 +0100\" vps-start=\"20241201180200 +0000\" showview=\"123\" "
         "videoplus=\"456\" channel=\"bbc1.example\" clumpidx=\"0/2\">" +
             Title + End},
        {"title with a language but no text",
         [](TProgram& p) { p.Title = Texts({{"", "en"}, {"", ""}}); },
         Start + "\n    <title lang=\"en\"></title>\n    <title></title>" + End},
        {"texts in order",
         [](TProgram& p) {
             p.Sub_Title = Texts({{"S", ""}});
             p.Description = Texts({{"D1", "en"}, {"D2", "de"}});
             p.Date = "2001";
             p.Category = Texts({{"C", ""}});
             p.Lang = std::make_unique<TXMLTVString>("English", "en");
             p.OriginalLang = std::make_unique<TXMLTVString>("fr", "");
             p.Country = Texts({{"UK", ""}});
             p.Premiere = std::make_unique<TXMLTVString>("First", "en");
             p.LastChance = std::make_unique<TXMLTVString>("", "");
         },
         Start + Title + "\n    <sub-title>S</sub-title>\n    <desc lang=\"en\">D1</desc>\n    <desc lang=\"de\">D2</desc>" +
             "\n    <date>2001</date>\n    <category>C</category>\n    <language lang=\"en\">English</language>" +
             "\n    <orig-language>fr</orig-language>\n    <country>UK</country>" +
             "\n    <premiere lang=\"en\">First</premiere>\n    <last-chance></last-chance>" + End},
        {"credits",
         [](TProgram& p) {
             p.Credits = std::make_unique<TXMLTVCredits>();
             p.Credits->Director = Strings({"Dir", ""});
             p.Credits->Actor = std::make_unique<TCastList>();
             p.Credits->Actor->Add(Cast("Jane Doe", ""));
             p.Credits->Actor->Add(Cast("John Roe", "Sherlock"));
             p.Credits->Actor->Add(Cast("", "Nobody"));
             p.Credits->Writer = Strings({"W"});
             p.Credits->Adapter = Strings({"A"});
             p.Credits->Producer = Strings({"P"});
             p.Credits->Presenter = Strings({"Pr"});
             p.Credits->Commentator = Strings({"C"});
             p.Credits->Guest = Strings({"G"});
         },
         Start + Title + "\n    <credits>\n      <director>Dir</director>\n      <actor>Jane Doe</actor>" +
             "\n      <actor>Sherlock - John Roe</actor>\n      <writer>W</writer>\n      <adapter>A</adapter>" +
             "\n      <producer>P</producer>\n      <presenter>Pr</presenter>\n      <commentator>C</commentator>" +
             "\n      <guest>G</guest>\n    </credits>" + End},
        {"empty credits are written",
         [](TProgram& p) { p.Credits = std::make_unique<TXMLTVCredits>(); },
         Start + Title + "\n    <credits></credits>" + End},
        {"length in minutes",
         [](TProgram& p) {
             p.Length = 90;
             p.Units = 2;
         },
         Start + Title + "\n    <length units=\"minutes\">90</length>" + End},
        {"length in seconds",
         [](TProgram& p) {
             p.Length = 5400;
             p.Units = 1;
         },
         Start + Title + "\n    <length units=\"seconds\">5400</length>" + End},
        {"length without a known unit",
         [](TProgram& p) {
             p.Length = 2;
             p.Units = 7;
         },
         Start + Title + "\n    <length>2</length>" + End, false},
        {"icons and urls",
         [](TProgram& p) {
             p.Icon = std::make_unique<TXMLTVIconList>();
             p.Icon->Add(Icon("a.png", 100, 0));
             p.Icon->Add(Icon("b.png", 0, 50));
             p.Icon->Add(Icon("", 0, 0));
             p.URL = Strings({"http://x.example/?a=1&b=2"});
         },
         Start + Title + "\n    <icon src=\"a.png\" width=\"100\"/>\n    <icon src=\"b.png\" height=\"50\"/>" +
             "\n    <icon src=\"\"/>\n    <url>http://x.example/?a=1&amp;b=2</url>" + End},
        {"episode numbers, with and without a system",
         [](TProgram& p) {
             p.Episode = std::make_unique<TEpisodeList>();
             p.Episode->Add(std::make_unique<TEpisode>("0.4.", "xmltv_ns"));
             p.Episode->Add(std::make_unique<TEpisode>("S1E5", ""));
         },
         Start + Title + "\n    <episode-num system=\"xmltv_ns\">0.4.</episode-num>" +
             "\n    <episode-num system=\"\">S1E5</episode-num>" + End},
        {"plain video and audio on one line each",
         [](TProgram& p) {
             p.Video = std::make_unique<TXMLTVVideo>();
             p.Audio = std::make_unique<TXMLTVAudio>();
         },
         Start + Title + "\n    <video></video>\n    <audio></audio>" + End},
        {"video and audio details",
         [](TProgram& p) {
             p.Video = std::make_unique<TXMLTVVideo>();
             p.Video->Present = false;
             p.Video->Colour = false;
             p.Video->Aspect = "16:9";
             p.Video->Quality = "HDTV";
             p.Audio = std::make_unique<TXMLTVAudio>();
             p.Audio->Present = false;
             p.Audio->Stereo = "stereo";
         },
         Start + Title + "\n    <video>\n      <present>no</present>\n      <colour>no</colour>" +
             "\n      <aspect>16:9</aspect>\n      <quality>HDTV</quality>\n    </video>" +
             "\n    <audio>\n      <present>no</present>\n      <stereo>stereo</stereo>\n    </audio>" + End},
        {"previously shown",
         [](TProgram& p) {
             p.PreviouslyShown = std::make_unique<TXMLTVPreviouslyShown>();
             p.PreviouslyShown->Start = "20240101";
             p.PreviouslyShown->Channel = "bbc2.example";
         },
         Start + Title + "\n    <previously-shown start=\"20240101\" channel=\"bbc2.example\"/>" + End},
        {"previously shown without details",
         [](TProgram& p) {
             p.Title.reset();
             p.PreviouslyShown = std::make_unique<TXMLTVPreviouslyShown>();
         },
         Start + "\n    <previously-shown/>" + End, false},
        {"subtitles of each type",
         [](TProgram& p) {
             p.Subtitles = std::make_unique<TXMLTVSubtitlesList>();
             for (int type : {1, 2, 0, 3}) {
                 auto s = std::make_unique<TXMLTVSubtitles>();
                 s->Type = type;
                 if (type == 1) s->Lang = std::make_unique<TXMLTVString>("English", "en");
                 p.Subtitles->Add(std::move(s));
             }
         },
         Start + Title + "\n    <subtitles type=\"teletext\">\n      <language lang=\"en\">English</language>" +
             "\n    </subtitles>\n    <subtitles type=\"onscreen\"></subtitles>\n    <subtitles></subtitles>" +
             "\n    <subtitles></subtitles>" + End},
        {"ratings and star rating",
         [](TProgram& p) {
             p.Rating = std::make_unique<TXMLTVRatingList>();
             auto r = std::make_unique<TXMLTVRating>();
             r->System = "BBFC";
             r->Value = "15";
             r->Icon = Icons({"15.png"});
             p.Rating->Add(std::move(r));
             auto r2 = std::make_unique<TXMLTVRating>();
             r2->Value = "PG";
             p.Rating->Add(std::move(r2));
             p.StarRating = std::make_unique<TXMLTVStarRating>();
             p.StarRating->Number = 3;
             p.StarRating->OutOf = 5;
         },
         Start + Title + "\n    <rating system=\"BBFC\">\n      <value>15</value>\n      <icon src=\"15.png\"/>" +
             "\n    </rating>\n    <rating>\n      <value>PG</value>\n    </rating>" +
             "\n    <star-rating>\n      <value>3/5</value>\n    </star-rating>" + End},
        {"children in the order of the format",
         [](TProgram& p) {
             p.StarRating = std::make_unique<TXMLTVStarRating>();
             p.New = true;
             p.Video = std::make_unique<TXMLTVVideo>();
             p.Date = "1999";
             p.Description = Texts({{"D", ""}});
         },
         Start + Title + "\n    <desc>D</desc>\n    <date>1999</date>\n    <video></video>\n    <new/>" +
             "\n    <star-rating>\n      <value>0/0</value>\n    </star-rating>" + End},
        {"escaped texts and attributes",
         [](TProgram& p) {
             p.Title = Texts({{"Tom & Jerry's <Show>", "en\"x"}});
             p.XMLChannel = "a&b";
         },
         "\n  <programme start=\"20240601190000 +0100\" stop=\"20240601200000 +0100\" channel=\"a&amp;b\">"
         "\n    <title lang=\"en&quot;x\">Tom &amp; Jerry&apos;s &lt;Show&gt;</title>" +
             End},
        {"unknown source set: texts and attributes vanish, tags stay",
         [](TProgram& p) {
             p.Encoding = 0;
             p.Title = Texts({{"T", "en"}});
             p.Length = 5;
             p.Units = 2;
             p.Video = std::make_unique<TXMLTVVideo>();
             p.Video->Colour = false;
             p.StarRating = std::make_unique<TXMLTVStarRating>();
         },
         "\n  <programme>\n    <title></title>\n    <length>5</length>\n    <video>\n      <colour>no</colour>"
         "\n    </video>\n    <star-rating>\n      <value></value>\n    </star-rating>" +
             End, false},
    };
    for (const auto& c : cases) {
        const std::string doc = Document(3, [&](TXMLTV& w) {
            auto p = Programme("T");
            c.fill(*p);
            w.WriteProgramme(*p);
        });
        EXPECT_EQ(doc, Head("UTF-8") + c.expected + Tail) << c.name;
        EXPECT_TRUE(WellFormed(doc)) << c.name;
        if (c.valid) {
            EXPECT_TRUE(DTDValid(doc)) << c.name;
        }
    }
}

TEST(XMLTVWriter, ChannelElements) {
    struct Case {
        const char* name;
        std::function<void(TChannel&)> fill;
        std::string expected;
    } const cases[] = {
        {"only the id, on one line", [](TChannel&) {}, "\n  <channel id=\"c1\"></channel>"},
        {"empty id stays", [](TChannel& c) { c.XML_ID.clear(); }, "\n  <channel id=\"\"></channel>"},
        {"icon with size",
         [](TChannel& c) {
             c.Icon = std::make_unique<TXMLTVIconList>();
             c.Icon->Add(Icon("logo.png", 64, 48));
         },
         "\n  <channel id=\"c1\">\n    <icon src=\"logo.png\" width=\"64\" height=\"48\"/>\n  </channel>"},
        {"empty lists write nothing",
         [](TChannel& c) {
             c.Name = Texts({});
             c.URL = Strings({""});
         },
         "\n  <channel id=\"c1\"></channel>"},
        {"unknown source set", [](TChannel& c) {
             c.Encoding = 9;
             c.Name = Texts({{"N", "en"}});
         },
         "\n  <channel>\n    <display-name></display-name>\n  </channel>"},
    };
    for (const auto& c : cases) {
        const std::string doc = Document(3, [&](TXMLTV& w) {
            auto ch = Channel("c1", "");
            c.fill(*ch);
            w.WriteChannel(*ch);
        });
        EXPECT_EQ(doc, Head("UTF-8") + c.expected + Tail) << c.name;
        EXPECT_TRUE(WellFormed(doc)) << c.name;
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
        const std::string doc = Document(c.charSet, [](TXMLTV& w) {
            auto p = Programme("5 \x80", 2);
            w.WriteProgramme(*p);
        });
        EXPECT_EQ(doc, Head(c.declared) + Start + "\n    <title>5 " + c.euro + "</title>" + End + Tail)
            << "character set " << c.charSet;
        EXPECT_TRUE(DTDValid(doc)) << "character set " << c.charSet;
    }
}

TEST(XMLTVWriter, NoByteOrderMark) {
    TStringSink sink;
    { TXMLTV w(sink, TestZone(), 3); }
    EXPECT_EQ(sink.Data, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>");
}

TEST(XMLTVWriter, TagBuildingBlocks) {
    TStringSink sink;
    {
        TXMLTV w(sink, TestZone(), 3);
        w.OpenTag(xtTV);
        w.OpenTagStart(xtProgramme);
        w.WriteAttribute("a", "1", 3);
        w.WriteAttribute("b", "2", 0);  // vanishes whole
        w.EndOpenTag();
        w.OpenTag(xtTitle);
        w.WriteText("x", 3, true);
        w.CloseTag();
        w.OpenTagStart(xtIcon);
        w.EndEmptyTag();
        w.OpenTag(xtCredits);
        EXPECT_EQ(w.OpenTags(), 3);
        // WriteChannel closes everything below tv first
        auto c = Channel("c", "");
        w.WriteChannel(*c);
        EXPECT_EQ(w.OpenTags(), 1);
    }
    EXPECT_EQ(sink.Data, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<tv>\n  <programme a=\"1\">\n    <title>x</title>"
                         "\n    <icon/>\n    <credits></credits>\n  </programme>\n  <channel id=\"c\"></channel>\n</tv>");
    EXPECT_TRUE(WellFormed(sink.Data));
}

TEST(XMLTVWriter, DeepNestingKeepsTheLayout) {
    TStringSink sink;
    {
        TXMLTV w(sink, TestZone(), 3);
        for (int depth = 0; depth < 9; ++depth) w.OpenTag(xtValue);
        w.WriteText("x", 3, true);
        w.WriteEmptyTag(xtNew);
    }
    std::string expected = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
    for (int depth = 0; depth < 9; ++depth) expected += "\n" + std::string(std::size_t(2 * depth), ' ') + "<value>";
    expected += "x\n" + std::string(18, ' ') + "<new/></value>";
    for (int depth = 7; depth >= 0; --depth) expected += "\n" + std::string(std::size_t(2 * depth), ' ') + "</value>";
    EXPECT_EQ(sink.Data, expected);
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

TEST(XMLTVWriter, AcceptsChannelsAndProgrammesInAnyOrder) {
    const std::string doc = Document(1, [](TXMLTV& w) {
        w.WriteProgramme(*Programme("T"));
        w.WriteChannel(*Channel("c", ""));
        w.WriteProgramme(*Programme("T"));
    });
    EXPECT_EQ(doc, Head("ISO-8859-1") + Start + Title + End + "\n  <channel id=\"c\"></channel>" + Start + Title + End +
                       Tail);
    EXPECT_TRUE(WellFormed(doc));
}

}  // namespace
