-- Runs every pixel function over the same frames and prints one line per call:
-- its name, what it returned and a digest of the words (or table entries) that
-- came out. lua5.1 on Linux and lua.exe under wine print the same lines when
-- the two builds agree word for word; scripts/test_windows.sh compares them.
-- Only exact integer arithmetic and text happen here, so the script itself
-- computes the same on both sides.
local pixbuf = require "pixbuf"
local pelx04 = require "pelx04"

local WORD = 4294967296

-- Two polynomial digests, each kept below 2^53 so every step is exact in a
-- double. Printed with %.0f: %x goes through a C long, 32 bits on Windows.
local function digest(words, n)
  local h1, h2 = 0, 0
  for i = 1, n do
    local w = words[i]
    h1 = (h1 * 65599 + w) % 4294967291
    h2 = (h2 * 31 + w) % 2147483629
  end
  return string.format("%.0f %.0f", h1, h2)
end

local function textDigest(text)
  local bytes = {}
  for i = 1, #text do bytes[i] = text:byte(i) end
  return #text .. " " .. digest(bytes, #bytes)
end

local function argb(a, r, g, b) return ((a * 256 + r) * 256 + g) * 256 + b end

-- The frames: words chosen where a mistake would show, then a coarse colour
-- cube and pseudo-random words with every alpha class.
local base = {}
local function add(w) base[#base + 1] = w end
local levels = {0, 1, 2, 85, 127, 128, 129, 170, 253, 254, 255}
for _, r in ipairs(levels) do
  for _, g in ipairs(levels) do
    for _, b in ipairs(levels) do add(argb(255, r, g, b)) end
  end
end
for v = 0, 255 do add(argb(255, v, v, v)); add(argb(v, v, 255 - v, (v * 7) % 256)) end
for r = 0, 255, 17 do
  for g = 0, 255, 17 do
    for b = 0, 255, 17 do add(argb((r + g + b) % 256, r, g, b)) end
  end
end
local seed = 20240601
local function nextRandom()
  seed = (seed * 69069 + 1) % WORD
  return seed
end
for i = 1, 8192 do
  local w = nextRandom()
  if i % 8 == 0 then w = w % 16777216 end            -- transparent
  if i % 8 == 1 then w = 4278190080 + w % 16777216 end -- opaque
  add(w)
end

-- Every colour with channels in steps of 3, for the filters that mix channels.
local cube = {}
for r = 0, 255, 3 do
  for g = 0, 255, 3 do
    for b = 0, 255, 3 do cube[#cube + 1] = argb(255, r, g, b) end
  end
end

local function show(name, results, buffer, words, n)
  local returned = results.n == 1 and results[1] == buffer and "buffer" or
    (results.n .. " results " .. tostring(results[1]))
  print(name .. ": " .. returned .. " " .. digest(pixbuf.toTable(buffer, n), n))
end

-- Arguments as text; the C runtimes spell infinities and NaN differently.
local function argText(value)
  if value ~= value then return "nan" end
  if value == 1 / 0 then return "inf" end
  if value == -1 / 0 then return "-inf" end
  return tostring(value)
end

local function pack(...) return {n = select("#", ...), ...} end

local function run(fn, args, words, label)
  local words_ = words or base
  local buffer = pixbuf.fromTable(words_)
  local n = #words_
  local results = pack(pelx04[fn](buffer, n, 1, unpack(args, 1, args.n or #args)))
  local shown = {}
  for i = 1, args.n or #args do shown[i] = argText(args[i]) end
  show((label or "") .. fn .. "(" .. table.concat(shown, ",") .. ")", results, buffer, words_, n)
  return buffer
end

local function runCases(fn, cases, words, label)
  for _, args in ipairs(cases) do run(fn, args, words, label) end
end

-- The value table as text read back through mirtCVSave's read mode.
local function readTable(label)
  local parts = {}
  for i = 0, 359 do
    local results = pack(pelx04.mirtCVSave(i, 0, 1))
    parts[#parts + 1] = results.n .. ":" .. tostring(results[1])
  end
  print(label .. ": value table " .. textDigest(table.concat(parts, " ")))
end

local function loadCurve(name, entry)
  for i = 0, 359 do
    local results = pack(pelx04.mirtCVSave(i, entry(i), 0))
    if results.n ~= 0 then print(name .. ": write " .. i .. " returned " .. results.n) end
  end
  readTable("curve " .. name)
end

runCases("mirtRGB", {
  {}, {0, 0, 0, 0}, {10, -20, 30, 0}, {-300, 300, 5, -7}, {1.9, -1.9, 0.5, -0.5}, {0, 0, 0, 100}, {0, 0, 0, -255},
  {255, 255, 255, 255}, {1e10, -1e10, 0 / 0, 1 / 0},
})

runCases("mirtGanma", {
  {1000, 2.2, 1, 0.4545}, {100, 0.22, 0.1, 0.04545}, {1000, 0.5, 3, 1.7}, {1000, -1, 0, 0.01}, {0, 1, 1, 1},
  {7, 0.3, 0.011, 0.0123}, {1000, 0.005, 0.015, 0.025}, {-1000, -2.2, 1, 1}, {1000, 12.34, 0.87, 0.99},
})
-- Every exponent from 0.01 to 6.00 on every channel value: the host's pow is
-- the one part of a filter that comes from the platform's runtime library.
local ramp = {}
for v = 0, 255 do ramp[#ramp + 1] = argb(255, v, 255 - v, v) end
do
  local lines = {}
  for step = 1, 600 do
    local e = step / 100
    local buffer = pixbuf.fromTable(ramp)
    pelx04.mirtGanma(buffer, #ramp, 1, 1000, e, e + 0.005, 6 - e)
    lines[#lines + 1] = digest(pixbuf.toTable(buffer, #ramp), #ramp)
    if step % 100 == 0 then
      print("mirtGanma exponents to " .. e .. ": " .. textDigest(table.concat(lines, ";")))
      lines = {}
    end
  end
end

runCases("mirtGradation256", {
  {4, 64, 64, 64}, {3, 85, 100, 50}, {1, 255, 255, 255}, {7, -10, 300, 20}, {0, 1, 1, 1}, {256, 255, 0, 128},
  {-4, 64, 64, 64}, {5.9, 51.5, 51, 51},
})

runCases("mirtheitan", {
  {4, 0, 0, 0, 1}, {4, 0, 0, 0, 0}, {0, 3, 5, 7, 0}, {0, 2, 8, 16, 2}, {1, 0, 0, 0, 1}, {0, 0, 0, 0, 0},
  {-3, 0, 0, 0, 0}, {100, 0, 0, 0, 1}, {0, 300, 255, 128, 0}, {7, 1, 1, 1, 1},
})

do
  local cases = {}
  for mode = -1, 9 do
    for _, offset in ipairs({0, -20, 40, 300}) do
      for invert = 0, 2 do cases[#cases + 1] = {mode, offset, invert} end
    end
  end
  runCases("mirtRGB2GRA", cases)
  runCases("mirtRGB2GRA", {{5, 0, 0}, {6, 0, 0}, {5, 3, 1}, {6, -3, 1}}, cube, "cube ")
end

do
  local cases = {}
  for mode = -1, 6 do
    cases[#cases + 1] = {mode, 0, 0, 0}
    cases[#cases + 1] = {mode, 10, -30, 300}
  end
  runCases("mirtRGB2CONV", cases)
end

do
  local cases = {{}, {0, 0, 0}, {120, 0, 0}, {-45, 20, -10}, {400, -300, 50}, {179, 255, 255}, {-720, 0, 0},
    {1, 1, 1}, {0, -255, 0}, {0, 0, -255}, {359.9, 10.9, -10.9}}
  for hue = -360, 360, 30 do cases[#cases + 1] = {hue, 0, 0} end
  runCases("mirtHSV", cases)
  runCases("mirtHSV", {{0, 0, 0}, {77, 13, -21}, {-200, -40, 40}}, cube, "cube ")
end

do
  local cases = {{1, 1, 1, 0}, {16, 32, 32, 0}, {8, 64, 16, 90}, {32, 0, 0, -30}, {0, 0, 0, 0}, {3, 5, 7, 200},
    {256, 256, 256, 0}, {-8, 16, 16, 0}, {1, 255, 1, 359}, {2, 2, 2, -725}}
  runCases("mirtHsvHeitan", cases)
  runCases("mirtHsvHeitan", {{1, 1, 1, 0}, {12, 24, 40, 45}}, cube, "cube ")
end

do
  runCases("mirtYPbPr", {{}, {0, 0, 0, 0}, {10, -5, 5, 0}, {-50, 30, -30, -20}, {300, 0, 0, 300}, {0, 128, -128, 0},
    {1, 1, 1, 1}, {-255, -255, 255, 0}})
  runCases("mirtYPbPr", {{0, 0, 0, 0}, {7, -9, 11, 0}}, cube, "cube ")
end

-- Tone curves over R, G, B and alpha, under two curves.
loadCurve("wave", function(i) return (i * 37) % 61 - 30 end)
for mode = -1, 8 do run("mirtToneCurve", {mode}) end
loadCurve("invert", function(i) return 255 - 2 * i end)
for mode = -1, 8 do run("mirtToneCurve", {mode}) end

-- Tone curves over hue, saturation and value.
loadCurve("hue", function(i) return (i * 7) % 90 - 45 end)
for mode = -1, 3 do run("mirtToneCurveHSV", {mode}) end
run("mirtToneCurveHSV", {0}, cube, "cube ")
loadCurve("wide", function(i) return (i % 2 == 0) and 400 or -400 end)
for mode = 0, 2 do run("mirtToneCurveHSV", {mode}) end

-- Cyclic band shifts through the table.
loadCurve("bands", function(i) return (i * 13) % 360 end)
runCases("mirtOgtoHsv", {
  {6, 0, 1}, {6, 0, 3}, {360, 0, 17}, {256, 1, 5}, {16, 2, 2}, {1, 0, 1}, {12, 2, 12}, {0, 0, 1}, {5, 3, 1},
  {6, 1, 0}, {6, 2, 7}, {400, 0, 1}, {-6, 0, 1},
})
run("mirtOgtoHsv", {12, 0, 5}, cube, "cube ")

-- Histograms, read back entry by entry as text.
for mode = -1, 4 do
  run("mirtHistgram", {mode})
  readTable("histogram mode " .. mode)
end
run("mirtHistgram", {0}, cube, "cube ")
readTable("cube histogram")

-- Keep one picture and blend later frames with it.
do
  local kept = run("mirtMixPict0", {})
  local other = {}
  for i = 1, #base do other[i] = base[#base + 1 - i] end
  for _, ratio in ipairs({0, 0.25, 0.5, 1, 0.37, -0.5, 1.5, 0.3333, 0.999}) do
    run("mirtMixPict1", {ratio}, other)
  end
  run("mirtMixPict0", {}, cube, "cube ")
  run("mirtMixPict1", {0.6}, base, "over cube ")
  local _ = kept
end
