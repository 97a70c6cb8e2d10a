// Documents the XMLTV writer makes, checked with the format's own tools: complete ones against the
// document type and the format validator, random ones for well-formedness.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "listings/uxmltv.h"
#include "tests/listings/uxmltv_test_util.h"

using namespace xmltv_test;

namespace {

TEST(XMLTVValidation, CompleteDocumentsInEachCharacterSet) {
    if (!HaveTool("xmllint")) GTEST_SKIP() << "xmllint is not installed";
    // titles and names with accents, quotes and symbols, in each source character set
    const std::pair<std::string, std::string> texts[] = {
        {"Caf\xE9 \xB4Society\xB4", "Ren\xE9 Dupr\xE9"},
        {"Caf\xE9 \x93Society\x94 \x80 5", "Fran\xE7ois \x8A \x96 T\xEAte"},
        {"Caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 &amp; &#8364;", "\xC3\x98ystein \xE6\x9D\xB1\xE4\xBA\xAC"},
    };
    for (int out = 1; out <= 3; ++out) {
        const std::string doc = Document(out, [&](TXMLTV& w) {
            auto c = Channel("bbc1.example", "Caf\xE9 TV", 1);
            c->Icon = Icons({"http://img.example/one.png"});
            w.WriteChannel(*c);
            for (int from = 1; from <= 3; ++from)
                w.WriteProgramme(*FullProgramme(uint8_t(from), texts[from - 1].first, texts[from - 1].second));
        });
        EXPECT_TRUE(DTDValid(doc)) << "output set " << out;
        EXPECT_TRUE(Accepted(doc, TCheck::Validator)) << "output set " << out;
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

TEST(XMLTVValidation, RandomBytesGiveWellFormedDocuments) {
    if (!HaveTool("xmllint")) GTEST_SKIP() << "xmllint is not installed";
    std::mt19937 rng(4711);
    auto r = [&] { return RandomBytes(rng, 12); };
    for (int out = 1; out <= 3; ++out)
        for (int from = 1; from <= 3; ++from) {
            const std::string doc = Document(out, [&](TXMLTV& w) {
                for (int i = 0; i < 5; ++i) {
                    auto c = Channel(r(), r(), uint8_t(from));
                    c->URL = Strings({r()});
                    w.WriteChannel(*c);
                }
                for (int i = 0; i < 60; ++i) {
                    // every text and attribute of a full programme random
                    auto p = FullProgramme(uint8_t(from), r(), r());
                    p->XMLChannel = r(), p->ShowView = r(), p->Clump = r(), p->Date = r();
                    p->Description = Texts({{RandomBytes(rng, 200), r()}});
                    p->Category = Texts({{r(), r()}});
                    p->Credits->Actor->Add(Cast(r(), r()));
                    p->Icon = Icons({r()});
                    p->Episode->Add(std::make_unique<TEpisode>(r(), r()));
                    p->Video->Aspect = r(), p->Audio->Stereo = r();
                    p->PreviouslyShown->Start = r(), p->PreviouslyShown->Channel = r();
                    p->Premiere = std::make_unique<TXMLTVString>(r(), r());
                    p->Rating->FirstItem()->System = r(), p->Rating->FirstItem()->Value = r();
                    w.WriteProgramme(*p);
                }
            });
            EXPECT_TRUE(WellFormed(doc)) << "from " << from << " to " << out;
        }
}

}  // namespace
