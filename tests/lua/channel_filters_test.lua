-- The channel filters as a script calls them: golden words in, golden words out.
local T = require "testlib"
local pelx04 = require "pelx04"
local argb = T.argb

local rgb100 = argb(255, 100, 150, 200)
local clear = argb(0, 16, 32, 48)

T.filterCases(pelx04, "mirtRGB", {
  {"zero offsets", {0, 0, 0, 0}, {argb(255, 16, 32, 48), clear}, {argb(255, 16, 32, 48), clear}},
  {"saturating sums", {10, -20, 300, -255}, {argb(255, 16, 32, 48)}, {argb(0, 26, 12, 255)}},
  {"transparent untouched", {10, 10, 10, 255}, {clear}, {clear}},
  {"fractions truncate", {2.9, -2.9, 0, 0}, {argb(9, 16, 32, 48)}, {argb(9, 18, 30, 48)}},
  {"missing offsets", {}, {argb(7, 1, 2, 3)}, {argb(7, 1, 2, 3)}},
  {"huge and NaN", {1e300, -1e300, 0 / 0, math.huge}, {argb(9, 16, 32, 48)}, {argb(255, 255, 0, 48)}},
})

T.filterCases(pelx04, "mirtGanma", {
  {"exponent 1", {1000, 1, 1, 1}, {argb(255, 0, 64, 255), argb(3, 1, 128, 254)},
    {argb(255, 0, 64, 255), argb(3, 1, 128, 254)}},
  {"exponent 2.2 on red", {1000, 2.2, 1, 1},
    {argb(255, 64, 9, 9), argb(255, 128, 9, 9), argb(255, 192, 9, 9), argb(255, 254, 9, 9)},
    {argb(255, 12, 9, 9), argb(255, 56, 9, 9), argb(255, 137, 9, 9), argb(255, 253, 9, 9)}},
  {"exponent 0.45 on blue, scale 100", {100, 0.1, 0.1, 0.04545},
    {argb(255, 7, 7, 1), argb(255, 7, 7, 64), argb(255, 7, 7, 192)},
    {argb(255, 7, 7, 21), argb(255, 7, 7, 137), argb(255, 7, 7, 224)}},
  {"exponent 0 gives 255", {1000, 0, 0.001, 1}, {argb(255, 0, 0, 5)}, {argb(255, 255, 255, 5)}},
  {"negative exponent", {-1000, 1, 1, 1}, {argb(255, 0, 1, 255)}, {argb(255, 255, 255, 255)}},
  {"zero scale leaves the buffer", {0, 1, 1, 1}, {argb(255, 1, 2, 3)}, {argb(255, 1, 2, 3)}},
  {"transparent untouched", {1000, 2.2, 2.2, 2.2}, {clear}, {clear}},
})

T.filterCases(pelx04, "mirtGradation256", {
  {"identity", {1, 1, 1, 1}, {argb(255, 0, 127, 255)}, {argb(255, 0, 127, 255)}},
  {"divisor 64 times 85", {64, 85, 85, 85}, {argb(255, 63, 64, 255), argb(255, 128, 191, 192)},
    {argb(255, 0, 85, 255), argb(255, 170, 170, 255)}},
  {"divisor 64 times 64", {64, 64, 64, 64}, {argb(255, 255, 127, 0)}, {argb(255, 192, 64, 0)}},
  {"doubling", {1, 2, 2, 2}, {argb(255, 100, 127, 128)}, {argb(255, 200, 254, 255)}},
  {"zero and negative divisors act as 1", {-5, 1, 0, -3}, {argb(255, 10, 20, 30)}, {argb(255, 10, 0, 0)}},
  {"divisor 0.5 acts as 1", {0.5, 1, 1, 1}, {argb(255, 10, 20, 30)}, {argb(255, 10, 20, 30)}},
  {"huge multiplier saturates", {1, 1e12, 2147483647, -2147483648}, {argb(255, 1, 2, 3)},
    {argb(255, 255, 255, 0)}},
  {"divisor above 255", {256, 255, 255, 255}, {argb(255, 255, 255, 255)}, {argb(255, 0, 0, 0)}},
})

T.filterCases(pelx04, "mirtheitan", {
  {"common step 64", {64}, {argb(255, 63, 64, 255)}, {argb(255, 0, 64, 192)}},
  {"channel steps", {0, 1, 64, 128, 0}, {argb(255, 77, 100, 200)}, {argb(255, 77, 64, 128)}},
  {"common step overrides", {100, 1, 1, 1}, {argb(255, 99, 100, 255)}, {argb(255, 0, 100, 200)}},
  {"negative step", {-64}, {argb(255, 63, 64, 255)}, {argb(255, 0, 64, 192)}},
  {"zero channel step keeps the channel", {0, 0, 64, 0, 0}, {argb(255, 77, 100, 200)},
    {argb(255, 77, 64, 200)}},
  {"grey, step 0 acts as 1", {0, 9, 9, 9, 1}, {argb(255, 10, 20, 31), argb(255, 0, 1, 1), argb(255, 255, 255, 255)},
    {argb(255, 20, 20, 20), argb(255, 1, 1, 1), argb(255, 255, 255, 255)}},
  {"grey step 2 ties", {2, 0, 0, 0, 1}, {argb(255, 99, 99, 99), argb(255, 1, 1, 1)},
    {argb(255, 98, 98, 98), argb(255, 0, 0, 0)}},
  {"grey step 64 clamps", {64, 0, 0, 0, 1.7}, {argb(255, 255, 255, 255), argb(255, 100, 100, 100)},
    {argb(255, 255, 255, 255), argb(255, 128, 128, 128)}},
  {"grey step 300", {300, 0, 0, 0, 1}, {argb(255, 200, 200, 200), argb(255, 100, 100, 100)},
    {argb(255, 255, 255, 255), argb(255, 0, 0, 0)}},
  {"transparent untouched", {0, 0, 0, 0, 1}, {clear}, {clear}},
})

