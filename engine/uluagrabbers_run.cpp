// Engine layer: the grab run: the grabbers' passes, the post processors' passes, combining the
// programmes under XMLTV channel ids, sorting and writing the XMLTV file, and the download
// statistics of a pass.
#include <cstdio>
#include <exception>
#include <memory>
#include <string>

#include "engine/uluagrabbers.h"
#include "listings/uxmltv.h"
#include "platform/files.h"
#include "scriptapi/luahelpers.h"
#include "scriptapi/uluafuncs_tvrn.h"
#include "scriptapi/uluarecords.h"
#include "util/textutils.h"

namespace {

// A status text with a pass number and a script's name.
std::string NumberAndName(const char* format, int number, const std::string& name) {
    const int length = std::snprintf(nullptr, 0, format, number, name.c_str());
    std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    if (length > 0) std::snprintf(text.data(), text.size() + 1, format, number, name.c_str());
    return text;
}

// ---- calling script functions -----------------------------------------------------------------

// What a script function gave back. For the passes that take records back, a table result is read
// inside the protected call (reading may raise Lua's indexing error).
enum class TWant { Status, Program, Channel };

struct TCallResult {
    bool Raised = false;
    bool IsNumber = false;
    int32_t Number = 0;
    std::unique_ptr<TProgram> Program;
    std::unique_ptr<TChannel> Channel;
};

struct TCallRequest {
    TWant Want;
    TCallResult* Out;
};

// Stack: request (light userdata), function, arguments.
int CallAndRead(lua_State* L) {
    auto* request = static_cast<TCallRequest*>(lua_touserdata(L, 1));
    lua_call(L, lua_gettop(L) - 2, 1);
    TCallResult& out = *request->Out;
    if (lua_isnumber(L, -1)) {
        out.IsNumber = true;
        out.Number = TruncToInt32(lua_tonumber(L, -1));
    } else if (lua_istable(L, -1)) {
        if (request->Want == TWant::Program) out.Program = ReadProgram(L);
        else if (request->Want == TWant::Channel) out.Channel = ReadChannel(L);
    }
    return 0;
}

// Calls the function at funcIndex with the `nargs` values on top of the stack (which it pops) in
// protected mode. A raised error is logged unchanged and marks the result.
TCallResult CallScript(TLuaGrabbers& engine, int funcIndex, int nargs, TWant want) {
    lua_State* L = engine.LuaState();
    TCallResult result;
    TCallRequest request{want, &result};
    const int argsAt = lua_gettop(L) - nargs + 1;
    lua_pushcfunction(L, Guarded<CallAndRead>);
    lua_pushlightuserdata(L, &request);
    lua_pushvalue(L, funcIndex);
    for (int i = 0; i < nargs; ++i) lua_pushvalue(L, argsAt + i);
    const int status = lua_pcall(L, nargs + 2, 0, 0);
    if (status != 0) {
        result = TCallResult();
        result.Raised = true;
        engine.Log(ErrorText(L, -1), false);
        Pop(L, 1);
    }
    Pop(L, nargs);
    return result;
}

// A status result: failed when raised or a number other than 0.
bool Failed(const TCallResult& r) { return r.Raised || (r.IsNumber && r.Number != 0); }

// Reads key of the table at `index` onto the stack top in protected mode (a metatable may run
// script code). Absent (nil), an error (logged) or not a table at index: false, nothing pushed.
int GetFieldBody(lua_State* L) {
    lua_gettable(L, 1);
    return 1;
}

bool SafeField(TLuaGrabbers& engine, int index, const std::string& key) {
    lua_State* L = engine.LuaState();
    index = index < 0 ? lua_gettop(L) + index + 1 : index;
    if (!lua_istable(L, index)) return false;
    lua_pushcfunction(L, GetFieldBody);
    lua_pushvalue(L, index);
    PushText(L, key);
    if (lua_pcall(L, 2, 1, 0) != 0) {
        engine.Log(ErrorText(L, -1), false);
        Pop(L, 1);
        return false;
    }
    if (lua_isnil(L, -1)) {
        Pop(L, 1);
        return false;
    }
    return true;
}

// A number field of the pass table, truncated; absent when missing or not a number.
bool NumberField(TLuaGrabbers& engine, int table, const char* key, int32_t& value) {
    if (!SafeField(engine, table, key)) return false;
    lua_State* L = engine.LuaState();
    const bool isNumber = lua_isnumber(L, -1) != 0;
    if (isNumber) value = TruncToInt32(lua_tonumber(L, -1));
    Pop(L, 1);
    return isNumber;
}

SYSTEMTIME Today() {
    SYSTEMTIME t = HostClock.LocalTime();
    t.wHour = t.wMinute = t.wSecond = t.wMilliseconds = 0;
    t.wDayOfWeek = 0;
    return t;
}

// ---- the texts of a script kind ---------------------------------------------------------------

struct TPassTexts {
    const char* Status;
    const char* Starting;
    const char* Finished;
    const char* StartFailed;
    const char* EndFailed;
    const char* InvalidType;
};

const TPassTexts kGrabberTexts = {
    "Pass %d of Grabber %s",
    "Starting pass %d of grabber %s",
    "   Finished pass %d of grabber %s",
    "Grab failed during start function of pass %d",
    "Grab failed during end function of pass %d",
    "   Invalid pass type for pass %d of grabber %s",
};

const TPassTexts kProcessorTexts = {
    "Pass %d of Processor %s",
    "Starting pass %d of processor %s",
    "   Finished pass %d of processor %s",
    "Process failed during start function of pass %d",
    "Process failed during end function of pass %d",
    "   Invalid pass type for pass %d of processor %s",
};

// ---- one script's passes ----------------------------------------------------------------------

class TPassRunner {
public:
    TPassRunner(TLuaGrabbers& engine, TLuaBase& script, bool processor)
        : E(engine), L(engine.LuaState()), S(script), FProcessor(processor),
          T(processor ? kProcessorTexts : kGrabberTexts) {}

