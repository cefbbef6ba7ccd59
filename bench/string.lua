-- Strings: a million appends, then find and replace in the result.
local parts = {}
for i = 1, 1000000 do parts[i] = "abc;" end
local s = table.concat(parts)
local out = {}
local count, pos = 0, 1
while true do
  local hit = string.find(s, "c;a", pos, true)
  if not hit then break end
  out[#out + 1] = string.sub(s, pos, hit - 1)
  out[#out + 1] = "C-A"
  count = count + 1
  pos = hit + 3
end
out[#out + 1] = string.sub(s, pos)
out = table.concat(out)
print(count .. " " .. #out)
