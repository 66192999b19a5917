-- mirtOgtoHsv: split the hue (component 0) into bands; each band gets value
-- table entry (band + shift - 1) mod count added. Six bands of 60 degrees:
-- the band around red stays, each other band turns by 30 degrees more.
local f = frame
for band = 0, 5 do pelx04.mirtCVSave(band, 30 * band, 0) end
pelx04.mirtOgtoHsv(f.data, f.width, f.height, 6, 0, 1)
