// The grab engine, and its public header for the front ends: the Lua state, the scripts it runs and
// the registry of grabbers and post processors they declare (their records are in
// scriptapi/scriptrecords.h), the settings, the grab run, the log and the shutdown that writes
// them back.
#pragma once

#include <lua.hpp>

#include <cstdarg>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/inifile.h"
#include "listings/linklists.h"
#include "listings/timezones.h"
#include "listings/uxmltvrecs.h"
#include "net/httpclient.h"
#include "net/httpfunctions.h"
#include "platform/files.h"
#include "platform/systime.h"
#include "scriptapi/scripthost.h"
#include "scriptapi/scriptrecords.h"
#include "util/version.h"   // kTavrinVersion, shown by the front ends and written as the generator

class TLuaGrabbers;

// Module-wide values, one per process.
extern std::string BaseDir;       // the program folder, ending in "/"; settable before an engine is created
extern std::string SettingsDir;   // "settings", or the folder named by a front end's C switch
extern TLuaGrabbers* LuaGrabbers; // the engine that exists, if any: how the front ends and dialogs reach it

// Sets BaseDir to this process's program folder: the executable's own, or for an installed program
// the user's own folder, made or brought up to date first (platform/userfolder.h). The front ends
// call it once at start; false, with the reason, when that folder cannot be made.
bool UseProgramFolder(std::string& error);

// The folder of a grabber's channel files, ending in "/".
std::string GrabberFolder(const std::string& grabberID);
// The content of "channels.lua" for the grabber's ID and channels, lines ended by CR LF.
std::string ChannelCacheText(const std::string& grabberID, const TChanList& channels);

// ---- the engine -------------------------------------------------------------------------------

// Callbacks to the front end; each may be unset.
using TLogEvent = std::function<void(const std::string& line)>;
using TPanicEvent = std::function<void()>;
using TDownloadStatsEvent =
    std::function<void(const std::string& speed, const std::string& remaining, const std::string& downloaded)>;
using TStatusEvent = std::function<void(int32_t line, const std::string& text)>;
using TProgressEvent = std::function<void(int32_t bar, int32_t value, int32_t mode)>;
using TGetLogEvent = std::function<std::string()>;

// The log text a front end gives OnGetLog from the lines it kept: each line ended by CR LF.
std::string JoinLogLines(const std::vector<std::string>& lines);

struct TLuaStateCloser {
    void operator()(lua_State* L) const { lua_close(L); }
};

// The engine is the script API's host (scriptapi/scripthost.h) and keeps the grabbers' channel
// files (scriptapi/scriptrecords.h).
class TLuaGrabbers : public TScriptHost, public TChannelKeeper {
public:
    // Reads the settings, opens the Lua state, registers the script API, runs the init files and
    // every script below "scripts/" and builds the registry, calling each script's Init.
    TLuaGrabbers(TLogEvent onLog, TPanicEvent onPanic);
    // Shuts down when Destroy has not (a failure of that shutdown is then lost: call Destroy).
    ~TLuaGrabbers() override;
    TLuaGrabbers(const TLuaGrabbers&) = delete;
    TLuaGrabbers& operator=(const TLuaGrabbers&) = delete;

    // The shutdown, once: writes the settings back and to disk, empties "temp/", reports (log
    // file) and closes the Lua state. Every step runs; the first failure (the settings or the log
    // file cannot be written) is raised at the end.
    void Destroy();

    // Passes "HH:MM:SS - text" to OnLog; a debug-only line only when Debug is on.
    void Log(const std::string& text, bool debugOnly = false) override;
    void LogFmt(bool debugOnly, const char* format, ...) __attribute__((format(printf, 3, 4)));

    // 0 idle, 1 below normal, 2 normal, 3 above normal, 4 high, 5 real-time, anything else normal.
    void SetPriority(int32_t level);

    // Calls the script's Init / OnShowSettings with its handle in protected mode; a failure is logged.
    void CallInit(TLuaBase& script);
    void CallOnShowSettings(TLuaBase& script);

    // One grab run: every enabled grabber's passes, then the post processors', the programmes
    // combined under XMLTV channel ids, sorted when DoXMLSort is on and written to OutFile; the
    // channel files are reloaded at the end. Returns the process exit status (ExitStatus).
    int32_t Grab();
    // 0, or 2 once a pass of a run of this engine has failed; never set back.
    int32_t ExitStatus = 0;
    // Recomputes the download statistics of the current pass and reports them (OnDownloadStats).
    void UpdateDownloadStats(int32_t total, int32_t done);

    // ---- the script host
    // The record a script handle points at, when it is one of this engine's scripts (also the one
    // being registered, whose Init runs before it joins its list).
    TLuaBase* FindScript(const void* handle) const override;
    TLuaGrabber* FindGrabber(const std::string& id) const override { return Grabbers.FindByID(id); }
    void LogRaw(const std::string& line) override;
    std::string ReadSetting(const std::string& section, const std::string& key,
                            const std::string& defaultValue) const override;
    std::optional<SYSTEMTIME> StartLimit() const override;   // LimitTime while DayLimit is set
    // Hands the call's credentials, the "Connection" fields and the counters to the client, so the
    // settings dialog's changes apply from the next request on; the counters come back afterwards.
    TPageResult FetchPage(const TPageRequest& request, const std::string* postVars) override;
    void SetAcceptEncoding(const std::string& encoding) override;
    void CleanCache(const std::optional<std::string>& scriptID, int32_t maxDays) override;

