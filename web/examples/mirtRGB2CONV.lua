-- mirtRGB2CONV: offset the channels, then reorder them: 0 RGB, 1 GBR, 2 BRG,
-- 3 RBG, 4 BGR, 5 GRB.
local f = frame
pelx04.mirtRGB2CONV(f.data, f.width, f.height, 4, 0, 0, 0)
