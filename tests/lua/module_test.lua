-- Loading the module: the library table, its names, and require twice.
local T = require "testlib"
local pelx04 = require "pelx04"

local expected = {
  "daytime", "mirtRGB", "mirtCVSave", "mirtToneCurve", "mirtToneCurveHSV", "mirtHSV", "mirtHistgram",
  "mirtYPbPr", "mirtGradation256", "mirtMixPict0", "mirtMixPict1", "mirtheitan", "mirtRGB2GRA",
  "mirtRGB2CONV", "mirtGanma", "mirtHsvHeitan", "mirtOgtoHsv",
}

T.eq("require returns the global table", pelx04, _G.pelx04)
T.eq("package.loaded holds it", package.loaded.pelx04, pelx04)
T.eq("a second require gives the same table", require "pelx04", pelx04)

local names = {}
for name, value in pairs(pelx04) do
  names[name] = true
  T.eq("field " .. name .. " is a function", type(value), "function")
end
local count = 0
for _, name in ipairs(expected) do
  T.check("registers " .. name, names[name])
  names[name] = nil
  count = count + 1
end
T.check("registers nothing else", next(names) == nil, next(names))
T.eq("seventeen functions", count, 17)

-- Clearing package.loaded runs the entry again, which hands back a table with
-- the same functions.
package.loaded.pelx04 = nil
local again = require "pelx04"
T.eq("reloaded table has mirtRGB", type(again.mirtRGB), "function")

-- daytime: "YYYY/MM/DD Www hh:mm:ss", arguments ignored.
-- The clock is read before and after, so a run across midnight accepts either day.
local before = os.date("*t")
local text = pelx04.daytime("ignored", 1, 2)
local after = os.date("*t")
T.check("daytime format", type(text) == "string" and
  text:match("^%d%d%d%d/%d%d/%d%d %u%l%l %d%d:%d%d:%d%d$") ~= nil, tostring(text))
local weekday = text:sub(12, 14)
local days = {Sun = 0, Mon = 1, Tue = 2, Wed = 3, Thu = 4, Fri = 5, Sat = 6}
T.check("daytime weekday", days[weekday] ~= nil, weekday)
local year = tonumber(text:sub(1, 4))
T.check("daytime year", year == before.year or year == after.year, text)
T.check("daytime weekday is today's", days[weekday] == before.wday - 1 or days[weekday] == after.wday - 1, text)

T.finish()
