#!/usr/bin/env python3
"""Reports cycles among the program's files through their #include lines.

A module is a header and its .cc together (src/source/tables.h,
tables.cc and tables_data.cc are the module source/tables); a file that
includes another module's header depends on that module. Prints each group
of modules that depend on each other in a circle, and exits with status 1
when there is one.

    tools/include_cycles.py [SRC_DIR]
"""
import os
import re
import sys

src = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "src")
include = re.compile(r'^#include "([^"]+)"', re.M)


def module(path):
    stem = os.path.splitext(path)[0]
    return re.sub(r"_data$", "", stem)


graph = {}
for folder, _, files in os.walk(src):
    for name in files:
        if not name.endswith((".h", ".cc")):
            continue
        path = os.path.relpath(os.path.join(folder, name), src)
        with open(os.path.join(folder, name), encoding="utf-8", errors="replace") as f:
            text = f.read()
        node = module(path)
        graph.setdefault(node, set())
        for target in include.findall(text):
            dep = module(target)
            if dep != node:
                graph[node].add(dep)

# Tarjan's strongly connected components.
index, low, stack, on_stack, groups = {}, {}, [], set(), []


def visit(v, counter=[0]):
    index[v] = low[v] = counter[0]
    counter[0] += 1
    stack.append(v)
    on_stack.add(v)
    for w in sorted(graph.get(v, ())):
        if w not in index:
            visit(w)
            low[v] = min(low[v], low[w])
        elif w in on_stack:
            low[v] = min(low[v], index[w])
    if low[v] == index[v]:
        group = []
        while True:
            w = stack.pop()
            on_stack.discard(w)
            group.append(w)
            if w == v:
                break
        if len(group) > 1:
            groups.append(sorted(group))


sys.setrecursionlimit(10000)
for v in sorted(graph):
    if v not in index:
        visit(v)
for group in groups:
    print("cycle: " + " <-> ".join(group))
print("%d modules, %d cycles" % (len(graph), len(groups)))
sys.exit(1 if groups else 0)
