#include "listings/uxmltv.h"

#include <array>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <exception>
#include <type_traits>
#include <utility>

#include "listings/codecs.h"
#include "listings/ubufferedfs.h"
#include "listings/uxmltvrecs.h"

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

// ---------------------------------------------------------------------------
// Escaping

// Windows-1252 leaves 0x81, 0x8D, 0x8F, 0x90 and 0x9D unassigned; the codec maps them to the C1
// controls of the same number, but XML parsers refuse those bytes in a Windows-1252 document.
inline bool IsUnassigned1252(char32_t u) {
    return u == 0x81 || u == 0x8D || u == 0x8F || u == 0x90 || u == 0x9D;
}

inline bool IsXMLChar(unsigned long v) {
    return v == 0x9 || v == 0xA || v == 0xD || (v >= 0x20 && v <= 0xD7FF) || (v >= 0xE000 && v <= 0xFFFD) ||
           (v >= 0x10000 && v <= 0x10FFFF);
}

inline bool IsDigit(char32_t c) { return c >= '0' && c <= '9'; }
inline bool IsAsciiLetter(char32_t c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
inline int HexValue(char32_t c) {
    if (IsDigit(c)) return int(c - '0');
    if (c >= 'a' && c <= 'f') return int(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') return int(c - 'A' + 10);
    return -1;
}

// Whether the characters between an ampersand and a semicolon name a reference XML defines by
// itself: one of the five predefined entities or a character reference to an XML character.
template <class Ch>
bool IsKnownReference(const Ch* s, std::size_t n) {
    auto is = [&](const char* name) {
        const std::size_t len = std::strlen(name);
        if (len != n) return false;
        for (std::size_t i = 0; i < n; ++i)
            if (char32_t(s[i]) != char32_t(static_cast<unsigned char>(name[i]))) return false;
        return true;
    };
    if (n >= 2 && s[0] == '#') {
        unsigned long v = 0;
        if (s[1] == 'x') {
            if (n == 2) return false;
            for (std::size_t i = 2; i < n; ++i) {
                const int h = HexValue(char32_t(s[i]));
                if (h < 0 || v > 0x10FFFF) return false;
                v = v * 16 + unsigned(h);
            }
        } else {
            for (std::size_t i = 1; i < n; ++i) {
                if (!IsDigit(char32_t(s[i])) || v > 0x10FFFF) return false;
                v = v * 10 + unsigned(s[i] - '0');
            }
        }
        return IsXMLChar(v);
    }
    return is("amp") || is("lt") || is("gt") || is("quot") || is("apos");
}

// Whether the ampersand at s[i] starts a reference that may stay as it is. First the old rule: up
// to six characters follow, a semicolon comes before any character other than '#', a digit or an
// ASCII letter (so the reference has at most five characters). Then the reference must be one XML
// knows; "&nbsp;" or "&#1;" would make the whole document unreadable.
template <class Ch>
bool KeepsAmpersand(const Ch* s, std::size_t n, std::size_t i) {
    for (std::size_t j = i + 1; j < n && j <= i + 6; ++j) {
        const char32_t c = char32_t(s[j]);
        if (c == ';') return IsKnownReference(s + i + 1, j - i - 1);
        if (c != '#' && !IsDigit(c) && !IsAsciiLetter(c)) return false;
    }
    return false;
}

// The text that stands for a character needing attention, or nullptr when the character is
// removed. Characters that need none are not passed here.
inline const char* Replacement(char32_t u) {
    switch (u) {
    case '\'': case '`': case 0xB4: return "&apos;";
    case '"': case 0x93: case 0x94: return "&quot;";
    case '>': return "&gt;";
    case '<': return "&lt;";
    default: return nullptr;
    }
}

// Escapes `in` onto `out`; with toSet 2 the characters Windows-1252 cannot carry become "?".
void EscapeInto(std::u16string& out, std::u16string_view in, int toSet) {
    const std::size_t n = in.size();
    for (std::size_t i = 0; i < n; ++i) {
        const char16_t u = in[i];
        if (u == '&') {
            out += KeepsAmpersand(in.data(), n, i) ? u"&" : u"&amp;";
        } else if (u < 0x20) {
            if (u == '\t' || u == '\n' || u == '\r') out += u;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            if (u <= 0xDBFF && i + 1 < n && in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF) {
                out += u;
                out += in[++i];
            }  // a lone half is dropped
        } else if (u == 0xFFFE || u == 0xFFFF) {
            // not an XML character
        } else if (const char* r = Replacement(u)) {
            for (; *r; ++r) out += char16_t(*r);
        } else if (toSet == CharSetWindows1252 && IsUnassigned1252(u)) {
            out += u'?';
        } else {
            out += u;
        }
    }
}

// Byte classes for the fast path, one table per pair of character sets.
enum : std::uint8_t {
    bcPlain,    // converted with its neighbours as it is
    bcSpecial,  // a character escaping changes, decoded from this one byte
    bcHard,     // the text needs the full decode-escape-encode path
    bcLead,     // a UTF-8 lead byte whose class depends on what follows
};

struct TByteClasses {
    std::array<std::uint8_t, 256> c{};
};

inline bool IsSpecialUnit(char32_t u, int toSet) {
    return u < 0x20 || Replacement(u) != nullptr || u == '&' || (toSet == CharSetWindows1252 && IsUnassigned1252(u));
}

TByteClasses MakeByteClasses(int fromSet, int toSet) {
    TByteClasses t;
    for (int b = 0; b < 256; ++b) {
        std::uint8_t& c = t.c[b];
        if (b < 0x80) {
            c = IsSpecialUnit(char32_t(b), toSet) && b != '\t' && b != '\n' && b != '\r' ? bcSpecial : bcPlain;
        } else if (fromSet != CharSetUTF8) {
            const auto* codec = static_cast<const TCustomSingleByteCodec*>(CodecForCharSet(fromSet));
            c = IsSpecialUnit(codec->DecodeByte(static_cast<unsigned char>(b)), toSet) ? bcSpecial : bcPlain;
        } else if (b == 0xC0 || b == 0xC1) {
            c = bcHard;  // overlong forms of ASCII characters
        } else if (b == 0xC2 || b == 0xE0 || b == 0xED || b == 0xEF || b == 0xF0) {
            c = bcLead;
        } else {
            c = bcPlain;  // continuation bytes and bad leads decode to "?", other leads to harmless characters
        }
    }
    return t;
}

const TByteClasses& ByteClasses(int fromSet, int toSet) {
    static const std::array<std::array<TByteClasses, 3>, 3> tables = [] {
        std::array<std::array<TByteClasses, 3>, 3> all;
        for (int f = 1; f <= 3; ++f)
            for (int t = 1; t <= 3; ++t) all[f - 1][t - 1] = MakeByteClasses(f, t);
        return all;
    }();
    return tables[fromSet - 1][toSet - 1];
}

// The class of the UTF-8 lead byte at p[i]: bcSpecial for U+0080..U+00BF characters that escaping
// changes (two bytes, the unit is the second byte), bcHard where the sequence may decode to
// something the fast path does not handle (overlong forms, surrogates, U+FFFE, U+FFFF).
inline std::uint8_t LeadClass(const unsigned char* p, std::size_t n, std::size_t i, int toSet) {
    if (i + 1 >= n) return bcPlain;  // cut off: decodes to nothing
    const unsigned char lead = p[i], next = p[i + 1];
    switch (lead) {
    case 0xC2: return next >= 0x80 && next <= 0xBF && IsSpecialUnit(next, toSet) ? bcSpecial : bcPlain;
    case 0xE0: return next >= 0x80 && next < 0xA0 ? bcHard : bcPlain;
    case 0xED: return next >= 0xA0 && next <= 0xBF ? bcHard : bcPlain;
    case 0xEF: return next == 0xBF && i + 2 < n && (p[i + 2] == 0xBE || p[i + 2] == 0xBF) ? bcHard : bcPlain;
    case 0xF0: return next >= 0x80 && next < 0x90 ? bcHard : bcPlain;
    default: return bcPlain;
    }
}

// Converts a run of bytes that a special character follows. In UTF-8 a sequence cut off by that
// character is not dropped, as at the end of the text, but yields one "?" per byte: its lead byte
// is bad, and so is every continuation byte behind it. A lead byte is no continuation either, so
// a sequence it cuts off in turn goes the same way.
void AppendRun(std::string& out, const unsigned char* p, std::size_t n, int fromSet, int toSet) {
    if (n == 0) return;
    std::size_t keep = n;  // bytes converted as they are; the rest become "?"
    if (fromSet == CharSetUTF8) {
        for (;;) {
            std::size_t k = keep;
            while (k > 0 && keep - k < 3 && (p[k - 1] & 0xC0) == 0x80) --k;
            if (k == 0 || p[k - 1] < 0xC0 || p[k - 1] > 0xF7) break;
            const unsigned char lead = p[k - 1];
            const std::size_t need = lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
            if (keep - (k - 1) >= need) break;
            keep = k - 1;
        }
    }
    AppendConvertedCharSet(out, std::string_view(reinterpret_cast<const char*>(p), keep), fromSet, toSet);
    out.append(n - keep, '?');
}

void AppendEscapedSlow(std::string& out, std::string_view bytes, int fromSet, int toSet) {
    const std::u16string text = DecodeCharSet(bytes, fromSet);
    std::u16string escaped;
    escaped.reserve(text.size() + 16);
    EscapeInto(escaped, text, toSet);
    AppendEncodedCharSet(out, escaped, toSet);
}

}  // namespace

const char* XMLTVCharSetName(int charSet) {
    return charSet >= 1 && charSet <= 3 ? CharSetNames[charSet - 1] : nullptr;
}

std::u16string XMLEscape(std::u16string_view text) {
    std::u16string out;
    out.reserve(text.size());
    EscapeInto(out, text, 0);
    return out;
}

void AppendXMLText(std::string& out, std::string_view bytes, int fromSet, int toSet, bool escape) {
    if (!CodecForCharSet(fromSet) || !CodecForCharSet(toSet) || bytes.empty()) return;
    if (!escape) {
        AppendConvertedCharSet(out, bytes, fromSet, toSet);
        return;
    }
    // Fast path: the text is converted in runs between the characters escaping changes, which
    // are handled here byte by byte. Text that may decode to anything unusual takes the slow path.
    const TByteClasses& classes = ByteClasses(fromSet, toSet);
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    const std::size_t start = out.size();
    const TCustomSingleByteCodec* single =
        fromSet == CharSetUTF8 ? nullptr : static_cast<const TCustomSingleByteCodec*>(CodecForCharSet(fromSet));
    std::size_t run = 0, i = 0;
    while (i < n) {
        std::uint8_t c = classes.c[p[i]];
        if (c == bcPlain) {
            ++i;
            continue;
        }
        char32_t u;
        std::size_t len = 1;
        if (c == bcLead) {
            c = LeadClass(p, n, i, toSet);
            if (c == bcPlain) {
                ++i;
                continue;
            }
            u = p[i + 1];
            len = 2;
        } else {
            u = single ? char32_t(single->DecodeByte(p[i])) : char32_t(p[i]);
        }
        if (c == bcHard) {
            out.resize(start);
            AppendEscapedSlow(out, bytes, fromSet, toSet);
            return;
        }
        AppendRun(out, p + run, i - run, fromSet, toSet);
        if (u == '&') {
            out += KeepsAmpersand(p, n, i) ? "&" : "&amp;";
        } else if (const char* r = Replacement(u)) {
            out += r;
        } else if (u >= 0x80) {
            out += '?';  // a control Windows-1252 cannot carry
        }  // other controls are dropped
        i += len;
        run = i;
    }
    AppendConvertedCharSet(out, std::string_view(bytes.data() + run, n - run), fromSet, toSet);
}

// ---------------------------------------------------------------------------
// The output file

namespace {

// Writes to "<name>.tmp" and puts it in place of the target once the document is complete, so a
// failed run leaves the previous listings where they were.
class TFileSink : public TXMLTVSink {
public:
    explicit TFileSink(const std::string& fileName) : FFileName(fileName), FTempName(fileName + ".tmp") {
        try {
            FStream = std::make_unique<TBufferedFS>(FTempName, fmCreate);
        } catch (const EFCreateError& e) {
            // name the file the user asked for; the system's reason is the same for both
            std::string message = e.what();
            const std::string quoted = "\"" + FTempName + "\"";
            if (const auto at = message.find(quoted); at != std::string::npos)
                message.replace(at, quoted.size(), "\"" + FFileName + "\"");
            throw EFCreateError(message);
        }
    }
    ~TFileSink() override { TFileSink::Abandon(); }

    void Write(const char* data, std::size_t size) override { FStream->Write(data, size); }

    void Commit() override {
        if (!FStream) return;
        try {
            FStream->Close();
        } catch (...) {
            Abandon();
            throw;
        }
        FStream.reset();
        if (std::rename(FTempName.c_str(), FFileName.c_str()) != 0) {
            const int error = errno;
            std::remove(FTempName.c_str());
            throw EFCreateError("Cannot create file \"" + FFileName + "\". " + std::strerror(error));
        }
    }

    void Abandon() override {
        if (!FStream) return;
        FStream.reset();  // closes the file; a failure to write the rest does not matter any more
        std::remove(FTempName.c_str());
    }

private:
    std::string FFileName;
    std::string FTempName;
    std::unique_ptr<TBufferedFS> FStream;
};

// The collected bytes are handed on in pieces of about this size.
constexpr std::size_t OutChunk = 32768;

// Record parts are held by pointer when optional; these see through either form.
template <class P>
auto PartOf(const P& p) {
    if constexpr (requires { p.get(); }) return p.get();
    else if constexpr (std::is_pointer_v<P>) return p;
    else return &p;
}

}  // namespace

// ---------------------------------------------------------------------------
// The writer

TXMLTV::TXMLTV(const std::string& FileName, const TTimeZone& TimeZone, int CharSet)
    : FOwnedSink(std::make_unique<TFileSink>(FileName)), FStream(FOwnedSink.get()) {
    Start(TimeZone, CharSet);
}

TXMLTV::TXMLTV(TXMLTVSink& Sink, const TTimeZone& TimeZone, int CharSet) : FStream(&Sink) {
    Start(TimeZone, CharSet);
}

void TXMLTV::Start(const TTimeZone& TimeZone, int CharSet) {
    FUncaught = std::uncaught_exceptions();
    FTimeZone = TimeZone;
    // The declaration must name the character set the bytes are in; the settings offer only 1 to 3.
    FCharSet = static_cast<std::uint8_t>(XMLTVCharSetName(CharSet) ? CharSet : CharSetISO8859_1);
    FOut.reserve(OutChunk + 8192);
    Markup("<?xml version=\"1.0\" encoding=\"");
    Markup(XMLTVCharSetName(FCharSet));
    Markup("\"?>");
}

TXMLTV::~TXMLTV() {
    if (FClosed) return;
    if (std::uncaught_exceptions() > FUncaught) {
        FClosed = true;
        FStream->Abandon();
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
        FlushOut();
        FStream->Commit();
    } catch (...) {
        FStream->Abandon();
        throw;
    }
}

void TXMLTV::NewLine() {
    FOut += '\n';
    FOut.append(static_cast<std::size_t>(FIndent > 0 ? FIndent : 0), ' ');
}

void TXMLTV::FlushOut() {
    if (FOut.empty()) return;
    FStream->Write(FOut.data(), FOut.size());
    FOut.clear();
}

void TXMLTV::Pending() {
    if (FOut.size() >= OutChunk) FlushOut();
}

void TXMLTV::WriteText(std::string_view Text, int CharSet, bool Escape) {
    AppendXMLText(FOut, Text, CharSet, FCharSet, Escape);
}

void TXMLTV::OpenTagStart(TXMLTVTag Tag) {
    FTags.push_back(Tag);
    NewLine();
    FOut += '<';
    Markup(XMLTVTagNames[Tag]);
    FLastOpenDepth = static_cast<std::int32_t>(FTags.size());
    FIndent += 2;
}

void TXMLTV::OpenTag(TXMLTVTag Tag) {
    OpenTagStart(Tag);
    FOut += '>';
}

void TXMLTV::WriteAttribute(std::string_view Name, std::string_view Value, int CharSet) {
    // Name, equals sign and quotes are taken in the value's character set too, so an attribute
    // of a record with an unknown character set vanishes whole rather than being left empty.
    if (!XMLTVCharSetName(CharSet)) return;
    FOut += ' ';
    AppendXMLText(FOut, Name, CharSet, FCharSet, false);
    Markup("=\"");
    AppendXMLText(FOut, Value, CharSet, FCharSet, true);
    FOut += '"';
}

void TXMLTV::EndOpenTag() { FOut += '>'; }

void TXMLTV::EndEmptyTag() {
    if (FTags.empty()) throw EXMLTVException("Can't close tag, no tags are open");
    Markup("/>");
    FTags.pop_back();
    FIndent -= 2;
}

void TXMLTV::WriteEmptyTag(TXMLTVTag Tag) {
    NewLine();
    FOut += '<';
    Markup(XMLTVTagNames[Tag]);
    Markup("/>");
}

void TXMLTV::CloseTag() {
    if (FTags.empty()) throw EXMLTVException("Can't close tag, no tags are open");
    FIndent -= 2;
    if (static_cast<std::int32_t>(FTags.size()) != FLastOpenDepth) NewLine();  // children were opened inside
    const std::uint8_t tag = FTags.back();
    FTags.pop_back();
    Markup("</");
    Markup(XMLTVTagNames[tag]);
    FOut += '>';
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
    Pending();
}

void TXMLTV::WriteChannel(const TChannel& Channel) {
    if (FTags.empty()) throw EXMLTVException("Cannot add a channel tag, open a tv tag first");
    CloseTo(xtTV);
    const int E = Channel.Encoding;
    OpenTagStart(xtChannel);
    WriteAttribute("id", Channel.XML_ID, E);
    EndOpenTag();
    WriteTextElements(PartOf(Channel.Name), xtDisplayName, E);
    WriteIcons(PartOf(Channel.Icon), E);
    WritePlainElements(PartOf(Channel.URL), xtURL, E);
    CloseTag();
    Pending();
}

void TXMLTV::WriteTime(std::string_view Name, const SYSTEMTIME& Time, int E) {
    WriteAttribute(Name, FormatXMLTVTime(Time, FTimeZone), E);
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

    WriteTextElements(PartOf(P.Title), xtTitle, E);
    WriteTextElements(PartOf(P.Sub_Title), xtSubTitle, E);
    WriteTextElements(PartOf(P.Description), xtDesc, E);
    WriteCredits(PartOf(P.Credits), E);
    WritePlainElement(P.Date, xtDate, E);
    WriteTextElements(PartOf(P.Category), xtCategory, E);
    WriteTextElement(PartOf(P.Lang), xtLanguage, E);
    WriteTextElement(PartOf(P.OriginalLang), xtOrigLanguage, E);
    if (P.Length != 0) {
        OpenTagStart(xtLength);
        // Producers always set a unit with a length; should one be missing, the attribute is left
        // out rather than a name made up
        if (P.Units >= 1 && P.Units <= 3) WriteAttribute("units", UnitNames[P.Units - 1], E);
        EndOpenTag();
        char digits[16];
        const auto end = std::to_chars(digits, digits + sizeof digits, P.Length).ptr;
        WriteText(std::string_view(digits, std::size_t(end - digits)), FCharSet, false);
        CloseTag();
    }
    WriteIcons(PartOf(P.Icon), E);
    WritePlainElements(PartOf(P.URL), xtURL, E);
    WriteTextElements(PartOf(P.Country), xtCountry, E);
    if (const auto* episodes = PartOf(P.Episode))
        for (const TEpisode& episode : *episodes) WriteEpisode(episode, E);
    WriteVideo(PartOf(P.Video), E);
    WriteAudio(PartOf(P.Audio), E);
    WritePreviouslyShown(PartOf(P.PreviouslyShown), E);
    WriteTextElement(PartOf(P.Premiere), xtPremiere, E);
    WriteTextElement(PartOf(P.LastChance), xtLastChance, E);
    if (P.New) WriteEmptyTag(xtNew);
    if (const auto* subtitles = PartOf(P.Subtitles))
        for (const TXMLTVSubtitles& item : *subtitles) WriteSubtitles(item, E);
    if (const auto* ratings = PartOf(P.Rating))
        for (const TXMLTVRating& item : *ratings) WriteRating(item, E);
    WriteStarRating(PartOf(P.StarRating), E);
    CloseTag();
    Pending();
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
    const auto end = std::to_chars(digits, digits + sizeof digits, Value).ptr;
    WriteAttribute(Name, std::string_view(digits, std::size_t(end - digits)), E);
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
    WritePlainElements(PartOf(Credits->Director), xtDirector, E);
    if (const auto* cast = PartOf(Credits->Actor))
        for (const TCastMember& member : *cast) WriteActor(member, E);
    WritePlainElements(PartOf(Credits->Writer), xtWriter, E);
    WritePlainElements(PartOf(Credits->Adapter), xtAdapter, E);
    WritePlainElements(PartOf(Credits->Producer), xtProducer, E);
    WritePlainElements(PartOf(Credits->Presenter), xtPresenter, E);
    WritePlainElements(PartOf(Credits->Commentator), xtCommentator, E);
    WritePlainElements(PartOf(Credits->Guest), xtGuest, E);
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
    WriteTextElement(PartOf(Subtitles.Lang), xtLanguage, E);
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
    WriteIcons(PartOf(Rating.Icon), E);
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
    const int n = std::snprintf(text, sizeof text, "%d/%d", int(Rating->Number), int(Rating->OutOf));
    WritePlainElement(std::string_view(text, std::size_t(n)), xtValue, E);
    WriteIcons(PartOf(Rating->Icon), E);
    CloseTag();
}
