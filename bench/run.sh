#!/usr/bin/env bash
# Capture-path benchmark: Quellpost side by side with peer SMTP servers, all on loopback, in one
# run on one machine. Every figure is the median of several runs, each with a fresh server;
# the servers take turns within a run.
#
#   bench/run.sh [--quick] [--runs N] [--workloads "a b c d e f"] [--servers "quellpost smtp-sink aiosmtpd maildev"]
#                [--wait-idle] [--keep-awake] [--cross-check] [--no-build] [--no-setup] [--base-port N]
#                [--max-memory SIZE] [--pin "SERVER_CPUS CLIENT_CPUS"]
#
#   --quick       one run, a tenth of the messages (a check that everything works, not a figure)
#   --max-memory  Quellpost's byte budget in every workload (default: its own default, and 4G in (f))
#   --wait-idle   wait (up to 20 minutes) until the 1-minute load average is below 0.7
#   --no-setup    do not fetch missing peers (a missing peer is then reported as such)
#   --keep-awake  run one busy loop per CPU at the lowest priority during the measurements: on a
#                 virtual machine an idle vCPU halts, and waking it costs each round trip of a
#                 single session far more than the servers' own work (see README.md)
#   --pin         pin every server (all its threads) and the driver to these CPUs, e.g. "0 0" (one
#                 CPU for both) or "1 0": where the scheduler puts a single session's two ends
#                 decides its rate more than either server does (see README.md), and unpinned
#                 the servers do not get the same placements
#   --cross-check also time Postfix's smtp-source (a second driver, in C) on workloads (a) and (b)
#
# Peers are fetched into bench/tools/ (git-ignored): Postfix's smtp-sink from the Debian package,
# unpacked, never installed (installing it would start a mail daemon on port 25); MailDev from npm;
# python3-aiosmtpd is installed with apt-get when missing and running as root.
# The build goes to $QP_BENCH_BUILD (default: build-bench in the checkout), in Release;
# QP_BENCH_BIN=path measures another quellpost-bench binary (say, a change under test).
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BENCH="$ROOT/bench"
TOOLS="$BENCH/tools"
BUILD="${QP_BENCH_BUILD:-$ROOT/build-bench}"
PYTHON=/usr/bin/python3
MAILDEV_VERSION=3.0.0

RUNS=3
QUICK=0
WAIT_IDLE=0
CROSS=0
KEEP_AWAKE=0
BUILD_FIRST=1
SETUP=1
WORKLOADS="a b c d e f"
SERVERS="quellpost smtp-sink aiosmtpd maildev"
BASE_PORT=22500
MAX_MEMORY=""
PIN_SERVER=""
PIN_CLIENT=""

while [ $# -gt 0 ]; do
  case "$1" in
    --quick) QUICK=1; RUNS=1 ;;
    --runs) RUNS="$2"; shift ;;
    --workloads) WORKLOADS="$2"; shift ;;
    --servers) SERVERS="$2"; shift ;;
    --wait-idle) WAIT_IDLE=1 ;;
    --cross-check) CROSS=1 ;;
    --keep-awake) KEEP_AWAKE=1 ;;
    --no-build) BUILD_FIRST=0 ;;
    --no-setup) SETUP=0 ;;
    --base-port) BASE_PORT="$2"; shift ;;
    --max-memory) MAX_MEMORY="$2"; shift ;;
    --pin) read -r PIN_SERVER PIN_CLIENT <<< "$2"; shift ;;
    -h|--help) sed -n '2,28p' "$0"; exit 0 ;;
    *) echo "run.sh: unknown option $1" >&2; exit 2 ;;
  esac
  shift
done

log() { printf '[%s] %s\n' "$(date +%H:%M:%S)" "$*" >&2; }

# ---------------------------------------------------------------------------------------------
# Build and peers

if [ "$BUILD_FIRST" = 1 ]; then
  log "building quellpost-bench and smtp-load in $BUILD (Release)"
  if [ ! -f "$BUILD/build.ninja" ]; then
    launcher=()
    command -v ccache > /dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQP_SANITIZE=OFF -DQP_BENCH=ON \
      -DBUILD_TESTING=OFF "${launcher[@]}" > "$BUILD.configure.log" 2>&1 || { cat "$BUILD.configure.log" >&2; exit 1; }
    rm -f "$BUILD.configure.log"
  fi
  cmake --build "$BUILD" -j2 --target quellpost-bench smtp-load > /dev/null
