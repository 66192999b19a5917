-- Hue rotation for a host application: every call turns the colours of the
-- host's frame 3 degrees further around the colour wheel, starting at 120
-- (reds become greens). The count of calls lives in this script, not the host.
local pelx04 = require "pelx04"
local calls = 0

function hue_rotate(frame, width, height)
  pelx04.mirtHSV(frame, width, height, (120 + 3 * calls) % 360, 0, 0)
  calls = calls + 1
end

return hue_rotate
