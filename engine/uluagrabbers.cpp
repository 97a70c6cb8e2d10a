// Engine layer: the grab engine's life: the module-wide values, its settings, the Lua state with the
// script API, the scripts and the registry of grabbers and post processors, the log and the
// front end's callbacks, the engine's side of the script-host interface, and the shutdown.
#include "engine/uluagrabbers.h"

#include <cstdio>
#include <exception>
#include <stdexcept>
#include <variant>
#include <vector>

#include "platform/files.h"
#include "platform/process.h"
#include "platform/userfolder.h"
#include "scriptapi/luahelpers.h"
#include "scriptapi/uluafuncs.h"
#include "scriptapi/uluafuncs_tvrn.h"
#include "util/fileutils.h"

std::string BaseDir = platform::ExecutableDir();
std::string SettingsDir = "settings";
TLuaGrabbers* LuaGrabbers = nullptr;

bool UseProgramFolder(std::string& error) {
    const std::optional<std::string> folder = platform::ProgramFolder(error);
    if (folder) BaseDir = *folder;
    return folder.has_value();
}

// Defaults of the settings that name places the user is meant to replace.
static const char* const kDefaultEMailAddress = "you@example.com";
static const char* const kDefaultEMailServer = "mail.example.com";
// Instructions of script code between two calls of the count hook: a few milliseconds' work.
static constexpr int kHookInstructions = 1 << 21;

// ---- construction -----------------------------------------------------------------------------

TLuaGrabbers::TLuaGrabbers(TLogEvent onLog, TPanicEvent onPanic) {
    // One program at a time on a settings folder, from here to the end of the shutdown: two would
    // overwrite each other's settings, channel files, output and log. A second one changes nothing.
    std::string settingsFolder = BaseDir + SettingsDir;
    if (FSettingsLock.Lock(settingsFolder, "tavrin.lock") == platform::FolderLock::Result::InUse) {
        if (settingsFolder.size() > 1 && settingsFolder.back() == '/') settingsFolder.pop_back();
        throw std::runtime_error("Settings folder \"" + settingsFolder + "\" is in use by another Tavrin");
    }
    // 1.
    Stop = true;
    AllowMail = true;
    DayLimit = 0;
    StartTime = HostClock.LocalTime();
    StartDateTime = platform::DateTimeFromSystemTime(StartTime);
    LuaGrabbers = this;
    try {
        // 2. and 3.
        IniFile = std::make_unique<TIniFile>(BaseDir + SettingsDir + "/tavrin.ini");
        ReadSettings();
        CreateHTTPClient();
        // 4.
        if (onLog) OnLog = std::move(onLog);
        if (onPanic) OnPanic = std::move(onPanic);
        RemoveStaleTempFiles(IniFile->FileName());
        RemoveStaleTempFiles(InProgramFolder(OutFile));
        RemoveStaleTempFiles(InProgramFolder(LogFile));
        // 5. to 7.
        OpenLuaState();
        // 8. and 9.
        LoadScripts();
        // 10. to 12.
        BuildGrabberList();
        BuildPostProcessorList();
    } catch (...) {
        // No engine exists after a failed construction; nothing was written.
        FDestroyed = true;
        LuaGrabbers = nullptr;
        throw;
    }
}

// ---- settings ---------------------------------------------------------------------------------

