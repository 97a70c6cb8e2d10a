// Listings layer: the feed parser's core: channel directories and programme pages of the listings
// feed into channel and programme records, times brought from UK local time to UTC; no Lua.
#include "listings/uk_rt.h"

#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <utility>

#include "listings/timezones.h"
#include "util/textutils.h"

namespace {

constexpr std::string_view kLanguage = "en";  // every text the feed gives is English

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// An optional sign and decimal digits, nothing else, within 32 bits.
bool ToWholeNumber(std::string_view text, int32_t& value) {
    size_t i = 0;
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        i = 1;
    }
    if (i == text.size()) return false;
    int64_t v = 0;
    for (; i < text.size(); ++i) {
        if (!IsDigit(text[i])) return false;
        v = v * 10 + (text[i] - '0');
        if (v > int64_t{INT32_MAX} + 1) return false;
    }
    if (negative) v = -v;
    if (v > INT32_MAX || v < INT32_MIN) return false;
    value = static_cast<int32_t>(v);
    return true;
}

int32_t WholeNumberOrZero(std::string_view text) {
    int32_t value = 0;
    return ToWholeNumber(text, value) ? value : 0;
}

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ') text.remove_prefix(1);
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') text.remove_suffix(1);
    return text;
}

std::string Quoted(std::string_view text) {
    std::string s;
    s.reserve(text.size() + 2);
    s += '"';
    s += text;
    s += '"';
    return s;
}

// A text in the feed's language, built straight from the page's bytes.
std::unique_ptr<TXMLTVString> Text(std::string_view text) {
    return std::make_unique<TXMLTVString>(std::string(text), std::string(kLanguage));
}

void AddText(std::unique_ptr<TXMLTVStringList>& list, std::unique_ptr<TXMLTVString> text) {
    if (!list) list = std::make_unique<TXMLTVStringList>();
    list->Append(std::move(text));
}

void AddText(std::unique_ptr<TXMLTVStringList>& list, std::string_view text) { AddText(list, Text(text)); }

void Log(const TFeedLog& log, const std::string& line) {
    if (log) log(line);
}

// Raises the error with page bytes that cannot be shown as "?": the message reaches the log as a C
// string, so a NUL would cut it short, and a line break would start a line of the page's making.
[[noreturn]] void FeedError(std::string message) {
    for (char& c : message)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    throw EFeedError(message);
}

// ---- the fields of one programme line

constexpr int kFields = 23;

// Finds up to `want` bytes equal to c from `at` on, in order; tells how many there were.
int FindAll(const char* at, const char* end, char c, const char** found, int want) {
    int n = 0;
#if defined(__SSE2__)
    const __m128i pattern = _mm_set1_epi8(c);
    for (; end - at >= 16; at += 16) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
        for (unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, pattern))); mask != 0;
             mask &= mask - 1) {
            found[n++] = at + __builtin_ctz(mask);
            if (n == want) return n;
        }
    }
#endif
    for (; at < end; ++at)
        if (*at == c) {
            found[n++] = at;
            if (n == want) return n;
        }
    return n;
}

// Reads a programme page line by line, field by field. A separator is looked for over the rest of
// the page, not only the line, so a line short of separators takes its missing fields from the next.
// The separators of a line are found in one pass when the line starts; a missing one ends the call
// only when its field is read, so that what the fields before it log is logged first.
class TFieldReader {
public:
    TFieldReader(std::string_view page, const std::string& channelID)
        : FAt(page.data()), FEnd(page.data() + page.size()), FChannelID(channelID) {}

    bool AtEnd() const { return FEnd - FAt <= 1; }  // a last lone byte starts no programme

    void StartLine() {
        FField = 0;
        FFieldStart = FAt;
        FFound = FindAll(FAt, FEnd, '~', FSeparators, kFields - 1);
        if (FFound == kFields - 1) {
            const char* from = FSeparators[kFields - 2] + 1;
            if (const void* feed = std::memchr(from, '\n', static_cast<size_t>(FEnd - from))) {
                FSeparators[kFields - 1] = static_cast<const char*>(feed);
                FFound = kFields;
            }
        }
    }

