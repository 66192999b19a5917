-- Cross-fade for video: keep the first frame in the library's picture store
-- and fade from it into the running clip over the first 50 frames.
--   ffmpeg -i in.mp4 -f rawvideo -pix_fmt bgra - |
--     pelx04-run --raw 1920x1080 examples/crossfade.lua |
--     ffmpeg -f rawvideo -pix_fmt bgra -s 1920x1080 -r 25 -i - out.mp4
-- The store holds at most 1920 x 1080 pixels.
local f = frame
local fadeFrames = 50
if f.index == 0 then
  pelx04.mirtMixPict0(f.data, f.width, f.height)
else
  -- ratio is the weight of the current frame; the stored one gets the rest.
  local ratio = math.min(f.index / fadeFrames, 1)
  pelx04.mirtMixPict1(f.data, f.width, f.height, ratio)
end
