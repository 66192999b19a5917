-- mirtMixPict1: blend each pixel with the stored picture:
-- frame x ratio + stored x (1 - ratio). Here the frame is stored turned by
-- half a hue turn, then blended half and half with itself.
local f = frame
pelx04.mirtHSV(f.data, f.width, f.height, 180, 0, 0)
pelx04.mirtMixPict0(f.data, f.width, f.height)
pelx04.mirtHSV(f.data, f.width, f.height, 180, 0, 0)
pelx04.mirtMixPict1(f.data, f.width, f.height, 0.5)
