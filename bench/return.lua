-- A function using return, called a million times.
local function clip(x)
  if x > 500 then return 500 end
  return x
end
local total = 0
for i = 1, 1000000 do total = total + clip(i % 1000) end
print(total)
