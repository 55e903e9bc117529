#!/usr/bin/env bash
# Requests per second and p50/p99 latency of a small file from the output server, beside a one-worker nginx
# serving the same file in the same run, with wrk at 1 and 32 connections. Loopback only.
# usage: bench/output_server_wrk.sh [build folder] [seconds per run]
set -euo pipefail
source "$(dirname "$0")/wrk_common.sh"
build=${1:-$root/build}
seconds=${2:-5}

mkdir -p "$work/www"
head -c 3072 /dev/urandom | base64 -w 100 > "$work/www/small.js"   # about 4 KB

ours=$(free_port)
start_held ombry "$build/bench/bench_output_server" --serve "$ours" "$work/www"
theirs=$(free_port)
start_nginx "$work/www" "$theirs"
wait_ready "http://127.0.0.1:$ours/small.js" "http://127.0.0.1:$theirs/small.js"

printf '%-22s %5s %12s %10s %10s\n' server conns requests/s p50 p99
for conns in 1 32; do
  wrk_row ombry "$conns" "$seconds" "http://127.0.0.1:$ours/small.js"
  wrk_row nginx "$conns" "$seconds" "http://127.0.0.1:$theirs/small.js"
done
