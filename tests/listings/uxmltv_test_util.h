// Record builders and a document helper shared by the XMLTV writer's tests.
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
#include <memory>
#include <string>
#include <utility>

#include "listings/timezones.h"
#include "listings/uxmltv.h"
#include "listings/uxmltvrecs.h"

namespace xmltv_test {

inline SYSTEMTIME At(int y, int mo, int d, int h, int mi, int s = 0) {
    SYSTEMTIME t;
    t.wYear = uint16_t(y);
    t.wMonth = uint16_t(mo);
    t.wDay = uint16_t(d);
    t.wHour = uint16_t(h);
    t.wMinute = uint16_t(mi);
    t.wSecond = uint16_t(s);
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

inline std::unique_ptr<TXMLTVIcon> Icon(const std::string& src, int w = 0, int h = 0) {
    auto icon = std::make_unique<TXMLTVIcon>();
    icon->Source = src;
    icon->Width = w;
    icon->Height = h;
    return icon;
}

inline std::unique_ptr<TXMLTVIconList> Icons(std::initializer_list<std::string> sources) {
    auto list = std::make_unique<TXMLTVIconList>();
    for (const auto& s : sources) list->Add(Icon(s));
    return list;
}

inline std::unique_ptr<TCastMember> Cast(const std::string& actor, const std::string& character) {
    auto m = std::make_unique<TCastMember>();
    m->Actor = actor;
    m->Character = character;
    return m;
}

inline std::unique_ptr<TChannel> Channel(const std::string& id, const std::string& name, uint8_t encoding = 3) {
    auto c = std::make_unique<TChannel>();
    c->XML_ID = id;
    if (!name.empty()) c->Name = Texts({{name, ""}});
    c->Encoding = encoding;
    return c;
}

// A programme on channel "bbc1.example" from 18:00 to 19:00 UTC on 1 June 2024, titled `title`.
inline std::unique_ptr<TProgram> Programme(const std::string& title, uint8_t encoding = 3) {
    auto p = std::make_unique<TProgram>();
    p->XMLChannel = "bbc1.example";
    p->Start = At(2024, 6, 1, 18, 0);
    p->Stop = At(2024, 6, 1, 19, 0);
    if (!title.empty()) p->Title = Texts({{title, ""}});
    p->Encoding = encoding;
    return p;
}

constexpr const char* Generator = "Tavrin V. 3.12.00W";
constexpr const char* GeneratorURL = "http://tavrin.example/";

// The whole document the writer makes with `body` between WriteTV and the end.
inline std::string Document(int charSet, const std::function<void(TXMLTV&)>& body) {
    TStringSink sink;
    {
        TXMLTV writer(sink, TestZone(), charSet);
        writer.WriteTV("20240601", "", "", "", Generator, GeneratorURL);
        body(writer);
    }
    return sink.Data;
}

inline std::string Head(const char* charSetName) {
    return std::string("<?xml version=\"1.0\" encoding=\"") + charSetName +
           "\"?>\n<tv date=\"20240601\" generator-info-name=\"Tavrin V. 3.12.00W\" "
           "generator-info-url=\"http://tavrin.example/\">";
}

// ---- checking documents with the format's own tools

inline bool HaveTool(const char* name) {
    static const bool xmllint = std::system("command -v xmllint >/dev/null 2>&1") == 0;
    static const bool validator = std::system("command -v tv_validate_file >/dev/null 2>&1") == 0;
    return std::string(name) == "xmllint" ? xmllint : validator;
}

// A fresh path in the temporary folder; the file (and its neighbours with the same stem) is removed
// when the object goes.
class TTempPath {
public:
    explicit TTempPath(const std::string& suffix = ".xml") {
        static int counter = 0;
        FPath = std::filesystem::temp_directory_path() /
                ("tavrin-xmltv-" + std::to_string(::getpid()) + "-" + std::to_string(++counter) + suffix);
    }
    ~TTempPath() {
        std::error_code ec;
        std::filesystem::remove(FPath, ec);
        std::filesystem::remove(FPath.string() + ".tmp", ec);
    }
    TTempPath(const TTempPath&) = delete;
    TTempPath& operator=(const TTempPath&) = delete;
    std::string str() const { return FPath.string(); }

private:
    std::filesystem::path FPath;
};

inline void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs a command; gives its exit status and appends what it printed to `output`.
inline int Run(const std::string& command, std::string& output) {
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return -1;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
    const int status = ::pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

enum class TCheck { WellFormed, DTDValid, Validator };

// Passes when the tool accepts the document, and when the tool is not installed.
inline testing::AssertionResult Accepted(const std::string& doc, TCheck check) {
    const char* tool = check == TCheck::Validator ? "tv_validate_file" : "xmllint";
    if (!HaveTool(tool)) return testing::AssertionSuccess();
    TTempPath file;
    WriteFile(file.str(), doc);
    std::string command;
    switch (check) {
    case TCheck::WellFormed: command = "xmllint --nonet --noout "; break;
    case TCheck::DTDValid: command = "xmllint --nonet --noout --dtdvalid /usr/share/xmltv/xmltv.dtd "; break;
    case TCheck::Validator: command = "XMLTV_SUPPLEMENT=/usr/share/xmltv tv_validate_file "; break;
    }
    std::string output;
    const int rc = Run(command + file.str(), output);
    if (rc == 0) return testing::AssertionSuccess();
    return testing::AssertionFailure() << tool << " exit " << rc << ":\n" << output << "\n" << doc.substr(0, 4000);
}

inline testing::AssertionResult WellFormed(const std::string& doc) { return Accepted(doc, TCheck::WellFormed); }
inline testing::AssertionResult DTDValid(const std::string& doc) { return Accepted(doc, TCheck::DTDValid); }

}  // namespace xmltv_test
