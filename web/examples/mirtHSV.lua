-- mirtHSV: rotate the hue (degrees) and shift saturation and value (0..255).
local f = frame
pelx04.mirtHSV(f.data, f.width, f.height, 180, -60, 0)