namespace {

template <class... F>
struct TOverloaded : F... {
    using F::operator()...;
};
template <class... F>
TOverloaded(F...) -> TOverloaded<F...>;  // clang 14 deduces no aggregate's arguments by itself

// The engine's fields in the "Settings" and "Connection" sections. One row per key drives both the
// reading at creation and the writing at shutdown, in the order of the rows.
using TSettingField = std::variant<std::string TLuaGrabbers::*, int32_t TLuaGrabbers::*, uint8_t TLuaGrabbers::*,
                                   bool TLuaGrabbers::*>;

struct TSettingKey {
    const char* Section;
    const char* Key;
    TSettingField Field;
    const char* Default;            // as the file would hold it: a number in decimal, a truth as 1 or 0
    bool InProgramFolder = false;   // the default is a file name in the program folder
};

const TSettingKey kSettingKeys[] = {
    {"Settings", "TimeZone", &TLuaGrabbers::TimeZoneName, "GMT/BST"},
    {"Settings", "CharSet", &TLuaGrabbers::CharSet, "1"},
    {"Settings", "Outfile", &TLuaGrabbers::OutFile, "data.xml", true},
    {"Settings", "XMLSort", &TLuaGrabbers::XMLSort, "CAO"},
    {"Settings", "SortRev", &TLuaGrabbers::SortRev, "0"},
    {"Settings", "DoXMLSort", &TLuaGrabbers::DoXMLSort, "0"},
    {"Settings", "SaveLog", &TLuaGrabbers::SaveLog, "1"},
    {"Settings", "LogFile", &TLuaGrabbers::LogFile, "log.txt"},
    {"Settings", "EMailLog", &TLuaGrabbers::EMailLog, "0"},
    {"Settings", "AttachXML", &TLuaGrabbers::AttachXML, "0"},
    {"Settings", "EMailAddress", &TLuaGrabbers::EMailAddress, kDefaultEMailAddress},
    {"Settings", "Debug", &TLuaGrabbers::Debug, "0"},
    {"Connection", "MaxRetries", &TLuaGrabbers::MaxRetries, "3"},
    {"Connection", "RetryDelay", &TLuaGrabbers::RetryDelay, "3000"},
    {"Connection", "ConnectTimeout", &TLuaGrabbers::ConnectTimeout, "10000"},
    {"Connection", "ReadTimeout", &TLuaGrabbers::ReadTimeout, "10000"},
    {"Connection", "Proxy", &TLuaGrabbers::Proxy, ""},
    {"Connection", "ProxyPort", &TLuaGrabbers::ProxyPort, "0"},
    {"Connection", "ProxyPassword", &TLuaGrabbers::ProxyPassword, ""},
    {"Connection", "ProxyUsername", &TLuaGrabbers::ProxyUsername, ""},
    {"Connection", "EMailServer", &TLuaGrabbers::EMailServer, kDefaultEMailServer},
    {"Connection", "MaxPageSize", &TLuaGrabbers::MaxPageSize, "256"},
};

int32_t DefaultNumber(const TSettingKey& k) {
    int32_t value = 0;
    ParseDecimalInt32(k.Default, value);
    return value;
}

}  // namespace

void TLuaGrabbers::ReadSettings() {
    const TIniFile& ini = *IniFile;
    for (const TSettingKey& k : kSettingKeys) {
        std::visit(TOverloaded{
                       [&](std::string TLuaGrabbers::*text) {
                           const std::string folder = k.InProgramFolder ? BaseDir : std::string();
                           this->*text = ini.ReadString(k.Section, k.Key, folder + k.Default);
                       },
                       [&](int32_t TLuaGrabbers::*number) {
                           this->*number = ini.ReadInteger(k.Section, k.Key, DefaultNumber(k));
                       },
                       [&](uint8_t TLuaGrabbers::*byte) {
                           this->*byte = static_cast<uint8_t>(ini.ReadInteger(k.Section, k.Key, DefaultNumber(k)));
                       },
                       [&](bool TLuaGrabbers::*truth) {
                           this->*truth = ini.ReadBool(k.Section, k.Key, DefaultNumber(k) != 0);
                       },
                   },
                   k.Field);
    }
}

