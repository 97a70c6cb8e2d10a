// Channel and programme tables <-> listing records, and time tables <-> SYSTEMTIME.
//
// Reading is lenient: a key a script leaves out gets a default, most keys take a simple value or a
// table, and repeated keys take one entry or an array of entries. Writing gives the shortest form:
// one entry without an enclosing array, a text without language as a plain string.
//
// Every reader works on the value on top of the Lua stack and pops it, whatever it finds there.
// Two faults raise Lua's indexing error instead of taking a default: a Length that is not a table
// and an Episode element that is not a table. The record being built is freed as the error unwinds.
#pragma once

#include <lua.hpp>

#include <functional>
#include <memory>
#include <string>

#include "listings/uxmltvrecs.h"
#include "platform/systime.h"

// Receives the lines about faulty values inside a table ("Invalid program length units ..."). An
// empty function sends them to the script host's run log, always shown.
using TRecordLog = std::function<void(const std::string& line)>;

// A new record from the table on top, or none when the value is not a table. The value is popped.
std::unique_ptr<TChannel> ReadChannel(lua_State* L, const TRecordLog& log = {});
std::unique_ptr<TProgram> ReadProgram(lua_State* L, const TRecordLog& log = {});

// Push a new table built from the record. Texts end at their first NUL byte.
void PushChannel(lua_State* L, const TChannel& channel);
void PushProgram(lua_State* L, const TProgram& program);

// Year, Month, Day, Hour, Minute and Second of the table on top, each the low 16 bits of the
// truncated number (0 when absent); the zero time when the value is not a table. Pops the value.
SYSTEMTIME ReadTimeTable(lua_State* L);
// A new table with exactly those six keys.
void PushTimeTable(lua_State* L, const SYSTEMTIME& time);
