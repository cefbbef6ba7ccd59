# Blocks: append a million integers, sort them, walk the result.
b = []
x = 1
for i in range(1000000):
    x = (x * 75 + 74) % 65537
    b.append(x)
b.sort()
total = 0
bad = 0
prev = 0
for v in b:
    if v < prev:
        bad += 1
    prev = v
    total = (total + v) % 1000000007
print(len(b), b[0], b[-1], bad, total)
