-- What a careless or hostile script gets: refused frames touch nothing and
-- still return what the function always returns, and no argument of any type
-- or size raises a Lua error or breaks a return convention.
local T = require "testlib"
local pixbuf = require "pixbuf"
local pelx04 = require "pelx04"
local argb = T.argb

local nan, inf = 0 / 0, math.huge
local picture = {argb(255, 100, 150, 200), argb(255, 10, 20, 30), argb(128, 200, 100, 50), argb(255, 0, 0, 0)}
local kept = {argb(255, 1, 2, 3), argb(255, 4, 5, 6), argb(255, 7, 8, 9), argb(255, 10, 11, 12)}

local function pack(...) return {n = select("#", ...), ...} end

-- Every function with a buffer, and parameters that change `picture`, so that
-- an untouched buffer means a refusal and not an idle call.
local filters = {
  {"mirtRGB", {10, 10, 10, 0}},
  {"mirtToneCurve", {0}},
  {"mirtToneCurveHSV", {2}},
  {"mirtHSV", {30, 10, 10}},
  {"mirtYPbPr", {10, 5, 5, 0}},
  {"mirtGradation256", {1, 2, 2, 2}},
  {"mirtMixPict1", {0.5}},
  {"mirtheitan", {64}},
  {"mirtRGB2GRA", {1, 0, 0}},
  {"mirtRGB2CONV", {1, 0, 0, 0}},
  {"mirtGanma", {1000, 2.2, 2.2, 2.2}},
  {"mirtHsvHeitan", {0, 8, 8, 30}},
  {"mirtOgtoHsv", {12, 0, 1}},
}

-- Table-driven filters need entries that move a channel.
for i = 0, 359 do pelx04.mirtCVSave(i, 40, 0) end
pelx04.mirtMixPict0(pixbuf.fromTable(kept), 4, 1)

local function storedPicture()
  local probe = pixbuf.fromTable(picture)
  pelx04.mirtMixPict1(probe, 4, 1, 0)  -- ratio 0 copies the store into the frame
  return pixbuf.toTable(probe, 4)
end

for _, f in ipairs(filters) do
  local buffer = pixbuf.fromTable(picture)
  pelx04[f[1]](buffer, 2, 2, unpack(f[2]))
  T.check(f[1] .. " changes the test picture", pixbuf.get(buffer, 0) ~= picture[1])
end
T.wordsEq("the store holds the kept picture", storedPicture(), kept)

-- Frames the module refuses. A light userdata cannot tell its size, so only
-- the width and height protect it: a count that wraps in 32 bits, or a
-- negative side read as 2^32 - 1, would run far past these four words.
local refusals = {
  {"full userdata a word short", "full", 2, 2, 3},
  {"negative width", "light", -1, 1},
  {"negative height", "light", 1, -1e300},
  {"NaN width", "light", nan, 1},
  {"infinite height", "light", 1, inf},
  {"minus infinity", "light", -inf, -inf},
  {"width 2^32 + 1 (its low 32 bits are 1)", "light", 4294967297, 1},
  {"width 2^32 with height 0 (its low 32 bits are 0)", "light", 4294967296, 0},
  {"65537 x 65537 passes 32 bits", "light", 65537, 65537},
  {"2^31 x 2", "light", 2147483648, 2},
  {"2^63 wide", "light", 2 ^ 63, 1},
  {"null buffer", "nil", 2, 2},
  {"a number for the buffer", "number", 2, 2},
}

local function refusedFrame(case)
  local kind, words = case[2], case[5] or 4
  local full = pixbuf.fromTable({unpack(picture, 1, words)})
  if kind == "full" then return full, full, words end
  if kind == "light" then return pixbuf.light(full), full, words end
  return (kind == "number" and 7 or nil), full, words
end

