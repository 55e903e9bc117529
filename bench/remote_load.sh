#!/usr/bin/env bash
# The frame loop under remote load (bench_remote_load) at 200 and 1000 clips, each run followed by a one-worker
# nginx serving the same state bytes to the same wrk. Loopback only.
# usage: bench/remote_load.sh [build folder] [seconds per phase] [connections]
set -euo pipefail
source "$(dirname "$0")/wrk_common.sh"
build=${1:-$root/build}
seconds=${2:-20}
conns=${3:-32}

for clips in 200 1000; do
  mkdir -p "$work/$clips"
  "$build/bench/bench_remote_load" "$clips" "$seconds" "$work/$clips" "$conns"
  port=$(free_port)
  start_nginx "$work/$clips" "$port"
  wait_ready "http://127.0.0.1:$port/state.json"
  printf '%-22s %5s %12s %10s %10s\n' server conns requests/s p50 p99
  wrk_row "nginx, same bytes" "$conns" "$seconds" "http://127.0.0.1:$port/state.json"
  kill "${pids[-1]}"; wait "${pids[-1]}" 2>/dev/null || true
  echo
done
