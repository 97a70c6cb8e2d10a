// The UK_RT library: the native parser of the listings feed (listings/uk_rt.h) bound for scripts.
// The bindings check the arguments and hand the grabber's lists, its encoding, the host's day limit
// and log over to the parser; a fault in the feed ends the call as a Lua error with its message.
#pragma once

#include <lua.hpp>

// UK_RT.ProcessChannels([Grabber],[Page]): the channel directory into the grabber's AvailableChannels.
// UK_RT.ProcessPrograms([Grabber],[ChannelID],[Page],[IgnoreTBA]): one channel's programme page into
// the grabber's Programs.
void OpenUKRTLibrary(lua_State* L);
