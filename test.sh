#!/usr/bin/env bash
# Builds everything and runs every test twice: a plain optimised build, then a build under
# AddressSanitizer and UndefinedBehaviorSanitizer. The plain build is also packed as a .deb and
# inspected.
set -euo pipefail
cd "$(dirname "$0")"

scripts/ensure-deps.sh test
# Nodemailer, as the lock file names it, for the tests of the modern dialogue.
(cd tests/esmtp/nodemailer && npm ci --no-audit --no-fund --silent)
# The published npm client the API tests drive, at the version the lock file names.
(cd tests/api/node && npm ci --no-audit --no-fund --loglevel=error)
# The web inbox's tests drive Debian's chromium with playwright-core, and check it with axe-core.
(cd tests/web/node && PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --no-audit --no-fund --loglevel=error)

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
# No leak is suppressed: most of our code runs in slots, under Qt's frames, so a suppression
# matching a Qt library would hide our own leaks too.
export LSAN_OPTIONS=
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

# run_suite DIR [ctest arguments] -- [cmake arguments]
run_suite() {
  local dir=$1 ctest_args=(); shift
  while [ "$1" != "--" ]; do ctest_args+=("$1"); shift; done
  shift
  cmake -S . -B "$dir" -G Ninja -DBUILD_TESTING=ON "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" --timeout 600 "${ctest_args[@]}"
}

echo "== Plain build (Release)"
run_suite build -- -DCMAKE_BUILD_TYPE=Release -DQP_SANITIZE=OFF
echo "== Style: clang-format and clang-tidy over our sources"
scripts/check-style.sh build
echo "== Debian package (built from the plain build, inspected, not installed)"
tests/packaging/check-deb.sh build
echo "== Sanitized build (ASan + UBSan)"
# The load tests (label "long") ran above; under the sanitizers they would take minutes and
# the shorter tests of the same paths run there all the same.
run_suite build-asan --label-exclude long -- -DCMAKE_BUILD_TYPE=Debug -DQP_SANITIZE=ON
echo "== Fuzzing the receive step and engine, and the MIME reader (bounded, ASan + UBSan)"
CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQP_SANITIZE=ON -DQP_FUZZ=ON \
  -DBUILD_TESTING=OFF >/dev/null
cmake --build build-fuzz -j "$jobs" --target fuzz_smtp_session fuzz_mime_parse
# libFuzzer adds what it finds to its corpus folder: give it a copy of the seeds.
fuzz() {
  local target=$1 seeds=$2 corpus=build-fuzz/$2
  rm -rf "$corpus" && mkdir -p "$corpus" && cp "tests/fuzz/$seeds"/* "$corpus"/
  "build-fuzz/tests/fuzz/$target" -runs=4000 -max_len=8192 -seed=1 "$corpus" 2>&1 | tail -n 3
}
fuzz fuzz_smtp_session corpus
fuzz fuzz_mime_parse mime-corpus
echo "== All tests passed"
