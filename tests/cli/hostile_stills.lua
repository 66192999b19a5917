-- Writes small hostile image files into the folder given: headers that lie
-- about sizes, files that stop early, a few bytes that claim 8000 x 8000, and
-- from the folder's whole.jpg a JPEG whose Huffman table lists 4080 codes
-- where 256 fit.
--   lua5.1 hostile_stills.lua FOLDER
local folder = arg[1]
local function u16(v) return string.char(v % 256, math.floor(v / 256) % 256) end
local function u32(v) return u16(v % 65536) .. u16(math.floor(v / 65536)) end
local function bmp(w, h, declared, pixels)
  return "BM" .. u32(declared) .. u32(0) .. u32(54) .. u32(40) .. u32(w) .. u32(h) .. u16(1) .. u16(32)
    .. u32(0) .. u32(w * h * 4) .. u32(0) .. u32(0) .. u32(0) .. u32(0) .. pixels
end
local function tga(kind, w, h, data)
  return string.char(0, 0, kind) .. string.rep("\0", 5) .. u16(0) .. u16(0) .. u16(w) .. u16(h) .. string.char(32, 8)
    .. data
end
local files = {
  ["width0.bmp"] = bmp(0, 1, 54, ""),
  ["short.bmp"] = bmp(4, 4, 118, string.rep("\16", 8)),
  ["header.tga"] = tga(2, 2, 2, ""),
  ["rle_bomb.tga"] = tga(10, 8000, 8000, string.char(255, 1, 2, 3, 4)),
}
local jpeg = assert(io.open(folder .. "/whole.jpg", "rb"))
local whole = jpeg:read("*a")
jpeg:close()
-- The table's sixteen code counts follow the marker, its length, and its class and id.
local dht = assert(whole:find("\255\196", 1, true))
files["huffman.jpg"] = whole:sub(1, dht + 4) .. string.rep("\255", 16) .. whole:sub(dht + 21)
for name, bytes in pairs(files) do
  local file = assert(io.open(folder .. "/" .. name, "wb"))
  file:write(bytes)
  file:close()
end
