// The listings model's records and lists: programme replacement by ID, the searches, and the
// programme order of a run. Listings layer.
#include "listings/uxmltvrecs.h"

#include <bit>
#include <cstring>
#include <utility>

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

// The first eight bytes of a key, big-endian and padded with zeros: their order never contradicts the
// order of the whole keys, so searches compare these numbers first and the records only on a tie.
template <unsigned char (*Map)(unsigned char)>
uint64_t PrefixDigest(std::string_view key) {
    uint64_t d = 0;
    for (size_t i = 0; i < 8; ++i) d = d << 8 | (i < key.size() ? Map(static_cast<unsigned char>(key[i])) : 0);
    return d;
}
unsigned char SameByte(unsigned char c) { return c; }
// The same as PrefixDigest<FoldAscii> of the text from byte `from` on, eight bytes at a time:
// lower-case ASCII letters are found and moved down by 0x20 in one go.
uint64_t FoldedDigest(std::string_view key, size_t from) {
    const size_t n = from < key.size() ? key.size() - from : 0;
    uint64_t x = 0;
    std::memcpy(&x, key.data() + from, n < 8 ? n : 8);  // bytes past the end stay 0
    constexpr uint64_t kHigh = 0x8080808080808080u;
    const uint64_t low7 = x & ~kHigh;
    const uint64_t atLeastA = low7 + 0x1f1f1f1f1f1f1f1fu;  // 'a' + 0x1f = 0x80
    const uint64_t aboveZ = low7 + 0x0505050505050505u;    // past 'z': 0x7b + 0x05 = 0x80
    const uint64_t lower = atLeastA & ~aboveZ & ~x & kHigh;
    x -= lower >> 2;
    if constexpr (std::endian::native == std::endian::little) x = __builtin_bswap64(x);
    return x;
}

uint64_t ProgramIDDigest(const TProgram& p) { return FoldedDigest(p.ID, 0); }
uint64_t ChannelIDDigest(const TChannel& c) { return PrefixDigest<SameByte>(c.ID); }

}  // namespace

namespace {

// CompareProgramID for texts whose first `from` bytes are known to match.
TCompareResult CompareIDsFrom(std::string_view a, std::string_view b, size_t from) {
    const size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = from; i < n; ++i) {
        const unsigned char ca = FoldAscii(static_cast<unsigned char>(a[i]));
        const unsigned char cb = FoldAscii(static_cast<unsigned char>(b[i]));
        if (ca != cb) return ca < cb ? crLess : crGreater;
    }
    return a.size() < b.size() ? crLess : a.size() > b.size() ? crGreater : crEqual;
}

}  // namespace

TCompareResult CompareProgramID(const TProgram& key, const TProgram& item) { return CompareIDsFrom(key.ID, item.ID, 0); }

TCompareResult CompareChannelID(const TChannel& key, const TChannel& item) { return CompareBytes(key.ID, item.ID); }

TCompareResult CompareChannelXMLID(const TChannel& key, const TChannel& item) {
    return CompareBytes(key.XML_ID, item.XML_ID);
}

TCompareResult CompareSettingKey(const TSetting& key, const TSetting& item) { return CompareBytes(key.Key, item.Key); }

TCompareResult MatchChannelName(const std::string& name, const TChannel& item) {
    return name == DisplayNameOf(item) ? crEqual : crLess;
}

// ---- the programme order

TProgramOrder::TProgramOrder(std::string order, const TChanList* channels) : FOrder(std::move(order)) {
    if (!channels) return;
    // a table made once, so that a comparison does not walk the channel list
    int position = 0;
    for (const TChannel& channel : *channels) FPositions.emplace(channel.XML_ID, ++position);
    FLastPosition = channels->Count();
}

int TProgramOrder::ChannelPosition(std::string_view xmlChannel) const {
    const auto it = FPositions.find(xmlChannel);
    return it != FPositions.end() ? it->second : FLastPosition;
}

