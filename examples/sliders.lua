-- Written for the sliders of an editor (Kdenlive, Shotcut) or the words after
-- -- on the runner's command line: each value arrives as a string in arg, and
-- tonumber gives the host's number, 0 to 1 (the editors show it as 0-100).
-- Value 1 turns the hue by up to a full turn, Value 2 takes saturation away
-- (all of it at 100), Value 3 greys the frame from the bottom up.
local f = frame
local function slider(i) return tonumber(arg[i]) or 0 end

pelx04.mirtHSV(f.data, f.width, f.height, 360 * slider(1), -255 * slider(2), 0)
local rows = math.floor(f.height * slider(3))
if rows > 0 then
  pelx04.mirtRGB2GRA(f.row(f.height - rows), f.width, rows, 5, 0, 0)
end
