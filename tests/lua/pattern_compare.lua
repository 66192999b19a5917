-- Compares two sets of pattern functions on the same arguments: Lua's own
-- string library and the host's bounded one. Loaded as a chunk with the two
-- tables {find, match, gmatch, gsub} as its arguments; returns
-- compare(name, ...), which gives nil when both give the same results, or the
-- same error with the same message, and otherwise a line that shows both.
-- A bounded call stopped by the instruction limit is not a difference.
local lua, bounded = ...

local function pack(...) return {n = select('#', ...), ...} end

-- gmatch's iterator is run until it ends (at most 100 times), inside the
-- same protected call for both, so that an error is placed at the same line.
local function call(functions, name, ...)
  local f = functions[name]
  if name ~= 'gmatch' then return pack(pcall(f, ...)) end
  local arguments = pack(...)
  return pack(pcall(function()
    local rounds = {}
    local next = f(unpack(arguments, 1, arguments.n))
    for _ = 1, 100 do
      local captures = pack(next())
      if captures[1] == nil then break end
      rounds[#rounds + 1] = captures
    end
    return rounds
  end))
end

-- Results are packs (with n, holes allowed) or lists of gmatch's rounds.
local function same(a, b)
  if type(a) ~= 'table' or type(b) ~= 'table' then return a == b end
  local n = a.n or #a
  if n ~= (b.n or #b) then return false end
  for i = 1, n do
    if not same(a[i], b[i]) then return false end
  end
  return true
end

local function show(value)
  if type(value) == 'string' then return string.format('%q', value) end
  if type(value) ~= 'table' then return tostring(value) end
  local parts = {}
  for i = 1, value.n or #value do parts[i] = show(value[i]) end
  return '{' .. table.concat(parts, ', ') .. '}'
end

return function(name, ...)
  local want, got = call(lua, name, ...), call(bounded, name, ...)
  if same(want, got) then return nil end
  if got[1] == false and tostring(got[2]):find('instruction limit of', 1, true) then return nil end
  return name .. show(pack(...)) .. ': Lua gives ' .. show(want) .. ', the bounded one ' .. show(got)
end
