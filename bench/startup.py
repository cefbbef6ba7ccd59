# Start-up and exit, with almost no work.
print("ok")
