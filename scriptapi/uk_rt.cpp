#include "scriptapi/uk_rt.h"

#include <cstdio>
#include <utility>

#include "listings/timezones.h"
#include "util/textutils.h"

namespace {

constexpr const char* kLanguage = "en";  // every text the feed gives is English

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

std::string Quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

void AddText(std::unique_ptr<TXMLTVStringList>& list, std::string text) {
    if (!list) list = std::make_unique<TXMLTVStringList>();
    list->Add(std::make_unique<TXMLTVString>(std::move(text), kLanguage));
}

std::unique_ptr<TXMLTVString> Text(std::string text) {
    return std::make_unique<TXMLTVString>(std::move(text), kLanguage);
}

void Log(const TFeedLog& log, const std::string& line) {
    if (log) log(line);
}

// ---- the fields of one programme line

// Reads the fields of a programme page one after another; positions count from 1 as PosFrom's do.
class TFieldReader {
public:
    TFieldReader(std::string_view page, const std::string& channelID) : FPage(page), FChannelID(channelID) {}

    bool AtEnd() const { return FPosition >= static_cast<int>(FPage.size()); }  // before the last byte only

    // The text up to the next separator, which is passed; a missing separator ends the call.
    std::string_view Next(std::string_view separator = "~") {
        const int found = PosFrom(FPage, separator, FPosition);
        if (found < 0) throw EFeedError("Parse error in channel " + FChannelID);
        const std::string_view field = FPage.substr(FPosition - 1, found - FPosition);
        FPosition = found + 1;
        return field;
    }
    std::string_view Last() { return Next("\n"); }  // field 23 ends the line
    void Skip() { Next(); }

private:
    std::string_view FPage;
    const std::string& FChannelID;
    int FPosition = 1;
};

// ---- dates and times: fixed positions, strict conversion

[[noreturn]] void BadDateTime(const char* what, std::string_view field, const char* reason,
                              const std::string& channelID) {
    throw EFeedError(std::string(what) + " " + Quoted(field) + " " + reason + " (channel " + channelID + ")");
}

// The part at 1-based bytes first..last, digits only.
int ReadPart(std::string_view field, int first, int last, const std::string& channelID) {
    const std::string part = CopyRange(field, first, last);
    int value = 0;
    for (char c : part) {
        if (!IsDigit(c)) throw EFeedError(Quoted(part) + " is not a whole number (channel " + channelID + ")");
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
bool CutMarker(std::string& title, std::string_view marker) {
    const size_t at = title.find(marker);
    if (at == std::string::npos) return false;
    title.erase(at, marker.size());
    return true;
}

// Field 3: "n/m" (episode n of m), perhaps followed by a further sub-title; anything else is a
// sub-title as a whole.
void ReadEpisode(std::string_view field, TProgram& p) {
    const size_t slash = field.find('/');
    const bool numbered = IsDigit(field[0]) && slash != std::string_view::npos && slash > 0 &&
                          IsDigit(field[slash - 1]) && slash + 1 < field.size() && IsDigit(field[slash + 1]);
    if (!numbered) {
        AddText(p.Sub_Title, std::string(field));
        return;
    }
    size_t end = slash + 1;  // the first byte after the number part
    while (end < field.size() && (IsDigit(field[end]) || field[end] == '/')) ++end;
    const int32_t n = WholeNumberOrZero(field.substr(0, slash));
    const int32_t m = WholeNumberOrZero(field.substr(slash + 1, end - slash - 1));  // 0 for "3/4/5"
    // xmltv_ns counts from 0; an episode 0 would give an index of -1, which is no episode number.
    if (n >= 1) {
        char number[32];
        std::snprintf(number, sizeof number, ".%d/%d.", static_cast<int>(n - 1), static_cast<int>(m));
        if (!p.Episode) p.Episode = std::make_unique<TEpisodeList>();
        p.Episode->Add(std::make_unique<TEpisode>(number, "xmltv_ns"));
    }
    // A further sub-title needs more than three bytes after the number part, such as " - X".
    if (field.size() > end + 3) {
        size_t from = end;
        while (from < field.size() && (field[from] == ' ' || field[from] == '-')) ++from;
        if (from < field.size()) AddText(p.Sub_Title, std::string(field.substr(from)));
    }
}

void AddActor(TXMLTVCredits& credits, std::string actor, std::string character) {
    if (actor.empty() && character.empty()) return;
    if (!credits.Actor) credits.Actor = std::make_unique<TCastList>();
    auto member = std::make_unique<TCastMember>();
    member->Actor = std::move(actor);
    member->Character = std::move(character);
    credits.Actor->Add(std::move(member));
}

// Field 6: either "Name, Name, ..." or "Character*Actor|Character*Actor|...".
void ReadCast(std::string_view field, TXMLTVCredits& credits, const TProgram& p, const TFeedLog& debugLog) {
    const int length = static_cast<int>(field.size());
    int position = 1;
    if (PosFirst(field, "*") < 0) {
        while (position <= length) {
            const int comma = PosFrom(field, ",", position);
            const int last = comma < 0 ? length : comma - 1;
            AddActor(credits, CopyRange(field, position, last), std::string());
            position = comma < 0 ? length + 1 : comma + 1;
            if (position <= length && field[position - 1] == ' ') ++position;  // one space after the comma
        }
        return;
    }
    while (position <= length) {
        const int star = PosFrom(field, "*", position);
        if (star < 0) {
            // The rest holds no pair: keep it whole as one more actor rather than lose the name.
            Log(debugLog, "Bad cast list " + Quoted(field) + " for program " + Quoted(FirstValue(p.Title)));
            AddActor(credits, CopyRange(field, position, length), std::string());
            return;
        }
        const int bar = PosFrom(field, "|", star + 1);
        const int last = bar < 0 ? length : bar - 1;
        AddActor(credits, CopyRange(field, star + 1, last), CopyRange(field, position, star - 1));
        position = bar < 0 ? length + 1 : bar + 1;
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

bool IsToBeAnnounced(const TProgram& p) {
    const std::string title = FirstValue(p.Title);
    return title == "Film To Be Announced" || title == "To Be Announced" || FirstValue(p.Category) == "TBA";
}

// One programme line, from the reader's position to its line feed.
std::unique_ptr<TProgram> ReadProgram(TFieldReader& in, const TFeedProgramsOptions& options,
                                      const TFeedLog& debugLog) {
    const std::string& channelID = options.ChannelID;
    auto p = std::make_unique<TProgram>();
    p->Channel = channelID;

    // 1: the title, with the markers that tell how the times are meant
    std::string title(in.Next());
    const bool bst = CutMarker(title, "(BST)");
    const bool gmt = CutMarker(title, "(GMT)");
    if (title.empty()) {
        title = "(No Title)";
        Log(debugLog, "Program with blank title in channel " + Quoted(channelID));
    }
    AddText(p->Title, std::move(title));

    // 2, 3: sub-title, episode
    if (const auto f = in.Next(); !f.empty()) AddText(p->Sub_Title, std::string(f));
    if (const auto f = in.Next(); !f.empty()) ReadEpisode(f, *p);

    // 4 to 6: date text, director, cast
    p->Date = std::string(in.Next());
    if (const auto f = in.Next(); !f.empty()) {
        TXMLTVCredits& credits = CreditsOf(*p);
        credits.Director = std::make_unique<TStringList>();
        credits.Director->Add(std::string(f));
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
        p->Subtitles->Add(std::move(subtitles));
    }
    if (IsTrue(in.Next())) VideoOf(*p).Aspect = "16:9";
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
        rating->Value = std::string(f);
        rating->System = "BBFC";
        p->Rating = std::make_unique<TXMLTVRatingList>();
        p->Rating->Add(std::move(rating));
    }
    if (const auto f = in.Next(); !f.empty()) AddText(p->Category, std::string(f));
    if (const auto f = in.Next(); !f.empty()) AddText(p->Description, std::string(f));
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
    if (const int32_t minutes = WholeNumberOrZero(TrimBlanks(in.Last())); minutes > 0) p->Length = minutes;
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
