-- Maps: put and select 200,000 string keys.
local m = {}
local count = 0
for i = 1, 200000 do
  local k = "key" .. i
  if m[k] == nil then count = count + 1 end
  m[k] = i
end
local total, missing = 0, 0
for i = 1, 200000 do
  local v = m["key" .. i]
  if v == nil then
    missing = missing + 1
  else
    total = (total + v) % 1000000007
  end
end
print(count .. " " .. total .. " " .. missing)
