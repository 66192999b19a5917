-- Hue rotation: turn every colour by 120 degrees around the colour wheel
-- (reds become greens). On video the wheel keeps turning, 3 degrees a frame.
local f = frame
local degrees = (120 + 3 * f.index) % 360
pelx04.mirtHSV(f.data, f.width, f.height, degrees, 0, 0)
