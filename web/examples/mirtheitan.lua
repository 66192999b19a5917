-- mirtheitan: posterise. Colour mode (0) cuts each channel down to a multiple
-- of its step; grey mode (1) rounds the channel mean to the common step.
local f = frame
pelx04.mirtheitan(f.data, f.width, f.height, 0, 64, 64, 64, 0)