    // The script's table is on top of the stack; runs its Passes, if any, and leaves the stack.
    void Run();

private:
    bool CallStartOrEnd(const char* key, const char* failure);
    void RunType(int32_t type);
    bool HasFunc(const char* message);

    void GrabberChannels();
    void GrabberTimeSteps(int32_t type);
    void GrabberPrograms(bool window);
    void ProcessorChannels();
    void ProcessorPrograms();
    bool ProcessPrograms(TLuaGrabber& grabber, bool window, int32_t startHour, int32_t stopHour, bool processor);

    TLuaGrabbers& E;
    lua_State* L;
    TLuaBase& S;
    bool FProcessor;
    const TPassTexts& T;
    int FNumber = 0;
    int FPass = 0;   // stack index of the pass table
    int FFunc = 0;   // stack index of Func once checked
};

void TPassRunner::Run() {
    StackGuard guard(L);
    const int scriptTable = lua_gettop(L);
    if (!SafeField(E, scriptTable, "Passes")) return;
    const int passes = lua_gettop(L);
    for (FNumber = 1; !E.Stop; ++FNumber) {
        if (!SafeField(E, passes, "Pass" + std::to_string(FNumber))) break;
        FPass = lua_gettop(L);
        FFunc = 0;
        E.PassStartTick = platform::TickCount();
        E.DoStatus(1, NumberAndName(T.Status, FNumber, S.Name));
        int32_t type = 0;
        const bool hasType = SafeField(E, FPass, "Type");
        if (hasType) {
            type = lua_isnumber(L, -1) ? TruncToInt32(lua_tonumber(L, -1)) : 0;
            Pop(L, 1);
            E.LogFmt(false, T.Starting, FNumber, S.ID.c_str());
            if (!CallStartOrEnd("Start", T.StartFailed)) return;
            RunType(type);
            if (!E.Stop && !CallStartOrEnd("End", T.EndFailed)) return;
            E.LogFmt(false, T.Finished, FNumber, S.ID.c_str());
        }
        lua_settop(L, passes);
        lua_gc(L, LUA_GCCOLLECT, 0);
    }
}

// Start and End get the script's own handle. An error raised there is logged and counts as 0.
bool TPassRunner::CallStartOrEnd(const char* key, const char* failure) {
    if (!SafeField(E, FPass, key)) return true;
    const int func = lua_gettop(L);
    PushHandle(L, &S);
    const TCallResult r = CallScript(E, func, 1, TWant::Status);
    Pop(L, 1);
    if (r.IsNumber && r.Number != 0) {
        E.LogFmt(false, failure, FNumber);
        E.ExitStatus = 2;
        lua_gc(L, LUA_GCCOLLECT, 0);
        return false;
    }
    return true;
}

void TPassRunner::RunType(int32_t type) {
    if (!FProcessor) {
        switch (type) {
            case 1: GrabberChannels(); return;
            case 2:
            case 6: GrabberTimeSteps(type); return;
            case 3: GrabberPrograms(false); return;
            case 4: GrabberPrograms(true); return;
            case 5: return;
        }
    } else {
        switch (type) {
            case 1: ProcessorChannels(); return;
            case 3: ProcessorPrograms(); return;
            case 5: return;
        }
    }
    E.LogFmt(false, T.InvalidType, FNumber, S.ID.c_str());
}

bool TPassRunner::HasFunc(const char* message) {
    if (FFunc != 0) return true;
    if (SafeField(E, FPass, "Func")) {
        FFunc = lua_gettop(L);
        return true;
    }
    E.LogFmt(false, message, FNumber, S.ID.c_str());
    E.ExitStatus = 2;
    return false;
}

// Type 1: each selected channel; the first failure ends the pass's items.
void TPassRunner::GrabberChannels() {
    auto& grabber = static_cast<TLuaGrabber&>(S);
    const int32_t n = grabber.SelectedChannels->Count();
    if (n == 0) return;
    if (!HasFunc("Pass %d of grabber %s has no function defined")) return;
    E.DoProgress(1, n, 1);
    for (int32_t i = 1; i <= n && !E.Stop; ++i) {
        E.DoProgress(1, i, 2);
        TChannel* channel = grabber.SelectedChannels->GetItem(i);
        PushHandle(L, &grabber);
        PushChannel(L, *channel);
        lua_pushnumber(L, E.DayLimit);
        if (Failed(CallScript(E, FFunc, 3, TWant::Status))) {
            E.LogFmt(false, "Grab failed on channel \"%s\"", channel->ID.c_str());
            E.ExitStatus = 2;
            return;
        }
        E.UpdateDownloadStats(n, i);
    }
}

// Types 2 (per channel and time step) and 6 (per time step).
void TPassRunner::GrabberTimeSteps(int32_t type) {
    auto& grabber = static_cast<TLuaGrabber&>(S);
    int32_t interval = 0;
    // Below one minute the steps would never advance: such an interval counts as none.
    if (!NumberField(E, FPass, "Interval", interval) || interval < 1) {
        E.LogFmt(false, "Pass %d of grabber %s has no interval defined", FNumber, S.ID.c_str());
        E.ExitStatus = 2;
        return;
    }
    int32_t maxDays = 0;
    if (!NumberField(E, FPass, "MaxDays", maxDays)) {
        E.LogFmt(false, "Pass %d of grabber %s has no maximumnumber of days defined", FNumber, S.ID.c_str());
        E.ExitStatus = 2;
        return;
    }
    int32_t days = maxDays;
    if (E.DayLimit != 0 && E.DayLimit < days) days = E.DayLimit;
    if (days < 0) days = 0;
    if (days > 0xFFFF) days = 0xFFFF;
    SYSTEMTIME span{};
    span.wDay = static_cast<uint16_t>(days);
    const SYSTEMTIME end = AddTime(Today(), span);
    SYSTEMTIME step{};
    step.wHour = static_cast<uint16_t>(interval / 60 > 0xFFFF ? 0xFFFF : interval / 60);
    step.wMinute = static_cast<uint16_t>(interval % 60);

    const int32_t n = grabber.SelectedChannels->Count();
    if (type == 2 && n == 0) return;
    if (!HasFunc("Pass %d of grabber %s has no function defined")) return;
    const int64_t perChannel = static_cast<int64_t>(days) * 1440 / interval;
    const int64_t wide = type == 2 ? static_cast<int64_t>(days) * n * 1440 / interval : perChannel;
    const int32_t total = wide > INT32_MAX ? INT32_MAX : static_cast<int32_t>(wide);
    E.DoProgress(1, total, 1);
    int32_t calls = 0;

    if (type == 6) {
        for (SYSTEMTIME t = Today(); CompareTime(t, end) < 0 && !E.Stop; t = AddTime(t, step)) {
            E.DoProgress(1, ++calls, 2);
            PushHandle(L, &grabber);
            PushTimeTable(L, t);
            if (Failed(CallScript(E, FFunc, 2, TWant::Status))) {
                E.Log("Grab failed", false);
                E.ExitStatus = 2;
                return;
            }
            E.UpdateDownloadStats(total, calls);
        }
        return;
    }
    for (int32_t i = 1; i <= n && !E.Stop; ++i) {
        TChannel* channel = grabber.SelectedChannels->GetItem(i);
        for (SYSTEMTIME t = Today(); CompareTime(t, end) < 0 && !E.Stop; t = AddTime(t, step)) {
            E.DoProgress(1, ++calls, 2);
            PushHandle(L, &grabber);
            PushChannel(L, *channel);
            PushTimeTable(L, t);
            if (Failed(CallScript(E, FFunc, 3, TWant::Status))) {
                E.LogFmt(false, "Grab failed on channel \"%s\"", channel->ID.c_str());
                E.ExitStatus = 2;
                break;   // on with the next channel
            }
            E.UpdateDownloadStats(total, calls);
        }
    }
}

// Whether a programme lies outside the hour window of a type 4 pass; only hours are compared.
bool OutsideWindow(const TProgram& p, int32_t s, int32_t e) {
    const int32_t a = p.Start.wHour;
    const int32_t b = p.Stop.wHour;
    if (s < e) return b < s || a >= e;
    return a < s && b >= e;
}

// Types 3 and 4.
void TPassRunner::GrabberPrograms(bool window) {
    auto& grabber = static_cast<TLuaGrabber&>(S);
    if (grabber.Programs->Count() == 0) return;
    int32_t startHour = 0, stopHour = 0;
    if (window) {
        if (!NumberField(E, FPass, "StartTime", startHour)) {
            E.LogFmt(false, "No start time specified for pass %d", FNumber);
            window = false;
        } else if (!NumberField(E, FPass, "StopTime", stopHour)) {
            E.LogFmt(false, "No stop time specified for pass %d", FNumber);
            window = false;
        }
    }
    if (!HasFunc("Pass %d of grabber %s has no function defined")) return;
    ProcessPrograms(grabber, window, startHour, stopHour, false);
}

// Hands each programme of the grabber to Func, from the front of its list, into a new list. A
// failure or a stop ends the loop; the programmes not processed then are kept unchanged behind the
// processed ones, so that neither loses what the grabber collected. Returns false on a failure.
bool TPassRunner::ProcessPrograms(TLuaGrabber& grabber, bool window, int32_t startHour, int32_t stopHour,
                                  bool processor) {
    TProgList& old = *grabber.Programs;
    auto fresh = std::make_unique<TProgList>();
    const int32_t n = old.Count();
    bool failed = false;
    E.DoProgress(1, n, 1);
    for (int32_t i = 1; i <= n && !E.Stop && !failed; ++i) {
        E.DoProgress(1, i, 2);
        TProgram* program = old.FirstItem();
        if (window && OutsideWindow(*program, startHour, stopHour)) {
            fresh->AddProgram(old.Remove(true, 1));
            continue;
        }
        PushHandle(L, &grabber);
        PushProgram(L, *program);
        TCallResult r = CallScript(E, FFunc, 2, TWant::Program);
        if (r.Raised || (r.IsNumber && r.Number != 0)) {
            E.LogFmt(false, "Grab failed on program \"%s\"", program->ID.c_str());
            E.ExitStatus = 2;
            failed = true;
            break;
        }
        if (r.Program) {
            r.Program->Encoding = processor ? program->Encoding : grabber.Encoding;
            fresh->AddProgram(std::move(r.Program));
        }
        old.Delete(1);
        E.UpdateDownloadStats(n, i);
    }
    while (old.Count() > 0) fresh->AddProgram(old.Remove(true, 1));
    grabber.Programs = std::move(fresh);
    return !failed;
}

// The grabbers a post processor works on: all in list order, or the one its Grabber field names.
template <class F>
void ForProcessedGrabbers(TLuaGrabbers& engine, const TLuaPostProcessor& processor, F each) {
    if (!processor.Grabber.empty()) {
        if (TLuaGrabber* g = engine.Grabbers.FindByID(processor.Grabber)) each(*g);
        return;
    }
    for (TLuaBase& script : engine.Grabbers) {
        if (engine.Stop) return;
        each(static_cast<TLuaGrabber&>(script));
    }
}

// Post-processor type 1: each selected channel of each processed grabber, replaced or dropped.
void TPassRunner::ProcessorChannels() {
    ForProcessedGrabbers(E, static_cast<TLuaPostProcessor&>(S), [&](TLuaGrabber& grabber) {
        TChanList& old = *grabber.SelectedChannels;
        const int32_t n = old.Count();
        if (n == 0) return;
        if (!HasFunc("Pass %d of processor %s has no function defined")) return;
        auto fresh = std::make_unique<TChanList>(false);
        E.DoProgress(1, n, 1);
        for (int32_t i = 1; i <= n && !E.Stop; ++i) {
            E.DoProgress(1, i, 2);
            TChannel* channel = old.FirstItem();
            PushHandle(L, &grabber);
            PushChannel(L, *channel);
            TCallResult r = CallScript(E, FFunc, 2, TWant::Channel);
            if (r.Raised || (r.IsNumber && r.Number != 0)) {
                E.LogFmt(false, "Process failed on channel \"%s\"", channel->ID.c_str());
                E.ExitStatus = 2;
                break;
            }
            if (r.Channel) {
                r.Channel->Encoding = channel->Encoding;
                fresh->Append(std::move(r.Channel));
            }
            old.Delete(1);
            E.UpdateDownloadStats(n, i);
        }
        // Channels not reached (a failure or a stop) stay selected, in their order.
        while (old.Count() > 0) fresh->Append(old.Remove(true, 1));
        grabber.SelectedChannels = std::move(fresh);
    });
}

// Post-processor type 3: each programme of each processed grabber, replaced or dropped.
void TPassRunner::ProcessorPrograms() {
    ForProcessedGrabbers(E, static_cast<TLuaPostProcessor&>(S), [&](TLuaGrabber& grabber) {
        if (grabber.Programs->Count() == 0) return;
        if (!HasFunc("Pass %d of grabber %s has no function defined")) return;
        ProcessPrograms(grabber, false, 0, 0, true);
    });
}

// ---- combining and writing --------------------------------------------------------------------

// A time the file can hold: possible as given (UTC) and in the output zone.
bool Writable(const SYSTEMTIME& utc, const TTimeZone& zone) {
    std::string offset;
    return IsPossibleTime(utc) && IsPossibleTime(ToZone(utc, zone, offset));
}

// Scripts hand over missing, impossible or reversed times; none reaches the file. Without a start
// a programme cannot be written (false); an impossible stop, or one before the start, and the other
// impossible times are dropped from a programme that is kept.
bool MendTimes(TProgram& p, const TTimeZone& zone) {
    if (!Writable(p.Start, zone)) return false;
    if (p.Stop.wYear != 0 && (!Writable(p.Stop, zone) || CompareTime(p.Stop, p.Start) < 0)) p.Stop = SYSTEMTIME{};
    if (p.PDCStart.wYear != 0 && !Writable(p.PDCStart, zone)) p.PDCStart = SYSTEMTIME{};
    if (p.VPSStart.wYear != 0 && !Writable(p.VPSStart, zone)) p.VPSStart = SYSTEMTIME{};
    return true;
}

void Combine(TLuaGrabbers& engine, TChanList& channels, TProgList& programs) {
    engine.Log("Combining Grabber Programs", false);
    for (TLuaBase& script : engine.Grabbers) {
        int32_t withoutStart = 0;
        auto& grabber = static_cast<TLuaGrabber&>(script);
        if (grabber.Enabled) {
            for (TChannel& channel : *grabber.SelectedChannels) {
                if (channel.XML_ID.empty()) channel.XML_ID = grabber.ID + "_" + channel.ID;
                channels.Append(&channel);
            }
        }
        // The grabber's list (its nodes and index) goes before the combined list grows, so that a
        // large grab never holds both.
        std::vector<std::unique_ptr<TProgram>> taken;
        taken.reserve(static_cast<size_t>(grabber.Programs->Count()));
        for (TProgram& program : *grabber.Programs) taken.emplace_back(&program);
        grabber.Programs->Clear(true);
        // Programmes of one channel come in runs: the last lookup is kept.
        const TChannel* last = nullptr;
        for (std::unique_ptr<TProgram>& program : taken) {
            const TChannel* channel = last && last->ID == program->Channel ? last : nullptr;
            if (!channel && grabber.SelectedChannels->FindID(program->Channel))
                channel = grabber.SelectedChannels->Current();
            if (channel && !MendTimes(*program, engine.TimeZone)) {
                ++withoutStart;
                program.reset();
            } else if (channel) {
                last = channel;
                program->XMLChannel = channel->XML_ID;
                program->ID.clear();
                programs.AddProgram(std::move(program));
            } else {
                engine.LogFmt(true, "Channel not found for program %s", FirstValue(program->Title).c_str());
                program.reset();
            }
        }
        if (withoutStart > 0)
            engine.LogFmt(false, "   %d programs of grabber %s left out: no valid start time", withoutStart,
                          grabber.ID.c_str());
    }
    engine.Log("   Finished Combining Grabber Programs", false);
    engine.DoStatus(2, "");
    engine.DoStatus(3, "");
}

void WriteXML(TLuaGrabbers& engine, const TChanList& channels, const TProgList& programs) {
    engine.Log("Writing XML", false);
    try {
        if (programs.Count() == 0) {
            engine.Log("No programs found, aborting xml writing", false);
            return;
        }
        // The writer fills a temporary file beside OutFile and puts it in place, flushed to disk, only
        // on Close: TV software never sees half a file, and after an error or a power cut the
        // previous listings stay.
        TXMLTV writer(engine.OutFile, engine.TimeZone, engine.CharSet);
        writer.WriteTV(FormatXMLTVDate(engine.StartTime), "", "", "",
                       std::string("Tavrin V. ") + kTavrinVersion, kTavrinWebAddress);
        const int32_t n = programs.Count();
        engine.DoProgress(1, n, 1);
        engine.DoProgress(1, 0, 2);
        engine.DoStatus(1, "Writing XML");
        engine.DoStatus(2, "");
        engine.DoStatus(3, "");
        if (channels.Count() != 0) {
            for (const TChannel& channel : channels) writer.WriteChannel(channel);
            int32_t number = 0;
            for (const TProgram& program : programs) {
                ++number;
                if (number % 128 == 127) engine.DoProgress(1, number, 2);
                writer.WriteProgramme(program);
            }
        }
        engine.DoProgress(1, n, 2);
        writer.Close();
        engine.Log("   XML Written", false);
    } catch (const std::exception& e) {
        engine.LogFmt(false, "   Error writing xml: %s", e.what());
        engine.ExitStatus = 2;   // the old file stays; the run failed all the same
    }
}

}  // namespace

