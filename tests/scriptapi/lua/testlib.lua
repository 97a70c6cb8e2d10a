-- Assertions for the script API suites. A suite is an array of {name, function}; RunSuite runs
-- each test in protected mode and collects the failures as "name: message".

-- A canonical text of a value: tables with their keys sorted, so that equal contents give equal
-- texts whatever order the keys were set in.
function Show(v)
  local kind = type(v)
  if kind == "string" then
    return string.format("%q", v)
  elseif kind == "number" then
    return string.format("%.17g", v)
  elseif kind ~= "table" then
    return tostring(v)
  end
  local keys = {}
  for k in pairs(v) do keys[#keys + 1] = k end
  table.sort(keys, function(a, b)
    if type(a) ~= type(b) then return type(a) < type(b) end
    return a < b
  end)
  local parts = {}
  for _, k in ipairs(keys) do
    parts[#parts + 1] = (type(k) == "string" and k or "[" .. Show(k) .. "]") .. "=" .. Show(v[k])
  end
  return "{" .. table.concat(parts, ",") .. "}"
end

function Eq(actual, expected, what)
  local a, e = Show(actual), Show(expected)
  if a ~= e then error((what or "value") .. ": expected " .. e .. ", got " .. a, 2) end
end

function Check(condition, what)
  if not condition then error(what or "check failed", 2) end
end

-- f(...) must fail with exactly this message.
function CheckErr(message, f, ...)
  local ok, err = pcall(f, ...)
  if ok then error("no error, expected " .. Show(message), 2) end
  if err ~= message then error("error " .. Show(err) .. ", expected " .. Show(message), 2) end
end

function RunSuite(suite)
  local failures = {}
  for _, test in ipairs(suite) do
    local ok, err = pcall(test[2])
    if not ok then failures[#failures + 1] = test[1] .. ": " .. tostring(err) end
  end
  return failures, #suite
end
