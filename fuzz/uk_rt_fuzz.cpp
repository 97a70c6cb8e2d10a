// Fuzz target: the listings feed parser on channel directories and programme pages. The first byte
// chooses the page kind and the options, the rest is the page. Beyond not crashing, what it hands on
// must make sense: programmes with a title and either no start or a start in the calendar, channel
// lists without duplicate IDs (in ID order when sorted), no line feed inside an ID or a name.
#include <cstdint>
#include <set>
#include <string>

#include "fuzz/fuzzinput.h"
#include "listings/timezones.h"
#include "listings/uk_rt.h"

namespace {

bool InCalendar(const SYSTEMTIME& t) {
    return t.wMonth >= 1 && t.wMonth <= 12 && t.wDay >= 1 && t.wDay <= DaysInMonth(t.wYear, t.wMonth) &&
           t.wHour < 24 && t.wMinute < 60 && t.wSecond < 60;
}

void CheckProgram(const TProgram& p, const TFeedProgramsOptions& options) {
    FUZZ_CHECK(p.Channel == options.ChannelID && p.Encoding == options.Encoding, "channel and encoding");
    FUZZ_CHECK(!FirstValue(p.Title).empty(), "a programme without a title");
    FUZZ_CHECK(p.Start.wYear == 0 ? p.Stop.wYear == 0 : InCalendar(p.Start), "start outside the calendar");
    FUZZ_CHECK(p.Stop.wYear == 0 || InCalendar(p.Stop), "stop outside the calendar");
    FUZZ_CHECK(p.Length >= 0 && p.Units == 2, "length");
    if (options.LimitTime) FUZZ_CHECK(CompareTime(p.Start, *options.LimitTime) <= 0, "past the day limit");
}

void CheckChannels(const TChanList& channels) {
    std::set<std::string> ids;
    const TChannel* previous = nullptr;
    for (const TChannel& c : channels) {
        FUZZ_CHECK(c.ID.find_first_of("|\n") == std::string::npos, "a channel ID with a separator");
        FUZZ_CHECK(DisplayNameOf(c).find('\n') == std::string::npos, "a channel name with a line feed");
        FUZZ_CHECK(ids.insert(c.ID).second, "a channel ID twice");
        if (channels.Sorted() && previous) FUZZ_CHECK(CompareChannelID(*previous, c) == crLess, "channels out of order");
        previous = &c;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool switches = [] {
        SYSTEMTIME now{};  // summer time as seen from a fixed day, whatever the machine's clock says
        now.wYear = 2024;
        now.wMonth = 2;
        now.wDay = 1;
        ComputeSummerSwitches(now);
        return true;
    }();
    (void)switches;

    TFuzzInput in(data, size);
    const uint8_t mode = in.Byte();
    const uint8_t encoding = static_cast<uint8_t>(1 + (mode >> 1) % 3);
    const std::string_view page = in.Rest();
    const TFeedLog log = [](const std::string& line) {
        FUZZ_CHECK(!line.empty(), "an empty log line");
    };

    if (mode & 1) {
        TChanList channels(mode & 8);
        ProcessChannels(page, encoding, channels, log);
        ProcessChannels(page, encoding, channels, log);  // the same page again adds nothing
        CheckChannels(channels);
        return 0;
    }

    TFeedProgramsOptions options;
    options.ChannelID = "fuzz.channel";
    options.IgnoreTBA = (mode & 8) != 0;
    options.Encoding = encoding;
    if (mode & 16) {
        SYSTEMTIME limit{};
        limit.wYear = 2024;
        limit.wMonth = 6;
        limit.wDay = 15;
        limit.wHour = 12;
        options.LimitTime = limit;
    }
    TFeedProgramsOutput output;
    output.DebugLog = log;
    output.RawLog = log;
    output.AddProgram = [&](std::unique_ptr<TProgram> p) {
        FUZZ_CHECK(p != nullptr, "a null programme");
        CheckProgram(*p, options);
    };
    try {
        ProcessPrograms(page, options, output);
    } catch (const EFeedError& e) {
        FUZZ_CHECK(std::string(e.what()).find("fuzz.channel") != std::string::npos, "an error that names no channel");
    }
    return 0;
}
