-- Blocks: append a million integers, sort them, walk the result.
local b = {}
local x = 1
for i = 1, 1000000 do
  x = (x * 75 + 74) % 65537
  b[#b + 1] = x
end
table.sort(b)
local total, bad, prev = 0, 0, 0
for _, v in ipairs(b) do
  if v < prev then bad = bad + 1 end
  prev = v
  total = (total + v) % 1000000007
end
print(#b .. " " .. b[1] .. " " .. b[#b] .. " " .. bad .. " " .. total)
