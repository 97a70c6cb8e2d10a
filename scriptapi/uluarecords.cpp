// Script API layer: the conversion between Lua tables and listing records (channels, programmes,
// times), both ways, with the lenient reading rules scripts rely on.
#include "scriptapi/uluarecords.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "scriptapi/luahelpers.h"
#include "scriptapi/scripthost.h"

namespace {

// ---- keys -------------------------------------------------------------------------------------

// Every key of the channel, programme and time tables. Their strings are made once per Lua state
// and kept in a table of the registry: a lookup with a string Lua already holds skips hashing and
// interning the key's text, which would otherwise be most of the cost of a conversion.
#define RECORD_KEYS(X)                                                                                        \
    X(ID) X(Channel) X(Start) X(Stop) X(PDCStart) X(VPSStart) X(ShowView) X(VideoPlus) X(Clump) X(Title)      \
    X(Sub_Title) X(Description) X(Credits) X(Date) X(Category) X(Lang) X(OriginalLang) X(Length) X(Icon)      \
    X(URL) X(Country) X(Episode) X(Video) X(Audio) X(PreviouslyShown) X(Premiere) X(LastChance) X(New)        \
    X(Subtitles) X(Rating) X(StarRating) X(Name) X(XML_ID) X(Value) X(Source) X(Width) X(Height) X(Year)      \
    X(Month) X(Day) X(Hour) X(Minute) X(Second) X(Director) X(Actor) X(Writer) X(Adapter) X(Producer)         \
    X(Presenter) X(Commentator) X(Guest) X(Character) X(Number) X(System) X(Units) X(Present) X(Colour)       \
    X(Aspect) X(Quality) X(Stereo) X(Type) X(OutOf)

enum TKey : int {
#define KEY_ENUM(name) k##name,
    RECORD_KEYS(KEY_ENUM)
#undef KEY_ENUM
    kKeyCount
};

const char* const kKeyNames[kKeyCount] = {
#define KEY_NAME(name) #name,
    RECORD_KEYS(KEY_NAME)
#undef KEY_NAME
};

// Pushes the key table of this Lua state (key k at index k + 1), making it on first use.
void PushKeyTable(lua_State* L) {
    static const char registryTag = 0;
    lua_pushlightuserdata(L, const_cast<char*>(&registryTag));
    lua_rawget(L, LUA_REGISTRYINDEX);
    if (lua_istable(L, -1)) return;
    lua_pop(L, 1);
    lua_createtable(L, kKeyCount, 0);
    for (int k = 0; k < kKeyCount; ++k) {
        lua_pushstring(L, kKeyNames[k]);
        lua_rawseti(L, -2, k + 1);
    }
    lua_pushlightuserdata(L, const_cast<char*>(&registryTag));
    lua_pushvalue(L, -2);
    lua_rawset(L, LUA_REGISTRYINDEX);
}

// The key a text names, or -1: a lookup in a small open-addressed table made on first use.
int KeyOfText(const char* text, size_t length) {
    constexpr size_t kLongest = 15;  // "PreviouslyShown"
    constexpr size_t kSlots = 256;   // four times the keys: probes stay short
    const auto hash = [](const char* t, size_t n) {
        return (n * 37 + static_cast<unsigned char>(t[0]) * 5 + static_cast<unsigned char>(t[n / 2]) * 3 +
                static_cast<unsigned char>(t[n - 1])) % kSlots;
    };
    struct TSlot {
        const char* Name = nullptr;
        size_t Length = 0;
        int Key = -1;
    };
    static const std::array<TSlot, kSlots> slots = [&] {
        std::array<TSlot, kSlots> made{};
        for (int k = 0; k < kKeyCount; ++k) {
            const size_t n = std::strlen(kKeyNames[k]);
            size_t h = hash(kKeyNames[k], n);
            while (made[h].Name) h = (h + 1) % kSlots;
            made[h] = TSlot{kKeyNames[k], n, k};
        }
        return made;
    }();
    if (length == 0 || length > kLongest) return -1;
    for (size_t h = hash(text, length); slots[h].Name; h = (h + 1) % kSlots) {
        if (slots[h].Length == length && std::memcmp(slots[h].Name, text, length) == 0) return slots[h].Key;
    }
    return -1;
}

// Stack slots a conversion may use at its deepest (a rating's icon list inside a rating array, with
// the key table, the keys and the values on the way down), with room to spare.
constexpr int kStackNeeded = 24;

// The error Lua itself raises for indexing a value that is not a table (strings included: a script
// written for the old string type could not index them either).
[[noreturn]] void RaiseIndexError(lua_State* L) {
    lua_pushfstring(L, "attempt to index a %s value", luaL_typename(L, -1));
    lua_error(L);
    std::abort();  // not reached: lua_error throws
}

// ---- reading ----------------------------------------------------------------------------------

// Reads the value on top of the stack. Every Read... pops the value it reads, whatever it is; the
// key table sits below that value for the reader's life and is popped by Finish.
class TReader {
public:
    TReader(lua_State* L, const TRecordLog& log) : L(L), FLog(log) {
        luaL_checkstack(L, kStackNeeded, "reading a record");
        PushKeyTable(L);
        lua_insert(L, -2);
        FKeys = lua_gettop(L) - 1;
    }
    void Finish() { lua_pop(L, 1); }

