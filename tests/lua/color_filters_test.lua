-- The HSV and YPbPr filters as a script calls them: golden words in, golden
-- words out, with fractional, missing, huge and NaN arguments.
local T = require "testlib"
local pelx04 = require "pelx04"
local argb = T.argb

local function rgb(r, g, b) return argb(255, r, g, b) end
local red, brown, px = rgb(255, 0, 0), rgb(128, 64, 32), rgb(100, 150, 200)
local clear = argb(0, 255, 0, 0)
local nan = 0 / 0

T.filterCases(pelx04, "mirtHSV", {
  {"no shift loses one at the top", {0, 0, 0}, {rgb(255, 255, 255), rgb(1, 1, 1), brown, rgb(0, 0, 0)},
    {rgb(254, 254, 254), rgb(0, 0, 0), rgb(127, 63, 32), rgb(0, 0, 0)}},
  {"missing shifts", {}, {rgb(255, 255, 255)}, {rgb(254, 254, 254)}},
  {"hue 120, the rest missing", {120}, {red}, {rgb(0, 254, 0)}},
  {"hue -120", {-120, 0, 0}, {red}, {rgb(0, 0, 254)}},
  {"hue -30", {-30, 0, 0}, {red}, {rgb(254, 0, 127)}},
  {"ten turns", {3600, 0, 0}, {red}, {rgb(254, 0, 0)}},
  {"saturated grey turned", {90, 255, 0}, {rgb(100, 100, 100)}, {rgb(50, 99, 0)}},
  {"value down keeps alpha", {0, 0, -255}, {argb(7, 128, 64, 32)}, {argb(7, 0, 0, 0)}},
  {"fractions truncate", {2.9, 0, 0}, {red}, {rgb(254, 8, 0)}},
  {"negative fractions truncate", {-2.9, 0, 0}, {red}, {rgb(254, 0, 8)}},
  {"NaN reads as 0", {nan, nan, nan}, {rgb(255, 255, 255)}, {rgb(254, 254, 254)}},
  {"huge hue wraps like 127", {1e300, 0, 0}, {red}, {rgb(0, 254, 29)}},
  {"huge negative hue wraps like 232", {-1e300, 0, 0}, {red}, {rgb(0, 34, 254)}},
  {"infinite saturation", {0, math.huge, 0}, {rgb(100, 100, 100)}, {rgb(99, 0, 0)}},
  {"transparent kept", {120, 255, -255}, {clear, 0}, {clear, 0}},
})

T.filterCases(pelx04, "mirtHsvHeitan", {
  {"unit steps", {1, 1, 1, 0}, {rgb(255, 255, 255)}, {rgb(254, 254, 254)}},
  {"steps 32, 64, 64", {32, 64, 64, 0}, {brown}, {rgb(127, 63, 31)}},
  {"hue -40", {32, 64, 64, -40}, {brown}, {rgb(127, 31, 63)}},
  {"negative steps", {-32, -64, -64, 320}, {brown}, {rgb(127, 31, 63)}},
  {"fractions truncate", {32.9, 64.5, -64.9, -40.9}, {brown}, {rgb(127, 31, 63)}},
  {"hue from rounded channels", {100, 1, 1, 0}, {rgb(200, 120, 0)}, {rgb(199, 100, 0)}},
  {"all three steps", {30, 51, 51, 0}, {rgb(30, 60, 90)}, {rgb(40, 71, 101)}},
  {"missing steps act as 1", {}, {rgb(255, 255, 255), rgb(200, 120, 0)}, {rgb(254, 254, 254), rgb(199, 119, 0)}},
  {"steps below 1 act as 1", {0.5, -0.5, 0.9, 0}, {brown}, {rgb(127, 64, 32)}},
  {"NaN steps act as 1", {nan, nan, nan, nan}, {brown}, {rgb(127, 64, 32)}},
  {"huge steps round to 0", {1e300, -1e300, math.huge, 0}, {brown}, {rgb(0, 0, 0)}},
  {"alpha kept", {32, 64, 64, 0}, {argb(9, 128, 64, 32)}, {argb(9, 127, 63, 31)}},
  {"transparent kept", {7, 7, 7, 90}, {clear, 0}, {clear, 0}},
})

T.filterCases(pelx04, "mirtYPbPr", {
  {"no offsets still truncate", {0, 0, 0, 0}, {rgb(255, 255, 255), rgb(0, 0, 0), rgb(255, 255, 0)},
    {rgb(255, 254, 254), rgb(0, 0, 0), rgb(254, 254, 0)}},
  {"missing offsets", {}, {rgb(255, 255, 255)}, {rgb(255, 254, 254)}},
  {"luma 10", {10, 0, 0, 0}, {px}, {rgb(110, 159, 209)}},
  {"Pb 20", {0, 20, 0, 0}, {px}, {rgb(100, 146, 237)}},
  {"Pr limited at -127", {0, 0, -120, 0}, {px}, {rgb(0, 196, 199)}},
  {"luma limited at 255", {300, 0, 0, 0}, {px}, {rgb(212, 255, 255)}},
  {"alpha up and down", {0, 0, 0, 100}, {argb(200, 0, 0, 0)}, {argb(255, 0, 0, 0)}},
  {"alpha to 0 still converts", {0, 0, 0, -20}, {argb(10, 100, 150, 200)}, {argb(0, 100, 149, 199)}},
  {"fractions truncate", {10.9, 0, 0, -2.9}, {argb(3, 100, 150, 200)}, {argb(1, 110, 159, 209)}},
  {"NaN reads as 0", {nan, nan, nan, nan}, {rgb(255, 255, 255)}, {rgb(255, 254, 254)}},
  {"huge offsets", {1e300, 0, 0, 1e300}, {argb(1, 100, 150, 200)}, {rgb(212, 255, 255)}},
  {"huge negative alpha", {0, 0, 0, -1e300}, {rgb(0, 0, 0)}, {argb(0, 0, 0, 0)}},
  {"transparent kept", {50, 50, 50, 255}, {clear, 0}, {clear, 0}},
})

T.finish()
