-- Sepia, written for a host application: the host calls sepia(frame, width,
-- height) with its frame, a pointer to width x height BGRA pixel words, and the
-- pixels are rewritten in place. Grey by BT.601 luma, then warmed with channel
-- offsets (more red, a little green, less blue).
local pelx04 = require "pelx04"

function sepia(frame, width, height)
  pelx04.mirtRGB2GRA(frame, width, height, 6, 0, 0)
  pelx04.mirtRGB(frame, width, height, 40, 14, -28, 0)
end

return sepia
