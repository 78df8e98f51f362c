#!/usr/bin/env bash
# Instructions per message of headless capture (workload (a): 1 KiB messages, one session), with
# and without a client following the event stream: the server runs under callgrind, smtp-load
# sends 500 and then 1,500 messages to a fresh server, and the difference in the server's
# instructions divided by 1,000 is one message's cost, start-up set apart: of the event loop's
# thread (the capture's own) and of all threads together.
#
#   bench/web/callgrind_followed.sh BUILD/src/app/quellpost BUILD/bench/driver/smtp-load [QUERY]
#
# QUERY is the follower's choice of form, e.g. "batch=1&brief=1" as the web inbox asks.
set -euo pipefail
BIN=$1 LOAD=$2 QUERY=${3:-}
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# The server's instructions for COUNT messages; FOLLOW=1 keeps a WebSocket client reading events.
instructions() {
  local count=$1 follow=$2 work pid smtp http follower=""
  work=$(mktemp -d)
  valgrind --tool=callgrind --separate-threads=yes --callgrind-out-file="$work/cg.out" \
    "$BIN" --headless --smtp 127.0.0.1:0 --http 127.0.0.1:0 > "$work/log" 2> "$work/valgrind.log" &
  pid=$!
  for _ in $(seq 1 240); do grep -q "HTTP API listening" "$work/log" && break; sleep 0.5; done
  smtp=$(sed -n 's/.*SMTP server listening on 127\.0\.0\.1 port \([0-9]*\)\..*/\1/p' "$work/log" | head -n 1)
  http=$(sed -n 's/.*HTTP API listening on 127\.0\.0\.1 port \([0-9]*\)\..*/\1/p' "$work/log" | head -n 1)
  if [ "$follow" = 1 ]; then
    /usr/bin/python3 "$HERE/follow_events.py" "$http" "$count" "$QUERY" > "$work/follower.log" &
    follower=$!
    for _ in $(seq 1 60); do grep -q ready "$work/follower.log" && break; sleep 0.5; done
  fi
  "$LOAD" --port "$smtp" --messages "$count" --size 1024 --deadline 600 > "$work/load.log"
  [ -z "$follower" ] || wait "$follower"
  kill -TERM "$pid"
  wait "$pid" || true
  grep -q "confirmed=$count " "$work/load.log" || { echo "not every message was confirmed" >&2; exit 1; }
  # "event-loop all": the first thread's count and every thread's.
  local loop=0 all=0 count
  for file in "$work"/cg.out-*; do
    count=$(sed -n 's/^totals: *//p; s/^summary: *//p' "$file" | head -n 1)
    all=$((all + count))
    case "$file" in *-01) loop=$count ;; esac
  done
  echo "$loop $all"
  rm -rf "$work"
}

for follow in 0 1; do
  read -r low_loop low_all < <(instructions 500 $follow)
  read -r high_loop high_all < <(instructions 1500 $follow)
  echo "followed=$follow: $(( (high_loop - low_loop) / 1000 )) instructions per message on the event loop," \
    "$(( (high_all - low_all) / 1000 )) in all threads"
done
