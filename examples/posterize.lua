-- Posterise: cut each channel down to a multiple of its step, giving flat
-- bands of colour: 4 levels of red and green, 3 of blue.
-- (A common step in argument 4 sets all three; mode 1 posterises in grey.)
local f = frame
pelx04.mirtheitan(f.data, f.width, f.height, 0, 64, 64, 96, 0)
