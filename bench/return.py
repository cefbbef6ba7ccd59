# A function using return, called a million times.
def clip(x):
    if x > 500:
        return 500
    return x
total = 0
for i in range(1, 1000001):
    total = total + clip(i % 1000)
print(total)
