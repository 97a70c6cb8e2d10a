// The XMLTV writer: the tag tables, the layout of tags on their lines, and one writer per element of
// a channel or programme. Texts are escaped and converted by xmlescape; the bytes go to a buffered
// file stream, straight into its buffer. Listings layer.
#include "listings/uxmltv.h"

#include <array>
#include <charconv>
#include <cstring>
#include <exception>
#include <utility>

#include "listings/codecs.h"
#include "listings/xmlescape.h"
#include "util/fileutils.h"

const char* const XMLTVTagNames[XMLTVTagCount] = {
    "tv", "channel", "display-name", "url", "programme", "title", "sub-title", "desc", "credits", "director",
    "actor", "writer", "adapter", "producer", "presenter", "commentator", "guest", "date", "category",
    "language", "orig-language", "length", "icon", "episode-num", "video", "colour", "aspect",
    "previously-shown", "premiere", "subtitles", "rating", "star-rating", "country", "present", "quality",
    "audio", "stereo", "last-chance", "new", "value",
};

namespace {

const char* const CharSetNames[] = {"ISO-8859-1", "Windows-1252", "UTF-8"};
const char* const UnitNames[] = {"seconds", "minutes", "hours"};
const char* const SubtitleTypeNames[] = {"teletext", "onscreen"};

}  // namespace

const char* XMLTVCharSetName(int charSet) {
    return charSet >= 1 && charSet <= 3 ? CharSetNames[charSet - 1] : nullptr;
}

// ---------------------------------------------------------------------------
// Tag tables and numbers

namespace {

// Lengths of the tag names, so that writing a tag needs no strlen.
const std::array<std::uint8_t, XMLTVTagCount> TagLengths = [] {
    std::array<std::uint8_t, XMLTVTagCount> lengths{};
    for (int t = 0; t < XMLTVTagCount; ++t) lengths[t] = static_cast<std::uint8_t>(std::strlen(XMLTVTagNames[t]));
    return lengths;
}();

inline std::string_view TagName(int tag) { return {XMLTVTagNames[tag], TagLengths[tag]}; }

// The markup of a tag on its line, made once per indentation: "\n    <title" and "\n    </title>".
// Documents nest four deep; deeper elements are written piece by piece.
constexpr int TabledLevels = 6;
struct TTagLines {
    std::string Open[TabledLevels][XMLTVTagCount];
    std::string Close[TabledLevels][XMLTVTagCount];
    TTagLines() {
        for (int level = 0; level < TabledLevels; ++level)
            for (int t = 0; t < XMLTVTagCount; ++t) {
                std::string line(std::size_t(2 * level) + 1, ' ');  // a line feed and the indent
                line[0] = '\n';
                Open[level][t] = line + "<" + XMLTVTagNames[t];
                Close[level][t] = line + "</" + XMLTVTagNames[t] + ">";
            }
    }
};
const TTagLines TagLines;

// The level of an indentation the tables hold, or -1.
inline int TabledLevel(std::int32_t indent) {
    return indent >= 0 && indent < 2 * TabledLevels && indent % 2 == 0 ? indent / 2 : -1;
}

// A number with at least `width` digits, as "%.*d" prints it.
char* PutNumber(char* d, long long value, int width) {
    char digits[24];
    char* end = std::to_chars(digits, digits + sizeof digits, value < 0 ? -value : value).ptr;
    if (value < 0) *d++ = '-';
    for (long long k = end - digits; k < width; ++k) *d++ = '0';
    std::memcpy(d, digits, std::size_t(end - digits));
    return d + (end - digits);
}

// Two digits at least, as "%.2d" prints a field of a date.
inline char* PutDigits2(char* d, unsigned value) {
    if (value >= 100) return PutNumber(d, value, 2);
    *d++ = char('0' + value / 10);
    *d++ = char('0' + value % 10);
    return d;
}

}  // namespace

// ---------------------------------------------------------------------------
// The writer

// Markup is written as it is: the same bytes in every output character set.
inline void TXMLTV::Markup(std::string_view Text) { FStream->Put(Text.data(), Text.size()); }

inline void TXMLTV::Markup(char C) { FStream->Put(C); }

