-- mirtMixPict0: copy the frame into the picture store (at most 1920 x 1080).
-- Run this once, load another picture, then run mirtMixPict1 to blend.
local f = frame
pelx04.mirtMixPict0(f.data, f.width, f.height)
print("stored " .. f.width .. " x " .. f.height)