    // A time table without metatable has its six values fetched raw in a row (an absent or odd one
    // reads as 0, as lua_tonumber gives for it); one with a metatable is read through Field.
    SYSTEMTIME ReadTime() {
        SYSTEMTIME time{};
        if (!lua_istable(L, -1)) {
        } else if (lua_getmetatable(L, -1)) {
            lua_pop(L, 1);
            time.wYear = FieldWord(kYear);
            time.wMonth = FieldWord(kMonth);
            time.wDay = FieldWord(kDay);
            time.wHour = FieldWord(kHour);
            time.wMinute = FieldWord(kMinute);
            time.wSecond = FieldWord(kSecond);
        } else {
            const int table = lua_gettop(L);
            for (const TKey key : {kYear, kMonth, kDay, kHour, kMinute, kSecond}) {
                lua_rawgeti(L, FKeys, key + 1);
                lua_rawget(L, table);
            }
            time.wYear = WordAt(table + 1);
            time.wMonth = WordAt(table + 2);
            time.wDay = WordAt(table + 3);
            time.wHour = WordAt(table + 4);
            time.wMinute = WordAt(table + 5);
            time.wSecond = WordAt(table + 6);
            lua_settop(L, table);
        }
        lua_pop(L, 1);
        return time;
    }

    std::unique_ptr<TChannel> ReadChannel() {
        if (!lua_istable(L, -1)) {
            lua_pop(L, 1);
            return nullptr;
        }
        auto channel = std::make_unique<TChannel>();
        channel->ID = FieldText(kID);
        if (Field(kName)) channel->Name = ReadTextList();
        channel->XML_ID = FieldText(kXML_ID);
        if (Field(kIcon)) channel->Icon = ReadIconList();
        if (Field(kURL)) channel->URL = ReadPlainTextList();
        lua_pop(L, 1);
        return channel;
    }

    // Keys are read in this order, which decides the order of the log lines and which fault a
    // table with two of them reports.
    std::unique_ptr<TProgram> ReadProgram() {
        if (!lua_istable(L, -1)) {
            lua_pop(L, 1);
            return nullptr;
        }
        // Owned here until the caller takes it: a Lua error raised below frees it on the way out.
        auto p = std::make_unique<TProgram>();
        const int table = lua_gettop(L);
        TakeProgramKeys();
        p->ID = TextIf(Top(kID));
        p->Channel = TextIf(Top(kChannel));
        p->Start = TimeIf(Top(kStart));
        p->Stop = TimeIf(Top(kStop));
        p->PDCStart = TimeIf(Top(kPDCStart));
        p->VPSStart = TimeIf(Top(kVPSStart));
        p->ShowView = TextIf(Top(kShowView));
        p->VideoPlus = TextIf(Top(kVideoPlus));
        p->Clump = TextIf(Top(kClump));
        if (Top(kTitle)) p->Title = ReadTextList();
        if (Top(kSub_Title)) p->Sub_Title = ReadTextList();
        if (Top(kDescription)) p->Description = ReadTextList();
        if (Top(kCredits)) p->Credits = ReadCredits();
        p->Date = TextIf(Top(kDate));
        if (Top(kCategory)) p->Category = ReadTextList();
        if (Top(kLang)) p->Lang = ReadTextEntry();
        if (Top(kOriginalLang)) p->OriginalLang = ReadTextEntry();
        if (Top(kLength)) ReadLength(*p);
        if (Top(kIcon)) p->Icon = ReadIconList();
        if (Top(kURL)) p->URL = ReadPlainTextList();
        if (Top(kCountry)) p->Country = ReadTextList();
        if (Top(kEpisode)) p->Episode = ReadEpisodeList();
        if (Top(kVideo)) p->Video = ReadVideo();
        if (Top(kAudio)) p->Audio = ReadAudio();
        if (Top(kPreviouslyShown)) p->PreviouslyShown = ReadPreviouslyShown();
        if (Top(kPremiere)) p->Premiere = ReadTextEntry();
        if (Top(kLastChance)) p->LastChance = ReadTextEntry();
        p->New = TruthIf(Top(kNew), false);
        if (Top(kSubtitles)) p->Subtitles = ReadSubtitlesList();
        if (Top(kRating)) p->Rating = ReadRatingList();
        if (Top(kStarRating)) p->StarRating = ReadStarRating();
        lua_settop(L, table - 1);
        return p;
    }

private:
    // ---- small steps over the table on top

