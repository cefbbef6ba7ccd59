-- Parse: count the words and the numbers of a 5 MB text with character classes.
local pieces = {"hello ", "World, ", "42 ", "foo-bar ", "2024 ", "x1y2 ", "the ", "quick\n"}
local text = string.rep(table.concat(pieces), 113637)
local words, numbers = 0, 0
for _ in text:gmatch("%a+") do words = words + 1 end
for _ in text:gmatch("%d+") do numbers = numbers + 1 end
print(words .. " " .. numbers)
