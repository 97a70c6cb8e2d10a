// The list container's out-of-line parts: the list errors, and the string list and tag stack.
// Listings layer; the rank index under long lists is rankindex.
#include "listings/linklists.h"

#include <cstdio>

namespace linklists_detail {

void RaiseIndexError(int index) {
    char text[64];
    std::snprintf(text, sizeof text, "List index out of bounds (%d)", index);
    throw EListError(text);
}

void RaiseListError(const char* message) { throw EListError(message); }

}  // namespace linklists_detail

// ---- TStringList

std::string TStringList::FirstString() {
    const std::string* s = First();
    return s ? *s : std::string();
}

std::string TStringList::NextString() { return *Next(); }

// ---- TTagStack

void TTagStack::PushTag(uint8_t tag) {
    auto cell = std::make_unique<uint8_t>(tag);
    Push(cell.get());
    cell.release();
}

uint8_t TTagStack::PopTag() {
    std::unique_ptr<uint8_t> cell(Pop());
    if (!cell) linklists_detail::RaiseIndexError(0);
    return *cell;
}

uint8_t TTagStack::PeekTag() {
    const uint8_t* cell = Peek();
    if (!cell) linklists_detail::RaiseIndexError(0);
    return *cell;
}

// Most lists are parts of a programme holding one item; their size is most of what a programme costs.
static_assert(sizeof(TStringList) == 32, "a list of one item holds it in 32 bytes");
