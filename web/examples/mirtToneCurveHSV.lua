-- mirtToneCurveHSV: add table[h] to the hue (mode 0), table[s] to the
-- saturation (1) or table[v] to the value (2). Here: push greens (hues
-- 90..150) towards blue.
local f = frame
for h = 0, 359 do pelx04.mirtCVSave(h, (h >= 90 and h <= 150) and 90 or 0, 0) end
pelx04.mirtToneCurveHSV(f.data, f.width, f.height, 0)
