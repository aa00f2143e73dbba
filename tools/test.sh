#!/bin/sh
# The test command: installs what is missing, then builds and runs the tests
# three times: with g++ (warnings as errors), with clang under
# AddressSanitizer and UndefinedBehaviorSanitizer together with short libFuzzer
# runs of every fuzz target, and cross-built for 32-bit ARM under qemu-arm
# (every unit test, one end-to-end test per daemon: tools/test-armhf.sh).
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/install-deps.sh"
jobs=$(nproc)
# Safety net: anything a test starts without its own CAMROOT still lands in a
# throwaway directory, never in /etc or /run.
CAMROOT=$(mktemp -d /tmp/ptz-ctest-XXXXXX)
export CAMROOT
trap 'rm -rf "$CAMROOT"' EXIT

echo "== g++ build =="
cmake -S "$top" -B "$top/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPTZ_WERROR=ON
cmake --build "$top/build" -j "$jobs"
(cd "$top/build" && ctest --output-on-failure -j "$jobs" --timeout 300)

echo "== clang build with sanitizers and fuzzers =="
CC=clang CXX=clang++ cmake -S "$top" -B "$top/build-san" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DPTZ_SANITIZE=ON -DPTZ_FUZZ=ON -DPTZ_BENCH=OFF -DPTZ_FUZZ_SECONDS=5
cmake --build "$top/build-san" -j "$jobs"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
(cd "$top/build-san" && ctest --output-on-failure -j "$jobs" --timeout 600)
unset ASAN_OPTIONS UBSAN_OPTIONS

echo "== armhf cross build, tests under qemu-arm =="
"$top/tools/test-armhf.sh"
echo "== all tests passed =="