    // Pushes table[key]; nothing is pushed and the answer is false when it is nil.
    bool Field(TKey key) {
        lua_rawgeti(L, FKeys, key + 1);
        lua_gettable(L, -2);
        if (lua_isnil(L, -1)) {
            lua_pop(L, 1);
            return false;
        }
        return true;
    }

    // Reading a programme table without metatable, one lua_next pass leaves the values of the keys it
    // holds on the stack above it, and Top(key) pushes a copy: a programme names a few of the thirty
    // keys, and each lookup of an absent one would cost as much as one that is there. The values are
    // the ones rawget gives. A table with a metatable is read through Field, __index and all.
    void TakeProgramKeys() {
        FTopTable = lua_gettop(L);
        if (lua_getmetatable(L, FTopTable)) {
            lua_pop(L, 1);
            FTaken = false;
            return;
        }
        luaL_checkstack(L, 2 * kKeyCount + kStackNeeded, "reading a record");
        FTaken = true;
        FSlot.fill(0);
        lua_pushnil(L);
        while (lua_next(L, FTopTable)) {
            int key = -1;
            if (lua_type(L, -2) == LUA_TSTRING) {
                size_t length = 0;
                const char* text = lua_tolstring(L, -2, &length);
                key = KeyOfText(text, length);
            }
            if (key >= 0) {
                // the value stays, under a copy of the key that lua_next goes on from
                FSlot[static_cast<size_t>(key)] = lua_gettop(L);
                lua_pushvalue(L, -2);
            } else {
                lua_pop(L, 1);
            }
        }
    }

    // Pushes the programme table's value of key; nothing is pushed and the answer is false when it
    // is nil.
    [[gnu::always_inline]] bool Top(TKey key) {
        if (!FTaken) return Field(key);
        const int slot = FSlot[static_cast<size_t>(key)];
        if (slot == 0) return false;
        lua_pushvalue(L, slot);
        return true;
    }

    bool Has(TKey key) {
        if (!Field(key)) return false;
        lua_pop(L, 1);
        return true;
    }

    bool Element(int index) {
        lua_pushinteger(L, index);
        lua_gettable(L, -2);
        if (lua_isnil(L, -1)) {
            lua_pop(L, 1);
            return false;
        }
        return true;
    }

    // Calls item() with each array element on top, from 1 to the first nil; item pops the element.
    template <class F>
    void ForEachElement(F item) {
        for (int i = 1; Element(i); ++i) item();
    }

    // The shape of the repeated keys: one entry (a table that holds the entry's key `single`), an
    // array of entries, or a value that is no table, which `fromValue` reads (it may give none).
    // readEntry reads the value on top and pops it; an entry it gives as none is left out.
    template <class List, class ReadEntry, class FromValue>
    std::unique_ptr<List> ReadEntries(TKey single, ReadEntry readEntry, FromValue fromValue) {
        std::unique_ptr<List> list;
        if (lua_istable(L, -1)) {
            list = std::make_unique<List>();
            const auto add = [&](auto entry) {
                if (entry) list->Add(std::move(entry));
            };
            if (Has(single)) {
                lua_pushvalue(L, -1);
                add(readEntry());
            } else {
                ForEachElement([&] { add(readEntry()); });
            }
        } else {
            list = fromValue();
        }
        lua_pop(L, 1);
        return list;
    }

    template <class List, class Entry>
    static std::unique_ptr<List> OneEntry(std::unique_ptr<Entry> entry) {
        auto list = std::make_unique<List>();
        list->Add(std::move(entry));
        return list;
    }

    TRecordText PopText() {
        TRecordText text(TextView(L, -1));
        lua_pop(L, 1);
        return text;
    }

    int32_t PopInt() {
        const int32_t value = TruncToInt32(lua_tonumber(L, -1));
        lua_pop(L, 1);
        return value;
    }

    // The ...If steps read the value a lookup pushed, or give the default when it found none.
    TRecordText TextIf(bool found) { return found ? PopText() : TRecordText(); }

