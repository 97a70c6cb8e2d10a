// The XMLTV writer: turns the channel and programme records of a grab run into one XMLTV document.
//
// Every record string is decoded with its record's character set, escaped for XML and encoded in
// the output character set (xmlescape); programme times are printed in the output time zone. The
// layout is fixed: each element on its own line, indented by two per level, an element's end tag on
// the line of its text unless a child element was opened inside it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "listings/timezones.h"
#include "listings/ubufferedfs.h"
#include "listings/uxmltvrecs.h"


class EXMLTVException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Tag indices; the open-tag stack holds these and a closing tag takes its name from the index.
enum TXMLTVTag : std::uint8_t {
    xtTV, xtChannel, xtDisplayName, xtURL, xtProgramme, xtTitle, xtSubTitle, xtDesc, xtCredits,
    xtDirector, xtActor, xtWriter, xtAdapter, xtProducer, xtPresenter, xtCommentator, xtGuest,
    xtDate, xtCategory, xtLanguage, xtOrigLanguage, xtLength, xtIcon, xtEpisodeNum, xtVideo,
    xtColour, xtAspect, xtPreviouslyShown, xtPremiere, xtSubtitles, xtRating, xtStarRating,
    xtCountry, xtPresent, xtQuality, xtAudio, xtStereo, xtLastChance, xtNew, xtValue,
};
constexpr int XMLTVTagCount = 40;
extern const char* const XMLTVTagNames[XMLTVTagCount];

// "ISO-8859-1", "Windows-1252", "UTF-8" for 1 to 3; nullptr otherwise.
const char* XMLTVCharSetName(int charSet);

// A stream that collects the document in memory (tests, measurements): Data holds what the writer
// wrote out, the whole document once the writer is closed or gone.
class TStringSink : public TBufferedFS {
public:
    TStringSink() : TBufferedFS(std::string("(memory)")) {}
    std::string Data;

protected:
    void WriteOut(const char* data, std::size_t size) override { Data.append(data, size); }
};

class TXMLTV {
public:
    // Writes to FileName. The document goes to a new file beside it that replaces FileName only when
    // the document is complete and flushed to disk (fmReplace), so a failed run leaves the previous
    // listings in place, and a power cut the previous listings or the new ones, never a part. A
    // FileName ending in ".gz" gets the document gzip-compressed (fmReplaceGzip). A character set
    // outside 1 to 3 writes ISO-8859-1.
    TXMLTV(const std::string& FileName, const TTimeZone& TimeZone, int CharSet);
    // Writes to a stream the caller owns and keeps alive until the writer is gone; the writer writes
    // its buffer out when complete, and leaves closing it to the caller.
    TXMLTV(TBufferedFS& Stream, const TTimeZone& TimeZone, int CharSet);
    // Completes the document as Close does, unless an exception is unwinding, in which case the
    // output is abandoned (a file target keeps its previous contents). Errors are swallowed here:
    // call Close to learn of them.
    ~TXMLTV();

    TXMLTV(const TXMLTV&) = delete;
    TXMLTV& operator=(const TXMLTV&) = delete;

    void WriteTV(const std::string& Date, const std::string& SourceInfoURL, const std::string& SourceInfoName,
                 const std::string& SourceDataURL, const std::string& GeneratorName,
                 const std::string& GeneratorURL);
    void WriteChannel(const TChannel& Channel);
    void WriteProgramme(const TProgram& Programme);
    // Closes every open element and completes the output; raises when the last bytes cannot be
    // written or the file cannot be put in place. Later calls do nothing.
    void Close();

    // Building blocks of the element writers.
    void WriteText(std::string_view Text, int CharSet, bool Escape);
    void OpenTagStart(TXMLTVTag Tag);
    void OpenTag(TXMLTVTag Tag);
    void WriteAttribute(std::string_view Name, std::string_view Value, int CharSet);
    void EndOpenTag();
    void EndEmptyTag();
    void WriteEmptyTag(TXMLTVTag Tag);
    void CloseTag();

    int CharSet() const { return FCharSet; }
    int OpenTags() const { return static_cast<int>(FTags.size()); }

private:
    void Start(const TTimeZone& TimeZone, int CharSet);
    void Markup(std::string_view Text);
    void Markup(char C);
    void NewLine();
    void CloseTo(TXMLTVTag Tag);

    void WriteTextElement(const TXMLTVString* Item, TXMLTVTag Tag, int E);
    void WriteTextElements(const TXMLTVStringList* List, TXMLTVTag Tag, int E);
    void WritePlainElement(std::string_view Text, TXMLTVTag Tag, int E);
    void WritePlainElements(const TStringList* List, TXMLTVTag Tag, int E);
    void WriteNumberAttribute(std::string_view Name, long long Value, int E);
    void WriteIcon(const TXMLTVIcon& Icon, int E);
    void WriteIcons(const TXMLTVIconList* List, int E);
    void WriteActor(const TCastMember& Member, int E);
    void WriteCredits(const TXMLTVCredits* Credits, int E);
    void WriteNo(TXMLTVTag Tag);
    void WriteVideo(const TXMLTVVideo* Video, int E);
    void WriteAudio(const TXMLTVAudio* Audio, int E);
    void WritePreviouslyShown(const TXMLTVPreviouslyShown* Shown, int E);
    void WriteSubtitles(const TXMLTVSubtitles& Subtitles, int E);
    void WriteRating(const TXMLTVRating& Rating, int E);
    void WriteEpisode(const TEpisode& Episode, int E);
    void WriteStarRating(const TXMLTVStarRating* Rating, int E);
    void WriteTime(std::string_view Name, const SYSTEMTIME& Time, int E);

    std::unique_ptr<TBufferedFS> FOwnedStream;  // the file, when the writer made its own stream
    TBufferedFS* FStream = nullptr;             // whose buffer is the writer's only one
    std::string FScratch;                       // a text put together before it is written
    std::string FConv;                          // the codecs' output on its way into the buffer
    std::string FLarge;                         // a text too long to convert straight into the buffer
    std::string FOffset;
    struct TTimeText {  // a programme time as written, without its offset
        SYSTEMTIME Time;
        bool Valid = false;
        std::size_t Length = 0;
        char Text[32];
        std::string Offset;
    };
    std::array<TTimeText, 4> FTimeTexts;
    std::size_t FNextTimeText = 0;
    std::int32_t FIndent = 0;
    // The open tags, innermost last. Never deeper than four, so a small array serves better than
    // a linked stack with a node per element.
    std::vector<std::uint8_t> FTags;
    std::int32_t FLastOpenDepth = 0;
    std::uint8_t FCharSet = 1;
    TTimeZone FTimeZone;
    bool FClosed = false;
    int FUncaught = 0;  // exceptions in flight when the writer was made
};
