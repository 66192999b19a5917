-- Sepia: turn the frame grey by its BT.601 luma, then warm the grey with
-- channel offsets (more red, a little green, less blue).
--   pelx04-run examples/sepia.lua photo.jpg -o sepia.png
local f = frame
pelx04.mirtRGB2GRA(f.data, f.width, f.height, 6, 0, 0)
pelx04.mirtRGB(f.data, f.width, f.height, 40, 14, -28, 0)