void TLuaGrabbers::WriteSettings() {
    TIniFile& ini = *IniFile;
    for (const TSettingKey& k : kSettingKeys) {
        std::visit(TOverloaded{
                       [&](std::string TLuaGrabbers::*text) { ini.WriteString(k.Section, k.Key, this->*text); },
                       [&](int32_t TLuaGrabbers::*number) { ini.WriteInteger(k.Section, k.Key, this->*number); },
                       [&](uint8_t TLuaGrabbers::*byte) { ini.WriteInteger(k.Section, k.Key, this->*byte); },
                       [&](bool TLuaGrabbers::*truth) { ini.WriteBool(k.Section, k.Key, this->*truth); },
                   },
                   k.Field);
    }
}

static void SetGlobalText(lua_State* L, const char* name, const std::string& value) {
    PushText(L, value);
    SetGlobal(L, name);
}

void TLuaGrabbers::OpenLuaState() {
    FLuaState.reset(luaL_newstate());
    lua_State* L = FLuaState.get();
    if (!L) throw std::bad_alloc();
    lua_atpanic(L, Panic);
    lua_sethook(L, CountHook, LUA_MASKCOUNT, kHookInstructions);
    SetGlobalText(L, "LUA_PATH", BaseDir + "lib/?.lua");
    SetGlobalText(L, "LUA_CPATH", BaseDir + "lib/?.so");   // C modules are shared objects here
    platform::ForceDirectories(BaseDir + "temp/");
    SetGlobalText(L, "TEMP", BaseDir + "temp/");

    // The os library is left out: scripts have no business with the system beyond the host's API.
    static const luaL_Reg libraries[] = {
        {"", luaopen_base},           {LUA_TABLIBNAME, luaopen_table}, {LUA_IOLIBNAME, luaopen_io},
        {LUA_STRLIBNAME, luaopen_string}, {LUA_MATHLIBNAME, luaopen_math}, {LUA_DBLIBNAME, luaopen_debug},
        {LUA_LOADLIBNAME, luaopen_package},
    };
    for (const luaL_Reg& library : libraries) {
        lua_pushcfunction(L, library.func);
        lua_pushstring(L, library.name);
        lua_call(L, 1, 0);
    }
    // Scripts of old name their search paths and load C modules the way of their day.
    lua_getglobal(L, LUA_LOADLIBNAME);
    lua_getglobal(L, "LUA_PATH");
    lua_setfield(L, -2, "path");
    lua_getglobal(L, "LUA_CPATH");
    lua_setfield(L, -2, "cpath");
    lua_getfield(L, -1, "loadlib");
    lua_setglobal(L, "loadlib");
    Pop(L, 1);

    RegisterScriptAPI(L, *this);
}

bool TLuaGrabbers::RunFile(const std::string& fileName) {
    lua_State* L = FLuaState.get();
    int status = luaL_loadfile(L, fileName.c_str());
    if (status == 0) status = lua_pcall(L, 0, 0, 0);
    if (status == 0) return true;
    Log(ErrorText(L, -1), false);
    Pop(L, 1);
    return false;
}

