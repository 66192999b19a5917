-- The editors' projects run this beside them: it prints the value1 the host
-- gave for each frame, word for word, so the runner can be given the same,
-- and turns the hue by it.
local value = tonumber(arg[1])
io.stderr:write(string.format("value %.3f %.17g\n", frame.time or -1, value))
pelx04.mirtHSV(frame.data, frame.width, frame.height, 360 * value, 0, 0)
