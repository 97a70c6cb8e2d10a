-- Keeps module loading the way scripts expect it: require looks for modules along LUA_PATH
-- (and C modules along LUA_CPATH), the globals the host sets to the program's lib/ folder.
-- A script that changes LUA_PATH before calling require is heard too.

if type(package) ~= "table" then return end

local function sync()
  if type(LUA_PATH) == "string" then package.path = LUA_PATH end
  if type(LUA_CPATH) == "string" then package.cpath = LUA_CPATH end
end

sync()

local require51 = require
function require(name)
  sync()
  return require51(name)
end
