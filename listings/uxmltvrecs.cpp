#include "listings/uxmltvrecs.h"

#include <unordered_map>

TProgram::~TProgram() = default;
TChannel::~TChannel() = default;
TSetting::~TSetting() = default;

// ---- comparisons

namespace {

TCompareResult CompareBytes(const std::string& a, const std::string& b) {
    const int r = a.compare(b);  // unsigned bytes; a prefix orders first
    return r < 0 ? crLess : r > 0 ? crGreater : crEqual;
}

unsigned char FoldAscii(unsigned char c) { return c >= 'a' && c <= 'z' ? c - ('a' - 'A') : c; }

// Year, month, day, hour, minute, second; the day of the week and the milliseconds do not count.
TCompareResult CompareTimes(const SYSTEMTIME& a, const SYSTEMTIME& b) {
    const uint16_t SYSTEMTIME::*const fields[] = {&SYSTEMTIME::wYear, &SYSTEMTIME::wMonth,  &SYSTEMTIME::wDay,
                                                  &SYSTEMTIME::wHour, &SYSTEMTIME::wMinute, &SYSTEMTIME::wSecond};
    for (auto field : fields) {
        if (a.*field != b.*field) return a.*field < b.*field ? crLess : crGreater;
    }
    return crEqual;
}

// While SortPrograms sorts, channel positions come from a table built once from SortChannels, so that
// a comparison does not walk the channel list; it gives the same positions as the walk.
struct TChannelPositions {
    std::unordered_map<std::string, int> ByXMLID;  // the first channel with each id
    int Fallback = 0;                              // the last channel's position
};
const TChannelPositions* ActivePositions = nullptr;

// 1-based position of the first channel of SortChannels with the given XML_ID, or that of the last
// channel when none has it.
int ChannelPosition(const std::string& xmlChannel) {
    if (ActivePositions) {
        const auto it = ActivePositions->ByXMLID.find(xmlChannel);
        return it != ActivePositions->ByXMLID.end() ? it->second : ActivePositions->Fallback;
    }
    if (!SortChannels) return 0;
    int position = 0;
    for (const TChannel& channel : *SortChannels) {
        ++position;
        if (channel.XML_ID == xmlChannel) return position;
    }
    return SortChannels->Count();
}

TCompareResult CompareChannelPositions(const TProgram& a, const TProgram& b) {
    if (a.XMLChannel == b.XMLChannel) return crEqual;
    const int pa = ChannelPosition(a.XMLChannel);
    const int pb = ChannelPosition(b.XMLChannel);
    return pa < pb ? crLess : pa > pb ? crGreater : crEqual;
}

// The first eight bytes of a key, big-endian and padded with zeros: their order never contradicts the
// order of the whole keys, so searches compare these numbers first and the records only on a tie.
template <unsigned char (*Map)(unsigned char)>
uint64_t PrefixDigest(const std::string& key) {
    uint64_t d = 0;
    for (size_t i = 0; i < 8; ++i) d = d << 8 | (i < key.size() ? Map(static_cast<unsigned char>(key[i])) : 0);
    return d;
}
unsigned char SameByte(unsigned char c) { return c; }
uint64_t ProgramIDDigest(const TProgram& p) { return PrefixDigest<FoldAscii>(p.ID); }
uint64_t ChannelIDDigest(const TChannel& c) { return PrefixDigest<SameByte>(c.ID); }

}  // namespace

TCompareResult CompareProgramID(const TProgram& key, const TProgram& item) {
    const std::string& a = key.ID;
    const std::string& b = item.ID;
    const size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
        const unsigned char ca = FoldAscii(static_cast<unsigned char>(a[i]));
        const unsigned char cb = FoldAscii(static_cast<unsigned char>(b[i]));
        if (ca != cb) return ca < cb ? crLess : crGreater;
    }
    return a.size() < b.size() ? crLess : a.size() > b.size() ? crGreater : crEqual;
}

TCompareResult CompareChannelID(const TChannel& key, const TChannel& item) { return CompareBytes(key.ID, item.ID); }

TCompareResult CompareChannelXMLID(const TChannel& key, const TChannel& item) {
    return CompareBytes(key.XML_ID, item.XML_ID);
}

TCompareResult CompareSettingKey(const TSetting& key, const TSetting& item) { return CompareBytes(key.Key, item.Key); }

