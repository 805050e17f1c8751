#!/usr/bin/env python3
"""Prints which top-level folders of the product code include which, and the folders caught in an
include loop. Exits 1 when there is a loop, so that it can gate a change.

Product code is every tracked .cpp/.h/.hpp/.cc file outside tests/, fuzz/ and bench/. An edge A -> B
is an `#include "B/..."` in a file under A (quoted includes with a folder only; system headers and
same-folder includes are not edges). A loop is a set of folders each reachable from the others.

Usage: scripts/include-graph.py [--dot]   (run anywhere inside the checkout; --dot prints Graphviz)
"""
import collections
import os
import re
import subprocess
import sys

NOT_PRODUCT = {"tests", "fuzz", "bench"}
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.M)


def top(path):
    return path.split("/")[0] if "/" in path else "."


def include_graph(root):
    files = subprocess.run(["git", "ls-files", "*.cpp", "*.h", "*.hpp", "*.cc"], cwd=root,
                           capture_output=True, text=True, check=True).stdout.split()
    graph = collections.defaultdict(lambda: collections.Counter())
    for f in files:
        if top(f) in NOT_PRODUCT:
            continue
        with open(os.path.join(root, f), errors="replace") as src:
            text = src.read()
        for inc in INCLUDE.findall(text):
            if "/" in inc and top(inc) != top(f):
                graph[top(f)][top(inc)] += 1
    return graph


def reachable(graph, start):
    seen, todo = set(), [start]
    while todo:
        for b in graph.get(todo.pop(), ()):
            if b not in seen:
                seen.add(b)
                todo.append(b)
    return seen


def loops(graph):
    found = set()
    for a in list(graph):
        from_a = reachable(graph, a)
        if a in from_a:
            found.add(frozenset([a] + [b for b in from_a if a in reachable(graph, b)]))
    return sorted(sorted(c) for c in found)


def main():
    root = subprocess.run(["git", "rev-parse", "--show-toplevel"], capture_output=True, text=True,
                          check=True).stdout.strip()
    graph = include_graph(root)
    cycles = loops(graph)
    if "--dot" in sys.argv[1:]:
        print("digraph includes {")
        for a in sorted(graph):
            for b in sorted(graph[a]):
                colour = " [color=red]" if a in reachable(graph, b) else ""
                print(f'  "{a}" -> "{b}"{colour};')
        print("}")
    else:
        width = max((len(a) for a in graph), default=0)
        for a in sorted(graph):
            targets = ", ".join(f"{b} ({n})" for b, n in sorted(graph[a].items()))
            print(f"{a:<{width}} -> {targets}")
        print("folders in an include loop: " + (", ".join(" <-> ".join(c) for c in cycles) or "none"))
    return 1 if cycles else 0


if __name__ == "__main__":
    sys.exit(main())
