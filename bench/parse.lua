-- Parse: count the words and the numbers of a 5 MB text with character classes.
local pieces = {"hello ", "World, ", "42 ", "foo-bar ", "2024 ", "x1y2 ", "the ", "quick\n"}
local parts = {}
for i = 1, 113637 do
  for _, piece in ipairs(pieces) do parts[#parts + 1] = piece end
end
local text = table.concat(parts)
local words, numbers = 0, 0
for _ in text:gmatch("%a+") do words = words + 1 end
for _ in text:gmatch("%d+") do numbers = numbers + 1 end
print(words .. " " .. numbers)
