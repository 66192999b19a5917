-- mirtHistgram: count the pixels by brightness (mode 0), R (1), G (2) or B (3)
-- into the value table; read the counts back with mirtCVSave. The frame is
-- left as it was.
local f = frame
pelx04.mirtHistgram(f.data, f.width, f.height, 0)
for v = 0, 255, 32 do print(v, pelx04.mirtCVSave(v, 0, 1)) end