    // ---- the grabbers' channel files (engine/uluagrabbers_chans.cpp): in the grabber's folder of
    // the settings folder; reading falls back to the default "settings" folder.
    void LoadChannelCache(TLuaGrabber& grabber) override;   // runs the cache, then the script's GetChans
    void LoadUserChannels(TLuaGrabber& grabber) override;
    void SaveUserChannels(TLuaGrabber& grabber) override;   // raises std::runtime_error when not written
    void SaveChannelCache(TLuaGrabber& grabber) override;   // the same
    void RefreshChannelList(TLuaGrabber& grabber) override;

    // The callbacks, each called only when set (an unset OnGetLog gives the empty text).
    void DoProgress(int32_t bar, int32_t value, int32_t mode) override;
    void DoStatus(int32_t line, const std::string& text) override;
    void DoDownloadStats(const std::string& speed, const std::string& remaining, const std::string& downloaded);
    std::string GetLogText();

    // Runs a Lua file; a failure to load or run it is logged (always) with Lua's message, as the
    // script host of old did through _ALERT. Returns whether it ran.
    bool RunFile(const std::string& fileName);

    // Writes the log text to LogFile (relative names: the current folder). Raises
    // std::runtime_error when the file cannot be written.
    void SaveLogFile();

    // The "Connection" fields, the current credentials and the counters to the client, and the
    // counters back to BytesDownloaded and Downloads.
    void ApplyConnectionSettings();
    void TakeDownloadCounters();
    // Mails the log text (OnGetLog) to EMailAddress through EMailServer; a failure is logged only.
    void SendLogMail();

    lua_State* LuaState() const { return FLuaState.get(); }
    const std::string& SettingsFileName() const { return IniFile->FileName(); }

    TLogEvent OnLog;
    TPanicEvent OnPanic;
    TDownloadStatsEvent OnDownloadStats;
    TStatusEvent OnStatus;
    TProgressEvent OnProgress;
    TGetLogEvent OnGetLog;

    int64_t BytesAtLastSample = 0;
    int64_t BytesDownloaded = 0;
    int32_t Downloads = 0;
    uint32_t LastSampleTick = 0;
    uint32_t PassStartTick = 0;
    int32_t PassSeconds = 0;
    std::unique_ptr<TIniFile> IniFile;
    int32_t DayLimit = 0;
    SYSTEMTIME LimitTime{};
    TGrabberList Grabbers;
    TPostProcessorList PostProcessors;
    std::string TimeZoneName;
    TTimeZone TimeZone{};
    uint8_t CharSet = 1;
    std::string OutFile;
    std::string XMLSort;
    bool DoXMLSort = false;
    bool SortRev = false;
    bool SaveLog = true;
    std::string LogFile;
    bool EMailLog = false;
    bool AttachXML = false;
    std::string EMailServer;
    std::string EMailAddress;
    int32_t MaxRetries = 3;
    int32_t RetryDelay = 3000;
    SYSTEMTIME StartTime{};       // local time of the engine's creation, from the host clock
    double StartDateTime = 0;     // the same, in days since 1899-12-30: cache ages count from it
    bool Stop = true;
    bool Debug = false;
    bool AllowMail = true;
    std::string ProxyUsername;
    std::string ProxyPassword;
    std::string WebUsername;
    std::string WebPassword;
    // Held here for the HTTP client, which configures itself from them and hands them back.
    int32_t ConnectTimeout = 10000;
    int32_t ReadTimeout = 10000;
    int32_t MaxPageSize = 256;    // MiB a downloaded page may have
    std::string Proxy;
    int32_t ProxyPort = 0;
    // The one HTTP client and the page functions over it (cache, retries), from creation until
    // the shutdown frees them.
    std::unique_ptr<THTTPClient> HTTPClient;
    std::unique_ptr<THTTPFunctions> HTTPFunctions;
    int32_t MailPort = 25;   // the standard SMTP port; tests point it at their own sink

private:
    void CreateHTTPClient();
    void ReadSettings();
    void WriteSettings();
    void OpenLuaState();
    void LoadScripts();
    void BuildGrabberList();
    void BuildPostProcessorList();
    void CallScriptFunction(TLuaBase& script, const char* field, const char* failure);
    void DeleteTempFiles();
    // A relative file name as the run takes it, in the program folder.
    static std::string InProgramFolder(const std::string& fileName);
    // Removes the temporary files a killed run left beside the target (debug-only log lines).
    void RemoveStaleTempFiles(const std::string& target);
    static int Panic(lua_State* L);
    static void CountHook(lua_State* L, lua_Debug* ar);

    platform::FolderLock FSettingsLock;   // held from creation to the end of the shutdown
    std::unique_ptr<lua_State, TLuaStateCloser> FLuaState;
    TLuaBase* FPending = nullptr;   // the record being registered
    bool FStoppable = false;        // while a run's passes run: Stop ends the script that runs
    bool FDestroyed = false;
};
