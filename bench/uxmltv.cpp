// The XMLTV writer on a large run: 100,000 programmes on 100 channels, UTF-8 records into a UTF-8
// file, against writing the same bytes with one fwrite, and against the XMLTV project's Perl writer
// (bench/xmltv_writer_peer.pl) writing the same listings.
//
//   build/bench/bench_uxmltv
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "listings/timezones.h"
#include "listings/uxmltv.h"
#include "listings/uxmltvrecs.h"

namespace {

constexpr int ChannelCount = 100;
constexpr int ProgrammeCount = 100000;

// 300 characters, a few accented letters and one ampersand
const char* const Description =
    "Zo\xC3\xAB and Andr\xC3\xA9 leave Saint-\xC3\x89tienne for a week on the coast near Besan\xC3\xA7on, where the "
    "caf\xC3\xA9 owners & the fishermen of the old harbours prepare for the summer festival. Meanwhile the family "
    "faces a difficult choice about the future of the farm, and an old friend returns with news that changes "
    "everything.";

std::string Format(const char* format, int a, int b = 0) {
    char text[64];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

std::unique_ptr<TXMLTVStringList> Text(const std::string& value, const std::string& lang) {
    auto list = std::make_unique<TXMLTVStringList>();
    list->Add(std::make_unique<TXMLTVString>(value, lang));
    return list;
}

struct TListings {
    std::vector<std::unique_ptr<TChannel>> Channels;
    std::vector<std::unique_ptr<TProgram>> Programmes;
};

// The same listings as the Perl peer builds.
const TListings& Listings() {
    static const TListings listings = [] {
        TListings l;
        for (int c = 0; c < ChannelCount; ++c) {
            auto channel = std::make_unique<TChannel>();
            channel->XML_ID = Format("c%02d.tavrin.example", c);
            channel->Name = Text(Format("Channel %d", c), "en");
            channel->Encoding = 3;
            l.Channels.push_back(std::move(channel));
        }
        for (int i = 0; i < ProgrammeCount; ++i) {
            auto p = std::make_unique<TProgram>();
            p->Encoding = 3;
            p->XMLChannel = l.Channels[i % ChannelCount]->XML_ID;
            const int minutes = (i / ChannelCount) * 30;  // from 1 June 2024 00:00 UTC
            SYSTEMTIME start{};
            start.wYear = 2024;
            start.wMonth = 6;
            start.wDay = uint16_t(1 + minutes / 1440);
            start.wHour = uint16_t(minutes % 1440 / 60);
            start.wMinute = uint16_t(minutes % 60);
            SYSTEMTIME half{};
            half.wMinute = 30;
            p->Start = start;
            p->Stop = AddTime(start, half);
            p->Title = Text(Format("The Programme %d", i % 977), "en");
            p->Sub_Title = Text(Format("Part %d", i % 13 + 1), "en");
            p->Description = Text(Description, "en");
            p->Credits = std::make_unique<TXMLTVCredits>();
            p->Credits->Director = std::make_unique<TStringList>();
            p->Credits->Director->Add(Format("Director %d", i % 31));
            p->Credits->Actor = std::make_unique<TCastList>();
            for (char letter : std::string("ABCDE")) {
                auto actor = std::make_unique<TCastMember>();
                actor->Actor = std::string("Actor ") + letter + std::to_string(i % 41);
                p->Credits->Actor->Add(std::move(actor));
            }
            p->Category = Text("Drama", "en");
            p->Category->Add(std::make_unique<TXMLTVString>("Series", "en"));
            p->Episode = std::make_unique<TEpisodeList>();
            p->Episode->Add(std::make_unique<TEpisode>(Format("%d.%d.", i % 7, i % 23), "xmltv_ns"));
            p->Video = std::make_unique<TXMLTVVideo>();
            p->Video->Aspect = "16:9";
            p->Video->Quality = "HDTV";
            p->Audio = std::make_unique<TXMLTVAudio>();
            p->Audio->Stereo = "stereo";
            p->Rating = std::make_unique<TXMLTVRatingList>();
            auto rating = std::make_unique<TXMLTVRating>();
            rating->System = "BBFC";
            rating->Value = "15";
            p->Rating->Add(std::move(rating));
            p->StarRating = std::make_unique<TXMLTVStarRating>();
            p->StarRating->Number = 3;
            p->StarRating->OutOf = 5;
            l.Programmes.push_back(std::move(p));
        }
        return l;
    }();
    return listings;
}

TTimeZone Zone() {
    TTimeZone zone;
    ParseTimeZone("GMT/BST", zone);
    zone.DstStart = {2024, 3, 0, 31, 2, 0, 0, 0};
    zone.DstEnd = {2024, 10, 0, 27, 2, 0, 0, 0};
    return zone;
}

void WriteAll(TXMLTV& w) {
    w.WriteTV("20240601", "", "", "", "Tavrin V. 3.12.00W", "http://tavrin.example/");
    for (const auto& c : Listings().Channels) w.WriteChannel(*c);
    for (const auto& p : Listings().Programmes) w.WriteProgramme(*p);
    w.Close();
}

std::string OutFile(const char* name) { return (std::filesystem::temp_directory_path() / name).string(); }

// The document the writer makes, for the fwrite comparison.
const std::string& FinalBytes() {
    static const std::string bytes = [] {
        TStringSink sink;
        TXMLTV w(sink, Zone(), 3);
        WriteAll(w);
        return sink.Data;
    }();
    return bytes;
}

void Report(benchmark::State& state, std::size_t bytes) {
    state.SetBytesProcessed(int64_t(bytes) * state.iterations());
    state.SetItemsProcessed(int64_t(ProgrammeCount) * state.iterations());
}

void BM_WriteXMLTVFile(benchmark::State& state) {
    Listings();
    const std::string path = OutFile("tavrin-bench-writer.xml");
    for (auto _ : state) {
        TXMLTV w(path, Zone(), 3);
        WriteAll(w);
    }
    Report(state, std::filesystem::file_size(path));
    std::filesystem::remove(path);
}
BENCHMARK(BM_WriteXMLTVFile)->Unit(benchmark::kMillisecond)->UseRealTime();

// The writer's own work, without the file system.
void BM_WriteXMLTVMemory(benchmark::State& state) {
    Listings();
    TStringSink sink;  // kept, so that its memory is not faulted in anew each time
    sink.Data.reserve(FinalBytes().size());
    for (auto _ : state) {
        sink.Data.clear();
        TXMLTV w(sink, Zone(), 3);
        WriteAll(w);
    }
    Report(state, sink.Data.size());
}
BENCHMARK(BM_WriteXMLTVMemory)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_FwriteFinalBytes(benchmark::State& state) {
    const std::string& bytes = FinalBytes();
    const std::string path = OutFile("tavrin-bench-fwrite.xml");
    for (auto _ : state) {
        FILE* f = std::fopen(path.c_str(), "wb");
        if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() || std::fclose(f) != 0) {
            state.SkipWithError("cannot write the file");
            break;
        }
    }
    Report(state, bytes.size());
    std::filesystem::remove(path);
}
BENCHMARK(BM_FwriteFinalBytes)->Unit(benchmark::kMillisecond)->UseRealTime();

// The Perl writer times its own writing (building its data is left out) and prints the seconds.
void BM_PerlXMLTVWriter(benchmark::State& state) {
    const std::string script = (std::filesystem::path(__FILE__).parent_path() / "xmltv_writer_peer.pl").string();
    const std::string path = OutFile("tavrin-bench-perl.xml");
    if (std::system("perl -MXMLTV -e 1 >/dev/null 2>&1") != 0) {
        state.SkipWithError("perl with XMLTV.pm is not installed");
        return;
    }
    std::size_t size = 0;
    for (auto _ : state) {
        const std::string command = "perl '" + script + "' '" + path + "' " + std::to_string(ProgrammeCount);
        FILE* pipe = popen(command.c_str(), "r");
        double seconds = 0;
        unsigned long long bytes = 0;
        const bool read = pipe && std::fscanf(pipe, "%lf %llu", &seconds, &bytes) == 2;
        if (pipe) pclose(pipe);
        if (!read) {
            state.SkipWithError("the Perl writer failed");
            break;
        }
        state.SetIterationTime(seconds);
        size = bytes;
    }
    Report(state, size);
    std::filesystem::remove(path);
}
BENCHMARK(BM_PerlXMLTVWriter)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);

}  // namespace
