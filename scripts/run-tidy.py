#!/usr/bin/env python3
"""Runs clang-tidy over our own translation units of a built CMake/Ninja tree; exits 1 on any finding.

A translation unit whose inputs are unchanged since it last passed is not analysed again: the key
of a pass is a hash of clang-tidy's version, .clang-tidy, the compile command, and the contents of
the source and of every file the compiler read for it (the header list Ninja recorded in the last
build). Any change to any of them analyses the unit afresh. Only passes are remembered.

Usage: scripts/run-tidy.py BUILD_DIR
"""
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


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build")
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    with open(os.path.join(build, "compile_commands.json")) as f:
        units = [u for u in json.load(f) if OURS.match(os.path.relpath(u["file"], root))]
    deps = header_lists(build)
    cache = os.path.join(build, "tidy-passed")
    os.makedirs(cache, exist_ok=True)
    version = subprocess.run([TIDY, "--version"], capture_output=True, text=True, check=True).stdout
    with open(os.path.join(root, ".clang-tidy"), "rb") as f:
        config = f.read()
    digests = {}

    def digest(path):
        if path not in digests:
            try:
                with open(path, "rb") as f:
                    digests[path] = hashlib.sha256(f.read()).hexdigest()
            except OSError:
                digests[path] = "missing"
        return digests[path]

    def key(unit):
        words = shlex.split(unit["command"])
        obj = words[words.index("-o") + 1] if "-o" in words else None
        if obj not in deps:
            return None
        h = hashlib.sha256(version.encode() + config + unit["command"].encode())
        for path in [unit["file"]] + deps[obj]:
            full = os.path.normpath(os.path.join(unit["directory"], path))
            h.update(full.encode() + b"\0" + digest(full).encode() + b"\n")
        return h.hexdigest()

    pending = []
    for unit in units:
        k = key(unit)
        if k is None or not os.path.exists(os.path.join(cache, k)):
            pending.append((unit, k))

    def analyse(item):
        unit, k = item
        run = subprocess.run([TIDY, "-p", build, "--quiet", unit["file"]], capture_output=True, text=True)
        text = run.stdout + run.stderr
        clean = run.returncode == 0 and not FINDING.search(text)
        if clean and k is not None:
            open(os.path.join(cache, k), "w").close()
        return clean, text

    print(f"clang-tidy: {len(pending)} of {len(units)} translation units to analyse", flush=True)
    failed = 0
    with concurrent.futures.ThreadPoolExecutor(max_workers=os.cpu_count() or 1) as pool:
        for clean, text in pool.map(analyse, pending):
            if not clean:
                failed += 1
                lines = [l for l in text.splitlines() if not l.endswith("warnings generated.")]
                print("\n".join(lines), flush=True)
    if failed:
        print(f"clang-tidy: findings in {failed} translation units", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
