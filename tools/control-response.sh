#!/bin/bash
# Response of the pan/tilt/zoom control loop through camsim at 1, 3 and 5
# fields of view per second (camsim --fov-per-second-at-100): a step, a ramp
# and a zoom run each, with camsim's traces, PNG plots and the figures side
# by side.
#   tools/control-response.sh [OUT_DIR] [SECONDS]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
out=$(realpath -m "${1:-$(mktemp -d /tmp/control-response-XXXXXX)}")
seconds=${2:-25}
mkdir -p "$out"
build=${PTZ_BUILD_DIR:-$top/build}
cmake --build "$build" --target camsim control_response >/dev/null
for unit in 1 3 5; do
  "$build/bench/quillon_motion/control_response" --unit "$unit" --out "$out" --seconds "$seconds"
done
"$top/tools/plot_response.py" "$out" 1 3 5
echo "Traces and plots: $out"
