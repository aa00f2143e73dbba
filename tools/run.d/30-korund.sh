# korund, the VISCA bridge: VISCA over IP on 127.0.0.1 and a serial line pair
# made of pseudo-terminals, its files under $CAMROOT, its CGI API through
# lighttpd and cgirelay. Sourced by tools/run-camera.sh after camsim.
korund_bin="$top/build/korund/korund"
if [ -x "$korund_bin" ]; then
  korund_visca_port=${PTZ_VISCA_PORT:-52381}
  korund_netset_port=${PTZ_VISCA_NETSET_PORT:-52380}
  # The discovery's broadcast copy stays on this machine: a loopback port
  # where a discovery tool may listen.
  korund_bcast_port=${PTZ_VISCA_BROADCAST_PORT:-52390}
  # The daemon works as "ptzadm" after start-up: it must reach its files.
  chmod 755 "$run" "$CAMROOT"
  mkdir -p "$CAMROOT/etc/korund" "$CAMROOT/usr/share/ptz"
  chown ptzadm:ptzadm "$CAMROOT/etc/korund"

  # The product file lists the product number camsim reports.
  korund_prod=""
  for _ in $(seq 50); do
    korund_prod=$(gdbus call --system --dest com.zeto.BasicDeviceInfo1 \
      --object-path /com/zeto/BasicDeviceInfo1 \
      --method org.freedesktop.DBus.Properties.Get com.zeto.Configuration.Legacy ProdNbr \
      2>/dev/null | sed -n "s/^(<'\(.*\)'>,)$/\1/p")
    [ -n "$korund_prod" ] && break
    sleep 0.2
  done
  cat > "$CAMROOT/usr/share/ptz/korund_products.conf" <<CONF
[${korund_prod:-unknown}]
interfaceSerial=true
interfaceIP=true
CONF
  if [ ! -e "$CAMROOT/etc/korund/korund.conf" ]; then
    printf '[korund]\nenabled=true\ninterface=viscaOverIP\nserialConfiguration=pointToPoint\nbaudRate=9600\n' \
      > "$CAMROOT/etc/korund/korund.conf"
    chown ptzadm:ptzadm "$CAMROOT/etc/korund/korund.conf"
  fi

  # Serial lines: korund opens korund-in/korund-out, a controller opens
  # visca-serial (the controller side) and visca-next (the next camera).
  socat PTY,link="$run/korund-in",raw,echo=0,perm=0666 \
        PTY,link="$run/visca-serial",raw,echo=0,perm=0666 &
  pids+=($!)
  socat PTY,link="$run/korund-out",raw,echo=0,perm=0666 \
        PTY,link="$run/visca-next",raw,echo=0,perm=0666 &
  pids+=($!)
  for _ in $(seq 50); do
    [ -e "$run/korund-in" ] && [ -e "$run/korund-out" ] && break
    sleep 0.1
  done

  KORUND_BIND_ADDRESS=127.0.0.1 \
  KORUND_VISCA_PORT=$korund_visca_port \
  KORUND_NETWORK_SETTINGS_PORT=$korund_netset_port \
  KORUND_DISCOVERY_BROADCAST=127.0.0.1:$korund_bcast_port \
    "$korund_bin" --no-daemon --portin "$run/korund-in" --portout "$run/korund-out" &
  pids+=($!)

  mkdir -p "$run/www/local/korund"
  echo "socket $CAMROOT/run/korund/transfer" > "$run/www/local/korund/viscacontrol.cgi"
  lighttpd_snippet 30-korund
  cat >> "$run/hints.txt" <<HINTS
korund (VISCA): UDP 127.0.0.1:$korund_visca_port, discovery on 127.0.0.1:$korund_netset_port
  (its broadcast copy goes to 127.0.0.1:$korund_bcast_port); serial controller side:
  $run/visca-serial (next camera in a chain: $run/visca-next)
  API: curl -d '{"apiVersion":"1.0","method":"setActiveInterface","params":{"interface":"viscaOverSerial"}}' http://127.0.0.1:$port/local/korund/viscacontrol.cgi
HINTS
fi