    bool TruthIf(bool found, bool absent) {
        if (!found) return absent;
        const bool truth = lua_toboolean(L, -1) != 0;
        lua_pop(L, 1);
        return truth;
    }

    SYSTEMTIME TimeIf(bool found) { return found ? ReadTime() : SYSTEMTIME{}; }

    TRecordText FieldText(TKey key) { return TextIf(Field(key)); }

    int32_t FieldInt(TKey key) { return Field(key) ? PopInt() : 0; }

    bool FieldTruth(TKey key, bool absent) { return TruthIf(Field(key), absent); }

    // Calendar fields keep the low 16 bits of the truncated number, as the record layout holds them.
    uint16_t WordAt(int index) { return static_cast<uint16_t>(TruncToInt64(lua_tonumber(L, index))); }

    uint16_t FieldWord(TKey key) {
        if (!Field(key)) return 0;
        const uint16_t value = WordAt(-1);
        lua_pop(L, 1);
        return value;
    }

    void Report(const char* format, int32_t value) {
        char line[80];
        std::snprintf(line, sizeof line, format, static_cast<int>(value));
        if (FLog) FLog(line);
        else if (TScriptHost* host = FindScriptHost(L)) host->Log(line, false);
    }

    // ---- shapes

    std::unique_ptr<TXMLTVString> ReadTextEntry() {
        auto entry = std::make_unique<TXMLTVString>();
        if (lua_istable(L, -1)) {
            entry->Value = FieldText(kValue);
            entry->Lang = FieldText(kLang);
        } else {
            entry->Value = TextView(L, -1);
        }
        lua_pop(L, 1);
        return entry;
    }

    std::unique_ptr<TXMLTVStringList> ReadTextList() {
        std::unique_ptr<TXMLTVStringList> list;
        const int type = lua_type(L, -1);
        if (type == LUA_TTABLE) {
            list = std::make_unique<TXMLTVStringList>();
            if (Field(kValue)) {  // one entry
                const TRecordText value = PopText();
                list->Add(std::make_unique<TXMLTVString>(value, FieldText(kLang)));
            } else {
                ForEachElement([&] { list->Add(ReadTextEntry()); });
            }
        } else {
            size_t length = 0;
            const char* bytes = type == LUA_TSTRING ? lua_tolstring(L, -1, &length) : nullptr;
            const std::string_view text = bytes ? std::string_view(bytes, length) : TextView(L, -1);
            if (!text.empty()) {
                list = std::make_unique<TXMLTVStringList>();
                list->Add(std::make_unique<TXMLTVString>(text, std::string_view()));
            }
        }
        lua_pop(L, 1);
        return list;
    }

    // A table here is always an array: a plain text has no table form.
    std::unique_ptr<TStringList> ReadPlainTextList() {
        std::unique_ptr<TStringList> list;
        if (lua_istable(L, -1)) {
            list = std::make_unique<TStringList>();
            ForEachElement([&] { list->Add(PopText()); });
        } else {
            std::string text = ReadText(L, -1);
            if (!text.empty()) {
                list = std::make_unique<TStringList>();
                list->Add(text);
            }
        }
        lua_pop(L, 1);
        return list;
    }

    // The value on top is a table.
    std::unique_ptr<TXMLTVIcon> ReadIcon() {
        auto icon = std::make_unique<TXMLTVIcon>();
        icon->Source = FieldText(kSource);
        icon->Width = FieldInt(kWidth);
        icon->Height = FieldInt(kHeight);
        lua_pop(L, 1);
        return icon;
    }

    // An icon must be a table: a text (a file name, say) gives none, in an array too.
    std::unique_ptr<TXMLTVIconList> ReadIconList() {
        return ReadEntries<TXMLTVIconList>(
            kSource,
            [&]() -> std::unique_ptr<TXMLTVIcon> {
                if (lua_istable(L, -1)) return ReadIcon();
                lua_pop(L, 1);
                return nullptr;
            },
            [] { return nullptr; });
    }

    std::unique_ptr<TCastMember> ReadCastMember() {
        auto member = std::make_unique<TCastMember>();
        if (lua_istable(L, -1)) {
            member->Actor = FieldText(kActor);
            member->Character = FieldText(kCharacter);
        } else {
            member->Actor = TextView(L, -1);
        }
        lua_pop(L, 1);
        return member;
    }

    // A text alone is one actor.
    std::unique_ptr<TCastList> ReadCastList() {
        const auto fromValue = [&]() -> std::unique_ptr<TCastList> {
            std::string name = ReadText(L, -1);
            if (name.empty()) return nullptr;
            auto member = std::make_unique<TCastMember>();
            member->Actor = std::move(name);
            return OneEntry<TCastList>(std::move(member));
        };
        return ReadEntries<TCastList>(kActor, [&] { return ReadCastMember(); }, fromValue);
    }