TCompareResult MatchChannelName(const std::string& name, const TChannel& item) {
    return name == DisplayNameOf(item) ? crEqual : crLess;
}

std::string SortOrder;
const TChanList* SortChannels = nullptr;

TCompareResult CompareProgramOrder(const TProgram& a, const TProgram& b) {
    if (SortOrder.size() != 3) return crEqual;
    for (const char letter : SortOrder) {
        TCompareResult r = crEqual;
        switch (letter) {
            case 'A': r = CompareTimes(a.Start, b.Start); break;
            case 'O': r = CompareTimes(a.Stop, b.Stop); break;
            case 'C': r = CompareChannelPositions(a, b); break;
            default: break;
        }
        if (r != crEqual) return r;
    }
    return crEqual;
}

// ---- functions on records

std::string ValueOf(const TXMLTVString* s) { return s ? s->Value : std::string(); }

std::string FirstValue(const TXMLTVStringList* list) {
    const TXMLTVString* first = list ? list->FirstItem() : nullptr;
    return first ? first->Value : std::string();
}

std::string DisplayNameOf(const TChannel& channel) {
    const TXMLTVString* first = channel.Name ? channel.Name->FirstItem() : nullptr;
    return first ? first->Value : channel.ID;
}

// ---- TProgList

TProgList::TProgList() : TLinkList<TProgram>(true) {
    Sort(CompareProgramID, false);
    // A grabber may hand over a hundred thousand programmes with IDs; replacing by ID must not walk.
    EnableRankIndex(CompareProgramID, ProgramIDDigest);
}

void TProgList::AddProgram(TProgram* program) {
    if (program->ID.empty()) {
        Append(program);
        return;
    }
    if (Sorted() && Comparison() == CompareProgramID) {
        FKey.ID = program->ID;
        const TCompareResult r = BinarySearch(FKey);
        if (r == crEqual) {
            DeleteCurrent();
            Add(program);
        } else {
            // Add would repeat the same search on the unchanged list and land on the same node
            InsertAtSearch(program, r);
        }
        return;
    }
    if (FindID(program->ID)) DeleteCurrent();
    Add(program);
}

void TProgList::AddProgram(std::unique_ptr<TProgram> program) {
    AddProgram(program.get());
    program.release();
}

TProgram* TProgList::FindID(const std::string& id) {
    FKey.ID = id;
    if (Sorted() && Comparison() == CompareProgramID) return BinarySearch(FKey) == crEqual ? Current() : nullptr;
    return Find(FKey, CompareProgramID) ? Current() : nullptr;
}

void TProgList::SortPrograms(const std::string& order, bool reverse, const TChanList* channels) {
    SortOrder = order;
    SortChannels = channels;
    TChannelPositions positions;
    if (channels) {
        int position = 0;
        for (const TChannel& channel : *channels) positions.ByXMLID.emplace(channel.XML_ID, ++position);
        positions.Fallback = channels->Count();
    }
    struct TActive {
        explicit TActive(const TChannelPositions* p) { ActivePositions = p; }
        ~TActive() { ActivePositions = nullptr; }
    } active(&positions);
    Sort(CompareProgramOrder, reverse);
}

// ---- TChanList

TChanList::TChanList(bool sorted) : TLinkList<TChannel>(true) {
    if (sorted) {
        Sort(CompareChannelID, false);
        EnableRankIndex(CompareChannelID, ChannelIDDigest);
    }
}

bool TChanList::FindID(const std::string& id) {
    FKey.ID = id;
    return Find(FKey, CompareChannelID);
}

TCompareResult TChanList::SearchID(const std::string& id) {
    FKey.ID = id;
    return BinarySearch(FKey);
}

std::string TChanList::FindIDByName(const std::string& name) {
    return Find(name, MatchChannelName) ? Current()->ID : std::string();
}

void TChanList::TakeCurrentFrom(TChanList& other) {
    TChannel* channel = other.Current();
    if (!channel) return;
    if (Sorted()) Add(channel);
    else Append(channel);
    other.Remove(true, other.CurrentIndex());
}

// ---- TSettingList

void TSettingList::SetSetting(TSetting* setting) {
    if (Find(*setting, CompareSettingKey)) ReplaceCurrent(setting);
    else Append(setting);
}

void TSettingList::SetSetting(std::unique_ptr<TSetting> setting) {
    SetSetting(setting.get());
    setting.release();
}
