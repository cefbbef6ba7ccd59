-- Loading: a 5 MB source text of nested literals, compiled and built.
local item = '{1, 2.5, "abc", {x, 3, "de"}, word, -7, issue, 5400, file, {3,4}, a_b_c}, '
local text = "return {" .. string.rep(item, 80000) .. "}"
local values = assert(load(text))()
print(string.format("%d %d", #text // 1000000, #values))
