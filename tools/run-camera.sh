#!/bin/bash
# The main job: a simulated camera on this machine. Installs what is missing,
# builds, then starts in a temporary run directory:
#   - a private D-Bus system bus,
#   - the camera simulator (camsim) when built,
#   - quillon behind lighttpd on 127.0.0.1,
#   - the other daemons that exist,
# prints how to reach them and serves until Ctrl-C. Logs go to the terminal.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
# PTZ_NO_BUILD=1: use the programs already in build/ (tools/soak.sh builds
# the ones it needs itself).
if [ -z "${PTZ_NO_BUILD:-}" ]; then
  "$top/tools/install-deps.sh"
  cmake -S "$top" -B "$top/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$top/build" -j "$(nproc)"
fi

# PTZ_RUN_DIR: an empty directory to run in (tools/soak.sh); else a new one.
if [ -n "${PTZ_RUN_DIR:-}" ]; then
  run=$PTZ_RUN_DIR
  mkdir -p "$run"
else
  run=$(mktemp -d /tmp/ptzcam-XXXXXX)
fi
export CAMROOT="$run/root"
mkdir -p "$CAMROOT" "$run/www" "$run/tmp"
port=${PTZ_HTTP_PORT:-18080}
pids=()
cleanup() {
  trap - EXIT INT TERM
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  echo "Run directory kept: $run"
}
trap cleanup EXIT INT TERM

# Private system bus.
cat > "$run/system-bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:dir=$run</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/><allow own="*"/><allow send_destination="*"/><allow receive_sender="*"/>
  </policy>
</busconfig>
CONF
exec 3< <(dbus-daemon --config-file="$run/system-bus.conf" --nofork --print-address)
pids+=($!)
read -r DBUS_SYSTEM_BUS_ADDRESS <&3
export DBUS_SYSTEM_BUS_ADDRESS
echo "D-Bus system bus: $DBUS_SYSTEM_BUS_ADDRESS"

# Each piece adds itself: tools/run.d/NN-name.sh is sourced here; it starts its
# process in the background (appending to pids), may drop a lighttpd snippet in
# $run/lighttpd.d/ and lines for people in $run/hints.txt.
mkdir -p "$run/lighttpd.d"
# lighttpd_snippet NAME: the web-server snippet that installs as
# conf-available/NAME.conf (dist/lighttpd), with this run's paths, into
# $run/lighttpd.d. Set quillon_sock before asking for 20-quillon.
lighttpd_snippet() {
  sed -e "s|@CGIRELAY@|$top/build/platform/cgirelay/cgirelay|g" \
      -e "s|@PTZ_WWW@|$run/www|g" -e "s|@QUILLON_SOCKET@|${quillon_sock:-}|g" \
      "$top/dist/lighttpd/$1.conf.in" > "$run/lighttpd.d/$1.conf"
}
for part in "$top"/tools/run.d/*.sh; do
  [ -e "$part" ] || continue
  # shellcheck source=/dev/null
  source "$part"
done

cat > "$run/lighttpd.conf" <<CONF
var.base = "$run"
server.modules = ( "mod_access", "mod_alias", "mod_fastcgi", "mod_cgi", "mod_accesslog" )
server.bind = "127.0.0.1"
server.port = $port
server.document-root = var.base + "/www"
server.errorlog = var.base + "/lighttpd-error.log"
server.upload-dirs = ( var.base + "/tmp" )
$(cat "$run"/lighttpd.d/*.conf 2>/dev/null || true)
CONF
mkdir -p "$run/lighttpd.d"
lighttpd -D -f "$run/lighttpd.conf" &
web=$!
pids+=($web)
echo "Web server: http://127.0.0.1:$port/"
[ -f "$run/hints.txt" ] && cat "$run/hints.txt"
echo "Serving until Ctrl-C."
wait "$web" || true
