# Strings: a million appends, then find and replace in the result.
parts = []
for _ in range(1000000):
    parts.append("abc;")
s = "".join(parts)
out = []
count = 0
pos = 0
while True:
    hit = s.find("c;a", pos)
    if hit < 0:
        break
    out.append(s[pos:hit])
    out.append("C-A")
    count += 1
    pos = hit + 3
out.append(s[pos:])
out = "".join(out)
print(count, len(out))
