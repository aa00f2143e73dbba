#!/bin/bash
# tools/fuzz-campaign.sh [minutes] [target...]
# Runs every libFuzzer target (or the ones named) for `minutes` each
# (default 10), one after the other, and prints executions and coverage per
# target. Each target starts from its committed seeds, tests/fuzz/corpus/NAME,
# and grows a working corpus outside the repository, in
# ${PTZ_FUZZ_WORK:-$HOME/.cache/ptz-fuzz}/NAME, kept between campaigns.
# PTZ_FUZZ_RUNS=N ends a target after N executions (`minutes` stays the cap),
# for a campaign counted in executions rather than time.
# Inputs that crash, leak or time out land in $PTZ_FUZZ_WORK/artifacts/; once
# the fault is fixed, copy each into tests/fuzz/corpus/NAME/ so that CI's
# short runs replay it. Exit status 1 when anything was found.
#
# The targets come from a clang build with PTZ_FUZZ=ON, in
# ${PTZ_FUZZ_BUILD:-build-fuzz} (configured and built here when missing).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
minutes=${1:-10}
shift || true
build=${PTZ_FUZZ_BUILD:-$top/build-fuzz}
work=${PTZ_FUZZ_WORK:-$HOME/.cache/ptz-fuzz}
mkdir -p "$work/artifacts"

if [ ! -f "$build/CMakeCache.txt" ]; then
  CC=clang CXX=clang++ cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DPTZ_SANITIZE=ON -DPTZ_FUZZ=ON -DPTZ_BENCH=OFF >/dev/null
fi
# The fuzz targets are the ctest tests labelled "fuzz".
mapfile -t all < <(ctest --test-dir "$build" -N -L fuzz 2>/dev/null |
                   sed -n 's/^ *Test *#[0-9]*: *\([A-Za-z0-9_]*\)$/\1/p')
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=("${all[@]}")
[ ${#targets[@]} -gt 0 ] || { echo "no fuzz targets in $build" >&2; exit 2; }
cmake --build "$build" -j2 --target "${targets[@]}"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
report="$work/report-$(date +%Y%m%d-%H%M%S)-$$.tsv"
printf 'target\texecutions\texec/s\tcoverage\tfeatures\tcorpus\tresult\n' > "$report"
found=0
for name in "${targets[@]}"; do
  exe=$(find "$build" -type f -executable -name "$name" | head -n1)
  [ -n "$exe" ] || { echo "$name: not built" >&2; found=1; continue; }
  # Seeds as the build finds them: tests/fuzz/corpus/NAME, or the corpus
  # directory beside the target's tests.
  seeds="$top/tests/fuzz/corpus/$name"
  [ -d "$seeds" ] || seeds=$(find "$top/tests" -type d -path "*/corpus/$name" | head -n1)
  mkdir -p "$work/$name"
  log="$work/$name.log"
  echo "== $name: $minutes min"
  result=ok
  # The first directory receives new inputs; the seeds are only read.
  limits=(-max_total_time=$((minutes * 60)))
  [ -z "${PTZ_FUZZ_RUNS:-}" ] || limits+=(-runs="$PTZ_FUZZ_RUNS")
  "$exe" "${limits[@]}" -rss_limit_mb=2048 -timeout=10 \
    -print_final_stats=1 -artifact_prefix="$work/artifacts/$name-" \
    "$work/$name" ${seeds:+"$seeds"} > "$log" 2>&1 || { result=FOUND; found=1; }
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -n1 | cut -d' ' -f2)
  ft=$(grep -o 'ft: [0-9]*' "$log" | tail -n1 | cut -d' ' -f2)
  corpus=$(find "$work/$name" -type f | wc -l)
  printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$name" "${execs:-?}" "${rate:-?}" "${cov:-?}" \
    "${ft:-?}" "$corpus" "$result" >> "$report"
  [ "$result" = ok ] || grep -m3 -e 'ERROR' -e 'SUMMARY' -e 'Test unit written' "$log" || true
done
column -t -s $'\t' "$report"
echo "Report: $report; logs and artifacts: $work"
exit $found
