// Engine layer: a grabber's channel files: "channels.lua", the cache of the channels its source
// offers, written as a Lua function that adds them again, and "userchannels.txt", the IDs the user
// selected. The engine keeps them for the grabber records.
#include <cstdio>
#include <stdexcept>
#include <string>

#include "engine/uluagrabbers.h"
#include "platform/files.h"
#include "scriptapi/luahelpers.h"
#include "util/fileutils.h"

namespace {

const char* const kCacheFile = "channels.lua";
const char* const kUserFile = "userchannels.txt";

// Where a channel file is read: the grabber's folder, or the default settings folder when the
// file is missing there and another settings folder is in use. Empty when neither has it.
std::string FindChannelFile(const std::string& grabberID, const char* name) {
    const std::string own = GrabberFolder(grabberID) + name;
    if (platform::FileExists(own)) return own;
    if (SettingsDir != "settings") {
        const std::string fallback = BaseDir + "settings/" + grabberID + "/" + name;
        if (platform::FileExists(fallback)) return fallback;
    }
    return {};
}

void WriteChannelFile(const std::string& grabberID, const char* name, const std::string& content) {
    const std::string folder = GrabberFolder(grabberID);
    platform::ForceDirectories(ConvertSlashes(folder));
    const std::string path = folder + name;
    std::string error;
    if (!platform::WriteFileSafely(path, content, &error))
        throw std::runtime_error("Cannot create file \"" + path + "\". " + error);
}

// A text between double quotes that Lua 5.0 and 5.1 read back as the same bytes. Texts without
// quotes, backslashes or control bytes are written as they stand.
void AppendQuoted(std::string& out, std::string_view text) {
    out += '"';
    for (const char c : text) {
        const unsigned char b = static_cast<unsigned char>(c);
        if (c == '"') out += "\\\"";
        else if (c == '\\') out += "\\\\";
        else if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else if (b < 0x20 || b == 0x7F) {
            char code[8];
            std::snprintf(code, sizeof code, "\\%03u", b);   // three digits: a digit after it stays apart
            out += code;
        } else {
            out += c;
        }
    }
    out += '"';
}

std::string NameEntry(const TXMLTVString& name) {
    std::string entry;
    if (!name.Lang.empty()) {
        entry = "{Value=";
        AppendQuoted(entry, name.Value);
        entry += ",Lang=";
        AppendQuoted(entry, name.Lang);
        entry += "},";
    } else {
        AppendQuoted(entry, name.Value);
        entry += ",";
    }
    return entry;
}

std::string IconEntry(const TXMLTVIcon& icon) {
    std::string entry = "{Source=";
    AppendQuoted(entry, icon.Source);
    entry += ",";
    if (icon.Width != 0) entry += "Width=" + std::to_string(icon.Width);
    if (icon.Width != 0 && icon.Height != 0) entry += ",";
    if (icon.Height != 0) entry += "Height=" + std::to_string(icon.Height);
    entry += "},";
    return entry;
}

// One field of a channel that holds one entry on its own line or several in braces.
template <class List, class Entry>
void AppendList(std::string& out, const char* key, const List* list, Entry entry) {
    if (!list || list->Count() == 0) return;
    if (list->Count() == 1) {
        out += std::string("\t\t") + key + "=" + entry(*list->FirstItem()) + "\r\n";
        return;
    }
    out += std::string("\t\t") + key + "={\r\n";
    for (const auto& item : *list) out += entry(item) + "\r\n";
    out += "\t\t},\r\n";
}

// Whether an ID can follow "Grabbers." in Lua source: a name that is not a reserved word.
bool IsLuaName(const std::string& id) {
    static const char* const kReserved[] = {"and", "break", "do", "else", "elseif", "end", "false", "for",
                                            "function", "if", "in", "local", "nil", "not", "or", "repeat",
                                            "return", "then", "true", "until", "while"};
    if (id.empty() || (id[0] >= '0' && id[0] <= '9')) return false;
    for (const char c : id)
        if (!(c == '_' || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
    for (const char* word : kReserved)
        if (id == word) return false;
    return true;
}

}  // namespace

std::string GrabberFolder(const std::string& grabberID) { return BaseDir + SettingsDir + "/" + grabberID + "/"; }

std::string ChannelCacheText(const std::string& grabberID, const TChanList& channels) {
    // Any other ID (such as "my-grabber") is written in brackets, or the file would not load.
    std::string out;
    if (IsLuaName(grabberID)) {
        out = "function Grabbers." + grabberID + ".GetChans(Grabber)\r\n";
    } else {
        out = "Grabbers[";
        AppendQuoted(out, grabberID);
        out += "].GetChans = function(Grabber)\r\n";
    }
    for (const TChannel& channel : channels) {
        out += "\tTvrn.AddChannel(Grabber,{\r\n";
        out += "\t\tID=";
        AppendQuoted(out, channel.ID);
        out += ",\r\n";
        if (!channel.XML_ID.empty()) {
            out += "\t\tXML_ID=";
            AppendQuoted(out, channel.XML_ID);
            out += ",\r\n";
        }
        AppendList(out, "Name", channel.Name.get(), NameEntry);
        AppendList(out, "Icon", channel.Icon.get(), IconEntry);
        if (channel.URL && channel.URL->Count() == 1) {
            out += "\t\tURL=";
            AppendQuoted(out, *channel.URL->FirstItem());
            out += "\r\n";
        } else if (channel.URL && channel.URL->Count() > 1) {
            out += "\t\tURL={\r\n";
            for (const std::string& url : *channel.URL) {
                out += "\t\t";
                AppendQuoted(out, url);
                out += ",";
            }
            out += "\r\n\t\t},\r\n";
        }
        out += "\t\t})\r\n";
    }
    out += "end\r\n";
    return out;
}

void TLuaGrabbers::LoadChannelCache(TLuaGrabber& grabber) {
    grabber.AvailableChannels->Clear();
    grabber.ChannelsUnreadable = false;
    if (!LuaState()) return;
    const std::string file = FindChannelFile(grabber.ID, kCacheFile);
    if (file.empty()) return;
    const bool ran = RunFile(file);

    std::string error;
    const int status = ProtectedCall(
        LuaState(),
        [&grabber](lua_State* L) {
            if (!GetPath(L, {"Grabbers", grabber.ID}) || !lua_istable(L, -1) || !GetField(L, "GetChans")) return;
            PushHandle(L, &grabber);
            lua_call(L, 1, 0);
        },
        &error);
    if (status != 0) {
        // Lua 5.0 numbered the run-time error 1; memory (4) and handler (5) errors kept their codes.
        LogFmt(false, "Error getting channels: %d", status == LUA_ERRRUN ? 1 : status);
        Log(error, false);
    }
    // A cache cut short by a full disk, or broken, offers too few channels: matched against it,
    // the user's selection would shrink and be saved so.
    if (!ran || status != 0) {
        grabber.ChannelsUnreadable = true;
        LogFmt(false, "Channels of grabber %s could not be loaded; its channel selection is left as it is",
               grabber.ID.c_str());
    }
}

void TLuaGrabbers::LoadUserChannels(TLuaGrabber& grabber) {
    if (grabber.ChannelsUnreadable) {
        grabber.SelectedChannels->Clear();
        return;
    }
    const std::string file = FindChannelFile(grabber.ID, kUserFile);
    if (file.empty()) return;
    std::string content;
    if (!platform::ReadWholeFile(file, content)) return;
    TChanList& available = *grabber.AvailableChannels;
    TChanList& selected = *grabber.SelectedChannels;
    selected.Clear();
    size_t start = 0;
    while (start < content.size()) {
        size_t end = content.find('\n', start);
        if (end == std::string::npos) end = content.size();
        std::string id = content.substr(start, end - start);
        if (!id.empty() && id.back() == '\r') id.pop_back();
        start = end + 1;
        if (available.SearchID(id) == crEqual) selected.TakeCurrentFrom(available);
        else LogFmt(false, "Channel id \"%s\" not found", id.c_str());
    }
}

void TLuaGrabbers::SaveUserChannels(TLuaGrabber& grabber) {
    if (grabber.ChannelsUnreadable) return;
    std::string content;
    for (const TChannel& channel : *grabber.SelectedChannels) content += channel.ID + "\r\n";
    WriteChannelFile(grabber.ID, kUserFile, content);
}

void TLuaGrabbers::SaveChannelCache(TLuaGrabber& grabber) {
    WriteChannelFile(grabber.ID, kCacheFile, ChannelCacheText(grabber.ID, *grabber.AvailableChannels));
}

void TLuaGrabbers::RefreshChannelList(TLuaGrabber& grabber) {
    if (LuaState()) {
        std::string error;
        const int status = ProtectedCall(
            LuaState(),
            [&grabber](lua_State* L) {
                if (!GetPath(L, {"Grabbers", grabber.ID}) || !lua_istable(L, -1) || !GetField(L, "RefreshChannels"))
                    return;
                PushHandle(L, &grabber);
                lua_call(L, 1, 1);
            },
            &error);
        if (status != 0) {
            Log("Error refreshing channels", false);
            Log(error, false);
        }
    }
    SaveChannelCache(grabber);
    if (grabber.ChannelsUnreadable) {
        // The stored selection was never read: match it against the fresh channels now.
        grabber.ChannelsUnreadable = false;
        LoadUserChannels(grabber);
        return;
    }
    if (grabber.SelectedChannels->Count() == 0) return;
    auto kept = std::make_unique<TChanList>(false);
    for (const TChannel& channel : *grabber.SelectedChannels) {
        if (grabber.AvailableChannels->FindID(channel.ID)) kept->TakeCurrentFrom(*grabber.AvailableChannels);
        else LogFmt(false, "Channel %s no longer exists", DisplayNameOf(channel).c_str());
    }
    grabber.SelectedChannels = std::move(kept);
}
