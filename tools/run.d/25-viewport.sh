# The picture's rotation for quillon: the status boxes and picture zones are
# turned by it, and the tracker publishes no status before it is set. Once
# lighttpd answers (it starts after every run.d part), an API call makes
# quillon load application.conf and start its tracker; once the tracker has
# declared its events, setViewportConfig with the rotation of camsim's
# scenario (camsimctl view) reaches it. In the background, so the start-up
# goes on.
# Sourced by tools/run-camera.sh after camsim and quillon.
if [ -n "${quillon_sock:-}" ] && [ -x "${camsimctl_bin:-}" ]; then
  (
    api="http://127.0.0.1:$port/local/quillon/operator.cgi"
    for _ in $(seq 300); do
      curl -s -o /dev/null -d '{"method":"getAutotrackingState","params":{}}' "$api" && break
      sleep 0.1
    done
    for _ in $(seq 300); do
      CAMROOT=$CAMROOT "$camsimctl_bin" events-declared 2>/dev/null | grep -q 'AutoTriggers' &&
        break
      sleep 0.1
    done
    rotation=$(CAMROOT=$CAMROOT "$camsimctl_bin" view 2>/dev/null |
      python3 -c 'import json, sys; print(int(json.load(sys.stdin)["pose"]["rotation"]))' \
      2>/dev/null || echo 0)
    if curl -s -d "{\"method\":\"setViewportConfig\",\"params\":{\"rotation\":$rotation}}" \
      "$api" | grep -q '"data"'; then
      echo "quillon viewport: rotation $rotation"
    else
      echo "quillon viewport: setViewportConfig failed" >&2
    fi
  ) &
  pids+=($!)
  cat >> "$run/hints.txt" <<HINTS
quillon viewport (set at start from camsim's scenario):
  curl -s -d '{"method":"getViewportConfig","params":{}}' http://127.0.0.1:$port/local/quillon/operator.cgi
HINTS
fi