TXMLTV::TXMLTV(const std::string& FileName, const TTimeZone& TimeZone, int CharSet)
    : FOwnedStream(std::make_unique<TBufferedFS>(FileName, IsGzipFileName(FileName) ? fmReplaceGzip : fmReplace)),
      FStream(FOwnedStream.get()) {
    Start(TimeZone, CharSet);
}

TXMLTV::TXMLTV(TBufferedFS& Stream, const TTimeZone& TimeZone, int CharSet) : FStream(&Stream) {
    Start(TimeZone, CharSet);
}

void TXMLTV::Start(const TTimeZone& TimeZone, int CharSet) {
    FUncaught = std::uncaught_exceptions();
    FTimeZone = TimeZone;
    // The declaration must name the character set the bytes are in; the settings offer only 1 to 3.
    FCharSet = static_cast<std::uint8_t>(XMLTVCharSetName(CharSet) ? CharSet : CharSetISO8859_1);
    FTags.reserve(8);
    Markup("<?xml version=\"1.0\" encoding=\"");
    Markup(XMLTVCharSetName(FCharSet));
    Markup("\"?>");
}

TXMLTV::~TXMLTV() {
    if (FClosed) return;
    if (std::uncaught_exceptions() > FUncaught) {
        FClosed = true;
        if (FOwnedStream) FOwnedStream->Abandon();
        return;
    }
    try {
        Close();
    } catch (...) {
        // Close has abandoned the output; a destructor cannot report more
    }
}

void TXMLTV::Close() {
    if (FClosed) return;
    FClosed = true;
    try {
        while (!FTags.empty()) CloseTag();
        if (FOwnedStream) FOwnedStream->Close();
        else FStream->Flush();
    } catch (...) {
        if (FOwnedStream) FOwnedStream->Abandon();
        throw;
    }
}

void TXMLTV::NewLine() {
    Markup('\n');
    for (std::int32_t i = 0; i < FIndent; ++i) Markup(' ');
}

void TXMLTV::WriteText(std::string_view Text, int CharSet, bool Escape) {
    if (!XMLTVCharSetName(CharSet) || Text.empty()) return;
    const std::size_t worst = XMLTextMaxGrowth * Text.size();
    if (worst <= std::size_t(TBufferedFS::BufferSize)) {
        // converted straight into the buffer, given room for the longest possible result
        char* const at = FStream->Space(worst);
        FStream->Wrote(std::size_t(PutXMLText(at, Text, CharSet, FCharSet, Escape, FConv) - at));
    } else {
        FLarge.clear();
        AppendXMLText(FLarge, Text, CharSet, FCharSet, Escape);
        Markup(FLarge);
    }
}

void TXMLTV::OpenTagStart(TXMLTVTag Tag) {
    FTags.push_back(Tag);
    if (const int level = TabledLevel(FIndent); level >= 0) {
        Markup(TagLines.Open[level][Tag]);
    } else {
        NewLine();
        Markup('<');
        Markup(TagName(Tag));
    }
    FLastOpenDepth = static_cast<std::int32_t>(FTags.size());
    FIndent += 2;
}

void TXMLTV::OpenTag(TXMLTVTag Tag) {
    OpenTagStart(Tag);
    Markup('>');
}

void TXMLTV::WriteAttribute(std::string_view Name, std::string_view Value, int CharSet) {
    // Name, equals sign and quotes are taken in the value's character set too, so an attribute
    // of a record with an unknown character set vanishes whole rather than being left empty.
    if (!XMLTVCharSetName(CharSet)) return;
    Markup(' ');
    Markup(Name);  // our own ASCII names, the same bytes in every character set
    Markup("=\"");
    WriteText(Value, CharSet, true);
    Markup('"');
}

void TXMLTV::EndOpenTag() { Markup('>'); }

void TXMLTV::EndEmptyTag() {
    if (FTags.empty()) throw EXMLTVException("Can't close tag, no tags are open");
    Markup("/>");
    FTags.pop_back();
    FIndent -= 2;
}

void TXMLTV::WriteEmptyTag(TXMLTVTag Tag) {
    if (const int level = TabledLevel(FIndent); level >= 0) {
        Markup(TagLines.Open[level][Tag]);
    } else {
        NewLine();
        Markup('<');
        Markup(TagName(Tag));
    }
    Markup("/>");
}

