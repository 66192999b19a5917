-- mirtToneCurve: each channel value c becomes c + table[c]. Load an
-- inverting curve into the value table, then apply it to R, G and B (mode 0).
local f = frame
for c = 0, 255 do pelx04.mirtCVSave(c, 255 - 2 * c, 0) end
pelx04.mirtToneCurve(f.data, f.width, f.height, 0)
