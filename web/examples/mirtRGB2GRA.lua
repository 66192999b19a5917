-- mirtRGB2GRA: grey from R (1), G (2), B (3), the mean (4), BT.709 luma (5),
-- BT.601 luma (6), max (7) or min (8), plus an offset; invert 1 inverts.
local f = frame
pelx04.mirtRGB2GRA(f.data, f.width, f.height, 5, 0, 0)
