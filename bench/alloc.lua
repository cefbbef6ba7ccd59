-- Allocation: build and drop a million small blocks, keep a tenth.
local kept = {}
for i = 1, 1000000 do
  local b = {}
  b[#b + 1] = i
  b[#b + 1] = i + 1
  b[#b + 1] = i + 2
  if i % 10 == 0 then kept[#kept + 1] = b end
end
print(#kept .. " " .. kept[#kept][1])