void TXMLTV::CloseTag() {
    if (FTags.empty()) throw EXMLTVException("Can't close tag, no tags are open");
    FIndent -= 2;
    const std::uint8_t tag = FTags.back();
    const std::string& line = TagLines.Close[0][tag];  // "\n</tag>"
    if (static_cast<std::int32_t>(FTags.size()) == FLastOpenDepth) {
        Markup(std::string_view(line).substr(1));  // no children: on the line of the start tag
    } else if (const int level = TabledLevel(FIndent); level >= 0) {
        Markup(TagLines.Close[level][tag]);
    } else {
        NewLine();
        Markup(std::string_view(line).substr(1));
    }
    FTags.pop_back();
}

void TXMLTV::CloseTo(TXMLTVTag Tag) {
    while (FTags.empty() || FTags.back() != Tag) CloseTag();
}

// ---- the document

void TXMLTV::WriteTV(const std::string& Date, const std::string& SourceInfoURL, const std::string& SourceInfoName,
                     const std::string& SourceDataURL, const std::string& GeneratorName,
                     const std::string& GeneratorURL) {
    if (!FTags.empty()) throw EXMLTVException("Cannot add a tv tag, it already exists");
    OpenTagStart(xtTV);
    const std::pair<const char*, const std::string*> attributes[] = {
        {"date", &Date},
        {"source-info-url", &SourceInfoURL},
        {"source-info-name", &SourceInfoName},
        {"source-data-url", &SourceDataURL},
        {"generator-info-name", &GeneratorName},
        {"generator-info-url", &GeneratorURL},
    };
    for (const auto& [name, value] : attributes)
        if (!value->empty()) WriteAttribute(name, *value, FCharSet);
    EndOpenTag();
}

void TXMLTV::WriteChannel(const TChannel& Channel) {
    if (FTags.empty()) throw EXMLTVException("Cannot add a channel tag, open a tv tag first");
    CloseTo(xtTV);
    const int E = Channel.Encoding;
    OpenTagStart(xtChannel);
    WriteAttribute("id", Channel.XML_ID, E);
    EndOpenTag();
    WriteTextElements(Channel.Name.get(), xtDisplayName, E);
    WriteIcons(Channel.Icon.get(), E);
    WritePlainElements(Channel.URL.get(), xtURL, E);
    CloseTag();
}

// The attribute with FormatXMLTVTime's text, made without a format string: two per programme.
void TXMLTV::WriteTime(std::string_view Name, const SYSTEMTIME& Time, int E) {
    if (!XMLTVCharSetName(E)) return;
    // A programme's stop is mostly the next one's start, and programmes on different channels
    // share their starts: the last few texts are kept.
    TTimeText* slot = nullptr;
    for (TTimeText& cached : FTimeTexts)
        if (cached.Valid && std::memcmp(&cached.Time, &Time, sizeof Time) == 0) {
            slot = &cached;
            break;
        }
    if (!slot) {
        slot = &FTimeTexts[FNextTimeText];
        FNextTimeText = (FNextTimeText + 1) % FTimeTexts.size();
        const SYSTEMTIME t = ToZone(Time, FTimeZone, FOffset);
        char* d = PutNumber(slot->Text, t.wYear, 4);
        for (const std::uint16_t v : {t.wMonth, t.wDay, t.wHour, t.wMinute}) d = PutDigits2(d, v);
        std::memcpy(d, "00 ", 3);
        d += 3;
        slot->Length = std::size_t(d - slot->Text);
        slot->Offset = FOffset;
        slot->Time = Time;
        slot->Valid = true;
    }
    Markup(' ');
    Markup(Name);
    Markup("=\"");
    Markup(std::string_view(slot->Text, slot->Length));  // digits and a space: the same in any set
    WriteText(slot->Offset, E, true);
    Markup('"');
}

