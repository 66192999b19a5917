-- The value table as scripts use it: curves loaded entry by entry and applied,
-- histograms counted and read back as text.
local T = require "testlib"
local pixbuf = require "pixbuf"
local pelx04 = require "pelx04"
local argb = T.argb
local CVSave = pelx04.mirtCVSave

local function count(...) return select("#", ...) end

-- Loads a curve the way a script does: one offset per channel value.
local function loadCurve(first, last, offset)
  for c = first, last do CVSave(c, offset(c), 0) end
end

local function clearTable()
  loadCurve(0, 359, function() return 0 end)
end

-- mirtCVSave: writes return nothing, reads return one string.
T.eq("write returns nothing", count(CVSave(12, 7, 0)), 0)
T.eq("read returns one result", count(CVSave(12, 0, 1)), 1)
T.eq("read gives text", CVSave(12, 0, 1), "7")
CVSave(13, -42, 0)
T.eq("negative entry", CVSave(13, 0, 1), "-42")

local conversions = {
  {"value 3.9 truncates", {20, 3.9, 0}, 20, "3"},
  {"value -3.9 truncates", {20, -3.9, 0}, 20, "-3"},
  {"index 12.7 is entry 12", {12.7, 5, 0}, 12, "5"},
  {"mode 0.5 writes", {21, 8, 0.5}, 21, "8"},
  {"mode -0.5 writes", {21, 9, -0.5}, 21, "9"},
  {"index alone writes 0", {21}, 21, "0"},
  {"first and last entries", {359, 2147483647, 0}, 359, "2147483647"},
  {"huge value saturates", {22, -1e300, 0}, 22, "-2147483648"},
}
for _, c in ipairs(conversions) do
  CVSave(unpack(c[2], 1, 3))
  T.eq("CVSave " .. c[1], CVSave(c[3], 0, 1), c[4])
end

CVSave(0, 17, 0)
T.eq("no arguments writes 0 into entry 0", count(CVSave()), 0)
T.eq("entry 0 now 0", CVSave(0, 0, 1), "0")

CVSave(30, 44, 0)
for _, mode in ipairs({1, 2, -1, 1e300}) do
  T.eq("mode " .. mode .. " reads, value ignored", CVSave(30, 99, mode), "44")
end
T.eq("reading left the entry", CVSave(30, 0, 1), "44")

-- Indices outside 0..359: a write goes nowhere, a read is nil rather than a
-- string a script would take for a value.
CVSave(359, 5, 0)
CVSave(0, 6, 0)
for _, index in ipairs({-1, 360, 1e10, -1e300, math.huge}) do
  T.eq("write at " .. index .. " returns nothing", count(CVSave(index, 123, 0)), 0)
  T.eq("read at " .. index .. " gives one result", count(CVSave(index, 0, 1)), 1)
  T.eq("read at " .. index .. " is nil", CVSave(index, 0, 1), nil)
end
T.eq("entry 359 unchanged", CVSave(359, 0, 1), "5")
T.eq("entry 0 unchanged", CVSave(0, 0, 1), "6")

-- mirtToneCurve with curves loaded through mirtCVSave.
clearTable()
T.filterCases(pelx04, "mirtToneCurve", {
  {"zero table, mode 0", {0}, {argb(255, 1, 128, 255)}, {argb(255, 1, 128, 255)}},
  {"zero table, mode 7", {7}, {argb(255, 1, 128, 255), argb(0, 9, 9, 9)}, {argb(127, 1, 128, 255), argb(0, 9, 9, 9)}},
})
loadCurve(0, 255, function(c) return 255 - 2 * c end)
T.filterCases(pelx04, "mirtToneCurve", {
  {"inverted", {0}, {argb(255, 0, 100, 255), argb(0, 1, 2, 3)}, {argb(255, 255, 155, 0), argb(0, 1, 2, 3)}},
  {"inverted red", {1}, {argb(9, 0, 100, 255)}, {argb(9, 255, 100, 255)}},
  {"inverted green and blue", {6}, {argb(9, 0, 100, 255)}, {argb(9, 0, 155, 0)}},
  {"mode 8", {8}, {argb(9, 0, 100, 255)}, {argb(9, 0, 100, 255)}},
  {"missing mode is 0", {}, {argb(9, 0, 100, 255)}, {argb(9, 255, 155, 0)}},
})
loadCurve(0, 255, function() return 300 end)
T.filterCases(pelx04, "mirtToneCurve", {
  {"entries of 300 saturate", {0}, {argb(9, 0, 100, 255)}, {argb(9, 255, 255, 255)}},
  {"alpha from brightness", {7}, {argb(9, 0, 100, 255)}, {argb(255, 0, 100, 255)}},
})

-- A second require keeps what the table holds.
CVSave(40, 4040, 0)
package.loaded.pelx04 = nil
local again = require "pelx04"
T.eq("table survives a reload", again.mirtCVSave(40, 0, 1), "4040")

-- mirtHistgram: counted, then read back entry by entry as text.
local frame = pixbuf.fromTable({argb(255, 10, 20, 30), argb(255, 10, 20, 30), argb(0, 0, 0, 1),
  argb(255, 255, 255, 255)})