// ---- the run ----------------------------------------------------------------------------------

int32_t TLuaGrabbers::Grab() {
    platform::SetCurrentDir(BaseDir);
    if (DayLimit != 0) {
        SYSTEMTIME days{};
        days.wDay = static_cast<uint16_t>(DayLimit);
        LimitTime = AddTime(HostClock.LocalTime(), days);
    }
    Stop = false;
    if (Grabbers.Count() == 0) return ExitStatus;
    ParseTimeZone(TimeZoneName, TimeZone);
    for (TLuaBase& script : Grabbers) SaveUserChannels(static_cast<TLuaGrabber&>(script));

    lua_State* L = LuaState();
    // Stop ends a running script only while the passes run: reloading the channel files at the
    // end runs scripts too, and a stopped run still needs them whole.
    struct TStoppable {
        bool& Flag;
        ~TStoppable() { Flag = false; }
    } stoppable{FStoppable};
    FStoppable = true;
    for (TLuaBase& script : Grabbers) {
        if (Stop) break;
        auto& grabber = static_cast<TLuaGrabber&>(script);
        grabber.Programs->Clear();
        if (!grabber.Enabled) continue;
        {
            StackGuard guard(L);
            if (!GetPath(L, {"Grabbers", grabber.ID}) || !lua_istable(L, -1))
                LogFmt(false, "   Could not push grabber \"%s\"", grabber.Name.c_str());
            else
                TPassRunner(*this, grabber, false).Run();
        }
        LogFmt(false, "   %d programs found", grabber.Programs->Count());
    }
    for (TLuaBase& script : PostProcessors) {
        if (Stop) break;
        if (!script.Enabled) continue;
        StackGuard guard(L);
        if (!GetPath(L, {"PostProcs", script.ID}) || !lua_istable(L, -1))
            LogFmt(false, "   Could not push processor \"%s\"", script.Name.c_str());
        else
            TPassRunner(*this, script, true).Run();
    }
    FStoppable = false;

    // The combined channels are borrowed from the grabbers; the programmes move over.
    TChanList channels(false);
    channels.SetOwnsItems(false);
    TProgList programs(false);  // filled, sorted and written: no rank index
    Combine(*this, channels, programs);
    if (DoXMLSort) {
        DoStatus(1, "Sorting Programs");
        Log("Sorting Programs", false);
        programs.SortPrograms(XMLSort, SortRev, &channels);
        Log("   Programs Sorted", false);
    }
    WriteXML(*this, channels, programs);
    programs.Clear();
    channels.Clear(true);

    for (TLuaBase& script : Grabbers) {
        auto& grabber = static_cast<TLuaGrabber&>(script);
        LoadChannelCache(grabber);
        LoadUserChannels(grabber);
    }
    return ExitStatus;
}

