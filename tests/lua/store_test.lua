-- The picture store as scripts use it: keep one frame, cross-fade later ones
-- with it, frames of other sizes paired by position.
local T = require "testlib"
local pixbuf = require "pixbuf"
local pelx04 = require "pelx04"
local argb = T.argb

local function results(...) return {n = select("#", ...), ...} end

local function keep(words, width, height)
  local buffer = pixbuf.fromTable(words)
  local r = results(pelx04.mirtMixPict0(buffer, width or #words, height or 1))
  T.check("keep returns its buffer alone", r.n == 1 and r[1] == buffer)
  T.wordsEq("keep leaves the frame", pixbuf.toTable(buffer, #words), words)
end

local function blend(words, ratio, width, height)
  local buffer = pixbuf.fromTable(words)
  local r = results(pelx04.mirtMixPict1(buffer, width or #words, height or 1, ratio))
  T.check("blend returns its buffer alone", r.n == 1 and r[1] == buffer)
  return pixbuf.toTable(buffer, #words)
end

-- Before anything is kept the store holds transparent black.
T.wordsEq("blend before any keep", blend({argb(255, 200, 100, 51), argb(0, 9, 9, 9)}, 0.5),
  {argb(128, 100, 50, 26), argb(0, 9, 9, 9)})

-- A cross-fade: keep the first frame, blend each later frame with a falling ratio.
local first = {argb(255, 255, 255, 255), argb(255, 0, 0, 0), argb(0, 10, 20, 30), argb(255, 40, 80, 120)}
local later = {argb(255, 0, 0, 0), argb(255, 255, 255, 255), argb(255, 10, 20, 30), argb(0, 1, 2, 3)}
keep(first, 2, 2)
local fade = {
  {1, later},
  {0.75, {argb(255, 64, 64, 64), argb(255, 191, 191, 191), argb(191, 10, 20, 30), argb(64, 11, 22, 32)}},
  {0.5, {argb(255, 128, 128, 128), argb(255, 128, 128, 128), argb(128, 10, 20, 30), argb(128, 21, 41, 62)}},
  {0, {first[1], first[2], first[3], first[4]}},
}
for _, step in ipairs(fade) do
  T.wordsEq("cross-fade at " .. step[1], blend(later, step[1], 2, 2), step[2])
end
T.wordsEq("the same frame at any ratio", blend(first, 0.3, 4, 1), first)
T.wordsEq("missing ratio takes the store", blend(later, nil, 2, 2), first)

-- Two transparent pixels stay as the frame had them.
keep({argb(0, 200, 200, 200)})
T.wordsEq("two transparent pixels", blend({argb(0, 1, 2, 3)}, 0.25), {argb(0, 1, 2, 3)})
T.wordsEq("transparent store fades the frame", blend({argb(255, 100, 100, 100)}, 0.25),
  {argb(64, 175, 175, 175)})

-- Frames of other sizes pair by position; a smaller keep leaves the tail.
keep({1 * 16777216, 2 * 16777216, 3 * 16777216, 4 * 16777216}, 2, 2)
T.wordsEq("2 x 2 kept, 4 x 1 blended", blend({0, 0, 0, 0}, 0, 4, 1),
  {1 * 16777216, 2 * 16777216, 3 * 16777216, 4 * 16777216})
keep({argb(9, 1, 1, 1), argb(9, 2, 2, 2), argb(9, 3, 3, 3), argb(9, 4, 4, 4), argb(9, 5, 5, 5), argb(9, 6, 6, 6)}, 3, 2)
keep({argb(7, 0, 0, 1), argb(7, 0, 0, 2), argb(7, 0, 0, 3), argb(7, 0, 0, 4)}, 2, 2)
T.wordsEq("old tail after a smaller keep", blend({0, 0, 0, 0, 0, 0}, 0, 6, 1),
  {argb(7, 0, 0, 1), argb(7, 0, 0, 2), argb(7, 0, 0, 3), argb(7, 0, 0, 4), argb(9, 5, 5, 5), argb(9, 6, 6, 6)})

-- Empty frames change nothing.
keep({argb(3, 3, 3, 3)}, 0, 1)
keep({argb(3, 3, 3, 3)}, 1, 0)
T.wordsEq("empty keep leaves the store", blend({0}, 0), {argb(7, 0, 0, 1)})
T.wordsEq("empty blend leaves the frame", blend({argb(1, 2, 3, 4)}, 0, 0, 5), {argb(1, 2, 3, 4)})

-- Ratios outside 0..1 clamp each channel; no channel spills into the next.
keep({argb(0, 0, 100, 255)})
T.wordsEq("ratio 2", blend({argb(200, 200, 10, 0)}, 2), {argb(255, 255, 0, 0)})
T.wordsEq("ratio -1", blend({argb(255, 10, 200, 0)}, -1), {argb(0, 0, 0, 255)})
T.wordsEq("NaN ratio leaves the frame", blend({argb(255, 10, 200, 0)}, 0 / 0), {argb(255, 10, 200, 0)})

-- More pixels than the store holds: the frame and the store stay as they were.
-- A light userdata is trusted for its size, so only the store limit stops it.
local small = pixbuf.fromTable({argb(5, 6, 7, 8), argb(5, 6, 7, 8)})
local light = pixbuf.light(small)
T.eq("oversized keep returns its buffer", pelx04.mirtMixPict0(light, 1921, 1080), light)
T.eq("oversized blend returns its buffer", pelx04.mirtMixPict1(light, 2073601, 1, 0), light)
T.wordsEq("oversized frame untouched", pixbuf.toTable(small, 2), {argb(5, 6, 7, 8), argb(5, 6, 7, 8)})
T.wordsEq("store kept after an oversized keep", blend({argb(1, 0, 0, 0)}, 0), {argb(0, 0, 100, 255)})

-- The store survives a second require.
package.loaded.pelx04 = nil
pelx04 = require "pelx04"
T.wordsEq("store survives a reload", blend({argb(1, 0, 0, 0)}, 0), {argb(0, 0, 100, 255)})

T.finish()