fi
# QP_BENCH_BIN measures another build of quellpost-bench (a change under test) instead.
QP_BIN="${QP_BENCH_BIN:-$BUILD/bench/capture/quellpost-bench}"
LOAD="$BUILD/bench/driver/smtp-load"
[ -x "$QP_BIN" ] && [ -x "$LOAD" ] || { echo "run.sh: $QP_BIN or $LOAD missing; build first" >&2; exit 1; }

SINK="$TOOLS/postfix/usr/sbin/smtp-sink"
SOURCE="$TOOLS/postfix/usr/sbin/smtp-source"
SINK_LIBS="$TOOLS/postfix/usr/lib/postfix"
MAILDEV="$TOOLS/maildev/node_modules/.bin/maildev"
mkdir -p "$TOOLS"

if [ "$SETUP" = 1 ]; then
  if [ ! -x "$SINK" ]; then
    log "fetching Postfix's smtp-sink (apt-get download postfix; dpkg -x)"
    ( cd "$TOOLS" && apt-get download postfix > /dev/null 2>&1 && deb=$(ls -t postfix_*.deb | head -n1) \
      && dpkg -x "$deb" postfix && dpkg-deb -f "$deb" Version > postfix/VERSION && rm -f "$deb" ) \
      || log "could not fetch postfix"
  fi
  if ! "$PYTHON" -c 'import aiosmtpd' 2> /dev/null && [ "$(id -u)" = 0 ]; then
    log "installing python3-aiosmtpd"
    apt-get install -y python3-aiosmtpd > /dev/null 2>&1 || log "could not install python3-aiosmtpd"
  fi
  if [ ! -x "$MAILDEV" ] && command -v npm > /dev/null; then
    log "installing MailDev $MAILDEV_VERSION into bench/tools/maildev"
    mkdir -p "$TOOLS/maildev"
    ( cd "$TOOLS/maildev" && npm install --no-audit --no-fund --silent "maildev@$MAILDEV_VERSION" > /dev/null 2>&1 ) \
      || log "could not install maildev"
  fi
fi

available() {
  case "$1" in
    quellpost) [ -x "$QP_BIN" ] ;;
    smtp-sink) [ -x "$SINK" ] ;;
    aiosmtpd) "$PYTHON" -c 'import aiosmtpd' 2> /dev/null ;;
    maildev) [ -x "$MAILDEV" ] && command -v node > /dev/null ;;
    *) return 1 ;;
  esac
}

version_of() {
  case "$1" in
    quellpost) sed -n 's/^project(Quellpost VERSION \([0-9.]*\).*/\1/p' "$ROOT/CMakeLists.txt" ;;
    smtp-sink) cat "$TOOLS/postfix/VERSION" 2> /dev/null || echo "postfix (version unknown)" ;;
    aiosmtpd) dpkg-query -W -f '${Version}' python3-aiosmtpd 2> /dev/null || "$PYTHON" -c 'import aiosmtpd; print(aiosmtpd.__version__)' ;;
    maildev) node -p "require('$TOOLS/maildev/node_modules/maildev/package.json').version" 2> /dev/null ;;
  esac
}

# ---------------------------------------------------------------------------------------------
# Workloads: sessions, messages per session, message bytes, line length, burst, deadline (s),
# Quellpost's byte budget ("-": its default)

workload() {
  local w=$1 scale=1
  [ "$QUICK" = 1 ] && scale=10
  case "$w" in
    a) echo "1 $((5000 / scale)) 1024 76 0 120 -" ;;
    b) echo "10 $((2000 / scale)) 1024 76 0 180 -" ;;
    c) echo "1 $((200 / scale)) 1048576 76 0 180 -" ;;
    d) echo "1 $(( scale == 1 ? 5 : 2 )) 20971520 5000 0 180 -" ;;
    e) echo "$((500 / scale)) 1 1024 76 1 30 -" ;;
    # 4,000 MiB held in the end: the budget is set to 4 GiB, the default on a machine with 16 GiB
    # or more, so that every machine runs the same workload, none of it refused.
    f) echo "20 $((10 / scale)) 20971520 5000 0 300 4G" ;;
    *) echo "run.sh: unknown workload $w" >&2; exit 2 ;;
  esac
}

