#!/usr/bin/env bash
# Fails on any difference from the committed .clang-format and on any clang-tidy finding of the
# committed .clang-tidy. Usage: scripts/check-style.sh [--format-only] [BUILD_DIR]  (default
# build/, configured with compile_commands.json; the generated sources in it must exist, so run
# after the build). --format-only checks the format alone. clang-tidy analyses only the units whose
# inputs differ from a recorded pass (scripts/run-tidy.py explains the record; after changing code,
# `scripts/run-tidy.py --record build` brings scripts/tidy-record.txt up to date for the commit).
set -euo pipefail
cd "$(dirname "$0")/.."
format_only=0
if [[ ${1:-} == --format-only ]]; then
  format_only=1
  shift
fi
build=${1:-build}

mapfile -t sources < <(git ls-files --cached --others --exclude-standard -- 'src/*.cpp' 'src/*.h' 'tests/*.cpp' 'tests/*.h' \
  'bench/*.cpp' 'bench/*.h' 'tools/*.cpp' 'tools/*.h')

echo "-- clang-format (${#sources[@]} files)"
clang-format-14 --dry-run -Werror "${sources[@]}"
if ((format_only)); then
  echo "-- format check passed"
  exit 0
fi

# Only our own translation units (moc's and rcc's outputs are not ours; headers are reached
# through HeaderFilterRegex).
echo "-- clang-tidy"
scripts/run-tidy.py "$build"
echo "-- style checks passed"
