#!/bin/sh
# Prints which program folders include headers of which others, and checks
# the layers the README names: `win` <- `controls`, `config` <- `engine` <-
# `tasks` <- `pages`, `mount` <- `app`, each folder including only folders
# to its left. `resources/` and `platform/` are below every layer (any folder
# may include them; they include none of the layers), and `propsheet/`, the
# Explorer extension, shares nothing with the program but its resources.
# Exits with 1 and names each include that breaks a rule, and each cycle.
# Run from anywhere: `scripts/include_graph.sh`.
cd "$(dirname "$0")/.." || exit 1
python3 - <<'PY'
import os, re, sys, collections
rank = {"win": 0, "controls": 1, "config": 1, "engine": 2, "tasks": 3, "pages": 4, "mount": 4, "app": 5}
below = {"resources", "platform"}  # included by anyone, including no layer
folders = list(rank) + ["propsheet"] + sorted(below)
include = re.compile(r'\s*#\s*include\s*"([A-Za-z0-9_]+)/')

def allowed(source, target):
    if source == target or target in below:
        return True
    if source in rank and target in rank:
        return rank[target] < rank[source]
    return False

edges = collections.defaultdict(collections.Counter)
wrong = []
for d in folders:
    for root, _, files in os.walk(d):
        for f in sorted(files):
            if not f.endswith((".c", ".cc", ".cpp", ".h", ".hpp", ".rc", ".inl")):
                continue
            path = os.path.join(root, f)
            with open(path, errors="ignore") as text:
                for number, line in enumerate(text, 1):
                    m = include.match(line)
                    if not m or m.group(1) not in folders or m.group(1) == d:
                        continue
                    edges[d][m.group(1)] += 1
                    if not allowed(d, m.group(1)):
                        wrong.append(f"{path}:{number}: {d}/ includes {m.group(1)}/: {line.strip()}")
for d in folders:
    if edges[d]:
        print(f"{d:10} -> " + ", ".join(f"{t} ({n})" for t, n in sorted(edges[d].items())))
# Depth-first search for cycles.
state, stack, cycles = {}, [], []
def visit(n):
    state[n] = 1; stack.append(n)
    for t in sorted(edges[n]):
        if state.get(t) == 1:
            cycles.append(stack[stack.index(t):] + [t])
        elif t not in state:
            visit(t)
    stack.pop(); state[n] = 2
for d in folders:
    if d not in state:
        visit(d)
print("cycles:", "none" if not cycles else "; ".join(" -> ".join(c) for c in cycles))
print("includes against the layers:", "none" if not wrong else len(wrong))
for w in wrong:
    print("  " + w)
sys.exit(1 if cycles or wrong else 0)
PY
