-- Applies a frame script the way pelx04-run does, but from lua5.1 with the
-- test-only pixbuf module holding the frames, so the runner's output can be
-- compared with the library applied directly.
--   lua5.1 direct_frames.lua SCRIPT WIDTH HEIGHT < frames.raw > frames.raw
local pixbuf = require "pixbuf"
require "pelx04"

local scriptPath, width, height = arg[1], tonumber(arg[2]), tonumber(arg[3])
local chunk = assert(loadfile(scriptPath))
local frameBytes = width * height * 4
local index = 0
while true do
  local data = io.stdin:read(frameBytes)
  if not data then break end
  assert(#data == frameBytes, "short frame")
  local words = {}
  for i = 1, frameBytes, 4 do
    local b, g, r, a = data:byte(i, i + 3)
    words[#words + 1] = ((a * 256 + r) * 256 + g) * 256 + b
  end
  local buffer = pixbuf.fromTable(words)
  frame = {
    data = pixbuf.light(buffer),
    width = width,
    height = height,
    index = index,
    row = function(y)
      if y >= 0 and y < height then return pixbuf.light(buffer, (y - y % 1) * width * 4) end
      return nil
    end,
  }
  chunk()
  local out = {}
  for i, word in ipairs(pixbuf.toTable(buffer, width * height)) do
    out[i] = string.char(word % 256, math.floor(word / 256) % 256, math.floor(word / 65536) % 256,
      math.floor(word / 16777216))
  end
  io.stdout:write(table.concat(out))
  index = index + 1
end
