-- mirtRGB: add an offset to each channel (red, green, blue, alpha), saturating
-- at 0 and 255. Warmer: red up, blue down.
local f = frame
pelx04.mirtRGB(f.data, f.width, f.height, 40, 0, -40, 0)
