# Maps: put and select 200,000 string keys.
m = {}
for i in range(1, 200001):
    m["key" + str(i)] = i
total = 0
missing = 0
for i in range(1, 200001):
    v = m.get("key" + str(i))
    if v is None:
        missing += 1
    else:
        total = (total + v) % 1000000007
print(len(m), total, missing)