    // The next field of the line: "~" ends fields 1 to 22, the line feed field 23.
    [[gnu::always_inline]] std::string_view Next() {
        if (FField >= FFound) MissingSeparator();
        const char* separator = FSeparators[FField++];
        const std::string_view field(FFieldStart, static_cast<size_t>(separator - FFieldStart));
        FFieldStart = separator + 1;
        if (FField == kFields) FAt = FFieldStart;
        return field;
    }
    void Skip() { Next(); }

private:
    [[noreturn, gnu::noinline, gnu::cold]] void MissingSeparator() const {
        FeedError("Parse error in channel " + FChannelID);
    }

    const char* FAt;  // the start of the next line
    const char* FEnd;
    const std::string& FChannelID;
    const char* FSeparators[kFields];
    int FFound = 0;  // separators found for the line
    int FField = 0;  // fields read from it
    const char* FFieldStart = nullptr;
};

// ---- dates and times: fixed positions, strict conversion

[[noreturn, gnu::noinline, gnu::cold]] void BadDateTime(const char* what, std::string_view field,
                                                        const char* reason, const std::string& channelID) {
    FeedError(std::string(what) + " " + Quoted(field) + " " + reason + " (channel " + channelID + ")");
}

[[noreturn, gnu::noinline, gnu::cold]] void NotWholeNumber(std::string_view part, const std::string& channelID) {
    FeedError(Quoted(part) + " is not a whole number (channel " + channelID + ")");
}

// The part at 1-based bytes first..last (within the field), digits only.
inline int ReadPart(std::string_view field, int first, int last, const std::string& channelID) {
    const std::string_view part = field.substr(static_cast<size_t>(first - 1), static_cast<size_t>(last - first + 1));
    int value = 0;
    for (char c : part) {
        if (!IsDigit(c)) NotWholeNumber(part, channelID);
        value = value * 10 + (c - '0');
    }
    return value;
}

// "dd/mm/yyyy": the date at 00:00:00.
SYSTEMTIME ReadDate(std::string_view field, const std::string& channelID) {
    if (field.size() < 10) BadDateTime("Date", field, "is shorter than dd/mm/yyyy", channelID);
    const int day = ReadPart(field, 1, 2, channelID);
    const int month = ReadPart(field, 4, 5, channelID);
    const int year = ReadPart(field, 7, 10, channelID);
    // A date out of the calendar would reach the XMLTV file as an impossible timestamp.
    if (year < 1 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month))
        BadDateTime("Date", field, "is not a valid date", channelID);
    SYSTEMTIME t{};
    t.wYear = static_cast<uint16_t>(year);
    t.wMonth = static_cast<uint16_t>(month);
    t.wDay = static_cast<uint16_t>(day);
    return t;
}

// "hh:mm" into the hour and minute of t.
void ReadTime(std::string_view field, SYSTEMTIME& t, const std::string& channelID) {
    if (field.size() < 5) BadDateTime("Time", field, "is shorter than hh:mm", channelID);
    const int hour = ReadPart(field, 1, 2, channelID);
    const int minute = ReadPart(field, 4, 5, channelID);
    if (hour > 23 || minute > 59) BadDateTime("Time", field, "is not a valid time", channelID);
    t.wHour = static_cast<uint16_t>(hour);
    t.wMinute = static_cast<uint16_t>(minute);
}

SYSTEMTIME Days(int n) {
    SYSTEMTIME d{};
    d.wDay = static_cast<uint16_t>(n);
    return d;
}

SYSTEMTIME Hours(int n) {
    SYSTEMTIME d{};
    d.wHour = static_cast<uint16_t>(n);
    return d;
}

// ---- the parts of a programme

