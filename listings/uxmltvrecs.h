// The listings model: one record per programme and per channel with the parts of a programme, the
// lists that hold them, the per-script setting records, and the comparisons that search and sort them.
//
// Texts are byte strings in the record's character set (its Encoding: 1 ISO-8859-1, 2 Windows-1252,
// 3 UTF-8); an empty string means absent. A programme's texts and those of its parts are TRecordText
// (half a std::string's size); a grab holds a dozen per programme. An optional part is a std::unique_ptr, null when absent.
// Every record owns its parts; every list here owns its items.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

#include "listings/linklists.h"
#include "listings/recordstore.h"
#include "listings/recordtext.h"
#include "platform/systime.h"

// ---- parts of a programme or channel

// A text with an optional language code.
class TXMLTVString {
public:
    TAVRIN_RECORD_STORE
    TRecordText Value;
    TRecordText Lang;
    TXMLTVString() = default;
    TXMLTVString(std::string_view value, std::string_view lang) : Value(value), Lang(lang) {}
};

class TXMLTVIcon {
public:
    TAVRIN_RECORD_STORE
    TRecordText Source;
    int32_t Width = 0;  // 0: not given
    int32_t Height = 0;
};

class TCastMember {
public:
    TAVRIN_RECORD_STORE
    TRecordText Actor;      // the actor's name
    TRecordText Character;  // the part played
};

class TXMLTVStringList : public TObjectList<TXMLTVString> {};
class TXMLTVIconList : public TObjectList<TXMLTVIcon> {};
class TCastList : public TObjectList<TCastMember> {};

class TXMLTVCredits {
public:
    TAVRIN_RECORD_STORE
    std::unique_ptr<TStringList> Director;
    std::unique_ptr<TCastList> Actor;
    std::unique_ptr<TStringList> Writer;
    std::unique_ptr<TStringList> Adapter;
    std::unique_ptr<TStringList> Producer;
    std::unique_ptr<TStringList> Presenter;
    std::unique_ptr<TStringList> Commentator;
    std::unique_ptr<TStringList> Guest;
};

class TXMLTVVideo {
public:
    TAVRIN_RECORD_STORE
    bool Present = true;
    bool Colour = true;
    TRecordText Aspect;
    TRecordText Quality;
};

class TXMLTVAudio {
public:
    TAVRIN_RECORD_STORE
    bool Present = true;
    TRecordText Stereo;
};

// Both texts as the producer gave them.
class TXMLTVPreviouslyShown {
public:
    TAVRIN_RECORD_STORE
    TRecordText Start;
    TRecordText Channel;
};

class TXMLTVSubtitles {
public:
    TAVRIN_RECORD_STORE
    std::unique_ptr<TXMLTVString> Lang;
    int32_t Type = 0;  // 1 teletext, 2 onscreen, 0 not given; other values are kept as the script gave them
};

class TXMLTVRating {
public:
    TAVRIN_RECORD_STORE
    TRecordText Value;
    std::unique_ptr<TXMLTVIconList> Icon;
    TRecordText System;
};

class TXMLTVStarRating {
public:
    TAVRIN_RECORD_STORE
    int32_t Number = 0;
    int32_t OutOf = 0;
    std::unique_ptr<TXMLTVIconList> Icon;
};

// An episode number in a numbering system (for example "xmltv_ns").
class TEpisode {
public:
    TAVRIN_RECORD_STORE
    TRecordText Number;
    TRecordText System;
    TEpisode() = default;
    TEpisode(std::string_view number, std::string_view system) : Number(number), System(system) {}
};

class TXMLTVSubtitlesList : public TObjectList<TXMLTVSubtitles> {};
class TXMLTVRatingList : public TObjectList<TXMLTVRating> {};
class TEpisodeList : public TObjectList<TEpisode> {};

// ---- programmes and channels

