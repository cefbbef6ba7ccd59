# Allocation: build and drop a million small blocks, keep a tenth.
kept = []
for i in range(1, 1000001):
    b = []
    b.append(i)
    b.append(i + 1)
    b.append(i + 2)
    if i % 10 == 0:
        kept.append(b)
print(len(kept), kept[-1][0])
