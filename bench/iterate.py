# repeat and foreach over a block of a million integers.
b = []
for i in range(1, 1000001):
    b.append(i % 1000)
total = 0
for v in b:
    total = total + v
odd = 0
for i in range(1, len(b) + 1):
    if i % 2 == 1:
        odd = odd + 1
print(total, odd)
