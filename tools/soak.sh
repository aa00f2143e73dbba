#!/bin/bash
# Soak: the main job (tools/run-camera.sh: camsim with its looping scenario,
# quillon, korund, libpavane in camsim, lighttpd) under a steady load
# (tools/soak_load.py: quillon API calls and zone changes that emit events,
# VISCA commands and inquiries over UDP, korund and video-output CGI calls)
# for MINUTES (default 60). Every PTZ_SOAK_INTERVAL seconds (10) it samples
# each process's RSS, open descriptors and CPU time into samples.csv; at the
# end tools/soak_plot.py writes soak.png and prints the figures.
#   tools/soak.sh [minutes]        output in $PTZ_SOAK_OUT (default a new /tmp/ptz-soak-*)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
minutes=${1:-60}
interval=${PTZ_SOAK_INTERVAL:-10}
out=${PTZ_SOAK_OUT:-$(mktemp -d /tmp/ptz-soak-XXXXXX)}
mkdir -p "$out"
free_port() {
  python3 -c 'import socket,sys; s=socket.socket(socket.AF_INET, getattr(socket, sys.argv[1])); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])' "$1"
}
export PTZ_HTTP_PORT=${PTZ_HTTP_PORT:-$(free_port SOCK_STREAM)}
export PTZ_VISCA_PORT=${PTZ_VISCA_PORT:-$(free_port SOCK_DGRAM)}
export PTZ_VISCA_NETSET_PORT=${PTZ_VISCA_NETSET_PORT:-$(free_port SOCK_DGRAM)}
export PTZ_VISCA_BROADCAST_PORT=${PTZ_VISCA_BROADCAST_PORT:-$(free_port SOCK_DGRAM)}
export PTZ_RUN_DIR="$out/run"

"$top/tools/install-deps.sh"
cmake -S "$top" -B "$top/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$top/build" -j "$(nproc)" --target camsim camsimctl quillon korund cgirelay
export PTZ_NO_BUILD=1
echo "soak: $minutes min, samples every $interval s, output in $out"
setsid "$top/tools/run-camera.sh" > "$out/camera.log" 2>&1 &
job=$!
load=""
stop() {
  trap - EXIT INT TERM
  [ -n "$load" ] && kill "$load" 2>/dev/null || true
  kill -- -"$job" 2>/dev/null || true
  wait 2>/dev/null || true
}
trap stop EXIT INT TERM

for _ in $(seq 600); do
  grep -q "Serving until Ctrl-C" "$out/camera.log" 2>/dev/null && break
  kill -0 "$job" 2>/dev/null || { cat "$out/camera.log"; echo "soak: the main job ended" >&2; exit 1; }
  sleep 1
done
grep -q "Serving until Ctrl-C" "$out/camera.log" || { echo "soak: the main job did not start" >&2; exit 1; }

/usr/bin/python3 "$top/tools/soak_load.py" --http "127.0.0.1:$PTZ_HTTP_PORT" --visca "127.0.0.1:$PTZ_VISCA_PORT" \
  --interval "$interval" --out "$out/load.csv" > "$out/load.log" 2>&1 &
load=$!

# Every process of the main job (all descendants of its session leader).
descendants() {
  local p
  for p in $(pgrep -P "$1"); do
    echo "$p"
    descendants "$p"
  done
}
ticks=$(getconf CLK_TCK)
echo "time_s,process,pid,rss_kib,fds,cpu_s" > "$out/samples.csv"
start=$(date +%s)
end=$((start + minutes * 60))
while :; do
  now=$(date +%s)
  for pid in $(descendants "$job"); do
    [ -r "/proc/$pid/stat" ] || continue
    name=$(cat "/proc/$pid/comm" 2>/dev/null) || continue
    case "$name" in camsim | quillon | korund | lighttpd | dbus-daemon) ;; *) continue ;; esac
    rss=$(awk '/^VmRSS:/ {print $2}' "/proc/$pid/status" 2>/dev/null) || continue
    fds=$(find "/proc/$pid/fd" -mindepth 1 -maxdepth 1 2>/dev/null | wc -l)
    # utime + stime (fields 14 and 15; the name in field 2 has no blanks here)
    cpu=$(awk -v t="$ticks" '{printf "%.2f", ($14 + $15) / t}' "/proc/$pid/stat" 2>/dev/null) || continue
    echo "$((now - start)),$name,$pid,${rss:-0},$fds,$cpu" >> "$out/samples.csv"
  done
  [ "$now" -ge "$end" ] && break
  kill -0 "$job" 2>/dev/null || { echo "soak: the main job ended early" >&2; break; }
  sleep "$interval"
done
kill "$load" 2>/dev/null || true
wait "$load" 2>/dev/null || true
load=""
/usr/bin/python3 "$top/tools/soak_plot.py" "$out/samples.csv" "$out/load.csv" "$out/soak.png" | tee "$out/summary.txt"
echo "soak: $out/samples.csv $out/load.csv $out/soak.png"