namespace {

// The fields of a time, each within the range a real time has, in 42 bits: year 16, month 4, day 5,
// hour 5, minute 6, second 6.
bool TimeFits(const SYSTEMTIME& t) {
    return t.wMonth < 16 && t.wDay < 32 && t.wHour < 32 && t.wMinute < 64 && t.wSecond < 64;
}
uint64_t TimeBits(const SYSTEMTIME& t) {
    return uint64_t{t.wYear} << 26 | uint64_t{t.wMonth} << 22 | uint64_t{t.wDay} << 17 | uint64_t{t.wHour} << 12 |
           uint64_t{t.wMinute} << 6 | t.wSecond;
}

}  // namespace

bool TProgramOrder::KeyOf(const TProgram& p, TKey& key) const {
    if (FOrder.size() != 3) return false;
    key = 0;
    for (const char letter : FOrder) {
        switch (letter) {
            case 'A':
                if (!TimeFits(p.Start)) return false;
                key = key << 42 | TimeBits(p.Start);
                break;
            case 'O':
                if (!TimeFits(p.Stop)) return false;
                key = key << 42 | TimeBits(p.Stop);
                break;
            case 'C': key = key << 32 | static_cast<uint32_t>(ChannelPosition(p.XMLChannel)); break;
            default: break;
        }
    }
    return true;
}

TCompareResult TProgramOrder::Compare(const TProgram& a, const TProgram& b) const {
    if (FOrder.size() != 3) return crEqual;
    for (const char letter : FOrder) {
        TCompareResult r = crEqual;
        switch (letter) {
            case 'A': r = CompareTimes(a.Start, b.Start); break;
            case 'O': r = CompareTimes(a.Stop, b.Stop); break;
            case 'C':
                if (a.XMLChannel != b.XMLChannel) {
                    const int pa = ChannelPosition(a.XMLChannel);
                    const int pb = ChannelPosition(b.XMLChannel);
                    r = pa < pb ? crLess : pa > pb ? crGreater : crEqual;
                }
                break;
            default: break;
        }
        if (r != crEqual) return r;
    }
    return crEqual;
}

// ---- functions on records

std::string ValueOf(const TXMLTVString* s) { return s ? s->Value.str() : std::string(); }

std::string FirstValue(const TXMLTVStringList* list) {
    const TXMLTVString* first = list ? list->FirstItem() : nullptr;
    return first ? first->Value.str() : std::string();
}

std::string DisplayNameOf(const TChannel& channel) {
    const TXMLTVString* first = channel.Name ? channel.Name->FirstItem() : nullptr;
    return first ? first->Value.str() : channel.ID;
}

// ---- TProgList

TProgList::TProgList(bool indexed) : TLinkList<TProgram>(true) {
    Sort(CompareProgramID, false);
    // A grabber may hand over a hundred thousand programmes with IDs; replacing by ID must not walk.
    if (indexed) EnableRankIndex(CompareProgramID, ProgramIDDigest);
    else PoolNodes();
}

TProgList::~TProgList() {
    for (const TPending& p : FPending) Dispose(p.Program);  // waiting programmes are the list's too
    FPending.clear();
    FUnsettled = false;
}

// A grabber hands over all its programmes before anything reads them. Each one searched for and
// linked on arrival would cost a walk down the index to wherever its ID falls, which for a hundred
// thousand programmes in no particular order means a trip to memory each. So programmes with IDs
// wait, and go in together when the list is next used: in one pass over the list when many wait,
// one by one otherwise. Either way the list ends up as adding them one by one would leave it.
TProgList::TPending TProgList::PendingOf(TProgram* program) {
    const std::string_view id = program->ID;
    return TPending{program, FoldedDigest(id, 0), FoldedDigest(id, 8)};
}

TCompareResult TProgList::ComparePending(const TPending& a, const TPending& b) {
    if (a.Digest != b.Digest) return a.Digest < b.Digest ? crLess : crGreater;
    if (a.Next != b.Next) return a.Next < b.Next ? crLess : crGreater;
    const std::string_view x = a.Program->ID;
    const std::string_view y = b.Program->ID;
    // equal digests of two texts of sixteen bytes or more mean equal first sixteen bytes, folded
    return CompareIDsFrom(x, y, x.size() >= 16 && y.size() >= 16 ? 16 : 0);
}

void TProgList::AddProgram(TProgram* program) {
    if (!program->ID.empty() && Sorted() && Comparison() == CompareProgramID && CanMergeInOrder()) {
        const TPending pending = PendingOf(program);
        if (!FPending.empty() && FPendingInOrder) FPendingInOrder = ComparePending(FPending.back(), pending) == crLess;
        FPending.push_back(pending);
        FUnsettled = true;
        return;
    }
    AddNow(program);
}

