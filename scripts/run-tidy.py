#!/usr/bin/env python3
"""Runs clang-tidy over our own translation units of a built CMake/Ninja tree; exits 1 on any finding.

A unit is analysed unless its inputs are exactly those of a recorded pass. The key of a pass is a
hash of clang-tidy's version, .clang-tidy, the compile command (with the checkout's and the build's
folders written as placeholders, so a pass holds in any checkout), and the contents of the source
and of every file the compiler read for it, system headers included (the list Ninja recorded in
the last build). clang-tidy gives the same answer for the same inputs, so a recorded pass stands
for a run: a change to any input, our headers or Debian's, analyses the unit afresh.

Passes are remembered in two places: the build's own cache (build/tidy-passed/), and the record
committed with the sources (scripts/tidy-record.txt, one "unit key" line per translation unit),
which --record rewrites after a run in which every unit passed. A fresh checkout thus analyses only
the units that changed since the record was written; --all ignores both.

Usage: scripts/run-tidy.py [--record] [--all] [BUILD_DIR]
"""
import argparse
import concurrent.futures
import hashlib
import json
import os
import re
import shlex
import subprocess
import sys

TIDY = "clang-tidy-14"
OURS = re.compile(r"(src|tests|bench|tools)/")
FINDING = re.compile(r"^\S.*:\d+:\d+: (warning|error):", re.M)
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
RECORD = os.path.join(ROOT, "scripts", "tidy-record.txt")


def header_lists(build):
    """Maps each object file to the files the compiler read for it, from Ninja's dependency log."""
    out = subprocess.run(["ninja", "-C", build, "-t", "deps"], capture_output=True, text=True, check=True).stdout
    deps, current = {}, None
    for line in out.splitlines():
        if not line.startswith(" ") and line.strip():
            current = line.split(":", 1)[0] if "(VALID)" in line else None
            if current is not None:
                deps[current] = []
        elif current is not None and line.strip():
            deps[current].append(line.strip())
    return deps


def read_record():
    record = {}
    if os.path.exists(RECORD):
        with open(RECORD) as f:
            for line in f:
                if line.strip() and not line.startswith("#"):
                    unit, key = line.split()
                    record[unit] = key
    return record


def write_record(keys):
    with open(RECORD, "w") as f:
        f.write("# Written by scripts/run-tidy.py --record: the inputs of each unit's last clean clang-tidy run.\n")
        for unit in sorted(keys):
            f.write(f"{unit} {keys[unit]}\n")


class Keys:
    """The key of a unit's inputs; file digests are shared between units."""

    def __init__(self, build, deps):
        self.build, self.deps, self.digests = build, deps, {}
        self.version = subprocess.run([TIDY, "--version"], capture_output=True, text=True, check=True).stdout
        with open(os.path.join(ROOT, ".clang-tidy"), "rb") as f:
            self.config = f.read()

    def placeholders(self, text):
        return text.replace(self.build, "<build>").replace(ROOT, "<root>")

    def digest(self, path):
        if path not in self.digests:
            try:
                with open(path, "rb") as f:
                    self.digests[path] = hashlib.sha256(f.read()).hexdigest()
            except OSError:
                self.digests[path] = "missing"
        return self.digests[path]

    def of(self, unit):
        words = shlex.split(unit["command"])
        obj = words[words.index("-o") + 1] if "-o" in words else None
        if obj not in self.deps:
            return None
        h = hashlib.sha256(self.version.encode() + self.config + self.placeholders(unit["command"]).encode())
        for path in [unit["file"]] + self.deps[obj]:
            full = os.path.normpath(os.path.join(unit["directory"], path))
            h.update(self.placeholders(full).encode() + b"\0" + self.digest(full).encode() + b"\n")
        return h.hexdigest()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--record", action="store_true", help="rewrite the committed record when all pass")
    parser.add_argument("--all", action="store_true", help="analyse every unit, whatever passed before")
    parser.add_argument("build", nargs="?", default="build")
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    with open(os.path.join(build, "compile_commands.json")) as f:
        units = [u for u in json.load(f) if OURS.match(os.path.relpath(u["file"], ROOT))]
    keys = Keys(build, header_lists(build))
    cache = os.path.join(build, "tidy-passed")
    os.makedirs(cache, exist_ok=True)
    record = {} if args.all else read_record()

    passed, pending = {}, []
    for unit in units:
        name, key = os.path.relpath(unit["file"], ROOT), keys.of(unit)
        known = key is not None and (record.get(name) == key or os.path.exists(os.path.join(cache, key)))
        if known and not args.all:
            passed[name] = key
        else:
            pending.append((unit, name, key))

    def analyse(item):
        unit, name, key = item
        run = subprocess.run([TIDY, "-p", build, "--quiet", unit["file"]], capture_output=True, text=True)
        text = run.stdout + run.stderr
        clean = run.returncode == 0 and not FINDING.search(text)
        if clean and key is not None:
            open(os.path.join(cache, key), "w").close()
        return name, key, clean, text

    print(f"clang-tidy: {len(pending)} of {len(units)} translation units to analyse", flush=True)
    failed = 0
    with concurrent.futures.ThreadPoolExecutor(max_workers=os.cpu_count() or 1) as pool:
        for name, key, clean, text in pool.map(analyse, pending):
            if clean:
                passed[name] = key
            else:
                failed += 1
                lines = [line for line in text.splitlines() if not line.endswith("warnings generated.")]
                print("\n".join(lines), flush=True)
    if failed:
        print(f"clang-tidy: findings in {failed} translation units", file=sys.stderr)
        return 1
    if args.record:
        write_record({name: key for name, key in passed.items() if key is not None})
        print(f"clang-tidy: record of {len(passed)} units written to {os.path.relpath(RECORD, ROOT)}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
