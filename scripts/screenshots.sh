#!/usr/bin/env bash
# Takes the documentation's screenshots of the main window under a virtual X server and writes
# them to docs/screenshots/: main-window.png, search-found.png, message-html.png,
# message-attachments.png and message-list.png (the message window with its list).
# Usage: scripts/screenshots.sh
#   QT_SCALE_FACTOR=2 scripts/screenshots.sh   writes the same names with @2x
#   BUILD_DIR=...                              the build folder to use (default build-screenshots)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-screenshots}
scale=${QT_SCALE_FACTOR:-1}
out=$root/docs/screenshots

if ! command -v Xvfb >/dev/null; then
  if [[ $(id -u) -ne 0 ]]; then
    echo "Xvfb is missing: sudo apt-get install xvfb" >&2
    exit 1
  fi
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends xvfb >/dev/null
fi

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQP_SCREENSHOTS=ON >/dev/null
cmake --build "$build" --target quellpost-screenshots

# Xvfb picks a free display itself and names it on the pipe once it accepts clients.
work=$(mktemp -d)
mkfifo "$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
cleanup() {
  kill "$xvfb" 2>/dev/null || true
  wait "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
if ! read -r -t 30 display <"$work/display"; then
  echo "Xvfb did not start:" >&2
  cat "$work/xvfb.log" >&2
  exit 1
fi

suffix=""
if [[ $scale != 1 ]]; then
  suffix="@${scale}x"
fi
mkdir -p "$out"
DISPLAY=":$display" QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR="$scale" \
  "$build/tools/screenshot/quellpost-screenshots" "$out" "$suffix"