for w in $WORKLOADS; do workload "$w" > /dev/null || exit 2; done

# Why a server sits a workload out, or nothing. (f) is for Quellpost's memory: aiosmtpd refuses
# its lines as it refuses (d)'s, and MailDev would take minutes and several GiB for it.
skip_reason() {
  local w=$1 name=$2 total=$3 free_kib
  if [ "$w" = f ]; then
    case "$name" in aiosmtpd|maildev) echo "not run on (f)"; return ;; esac
  fi
  # A server that keeps every message needs their bytes in memory, with room to spare.
  [ "$name" = smtp-sink ] && return
  free_kib=$(awk '/^MemAvailable:/ { print $2 }' /proc/meminfo)
  if [ $(( total / 1024 + 512 * 1024 )) -gt "$free_kib" ]; then
    echo "needs $(( total / 1048576 + 512 )) MiB free, $(( free_kib / 1024 )) MiB available"
  fi
}

# ---------------------------------------------------------------------------------------------
# Servers

CLK_TCK=$(getconf CLK_TCK)
SERVER_PID=""
SERVER_OUT=""
SERVER_DIR=""

cpu_ticks() { sed 's/^.*) //' "/proc/$1/stat" | awk '{ print $12 + $13 }'; }
peak_kib() { awk '/^VmHWM:/ { print $2 }' "/proc/$1/status"; }

start_server() {
  local name=$1 port=$2 budget=${3:--}
  local qp_args=()
  [ "$budget" = - ] || qp_args=(--max-memory "$budget")
  SERVER_OUT=$(mktemp "/tmp/qp-bench-$name.XXXXXX")
  SERVER_DIR=""
  case "$name" in
    quellpost)
      QT_QPA_PLATFORM=offscreen "$QP_BIN" --port "$port" "${qp_args[@]}" < /dev/null > "$SERVER_OUT" 2>&1 &
      ;;
    smtp-sink)
      # EHLO refused, as by the capture servers that speak HELO only; room for 1024 sessions.
      LD_LIBRARY_PATH="$SINK_LIBS" "$SINK" -u nobody -f EHLO -m 1024 "127.0.0.1:$port" 1024 > "$SERVER_OUT" 2>&1 &
      ;;
    aiosmtpd)
      "$PYTHON" "$BENCH/peers/aiosmtpd_memory.py" "$port" > "$SERVER_OUT" 2>&1 &
      ;;
    maildev)
      SERVER_DIR=$(mktemp -d /tmp/qp-bench-maildev-mail.XXXXXX)
      node "$MAILDEV" --smtp "$port" --ip 127.0.0.1 --web "$((port + 1))" --web-ip 127.0.0.1 \
        --mail-directory "$SERVER_DIR" > "$SERVER_OUT" 2>&1 &
      ;;
  esac
  SERVER_PID=$!
  [ -z "$PIN_SERVER" ] || taskset -a -p -c "$PIN_SERVER" "$SERVER_PID" > /dev/null
  # Ready once a probe session (greeting, EHLO/HELO, QUIT) gets through.
  local i
  for i in $(seq 1 100); do
    if ! kill -0 "$SERVER_PID" 2> /dev/null; then
      log "$name exited at start:"; cat "$SERVER_OUT" >&2; return 1
    fi
    if "$LOAD" --port "$port" --messages 0 --deadline 2 2> /dev/null | grep -q 'failed_sessions=0'; then
      return 0
    fi
    sleep 0.2
  done
  log "$name did not answer on port $port"
  return 1
}

stop_server() {
  [ -n "$SERVER_PID" ] || return 0
  local i
  kill -TERM "$SERVER_PID" 2> /dev/null || true
  for i in $(seq 1 50); do
    kill -0 "$SERVER_PID" 2> /dev/null || break
    sleep 0.2
  done
  kill -KILL "$SERVER_PID" 2> /dev/null || true
  wait "$SERVER_PID" 2> /dev/null || true
  [ -n "$SERVER_DIR" ] && rm -rf "$SERVER_DIR"
  rm -f "$SERVER_OUT"
  SERVER_PID=""
  SERVER_DIR=""
}

