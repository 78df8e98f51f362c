#!/usr/bin/env bash
# Capture with and without a plain browser following the web inbox: workload (a) (one session of
# 1 KiB messages) sent by smtp-load to a fresh headless Quellpost, alone and with Debian's
# chromium (headless, no DevTools client attached, as a person's browser runs) showing the inbox,
# taking turns. followed_capture.mjs drives the browser through playwright-core, whose DevTools
# connection is sent every WebSocket message too and so costs the browser several times more.
# Prints, per run, messages per second, the server's CPU and chromium's (all its processes) per
# message, from /proc. CPU time is counted in clock ticks (10 ms): use a few thousand messages.
#
#   bench/web/followed_plain.sh BUILD/src/app/quellpost BUILD/bench/driver/smtp-load [RUNS] [MESSAGES]
set -euo pipefail

QUELLPOST=$1
LOAD=$2
RUNS=${3:-3}
MESSAGES=${4:-5000}
WORK=$(mktemp -d)
SERVER=""
BROWSER=""
cleanup() {
  [ -z "$BROWSER" ] || kill "$BROWSER" 2> /dev/null || true
  [ -z "$SERVER" ] || kill "$SERVER" 2> /dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT

. "$(dirname "${BASH_SOURCE[0]}")/../lib.sh"
ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
# Every chromium process's user and system time, those that ended included in their parent's.
chromium_ticks() {
  local total=0 stat
  for stat in /proc/[0-9]*/stat; do
    case "$(cat "$stat" 2> /dev/null)" in
      *"(chrom"*) total=$((total + $(sed 's/.*) //' "$stat" 2> /dev/null | awk '{ print $12 + $13 + $14 + $15 }'))) ;;
    esac
  done
  echo "$total"
}

echo "| run | mode | msgs/s | server CPU µs/msg | chromium CPU µs/msg |"
echo "|--:|---|--:|--:|--:|"
for run in $(seq 1 "$RUNS"); do
  for mode in alone followed; do
    smtp=$(free_port)
    http=$(free_port)
    "$QUELLPOST" --headless --smtp "127.0.0.1:$smtp" --http "127.0.0.1:$http" > "$WORK/server.log" 2>&1 &
    SERVER=$!
    until curl -sf -o /dev/null "http://127.0.0.1:$http/livez"; do sleep 0.1; done
    if [ "$mode" = followed ]; then
      chromium --headless=new --no-sandbox --disable-gpu --user-data-dir="$WORK/profile" --window-size=1280,800 \
        "http://127.0.0.1:$http/" > /dev/null 2>&1 &
      BROWSER=$!
      # Following once the inbox has asked for the events (its WebSocket is the one upgrade).
      for _ in $(seq 1 100); do
        [ "$(ss -Htn state established "( sport = :$http )" | wc -l)" -ge 1 ] && break
        sleep 0.1
      done
      sleep 1 # the page's first paint and list
    fi
    server0=$(ticks "$SERVER")
    browser0=$(chromium_ticks)
    rate=$("$LOAD" --port "$smtp" --messages "$MESSAGES" --size 1024 --deadline 120 | sed -n 's/.*msgs_per_s=\([0-9.]*\).*/\1/p')
    sleep 2 # the browser takes the last events
    server=$(( ($(ticks "$SERVER") - server0) * 10000 / MESSAGES ))
    browser=$(( ($(chromium_ticks) - browser0) * 10000 / MESSAGES ))
    if [ -n "$BROWSER" ]; then
      kill "$BROWSER"
      wait "$BROWSER" 2> /dev/null || true
      BROWSER=""
    fi
    kill "$SERVER"
    wait "$SERVER" 2> /dev/null || true
    SERVER=""
    [ "$mode" = alone ] && browser=0
    echo "| $run | $mode | ${rate%.*} | $server | $browser |"
  done
done
