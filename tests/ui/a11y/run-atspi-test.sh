#!/usr/bin/env bash
# Runs atspi_test.py against PROGRAM on its own X display, session bus and accessibility registry; 77 (skip) without them.
set -euo pipefail
python=/usr/bin/python3 # the distribution's, which has the accessibility bindings
for tool in Xvfb dbus-run-session xclip; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
"$python" -c 'import pyatspi' 2>/dev/null || { echo "skipped: python3-pyatspi is not installed"; exit 77; }
work=$(mktemp -d) && mkfifo "$work/display"
# Xvfb names its display once it accepts clients; -noreset keeps it from restarting when its last client leaves.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null || true; rm -rf "$work"' EXIT
read -r -t 20 display <"$work/display" || { cat "$work/xvfb.log" >&2; exit 1; }
# The bus and the registry it starts must know the display, or injected input goes nowhere.
export DISPLAY=":$display" QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 XDG_RUNTIME_DIR="$work"
# Strict string checks misread the X keyboard library's strndup of an unterminated buffer (not our code).
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}strict_string_checks=0"
dbus-run-session -- "$python" "$(dirname "$0")/atspi_test.py" "$1" \
  2> >(grep -v -e 'fd limit' -e 'dbus-daemon\[' -e 'SpiRegistry daemon' -e 'X connection to' >&2)
