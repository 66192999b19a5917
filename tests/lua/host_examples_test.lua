-- The examples written for a host application (examples/host/, shipped in the
-- Windows zips): each one loads, defines the global function named after its
-- file, returns it, and filters frames handed to it as a host hands them.
local T = require "testlib"
local pixbuf = require "pixbuf"
require "pelx04"

local root = (arg and arg[0] or ""):match("^(.*)[/\\]tests[/\\]lua[/\\][^/\\]*$") or "."
local separator = root:find("\\", 1, true) and "\\" or "/"

-- {file, frames handed in turn (one visible and one transparent word each),
--  words of the last frame afterwards}
local cases = {
  {"sepia", {{0xFF804020, 0x00804020}}, {0xFF775D33, 0x00804020}},
  {"hue_rotate", {{0xFF804020, 0x00804020}, {0xFF804020, 0x00804020}}, {0xFF207F44, 0x00804020}},
  {"posterize", {{0xFF804020, 0x00804020}}, {0xFF804000, 0x00804020}},
  {"tone_curve", {{0xFF804020, 0x00804020}}, {0xFF80240C, 0x00804020}},
  {"crossfade", {{0xFF000000, 0x00000000}, {0xFFFF3232, 0x00FF3232}}, {0xFF050101, 0x00FF3232}},
}

for _, case in ipairs(cases) do
  local name, frames, expected = case[1], case[2], case[3]
  local path = root .. separator .. "examples" .. separator .. "host" .. separator .. name .. ".lua"
  local chunk, loadError = loadfile(path)
  T.check(name .. " loads", chunk ~= nil, loadError)
  if chunk then
    local returned = chunk()
    T.eq(name .. " defines its global function", type(_G[name]), "function")
    T.eq(name .. " returns that function", returned, _G[name])
    local buffer
    for _, words in ipairs(frames) do
      buffer = pixbuf.fromTable(words)
      returned(pixbuf.light(buffer), #words, 1)
    end
    T.wordsEq(name .. " filters the frame", pixbuf.toTable(buffer, #expected), expected)
  end
end

T.finish()
