#!/bin/sh
# A real notification service (dunst) on a private session bus and a private X display: the
# burst test sends to it through D-Bus.
set -eu
for tool in dunst dbus-run-session xvfb-run; do
  command -v "$tool" >/dev/null || { echo "$tool is missing (scripts/ensure-deps.sh test)"; exit 77; }
done
export QP_NOTIFY_DAEMON=1
LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$(dirname "$0")/qtdbus-leaks.supp"
export LSAN_OPTIONS
exec dbus-run-session -- xvfb-run -a sh -c '
  dunst >/dev/null 2>&1 &
  daemon=$!
  "$1" --gtest_filter="RealService.*"
  status=$?
  kill "$daemon"
  exit "$status"' sh "$1"