    std::unique_ptr<TXMLTVCredits> ReadCredits() {
        std::unique_ptr<TXMLTVCredits> credits;
        if (lua_istable(L, -1)) {
            credits = std::make_unique<TXMLTVCredits>();
            if (Field(kDirector)) credits->Director = ReadPlainTextList();
            if (Field(kActor)) credits->Actor = ReadCastList();
            if (Field(kWriter)) credits->Writer = ReadPlainTextList();
            if (Field(kAdapter)) credits->Adapter = ReadPlainTextList();
            if (Field(kProducer)) credits->Producer = ReadPlainTextList();
            if (Field(kPresenter)) credits->Presenter = ReadPlainTextList();
            if (Field(kCommentator)) credits->Commentator = ReadPlainTextList();
            if (Field(kGuest)) credits->Guest = ReadPlainTextList();
        }
        lua_pop(L, 1);
        return credits;
    }

    std::unique_ptr<TEpisode> ReadEpisode() {
        if (!lua_istable(L, -1)) RaiseIndexError(L);
        auto episode = std::make_unique<TEpisode>();
        episode->Number = FieldText(kNumber);
        episode->System = FieldText(kSystem);
        lua_pop(L, 1);
        return episode;
    }

    std::unique_ptr<TEpisodeList> ReadEpisodeList() {
        return ReadEntries<TEpisodeList>(kNumber, [&] { return ReadEpisode(); }, [] { return nullptr; });
    }

    void ReadLength(TProgram& program) {
        if (!lua_istable(L, -1)) RaiseIndexError(L);
        program.Length = FieldInt(kLength);
        int32_t units = 2;  // minutes, when the script names none
        if (Field(kUnits)) {
            units = PopInt();
            if (units < 1 || units > 3) {
                Report("Invalid program length units \"%d\"", units);
                units = 2;
            }
        }
        program.Units = units;
        lua_pop(L, 1);
    }

    std::unique_ptr<TXMLTVVideo> ReadVideo() {
        std::unique_ptr<TXMLTVVideo> video;
        if (lua_istable(L, -1)) {
            video = std::make_unique<TXMLTVVideo>();
            video->Present = FieldTruth(kPresent, true);
            video->Colour = FieldTruth(kColour, true);
            video->Aspect = FieldText(kAspect);
            video->Quality = FieldText(kQuality);
        }
        lua_pop(L, 1);
        return video;
    }

    std::unique_ptr<TXMLTVAudio> ReadAudio() {
        std::unique_ptr<TXMLTVAudio> audio;
        if (lua_istable(L, -1)) {
            audio = std::make_unique<TXMLTVAudio>();
            audio->Present = FieldTruth(kPresent, true);
            audio->Stereo = FieldText(kStereo);
        }
        lua_pop(L, 1);
        return audio;
    }

    std::unique_ptr<TXMLTVPreviouslyShown> ReadPreviouslyShown() {
        std::unique_ptr<TXMLTVPreviouslyShown> shown;
        if (lua_istable(L, -1)) {
            shown = std::make_unique<TXMLTVPreviouslyShown>();
            shown->Start = FieldText(kStart);
            shown->Channel = FieldText(kChannel);
        } else if (lua_toboolean(L, -1)) {
            shown = std::make_unique<TXMLTVPreviouslyShown>();
        }
        lua_pop(L, 1);
        return shown;
    }

    // A type given in an entry table other than 1 or 2 is reported and kept as it is.
    std::unique_ptr<TXMLTVSubtitles> ReadSubtitles() {
        auto subtitles = std::make_unique<TXMLTVSubtitles>();
        if (lua_istable(L, -1)) {
            if (Field(kType)) {
                subtitles->Type = PopInt();
                if (subtitles->Type != 1 && subtitles->Type != 2) Report("Invalid subtitle type \"%d\"", subtitles->Type);
            }
            if (Field(kLang)) subtitles->Lang = ReadTextEntry();
        } else {
            subtitles->Type = TruncToInt32(lua_tonumber(L, -1));
        }
        lua_pop(L, 1);
        return subtitles;
    }

    // A number alone other than 0 is one entry of that type.
    std::unique_ptr<TXMLTVSubtitlesList> ReadSubtitlesList() {
        const auto fromValue = [&]() -> std::unique_ptr<TXMLTVSubtitlesList> {
            const int32_t type = TruncToInt32(lua_tonumber(L, -1));
            if (type == 0) return nullptr;
            auto subtitles = std::make_unique<TXMLTVSubtitles>();
            subtitles->Type = type;
            return OneEntry<TXMLTVSubtitlesList>(std::move(subtitles));
        };
        return ReadEntries<TXMLTVSubtitlesList>(kType, [&] { return ReadSubtitles(); }, fromValue);
    }

