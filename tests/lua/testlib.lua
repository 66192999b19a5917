-- Shared helpers of the Lua tests: pixel words, table-driven filter cases and
-- the closing count. Runs under lua5.1 and luajit alike.
local pixbuf = require "pixbuf"

local T = {}
local passed, failed = 0, 0

function T.argb(a, r, g, b)
  return a * 16777216 + r * 65536 + g * 256 + b
end

function T.hex(word)
  return word and string.format("%08X", word) or "nil"
end

local function show(value)
  if type(value) == "number" and value >= 0 and value == math.floor(value) and value < 4294967296 then
    return string.format("%s (0x%08X)", tostring(value), value)
  end
  return tostring(value)
end

function T.check(name, ok, detail)
  if ok then
    passed = passed + 1
  else
    failed = failed + 1
    print("FAIL " .. name .. (detail and (": " .. detail) or ""))
  end
end

function T.eq(name, got, want)
  T.check(name, got == want, "got " .. show(got) .. ", want " .. show(want))
end

function T.wordsEq(name, got, want)
  for i = 1, math.max(#got, #want) do
    if got[i] ~= want[i] then
      T.check(name, false, string.format("word %d is %s, want %s", i, T.hex(got[i]), T.hex(want[i])))
      return
    end
  end
  T.check(name, true)
end

-- Calls pelx04[fn](buffer, #input, 1, args...) on a full userdata holding the
-- input words and on a light userdata pointing at a copy, and checks the words
-- that come out and that the buffer argument alone is returned.
-- case = {name, args, input, expected}; args may hold nils if it sets args.n.
function T.filterCases(lib, fn, cases)
  for _, case in ipairs(cases) do
    local name, args, input, expected = case[1], case[2], case[3], case[4]
    for _, kind in ipairs({"full", "light"}) do
      local full = pixbuf.fromTable(input)
      local buffer = kind == "full" and full or pixbuf.light(full)
      local results = {n = 0}
      local function collect(...) results = {n = select("#", ...), ...} end
      collect(lib[fn](buffer, #input, 1, unpack(args, 1, args.n or #args)))
      local label = fn .. " " .. name .. " (" .. kind .. ")"
      T.eq(label .. " result count", results.n, 1)
      T.check(label .. " returns its buffer", results[1] == buffer)
      T.wordsEq(label, pixbuf.toTable(full, #input), expected)
    end
  end
end

function T.finish()
  print(passed .. " passed, " .. failed .. " failed")
  os.exit(failed == 0 and 0 or 1)
end

return T
