#!/usr/bin/env python3
"""Prints the size of the test suite against the product's code.

Lines counted: non-blank lines of C++ sources (.cpp, .h) that are not `//` comments. The product is
every source folder but tests/, fuzz/ and bench/; the suite is tests/ and fuzz/. The project holds the
suite at most 0.4 times the product, aiming for a third.
Usage: scripts/test-ratio.py [--by-folder]
"""
import os
import sys

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SKIP = {"build", ".git", "samples", "docs", "scripts"}
SUITE = {"tests", "fuzz"}
OUTSIDE = {"bench"}


def counted_lines(path):
    with open(path, encoding="utf-8", errors="replace") as f:
        return sum(1 for line in f if line.strip() and not line.strip().startswith("//"))


def main():
    by_folder = "--by-folder" in sys.argv[1:]
    product, suite = {}, {}
    for top in sorted(os.listdir(TOP)):
        root = os.path.join(TOP, top)
        if not os.path.isdir(root) or top in SKIP or top in OUTSIDE or top.startswith("."):
            continue
        for folder, _, files in os.walk(root):
            for name in files:
                if not name.endswith((".cpp", ".h")):
                    continue
                rel = os.path.relpath(folder, TOP).split(os.sep)
                key = "/".join(rel[:2]) if top in SUITE else top
                target = suite if top in SUITE else product
                target[key] = target.get(key, 0) + counted_lines(os.path.join(folder, name))
    p, s = sum(product.values()), sum(suite.values())
    if by_folder:
        for key in sorted(product):
            print(f"  product {key:24} {product[key]:6}")
        for key in sorted(suite):
            print(f"  suite   {key:24} {suite[key]:6}")
    print(f"product {p} lines, tests and fuzz {s} lines: {s / p:.3f} times the product (at most 0.40)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
