#!/usr/bin/env bash
# Instructions per message of the capture path, counted by callgrind: quellpost-bench --hidden runs
# under callgrind while smtp-load sends a workload twice over (a fresh server each time), once
# with few messages and once with many; the difference in the server's instructions, divided by
# the difference in messages, is the cost of one message, start-up and session set apart.
# Unlike a timing, the count hardly moves with the machine's other load.
#
#   bench/callgrind.sh [--bin PATH/quellpost-bench] [--load PATH/smtp-load] [--workloads "a c"] [--runs N]
#                      [--keep DIR]   (DIR keeps callgrind's output files, for callgrind_annotate)
#                      [--shown]      (the window shown and painting, instead of --hidden)
#                      [--server-args "ARGS"]   (more options for quellpost-bench, e.g. "--message-window")
#                      [--messages "FEW MANY"]  (other counts for the workloads, e.g. "50 150")
#
#   (a) 1 KiB messages, 500 and 1,500;  (c) 1 MiB messages, 10 and 30.
# Defaults: the binaries of build-bench/ ($QP_BENCH_BUILD), which bench/run.sh builds.
# Prints one line per run and workload: "a run 1: 86123 instructions per message (...)", with the
# counts of each server and its window's repaint passes, and the paints of the message window's
# list in each of the two runs when it is shown.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD="${QP_BENCH_BUILD:-$ROOT/build-bench}"
BIN="$BUILD/bench/capture/quellpost-bench"
LOAD="$BUILD/bench/driver/smtp-load"
WORKLOADS="a c"
RUNS=1
KEEP=""
WINDOW=--hidden
SERVER_ARGS=""
COUNTS=""

while [ $# -gt 0 ]; do
  case "$1" in
    --bin) BIN="$2"; shift ;;
    --load) LOAD="$2"; shift ;;
    --workloads) WORKLOADS="$2"; shift ;;
    --runs) RUNS="$2"; shift ;;
    --keep) KEEP="$2"; shift ;;
    --shown) WINDOW="" ;;
    --server-args) SERVER_ARGS="$2"; shift ;;
    --messages) COUNTS="$2"; shift ;;
    -h|--help) sed -n '2,18p' "$0"; exit 0 ;;
    *) echo "callgrind.sh: unknown option $1" >&2; exit 2 ;;
  esac
  shift
done

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

# The server's instructions (user space) for one workload of COUNT messages of SIZE bytes.
instructions() {
  local count=$1 size=$2 port out pid
  port=$(free_port)
  out="${KEEP:-$WORK}/callgrind.$count.$size.out"
  rm -f "$WORK/server.log"
  QT_QPA_PLATFORM=offscreen valgrind --tool=callgrind --callgrind-out-file="$out" \
    "$BIN" $WINDOW --port "$port" $SERVER_ARGS > "$WORK/server.log" 2> "$WORK/valgrind.log" &
  pid=$!
  local waited=0
  until grep -qs '^listening port=' "$WORK/server.log"; do
    sleep 0.5
    waited=$((waited + 1))
    if [ $waited -gt 240 ] || ! kill -0 $pid 2> /dev/null; then
      echo "callgrind.sh: the server did not start" >&2
      cat "$WORK/valgrind.log" >&2
      exit 1
    fi
  done
  send_load "$port" "$count" "$size"
  kill -TERM $pid
  wait $pid || true
  check_confirmed callgrind.sh "$count"
  # The list's paints (-1 without the list) for the line below; instructions, then the window's
  # repaint passes (none when hidden).
  sed -n 's/.* list_paints=\([0-9-]*\).*/\1/p' "$WORK/server.log" | tail -n 1 > "$WORK/paints.$count"
  echo "$(sed -n 's/^totals: *//p; s/^summary: *//p' "$out" | head -n 1)" \
    "$(sed -n 's/.* window_paints=\([0-9]*\).*/\1/p' "$WORK/server.log" | tail -n 1)"
}

for run in $(seq 1 "$RUNS"); do
  for workload in $WORKLOADS; do
    case "$workload" in
      a) few=500 many=1500 size=1024 ;;
      c) few=10 many=30 size=1048576 ;;
      *) echo "callgrind.sh: workload a or c, not $workload" >&2; exit 2 ;;
    esac
    if [ -n "$COUNTS" ]; then
      read -r few many <<< "$COUNTS"
    fi
    read -r low lowPaints <<< "$(instructions $few $size)"
    read -r high highPaints <<< "$(instructions $many $size)"
    paints=""
    if [ "$(cat "$WORK/paints.$many")" -ge 0 ] 2> /dev/null; then
      paints="; paints of the message list $few: $(cat "$WORK/paints.$few"), $many: $(cat "$WORK/paints.$many")"
    fi
    echo "$workload run $run: $(( (high - low) / (many - few) )) instructions per message ($few: $low, $many: $high;" \
      "window paints $few: ${lowPaints:-?}, $many: ${highPaints:-?}$paints)"
  done
done
