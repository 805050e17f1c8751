#!/usr/bin/env python3
"""Injects known faults into the product one at a time and says which of them the suite catches.

Each line of a fault file is `path | text | replacement | what the fault is`, read literally: `text`
must occur exactly once in `path`. For each fault the file is changed, the build directory rebuilt and
the whole suite run (ctest); the file is then put back byte for byte, whatever happened. A fault that
does not compile is reported as such and counts as caught by the compiler, not by a test.
Usage: scripts/fault-check.py [--build DIR] [--only N,N] scripts/faults/*.txt
"""
import argparse
import os
import subprocess
import sys

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def read_faults(paths):
    faults = []
    for path in paths:
        with open(path, encoding="utf-8") as f:
            for number, line in enumerate(f, 1):
                line = line.rstrip("\n")
                if not line.strip() or line.lstrip().startswith("#"):
                    continue
                parts = [p.strip() for p in line.split(" | ")]
                if len(parts) != 4:
                    sys.exit(f"{path}:{number}: expected 'path | text | replacement | what'")
                faults.append((f"{os.path.basename(path)}:{number}", *parts))
    return faults


def run(cmd, timeout):
    try:
        return subprocess.run(cmd, cwd=TOP, capture_output=True, text=True, timeout=timeout).returncode
    except subprocess.TimeoutExpired:
        return -1


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build")
    parser.add_argument("--only", default="")
    parser.add_argument("files", nargs="+")
    args = parser.parse_args()
    faults = read_faults(args.files)
    only = {int(n) for n in args.only.split(",") if n}
    caught = missed = unbuilt = 0
    for index, (where, path, text, replacement, what) in enumerate(faults, 1):
        if only and index not in only:
            continue
        full = os.path.join(TOP, path)
        with open(full, encoding="utf-8") as f:
            original = f.read()
        if original.count(text) != 1:
            print(f"{index:3} {where}: '{text}' occurs {original.count(text)} times in {path}", flush=True)
            unbuilt += 1
            continue
        try:
            with open(full, "w", encoding="utf-8") as f:
                f.write(original.replace(text, replacement))
            if run(["cmake", "--build", args.build, "-j", "2"], 1800) != 0:
                verdict = "does not build"
                unbuilt += 1
            elif run(["ctest", "--test-dir", args.build, "-j", "2", "--timeout", "120"], 1800) != 0:
                verdict = "caught"
                caught += 1
            else:
                verdict = "MISSED"
                missed += 1
        finally:
            with open(full, "w", encoding="utf-8") as f:
                f.write(original)
        print(f"{index:3} {verdict:14} {where}: {what}", flush=True)
    run(["cmake", "--build", args.build, "-j", "2"], 1800)
    print(f"caught {caught}, missed {missed}, not built {unbuilt}, of {caught + missed + unbuilt}")
    return 0 if missed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