    std::unique_ptr<TXMLTVRating> ReadRating() {
        auto rating = std::make_unique<TXMLTVRating>();
        if (lua_istable(L, -1)) {
            rating->Value = FieldText(kValue);
            rating->System = FieldText(kSystem);
            if (Field(kIcon)) rating->Icon = ReadIconList();
        } else {
            rating->Value = TextView(L, -1);
        }
        lua_pop(L, 1);
        return rating;
    }

    // A text alone is one rating's value.
    std::unique_ptr<TXMLTVRatingList> ReadRatingList() {
        const auto fromValue = [&]() -> std::unique_ptr<TXMLTVRatingList> {
            std::string value = ReadText(L, -1);
            if (value.empty()) return nullptr;
            auto rating = std::make_unique<TXMLTVRating>();
            rating->Value = std::move(value);
            return OneEntry<TXMLTVRatingList>(std::move(rating));
        };
        return ReadEntries<TXMLTVRatingList>(kValue, [&] { return ReadRating(); }, fromValue);
    }

    std::unique_ptr<TXMLTVStarRating> ReadStarRating() {
        std::unique_ptr<TXMLTVStarRating> stars;
        if (lua_istable(L, -1)) {
            stars = std::make_unique<TXMLTVStarRating>();
            stars->Number = FieldInt(kNumber);
            stars->OutOf = FieldInt(kOutOf);
            if (Field(kIcon)) stars->Icon = ReadIconList();
        }
        lua_pop(L, 1);
        return stars;
    }

    lua_State* L;
    const TRecordLog& FLog;
    int FKeys;  // stack index of the key table
    int FTopTable = 0;  // see TakeProgramKeys
    bool FTaken = false;
    std::array<int, kKeyCount> FSlot{};
};

// ---- writing ----------------------------------------------------------------------------------

// Builds tables on top of the stack above the key table, which Finish removes.
class TWriter {
public:
    explicit TWriter(lua_State* L) : L(L) {
        luaL_checkstack(L, kStackNeeded, "writing a record");
        PushKeyTable(L);
        FKeys = lua_gettop(L);
    }
    void Finish() { lua_remove(L, FKeys); }

    void PushTime(const SYSTEMTIME& time) {
        lua_createtable(L, 0, 6);
        SetNumber(kYear, time.wYear);
        SetNumber(kMonth, time.wMonth);
        SetNumber(kDay, time.wDay);
        SetNumber(kHour, time.wHour);
        SetNumber(kMinute, time.wMinute);
        SetNumber(kSecond, time.wSecond);
    }

    void PushChannel(const TChannel& channel) {
        lua_createtable(L, 0, 5);
        SetText(kID, channel.ID);
        SetTextList(kName, channel.Name);
        SetNonEmptyText(kXML_ID, channel.XML_ID);
        SetIconList(kIcon, channel.Icon);
        SetPlainTextList(kURL, channel.URL);
    }

