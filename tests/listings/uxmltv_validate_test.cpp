// Documents the XMLTV writer makes, checked with the format's own tools: complete ones against the
// document type and the format validator, random ones for well-formedness.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "listings/uxmltv.h"
#include "tests/listings/uxmltv_test_util.h"

using namespace xmltv_test;

namespace {

// Texts with accents, quotes and an ampersand, in each source character set.
struct Sample {
    std::string title, desc, actor;
};

Sample SampleIn(int charSet) {
    switch (charSet) {
    case 1: return {"Caf\xE9 Society", "L'\xE9t\xE9 & \"more\" <here> \xB4quoted\xB4", "Ren\xE9 Dupr\xE9"};
    case 2: return {"Caf\xE9 \x93Society\x94", "5 \x80 for Tom & Jerry's \x96 t\xEAte-\xE0-t\xEAte", "Fran\xE7ois \x8A"};
    default: return {"Caf\xC3\xA9 Soci\xC3\xA9t\xC3\xA9", "\xE2\x82\xAC 5 & \xE2\x80\x9Cquoted\xE2\x80\x9D \xF0\x9F\x98\x80 &amp; &#8364;",
                     "\xC3\x98ystein \xE6\x9D\xB1\xE4\xBA\xAC"};
    }
}

std::unique_ptr<TProgram> FullProgramme(int charSet, int n) {
    const Sample s = SampleIn(charSet);
    auto p = std::make_unique<TProgram>();
    p->Encoding = uint8_t(charSet);
    p->XMLChannel = n % 2 ? "one.tv.example" : "two.tv.example";
    p->Start = At(2024, 10, 26, 22 + n % 2, 30);
    p->Stop = At(2024, 10, 27, 1, 15);
    p->PDCStart = At(2024, 10, 26, 22, 30);
    p->VPSStart = At(2024, 10, 26, 22, 31);
    p->ShowView = "1234";
    p->VideoPlus = "5678";
    p->Clump = "0/1";
    p->Title = Texts({{s.title, "en"}, {s.title, ""}});
    p->Sub_Title = Texts({{s.actor, ""}});
    p->Description = Texts({{s.desc, "en"}});
    p->Credits = std::make_unique<TXMLTVCredits>();
    p->Credits->Director = Strings({s.actor});
    p->Credits->Actor = std::make_unique<TCastList>();
    p->Credits->Actor->Add(Cast(s.actor, ""));
    p->Credits->Actor->Add(Cast(s.actor, s.title));
    p->Credits->Writer = Strings({"W"});
    p->Credits->Adapter = Strings({"A"});
    p->Credits->Producer = Strings({"P"});
    p->Credits->Presenter = Strings({"Pr"});
    p->Credits->Commentator = Strings({"C"});
    p->Credits->Guest = Strings({s.actor});
    p->Date = "2001";
    p->Category = Texts({{"Drama", "en"}, {s.title, ""}});
    p->Lang = std::make_unique<TXMLTVString>("English", "en");
    p->OriginalLang = std::make_unique<TXMLTVString>("fr", "");
    p->Length = 105;
    p->Units = 1 + n % 3;
    p->Icon = Icons({"http://img.example/a.png?x=1&y=2"});
    p->URL = Strings({"http://tv.example/p?id=1&a=b"});
    p->Country = Texts({{"UK", ""}});
    p->Episode = std::make_unique<TEpisodeList>();
    p->Episode->Add(std::make_unique<TEpisode>("0.4/10.", "xmltv_ns"));
    p->Episode->Add(std::make_unique<TEpisode>("S1E5", "onscreen"));
    p->Video = std::make_unique<TXMLTVVideo>();
    p->Video->Colour = n % 2 == 0;
    p->Video->Aspect = "16:9";
    p->Video->Quality = "HDTV";
    p->Audio = std::make_unique<TXMLTVAudio>();
    p->Audio->Stereo = "stereo";
    p->PreviouslyShown = std::make_unique<TXMLTVPreviouslyShown>();
    p->PreviouslyShown->Start = "20240101120000 +0000";
    p->PreviouslyShown->Channel = "one.tv.example";
    p->Premiere = std::make_unique<TXMLTVString>("First showing", "en");
    p->LastChance = std::make_unique<TXMLTVString>(s.title, "");
    p->New = true;
    p->Subtitles = std::make_unique<TXMLTVSubtitlesList>();
    auto sub = std::make_unique<TXMLTVSubtitles>();
    sub->Type = 1 + n % 2;
    sub->Lang = std::make_unique<TXMLTVString>("English", "en");
    p->Subtitles->Add(std::move(sub));
    p->Rating = std::make_unique<TXMLTVRatingList>();
    auto rating = std::make_unique<TXMLTVRating>();
    rating->System = "BBFC";
    rating->Value = "15";
    rating->Icon = Icons({"15.png"});
    p->Rating->Add(std::move(rating));
    p->StarRating = std::make_unique<TXMLTVStarRating>();
    p->StarRating->Number = 3;
    p->StarRating->OutOf = 5;
    p->StarRating->Icon = Icons({"star.png"});
    return p;
}

TEST(XMLTVValidation, CompleteDocumentsInEachCharacterSet) {
    if (!HaveTool("xmllint")) GTEST_SKIP() << "xmllint is not installed";
    for (int out = 1; out <= 3; ++out) {
        const std::string doc = Document(out, [](TXMLTV& w) {
            auto one = Channel("one.tv.example", "Caf\xE9 TV", 1);
            one->Icon = Icons({"http://img.example/one.png"});
            one->URL = Strings({"http://one.example/"});
            w.WriteChannel(*one);
            w.WriteChannel(*Channel("two.tv.example", "\xE2\x82\xAC TV", 3));
            for (int from = 1; from <= 3; ++from)
                for (int n = 0; n < 3; ++n) w.WriteProgramme(*FullProgramme(from, n));
        });
        EXPECT_TRUE(DTDValid(doc)) << "output set " << out;
        if (HaveTool("tv_validate_file")) {
            EXPECT_TRUE(Accepted(doc, TCheck::Validator)) << "output set " << out;
        }
    }
}

std::string RandomBytes(std::mt19937& rng, int maxLength) {
    static const std::string interesting = "&;#x0123456789amp<>\"'`\t\n\r\x01\x80\x81\x93\xB4\xC0\xC2\xE2\xED\xEF\xF0\xFF";
    std::uniform_int_distribution<int> length(0, maxLength), any(0, 255), coin(0, 1);
    std::uniform_int_distribution<std::size_t> which(0, interesting.size() - 1);
    std::string s;
    for (int n = length(rng); n > 0; --n) s += coin(rng) ? char(any(rng)) : interesting[which(rng)];
    return s;
}

std::unique_ptr<TProgram> RandomProgramme(std::mt19937& rng, int charSet) {
    auto r = [&] { return RandomBytes(rng, 12); };
    auto p = std::make_unique<TProgram>();
    p->Encoding = uint8_t(charSet);
    p->XMLChannel = r();
    p->Start = At(2024, 6, 1, 18, 0);
    p->ShowView = r();
    p->Clump = r();
    p->Title = Texts({{r(), r()}, {r(), ""}});
    p->Description = Texts({{RandomBytes(rng, 200), r()}});
    p->Credits = std::make_unique<TXMLTVCredits>();
    p->Credits->Director = Strings({r()});
    p->Credits->Actor = std::make_unique<TCastList>();
    p->Credits->Actor->Add(Cast(r(), r()));
    p->Date = r();
    p->Category = Texts({{r(), r()}});
    p->Lang = std::make_unique<TXMLTVString>(r(), r());
    p->Length = 3;
    p->Units = 2;
    p->Icon = std::make_unique<TXMLTVIconList>();
    p->Icon->Add(Icon(r(), 4, 5));
    p->URL = Strings({r()});
    p->Episode = std::make_unique<TEpisodeList>();
    p->Episode->Add(std::make_unique<TEpisode>(r(), r()));
    p->Video = std::make_unique<TXMLTVVideo>();
    p->Video->Aspect = r();
    p->Audio = std::make_unique<TXMLTVAudio>();
    p->Audio->Stereo = r();
    p->PreviouslyShown = std::make_unique<TXMLTVPreviouslyShown>();
    p->PreviouslyShown->Start = r();
    p->PreviouslyShown->Channel = r();
    p->Premiere = std::make_unique<TXMLTVString>(r(), r());
    p->Subtitles = std::make_unique<TXMLTVSubtitlesList>();
    auto sub = std::make_unique<TXMLTVSubtitles>();
    sub->Type = 1;
    sub->Lang = std::make_unique<TXMLTVString>(r(), r());
    p->Subtitles->Add(std::move(sub));
    p->Rating = std::make_unique<TXMLTVRatingList>();
    auto rating = std::make_unique<TXMLTVRating>();
    rating->System = r();
    rating->Value = r();
    p->Rating->Add(std::move(rating));
    return p;
}

TEST(XMLTVValidation, RandomBytesGiveWellFormedDocuments) {
    if (!HaveTool("xmllint")) GTEST_SKIP() << "xmllint is not installed";
    std::mt19937 rng(4711);
    for (int out = 1; out <= 3; ++out)
        for (int from = 1; from <= 3; ++from) {
            const std::string doc = Document(out, [&](TXMLTV& w) {
                for (int i = 0; i < 5; ++i) {
                    auto c = Channel(RandomBytes(rng, 12), RandomBytes(rng, 12), uint8_t(from));
                    c->URL = Strings({RandomBytes(rng, 12)});
                    w.WriteChannel(*c);
                }
                for (int i = 0; i < 60; ++i) w.WriteProgramme(*RandomProgramme(rng, from));
            });
            EXPECT_TRUE(WellFormed(doc)) << "from " << from << " to " << out;
        }
}

}  // namespace
