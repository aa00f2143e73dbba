#!/bin/sh
# The 32-bit ARM pass: cross-builds everything for armhf (Debian's cross
# toolchain, cmake/toolchain-armhf.cmake) in build-armhf and runs the tests
# under qemu-arm; the programs a test starts (camsim, quillon, korund, the
# CGI relay) run under qemu too, dbus-daemon, lighttpd and curl natively.
#   tools/test-armhf.sh        every unit test and one end-to-end test per
#                              daemon (what tools/test.sh runs in CI)
#   tools/test-armhf.sh all    the whole suite (about three times longer)
# Expects the packages of tools/packages.txt (tools/install-deps.sh).
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
build="$top/build-armhf"
# The cross build costs as much as the g++ one: ccache, when there, keeps
# repeated runs short.
launcher=""
if command -v ccache >/dev/null 2>&1; then
  launcher="-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache"
fi
# shellcheck disable=SC2086
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchain-armhf.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPTZ_WERROR=ON -DPTZ_BENCH=OFF $launcher
cmake --build "$build" -j "$jobs"

# End-to-end tests (they start daemons, camsim, the web server) are slow
# under the emulator: CI keeps one per daemon and leaves out the rest.
e2e='(^tools\.|(^|\.)(InstalledTree|QuillonCameraAway|PavaneCameraAway|ApiHttpTest|CgiLoop|SettingsSaveFaults|QuillonProcess|QuillonSignals|QuillonSocket|Endpoint|ZoneEventsTest|ZoneEventsWithoutProducer|ZonesHttpTest|DBusProxy|TrackerEvents|EventHandlers|Presets|VodFeed|TrackingEndToEnd|ClosedLoopCamsim|ControlSocketCalls|PtzlinkCamsim|CamsimServices|Feeds|FeedsLive|FeedsTools|Fault|Encoding|KorundDbus|KorundDbusWithoutImage|ViscaDrive|KorundPrivileges|KorundCameraAway|KorundCgi|KorundLifecycle|KorundSerial|KorundUdp|PavaneWeb|PavaneCamsim|OverlayPage)\.)'
keep='^(quillon_api_http\.ApiHttpTest\.SettingsChangeReachesTheFile|korund_daemon\.KorundUdp\.CommandsInquiriesAndControl|PavaneCamsim\.ListsOutputsAndChangesScanMode)$'
cd "$build"
if [ "${1:-}" = all ]; then
  # install.* builds a consumer with the build machine's compiler and starts
  # the installed daemon directly: it checks the native build only.
  ctest --output-on-failure -j "$jobs" --timeout 900 -E '^install\.'
else
  ctest --output-on-failure -j "$jobs" --timeout 600 -E "$e2e"
  ctest --output-on-failure -j "$jobs" --timeout 600 -R "$keep"
fi
