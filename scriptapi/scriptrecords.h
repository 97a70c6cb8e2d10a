// The script records: what each grabber and post processor declared in its table under Grabbers or
// PostProcs, with the lists a grabber fills during a run. Plain records, shared by the script API
// (a script's handle is the light userdata of its TLuaBase pointer) and the engine that creates
// them and runs their passes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "listings/linklists.h"
#include "listings/uxmltvrecs.h"

class TLuaGrabber;

// A grabber's channel files ("channels.lua", the cache of the channels its source offers, and
// "userchannels.txt", the IDs the user selected) are kept by the program that registered the
// grabber, the engine; the grabber's operations of the same names hand the work to it.
class TChannelKeeper {
public:
    virtual ~TChannelKeeper() = default;
    virtual void LoadChannelCache(TLuaGrabber& grabber) = 0;    // rebuilds AvailableChannels
    virtual void LoadUserChannels(TLuaGrabber& grabber) = 0;    // moves the listed channels to SelectedChannels
    virtual void SaveUserChannels(TLuaGrabber& grabber) = 0;    // raises std::runtime_error when not written
    virtual void SaveChannelCache(TLuaGrabber& grabber) = 0;    // the same
    virtual void RefreshChannelList(TLuaGrabber& grabber) = 0;  // the script's RefreshChannels, selection kept
};

// What every script declares.
class TLuaBase {
public:
    TLuaBase();
    virtual ~TLuaBase();

    std::string Name;
    std::string ID;        // the key of the script's table: its identity in settings, folders, handles
    std::string Version;
    std::unique_ptr<TSettingList> Settings;   // declared with Tvrn.AddSetting
    bool Enabled = false;  // from the settings file
    std::string Author;
    std::string InfoURL;
    int32_t Order = -1;    // position in the run order, from the settings file
};

class TLuaGrabber : public TLuaBase {
public:
    explicit TLuaGrabber(TChannelKeeper* keeper = nullptr);
    ~TLuaGrabber() override;

    std::unique_ptr<TChanList> AvailableChannels;   // offered and not selected; sorted by channel ID
    std::unique_ptr<TProgList> Programs;            // collected in the current run
    std::unique_ptr<TChanList> SelectedChannels;    // the user's choice, in the user's order
    uint8_t Encoding = 1;  // character set of the grabber's strings: 1 ISO-8859-1, 2 Windows-1252, 3 UTF-8
    std::string SourceURL;
    bool NoUserChannels = false;
    // The channel cache failed to load: the user's selection cannot be matched, so it is neither
    // read nor written until the channels load again.
    bool ChannelsUnreadable = false;
    TChannelKeeper* Keeper;   // keeps the channel files; none: the operations below do nothing

    void LoadChannelCache();
    void LoadUserChannels();
    void SaveUserChannels();
    void SaveChannelCache();
    void RefreshChannelList();
};

class TLuaPostProcessor : public TLuaBase {
public:
    std::string Grabber;   // the ID of the one grabber whose lists it works on; empty for all
};

// Script records, owned by the list; sorted by Order.
class TLuaBaseList : public TLinkList<TLuaBase> {
public:
    TLuaBaseList() : TLinkList<TLuaBase>(true) {}
    void SortByOrder();
};

class TGrabberList : public TLuaBaseList {
public:
    // Exact, case-sensitive comparison of ID.
    TLuaGrabber* FindByID(const std::string& id) const;
};

class TPostProcessorList : public TLuaBaseList {};