// Cuts the first occurrence of marker out of title; tells whether there was one.
bool CutMarker(TRecordText& title, std::string_view marker) {
    const size_t at = title.find(marker);
    if (at == std::string::npos) return false;
    std::string cut(title.View());
    title = cut.erase(at, marker.size());
    return true;
}

// Writes a number that is not negative in decimal at `at`; returns the end.
char* WriteWhole(char* at, int32_t value) {
    char digits[10];
    int n = 0;
    auto rest = static_cast<uint32_t>(value);
    do {
        digits[n++] = static_cast<char>('0' + rest % 10);
        rest /= 10;
    } while (rest != 0);
    while (n > 0) *at++ = digits[--n];
    return at;
}

// Field 3: "n/m" (episode n of m), perhaps followed by a further sub-title; anything else is a
// sub-title as a whole.
void ReadEpisode(std::string_view field, TProgram& p) {
    const size_t slash = field.find('/');
    const bool numbered = IsDigit(field[0]) && slash != std::string_view::npos && slash > 0 &&
                          IsDigit(field[slash - 1]) && slash + 1 < field.size() && IsDigit(field[slash + 1]);
    if (!numbered) {
        AddText(p.Sub_Title, field);
        return;
    }
    size_t end = slash + 1;  // the first byte after the number part
    while (end < field.size() && (IsDigit(field[end]) || field[end] == '/')) ++end;
    const int32_t n = WholeNumberOrZero(field.substr(0, slash));
    const int32_t m = WholeNumberOrZero(field.substr(slash + 1, end - slash - 1));  // 0 for "3/4/5"
    // xmltv_ns counts from 0; an episode 0 would give an index of -1, which is no episode number.
    if (n >= 1) {
        char number[24];  // ".n/m.", the numbers below 2^31
        char* at = number;
        *at++ = '.';
        at = WriteWhole(at, n - 1);
        *at++ = '/';
        at = WriteWhole(at, m);
        *at++ = '.';
        auto episode = std::make_unique<TEpisode>(std::string(number, at), std::string("xmltv_ns"));
        if (!p.Episode) p.Episode = std::make_unique<TEpisodeList>();
        p.Episode->Append(std::move(episode));
    }
    // A further sub-title needs more than three bytes after the number part, such as " - X".
    if (field.size() > end + 3) {
        size_t from = end;
        while (from < field.size() && (field[from] == ' ' || field[from] == '-')) ++from;
        if (from < field.size()) AddText(p.Sub_Title, field.substr(from));
    }
}

void AddActor(TXMLTVCredits& credits, std::string_view actor, std::string_view character) {
    if (actor.empty() && character.empty()) return;
    if (!credits.Actor) credits.Actor = std::make_unique<TCastList>();
    auto member = std::make_unique<TCastMember>();
    member->Actor.assign(actor.data(), actor.size());
    member->Character.assign(character.data(), character.size());
    credits.Actor->Append(std::move(member));
}

// Field 6: either "Name, Name, ..." or "Character*Actor|Character*Actor|...".
void ReadCast(std::string_view field, TXMLTVCredits& credits, const TProgram& p, const TFeedLog& debugLog) {
    constexpr size_t npos = std::string_view::npos;
    const size_t length = field.size();
    size_t at = 0;
    if (field.find('*') == npos) {
        while (at < length) {
            const size_t comma = field.find(',', at);
            const size_t end = comma == npos ? length : comma;
            AddActor(credits, field.substr(at, end - at), std::string_view());
            at = comma == npos ? length : comma + 1;
            if (at < length && field[at] == ' ') ++at;  // one space after the comma
        }
        return;
    }
    while (at < length) {
        const size_t star = field.find('*', at);
        if (star == npos) {
            // The rest holds no pair: keep it whole as one more actor rather than lose the name.
            Log(debugLog, "Bad cast list " + Quoted(field) + " for program " + Quoted(FirstValue(p.Title)));
            AddActor(credits, field.substr(at), std::string_view());
            return;
        }
        const size_t bar = field.find('|', star + 1);
        const size_t end = bar == npos ? length : bar;
        AddActor(credits, field.substr(star + 1, end - star - 1), field.substr(at, star - at));
        at = bar == npos ? length : bar + 1;
    }
}

