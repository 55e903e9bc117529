#!/usr/bin/env bash
# Browser upload throughput: POST /api/upload/file of a large file through loopback into the remote-control
# server's incoming folder, against cp of the same file on the same disk (alone, and followed by an fsync of the
# copy, as the upload syncs its file before handing it on); MB/s (10^6 bytes) for each, the server's resident
# size before and its peak during each upload, and the slowest answer to GET /api/state asked every 20 ms meanwhile
# (the network thread must not wait for the disk). The source is read from the page cache in every run.
# usage: bench/control_server_upload.sh [build folder] [MiB] [runs]
set -euo pipefail
source "$(dirname "$0")/wrk_common.sh"
build=${1:-$root/build}
mib=${2:-1024}
runs=${3:-3}
bytes=$(( mib * 1024 * 1024 ))

status_kib() { awk -v key="$2:" '$1 == key {print $2}' "/proc/$1/status"; }
now() { date +%s.%N; }
rate() { awk -v b="$bytes" -v s="$1" 'BEGIN {printf "%.0f", b / s / 1e6}'; }

mkdir -p "$work/serve"
head -c "$bytes" /dev/urandom > "$work/source.mov"
sync "$work/source.mov"
port=$(free_port)
start_held ombry "$build/bench/bench_control_server" --serve "$port" "$work/serve"
server=${pids[-1]}
wait_ready "http://127.0.0.1:$port/"
echo "file: $mib MiB on $(df --output=source "$work" | tail -1), folder $work"

# probe URL: GET URL every 20 ms until $work/stop exists, each time in seconds into $work/probe.
probe() {
  : > "$work/probe"
  while [ ! -e "$work/stop" ]; do
    curl -s -o /dev/null -w '%{time_total}\n' "$1" >> "$work/probe"
    sleep 0.02
  done
}

printf '%-14s %8s %8s %14s %14s %12s\n' run seconds MB/s "RSS before kB" "RSS peak kB" "state max ms"
for run in $(seq "$runs"); do
  start=$(now)
  cp "$work/source.mov" "$work/copy.mov"
  mid=$(now)
  sync "$work/copy.mov"
  end=$(now)
  rm -f "$work/copy.mov"
  copied=$(awk -v a="$start" -v b="$mid" 'BEGIN {print b - a}')
  synced=$(awk -v a="$start" -v b="$end" 'BEGIN {print b - a}')
  printf '%-14s %8.2f %8s\n' "cp $run" "$copied" "$(rate "$copied")"
  printf '%-14s %8.2f %8s\n' "cp+fsync $run" "$synced" "$(rate "$synced")"

  before=$(status_kib "$server" VmRSS)
  echo 5 > "/proc/$server/clear_refs"   # the peak counts from here
  rm -f "$work/stop"
  probe "http://127.0.0.1:$port/api/state" &
  prober=$!
  pids+=("$prober")
  start=$(now)
  reply=$(curl -sS -X POST -H 'Expect:' -H 'Content-Type: application/octet-stream' -T "$work/source.mov" \
    "http://127.0.0.1:$port/api/upload/file?k=bench&filename=big.mov")
  end=$(now)
  touch "$work/stop"
  wait "$prober"
  peak=$(status_kib "$server" VmHWM)
  rm -f "$work/serve/incoming/"*
  [[ $reply == *"\"name\":\"$bytes\""* ]] || echo "warning: upload reply $reply" >&2
  took=$(awk -v a="$start" -v b="$end" 'BEGIN {print b - a}')
  slowest=$(sort -n "$work/probe" | tail -1 | awk '{printf "%.0f", $1 * 1000}')
  printf '%-14s %8.2f %8s %14s %14s %12s\n' "upload $run" "$took" "$(rate "$took")" "$before" "$peak" "$slowest"
done