static std::string FileNameOnly(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

void TLuaGrabbers::LoadScripts() {
    Log("Loading init scripts", true);
    RunFile(BaseDir + "init.lua");
    RunFile(BaseDir + "lib/compat-5.1.lua");
    Log("   Init scripts loaded", true);

    std::vector<std::string> scripts;
    FindFiles(BaseDir + "scripts/", "*.lua", true, scripts);
    for (const std::string& file : scripts) {
        LogFmt(true, "Opening script \"%s\"", FileNameOnly(file).c_str());
        RunFile(file);
        Log("   Script Opened", true);
    }
}

// The keys of a registry table (Grabbers or PostProcs) that are strings with a table as value, in
// table order. Other entries are skipped with a line naming the key. The keys are taken first so
// that scripts' Init functions cannot disturb the walk by changing the table.
static std::vector<std::string> RegistryKeys(TLuaGrabbers& engine, const char* tableName) {
    lua_State* L = engine.LuaState();
    std::vector<std::string> keys;
    std::vector<std::string> skipped;
    std::string error;
    ProtectedCall(
        L,
        [&](lua_State* L) {
            GetGlobal(L, tableName);
            if (!lua_istable(L, -1)) return;
            lua_pushnil(L);
            while (lua_next(L, -2) != 0) {
                if (lua_type(L, -2) != LUA_TSTRING) {
                    lua_pushvalue(L, -2);   // converting a copy keeps the walk intact
                    std::string name = lua_isnumber(L, -1) ? ReadText(L, -1) : luaL_typename(L, -2);
                    skipped.push_back("Skipping entry " + name + " of " + tableName + ": its key is not a string");
                    Pop(L, 1);
                } else if (!lua_istable(L, -1)) {
                    skipped.push_back("Skipping entry \"" + ReadText(L, -2) + "\" of " + tableName +
                                      ": it is not a table");
                } else if (std::string key = ReadText(L, -2); !IsSingleFolderName(key)) {
                    // The ID names the script's folders (settings, cache): "..", "a/b" or "" would
                    // lead elsewhere.
                    for (char& c : key)
                        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
                    skipped.push_back("Skipping entry \"" + key + "\" of " + tableName +
                                      ": its key cannot be a folder name");
                } else {
                    keys.push_back(std::move(key));
                }
                Pop(L, 1);
            }
        },
        &error);
    for (const std::string& line : skipped) engine.Log(line, false);
    if (!error.empty()) engine.Log(error, false);
    return keys;
}

// Reads the declaration keys shared by grabbers and post processors, with their defaults.
static void ReadCommonKeys(lua_State* L, TLuaBase& script) {
    const auto textOr = [L](const char* key, const std::string& absent, const std::string& notText) {
        if (!GetField(L, key)) return absent;
        std::string value = lua_isstring(L, -1) ? ReadText(L, -1) : notText;
        Pop(L, 1);
        return value;
    };
    script.Name = textOr("Name", script.ID, script.ID);
    script.Version = textOr("Version", "Unknown", "Unknown");
    script.Author = textOr("Author", "Unknown", "");
    script.InfoURL = textOr("InfoURL", "None", "");
}

// Makes a record reachable through its handle while it is registered, before it joins its list.
class TPendingScript {
public:
    TPendingScript(TLuaBase*& slot, TLuaBase* record) : FSlot(slot) { FSlot = record; }
    ~TPendingScript() { FSlot = nullptr; }
    TPendingScript(const TPendingScript&) = delete;
    TPendingScript& operator=(const TPendingScript&) = delete;

private:
    TLuaBase*& FSlot;
};

void TLuaGrabbers::BuildGrabberList() {
    lua_State* L = FLuaState.get();
    for (const std::string& id : RegistryKeys(*this, "Grabbers")) {
        auto grabber = std::make_unique<TLuaGrabber>(this);
        TPendingScript pending(FPending, grabber.get());
        grabber->ID = id;
        grabber->Name = id;
        grabber->Version = "Unknown";
        grabber->Author = "Unknown";
        grabber->InfoURL = "None";
        grabber->SourceURL = "None";
        bool encodingValid = false;
        std::string error;
        ProtectedCall(
            L,
            [&](lua_State* L) {
                if (!GetPath(L, {"Grabbers", id}) || !lua_istable(L, -1)) return;
                ReadCommonKeys(L, *grabber);
                if (GetField(L, "Encoding")) {
                    if (lua_isnumber(L, -1)) {
                        grabber->Encoding = static_cast<uint8_t>(TruncToInt64(lua_tonumber(L, -1)));
                        encodingValid = true;
                    }
                    Pop(L, 1);
                }
                if (GetField(L, "SourceURL")) {
                    grabber->SourceURL = lua_isstring(L, -1) ? ReadText(L, -1) : std::string();
                    Pop(L, 1);
                }
                if (GetField(L, "NoUserChannels")) {
                    grabber->NoUserChannels = lua_toboolean(L, -1) != 0;
                    Pop(L, 1);
                }
            },
            &error);
        if (!error.empty()) Log(error, false);
        if (!encodingValid) LogFmt(true, "Invalid encoding for grabber %s", id.c_str());
        LogFmt(true, "Grabber found: ID \"%s\", Name \"%s\", Version \"%s\"", grabber->ID.c_str(),
               grabber->Name.c_str(), grabber->Version.c_str());
        CallInit(*grabber);
        Log("   Loading grabber channels", true);
        RemoveStaleTempFiles(GrabberFolder(id) + "channels.lua");
        RemoveStaleTempFiles(GrabberFolder(id) + "userchannels.txt");
        LoadChannelCache(*grabber);
        LoadUserChannels(*grabber);
        LogFmt(true, "   Found %d channels, %d channels selected",
               grabber->AvailableChannels->Count() + grabber->SelectedChannels->Count(),
               grabber->SelectedChannels->Count());
        grabber->Enabled = IniFile->ReadBool("Grabbers", id, false);
        grabber->Order = IniFile->ReadInteger("GrabberOrder", id, -1);
        Grabbers.Append(std::move(grabber));
    }
    Grabbers.SortByOrder();
}

void TLuaGrabbers::BuildPostProcessorList() {
    lua_State* L = FLuaState.get();
    for (const std::string& id : RegistryKeys(*this, "PostProcs")) {
        auto processor = std::make_unique<TLuaPostProcessor>();
        TPendingScript pending(FPending, processor.get());
        processor->ID = id;
        processor->Name = id;
        processor->Version = "Unknown";
        processor->Author = "Unknown";
        processor->InfoURL = "None";
        std::string error;
        ProtectedCall(
            L,
            [&](lua_State* L) {
                if (!GetPath(L, {"PostProcs", id}) || !lua_istable(L, -1)) return;
                ReadCommonKeys(L, *processor);
                if (GetField(L, "Grabber")) {
                    processor->Grabber = ReadText(L, -1);
                    Pop(L, 1);
                }
            },
            &error);
        if (!error.empty()) Log(error, false);
        LogFmt(true, "Post Processor found: ID \"%s\", Name \"%s\", Version \"%s\"", processor->ID.c_str(),
               processor->Name.c_str(), processor->Version.c_str());
        CallInit(*processor);
        processor->Enabled = IniFile->ReadBool("Processors", id, false);
        processor->Order = IniFile->ReadInteger("ProcOrder", id, -1);
        PostProcessors.Append(std::move(processor));
    }
    PostProcessors.SortByOrder();
}

// ---- files left by a killed run -----------------------------------------------------------------

std::string TLuaGrabbers::InProgramFolder(const std::string& fileName) {
    return fileName.empty() || fileName[0] == '/' ? fileName : BaseDir + fileName;
}

void TLuaGrabbers::RemoveStaleTempFiles(const std::string& target) {
    if (target.empty()) return;
    for (const std::string& file : platform::RemoveStaleTempFiles(target))
        LogFmt(true, "Removed \"%s\", left by a run that did not finish", file.c_str());
}

// ---- calling scripts --------------------------------------------------------------------------

void TLuaGrabbers::CallScriptFunction(TLuaBase& script, const char* field, const char* failure) {
    lua_State* L = FLuaState.get();
    if (!L) return;
    const char* table = dynamic_cast<TLuaGrabber*>(&script) ? "Grabbers" : "PostProcs";
    std::string error;
    const int status = ProtectedCall(
        L,
        [&](lua_State* L) {
            if (!GetPath(L, {table, script.ID}) || !lua_istable(L, -1)) return;
            if (!GetField(L, field)) return;
            PushHandle(L, &script);
            lua_call(L, 1, 0);
        },
        &error);
    if (status != 0) LogFmt(false, failure, script.Name.c_str(), error.c_str());
}

void TLuaGrabbers::CallInit(TLuaBase& script) {
    if (dynamic_cast<TLuaGrabber*>(&script))
        CallScriptFunction(script, "Init", "Error calling Init function of grabber %s: %s");
    else
        CallScriptFunction(script, "Init", "Error calling Init fucntion of post processor %s: %s");
}

void TLuaGrabbers::CallOnShowSettings(TLuaBase& script) {
    CallScriptFunction(script, "OnShowSettings", "Error calling OnShowShowSettings function of grabber %s: %s");
}

std::string TLuaGrabbers::ReadSetting(const std::string& section, const std::string& key,
                                      const std::string& defaultValue) const {
    return IniFile ? IniFile->ReadString(section, key, defaultValue) : defaultValue;
}

std::optional<SYSTEMTIME> TLuaGrabbers::StartLimit() const {
    if (DayLimit == 0) return std::nullopt;
    return LimitTime;
}

TLuaBase* TLuaGrabbers::FindScript(const void* handle) const {
    if (!handle) return nullptr;
    if (handle == FPending) return FPending;
    for (const TLuaBase& script : Grabbers)
        if (&script == handle) return const_cast<TLuaBase*>(&script);
    for (const TLuaBase& script : PostProcessors)
        if (&script == handle) return const_cast<TLuaBase*>(&script);
    return nullptr;
}

// ---- log and callbacks ------------------------------------------------------------------------

void TLuaGrabbers::Log(const std::string& text, bool debugOnly) {
    if (debugOnly && !Debug) return;
    if (!OnLog) return;
    const SYSTEMTIME now = HostClock.LocalTime();
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%02u:%02u:%02u", now.wHour, now.wMinute, now.wSecond);
    OnLog(std::string(stamp) + " - " + text);
}

void TLuaGrabbers::LogRaw(const std::string& line) {
    if (OnLog) OnLog(line);
}

void TLuaGrabbers::LogFmt(bool debugOnly, const char* format, ...) {
    if (!OnLog || (debugOnly && !Debug)) return;
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    if (length > 0) std::vsnprintf(text.data(), text.size() + 1, format, args);
    va_end(args);
    Log(text, debugOnly);
}

void TLuaGrabbers::SetPriority(int32_t level) { platform::SetPriorityClass(level); }

void TLuaGrabbers::DoProgress(int32_t bar, int32_t value, int32_t mode) {
    if (OnProgress) OnProgress(bar, value, mode);
}

void TLuaGrabbers::DoStatus(int32_t line, const std::string& text) {
    if (OnStatus) OnStatus(line, text);
}

void TLuaGrabbers::DoDownloadStats(const std::string& speed, const std::string& remaining,
                                   const std::string& downloaded) {
    if (OnDownloadStats) OnDownloadStats(speed, remaining, downloaded);
}

std::string TLuaGrabbers::GetLogText() { return OnGetLog ? OnGetLog() : std::string(); }

// ---- the count hook ---------------------------------------------------------------------------

// Script code that runs long (a slow parser, an endless loop) still lets the front end process its
// events now and then, and a stop asked for meanwhile ends the script where it is: the item fails
// with the error "Stopped" like any script error. Coroutines inherit the hook.
void TLuaGrabbers::CountHook(lua_State* L, lua_Debug*) {
    auto* engine = dynamic_cast<TLuaGrabbers*>(FindScriptHost(L));
    if (!engine) return;
    std::string failure;
    try {
        engine->DoProgress(-1, -1, -1);   // only asks the front end to stay alive
    } catch (const std::exception& e) {
        failure = e.what();
    }
    if (failure.empty() && engine->FStoppable && engine->Stop) failure = "Stopped";
    if (failure.empty()) return;
    PushText(L, failure);
    lua_error(L);
}

std::string JoinLogLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line;
        text += "\r\n";
    }
    return text;
}

