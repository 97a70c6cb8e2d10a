// Script API layer: the script records and their lists; a grabber's channel-file operations are
// handed to the keeper that registered it.
#include "scriptapi/scriptrecords.h"

TLuaBase::TLuaBase() : Settings(std::make_unique<TSettingList>()) {}

TLuaBase::~TLuaBase() = default;

TLuaGrabber::TLuaGrabber(TChannelKeeper* keeper)
    : AvailableChannels(std::make_unique<TChanList>(true)),
      Programs(std::make_unique<TProgList>()),
      SelectedChannels(std::make_unique<TChanList>(false)),
      Keeper(keeper) {}

TLuaGrabber::~TLuaGrabber() = default;

void TLuaGrabber::LoadChannelCache() {
    if (Keeper) Keeper->LoadChannelCache(*this);
}

void TLuaGrabber::LoadUserChannels() {
    if (Keeper) Keeper->LoadUserChannels(*this);
}

void TLuaGrabber::SaveUserChannels() {
    if (Keeper) Keeper->SaveUserChannels(*this);
}

void TLuaGrabber::SaveChannelCache() {
    if (Keeper) Keeper->SaveChannelCache(*this);
}

void TLuaGrabber::RefreshChannelList() {
    if (Keeper) Keeper->RefreshChannelList(*this);
}

static TCompareResult CompareOrder(const TLuaBase& key, const TLuaBase& item) {
    if (key.Order < item.Order) return crLess;
    if (key.Order > item.Order) return crGreater;
    return crEqual;
}

void TLuaBaseList::SortByOrder() { Sort(CompareOrder); }

TLuaGrabber* TGrabberList::FindByID(const std::string& id) const {
    for (const TLuaBase& script : *this)
        if (script.ID == id) return static_cast<TLuaGrabber*>(const_cast<TLuaBase*>(&script));
    return nullptr;
}
