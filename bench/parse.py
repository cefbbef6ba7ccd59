# Parse: count the words and the numbers of a 5 MB text with character classes.
import re

pieces = ["hello ", "World, ", "42 ", "foo-bar ", "2024 ", "x1y2 ", "the ", "quick\n"]
text = "".join(pieces) * 113637
words = len(re.findall(r"[A-Za-z]+", text))
numbers = len(re.findall(r"[0-9]+", text))
print(words, numbers)