// One programme. Times are UTC; a time whose wYear is 0 is absent.
class TProgram {
public:
    TAVRIN_RECORD_STORE
    TRecordText ID;          // the grabber's identifier; a later programme with the same ID replaces this one
    TRecordText Channel;     // the grabber's channel ID
    TRecordText XMLChannel;  // the XMLTV channel id, filled when the run combines the grabbers' programmes
    SYSTEMTIME Start{};
    SYSTEMTIME Stop{};
    SYSTEMTIME PDCStart{};
    SYSTEMTIME VPSStart{};
    TRecordText ShowView;
    TRecordText VideoPlus;
    TRecordText Clump;  // written as clumpidx
    std::unique_ptr<TXMLTVStringList> Title;
    std::unique_ptr<TXMLTVStringList> Sub_Title;
    std::unique_ptr<TXMLTVStringList> Description;
    std::unique_ptr<TXMLTVCredits> Credits;
    TRecordText Date;
    std::unique_ptr<TXMLTVStringList> Category;
    std::unique_ptr<TXMLTVString> Lang;
    std::unique_ptr<TXMLTVString> OriginalLang;
    int32_t Length = 0;  // 0: no length
    int32_t Units = 0;   // of Length: 1 seconds, 2 minutes, 3 hours
    std::unique_ptr<TXMLTVIconList> Icon;
    std::unique_ptr<TStringList> URL;
    std::unique_ptr<TXMLTVStringList> Country;
    std::unique_ptr<TEpisodeList> Episode;
    std::unique_ptr<TXMLTVVideo> Video;
    std::unique_ptr<TXMLTVAudio> Audio;
    std::unique_ptr<TXMLTVPreviouslyShown> PreviouslyShown;
    std::unique_ptr<TXMLTVString> Premiere;
    std::unique_ptr<TXMLTVString> LastChance;
    bool New = false;
    uint8_t Encoding = 0;  // character set of every text, copied from the grabber
    std::unique_ptr<TXMLTVSubtitlesList> Subtitles;
    std::unique_ptr<TXMLTVRatingList> Rating;
    std::unique_ptr<TXMLTVStarRating> StarRating;
    ~TProgram();
};

class TChannel {
public:
    TAVRIN_RECORD_STORE
    std::string ID;  // the grabber's own identifier
    std::unique_ptr<TXMLTVStringList> Name;
    std::string XML_ID;  // the XMLTV channel id
    std::unique_ptr<TXMLTVIconList> Icon;
    std::unique_ptr<TStringList> URL;
    uint8_t Encoding = 0;
    virtual ~TChannel();
};

// ---- per-script settings

class TSetting {
public:
    std::string Key;      // key in the script's section of the settings file
    int32_t Type = 0;     // editor: 1 number, 2 text, 3 hidden text, 4 check box, 5 file, 6 folder, 7 check list
    std::string Default;  // default value as text
    // The editor and caption controls made by the script settings dialog; not owned, valid only while
    // that dialog exists. Opaque here so that the model needs no widget toolkit.
    void* Control = nullptr;
    void* LabelControl = nullptr;
    std::string Name;       // caption
    std::string ExtraData;  // extra text for the editor
    virtual ~TSetting();
};

// ---- comparisons (key first, list item second)

TCompareResult CompareProgramID(const TProgram& key, const TProgram& item);      // ASCII letters folded
TCompareResult CompareChannelID(const TChannel& key, const TChannel& item);      // byte-wise
TCompareResult CompareChannelXMLID(const TChannel& key, const TChannel& item);   // byte-wise
TCompareResult CompareSettingKey(const TSetting& key, const TSetting& item);     // byte-wise
TCompareResult MatchChannelName(const std::string& name, const TChannel& item);  // crEqual or crLess only

class TChanList;

// The run's programme order: the letters of the order text (A start, O stop, C the position of the
// programme's channel in the channel list) in turn; crEqual for every pair unless the text has
// exactly three characters. A channel's position is that of the first channel with its XMLTV id,
// counted from 1, or the last channel's when none has it (0 without a channel list). The positions
// are taken when the order is made.
class TProgramOrder {
public:
    TProgramOrder() = default;  // every pair equal
    TProgramOrder(std::string order, const TChanList* channels);
    TCompareResult Compare(const TProgram& a, const TProgram& b) const;
    // A number per programme whose order is this order, for sorting many: the letters' fields one
    // after the other, 42 bits per time and 32 per channel position. False when the programme's
    // times do not fit (times as real times have them fit) or the order lacks its three letters.
    using TKey = unsigned __int128;
    bool KeyOf(const TProgram& p, TKey& key) const;

private:
    int ChannelPosition(std::string_view xmlChannel) const;