void TLuaGrabbers::UpdateDownloadStats(int32_t total, int32_t done) {
    const uint32_t now = platform::TickCount();
    std::string speed;
    if (BytesDownloaded == BytesAtLastSample || now == LastSampleTick) {
        speed = "Download Speed: 0 B/s";
    } else {
        const double perSecond =
            static_cast<double>(BytesDownloaded - BytesAtLastSample) * 1000.0 / static_cast<uint32_t>(now - LastSampleTick);
        speed = "Download Speed: " + FormatSize(static_cast<int64_t>(perSecond)) + "B/s";
    }
    const std::string downloaded = FormatSizeBias(1, BytesDownloaded) + "B Downloaded";
    PassSeconds = static_cast<int32_t>(static_cast<uint32_t>(now - PassStartTick) / 1000);
    int64_t remaining = 0;
    if (done != 0) remaining = static_cast<int64_t>(PassSeconds) * total / done - PassSeconds;
    if (remaining > INT32_MAX) remaining = INT32_MAX;
    if (remaining < INT32_MIN) remaining = INT32_MIN;
    DoDownloadStats(speed, FormatDuration(static_cast<int32_t>(remaining)) + " Remaining", downloaded);
    BytesAtLastSample = BytesDownloaded;
    LastSampleTick = now;
}