# The server's own count of what it holds (or "-" when it keeps nothing), and for Quellpost the
# rest of its report.
held_report() {
  local name=$1 before i
  case "$name" in
    quellpost|aiosmtpd)
      before=$(grep -c '^report ' "$SERVER_OUT" || true)
      kill -USR1 "$SERVER_PID"
      for i in $(seq 1 100); do
        [ "$(grep -c '^report ' "$SERVER_OUT" || true)" -gt "$before" ] && break
        sleep 0.1
      done
      grep '^report ' "$SERVER_OUT" | tail -n1 | sed 's/^report //'
      ;;
    maildev)
      # Files are written as messages arrive; wait until their number stops changing.
      local last=-1 now
      for i in $(seq 1 50); do
        now=$(find "$SERVER_DIR" -maxdepth 1 -name '*.eml' | wc -l)
        [ "$now" = "$last" ] && break
        last=$now
        sleep 0.2
      done
      echo "messages=$now"
      ;;
    *) echo "messages=-" ;;
  esac
}

SPINNERS=()
stop_spinners() {
  local pid
  for pid in "${SPINNERS[@]}"; do kill "$pid" 2> /dev/null || true; done
  for pid in "${SPINNERS[@]}"; do wait "$pid" 2> /dev/null || true; done
  SPINNERS=()
}
trap 'stop_server; stop_spinners' EXIT

# ---------------------------------------------------------------------------------------------
# Measuring

if [ "$WAIT_IDLE" = 1 ]; then
  for i in $(seq 1 40); do
    load=$(cut -d' ' -f1 /proc/loadavg)
    awk -v l="$load" 'BEGIN { exit !(l < 0.7) }' && break
    log "1-minute load $load; waiting for it to fall below 0.7 ($i/40)"
    sleep 30
  done
fi

OUT="$BUILD/bench-results/$(date +%Y%m%d-%H%M%S)"
mkdir -p "$OUT"
RAW="$OUT/raw.tsv"
: > "$RAW"
LOAD_BEFORE=$(cut -d' ' -f1-3 /proc/loadavg)
STARTED=$(date +%s)
if [ "$KEEP_AWAKE" = 1 ]; then
  for i in $(seq 1 "$(nproc)"); do
    nice -n 19 sh -c 'while :; do :; done' &
    SPINNERS+=($!)
  done
fi

read -r -a server_list <<< "$SERVERS"
missing=""
for s in "${server_list[@]}"; do available "$s" || missing="$missing $s"; done
[ -z "$missing" ] || log "not available:$missing (the table says so)"

for run in $(seq 1 "$RUNS"); do
  for w in $WORKLOADS; do
    read -r sessions messages size line burst deadline budget <<< "$(workload "$w")"
    [ -n "$MAX_MEMORY" ] && budget=$MAX_MEMORY
    args=(--sessions "$sessions" --messages "$messages" --size "$size" --line "$line" --deadline "$deadline")
    [ "$burst" = 1 ] && args+=(--burst)
    # The servers take turns, in an order that rotates from run to run.
    n=${#server_list[@]}
    for k in $(seq 0 $((n - 1))); do
      s=${server_list[$(( (k + run - 1) % n ))]}
      available "$s" || continue
      why=$(skip_reason "$w" "$s" "$((sessions * messages * size))")
      if [ -n "$why" ]; then
        printf '%s\t%s\t%s\tskipped=%s\n' "$w" "$run" "$s" "${why// /_}" >> "$RAW"
        log "run $run/$RUNS ($w) $s: skipped, $why"
        continue
      fi
      port=$((BASE_PORT + 10 * k))
      if ! start_server "$s" "$port" "$budget"; then stop_server; continue; fi
      cpu0=$(cpu_ticks "$SERVER_PID")
      result=$(${PIN_CLIENT:+taskset -c "$PIN_CLIENT"} "$LOAD" --port "$port" "${args[@]}" 2>&1 | tail -n1)
      cpu1=$(cpu_ticks "$SERVER_PID")
      hwm=$(peak_kib "$SERVER_PID")
      held=$(held_report "$s")
      stop_server
      printf '%s\t%s\t%s\t%s\tcpu_s=%s\tpeak_kib=%s\t%s\n' "$w" "$run" "$s" "$result" \
        "$(awk -v a="$cpu0" -v b="$cpu1" -v t="$CLK_TCK" 'BEGIN { printf "%.3f", (b - a) / t }')" \
        "$hwm" "$held" >> "$RAW"
      log "run $run/$RUNS ($w) $s: $(echo "$result" | grep -o 'confirmed=[0-9]*\|rejected=[0-9]*\|lost=[0-9]*\|msgs_per_s=[0-9.]*\|mb_per_s=[0-9.]*' | tr '\n' ' ')"
    done
  done
done

# The same small-message workloads sent by smtp-source; it stops at the first refusal, so the
# server's own count of what it holds is the check.
if [ "$CROSS" = 1 ] && [ -x "$SOURCE" ]; then
  for w in a b; do
    read -r sessions messages size line burst deadline budget <<< "$(workload "$w")"
    total=$((sessions * messages))
    for k in "${!server_list[@]}"; do
      s=${server_list[$k]}
      available "$s" || continue
      port=$((BASE_PORT + 10 * k))
      if ! start_server "$s" "$port"; then stop_server; continue; fi
      cpu0=$(cpu_ticks "$SERVER_PID")
      t0=$(date +%s.%N)
      rc=0
      LD_LIBRARY_PATH="$SINK_LIBS" timeout "$deadline" "$SOURCE" -d -s "$sessions" -m "$total" -l 1000 \
        -M bench.example -f sender@bench.example -t recipient@bench.example "127.0.0.1:$port" > /dev/null 2>&1 || rc=$?
      t1=$(date +%s.%N)
      cpu1=$(cpu_ticks "$SERVER_PID")
      held=$(held_report "$s" | sed -n 's/.*messages=\([0-9-]*\).*/\1/p')
      stop_server
      printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$w" "$s" "$total" "$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }')" \
        "$(awk -v a="$cpu0" -v b="$cpu1" -v t="$CLK_TCK" 'BEGIN { printf "%.3f", (b - a) / t }')" "$held" "$rc" >> "$OUT/cross.tsv"
    done
  done