// ---- panic ------------------------------------------------------------------------------------

int TLuaGrabbers::Panic(lua_State* L) {
    // The process ends after this, and a front end's screen may be gone with it: the message goes
    // to standard error too.
    std::fprintf(stderr, "Lua Panic: %s\n", ErrorText(L, -1).c_str());
    TLuaGrabbers* engine = LuaGrabbers;
    if (!engine) return 0;
    if (engine->OnPanic) engine->OnPanic();
    try {
        engine->Destroy();
    } catch (const std::exception& e) {
        // The process ends right after this: standard error is the last place to say it.
        std::fprintf(stderr, "%s\n", e.what());
    }
    return 0;   // the Lua library then ends the process with a failure status
}

// ---- shutdown ---------------------------------------------------------------------------------

void TLuaGrabbers::DeleteTempFiles() {
    std::vector<std::string> files;
    FindFiles(BaseDir + "temp/", "*", true, files, TLinks::AsFiles);   // a link goes, never what it leads to
    for (const std::string& file : files) platform::DeleteFile(file);
}

void TLuaGrabbers::SaveLogFile() {
    const std::string text = GetLogText();
    std::string error;
    if (!platform::WriteFileSafely(LogFile, text, &error))
        throw std::runtime_error("Cannot create file \"" + LogFile + "\". " + error);
}

