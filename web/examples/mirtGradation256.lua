-- mirtGradation256: each channel divided by the divisor (integer division),
-- then multiplied by its own multiplier: 8 levels of red, 4 of green, 2 of blue.
local f = frame
pelx04.mirtGradation256(f.data, f.width, f.height, 32, 32, 0, 0)
pelx04.mirtGradation256(f.data, f.width, f.height, 1, 1, 1, 1)
