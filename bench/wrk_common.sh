# Shared by the wrk scripts (sourced): a scratch folder removed on exit with every process started here, free
# loopback ports, a one-worker nginx serving a folder, and one wrk run as a table row.
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

free_port() { /usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

# start_nginx FOLDER PORT: serves FOLDER on 127.0.0.1:PORT in the background.
start_nginx() {
  mkdir -p "$work/nginx"
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
  types { text/javascript js; application/json json; }
  server {
    listen 127.0.0.1:$2;
    root $1;
    add_header Access-Control-Allow-Origin *;
    add_header Cache-Control no-cache;
  }
}
EOF
  nginx -c "$work/nginx/nginx.conf" -p "$work/nginx" &
  pids+=($!)
}

# start_held NAME COMMAND...: runs COMMAND with stdin held open until this script ends (our --serve modes stop
# when it closes); its output goes to $work/NAME.log.
start_held() {
  local name=$1
  shift
  mkfifo "$work/$name.hold"
  "$@" < "$work/$name.hold" > "$work/$name.log" &
  pids+=($!)
  exec {fd}> "$work/$name.hold"
}

# wait_ready URL...: until each URL answers 2xx (5 s at most).
wait_ready() {
  for _ in $(seq 50); do
    local ok=1
    for url in "$@"; do curl -sf -o /dev/null "$url" || ok=0; done
    [ "$ok" = 1 ] && return 0
    sleep 0.1
  done
  echo "not ready: $*" >&2
  return 1
}

# wrk_row LABEL CONNS SECONDS URL: one wrk run printed as LABEL, connections, requests/s, p50, p99.
wrk_row() {
  local threads=$(( $2 == 1 ? 1 : 2 ))
  local out
  out=$(wrk -t"$threads" -c"$2" -d"$3s" --latency "$4")
  printf '%-22s %5s %12s %10s %10s\n' "$1" "$2" "$(awk '/Requests\/sec/ {print $2}' <<<"$out")" \
    "$(awk '$1 == "50%" {print $2}' <<<"$out")" "$(awk '$1 == "99%" {print $2}' <<<"$out")"
}