local function readCounts()
  local counts = {}
  for k = 0, 359 do
    local text = CVSave(k, 0, 1)
    if text ~= "0" then counts[#counts + 1] = k .. "=" .. text end
  end
  return table.concat(counts, " ")
end
local histograms = {
  {0, "0=1 20=2 255=1"}, {1, "0=1 10=2 255=1"}, {2, "0=1 20=2 255=1"}, {3, "1=1 30=2 255=1"},
  {5, "0=4"}, {-1, "0=4"},
}
for _, h in ipairs(histograms) do
  loadCurve(0, 359, function(c) return c end)
  T.eq("histogram mode " .. h[1] .. " returns nothing", count(pelx04.mirtHistgram(frame, 2, 2, h[1])), 0)
  T.eq("histogram mode " .. h[1], readCounts(), h[2])
end
T.wordsEq("histogram leaves the frame", pixbuf.toTable(frame, 4),
  {argb(255, 10, 20, 30), argb(255, 10, 20, 30), argb(0, 0, 0, 1), argb(255, 255, 255, 255)})
pelx04.mirtHistgram(pixbuf.light(frame), 4, 1, 1)
T.eq("histogram through a light userdata", readCounts(), "0=1 10=2 255=1")

loadCurve(0, 359, function() return 1 end)
pelx04.mirtHistgram(frame, 0, 2, 0)
T.eq("empty frame clears the table", readCounts(), "")

-- A frame the module refuses leaves even the table alone.
CVSave(7, 77, 0)
pelx04.mirtHistgram(frame, 5, 1, 0)
T.eq("too short a buffer: table kept", CVSave(7, 0, 1), "77")
pelx04.mirtHistgram(frame, -1, 2, 0)
T.eq("negative width: table kept", CVSave(7, 0, 1), "77")
pelx04.mirtHistgram(nil, 2, 2, 0)
T.eq("no buffer: table kept", CVSave(7, 0, 1), "77")

-- A curve loaded after a histogram replaces it.
loadCurve(0, 255, function() return -255 end)
T.filterCases(pelx04, "mirtToneCurve", {{"after a histogram", {0}, {argb(1, 5, 6, 7)}, {argb(1, 0, 0, 0)}}})

-- mirtToneCurveHSV with a hue curve.
clearTable()
local red, white, grey = argb(255, 255, 0, 0), argb(255, 255, 255, 255), argb(255, 100, 100, 100)
T.filterCases(pelx04, "mirtToneCurveHSV", {
  {"zero table round trip", {0}, {white, red, argb(9, 128, 64, 32), argb(255, 0, 0, 0), argb(0, 255, 0, 0)},
    {argb(255, 254, 254, 254), argb(255, 254, 0, 0), argb(9, 127, 63, 32), argb(255, 0, 0, 0), argb(0, 255, 0, 0)}},
})
CVSave(0, 120, 0)
CVSave(255, -255, 0)
T.filterCases(pelx04, "mirtToneCurveHSV", {
  {"hue of red +120", {0}, {red, grey}, {argb(255, 0, 254, 0), argb(255, 99, 99, 99)}},
  {"saturation of red to grey", {1}, {red}, {argb(255, 254, 254, 254)}},
  {"value of red to black", {2}, {red}, {argb(255, 0, 0, 0)}},
  {"mode 3 round trips", {3}, {red}, {argb(255, 254, 0, 0)}},
})
CVSave(0, 100, 0)
T.filterCases(pelx04, "mirtToneCurveHSV", {{"grey tinted toward red", {1}, {grey}, {argb(255, 99, 60, 60)}}})
CVSave(0, -2147483648, 0)
T.filterCases(pelx04, "mirtToneCurveHSV", {
  {"hue entry INT32_MIN wraps to 232", {0}, {red}, {argb(255, 0, 34, 254)}},
})

-- mirtOgtoHsv: four value bands with offsets 10, 20, 30, 40, rotated.
clearTable()
for k, offset in ipairs({10, 20, 30, 40}) do CVSave(k - 1, offset, 0) end
local function greyOf(v) return argb(255, v, v, v) end
T.filterCases(pelx04, "mirtOgtoHsv", {
  {"shift 1", {4, 2, 1}, {grey}, {greyOf(129)}},
  {"shift 2", {4, 2, 2}, {grey}, {greyOf(139)}},
  {"shift 3", {4, 2, 3}, {grey}, {greyOf(109)}},
  {"shift 4", {4, 2, 4}, {grey}, {greyOf(119)}},
  {"shift 5 is shift 1", {4, 2, 5.9}, {grey}, {greyOf(129)}},
  {"component 3 round trips", {0, 3, 0}, {white}, {greyOf(254)}},
  {"transparent kept", {4, 2, 1}, {argb(0, 100, 100, 100)}, {argb(0, 100, 100, 100)}},
  {"zero bands refused", {0, 2, 1}, {grey}, {grey}},
  {"missing arguments refused", {}, {grey}, {grey}},
  {"shift 0 refused", {4, 2, 0}, {grey}, {grey}},
  {"257 value bands refused", {257, 2, 1}, {grey}, {grey}},
  {"361 hue bands refused", {361, 0, 1}, {grey}, {grey}},
  {"negative bands refused", {-4, 2, 1}, {grey}, {grey}},
})
loadCurve(0, 5, function() return -30 end)
T.filterCases(pelx04, "mirtOgtoHsv", {
  {"hue -30 wraps", {6, 0, 1}, {red}, {argb(255, 254, 0, 127)}},
})

T.finish()
