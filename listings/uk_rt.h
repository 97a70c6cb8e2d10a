// The native parser of the Radio Times listings feed: a channel directory of "ID|Name" lines, and per
// channel a programme file of one programme a line in 23 fields, the first 22 each ended by "~" and
// the last by the line feed. Plain C++ with no Lua: the UK_RT binding checks the script's arguments
// and hands the engine's lists, log and day limit over to these functions.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "listings/uxmltvrecs.h"
#include "platform/systime.h"

// A fault in the feed that ends the call: "Parse error in channel %s" for a missing field separator,
// or a date or time that is not in its pattern. Programmes handed on before it stay where they went.
class EFeedError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

using TFeedLog = std::function<void(const std::string& line)>;
// Takes a finished programme (and with it its ownership).
using TProgramSink = std::function<void(std::unique_ptr<TProgram> program)>;

// Adds the channels of a channel directory to `into` (the grabber's available channels): the ID up
// to the first "|", the name to the line feed (a carriage return stays part of the name), the name in
// language "en" and `encoding` as the channel's character set. A channel whose ID `into` holds
// already is dropped with a debug line; a line without "|" is skipped with a debug line. A sorted
// list receives the channels in ID order.
void ProcessChannels(std::string_view page, uint8_t encoding, TChanList& into, const TFeedLog& debugLog);

struct TFeedProgramsOptions {
    std::string ChannelID;                 // stored as each programme's Channel, named in messages
    bool IgnoreTBA = false;                // drop the "To Be Announced" placeholders
    std::optional<SYSTEMTIME> LimitTime;   // programmes starting later are dropped; none: no day limit
    uint8_t Encoding = 1;                  // the grabber's declared character set
};

struct TFeedProgramsOutput {
    TFeedLog DebugLog;        // lines shown only in debug mode
    TFeedLog RawLog;          // lines for the front end's log as they are, without the time prefix
    TProgramSink AddProgram;  // receives each programme that is kept, in page order
};

// Reads a programme page of one channel and hands each programme that passes the day limit and the
// TBA rule to output.AddProgram. Times in the feed are UK local times and leave here in UTC. A page
// starting with a line feed only gives the RawLog line "Error in channel \"<ChannelID>\"". Throws
// EFeedError for a missing separator or a malformed date or time; the programme being read is freed,
// the ones before it have been handed on.
void ProcessPrograms(std::string_view page, const TFeedProgramsOptions& options,
                     const TFeedProgramsOutput& output);
