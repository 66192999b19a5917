-- Tone curve: an S-curve that deepens shadows and lifts highlights. The curve
-- lives in the library's value table: entry c holds the offset added to a
-- channel value c. It is loaded once, on the first frame, and stays loaded.
local f = frame
if f.index == 0 then
  for c = 0, 255 do
    local offset = -28 * math.sin(2 * math.pi * c / 255)
    pelx04.mirtCVSave(c, math.floor(offset + 0.5), 0)
  end
end
pelx04.mirtToneCurve(f.data, f.width, f.height, 0)  -- mode 0: red, green and blue
