// Record builders, a document helper and the format's checking tools for the XMLTV writer's tests.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <utility>

#include "listings/timezones.h"
#include "listings/uxmltv.h"
#include "listings/uxmltvrecs.h"

namespace xmltv_test {

inline SYSTEMTIME At(int y, int mo, int d, int h, int mi, int s = 0) {
    SYSTEMTIME t;
    t.wYear = uint16_t(y), t.wMonth = uint16_t(mo), t.wDay = uint16_t(d);
    t.wHour = uint16_t(h), t.wMinute = uint16_t(mi), t.wSecond = uint16_t(s);
    return t;
}

// GMT/BST with the switches of 2024 fixed, so that nothing depends on the day the tests run.
inline TTimeZone TestZone() {
    TTimeZone zone;
    ParseTimeZone("GMT/BST", zone);
    zone.DstStart = At(2024, 3, 31, 2, 0);
    zone.DstEnd = At(2024, 10, 27, 2, 0);
    return zone;
}

inline std::unique_ptr<TXMLTVStringList> Texts(std::initializer_list<std::pair<std::string, std::string>> items) {
    auto list = std::make_unique<TXMLTVStringList>();
    for (const auto& [value, lang] : items) list->Add(std::make_unique<TXMLTVString>(value, lang));
    return list;
}

inline std::unique_ptr<TStringList> Strings(std::initializer_list<std::string> items) {
    auto list = std::make_unique<TStringList>();
    for (const auto& s : items) list->Add(s);
    return list;
}

inline std::unique_ptr<TXMLTVIconList> Icons(std::initializer_list<std::string> sources, int w = 0, int h = 0) {
    auto list = std::make_unique<TXMLTVIconList>();
    for (const auto& s : sources) {
        auto icon = std::make_unique<TXMLTVIcon>();
        icon->Source = s, icon->Width = w, icon->Height = h;
        list->Add(std::move(icon));
    }
    return list;
}

inline std::unique_ptr<TCastMember> Cast(const std::string& actor, const std::string& character) {
    auto m = std::make_unique<TCastMember>();
    m->Actor = actor, m->Character = character;
    return m;
}

inline std::unique_ptr<TChannel> Channel(const std::string& id, const std::string& name, uint8_t encoding = 3) {
    auto c = std::make_unique<TChannel>();
    c->XML_ID = id;
    if (!name.empty()) c->Name = Texts({{name, ""}});
    c->Encoding = encoding;
    return c;
}

// On "bbc1.example" from 18:00 to 19:00 UTC on 1 June 2024, titled `title` (no title when empty).
inline std::unique_ptr<TProgram> Programme(const std::string& title, uint8_t encoding = 3) {
    auto p = std::make_unique<TProgram>();
    p->XMLChannel = "bbc1.example";
    p->Start = At(2024, 6, 1, 18, 0);
    p->Stop = At(2024, 6, 1, 19, 0);
    if (!title.empty()) p->Title = Texts({{title, ""}});
    p->Encoding = encoding;
    return p;
}

// A programme with every part filled in, its texts given in `encoding`.
inline std::unique_ptr<TProgram> FullProgramme(uint8_t encoding, const std::string& title, const std::string& name) {
    auto p = Programme("", encoding);
    p->PDCStart = At(2024, 6, 1, 18, 1);
    p->VPSStart = At(2024, 12, 1, 18, 2);
    p->ShowView = "123", p->VideoPlus = "456", p->Clump = "0/2";
    p->Title = Texts({{title, "en"}, {"T2", ""}});
    p->Sub_Title = Texts({{"Part 1", ""}});
    p->Description = Texts({{"Tom & Jerry's \"best\" <bits>", "en"}});
    p->Credits = std::make_unique<TXMLTVCredits>();
    p->Credits->Director = Strings({name, ""});
    p->Credits->Actor = std::make_unique<TCastList>();
    p->Credits->Actor->Add(Cast(name, ""));
    p->Credits->Actor->Add(Cast("John Roe", "Sherlock"));
    p->Credits->Actor->Add(Cast("", "Nobody"));
    p->Credits->Writer = Strings({"W"}), p->Credits->Adapter = Strings({"A"});
    p->Credits->Producer = Strings({"P"}), p->Credits->Presenter = Strings({"Pr"});
    p->Credits->Commentator = Strings({"C"}), p->Credits->Guest = Strings({"G"});
    p->Date = "2001";
    p->Category = Texts({{"Drama", "en"}, {"Film", ""}});
    p->Lang = std::make_unique<TXMLTVString>("English", "en");
    p->OriginalLang = std::make_unique<TXMLTVString>("fr", "");
    p->Length = 90, p->Units = 2;
    p->Icon = Icons({"a.png?x=1&y=2"}, 100, 0);
    p->URL = Strings({"http://x.example/?a=1&b=2"});
    p->Country = Texts({{"UK", ""}});
    p->Episode = std::make_unique<TEpisodeList>();
    p->Episode->Add(std::make_unique<TEpisode>("0.4/10.", "xmltv_ns"));
    p->Episode->Add(std::make_unique<TEpisode>("S1E5", ""));
    p->Video = std::make_unique<TXMLTVVideo>();
    p->Video->Colour = false, p->Video->Aspect = "16:9", p->Video->Quality = "HDTV";
    p->Audio = std::make_unique<TXMLTVAudio>();
    p->Audio->Present = false, p->Audio->Stereo = "stereo";
    p->PreviouslyShown = std::make_unique<TXMLTVPreviouslyShown>();
    p->PreviouslyShown->Start = "20240101120000 +0000", p->PreviouslyShown->Channel = "bbc1.example";
    p->Premiere = std::make_unique<TXMLTVString>("First showing", "en");
    p->LastChance = std::make_unique<TXMLTVString>("", "");
    p->New = true;
    p->Subtitles = std::make_unique<TXMLTVSubtitlesList>();
    for (int type : {1, 0}) {
        auto sub = std::make_unique<TXMLTVSubtitles>();
        sub->Type = type;
        if (type) sub->Lang = std::make_unique<TXMLTVString>("English", "en");
        p->Subtitles->Add(std::move(sub));
    }
    p->Rating = std::make_unique<TXMLTVRatingList>();
    auto rating = std::make_unique<TXMLTVRating>();
    rating->System = "BBFC", rating->Value = "15", rating->Icon = Icons({"15.png"});
    p->Rating->Add(std::move(rating));
    p->StarRating = std::make_unique<TXMLTVStarRating>();
    p->StarRating->Number = 3, p->StarRating->OutOf = 5;
    return p;
}

// The tv element as the grab run writes it.
inline void StandardTV(TXMLTV& w) { w.WriteTV("20240601", "", "", "", "Tavrin V. 3.12.00W", "http://tavrin.example/"); }

// The whole document the writer makes with `body` between WriteTV and the end.
inline std::string Document(int charSet, const std::function<void(TXMLTV&)>& body) {
    TStringSink sink;
    {
        TXMLTV writer(sink, TestZone(), charSet);
        StandardTV(writer);
        body(writer);
    }
    return sink.Data;
}

inline std::string Head(const std::string& charSetName) {
    return "<?xml version=\"1.0\" encoding=\"" + charSetName +
           "\"?>\n<tv date=\"20240601\" generator-info-name=\"Tavrin V. 3.12.00W\" "
           "generator-info-url=\"http://tavrin.example/\">";
}

// Random texts, weighted towards the bytes that matter to escaping and to UTF-8.
inline std::string RandomText(std::mt19937& rng) {
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

// ---- files and the format's own checking tools

// A fresh path in the temporary folder, removed with its ".tmp" neighbour when the object goes.
class TTempPath {
public:
    explicit TTempPath(const std::string& suffix = ".xml") {
        static int counter = 0;
        FPath = (std::filesystem::temp_directory_path() /
                 ("tavrin-xmltv-" + std::to_string(::getpid()) + "-" + std::to_string(++counter) + suffix))
                    .string();
    }
    ~TTempPath() {
        std::error_code ec;
        std::filesystem::remove(FPath, ec);
        std::filesystem::remove(FPath + ".tmp", ec);
    }
    const std::string& str() const { return FPath; }

private:
    std::string FPath;
};

inline void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool HaveTool(const std::string& name) {
    return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

enum class TCheck { WellFormed, DTDValid, Validator };

// Passes when the tool accepts the document, and when the tool is not installed.
inline testing::AssertionResult Accepted(const std::string& doc, TCheck check) {
    static const bool xmllint = HaveTool("xmllint"), validator = HaveTool("tv_validate_file");
    if (!(check == TCheck::Validator ? validator : xmllint)) return testing::AssertionSuccess();
    static const char* const commands[] = {
        "xmllint --nonet --noout ", "xmllint --nonet --noout --dtdvalid /usr/share/xmltv/xmltv.dtd ",
        "XMLTV_SUPPLEMENT=/usr/share/xmltv tv_validate_file "};
    TTempPath file;
    WriteFile(file.str(), doc);
    FILE* pipe = ::popen((commands[int(check)] + file.str() + " 2>&1").c_str(), "r");
    if (!pipe) return testing::AssertionFailure() << "cannot run " << commands[int(check)];
    std::string output;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
    const int status = ::pclose(pipe);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return testing::AssertionSuccess();
    return testing::AssertionFailure() << commands[int(check)] << "failed:\n" << output << "\n" << doc.substr(0, 4000);
}

inline testing::AssertionResult WellFormed(const std::string& doc) { return Accepted(doc, TCheck::WellFormed); }
inline testing::AssertionResult DTDValid(const std::string& doc) { return Accepted(doc, TCheck::DTDValid); }

}  // namespace xmltv_test
