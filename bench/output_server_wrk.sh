#!/usr/bin/env bash
# Requests per second and p50/p99 latency of a small file from the output server, beside a one-worker nginx
# serving the same file in the same run, with wrk at 1 and 32 connections. Loopback only.
# usage: bench/output_server_wrk.sh [build folder] [seconds per run]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
seconds=${2:-5}
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

free_port() { /usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

mkdir -p "$work/www" "$work/nginx"
head -c 3072 /dev/urandom | base64 -w 100 > "$work/www/small.js"   # about 4 KB

ours=$(free_port)
mkfifo "$work/hold"
"$build/bench/bench_output_server" --serve "$ours" "$work/www" < "$work/hold" > "$work/ours.log" &
pids+=($!)
exec 3> "$work/hold"   # keeps the server's stdin open until this script ends

theirs=$(free_port)
cat > "$work/nginx/nginx.conf" <<EOF
worker_processes 1;
daemon off;
master_process off;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log warn;
events { worker_connections 1024; }
http {
  access_log off;
  sendfile on;
  tcp_nodelay on;
  keepalive_requests 100000000;
  keepalive_timeout 75s;
  client_body_temp_path $work/nginx;
  proxy_temp_path $work/nginx;
  fastcgi_temp_path $work/nginx;
  uwsgi_temp_path $work/nginx;
  scgi_temp_path $work/nginx;
  types { text/javascript js; }
  server {
    listen 127.0.0.1:$theirs;
    root $work/www;
    add_header Access-Control-Allow-Origin *;
    add_header Cache-Control no-cache;
  }
}
EOF
nginx -c "$work/nginx/nginx.conf" -p "$work/nginx" &
pids+=($!)

for _ in $(seq 100); do
  if grep -q ready "$work/ours.log" 2>/dev/null && curl -sf -o /dev/null "http://127.0.0.1:$theirs/small.js"; then break; fi
  sleep 0.1
done
curl -sf -o /dev/null "http://127.0.0.1:$ours/small.js"

printf '%-8s %5s %12s %10s %10s\n' server conns requests/s p50 p99
for conns in 1 32; do
  threads=$(( conns == 1 ? 1 : 2 ))
  for name in ombry nginx; do
    port=$([ "$name" = ombry ] && echo "$ours" || echo "$theirs")
    out=$(wrk -t"$threads" -c"$conns" -d"${seconds}s" --latency "http://127.0.0.1:$port/small.js")
    rps=$(awk '/Requests\/sec/ {print $2}' <<<"$out")
    p50=$(awk '$1 == "50%" {print $2}' <<<"$out")
    p99=$(awk '$1 == "99%" {print $2}' <<<"$out")
    printf '%-8s %5s %12s %10s %10s\n' "$name" "$conns" "$rps" "$p50" "$p99"
  done
done
