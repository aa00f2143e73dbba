# quillon, the auto-tracking daemon: its FastCGI socket in the run directory,
# its settings under $CAMROOT/etc/quillon, its log lines on the terminal.
# Sourced by tools/run-camera.sh after camsim and before lighttpd starts.
quillon_bin="$top/build/quillon/core/quillon"
if [ -x "$quillon_bin" ]; then
  quillon_sock="$run/quillon.sock"
  mkdir -p "$CAMROOT/etc/quillon"
  # Without "active": true the daemon idles out 10 s after start; start it
  # active so there is something to talk to (setApplicationSettings with
  # active false then ends it 10 s later).
  if [ ! -e "$CAMROOT/etc/quillon/application.conf" ]; then
    echo '{ "service": { "active": true, "version": "2.6.39+maint+1" } }' \
      > "$CAMROOT/etc/quillon/application.conf"
  fi
  # The strategy: QUILLON_TRACKER_TYPE (default 5, the detection feed; 0 the
  # scene engine, 2 and 3 fused with the detections, 4 the analytics topic).
  # When set it is written into trackingParams.trackerType of an existing
  # settings.conf too, keeping the other settings.
  if [ ! -e "$CAMROOT/etc/quillon/settings.conf" ]; then
    echo "{ \"trackingParams\": { \"trackerType\": ${QUILLON_TRACKER_TYPE:-5} } }" \
      > "$CAMROOT/etc/quillon/settings.conf"
  elif [ -n "${QUILLON_TRACKER_TYPE:-}" ]; then
    python3 - "$CAMROOT/etc/quillon/settings.conf" "$QUILLON_TRACKER_TYPE" <<'PY'
import json, os, sys
path, kind = sys.argv[1], int(sys.argv[2])
with open(path) as f:
    settings = json.load(f)
settings.setdefault("trackingParams", {})["trackerType"] = kind
with open(path + ".new", "w") as f:
    json.dump(settings, f, indent=2)
os.replace(path + ".new", path)
PY
  fi
  # A demo trigger zone (pan/tilt degrees) over the street of the default
  # scenario, where the walker crosses 20 m in front of the camera.
  if [ ! -e "$CAMROOT/etc/quillon/profiles.conf" ]; then
    echo '{ "profiles": [ { "pt_polygon": [ -30.0, -14.0, 30.0, -14.0, 30.0, -3.0, -30.0, -3.0 ], "id": 1, "name": "Street", "enabled": true, "preset": 1, "zoneType": 0 } ] }' \
      > "$CAMROOT/etc/quillon/profiles.conf"
  fi
  # -d: debug mode, the store of detected objects and the tracker's state
  # are printed each second.
  QUILLON_LOG_STDERR=1 FCGI_SOCKET_NAME="$quillon_sock" "$quillon_bin" -d &
  pids+=($!)
  for _ in $(seq 50); do [ -S "$quillon_sock" ] && break; sleep 0.1; done

  lighttpd_snippet 20-quillon
  cat >> "$run/hints.txt" <<HINTS
quillon JSON API: http://127.0.0.1:$port/local/quillon/admin.cgi (also operator.cgi, settings.fcgi)
  curl -s -d '{"method":"getSupportedVersions","params":{}}' http://127.0.0.1:$port/local/quillon/operator.cgi
  curl -s -d '{"method":"setAutotrackingSettings","params":{"minObjectLifespan":{"time":3,"enabled":true}}}' http://127.0.0.1:$port/local/quillon/admin.cgi
  curl -s -d '{"method":"setApplicationSettings","params":{"service":{"active":false}}}' http://127.0.0.1:$port/local/quillon/admin.cgi   (quillon exits 10 s later)
  zones: curl -s -d '{"method":"getAutotrackingSettings","params":{}}' http://127.0.0.1:$port/local/quillon/operator.cgi
         curl -s -d '{"method":"updateProfile","params":{"id":1,"enabled":false}}' http://127.0.0.1:$port/local/quillon/operator.cgi
         curl -s -d '{"method":"deleteProfile","params":{"id":1}}' http://127.0.0.1:$port/local/quillon/operator.cgi
         CAMROOT=$CAMROOT $top/build/platform/camsim/camsimctl events-declared   (ProfileUpdated_1, ProfileMovement_1)
  quillon settings files: $CAMROOT/etc/quillon/
  detection-feed faults: CAMROOT=$CAMROOT $top/build/platform/camsim/camsimctl detfeed-fault mode=silent (none, undecodable, garbage, drop)
HINTS
fi
