-- repeat and foreach over a block of a million integers.
local b = {}
for i = 1, 1000000 do b[#b + 1] = i % 1000 end
local total = 0
for _, v in ipairs(b) do total = total + v end
local odd = 0
for i = 1, #b do if i % 2 == 1 then odd = odd + 1 end end
print(total .. " " .. odd)