fi

stop_spinners
LOAD_AFTER=$(cut -d' ' -f1-3 /proc/loadavg)
{
  echo "machine: $(nproc) vCPU, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n1), $(awk '/MemTotal/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo) RAM"
  echo "load average (1, 5, 15 min): before $LOAD_BEFORE, after $LOAD_AFTER; $(( $(date +%s) - STARTED )) s"
  echo "runs: $RUNS$([ "$QUICK" = 1 ] && echo ' (quick: a tenth of the messages)')$([ "$KEEP_AWAKE" = 1 ] && echo '; CPUs kept awake by lowest-priority busy loops')"
  [ "$QP_BIN" = "$BUILD/bench/capture/quellpost-bench" ] || echo "quellpost-bench: $QP_BIN"
  if [ -n "$MAX_MEMORY" ]; then
    echo "Quellpost's byte budget: $MAX_MEMORY (--max-memory) in every workload"
  else
    echo "Quellpost's byte budget: its default, $(awk '/MemTotal/ { d = $2 / 4 / 1048576; printf "%.2f GiB", d < 4 ? d : 4 }' /proc/meminfo) on this machine (a quarter of memory, at most 4 GiB); 4G (--max-memory) in (f)"
  fi
  versions="Quellpost $(version_of quellpost)"
  for s in "${server_list[@]}"; do
    [ "$s" = quellpost ] && continue
    if available "$s"; then versions="$versions, $s $(version_of "$s")"; else versions="$versions, $s: not available"; fi
  done
  echo "versions: $versions, Qt $(dpkg-query -W -f '${Version}' libqt6core6 2> /dev/null || echo unknown)"
} > "$OUT/meta.txt"

"$PYTHON" "$BENCH/tabulate.py" "$RAW" "$OUT/meta.txt" "$SERVERS" | tee "$OUT/table.md"
if [ -s "$OUT/cross.tsv" ]; then
  {
    echo
    echo "Cross-check with Postfix's smtp-source (one run each; 1,000-byte payload plus its headers):"
    echo
    echo "| workload | server | messages | msgs/s | server CPU µs/msg | held | smtp-source exit |"
    echo "|---|---|--:|--:|--:|--:|--:|"
    awk -F'\t' '{ printf "| (%s) | %s | %d | %.0f | %.0f | %s | %s |\n", $1, $2, $3, $3 / $4, $5 * 1e6 / $3, $6, $7 }' "$OUT/cross.tsv"
  } | tee -a "$OUT/table.md"
fi
log "raw figures: $RAW"
