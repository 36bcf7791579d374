#!/usr/bin/env python3
"""The compile passes of tools/check_msvc.sh, run over the clang-cl build folder it configured
and built (the build itself compiles every translation unit with the project's MSVC flags).

  msvc_passes.py product BUILD    the "strict" pass over every C++ translation unit in
                                  BUILD/compile_commands.json and the "seh" pass over those that
                                  see a __try; exits 1 on any finding
  msvc_passes.py known-bad BUILD  runs each tools/msvc/known_bad file through the pass its
                                  "// expect PASS: REGEX" line names; exits 1 unless every one
                                  fails there with a matching diagnostic

The passes: "msvc", a translation unit's own command line (the project's MSVC flags); "strict",
the same parsed as /permissive- does, with the /W4 warnings clang-cl leaves off by default;
"seh", the __try rule, checked by clang-query (see seh_rule.query).
"""
import concurrent.futures
import json
import os
import re
import shlex
import subprocess
import sys
import tempfile
from pathlib import Path

HERE = Path(__file__).resolve().parent
CXX_SUFFIXES = {".cpp", ".cc", ".cxx"}
# Standard two-phase lookup, and C4456-C4459, C4244/C4267, C4702, C2131, C7555 and GNU
# extensions, which /W4 reports and clang-cl's /W4 does not.
STRICT = ["-fno-ms-compatibility", "-Wshadow-all", "-Wshorten-64-to-32",
          "-Wimplicit-int-conversion", "-Wfloat-conversion", "-Wunreachable-code-aggressive",
          "-Wvla", "-Wc++20-designator", "-Wgnu"]
CLANG_QUERY = "clang-query-14"
# Headers of the standard library, the Windows SDK and our shims: the seh pass skips them.
SYSTEM_FOLDERS = ("/usr/", str(HERE / "include"))


def compile_entries(build):
    entries = json.loads((build / "compile_commands.json").read_text())
    return sorted((e for e in entries if Path(e["file"]).suffix in CXX_SUFFIXES),
                  key=lambda e: e["file"])


def front_end_args(entry):
    """The entry's compiler and flags without its output, its -c and its source."""
    words = shlex.split(entry["command"])
    if "--" in words:
        words = words[:words.index("--")]
    return [w for w in words if w != "-c" and w != entry["file"]
            and not w.startswith(("/Fo", "-Fo", "/Fd", "-Fd"))]


def run(command, cwd):
    done = subprocess.run(command, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          text=True, check=False)
    return done.returncode, done.stdout


def compile_pass(args, source, cwd, extra):
    code, output = run(args + extra + ["/Zs", "--", source], cwd)
    return code == 0 and not output.strip(), output


def seh_pass(args, source, cwd):
    """Functions that use __try and also need something destroyed; clang-query dumps each
    function that needs destroying, and those whose dump holds a __try are findings."""
    # A one-entry database keeps "--" before the source: in cl mode an absolute path such as
    # /work/... would otherwise be read as an option.
    with tempfile.TemporaryDirectory() as database:
        entry = {"directory": cwd, "file": source, "arguments": args + ["-c", "--", source]}
        (Path(database) / "compile_commands.json").write_text(json.dumps([entry]))
        code, output = run([CLANG_QUERY, "-p", database, "-f", str(HERE / "seh_rule.query"),
                            source], cwd)
    if code != 0 or re.search(r"^\S.*error:", output, re.M):
        return False, output
    findings = []
    for match in re.split(r"^Match #\d+:\n", output, flags=re.M)[1:]:
        if "SEHTryStmt" in match:
            decl = next(line for line in match.splitlines() if re.match(r"\w+Decl ", line))
            findings.append(re.sub(r"( prev)? 0x[0-9a-f]+", "", decl) +
                            "\n  uses __try and has a local, parameter or temporary that needs"
                            " destroying (MSVC C2712)")
    return not findings, "\n".join(findings)


def run_pass(name, args, source, cwd):
    if name == "msvc":
        return compile_pass(args, source, cwd, [])
    if name == "strict":
        return compile_pass(args, source, cwd, STRICT)
    return seh_pass(args, source, cwd)


def jobs():
    return int(os.environ.get("KESTRO_JOBS") or os.cpu_count() or 2)


def sees_try(build, entries):
    """The entries whose source, or a header the build recorded for it outside the system
    folders, spells __try; an entry with no record counts as one that does."""
    deps = {}
    current = None
    listing = run(["ninja", "-C", str(build), "-t", "deps"], str(build))[1]
    for line in listing.splitlines():
        if line and not line.startswith(" "):
            current = deps.setdefault(str(build / line.split(": #deps")[0]), [])
        elif current is not None and line.strip():
            current.append(line.strip())
    spelled = {}

    def spells(path):
        if path not in spelled:
            text = Path(path).read_text(errors="replace") if Path(path).is_file() else ""
            spelled[path] = re.search(r"\b__try\b", text) is not None
        return spelled[path]

    chosen = []
    for entry in entries:
        output = next((w[3:] for w in shlex.split(entry["command"]) if w.startswith("/Fo")), "")
        headers = deps.get(str(Path(entry["directory"]) / output))
        if headers is None or spells(entry["file"]) or any(
                spells(h) for h in headers if not h.startswith(SYSTEM_FOLDERS)):
            chosen.append(entry)
    return chosen


def check_product(build):
    entries = compile_entries(build)
    if not entries:
        print(f"no C++ translation units in {build}/compile_commands.json", file=sys.stderr)
        return 1
    failed = 0
    for name, chosen in (("strict", entries), ("seh", sees_try(build, entries))):
        with concurrent.futures.ThreadPoolExecutor(jobs()) as pool:
            results = list(pool.map(
                lambda e: run_pass(name, front_end_args(e), e["file"], e["directory"]), chosen))
        bad = [(e["file"], out) for e, (ok, out) in zip(chosen, results) if not ok]
        print(f"{name}: {len(chosen) - len(bad)} of {len(chosen)} translation units clean")
        for source, output in bad:
            print(f"--- {name}: {source}\n{output.rstrip()}")
        failed += len(bad)
    return 1 if failed else 0


def check_known_bad(build):
    # Any product translation unit's flags will do; the first in the source tree is stable.
    source_dir = HERE.parent.parent
    entries = [e for e in compile_entries(build) if Path(e["file"]).is_relative_to(source_dir)
               and not Path(e["file"]).is_relative_to(build)]
    args = front_end_args(entries[0])
    files = sorted((HERE / "known_bad").glob("*.cpp"))
    if not files:
        print("no known-bad files", file=sys.stderr)
        return 1
    failed = 0
    for path in files:
        expect = re.search(r"^// expect (msvc|strict|seh): (.+)$", path.read_text(), re.M)
        if not expect:
            print(f"known bad {path.name}: no '// expect PASS: REGEX' line")
            failed += 1
            continue
        ok, output = run_pass(expect.group(1), args, str(path), str(build))
        caught = not ok and re.search(expect.group(2), output)
        print(f"known bad {path.name}: {expect.group(1)} "
              f"{'caught it' if caught else 'did NOT catch it as expected'}")
        if not caught:
            print(output.rstrip())
            failed += 1
    return 1 if failed else 0


def main():
    if len(sys.argv) != 3 or sys.argv[1] not in ("product", "known-bad"):
        print(__doc__, file=sys.stderr)
        return 2
    build = Path(sys.argv[2]).resolve()
    return {"product": check_product, "known-bad": check_known_bad}[sys.argv[1]](build)


if __name__ == "__main__":
    sys.exit(main())
