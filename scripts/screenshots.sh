#!/usr/bin/env bash
# Takes the documentation's screenshots of the main window under a virtual X server and writes
# them to docs/screenshots/: main-window.png, search-found.png, message-html.png,
# message-attachments.png, message-list.png (the message window with its list), tray-icon.png
# (the tray icon with its count and menu) and notification.png (the desktop's notice of a burst).
# The tray needs a tray host (trayer) and the notice a notification service (dunst) on a private
# session bus; both run on the virtual X server beside the program, drawn at its scale.
# Usage: scripts/screenshots.sh
#   QT_SCALE_FACTOR=2 scripts/screenshots.sh   writes the same names with @2x
#   BUILD_DIR=...                              the build folder to use (default build-screenshots)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-screenshots}
scale=${QT_SCALE_FACTOR:-1}
out=$root/docs/screenshots

# Debian's packages for the virtual X server, the session bus, the notices and the tray.
needed=()
for tool in Xvfb:xvfb dbus-run-session:dbus-daemon dunst:dunst trayer:trayer; do
  command -v "${tool%%:*}" >/dev/null || needed+=("${tool#*:}")
done
if [[ ${#needed[@]} -gt 0 ]]; then
  if [[ $(id -u) -ne 0 ]]; then
    echo "Missing packages: sudo apt-get install ${needed[*]}" >&2
    exit 1
  fi
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${needed[@]}" >/dev/null
fi

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQP_SCREENSHOTS=ON >/dev/null
cmake --build "$build" --target quellpost-screenshots

# Xvfb picks a free display itself and names it on the pipe once it accepts clients.
work=$(mktemp -d)
mkfifo "$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -wr -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
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
# Notices in the screen's top right corner; the tray host along the bottom edge, on the right.
cat >"$work/dunstrc" <<CONFIG
[global]
origin = top-right
offset = $((12 * scale))x$((12 * scale))
width = $((320 * scale))
frame_width = $scale
padding = $((8 * scale))
horizontal_padding = $((10 * scale))
font = Liberation Sans $((10 * scale))
icon_position = off
show_indicators = no
[urgency_normal]
background = "#fdfdfd"
foreground = "#202020"
frame_color = "#9a9a9a"
timeout = 0
CONFIG
# The tool waits for the tray host and the notification service itself.
DISPLAY=":$display" QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR="$scale" dbus-run-session -- sh -c '
  dunst -config "$1/dunstrc" >"$1/dunst.log" 2>&1 &
  notices=$!
  trayer --edge bottom --align right --widthtype percent --width 100 --height "$2" --transparent false \
    --tint 0xe8e8e8 >"$1/trayer.log" 2>&1 &
  tray=$!
  status=0
  "$3" "$4" "$5" || status=$?
  kill "$notices" "$tray"
  exit "$status"' sh "$work" $((24 * scale)) "$build/tools/screenshot/quellpost-screenshots" "$out" "$suffix"
