#!/usr/bin/env python3
"""Prints the include graph between the folders of src/ (a folder is a node, an #include
from one folder into another an arrow) and exits 1 when the folders form a loop, or when
a folder of the library includes one of the program's (files, signals, priority, console)."""
import os, re, sys

root = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..')
src = os.path.join(root, 'src')
files = []
for d, _, names in os.walk(src):
    files += [os.path.join(d, n) for n in names if n.endswith(('.h', '.cpp'))]

def folder(path):
    return os.path.relpath(os.path.dirname(path), src)

edges = {}
for f in files:
    for inc in re.findall(r'#include\s+"([^"]+)"', open(f, errors='replace').read()):
        target = os.path.join(src, inc)
        if os.path.exists(target) and folder(target) != folder(f):
            edges.setdefault(folder(f), set()).add(folder(target))

for a in sorted(edges):
    print('%-22s -> %s' % (a, ', '.join(sorted(edges[a]))))

# A loop exists when some folder reaches itself again.
def reaches(start):
    seen, todo = set(), list(edges.get(start, ()))
    while todo:
        n = todo.pop()
        if n not in seen:
            seen.add(n)
            todo += edges.get(n, ())
    return seen

loops = sorted(a for a in edges if a in reaches(a))
if loops:
    print('folders in a loop: ' + ', '.join(loops))
    sys.exit(1)
print('no folder loop')

# The program's own part; everything else under src/ is the library.
PROGRAM = ('cli', 'files', 'platform')
def in_program(f):
    return f.split(os.sep)[0] in PROGRAM
wrong = sorted('%s -> %s' % (a, b) for a in edges if not in_program(a) for b in edges[a] if in_program(b))
if wrong:
    print('the library includes the program: ' + ', '.join(wrong))
    sys.exit(1)
print('the library includes nothing of the program (%s)' % ', '.join(PROGRAM))
