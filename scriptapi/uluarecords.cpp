#include "scriptapi/uluarecords.h"

#include <cstdio>
#include <cstdlib>

#include "engine/uluagrabbers.h"
#include "scriptapi/luahelpers.h"

namespace {

// ---- reading: small steps over the table on top ------------------------------------------------

// Pushes table[name] of the table on top; nothing is pushed and the answer is false when it is nil.
bool Field(lua_State* L, const char* name) {
    lua_getfield(L, -1, name);
    if (lua_isnil(L, -1)) {
        lua_pop(L, 1);
        return false;
    }
    return true;
}

bool Has(lua_State* L, const char* name) {
    if (!Field(L, name)) return false;
    lua_pop(L, 1);
    return true;
}

bool Element(lua_State* L, int index) {
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
void ForEachElement(lua_State* L, F item) {
    for (int i = 1; Element(L, i); ++i) item();
}

std::string PopText(lua_State* L) {
    std::string text = ReadText(L, -1);
    lua_pop(L, 1);
    return text;
}

int32_t PopInt(lua_State* L) {
    const int32_t value = TruncToInt32(lua_tonumber(L, -1));
    lua_pop(L, 1);
    return value;
}

std::string FieldText(lua_State* L, const char* name) { return Field(L, name) ? PopText(L) : std::string(); }

int32_t FieldInt(lua_State* L, const char* name) { return Field(L, name) ? PopInt(L) : 0; }

bool FieldTruth(lua_State* L, const char* name, bool absent) {
    if (!Field(L, name)) return absent;
    const bool truth = lua_toboolean(L, -1) != 0;
    lua_pop(L, 1);
    return truth;
}

// Calendar fields keep the low 16 bits of the truncated number, as the record layout holds them.
uint16_t FieldWord(lua_State* L, const char* name) {
    if (!Field(L, name)) return 0;
    const uint16_t value = static_cast<uint16_t>(TruncToInt64(lua_tonumber(L, -1)));
    lua_pop(L, 1);
    return value;
}

// The error Lua itself raises for indexing a value that is not a table (strings included: a script
// written for the old string type could not index them either).
[[noreturn]] void RaiseIndexError(lua_State* L) {
    lua_pushfstring(L, "attempt to index a %s value", luaL_typename(L, -1));
    lua_error(L);
    std::abort();  // not reached: lua_error throws
}

void Report(const TRecordLog& log, const char* format, int32_t value) {
    char line[80];
    std::snprintf(line, sizeof line, format, static_cast<int>(value));
    if (log) log(line);
    else if (LuaGrabbers) LuaGrabbers->Log(line, false);
}

// ---- reading: shapes --------------------------------------------------------------------------

std::unique_ptr<TXMLTVString> ReadTextEntry(lua_State* L) {
    auto entry = std::make_unique<TXMLTVString>();
    if (lua_istable(L, -1)) {
        entry->Value = FieldText(L, "Value");
        entry->Lang = FieldText(L, "Lang");
    } else {
        entry->Value = ReadText(L, -1);
    }
    lua_pop(L, 1);
    return entry;
}

std::unique_ptr<TXMLTVStringList> ReadTextList(lua_State* L) {
    std::unique_ptr<TXMLTVStringList> list;
    if (lua_istable(L, -1)) {
        list = std::make_unique<TXMLTVStringList>();
        if (Field(L, "Value")) {  // one entry
            std::string value = PopText(L);
            list->Add(std::make_unique<TXMLTVString>(std::move(value), FieldText(L, "Lang")));
        } else {
            ForEachElement(L, [&] { list->Add(ReadTextEntry(L)); });
        }
    } else {
        std::string text = ReadText(L, -1);
        if (!text.empty()) {
            list = std::make_unique<TXMLTVStringList>();
            list->Add(std::make_unique<TXMLTVString>(std::move(text), std::string()));
        }
    }
    lua_pop(L, 1);
    return list;
}

// A table here is always an array: a plain text has no table form.
std::unique_ptr<TStringList> ReadPlainTextList(lua_State* L) {
    std::unique_ptr<TStringList> list;
    if (lua_istable(L, -1)) {
        list = std::make_unique<TStringList>();
        ForEachElement(L, [&] { list->Add(PopText(L)); });
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
std::unique_ptr<TXMLTVIcon> ReadIcon(lua_State* L) {
    auto icon = std::make_unique<TXMLTVIcon>();
    icon->Source = FieldText(L, "Source");
    icon->Width = FieldInt(L, "Width");
    icon->Height = FieldInt(L, "Height");
    lua_pop(L, 1);
    return icon;
}

// An icon must be a table: a text (a file name, say) gives none.
std::unique_ptr<TXMLTVIconList> ReadIconList(lua_State* L) {
    std::unique_ptr<TXMLTVIconList> list;
    if (lua_istable(L, -1)) {
        list = std::make_unique<TXMLTVIconList>();
        if (Has(L, "Source")) {
            lua_pushvalue(L, -1);
            list->Add(ReadIcon(L));
        } else {
            ForEachElement(L, [&] {
                if (lua_istable(L, -1)) list->Add(ReadIcon(L));
                else lua_pop(L, 1);
            });
        }
    }
    lua_pop(L, 1);
    return list;
}

std::unique_ptr<TCastMember> ReadCastMember(lua_State* L) {
    auto member = std::make_unique<TCastMember>();
    if (lua_istable(L, -1)) {
        member->Actor = FieldText(L, "Actor");
        member->Character = FieldText(L, "Character");
    } else {
        member->Actor = ReadText(L, -1);
    }
    lua_pop(L, 1);
    return member;
}

std::unique_ptr<TCastList> ReadCastList(lua_State* L) {
    std::unique_ptr<TCastList> list;
    if (lua_istable(L, -1)) {
        list = std::make_unique<TCastList>();
        if (Has(L, "Actor")) {
            lua_pushvalue(L, -1);
            list->Add(ReadCastMember(L));
        } else {
            ForEachElement(L, [&] { list->Add(ReadCastMember(L)); });
        }
    } else {
        std::string name = ReadText(L, -1);
        if (!name.empty()) {
            list = std::make_unique<TCastList>();
            auto member = std::make_unique<TCastMember>();
            member->Actor = std::move(name);
            list->Add(std::move(member));
        }
    }
    lua_pop(L, 1);
    return list;
}

std::unique_ptr<TXMLTVCredits> ReadCredits(lua_State* L) {
    std::unique_ptr<TXMLTVCredits> credits;
    if (lua_istable(L, -1)) {
        credits = std::make_unique<TXMLTVCredits>();
        if (Field(L, "Director")) credits->Director = ReadPlainTextList(L);
        if (Field(L, "Actor")) credits->Actor = ReadCastList(L);
        if (Field(L, "Writer")) credits->Writer = ReadPlainTextList(L);
        if (Field(L, "Adapter")) credits->Adapter = ReadPlainTextList(L);
        if (Field(L, "Producer")) credits->Producer = ReadPlainTextList(L);
        if (Field(L, "Presenter")) credits->Presenter = ReadPlainTextList(L);
        if (Field(L, "Commentator")) credits->Commentator = ReadPlainTextList(L);
        if (Field(L, "Guest")) credits->Guest = ReadPlainTextList(L);
    }
    lua_pop(L, 1);
    return credits;
}

std::unique_ptr<TEpisode> ReadEpisode(lua_State* L) {
    if (!lua_istable(L, -1)) RaiseIndexError(L);
    auto episode = std::make_unique<TEpisode>();
    episode->Number = FieldText(L, "Number");
    episode->System = FieldText(L, "System");
    lua_pop(L, 1);
    return episode;
}

std::unique_ptr<TEpisodeList> ReadEpisodeList(lua_State* L) {
    std::unique_ptr<TEpisodeList> list;
    if (lua_istable(L, -1)) {
        list = std::make_unique<TEpisodeList>();
        if (Has(L, "Number")) {
            lua_pushvalue(L, -1);
            list->Add(ReadEpisode(L));
        } else {
            ForEachElement(L, [&] { list->Add(ReadEpisode(L)); });
        }
    }
    lua_pop(L, 1);
    return list;
}

void ReadLength(lua_State* L, TProgram& program, const TRecordLog& log) {
    if (!lua_istable(L, -1)) RaiseIndexError(L);
    program.Length = FieldInt(L, "Length");
    int32_t units = 2;  // minutes, when the script names none
    if (Field(L, "Units")) {
        units = PopInt(L);
        if (units < 1 || units > 3) {
            Report(log, "Invalid program length units \"%d\"", units);
            units = 2;
        }
    }
    program.Units = units;
    lua_pop(L, 1);
}

std::unique_ptr<TXMLTVVideo> ReadVideo(lua_State* L) {
    std::unique_ptr<TXMLTVVideo> video;
    if (lua_istable(L, -1)) {
        video = std::make_unique<TXMLTVVideo>();
        video->Present = FieldTruth(L, "Present", true);
        video->Colour = FieldTruth(L, "Colour", true);
        video->Aspect = FieldText(L, "Aspect");
        video->Quality = FieldText(L, "Quality");
    }
    lua_pop(L, 1);
    return video;
}

std::unique_ptr<TXMLTVAudio> ReadAudio(lua_State* L) {
    std::unique_ptr<TXMLTVAudio> audio;
    if (lua_istable(L, -1)) {
        audio = std::make_unique<TXMLTVAudio>();
        audio->Present = FieldTruth(L, "Present", true);
        audio->Stereo = FieldText(L, "Stereo");
    }
    lua_pop(L, 1);
    return audio;
}

std::unique_ptr<TXMLTVPreviouslyShown> ReadPreviouslyShown(lua_State* L) {
    std::unique_ptr<TXMLTVPreviouslyShown> shown;
    if (lua_istable(L, -1)) {
        shown = std::make_unique<TXMLTVPreviouslyShown>();
        shown->Start = FieldText(L, "Start");
        shown->Channel = FieldText(L, "Channel");
    } else if (lua_toboolean(L, -1)) {
        shown = std::make_unique<TXMLTVPreviouslyShown>();
    }
    lua_pop(L, 1);
    return shown;
}

// A type given in an entry table other than 1 or 2 is reported and kept as it is.
std::unique_ptr<TXMLTVSubtitles> ReadSubtitles(lua_State* L, const TRecordLog& log) {
    auto subtitles = std::make_unique<TXMLTVSubtitles>();
    if (lua_istable(L, -1)) {
        if (Field(L, "Type")) {
            subtitles->Type = PopInt(L);
            if (subtitles->Type != 1 && subtitles->Type != 2)
                Report(log, "Invalid subtitle type \"%d\"", subtitles->Type);
        }
        if (Field(L, "Lang")) subtitles->Lang = ReadTextEntry(L);
    } else {
        subtitles->Type = TruncToInt32(lua_tonumber(L, -1));
    }
    lua_pop(L, 1);
    return subtitles;
}

std::unique_ptr<TXMLTVSubtitlesList> ReadSubtitlesList(lua_State* L, const TRecordLog& log) {
    std::unique_ptr<TXMLTVSubtitlesList> list;
    if (lua_istable(L, -1)) {
        list = std::make_unique<TXMLTVSubtitlesList>();
        if (Has(L, "Type")) {
            lua_pushvalue(L, -1);
            list->Add(ReadSubtitles(L, log));
        } else {
            ForEachElement(L, [&] { list->Add(ReadSubtitles(L, log)); });
        }
    } else {
        const int32_t type = TruncToInt32(lua_tonumber(L, -1));
        if (type != 0) {
            list = std::make_unique<TXMLTVSubtitlesList>();
            auto subtitles = std::make_unique<TXMLTVSubtitles>();
            subtitles->Type = type;
            list->Add(std::move(subtitles));
        }
    }
    lua_pop(L, 1);
    return list;
}

std::unique_ptr<TXMLTVRating> ReadRating(lua_State* L) {
    auto rating = std::make_unique<TXMLTVRating>();
    if (lua_istable(L, -1)) {
        rating->Value = FieldText(L, "Value");
        rating->System = FieldText(L, "System");
        if (Field(L, "Icon")) rating->Icon = ReadIconList(L);
    } else {
        rating->Value = ReadText(L, -1);
    }
    lua_pop(L, 1);
    return rating;
}

std::unique_ptr<TXMLTVRatingList> ReadRatingList(lua_State* L) {
    std::unique_ptr<TXMLTVRatingList> list;
    if (lua_istable(L, -1)) {
        list = std::make_unique<TXMLTVRatingList>();
        if (Has(L, "Value")) {
            lua_pushvalue(L, -1);
            list->Add(ReadRating(L));
        } else {
            ForEachElement(L, [&] { list->Add(ReadRating(L)); });
        }
    } else {
        std::string value = ReadText(L, -1);
        if (!value.empty()) {
            list = std::make_unique<TXMLTVRatingList>();
            auto rating = std::make_unique<TXMLTVRating>();
            rating->Value = std::move(value);
            list->Add(std::move(rating));
        }
    }
    lua_pop(L, 1);
    return list;
}

std::unique_ptr<TXMLTVStarRating> ReadStarRating(lua_State* L) {
    std::unique_ptr<TXMLTVStarRating> stars;
    if (lua_istable(L, -1)) {
        stars = std::make_unique<TXMLTVStarRating>();
        stars->Number = FieldInt(L, "Number");
        stars->OutOf = FieldInt(L, "OutOf");
        if (Field(L, "Icon")) stars->Icon = ReadIconList(L);
    }
    lua_pop(L, 1);
    return stars;
}

std::unique_ptr<TXMLTVString> FieldTextEntry(lua_State* L, const char* name) {
    return Field(L, name) ? ReadTextEntry(L) : nullptr;
}

std::unique_ptr<TXMLTVStringList> FieldTextList(lua_State* L, const char* name) {
    return Field(L, name) ? ReadTextList(L) : nullptr;
}

std::unique_ptr<TXMLTVIconList> FieldIconList(lua_State* L, const char* name) {
    return Field(L, name) ? ReadIconList(L) : nullptr;
}

std::unique_ptr<TStringList> FieldPlainTextList(lua_State* L, const char* name) {
    return Field(L, name) ? ReadPlainTextList(L) : nullptr;
}

SYSTEMTIME FieldTime(lua_State* L, const char* name) { return Field(L, name) ? ReadTimeTable(L) : SYSTEMTIME{}; }

// ---- writing ----------------------------------------------------------------------------------

// Record texts end at their first NUL byte.
void PushRecordText(lua_State* L, const std::string& text) { lua_pushstring(L, text.c_str()); }

void SetText(lua_State* L, const char* key, const std::string& text) {
    PushRecordText(L, text);
    lua_setfield(L, -2, key);
}

void SetNumber(lua_State* L, const char* key, lua_Number value) {
    lua_pushnumber(L, value);
    lua_setfield(L, -2, key);
}

void SetBoolean(lua_State* L, const char* key, bool value) {
    lua_pushboolean(L, value);
    lua_setfield(L, -2, key);
}

template <class List>
bool HasEntries(const std::unique_ptr<List>& list) {
    return list && list->Count() > 0;
}

// One entry is written as that entry, more as an array in list order.
template <class List, class F>
void PushList(lua_State* L, const List& list, F pushItem) {
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

void PushTextEntry(lua_State* L, const TXMLTVString& entry) {
    if (entry.Lang.empty()) {
        PushRecordText(L, entry.Value);
        return;
    }
    lua_createtable(L, 0, 2);
    SetText(L, "Value", entry.Value);
    SetText(L, "Lang", entry.Lang);
}

void PushTextList(lua_State* L, const TXMLTVStringList& list) {
    PushList(L, list, [L](const TXMLTVString& e) { PushTextEntry(L, e); });
}

void PushPlainTextList(lua_State* L, const TStringList& list) {
    PushList(L, list, [L](const std::string& s) { PushRecordText(L, s); });
}

void PushIcon(lua_State* L, const TXMLTVIcon& icon) {
    lua_createtable(L, 0, 3);
    SetText(L, "Source", icon.Source);
    if (icon.Width != 0) SetNumber(L, "Width", icon.Width);
    if (icon.Height != 0) SetNumber(L, "Height", icon.Height);
}

void PushIconList(lua_State* L, const TXMLTVIconList& list) {
    PushList(L, list, [L](const TXMLTVIcon& icon) { PushIcon(L, icon); });
}

void PushCastList(lua_State* L, const TCastList& list) {
    PushList(L, list, [L](const TCastMember& member) {
        if (member.Character.empty()) {
            PushRecordText(L, member.Actor);
            return;
        }
        lua_createtable(L, 0, 2);
        SetText(L, "Actor", member.Actor);
        SetText(L, "Character", member.Character);
    });
}

void SetPlainTextList(lua_State* L, const char* key, const std::unique_ptr<TStringList>& list) {
    if (!HasEntries(list)) return;
    PushPlainTextList(L, *list);
    lua_setfield(L, -2, key);
}

void PushCredits(lua_State* L, const TXMLTVCredits& credits) {
    lua_newtable(L);
    SetPlainTextList(L, "Director", credits.Director);
    if (HasEntries(credits.Actor)) {
        PushCastList(L, *credits.Actor);
        lua_setfield(L, -2, "Actor");
    }
    SetPlainTextList(L, "Writer", credits.Writer);
    SetPlainTextList(L, "Adapter", credits.Adapter);
    SetPlainTextList(L, "Producer", credits.Producer);
    SetPlainTextList(L, "Presenter", credits.Presenter);
    SetPlainTextList(L, "Commentator", credits.Commentator);
    SetPlainTextList(L, "Guest", credits.Guest);
}

void PushEpisodeList(lua_State* L, const TEpisodeList& list) {
    PushList(L, list, [L](const TEpisode& episode) {
        lua_createtable(L, 0, 2);
        SetText(L, "Number", episode.Number);
        SetText(L, "System", episode.System);
    });
}

void PushSubtitlesList(lua_State* L, const TXMLTVSubtitlesList& list) {
    PushList(L, list, [L](const TXMLTVSubtitles& subtitles) {
        if (!subtitles.Lang) {
            lua_pushnumber(L, subtitles.Type);
            return;
        }
        lua_createtable(L, 0, 2);
        SetNumber(L, "Type", subtitles.Type);
        PushTextEntry(L, *subtitles.Lang);
        lua_setfield(L, -2, "Lang");
    });
}

void PushRatingList(lua_State* L, const TXMLTVRatingList& list) {
    PushList(L, list, [L](const TXMLTVRating& rating) {
        const bool icons = HasEntries(rating.Icon);
        if (rating.System.empty() && !icons) {
            PushRecordText(L, rating.Value);
            return;
        }
        lua_createtable(L, 0, 3);
        SetText(L, "Value", rating.Value);
        if (!rating.System.empty()) SetText(L, "System", rating.System);
        if (icons) {
            PushIconList(L, *rating.Icon);
            lua_setfield(L, -2, "Icon");
        }
    });
}

void SetTime(lua_State* L, const char* key, const SYSTEMTIME& time) {
    PushTimeTable(L, time);
    lua_setfield(L, -2, key);
}

void SetTextEntry(lua_State* L, const char* key, const std::unique_ptr<TXMLTVString>& entry) {
    if (!entry) return;
    PushTextEntry(L, *entry);
    lua_setfield(L, -2, key);
}

void SetTextList(lua_State* L, const char* key, const std::unique_ptr<TXMLTVStringList>& list) {
    if (!HasEntries(list)) return;
    PushTextList(L, *list);
    lua_setfield(L, -2, key);
}

void SetIconList(lua_State* L, const char* key, const std::unique_ptr<TXMLTVIconList>& list) {
    if (!HasEntries(list)) return;
    PushIconList(L, *list);
    lua_setfield(L, -2, key);
}

void SetNonEmptyText(lua_State* L, const char* key, const std::string& text) {
    if (!text.empty()) SetText(L, key, text);
}

}  // namespace

// ---- public -----------------------------------------------------------------------------------

SYSTEMTIME ReadTimeTable(lua_State* L) {
    SYSTEMTIME time{};
    if (lua_istable(L, -1)) {
        time.wYear = FieldWord(L, "Year");
        time.wMonth = FieldWord(L, "Month");
        time.wDay = FieldWord(L, "Day");
        time.wHour = FieldWord(L, "Hour");
        time.wMinute = FieldWord(L, "Minute");
        time.wSecond = FieldWord(L, "Second");
    }
    lua_pop(L, 1);
    return time;
}

void PushTimeTable(lua_State* L, const SYSTEMTIME& time) {
    lua_createtable(L, 0, 6);
    SetNumber(L, "Year", time.wYear);
    SetNumber(L, "Month", time.wMonth);
    SetNumber(L, "Day", time.wDay);
    SetNumber(L, "Hour", time.wHour);
    SetNumber(L, "Minute", time.wMinute);
    SetNumber(L, "Second", time.wSecond);
}

std::unique_ptr<TChannel> ReadChannel(lua_State* L, const TRecordLog&) {
    if (!lua_istable(L, -1)) {
        lua_pop(L, 1);
        return nullptr;
    }
    auto channel = std::make_unique<TChannel>();
    channel->ID = FieldText(L, "ID");
    channel->Name = FieldTextList(L, "Name");
    channel->XML_ID = FieldText(L, "XML_ID");
    channel->Icon = FieldIconList(L, "Icon");
    channel->URL = FieldPlainTextList(L, "URL");
    lua_pop(L, 1);
    return channel;
}

std::unique_ptr<TProgram> ReadProgram(lua_State* L, const TRecordLog& log) {
    if (!lua_istable(L, -1)) {
        lua_pop(L, 1);
        return nullptr;
    }
    // Owned here until the caller takes it: a Lua error raised below frees it on the way out.
    auto p = std::make_unique<TProgram>();
    p->ID = FieldText(L, "ID");
    p->Channel = FieldText(L, "Channel");
    p->Start = FieldTime(L, "Start");
    p->Stop = FieldTime(L, "Stop");
    p->PDCStart = FieldTime(L, "PDCStart");
    p->VPSStart = FieldTime(L, "VPSStart");
    p->ShowView = FieldText(L, "ShowView");
    p->VideoPlus = FieldText(L, "VideoPlus");
    p->Clump = FieldText(L, "Clump");
    p->Title = FieldTextList(L, "Title");
    p->Sub_Title = FieldTextList(L, "Sub_Title");
    p->Description = FieldTextList(L, "Description");
    if (Field(L, "Credits")) p->Credits = ReadCredits(L);
    p->Date = FieldText(L, "Date");
    p->Category = FieldTextList(L, "Category");
    p->Lang = FieldTextEntry(L, "Lang");
    p->OriginalLang = FieldTextEntry(L, "OriginalLang");
    if (Field(L, "Length")) ReadLength(L, *p, log);
    p->Icon = FieldIconList(L, "Icon");
    p->URL = FieldPlainTextList(L, "URL");
    p->Country = FieldTextList(L, "Country");
    if (Field(L, "Episode")) p->Episode = ReadEpisodeList(L);
    if (Field(L, "Video")) p->Video = ReadVideo(L);
    if (Field(L, "Audio")) p->Audio = ReadAudio(L);
    if (Field(L, "PreviouslyShown")) p->PreviouslyShown = ReadPreviouslyShown(L);
    p->Premiere = FieldTextEntry(L, "Premiere");
    p->LastChance = FieldTextEntry(L, "LastChance");
    p->New = FieldTruth(L, "New", false);
    if (Field(L, "Subtitles")) p->Subtitles = ReadSubtitlesList(L, log);
    if (Field(L, "Rating")) p->Rating = ReadRatingList(L);
    if (Field(L, "StarRating")) p->StarRating = ReadStarRating(L);
    lua_pop(L, 1);
    return p;
}

void PushChannel(lua_State* L, const TChannel& channel) {
    lua_createtable(L, 0, 5);
    SetText(L, "ID", channel.ID);
    SetTextList(L, "Name", channel.Name);
    SetNonEmptyText(L, "XML_ID", channel.XML_ID);
    SetIconList(L, "Icon", channel.Icon);
    SetPlainTextList(L, "URL", channel.URL);
}

void PushProgram(lua_State* L, const TProgram& p) {
    lua_createtable(L, 0, 16);
    SetNonEmptyText(L, "ID", p.ID);
    SetText(L, "Channel", p.Channel);
    SetTime(L, "Start", p.Start);
    if (p.Stop.wYear != 0) SetTime(L, "Stop", p.Stop);
    if (p.PDCStart.wYear != 0) SetTime(L, "PDCStart", p.PDCStart);
    if (p.VPSStart.wYear != 0) SetTime(L, "VPSStart", p.VPSStart);
    SetNonEmptyText(L, "ShowView", p.ShowView);
    SetNonEmptyText(L, "VideoPlus", p.VideoPlus);
    SetNonEmptyText(L, "Clump", p.Clump);
    SetTextList(L, "Title", p.Title);
    SetTextList(L, "Sub_Title", p.Sub_Title);
    SetTextList(L, "Description", p.Description);
    if (p.Credits) {
        PushCredits(L, *p.Credits);
        lua_setfield(L, -2, "Credits");
    }
    SetNonEmptyText(L, "Date", p.Date);
    if (p.Category) {  // an empty list still gives a table
        PushTextList(L, *p.Category);
        lua_setfield(L, -2, "Category");
    }
    SetTextEntry(L, "Lang", p.Lang);
    SetTextEntry(L, "OriginalLang", p.OriginalLang);
    if (p.Length != 0) {
        lua_createtable(L, 0, 2);
        SetNumber(L, "Length", p.Length);
        SetNumber(L, "Units", p.Units);
        lua_setfield(L, -2, "Length");
    }
    SetIconList(L, "Icon", p.Icon);
    SetPlainTextList(L, "URL", p.URL);
    SetTextList(L, "Country", p.Country);
    if (p.Episode) {  // an empty list still gives a table
        PushEpisodeList(L, *p.Episode);
        lua_setfield(L, -2, "Episode");
    }
    if (p.Video) {
        lua_createtable(L, 0, 4);
        SetBoolean(L, "Present", p.Video->Present);
        SetBoolean(L, "Colour", p.Video->Colour);
        SetNonEmptyText(L, "Aspect", p.Video->Aspect);
        SetNonEmptyText(L, "Quality", p.Video->Quality);
        lua_setfield(L, -2, "Video");
    }
    if (p.Audio) {
        lua_createtable(L, 0, 2);
        SetBoolean(L, "Present", p.Audio->Present);
        SetText(L, "Stereo", p.Audio->Stereo);
        lua_setfield(L, -2, "Audio");
    }
    if (p.PreviouslyShown) {
        if (p.PreviouslyShown->Channel.empty() && p.PreviouslyShown->Start.empty()) {
            lua_pushboolean(L, 1);
        } else {
            lua_createtable(L, 0, 2);
            SetText(L, "Channel", p.PreviouslyShown->Channel);
            SetText(L, "Start", p.PreviouslyShown->Start);
        }
        lua_setfield(L, -2, "PreviouslyShown");
    }
    SetTextEntry(L, "Premiere", p.Premiere);
    SetTextEntry(L, "LastChance", p.LastChance);
    if (p.New) SetBoolean(L, "New", true);
    if (HasEntries(p.Subtitles)) {
        PushSubtitlesList(L, *p.Subtitles);
        lua_setfield(L, -2, "Subtitles");
    }
    if (HasEntries(p.Rating)) {
        PushRatingList(L, *p.Rating);
        lua_setfield(L, -2, "Rating");
    }
    if (p.StarRating) {
        lua_createtable(L, 0, 3);
        SetNumber(L, "Number", p.StarRating->Number);
        SetNumber(L, "OutOf", p.StarRating->OutOf);
        SetIconList(L, "Icon", p.StarRating->Icon);
        lua_setfield(L, -2, "StarRating");
    }
}
