// The XMLTV writer's texts and times: the same bytes as converting each on its own.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "listings/uxmltv.h"
#include "listings/xmlescape.h"
#include "tests/listings/uxmltv_test_util.h"

using namespace xmltv_test;

namespace {

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
