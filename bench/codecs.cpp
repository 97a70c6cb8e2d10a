// Converting 8 MiB of listings-like text (mostly ASCII, some accented
// letters) between character sets, against a plain copy of the same bytes.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <string>

#include "listings/codecs.h"

namespace {

constexpr std::size_t TextSize = 8 << 20;

// UTF-8 text; every accented letter exists in ISO-8859-1 too.
const std::string& Utf8Text() {
    static const std::string text = [] {
        static const char* const words[] = {
            "the", "news", "weather", "film", "episode", "series", "documentary", "with", "and", "of",
            "caf\xC3\xA9", "M\xC3\xBCnchen", "Espa\xC3\xB1" "a", "gar\xC3\xA7on", "d\xC3\xA9j\xC3\xA0", "presenter",
            "K\xC3\xB6ln", "live", "football", "championship", "drama", "comedy", "children's", "programme"};
        std::mt19937 rng(42);
        std::uniform_int_distribution<std::size_t> pick(0, std::size(words) - 1);
        std::string s;
        s.reserve(TextSize + 32);
        while (s.size() < TextSize) {
            s += words[pick(rng)];
            s += ' ';
        }
        s.resize(TextSize);
        while (!s.empty() && (static_cast<unsigned char>(s.back()) & 0x80)) s.pop_back();  // no cut-off letter
        return s;
    }();
    return text;
}

const std::string& TextIn(int charSet) {
    static const std::string iso = ConvertCharSet(Utf8Text(), CharSetUTF8, CharSetISO8859_1);
    static const std::string win = ConvertCharSet(Utf8Text(), CharSetUTF8, CharSetWindows1252);
    return charSet == CharSetISO8859_1 ? iso : charSet == CharSetWindows1252 ? win : Utf8Text();
}

void BM_Memcpy(benchmark::State& state) {
    const std::string& in = TextIn(CharSetUTF8);
    std::string out(in.size(), '\0');
    for (auto _ : state) {
        std::memcpy(out.data(), in.data(), in.size());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in.size()));
}
BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond);

// Direct conversion into a reused output string, as the writer's buffer is.
void BM_Convert(benchmark::State& state) {
    const int from = int(state.range(0));
    const std::string& in = TextIn(from);
    std::string out;
    out.reserve(in.size() * 3);
    for (auto _ : state) {
        out.clear();
        AppendConvertedCharSet(out, in, from, CharSetUTF8);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in.size()));
}
BENCHMARK(BM_Convert)->Arg(CharSetISO8859_1)->Arg(CharSetWindows1252)->Arg(CharSetUTF8)->Unit(benchmark::kMillisecond);

// Through the UTF-16 text, codec by codec.
void BM_DecodeEncode(benchmark::State& state) {
    const int from = int(state.range(0));
    const std::string& in = TextIn(from);
    for (auto _ : state) {
        std::string out = UTF8Codec().EncodeStr(CodecForCharSet(from)->DecodeStr(in));
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in.size()));
}
BENCHMARK(BM_DecodeEncode)->Arg(CharSetISO8859_1)->Arg(CharSetWindows1252)->Arg(CharSetUTF8)->Unit(benchmark::kMillisecond);

}  // namespace
