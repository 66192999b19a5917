-- Histogram: count the frame's brightness ((R + G + B) / 3) into the value
-- table, read the 256 counts back and print them as a text bar chart of 32
-- bins. The frame itself is left as it was. Prints on the first frame and then
-- every 100th (on standard error in --raw mode, where standard output holds
-- the frames).
local f = frame
if f.index % 100 ~= 0 then return end

pelx04.mirtHistgram(f.data, f.width, f.height, 0)
local bins, largest = {}, 1
for value = 0, 255 do
  local bin = math.floor(value / 8) + 1
  bins[bin] = (bins[bin] or 0) + tonumber(pelx04.mirtCVSave(value, 0, 1))
  largest = math.max(largest, bins[bin])
end

print(string.format("brightness histogram of frame %d (%d x %d pixels)", f.index, f.width, f.height))
for bin = 1, 32 do
  local bar = string.rep("#", math.floor(60 * bins[bin] / largest + 0.5))
  print(string.format("%3d-%3d %8d %s", (bin - 1) * 8, bin * 8 - 1, bins[bin], bar))
end