void TXMLTV::WriteProgramme(const TProgram& P) {
    if (FTags.empty()) throw EXMLTVException("Cannot add a program tag, open a tv tag first");
    CloseTo(xtTV);
    const int E = P.Encoding;
    OpenTagStart(xtProgramme);
    WriteTime("start", P.Start, E);
    if (P.Stop.wYear != 0) WriteTime("stop", P.Stop, E);
    if (P.PDCStart.wYear != 0) WriteTime("pdc-start", P.PDCStart, E);
    if (P.VPSStart.wYear != 0) WriteTime("vps-start", P.VPSStart, E);
    if (!P.ShowView.empty()) WriteAttribute("showview", P.ShowView, E);
    if (!P.VideoPlus.empty()) WriteAttribute("videoplus", P.VideoPlus, E);
    WriteAttribute("channel", P.XMLChannel, E);
    if (!P.Clump.empty()) WriteAttribute("clumpidx", P.Clump, E);
    EndOpenTag();

    WriteTextElements(P.Title.get(), xtTitle, E);
    WriteTextElements(P.Sub_Title.get(), xtSubTitle, E);
    WriteTextElements(P.Description.get(), xtDesc, E);
    WriteCredits(P.Credits.get(), E);
    WritePlainElement(P.Date, xtDate, E);
    WriteTextElements(P.Category.get(), xtCategory, E);
    WriteTextElement(P.Lang.get(), xtLanguage, E);
    WriteTextElement(P.OriginalLang.get(), xtOrigLanguage, E);
    if (P.Length != 0) {
        OpenTagStart(xtLength);
        // Producers always set a unit with a length; should one be missing, the attribute is left
        // out rather than a name made up
        if (P.Units >= 1 && P.Units <= 3) WriteAttribute("units", UnitNames[P.Units - 1], E);
        EndOpenTag();
        char digits[24];
        WriteText(std::string_view(digits, std::size_t(PutNumber(digits, P.Length, 1) - digits)), FCharSet, false);
        CloseTag();
    }
    WriteIcons(P.Icon.get(), E);
    WritePlainElements(P.URL.get(), xtURL, E);
    WriteTextElements(P.Country.get(), xtCountry, E);
    if (const auto* episodes = P.Episode.get())
        for (const TEpisode& episode : *episodes) WriteEpisode(episode, E);
    WriteVideo(P.Video.get(), E);
    WriteAudio(P.Audio.get(), E);
    WritePreviouslyShown(P.PreviouslyShown.get(), E);
    WriteTextElement(P.Premiere.get(), xtPremiere, E);
    WriteTextElement(P.LastChance.get(), xtLastChance, E);
    if (P.New) WriteEmptyTag(xtNew);
    if (const auto* subtitles = P.Subtitles.get())
        for (const TXMLTVSubtitles& item : *subtitles) WriteSubtitles(item, E);
    if (const auto* ratings = P.Rating.get())
        for (const TXMLTVRating& item : *ratings) WriteRating(item, E);
    WriteStarRating(P.StarRating.get(), E);
    CloseTag();
}

// ---- element writers

void TXMLTV::WriteTextElement(const TXMLTVString* Item, TXMLTVTag Tag, int E) {
    if (!Item) return;
    if (!Item->Lang.empty()) {
        OpenTagStart(Tag);
        WriteAttribute("lang", Item->Lang, E);
        EndOpenTag();
    } else {
        OpenTag(Tag);
    }
    WriteText(Item->Value, E, true);
    CloseTag();
}

void TXMLTV::WriteTextElements(const TXMLTVStringList* List, TXMLTVTag Tag, int E) {
    if (!List) return;
    for (const TXMLTVString& item : *List) WriteTextElement(&item, Tag, E);
}

void TXMLTV::WritePlainElement(std::string_view Text, TXMLTVTag Tag, int E) {
    if (Text.empty()) return;
    OpenTag(Tag);
    WriteText(Text, E, true);
    CloseTag();
}

void TXMLTV::WritePlainElements(const TStringList* List, TXMLTVTag Tag, int E) {
    if (!List) return;
    for (const std::string& text : *List) WritePlainElement(text, Tag, E);
}

void TXMLTV::WriteNumberAttribute(std::string_view Name, long long Value, int E) {
    char digits[24];
    WriteAttribute(Name, std::string_view(digits, std::size_t(PutNumber(digits, Value, 1) - digits)), E);
}

void TXMLTV::WriteIcon(const TXMLTVIcon& Icon, int E) {
    OpenTagStart(xtIcon);
    WriteAttribute("src", Icon.Source, E);
    if (Icon.Width != 0) WriteNumberAttribute("width", Icon.Width, E);
    if (Icon.Height != 0) WriteNumberAttribute("height", Icon.Height, E);
    EndEmptyTag();
}

void TXMLTV::WriteIcons(const TXMLTVIconList* List, int E) {
    if (!List) return;
    for (const TXMLTVIcon& icon : *List) WriteIcon(icon, E);
}