T.filterCases(pelx04, "mirtRGB2GRA", {
  {"mode 0 does nothing", {0, 50, 1}, {rgb100}, {rgb100}},
  {"mode 1", {1}, {rgb100}, {argb(255, 100, 100, 100)}},
  {"mode 2", {2}, {rgb100}, {argb(255, 150, 150, 150)}},
  {"mode 3", {3}, {rgb100}, {argb(255, 200, 200, 200)}},
  {"mode 4", {4}, {rgb100, argb(255, 1, 2, 2)}, {argb(255, 150, 150, 150), argb(255, 1, 1, 1)}},
  {"mode 5", {5}, {rgb100, argb(255, 255, 0, 0), argb(255, 255, 255, 255)},
    {argb(255, 143, 143, 143), argb(255, 54, 54, 54), argb(255, 255, 255, 255)}},
  {"mode 6", {6}, {rgb100, argb(255, 255, 0, 0)}, {argb(255, 141, 141, 141), argb(255, 76, 76, 76)}},
  {"mode 7 ignores offset", {7, 50}, {rgb100}, {argb(255, 200, 200, 200)}},
  {"mode 8 ignores offset", {8, 50}, {argb(17, 100, 150, 200)}, {argb(17, 100, 100, 100)}},
  {"mode 5 with offset", {5, 50}, {rgb100}, {argb(255, 193, 193, 193)}},
  {"invert", {1, 0, 1}, {argb(255, 10, 0, 0)}, {argb(255, 245, 245, 245)}},
  {"invert before clamp", {1, 300, 1.7}, {argb(255, 10, 0, 0)}, {argb(255, 0, 0, 0)}},
  {"invert 2 does not invert", {1, 0, 2}, {argb(255, 10, 0, 0)}, {argb(255, 10, 10, 10)}},
  {"mode 9 leaves the buffer", {9, 5, 1}, {rgb100}, {rgb100}},
  {"huge offset", {1, 2147483647}, {rgb100}, {argb(255, 255, 255, 255)}},
  {"transparent untouched", {5}, {clear}, {clear}},
})

local px = argb(255, 10, 20, 30)
T.filterCases(pelx04, "mirtRGB2CONV", {
  {"identity", {0, 0, 0, 0}, {px}, {px}},
  {"mode 1", {1}, {px}, {argb(255, 20, 30, 10)}},
  {"mode 2", {2}, {px}, {argb(255, 30, 10, 20)}},
  {"mode 3", {3}, {px}, {argb(255, 10, 30, 20)}},
  {"mode 4", {4}, {px}, {argb(255, 30, 20, 10)}},
  {"mode 5", {5.9}, {px}, {argb(255, 20, 10, 30)}},
  {"offset follows its channel", {1, 50}, {px}, {argb(255, 20, 30, 60)}},
  {"offsets clamp first", {0, 300, -300, 0}, {px}, {argb(255, 255, 0, 30)}},
  {"other modes give black", {6}, {argb(77, 10, 20, 30)}, {argb(77, 0, 0, 0)}},
  {"negative mode gives black", {-1}, {px}, {argb(255, 0, 0, 0)}},
  {"transparent untouched", {1, 9, 9, 9}, {clear}, {clear}},
})

-- Width and height: truncation and the zero count.
local pixbuf = require "pixbuf"
local buffer = pixbuf.fromTable({argb(255, 1, 1, 1), argb(255, 1, 1, 1), argb(255, 1, 1, 1)})
pelx04.mirtRGB(buffer, 2.9, 1, 5, 5, 5, 0)
T.wordsEq("width 2.9 visits 2 pixels", pixbuf.toTable(buffer, 3),
  {argb(255, 6, 6, 6), argb(255, 6, 6, 6), argb(255, 1, 1, 1)})
pelx04.mirtRGB(buffer, 3, 0, 5, 5, 5, 0)
T.wordsEq("height 0 visits nothing", pixbuf.toTable(buffer, 3),
  {argb(255, 6, 6, 6), argb(255, 6, 6, 6), argb(255, 1, 1, 1)})

-- A buffer that starts off a word boundary, as a host's light userdata may.
local bytes = pixbuf.new(3, 1)
pixbuf.set(bytes, 0, argb(255, 10, 20, 30), 1)
pixbuf.set(bytes, 1, argb(255, 40, 50, 60), 1)
pelx04.mirtRGB2CONV(pixbuf.light(bytes, 1), 2, 1, 4)
T.eq("misaligned pixel 0", pixbuf.get(bytes, 0, 1), argb(255, 30, 20, 10))
T.eq("misaligned pixel 1", pixbuf.get(bytes, 1, 1), argb(255, 60, 50, 40))

T.finish()
