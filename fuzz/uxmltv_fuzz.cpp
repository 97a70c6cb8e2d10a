// Fuzz target: the XMLTV writer. The input chooses the output character set and time zone and then
// describes channels and programmes with every part a record can have, their texts arbitrary bytes
// in any character set a record may claim (the known three and unknown ones). Whatever the records
// hold, the document must be well-formed XML in the character set it declares, with one element per
// record: libxml2 reads it back without recovery.
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>

#include <cstdint>
#include <memory>
#include <string>

#include "fuzz/fuzzinput.h"
#include "listings/uxmltv.h"

namespace {

const char* const kZones[] = {"GMT/BST", "CET/CEST", "EET/EEST", "+05:30", "-11:00", "+14:00", "UTC"};

SYSTEMTIME Time(TFuzzInput& in) {
    SYSTEMTIME t{};
    if (in.Bit()) {  // any field values at all
        t.wYear = in.Word();
        t.wMonth = in.Word();
        t.wDay = in.Word();
        t.wHour = in.Word();
        t.wMinute = in.Word();
        t.wSecond = in.Word();
    } else {  // a time near the present, as grabbers give
        t.wYear = static_cast<uint16_t>(2020 + in.Below(10));
        t.wMonth = static_cast<uint16_t>(1 + in.Below(12));
        t.wDay = static_cast<uint16_t>(1 + in.Below(28));
        t.wHour = static_cast<uint16_t>(in.Below(24));
        t.wMinute = static_cast<uint16_t>(in.Below(60));
    }
    return t;
}

std::unique_ptr<TXMLTVString> Entry(TFuzzInput& in) {
    auto entry = std::make_unique<TXMLTVString>();
    entry->Value = in.Text();
    if (in.Bit()) entry->Lang = in.Text();
    return entry;
}

template <class List, class Make>
std::unique_ptr<List> ListOf(TFuzzInput& in, Make make) {
    auto list = std::make_unique<List>();
    for (uint32_t n = in.Below(4); n > 0; --n) list->Add(make(in));
    return list;
}

std::unique_ptr<TXMLTVStringList> Entries(TFuzzInput& in) { return ListOf<TXMLTVStringList>(in, Entry); }

std::unique_ptr<TStringList> Texts(TFuzzInput& in) {
    auto list = std::make_unique<TStringList>();
    for (uint32_t n = in.Below(4); n > 0; --n) list->Add(in.Text());
    return list;
}

std::unique_ptr<TXMLTVIconList> Icons(TFuzzInput& in) {
    return ListOf<TXMLTVIconList>(in, [](TFuzzInput& i) {
        auto icon = std::make_unique<TXMLTVIcon>();
        icon->Source = i.Text();
        icon->Width = i.Int32();
        icon->Height = i.Int32();
        return icon;
    });
}

std::unique_ptr<TChannel> MakeChannel(TFuzzInput& in) {
    auto c = std::make_unique<TChannel>();
    c->Encoding = static_cast<uint8_t>(in.Below(5));
    c->ID = in.Text();
    c->XML_ID = in.Text();
    if (in.Bit()) c->Name = Entries(in);
    if (in.Bit()) c->Icon = Icons(in);
    if (in.Bit()) c->URL = Texts(in);
    return c;
}

std::unique_ptr<TProgram> MakeProgram(TFuzzInput& in) {
    auto p = std::make_unique<TProgram>();
    p->Encoding = static_cast<uint8_t>(in.Below(5));
    const uint32_t parts = static_cast<uint32_t>(in.Int32());
    auto has = [&](int bit) { return (parts >> bit & 1) != 0; };
    p->XMLChannel = in.Text();
    p->Start = Time(in);
    if (has(0)) p->Stop = Time(in);
    if (has(1)) p->PDCStart = Time(in);
    if (has(2)) p->VPSStart = Time(in);
    if (has(3)) p->ShowView = in.Text();
    if (has(4)) p->VideoPlus = in.Text();
    if (has(5)) p->Clump = in.Text();
    if (has(6)) p->Title = Entries(in);
    if (has(7)) p->Sub_Title = Entries(in);
    if (has(8)) p->Description = Entries(in);
    if (has(9)) {
        p->Credits = std::make_unique<TXMLTVCredits>();
        TXMLTVCredits& c = *p->Credits;
        const uint8_t roles = in.Byte();
        if (roles & 1) c.Director = Texts(in);
        if (roles & 2) {
            c.Actor = ListOf<TCastList>(in, [](TFuzzInput& i) {
                auto member = std::make_unique<TCastMember>();
                member->Actor = i.Text();
                member->Character = i.Text();
                return member;
            });
        }
        if (roles & 4) c.Writer = Texts(in);
        if (roles & 8) c.Adapter = Texts(in);
        if (roles & 16) c.Producer = Texts(in);
        if (roles & 32) c.Presenter = Texts(in);
        if (roles & 64) c.Commentator = Texts(in);
        if (roles & 128) c.Guest = Texts(in);
    }
    if (has(10)) p->Date = in.Text();
    if (has(11)) p->Category = Entries(in);
    if (has(12)) p->Lang = Entry(in);
    if (has(13)) p->OriginalLang = Entry(in);
    if (has(14)) {
        p->Length = in.Int32();
        p->Units = static_cast<int32_t>(in.Below(5));
    }
    if (has(15)) p->Icon = Icons(in);
    if (has(16)) p->URL = Texts(in);
    if (has(17)) p->Country = Entries(in);
    if (has(18)) {
        p->Episode = ListOf<TEpisodeList>(in, [](TFuzzInput& i) {
            std::string number = i.Text();
            return std::make_unique<TEpisode>(std::move(number), i.Text());
        });
    }
    if (has(19)) {
        p->Video = std::make_unique<TXMLTVVideo>();
        p->Video->Present = in.Bit();
        p->Video->Colour = in.Bit();
        p->Video->Aspect = in.Text();
        p->Video->Quality = in.Text();
    }
    if (has(20)) {
        p->Audio = std::make_unique<TXMLTVAudio>();
        p->Audio->Present = in.Bit();
        p->Audio->Stereo = in.Text();
    }
    if (has(21)) {
        p->PreviouslyShown = std::make_unique<TXMLTVPreviouslyShown>();
        p->PreviouslyShown->Start = in.Text();
        p->PreviouslyShown->Channel = in.Text();
    }
    if (has(22)) p->Premiere = Entry(in);
    if (has(23)) p->LastChance = Entry(in);
    p->New = has(24);
    if (has(25)) {
        p->Subtitles = ListOf<TXMLTVSubtitlesList>(in, [](TFuzzInput& i) {
            auto subtitles = std::make_unique<TXMLTVSubtitles>();
            subtitles->Type = static_cast<int32_t>(i.Below(4));
            if (i.Bit()) subtitles->Lang = Entry(i);
            return subtitles;
        });
    }
    if (has(26)) {
        p->Rating = ListOf<TXMLTVRatingList>(in, [](TFuzzInput& i) {
            auto rating = std::make_unique<TXMLTVRating>();
            rating->Value = i.Text();
            rating->System = i.Text();
            if (i.Bit()) rating->Icon = Icons(i);
            return rating;
        });
    }
    if (has(27)) {
        p->StarRating = std::make_unique<TXMLTVStarRating>();
        p->StarRating->Number = in.Int32();
        p->StarRating->OutOf = in.Int32();
        if (in.Bit()) p->StarRating->Icon = Icons(in);
    }
    return p;
}

std::string gParseError;

void KeepFirstError(void*, xmlErrorPtr error) {
    if (gParseError.empty() && error && error->message)
        gParseError = "line " + std::to_string(error->line) + ": " + error->message;
}

int CountChildren(xmlNodePtr parent, const char* name) {
    int n = 0;
    for (xmlNodePtr node = parent->children; node; node = node->next)
        n += node->type == XML_ELEMENT_NODE && xmlStrEqual(node->name, reinterpret_cast<const xmlChar*>(name));
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool initialised = [] {
        xmlInitParser();
        xmlSetStructuredErrorFunc(nullptr, KeepFirstError);
        return true;
    }();
    (void)initialised;

    TFuzzInput in(data, size);
    const int charSet = static_cast<int>(1 + in.Below(3));
    TTimeZone zone;
    ParseTimeZone(kZones[in.Below(sizeof kZones / sizeof kZones[0])], zone);

    TStringSink sink;
    int channels = 0, programmes = 0;
    {
        TXMLTV writer(sink, zone, charSet);
        std::string tv[6];  // read in order: the order of function arguments is not fixed
        for (std::string& text : tv) text = in.Text();
        writer.WriteTV(tv[0], tv[1], tv[2], tv[3], tv[4], tv[5]);
        while (!in.Empty() && channels + programmes < 64) {
            if (in.Bit()) {
                writer.WriteChannel(*MakeChannel(in));
                ++channels;
            } else {
                writer.WriteProgramme(*MakeProgram(in));
                ++programmes;
            }
        }
        writer.Close();
    }

    gParseError.clear();
    xmlDocPtr doc = xmlReadMemory(sink.Data.data(), static_cast<int>(sink.Data.size()), "fuzz.xml", nullptr,
                                  XML_PARSE_NONET | XML_PARSE_NOWARNING);
    if (!doc) FuzzFailure("the document is not well-formed (" + gParseError + "):\n" + sink.Data);
    const xmlNodePtr root = xmlDocGetRootElement(doc);
    const bool whole = root && xmlStrEqual(root->name, reinterpret_cast<const xmlChar*>("tv")) &&
                       CountChildren(root, "channel") == channels && CountChildren(root, "programme") == programmes;
    xmlFreeDoc(doc);
    FUZZ_CHECK(whole, "records missing from the document:\n" + sink.Data);
    return 0;
}
