-- A band of rows: frame.row(y) points at row y, so a filter given that
-- pointer and a height of fewer rows touches only that band. Here the lower
-- half turns grey (BT.709 luma) and the upper half keeps its colour.
local f = frame
local top = math.floor(f.height / 2)
pelx04.mirtRGB2GRA(f.row(top), f.width, f.height - top, 5, 0, 0)
