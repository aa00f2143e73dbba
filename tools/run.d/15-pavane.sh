# libpavane, the video-output control: camsim (started before this) hosts it
# with simulated HDMI and SDI outputs; its CGI "videooutput2.cgi" is reached
# through lighttpd and cgirelay on the transfer socket $CAMROOT/run/pavane/transfer.
# Sourced by tools/run-camera.sh after camsim and before lighttpd starts.
pavane_relay="$top/build/platform/cgirelay/cgirelay"
if [ -x "$pavane_relay" ]; then
  mkdir -p "$run/www/local/pavane"
  echo "socket $CAMROOT/run/pavane/transfer" > "$run/www/local/pavane/videooutput2.cgi"
  lighttpd_snippet 15-pavane
  cat >> "$run/hints.txt" <<HINTS
video outputs (libpavane in camsim): http://127.0.0.1:$port/local/pavane/videooutput2.cgi
  curl -s -d '{"apiVersion":"1.0","method":"getOutputs"}' http://127.0.0.1:$port/local/pavane/videooutput2.cgi
  curl -s -d '{"apiVersion":"1.0","method":"setScanMode","params":{"id":1,"scanMode":"progressive"}}' http://127.0.0.1:$port/local/pavane/videooutput2.cgi
  curl -s -d '{"apiVersion":"1.0","method":"getScanMode","params":{"id":1}}' http://127.0.0.1:$port/local/pavane/videooutput2.cgi
HINTS
fi
