-- One tile of the gallery: the runner runs this with the global TILE naming a
-- function of pelx04, and the tile shows that function's effect on the test
-- card (see make_gallery.sh).
local p, f = pelx04, frame
local data, w, h = f.data, f.width, f.height

-- Draws values[0..255] as horizontal bars, 4 rows each, on a darkened panel
-- at the left, using only frame.row and mirtRGB: a filter given a
-- row's pointer and a width of n pixels and a height of 1 touches the first n
-- pixels of that row and nothing else.
local function drawBars(values, largest)
  local panel = math.floor(w / 4) - 40
  for c = 0, 255 do
    local length = math.floor(panel * values[c] / largest + 0.5)
    for dy = 0, 3 do
      local row = f.row(28 + 4 * c + dy)
      p.mirtRGB(row, panel, 1, -170, -170, -170, 255)
      if length > 0 then p.mirtRGB(row, length, 1, 255, 255, 255, 255) end
    end
  end
end

-- An S-curve as value table offsets: entry c is added to channel value c.
local function loadSCurve()
  for c = 0, 255 do
    p.mirtCVSave(c, math.floor(-36 * math.sin(2 * math.pi * c / 255) + 0.5), 0)
  end
end

local tiles = {
  card = function() end,
  mirtRGB = function() p.mirtRGB(data, w, h, 60, 0, -60, 0) end,
  mirtCVSave = function()
    loadSCurve()
    local curve = {}
    for c = 0, 255 do curve[c] = c + tonumber(p.mirtCVSave(c, 0, 1)) end
    drawBars(curve, 255)
  end,
  mirtToneCurve = function()
    loadSCurve()
    p.mirtToneCurve(data, w, h, 0)
  end,
  mirtToneCurveHSV = function()
    for hue = 0, 359 do p.mirtCVSave(hue, (hue >= 180 and hue < 300) and 150 or 0, 0) end
    p.mirtToneCurveHSV(data, w, h, 0)
  end,
  mirtHSV = function() p.mirtHSV(data, w, h, 180, 40, -30) end,
  mirtHistgram = function()
    p.mirtHistgram(data, w, h, 0)
    -- Square roots, so that the spikes of the card's flat areas leave the
    -- rest of the histogram visible.
    local roots, largest = {}, 1
    for c = 0, 255 do
      roots[c] = math.sqrt(tonumber(p.mirtCVSave(c, 0, 1)))
      largest = math.max(largest, roots[c])
    end
    drawBars(roots, largest)
  end,
  mirtYPbPr = function() p.mirtYPbPr(data, w, h, -20, 40, -40, 0) end,
  mirtGradation256 = function() p.mirtGradation256(data, w, h, 64, 85, 64, 40) end,
  mirtMixPict0 = function()
    -- Keep the lower quarter, then show what was kept by blending it at
    -- ratio 0 over the top quarter.
    local quarter = math.floor(h / 4)
    p.mirtMixPict0(f.row(h - quarter), w, quarter)
    p.mirtMixPict1(data, w, quarter, 0)
  end,
  mirtMixPict1 = function()
    p.mirtMixPict0(data, w, h)
    p.mirtRGB2GRA(data, w, h, 5, 0, 0)
    p.mirtMixPict1(data, w, h, 0.5)
  end,
  mirtheitan = function() p.mirtheitan(data, w, h, 64, 0, 0, 0, 0) end,
  mirtRGB2GRA = function() p.mirtRGB2GRA(data, w, h, 5, 0, 0) end,
  mirtRGB2CONV = function() p.mirtRGB2CONV(data, w, h, 1, 0, 0, 0) end,
  mirtGanma = function() p.mirtGanma(data, w, h, 1000, 2.2, 1, 0.45) end,
  mirtHsvHeitan = function() p.mirtHsvHeitan(data, w, h, 32, 64, 64, 0) end,
  mirtOgtoHsv = function()
    local offsets = {0, 40, -40, 80, -80, 120}
    for k = 1, 6 do p.mirtCVSave(k - 1, offsets[k], 0) end
    p.mirtOgtoHsv(data, w, h, 6, 0, 1)
  end,
}

local draw = tiles[TILE]
if not draw then error("no gallery tile named " .. tostring(TILE)) end
draw()