    std::string FOrder;
    struct TTextHash {  // looks up texts of any kind without making a std::string
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>()(s); }
    };
    std::unordered_map<std::string, int, TTextHash, std::equal_to<>> FPositions;  // the first channel with each id
    int FLastPosition = 0;
};

// ---- functions on records

std::string ValueOf(const TXMLTVString* s);             // empty when absent
std::string FirstValue(const TXMLTVStringList* list);   // the first item's value; empty when absent or empty
std::string DisplayNameOf(const TChannel& channel);     // the first name, or the ID when there is none
inline std::string ValueOf(const std::unique_ptr<TXMLTVString>& s) { return ValueOf(s.get()); }
inline std::string FirstValue(const std::unique_ptr<TXMLTVStringList>& list) { return FirstValue(list.get()); }

// ---- lists

// Programmes of one grabber, or the combined programmes of a run. Starts sorted by CompareProgramID.
class TProgList : public TLinkList<TProgram> {
public:
    // A list that is only filled, sorted and walked (the run's combined programmes) needs no rank
    // index (unindexed): positions and searches then walk the chain.
    explicit TProgList(bool indexed = true);
    ~TProgList() override;
    // Takes the programme. One without ID is appended; one with an ID replaces a programme with the
    // same ID and is then added with Add (sorted insertion while the list is in ID order). While the
    // list is in ID order, programmes with IDs wait until the list is next used, which cannot tell.
    void AddProgram(TProgram* program);
    void AddProgram(std::unique_ptr<TProgram> program);
    // The programme whose ID matches case-insensitively, made current; none when there is none. Binary
    // search while the list is sorted by CompareProgramID, linear otherwise.
    TProgram* FindID(std::string_view id);
    // Sorts in the TProgramOrder of order and channels, which the list keeps as its order.
    void SortPrograms(const std::string& order, bool reverse, const TChanList* channels);

private:
    // Programmes with IDs handed over while the list is in ID order wait here, in the order they came,
    // until something looks at the list; then they go in together (see SettlePending).
    // Digest and Next hold the ID's first sixteen bytes folded, so that ordering waiting programmes
    // seldom needs their records, which lie all over memory by then.
    struct TPending {
        TProgram* Program;
        uint64_t Digest;
        uint64_t Next;
    };
    static TPending PendingOf(TProgram* program);
    static TCompareResult ComparePending(const TPending& a, const TPending& b);
    void AddNow(TProgram* program);
    void SettlePending() override;
    bool MergePending(const std::vector<TPending>& pending, bool inOrder);
    std::vector<TPending> FPending;
    bool FPendingInOrder = true;  // each waiting programme's ID above the one before
    TProgram FKey;  // search key, reused so that looking up an ID allocates nothing
    TProgramOrder FOrder;  // of the last SortPrograms
};

class TChanList : public TLinkList<TChannel> {
public:
    // A sorted list is kept in CompareChannelID order by Add.
    explicit TChanList(bool sorted = false);
    // Linear search from the first channel, exact ID; the found channel is current.
    bool FindID(std::string_view id);
    // Binary search (for a sorted list); crEqual means found and current.
    TCompareResult SearchID(std::string_view id);
    // The ID of the first channel whose display name equals name byte for byte (made current), else "".
    std::string FindIDByName(const std::string& name);
    // Moves the current channel of other into this list (Add when sorted, Append otherwise) and removes
    // it from other without freeing it. Nothing happens when other is empty.
    void TakeCurrentFrom(TChanList& other);

private:
    TChannel FKey;
};

class TSettingList : public TObjectList<TSetting> {
public:
    // Takes the setting: replaces (and frees) the setting with the same Key in place, or appends it.
    void SetSetting(TSetting* setting);
    void SetSetting(std::unique_ptr<TSetting> setting);
    TSetting* Items(int index) { return GetItem(index); }  // 1-based
};