TXMLTVCredits& CreditsOf(TProgram& p) {
    if (!p.Credits) p.Credits = std::make_unique<TXMLTVCredits>();
    return *p.Credits;
}

TXMLTVVideo& VideoOf(TProgram& p) {
    if (!p.Video) p.Video = std::make_unique<TXMLTVVideo>();
    return *p.Video;
}

bool IsTrue(std::string_view field) { return field == "true"; }  // "True" and "1" do not count

std::string_view FirstText(const std::unique_ptr<TXMLTVStringList>& list) {
    const TXMLTVString* first = list ? list->FirstItem() : nullptr;
    return first ? first->Value.View() : std::string_view();
}

bool IsToBeAnnounced(const TProgram& p) {
    const std::string_view title = FirstText(p.Title);
    return title == "Film To Be Announced" || title == "To Be Announced" || FirstText(p.Category) == "TBA";
}

// One programme line, from the reader's position to its line feed.
std::unique_ptr<TProgram> ReadProgram(TFieldReader& in, const TFeedProgramsOptions& options,
                                      const TFeedLog& debugLog) {
    const std::string& channelID = options.ChannelID;
    in.StartLine();
    auto p = std::make_unique<TProgram>();
    p->Channel = channelID;

    // 1: the title, with the markers that tell how the times are meant. The text is built once, in
    // its entry; a marker is cut out of it there.
    std::unique_ptr<TXMLTVString> title = Text(in.Next());
    bool bst = false, gmt = false;
    if (title->Value.find('(') != std::string::npos) {
        bst = CutMarker(title->Value, "(BST)");
        gmt = CutMarker(title->Value, "(GMT)");
    }
    if (title->Value.empty()) {
        title->Value.assign("(No Title)");
        Log(debugLog, "Program with blank title in channel " + Quoted(channelID));
    }
    AddText(p->Title, std::move(title));

    // 2, 3: sub-title, episode
    if (const auto f = in.Next(); !f.empty()) AddText(p->Sub_Title, f);
    if (const auto f = in.Next(); !f.empty()) ReadEpisode(f, *p);

    // 4 to 6: date text, director, cast
    const std::string_view date = in.Next();
    p->Date.assign(date.data(), date.size());
    if (const auto f = in.Next(); !f.empty()) {
        TXMLTVCredits& credits = CreditsOf(*p);
        credits.Director = std::make_unique<TStringList>();
        credits.Director->Append(std::make_unique<std::string>(f));
    }
    if (const auto f = in.Next(); !f.empty()) ReadCast(f, CreditsOf(*p), *p, debugLog);

    // 7 to 14: the flags
    if (IsTrue(in.Next())) p->Premiere = Text("Premiere");
    in.Skip();
    if (IsTrue(in.Next())) p->PreviouslyShown = std::make_unique<TXMLTVPreviouslyShown>();
    if (IsTrue(in.Next())) {
        auto subtitles = std::make_unique<TXMLTVSubtitles>();
        subtitles->Type = 1;  // teletext
        subtitles->Lang = Text("English");
        p->Subtitles = std::make_unique<TXMLTVSubtitlesList>();
        p->Subtitles->Append(std::move(subtitles));
    }
    if (IsTrue(in.Next())) VideoOf(*p).Aspect.assign("16:9");
    in.Skip();
    in.Skip();
    if (IsTrue(in.Next())) VideoOf(*p).Colour = false;

    // 15 to 19: stars, certificate, genre, description
    if (const int32_t stars = WholeNumberOrZero(in.Next()); stars > 0) {
        p->StarRating = std::make_unique<TXMLTVStarRating>();
        p->StarRating->Number = stars;
        p->StarRating->OutOf = 5;
    }
    if (const auto f = in.Next(); !f.empty()) {
        auto rating = std::make_unique<TXMLTVRating>();
        rating->Value.assign(f.data(), f.size());
        rating->System.assign("BBFC");
        p->Rating = std::make_unique<TXMLTVRatingList>();
        p->Rating->Append(std::move(rating));
    }
    if (const auto f = in.Next(); !f.empty()) AddText(p->Category, f);
    if (const auto f = in.Next(); !f.empty()) AddText(p->Description, f);
    in.Skip();

    // 20 to 22: date, start, stop. Without a date there is no time to set: the times are still
    // checked, but Start and Stop stay absent. Without a stop time, Stop stays absent.
    const std::string_view dateField = in.Next();
    const std::string_view startField = in.Next();
    const std::string_view stopField = in.Next();
    SYSTEMTIME start{}, stop{};
    if (!dateField.empty()) start = ReadDate(dateField, channelID);
    if (!startField.empty()) ReadTime(startField, start, channelID);
    if (!stopField.empty()) {
        stop = start;
        ReadTime(stopField, stop, channelID);
    }
    if (dateField.empty()) {
        start = stop = SYSTEMTIME{};
    } else {
        const bool hasStop = !stopField.empty();
        if (hasStop && stop.wHour < start.wHour) stop = AddTime(stop, Days(1));  // past midnight
        // UK local time to UTC: a marker in the title says which; otherwise the calendar does, for
        // start and stop each on its own.
        if (!gmt) {
            if (bst || IsUKSummerTime(start)) start = SubtractTime(start, Hours(1));
            if (hasStop && (bst || IsUKSummerTime(stop))) stop = SubtractTime(stop, Hours(1));
        }
    }
    p->Start = start;
    p->Stop = stop;

    // 23: length in minutes; a negative one is no length
    if (const int32_t minutes = WholeNumberOrZero(TrimBlanks(in.Next())); minutes > 0) p->Length = minutes;
    p->Units = 2;
    p->Encoding = options.Encoding;
    return p;
}

}  // namespace

