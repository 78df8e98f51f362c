#!/usr/bin/env bash
# Installs what the build needs, builds the program optimised into build/ and starts it.
set -euo pipefail
cd "$(dirname "$0")"

scripts/ensure-deps.sh build
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build build -j "$(nproc)" --target quellpost

program=build/src/app/quellpost
if [[ $(id -u) -ne 0 ]] && ! getcap "$program" 2>/dev/null | grep -q cap_net_bind_service; then
  echo "Note: port 25 needs root or the CAP_NET_BIND_SERVICE capability; see README.md (Port 25)." >&2
fi
exec "$program" "$@"
