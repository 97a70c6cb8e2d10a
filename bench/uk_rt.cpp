// The feed parser on a fortnight of listings for 200 channels, 30 programmes a day each (84,000
// programme lines), handed to a counting sink and to a grabber's programme list.
#include "listings/uk_rt.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "listings/timezones.h"

namespace {

constexpr int kChannels = 200;
constexpr int kDays = 14;
constexpr int kPerDay = 30;

// One channel's page: 48-minute slots from 06:00 to 05:12, starting 20 October 2006, so that the
// fortnight crosses the October clock change and every day runs past midnight.
std::string ChannelPage(int channel) {
    std::string page;
    char line[1024];
    for (int day = 0; day < kDays; ++day) {
        for (int slot = 0; slot < kPerDay; ++slot) {
            const int start = 6 * 60 + slot * 48, stop = start + 48;
            const int date = 20 + day + start / (24 * 60);  // slots after midnight fall on the next date
            const int dd = date > 31 ? date - 31 : date;
            const int mm = date > 31 ? 11 : 10;
            const bool film = (slot + channel) % 7 == 0;
            const char* cast = film ? "Detective*Ann Lee|Doctor*Bob Roe|Narrator*Cy Poe" : "Ann Lee, Bob Roe, Cy Poe";
            std::snprintf(line, sizeof line,
                          "%s %d-%d%s~%s~%d/%d - Part %d~%d~%s~%s~%s~~%s~true~%s~~~false~%d~%s~%s~"
                          "A description of the programme, long enough to be like the real ones: "
                          "somebody goes somewhere and something happens to them there.~~"
                          "%02d/%02d/2006~%02d:%02d~%02d:%02d~%d\n",
                          film ? "Film" : "Series", channel, slot, slot == 0 ? " (BST)" : "", film ? "" : "The Episode",
                          slot % 12 + 1, 12, slot, 1990 + slot % 30, film ? "Jo Director" : "", cast,
                          slot % 3 ? "false" : "true", slot % 2 ? "true" : "false", slot % 2 ? "true" : "false",
                          film ? 4 : 0, film ? "15" : "", film ? "Film" : "Drama", dd, mm, start / 60 % 24, start % 60,
                          stop / 60 % 24, stop % 60, 48);
            page += line;
        }
    }
    return page;
}

const std::vector<std::string>& Pages() {
    static const std::vector<std::string> pages = [] {
        std::vector<std::string> v;
        for (int c = 0; c < kChannels; ++c) v.push_back(ChannelPage(c));
        return v;
    }();
    return pages;
}

void FixSwitchDays() {
    SummerStart = SYSTEMTIME{2006, 3, 0, 26, 2, 0, 0, 0};
    SummerEnd = SYSTEMTIME{2006, 10, 0, 29, 2, 0, 0, 0};
}

int64_t PageBytes() {
    int64_t n = 0;
    for (const std::string& p : Pages()) n += static_cast<int64_t>(p.size());
    return n;
}

void BM_ProcessPrograms(benchmark::State& state) {
    FixSwitchDays();
    int64_t programmes = 0;
    TFeedProgramsOutput out;
    out.AddProgram = [&](std::unique_ptr<TProgram> p) {
        benchmark::DoNotOptimize(p.get());
        ++programmes;
    };
    TFeedProgramsOptions options;
    for (auto _ : state) {
        for (int c = 0; c < kChannels; ++c) {
            options.ChannelID = std::to_string(c);
            ProcessPrograms(Pages()[c], options, out);
        }
    }
    state.SetItemsProcessed(programmes);
    state.SetBytesProcessed(PageBytes() * state.iterations());
}
BENCHMARK(BM_ProcessPrograms)->Unit(benchmark::kMillisecond);

// As a grab pass does it: every programme goes into the grabber's list, which is freed afterwards.
void BM_ProcessProgramsIntoList(benchmark::State& state) {
    FixSwitchDays();
    int64_t programmes = 0;
    TFeedProgramsOptions options;
    for (auto _ : state) {
        TProgList list;
        TFeedProgramsOutput out;
        out.AddProgram = [&](std::unique_ptr<TProgram> p) { list.AddProgram(std::move(p)); };
        for (int c = 0; c < kChannels; ++c) {
            options.ChannelID = std::to_string(c);
            ProcessPrograms(Pages()[c], options, out);
        }
        programmes += list.Count();
    }
    state.SetItemsProcessed(programmes);
}
BENCHMARK(BM_ProcessProgramsIntoList)->Unit(benchmark::kMillisecond);

}  // namespace
