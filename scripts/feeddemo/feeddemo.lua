-- The feed demo grabber: a week of listings for three channels in the listings-feed format (a
-- channel directory of "ID|Name" lines and one file of "~"-separated programme lines per channel),
-- parsed by the host's native UK_RT functions.
--
-- The pages are fetched with HTTP.Get and a cache file of the same name. The program folder ships
-- them in the grabber's cache folder (cache/feeddemo/), and without a CacheAge any cached page is
-- fresh, so the demo runs offline: a cache hit never downloads.
--
-- Its pass:
--   Pass1, type 1: once per selected channel, the channel's file into programmes.

local FEED_URL = "http://feed.tavrin.invalid/listings/"   -- never reached while the cache holds the pages

Grabbers.feeddemo = {
  Name = "Demo feed listings",
  Version = "1.0",
  Author = "The Tavrin developers",
  InfoURL = "https://tavrin.invalid/feeddemo",
  SourceURL = FEED_URL,
  Encoding = 1,   -- the feed is ISO-8859-1
}
local Feed = Grabbers.feeddemo

-- A page of the feed: from the cache when it is there, downloaded (and cached) otherwise.
local function fetch(handle, name)
  local page, status = HTTP.Get(FEED_URL .. name, handle, nil, nil, name)
  if page == "" then error("Feed page " .. name .. " not available (status " .. status .. ")", 0) end
  return page
end

-- The desktop program's channel dialog asks for the channels through this.
function Feed.RefreshChannels(handle)
  local page = fetch(handle, "channels.dat")
  Tvrn.ClearChannels(handle)
  UK_RT.ProcessChannels(handle, page)
end

local function channelPass(handle, channel, dayLimit)
  Tvrn.SetStatus(2, "Channel " .. channel.ID)
  -- Programmes still to be announced are left out: a later grab gets them with their details.
  UK_RT.ProcessPrograms(handle, channel.ID, fetch(handle, channel.ID .. ".dat"), true)
  return 0
end

Feed.Passes = {
  Pass1 = { Type = 1, Func = channelPass },
}
