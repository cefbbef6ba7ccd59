# Loading: a 5 MB source text of nested literals, parsed into a syntax tree.
import ast

item = '[1, 2.5, "abc", [x, 3, "de"], word, -7, issue, 5400, file, (3,4), a.b.c], '
text = "[" + item * 80000 + "]"
tree = ast.parse(text, mode="eval")
print(len(text) // 1000000, len(tree.body.elts))
