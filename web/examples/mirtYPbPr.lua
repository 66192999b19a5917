-- mirtYPbPr: shift luma, Pb (blue difference), Pr (red difference) and alpha
-- in BT.709 YPbPr. Brighter and cooler.
local f = frame
pelx04.mirtYPbPr(f.data, f.width, f.height, 30, 20, -10, 0)
