#!/usr/bin/env python3
"""Fails when a file includes a header of a higher floor, or a product header declares a
...ForTesting name. Floors, lowest first: win/ and engine_client/codec/;
engine_client/engine_library/; engine_client/messaging/; engine_client/engine/; thermal_printer/;
host/. standins/ may include anything below host/; tests/ and tools/ anything."""
import pathlib
import re
import subprocess
import sys

FLOORS = [
    ("win/", 0),
    ("engine_client/codec/", 0),
    ("engine_client/engine_library/", 1),
    ("engine_client/messaging/", 2),
    ("engine_client/engine/", 3),
    ("thermal_printer/", 4),
    ("host/", 5),
]
STANDINS = "standins/"
PRODUCT = tuple(prefix for prefix, _ in FLOORS)
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def floor_of(path):
    for prefix, floor in FLOORS:
        if path.startswith(prefix):
            return floor
    return None


def main():
    root = pathlib.Path(__file__).resolve().parent.parent
    files = subprocess.run(["git", "ls-files", "*.cpp", "*.h"], cwd=root, check=True,
                           capture_output=True, text=True).stdout.split()
    problems = []
    for path in files:
        text = (root / path).read_text(encoding="utf-8")
        own = floor_of(path)
        if path.startswith(STANDINS):
            own = floor_of("thermal_printer/")  # anything below host/
        for included in INCLUDE.findall(text):
            theirs = floor_of(included)
            if own is None or (theirs is None and not included.startswith(STANDINS)):
                continue
            if included.startswith(STANDINS) and not path.startswith(STANDINS):
                problems.append(f"{path}: includes {included} (stand-ins sit beside the product)")
            elif theirs is not None and theirs > own:
                problems.append(f"{path}: includes {included} from a higher floor")
        if path.startswith(PRODUCT) and path.endswith(".h") and "ForTesting" in text:
            problems.append(f"{path}: a product header declares a ...ForTesting name")
    for problem in problems:
        print(problem)
    print(f"check_layers: {len(files)} files, {len(problems)} problems")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
