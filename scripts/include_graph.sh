#!/bin/sh
# Prints which program folders include headers of which others, and any
# cycle between folders: `scripts/include_graph.sh` from the repository root.
cd "$(dirname "$0")/.." || exit 1
python3 - <<'PY'
import os, re, collections
folders = ["win", "controls", "config", "engine", "tasks", "pages", "mount", "app", "propsheet", "platform", "resources"]
edges = collections.defaultdict(collections.Counter)
for d in folders:
    for root, _, files in os.walk(d):
        for f in files:
            if not f.endswith((".c", ".cpp", ".h")):
                continue
            for line in open(os.path.join(root, f), errors="ignore"):
                m = re.match(r'#include "([a-z_]+)/', line)
                if m and m.group(1) != d and m.group(1) in folders:
                    edges[d][m.group(1)] += 1
for d in folders:
    if edges[d]:
        print(f"{d:10} -> " + ", ".join(f"{t} ({n})" for t, n in sorted(edges[d].items())))
# Depth-first search for cycles.
state, stack, cycles = {}, [], []
def visit(n):
    state[n] = 1; stack.append(n)
    for t in edges[n]:
        if state.get(t) == 1:
            cycles.append(stack[stack.index(t):] + [t])
        elif t not in state:
            visit(t)
    stack.pop(); state[n] = 2
for d in folders:
    if d not in state:
        visit(d)
print("cycles:", "none" if not cycles else "; ".join(" -> ".join(c) for c in cycles))
PY