for _, case in ipairs(refusals) do
  for _, f in ipairs(filters) do
    local buffer, full, words = refusedFrame(case)
    local label = f[1] .. " " .. case[1]
    local r = pack(pcall(pelx04[f[1]], buffer, case[3], case[4], unpack(f[2])))
    T.check(label .. " raises nothing", r[1], tostring(r[2]))
    T.check(label .. " returns its buffer alone", r.n == 2 and r[2] == buffer)
    T.wordsEq(label .. " leaves the words", pixbuf.toTable(full, words), {unpack(picture, 1, words)})
  end

  local buffer = refusedFrame(case)
  local r = pack(pcall(pelx04.mirtHistgram, buffer, case[3], case[4], 0))
  T.check("mirtHistgram " .. case[1] .. " returns nothing", r[1] and r.n == 1)
  T.eq("mirtHistgram " .. case[1] .. " keeps the table", pelx04.mirtCVSave(7, 0, 1), "40")

  buffer = refusedFrame(case)
  r = pack(pcall(pelx04.mirtMixPict0, buffer, case[3], case[4]))
  T.check("mirtMixPict0 " .. case[1] .. " returns its buffer", r[1] and r.n == 2 and r[2] == buffer)
  T.wordsEq("mirtMixPict0 " .. case[1] .. " keeps the store", storedPicture(), kept)
end

-- A frame one pixel larger than the picture store is neither kept nor blended.
local big = pixbuf.new(2073601)
pixbuf.set(big, 0, argb(255, 50, 50, 50))
T.check("mirtMixPict0 past the store returns its buffer", pelx04.mirtMixPict0(big, 2073601, 1) == big)
T.wordsEq("mirtMixPict0 past the store keeps the store", storedPicture(), kept)
T.check("mirtMixPict1 past the store returns its buffer", pelx04.mirtMixPict1(big, 1, 2073601, 0.5) == big)
T.eq("mirtMixPict1 past the store leaves the frame", pixbuf.get(big, 0), argb(255, 50, 50, 50))
big = nil

-- Indices outside the value table: a write stores nothing, a read gives nil.
for _, index in ipairs({-1, 360, 2 ^ 31, -2 ^ 31, 1e300, -inf}) do
  T.eq("write at " .. index .. " returns nothing", select("#", pelx04.mirtCVSave(index, 99, 0)), 0)
  T.eq("read at " .. index .. " gives nil", pack(pelx04.mirtCVSave(index, 0, 1))[1], nil)
end
T.eq("entry 359 kept", pelx04.mirtCVSave(359, 0, 1), "40")
T.eq("entry 0 kept", pelx04.mirtCVSave(0, 0, 1), "40")

-- What is not refused: a light userdata is trusted for the words it is given,
-- and a side of 0 means no pixels, however large the other.
local five = pixbuf.fromTable({argb(255, 1, 1, 1), argb(255, 1, 1, 1), argb(255, 1, 1, 1), argb(255, 1, 1, 1),
  argb(255, 1, 1, 1)})
local light = pixbuf.light(five, 4)
T.check("light userdata into a buffer is returned", pelx04.mirtRGB(light, 2, 2, 1, 0, 0, 0) == light)
T.wordsEq("light userdata: the words behind it change, the one before does not", pixbuf.toTable(five, 5),
  {argb(255, 1, 1, 1), argb(255, 2, 1, 1), argb(255, 2, 1, 1), argb(255, 2, 1, 1), argb(255, 2, 1, 1)})
for _, sides in ipairs({{0, 4294967295}, {1e9, 0}, {-0.5, 4}, {0.9, 1e300 * 0}}) do
  local buffer = pixbuf.fromTable(picture)
  T.check("sides " .. sides[1] .. " x " .. tostring(sides[2]) .. " return the buffer",
    pelx04.mirtRGB(buffer, sides[1], sides[2], 50, 50, 50, 50) == buffer)
  T.wordsEq("sides " .. sides[1] .. " x " .. tostring(sides[2]) .. " visit nothing", pixbuf.toTable(buffer, 4), picture)