void ProcessChannels(std::string_view page, uint8_t encoding, TChanList& into, const TFeedLog& debugLog) {
    const int length = static_cast<int>(page.size());
    int position = 1;
    while (position < length) {
        const int feed = PosFrom(page, "\n", position);
        const int lineEnd = feed < 0 ? length + 1 : feed;  // the last line may lack its line feed
        const int bar = PosFrom(page, "|", position);
        if (bar < 0 || bar > lineEnd) {
            Log(debugLog, "Bad channel line " + Quoted(CopyRange(page, position, lineEnd - 1)));
            position = lineEnd + 1;
            continue;
        }
        std::string id = CopyRange(page, position, bar - 1);
        std::string name = CopyRange(page, bar + 1, lineEnd - 1);
        position = lineEnd + 1;

        const bool known = into.Sorted() ? into.SearchID(id) == crEqual : into.FindID(id);
        if (known) {
            Log(debugLog, "Duplicate channel found id: " + id + " name: " + Quoted(name));
            continue;
        }
        auto channel = std::make_unique<TChannel>();
        channel->ID = std::move(id);
        AddText(channel->Name, std::move(name));
        channel->Encoding = encoding;
        into.Add(std::move(channel));
    }
}

void ProcessPrograms(std::string_view page, const TFeedProgramsOptions& options,
                     const TFeedProgramsOutput& output) {
    if (!page.empty() && page[0] == '\n') {
        Log(output.RawLog, "Error in channel " + Quoted(options.ChannelID));
        return;
    }
    TFieldReader in(page, options.ChannelID);
    while (!in.AtEnd()) {
        std::unique_ptr<TProgram> p = ReadProgram(in, options, output.DebugLog);
        if (options.LimitTime && CompareTime(p->Start, *options.LimitTime) > 0) continue;
        if (options.IgnoreTBA && IsToBeAnnounced(*p)) continue;
        if (output.AddProgram) output.AddProgram(std::move(p));
    }
}
