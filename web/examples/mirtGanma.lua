-- mirtGanma: a power curve per channel with exponent 1000 x gamma / scale, in
-- steps of 0.01: on a scale of 1000, gamma 0.5 brightens (exponent 0.5) and
-- 2.2 darkens.
local f = frame
pelx04.mirtGanma(f.data, f.width, f.height, 1000, 0.5, 0.5, 2.2)