void TLuaGrabbers::Destroy() {
    if (FDestroyed) return;
    FDestroyed = true;
    std::exception_ptr failure;
    // Every step runs; the first failure is raised once the Lua state is closed.
    const auto step = [&failure](const auto& action) {
        try {
            action();
        } catch (const std::exception&) {
            if (!failure) failure = std::current_exception();
        }
    };
    // 1. and 2.
    step([&] { WriteSettings(); });
    step([&] {
        HTTPFunctions.reset();
        HTTPClient.reset();
    });
    // 3. and 4.: the order written is the position in the sorted list, counted from 1. Each
    // grabber's selection is written as the grabber goes; a file that cannot be written is
    // reported in the run log, and the shutdown goes on.
    step([&] {
        int position = 0;
        for (const TLuaBase& script : Grabbers) {
            IniFile->WriteBool("Grabbers", script.ID, script.Enabled);
            IniFile->WriteInteger("GrabberOrder", script.ID, ++position);
        }
    });
    step([&] {
        for (TLuaBase& script : Grabbers) {
            if (script.ID.empty()) continue;
            try {
                SaveUserChannels(static_cast<TLuaGrabber&>(script));
            } catch (const std::exception& e) {
                Log(e.what(), false);
            }
        }
        Grabbers.Clear();
    });
    step([&] {
        int position = 0;
        for (const TLuaBase& script : PostProcessors) {
            IniFile->WriteBool("Processors", script.ID, script.Enabled);
            IniFile->WriteInteger("ProcOrder", script.ID, ++position);
        }
    });
    step([&] { PostProcessors.Clear(); });
    // 5.
    step([&] { IniFile->UpdateFile(); });
    // 6.
    step([&] { DeleteTempFiles(); });
    // 7. The mail first: the log file then holds its lines too. A log file that is the output
    // file would replace the listings: it is not written, and the log says why.
    const bool logIsOutput = SaveLog && platform::SameFile(LogFile, OutFile);
    if (logIsOutput) LogFmt(false, "Log file \"%s\" is the output file: the log is not saved", LogFile.c_str());
    step([&] {
        if (EMailLog && AllowMail) SendLogMail();
    });
    step([&] {
        if (SaveLog && !logIsOutput) SaveLogFile();
    });
    // 8.
    FLuaState.reset();
    if (LuaGrabbers == this) LuaGrabbers = nullptr;
    FSettingsLock.Unlock();
    if (failure) std::rethrow_exception(failure);
}

TLuaGrabbers::~TLuaGrabbers() {
    try {
        Destroy();
    } catch (const std::exception&) {
        // Only an owner that did not call Destroy gets here; it chose not to hear of the failure.
    }
    if (LuaGrabbers == this) LuaGrabbers = nullptr;
}
