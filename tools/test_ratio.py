#!/usr/bin/env python3
"""Prints how much of the source is test code: physical lines of the tracked C++, Python,
shell and CMake files, and the share of them under tests/. Fuzz seed corpora are data, not
source. Exits 1 when the share is above the limit given with --max (a percentage)."""
import argparse
import subprocess
import sys
from pathlib import Path

SUFFIXES = {".cpp", ".h", ".py", ".sh", ".cmake"}


def is_source(path: str) -> bool:
    name = Path(path)
    if "/corpus/" in f"/{path}":
        return False
    return name.suffix in SUFFIXES or name.name == "CMakeLists.txt"


def count_lines(path: Path) -> int:
    with path.open("rb") as source:
        return sum(1 for _ in source)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--max", type=float, help="fail above this percentage")
    args = parser.parse_args()
    root = Path(__file__).resolve().parent.parent
    tracked = subprocess.run(["git", "ls-files", "-z"], cwd=root, check=True,
                             capture_output=True).stdout.decode().split("\0")
    total = tests = 0
    for path in filter(is_source, filter(None, tracked)):
        lines = count_lines(root / path)
        total += lines
        if path.startswith("tests/"):
            tests += lines
    share = 100.0 * tests / total if total else 0.0
    print(f"Test lines: {tests} of {total} source lines ({share:.1f} %)")
    return 1 if args.max is not None and share > args.max else 0


if __name__ == "__main__":
    sys.exit(main())
