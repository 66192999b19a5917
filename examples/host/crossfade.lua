-- Cross-fade for a host application that calls crossfade(frame, width, height)
-- once per video frame: the first frame is kept in the library's picture store
-- (at most 1920 x 1080 pixels) and the clip fades from it into the running
-- frames over the next 50 calls.
local pelx04 = require "pelx04"
local fadeFrames = 50
local calls = 0

function crossfade(frame, width, height)
  if calls == 0 then
    pelx04.mirtMixPict0(frame, width, height)
  else
    -- ratio is the weight of the current frame; the stored one gets the rest.
    pelx04.mirtMixPict1(frame, width, height, math.min(calls / fadeFrames, 1))
  end
  calls = calls + 1
end

return crossfade
