-- Posterise for a host application: each channel of the host's frame is cut
-- down to a multiple of its step, giving flat bands of colour: 4 levels of red
-- and green, 3 of blue.
local pelx04 = require "pelx04"

function posterize(frame, width, height)
  pelx04.mirtheitan(frame, width, height, 0, 64, 64, 96, 0)
end

return posterize
