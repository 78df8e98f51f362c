#!/usr/bin/env bash
# System calls per message of the capture path, counted by strace: the server runs under
# `strace -c -f` while smtp-load sends workload (a) twice over (a fresh server each time), once
# with few messages and once with many; the difference in calls, divided by the difference in
# messages, is what one message costs, start-up and session set apart. Like callgrind's count, it
# hardly moves with the machine's other load.
#
#   bench/syscalls.sh [--bin PATH/quellpost-bench] [--load PATH/smtp-load] [--server quellpost|smtp-sink]
#                     [--shown] [--runs N] [--few N] [--many N]
#
# Defaults: the binaries of build-bench/ ($QP_BENCH_BUILD), 500 and 1,500 messages of 1 KiB, the
# window hidden. smtp-sink is taken from bench/tools/ (bench/run.sh fetches it).
# Prints one line per run: "quellpost run 1: 14.2 system calls per message (...)", then the
# calls of the larger run by name.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD="${QP_BENCH_BUILD:-$ROOT/build-bench}"
BIN="$BUILD/bench/capture/quellpost-bench"
LOAD="$BUILD/bench/driver/smtp-load"
SINK_DIR="$ROOT/bench/tools/postfix"
SERVER=quellpost
WINDOW=--hidden
RUNS=1
FEW=500
MANY=1500

while [ $# -gt 0 ]; do
  case "$1" in
    --bin) BIN="$2"; shift ;;
    --load) LOAD="$2"; shift ;;
    --server) SERVER="$2"; shift ;;
    --shown) WINDOW="" ;;
    --runs) RUNS="$2"; shift ;;
    --few) FEW="$2"; shift ;;
    --many) MANY="$2"; shift ;;
    -h|--help) sed -n '2,14p' "$0"; exit 0 ;;
    *) echo "syscalls.sh: unknown option $1" >&2; exit 2 ;;
  esac
  shift
done

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

# The server's system calls (all threads) for COUNT messages; the table goes to $WORK/calls.COUNT.
calls() {
  local count=$1 port pid
  port=$(free_port)
  rm -f "$WORK/server.log"
  case "$SERVER" in
    quellpost)
      QT_QPA_PLATFORM=offscreen strace -c -f -o "$WORK/calls.$count" \
        "$BIN" $WINDOW --port "$port" > "$WORK/server.log" 2>&1 &
      ;;
    smtp-sink)
      LD_LIBRARY_PATH="$SINK_DIR/usr/lib/postfix" strace -c -f -o "$WORK/calls.$count" \
        "$SINK_DIR/usr/sbin/smtp-sink" -u nobody -f EHLO "127.0.0.1:$port" 1024 > "$WORK/server.log" 2>&1 &
      ;;
    *) echo "syscalls.sh: server quellpost or smtp-sink, not $SERVER" >&2; exit 2 ;;
  esac
  pid=$!
  local waited=0
  until "$LOAD" --port "$port" --messages 0 --deadline 2 2> /dev/null | grep -q 'failed_sessions=0 '; do
    sleep 0.2
    waited=$((waited + 1))
    if [ $waited -gt 300 ] || ! kill -0 $pid 2> /dev/null; then
      echo "syscalls.sh: the server did not start" >&2
      cat "$WORK/server.log" >&2
      exit 1
    fi
  done
  send_load "$port" "$count" 1024
  # strace passes no signal on: the server itself is asked to end.
  kill -TERM "$(pgrep -P $pid | head -n 1)"
  wait $pid || true
  check_confirmed syscalls.sh "$count"
  awk '$NF == "total" { print $4 }' "$WORK/calls.$count"
}

for run in $(seq 1 "$RUNS"); do
  low=$(calls "$FEW")
  high=$(calls "$MANY")
  echo "$SERVER run $run: $(awk -v h="$high" -v l="$low" -v n=$((MANY - FEW)) 'BEGIN { printf "%.1f", (h - l) / n }') system calls per message ($FEW: $low, $MANY: $high)"
done
sed -n '1,/^-----/d; /^-----/,$d; p' "$WORK/calls.$MANY" | awk '{ printf "  %s %s\n", $NF, $4 }' | sort -k2 -n -r | head -n 15