    void PushProgram(const TProgram& p) {
        lua_createtable(L, 0, 16);
        SetNonEmptyText(kID, p.ID);
        SetText(kChannel, p.Channel);
        SetTime(kStart, p.Start);
        if (p.Stop.wYear != 0) SetTime(kStop, p.Stop);
        if (p.PDCStart.wYear != 0) SetTime(kPDCStart, p.PDCStart);
        if (p.VPSStart.wYear != 0) SetTime(kVPSStart, p.VPSStart);
        SetNonEmptyText(kShowView, p.ShowView);
        SetNonEmptyText(kVideoPlus, p.VideoPlus);
        SetNonEmptyText(kClump, p.Clump);
        SetTextList(kTitle, p.Title);
        SetTextList(kSub_Title, p.Sub_Title);
        SetTextList(kDescription, p.Description);
        if (p.Credits) {
            PushKey(kCredits);
            PushCredits(*p.Credits);
            lua_rawset(L, -3);
        }
        SetNonEmptyText(kDate, p.Date);
        if (p.Category) {  // an empty list still gives a table
            PushKey(kCategory);
            PushTextList(*p.Category);
            lua_rawset(L, -3);
        }
        SetTextEntry(kLang, p.Lang);
        SetTextEntry(kOriginalLang, p.OriginalLang);
        if (p.Length != 0) {
            PushKey(kLength);
            lua_createtable(L, 0, 2);
            SetNumber(kLength, p.Length);
            SetNumber(kUnits, p.Units);
            lua_rawset(L, -3);
        }
        SetIconList(kIcon, p.Icon);
        SetPlainTextList(kURL, p.URL);
        SetTextList(kCountry, p.Country);
        if (p.Episode) {  // an empty list still gives a table
            PushKey(kEpisode);
            PushList(*p.Episode, [this](const TEpisode& episode) {
                lua_createtable(L, 0, 2);
                SetText(kNumber, episode.Number);
                SetText(kSystem, episode.System);
            });
            lua_rawset(L, -3);
        }
        if (p.Video) {
            PushKey(kVideo);
            lua_createtable(L, 0, 4);
            SetBoolean(kPresent, p.Video->Present);
            SetBoolean(kColour, p.Video->Colour);
            SetNonEmptyText(kAspect, p.Video->Aspect);
            SetNonEmptyText(kQuality, p.Video->Quality);
            lua_rawset(L, -3);
        }
        if (p.Audio) {
            PushKey(kAudio);
            lua_createtable(L, 0, 2);
            SetBoolean(kPresent, p.Audio->Present);
            SetText(kStereo, p.Audio->Stereo);
            lua_rawset(L, -3);
        }
        if (p.PreviouslyShown) {
            PushKey(kPreviouslyShown);
            if (p.PreviouslyShown->Channel.empty() && p.PreviouslyShown->Start.empty()) {
                lua_pushboolean(L, 1);
            } else {
                lua_createtable(L, 0, 2);
                SetText(kChannel, p.PreviouslyShown->Channel);
                SetText(kStart, p.PreviouslyShown->Start);
            }
            lua_rawset(L, -3);
        }
        SetTextEntry(kPremiere, p.Premiere);
        SetTextEntry(kLastChance, p.LastChance);
        if (p.New) SetBoolean(kNew, true);
        if (HasEntries(p.Subtitles)) {
            PushKey(kSubtitles);
            PushSubtitlesList(*p.Subtitles);
            lua_rawset(L, -3);
        }
        if (HasEntries(p.Rating)) {
            PushKey(kRating);
            PushRatingList(*p.Rating);
            lua_rawset(L, -3);
        }
        if (p.StarRating) {
            PushKey(kStarRating);
            lua_createtable(L, 0, 3);
            SetNumber(kNumber, p.StarRating->Number);
            SetNumber(kOutOf, p.StarRating->OutOf);
            SetIconList(kIcon, p.StarRating->Icon);
            lua_rawset(L, -3);
        }
    }

private:
    template <class List>
    static bool HasEntries(const std::unique_ptr<List>& list) {
        return list && list->Count() > 0;
    }

    void PushKey(TKey key) { lua_rawgeti(L, FKeys, key + 1); }

    // Record texts (a TRecordText or a std::string) end at their first NUL byte.
    template <class Text>
    void PushRecordText(const Text& text) { lua_pushstring(L, text.c_str()); }

    // Each Set... stores one key of the new table on top; the table is fresh, so raw access will do.
    template <class Text>
    void SetText(TKey key, const Text& text) {
        PushKey(key);
        PushRecordText(text);
        lua_rawset(L, -3);
    }

    template <class Text>
    void SetNonEmptyText(TKey key, const Text& text) {
        if (!text.empty()) SetText(key, text);
    }

    void SetNumber(TKey key, lua_Number value) {
        PushKey(key);
        lua_pushnumber(L, value);
        lua_rawset(L, -3);
    }

    void SetBoolean(TKey key, bool value) {
        PushKey(key);
        lua_pushboolean(L, value);
        lua_rawset(L, -3);
    }

    void SetTime(TKey key, const SYSTEMTIME& time) {
        PushKey(key);
        PushTime(time);
        lua_rawset(L, -3);
    }

    // One entry is written as that entry, more as an array in list order.
    template <class List, class F>
    void PushList(const List& list, F pushItem) {
        if (list.Count() == 1) {
            pushItem(*list.FirstItem());
            return;
        }
        lua_createtable(L, list.Count(), 0);
        int index = 1;
        for (const auto& item : list) {
            pushItem(item);
            lua_rawseti(L, -2, index++);
        }
    }

    void PushTextEntry(const TXMLTVString& entry) {
        if (entry.Lang.empty()) {
            PushRecordText(entry.Value);
            return;
        }
        lua_createtable(L, 0, 2);
        SetText(kValue, entry.Value);
        SetText(kLang, entry.Lang);
    }

    void SetTextEntry(TKey key, const std::unique_ptr<TXMLTVString>& entry) {
        if (!entry) return;
        PushKey(key);
        PushTextEntry(*entry);
        lua_rawset(L, -3);
    }

