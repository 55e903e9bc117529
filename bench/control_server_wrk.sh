#!/usr/bin/env bash
# Requests per second and p50/p99 latency of GET /api/state from the remote-control server (a 200-clip snapshot
# pushed encoded once, its running playheads written for each moment), open and with the control password
# given as "k", beside a one-worker nginx serving the same JSON as a static file in the same run, with wrk at
# 1 and 32 connections.
# Loopback only.
# usage: bench/control_server_wrk.sh [build folder] [seconds per run]
set -euo pipefail
source "$(dirname "$0")/wrk_common.sh"
build=${1:-$root/build}
seconds=${2:-5}

mkdir -p "$work/open" "$work/locked"
open=$(free_port)
start_held open "$build/bench/bench_control_server" --serve "$open" "$work/open"
locked=$(free_port)
start_held locked "$build/bench/bench_control_server" --serve "$locked" "$work/locked" secret
theirs=$(free_port)
start_nginx "$work/open" "$theirs"
wait_ready "http://127.0.0.1:$open/api/state" "http://127.0.0.1:$locked/api/state?k=secret" \
  "http://127.0.0.1:$theirs/state.json"
# The playheads run: the time fields (a few digits) differ from one moment to the next.
size=$(curl -sf "http://127.0.0.1:$open/api/state" | wc -c)
[ $(( size - $(stat -c %s "$work/open/state.json") )) -lt 64 ] || echo "warning: bodies differ" >&2
[ "$(curl -s -o /dev/null -w '%{http_code}' "http://127.0.0.1:$locked/api/state")" = 401 ] || echo "warning: no password" >&2
echo "body: $(stat -c %s "$work/open/state.json") bytes"

printf '%-22s %5s %12s %10s %10s\n' server conns requests/s p50 p99
for conns in 1 32; do
  wrk_row ombry "$conns" "$seconds" "http://127.0.0.1:$open/api/state"
  wrk_row "ombry password k" "$conns" "$seconds" "http://127.0.0.1:$locked/api/state?k=secret"
  wrk_row nginx "$conns" "$seconds" "http://127.0.0.1:$theirs/state.json"
done
