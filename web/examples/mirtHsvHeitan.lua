-- mirtHsvHeitan: posterise in HSV: channel step, saturation step, value step
-- and a hue shift.
local f = frame
pelx04.mirtHsvHeitan(f.data, f.width, f.height, 64, 64, 64, 0)