void TXMLTV::WriteActor(const TCastMember& Member, int E) {
    if (Member.Actor.empty()) return;
    OpenTag(xtActor);
    if (Member.Character.empty()) {
        WriteText(Member.Actor, E, true);
    } else {
        // the part first, then the name; joined before converting, as a byte sequence cut off at
        // the end of the part converts differently from one that a space follows
        FScratch.assign(Member.Character).append(" - ").append(Member.Actor);
        WriteText(FScratch, E, true);
    }
    CloseTag();
}

void TXMLTV::WriteCredits(const TXMLTVCredits* Credits, int E) {
    if (!Credits) return;
    OpenTag(xtCredits);
    WritePlainElements(Credits->Director.get(), xtDirector, E);
    if (const auto* cast = Credits->Actor.get())
        for (const TCastMember& member : *cast) WriteActor(member, E);
    WritePlainElements(Credits->Writer.get(), xtWriter, E);
    WritePlainElements(Credits->Adapter.get(), xtAdapter, E);
    WritePlainElements(Credits->Producer.get(), xtProducer, E);
    WritePlainElements(Credits->Presenter.get(), xtPresenter, E);
    WritePlainElements(Credits->Commentator.get(), xtCommentator, E);
    WritePlainElements(Credits->Guest.get(), xtGuest, E);
    CloseTag();
}

void TXMLTV::WriteNo(TXMLTVTag Tag) {
    OpenTag(Tag);
    WriteText("no", FCharSet, false);
    CloseTag();
}

void TXMLTV::WriteVideo(const TXMLTVVideo* Video, int E) {
    if (!Video) return;
    OpenTag(xtVideo);
    if (!Video->Present) WriteNo(xtPresent);
    if (!Video->Colour) WriteNo(xtColour);
    WritePlainElement(Video->Aspect, xtAspect, E);
    WritePlainElement(Video->Quality, xtQuality, E);
    CloseTag();
}

void TXMLTV::WriteAudio(const TXMLTVAudio* Audio, int E) {
    if (!Audio) return;
    OpenTag(xtAudio);
    if (!Audio->Present) WriteNo(xtPresent);
    WritePlainElement(Audio->Stereo, xtStereo, E);
    CloseTag();
}

void TXMLTV::WritePreviouslyShown(const TXMLTVPreviouslyShown* Shown, int E) {
    if (!Shown) return;
    OpenTagStart(xtPreviouslyShown);
    if (!Shown->Start.empty()) WriteAttribute("start", Shown->Start, E);
    if (!Shown->Channel.empty()) WriteAttribute("channel", Shown->Channel, E);
    EndEmptyTag();
}

void TXMLTV::WriteSubtitles(const TXMLTVSubtitles& Subtitles, int E) {
    OpenTagStart(xtSubtitles);
    // a script may give no type (0); only the two known types have a name
    if (Subtitles.Type >= 1 && Subtitles.Type <= 2) WriteAttribute("type", SubtitleTypeNames[Subtitles.Type - 1], E);
    EndOpenTag();
    WriteTextElement(Subtitles.Lang.get(), xtLanguage, E);
    CloseTag();
}

void TXMLTV::WriteRating(const TXMLTVRating& Rating, int E) {
    if (!Rating.System.empty()) {
        OpenTagStart(xtRating);
        WriteAttribute("system", Rating.System, E);
        EndOpenTag();
    } else {
        OpenTag(xtRating);
    }
    WritePlainElement(Rating.Value, xtValue, E);
    WriteIcons(Rating.Icon.get(), E);
    CloseTag();
}

void TXMLTV::WriteEpisode(const TEpisode& Episode, int E) {
    OpenTagStart(xtEpisodeNum);
    WriteAttribute("system", Episode.System, E);
    EndOpenTag();
    WriteText(Episode.Number, E, true);
    CloseTag();
}

void TXMLTV::WriteStarRating(const TXMLTVStarRating* Rating, int E) {
    if (!Rating) return;
    OpenTag(xtStarRating);
    char text[32];
    char* d = PutNumber(text, Rating->Number, 1);
    *d++ = '/';
    d = PutNumber(d, Rating->OutOf, 1);
    WritePlainElement(std::string_view(text, std::size_t(d - text)), xtValue, E);
    WriteIcons(Rating->Icon.get(), E);
    CloseTag();
}
