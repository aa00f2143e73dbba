# The overlay page: what the tracker reports (its streamObjects status) drawn
# over camsim's scene, polled from camsim's read-only "view.cgi" through
# lighttpd and cgirelay on the transfer socket $CAMROOT/run/camsim/transfer.
# Sourced by tools/run-camera.sh after camsim and before lighttpd starts.
overlay_relay="$top/build/platform/cgirelay/cgirelay"
if [ -x "$overlay_relay" ] && [ -x "${camsim_bin:-}" ]; then
  mkdir -p "$run/www/local/camsim"
  cp "$top"/tools/overlay/overlay.html "$top"/tools/overlay/overlay.js "$run/www/local/camsim/"
  echo "socket $CAMROOT/run/camsim/transfer" > "$run/www/local/camsim/view.cgi"
  cat > "$run/lighttpd.d/16-overlay.conf" <<CONF
\$HTTP["url"] =~ "^/local/camsim/" {
  cgi.assign = ( ".cgi" => "$overlay_relay" )
  mimetype.assign = ( ".html" => "text/html", ".js" => "text/javascript" )
}
CONF
  cat >> "$run/hints.txt" <<HINTS
overlay (tracker status over the simulated scene): http://127.0.0.1:$port/local/camsim/overlay.html
  its data: curl -s http://127.0.0.1:$port/local/camsim/view.cgi   (or: camsimctl view)
HINTS
fi