    void PushTextList(const TXMLTVStringList& list) {
        PushList(list, [this](const TXMLTVString& e) { PushTextEntry(e); });
    }

    void SetTextList(TKey key, const std::unique_ptr<TXMLTVStringList>& list) {
        if (!HasEntries(list)) return;
        PushKey(key);
        PushTextList(*list);
        lua_rawset(L, -3);
    }

    void SetPlainTextList(TKey key, const std::unique_ptr<TStringList>& list) {
        if (!HasEntries(list)) return;
        PushKey(key);
        PushList(*list, [this](const std::string& s) { PushRecordText(s); });
        lua_rawset(L, -3);
    }

    void PushIconList(const TXMLTVIconList& list) {
        PushList(list, [this](const TXMLTVIcon& icon) {
            lua_createtable(L, 0, 3);
            SetText(kSource, icon.Source);
            if (icon.Width != 0) SetNumber(kWidth, icon.Width);
            if (icon.Height != 0) SetNumber(kHeight, icon.Height);
        });
    }

    void SetIconList(TKey key, const std::unique_ptr<TXMLTVIconList>& list) {
        if (!HasEntries(list)) return;
        PushKey(key);
        PushIconList(*list);
        lua_rawset(L, -3);
    }

    void PushCredits(const TXMLTVCredits& credits) {
        lua_newtable(L);
        SetPlainTextList(kDirector, credits.Director);
        if (HasEntries(credits.Actor)) {
            PushKey(kActor);
            PushList(*credits.Actor, [this](const TCastMember& member) {
                if (member.Character.empty()) {
                    PushRecordText(member.Actor);
                    return;
                }
                lua_createtable(L, 0, 2);
                SetText(kActor, member.Actor);
                SetText(kCharacter, member.Character);
            });
            lua_rawset(L, -3);
        }
        SetPlainTextList(kWriter, credits.Writer);
        SetPlainTextList(kAdapter, credits.Adapter);
        SetPlainTextList(kProducer, credits.Producer);
        SetPlainTextList(kPresenter, credits.Presenter);
        SetPlainTextList(kCommentator, credits.Commentator);
        SetPlainTextList(kGuest, credits.Guest);
    }

    void PushSubtitlesList(const TXMLTVSubtitlesList& list) {
        PushList(list, [this](const TXMLTVSubtitles& subtitles) {
            if (!subtitles.Lang) {
                lua_pushnumber(L, subtitles.Type);
                return;
            }
            lua_createtable(L, 0, 2);
            SetNumber(kType, subtitles.Type);
            PushKey(kLang);
            PushTextEntry(*subtitles.Lang);
            lua_rawset(L, -3);
        });
    }

    void PushRatingList(const TXMLTVRatingList& list) {
        PushList(list, [this](const TXMLTVRating& rating) {
            const bool icons = HasEntries(rating.Icon);
            if (rating.System.empty() && !icons) {
                PushRecordText(rating.Value);
                return;
            }
            lua_createtable(L, 0, 3);
            SetText(kValue, rating.Value);
            if (!rating.System.empty()) SetText(kSystem, rating.System);
            if (icons) {
                PushKey(kIcon);
                PushIconList(*rating.Icon);
                lua_rawset(L, -3);
            }
        });
    }

    lua_State* L;
    int FKeys;
};

}  // namespace

// ---- public -----------------------------------------------------------------------------------

SYSTEMTIME ReadTimeTable(lua_State* L) {
    const TRecordLog none;  // a time table has nothing to report
    TReader reader(L, none);
    const SYSTEMTIME time = reader.ReadTime();
    reader.Finish();
    return time;
}

std::unique_ptr<TChannel> ReadChannel(lua_State* L, const TRecordLog& log) {
    TReader reader(L, log);
    auto channel = reader.ReadChannel();
    reader.Finish();
    return channel;
}

std::unique_ptr<TProgram> ReadProgram(lua_State* L, const TRecordLog& log) {
    TReader reader(L, log);
    auto program = reader.ReadProgram();
    reader.Finish();
    return program;
}

void PushTimeTable(lua_State* L, const SYSTEMTIME& time) {
    TWriter writer(L);
    writer.PushTime(time);
    writer.Finish();
}

void PushChannel(lua_State* L, const TChannel& channel) {
    TWriter writer(L);
    writer.PushChannel(channel);
    writer.Finish();
}

void PushProgram(lua_State* L, const TProgram& program) {
    TWriter writer(L);
    writer.PushProgram(program);
    writer.Finish();
}