void TProgList::AddNow(TProgram* program) {
    Settle();  // before FKey is set: settling uses it
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

void TProgList::SettlePending() {
    FUnsettled = false;  // first: the calls below use the list
    const bool inOrder = FPendingInOrder;
    size_t done = 0;
    try {
        // a pass over the whole list pays off when the waiting programmes are many beside it
        const size_t listed = static_cast<size_t>(Count());
        if (FPending.size() >= 64 && FPending.size() * 8 >= listed && MergePending(FPending, inOrder)) {
            done = FPending.size();
        } else {
            for (; done < FPending.size(); ++done) AddNow(FPending[done].Program);
        }
    } catch (...) {
        // the programmes not yet in go on waiting, in the order they came
        FPending.erase(FPending.begin(), FPending.begin() + static_cast<std::ptrdiff_t>(done));
        FUnsettled = !FPending.empty();
        throw;
    }
    FPendingInOrder = true;
    if (FPending.capacity() > 4096) {
        std::vector<TPending>().swap(FPending);  // a big batch leaves no big buffer behind
    } else {
        FPending.clear();
    }
}

// Links the waiting programmes (in the order they came) in one pass. Of programmes with the same ID
// the one that came last replaces the others, as one by one. Declines, changing nothing, when one
// has the ID of a programme in the list: which of equal IDs a search finds is then for AddNow to say.
bool TProgList::MergePending(const std::vector<TPending>& pending, bool inOrder) {
    std::vector<TPending> sorted;
    if (!inOrder) {  // among equal IDs the order they came stays
        sorted = pending;
        std::stable_sort(sorted.begin(), sorted.end(),
                         [](const TPending& a, const TPending& b) { return ComparePending(a, b) == crLess; });
    }
    std::vector<TFresh> fresh;
    fresh.reserve(pending.size());
    std::vector<TProgram*> replaced;
    const TPending* before = nullptr;
    for (const TPending& p : inOrder ? pending : sorted) {
        // programmes that came in ascending order have distinct IDs
        if (!inOrder && before && ComparePending(*before, p) == crEqual) {
            replaced.push_back(fresh.back().Item);
            fresh.back() = TFresh{p.Program, p.Digest};
        } else {
            fresh.push_back(TFresh{p.Program, p.Digest});
        }
        before = &p;
    }
    if (!MergeInOrder(fresh, pending.back().Program)) return false;
    for (TProgram* p : replaced) Dispose(p);
    return true;
}

void TProgList::AddProgram(std::unique_ptr<TProgram> program) {
    AddProgram(program.get());
    program.release();
}

TProgram* TProgList::FindID(std::string_view id) {
    Settle();  // before FKey is set: settling uses it
    FKey.ID = id;
    if (Sorted() && Comparison() == CompareProgramID) return BinarySearch(FKey) == crEqual ? Current() : nullptr;
    return Find(FKey, CompareProgramID) ? Current() : nullptr;
}

static TCompareResult CompareInOrder(const void* order, const TProgram& a, const TProgram& b) {
    return static_cast<const TProgramOrder*>(order)->Compare(a, b);
}

void TProgList::SortPrograms(const std::string& order, bool reverse, const TChanList* channels) {
    FOrder = TProgramOrder(order, channels);
    const auto keyOf = [this](const TProgram& p, TProgramOrder::TKey& key) { return FOrder.KeyOf(p, key); };
    if (Count() <= 1 || !SortByKeys<TProgramOrder::TKey>(CompareInOrder, &FOrder, reverse, keyOf))
        Sort(CompareInOrder, &FOrder, reverse);
}

// ---- TChanList

TChanList::TChanList(bool sorted) : TLinkList<TChannel>(true) {
    if (sorted) {
        Sort(CompareChannelID, false);
        EnableRankIndex(CompareChannelID, ChannelIDDigest);
    }
}

bool TChanList::FindID(std::string_view id) {
    FKey.ID = id;
    return Find(FKey, CompareChannelID);
}

TCompareResult TChanList::SearchID(std::string_view id) {
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