end

-- Any value in any position. The frame (four words, 2 x 2) stays valid apart
-- from the position under test; a light userdata always points at four words.
local functions = {
  "daytime", "mirtRGB", "mirtCVSave", "mirtToneCurve", "mirtToneCurveHSV", "mirtHSV", "mirtHistgram",
  "mirtYPbPr", "mirtGradation256", "mirtMixPict0", "mirtMixPict1", "mirtheitan", "mirtRGB2GRA",
  "mirtRGB2CONV", "mirtGanma", "mirtHsvHeitan", "mirtOgtoHsv",
}
local hostile = {
  false, true, "abc", "12", "", " 0x10 ", {}, setmetatable({}, {__index = error}), print, function() end,
  coroutine.create(function() end), nan, inf, -inf, 2 ^ 31, -2 ^ 31, 2 ^ 31 - 1, 2 ^ 63, -2 ^ 63, 1e300,
  -1e300, 1e-300, -1, -0.5, 0.5, 2.9, -2.9, 0, 255, 256, 359, 360, -360, 2073600, 2073601, 4294967296,
  "light", "full", "tiny",
}

local function value(v)
  if v == "light" then return pixbuf.light(pixbuf.fromTable(picture)) end
  if v == "full" then return pixbuf.fromTable(picture) end
  if v == "tiny" then return pixbuf.new(0, 1) end  -- a one-byte full userdata
  return v
end

local function baseline(fn)
  if fn == "daytime" then return {} end
  if fn == "mirtCVSave" then return {5, 7, 1} end
  return {pixbuf.fromTable(picture), 2, 2, 1, 1, 1, 1, 1}
end

local function isNan(v) return type(v) == "number" and v ~= v end

-- The mode as the function reads it: lua_tonumber, then truncation; NaN reads 0.
local function cvSaveWrites(mode)
  local m = tonumber(mode) or 0
  return m ~= m or (m > -1 and m < 1)
end

local failures = 0
local function expect(label, ok, detail)
  if not ok then
    failures = failures + 1
    if failures <= 20 then T.check(label, false, detail) end
  end
end

local function call(fn, args, n, label)
  local r = pack(pcall(pelx04[fn], unpack(args, 1, n)))
  expect(label .. " raises nothing", r[1], tostring(r[2]))
  if not r[1] then return end
  local results = r.n - 1
  if fn == "daytime" then
    expect(label .. " returns one string", results == 1 and type(r[2]) == "string")
  elseif fn == "mirtHistgram" then
    expect(label .. " returns nothing", results == 0, results .. " results")
  elseif fn == "mirtCVSave" then
    if cvSaveWrites(args[3]) then
      expect(label .. " write returns nothing", results == 0, results .. " results")
    else
      expect(label .. " read returns one string or nil", results == 1 and (r[2] == nil or type(r[2]) == "string"))
    end
  else
    expect(label .. " returns its buffer alone",
      results == 1 and (r[2] == args[1] or isNan(r[2]) and isNan(args[1])), results .. " results")
  end
end

local calls = 0
for _, fn in ipairs(functions) do
  call(fn, {}, 0, fn .. "()")
  local junk = {}
  for i = 1, 20 do junk[i] = value(hostile[i]) end
  call(fn, junk, 20, fn .. " with twenty arguments")
  for position = 1, 8 do
    for i = 0, #hostile do
      local args = baseline(fn)
      local v = hostile[i]  -- hostile[0] is nil
      args[position] = value(v)
      call(fn, args, math.max(#baseline(fn), position), fn .. " " .. tostring(v) .. " at " .. position)
      calls = calls + 1
    end
  end
end
T.check("every hostile call behaved", failures == 0, failures .. " failures")
T.check("hostile calls made", calls == #functions * 8 * (#hostile + 1), tostring(calls))

T.finish()
