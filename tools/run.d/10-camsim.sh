# camsim, the simulated camera: serves the PTZ, event and other camera services
# on the private system bus and its control surface on
# $CAMROOT/run/camsim/control. Modules that need options add them to the bash
# array camsim_args in tools/run.d/camsim.d/NAME.sh (sourced here first);
# CAMSIM_ARGS in the environment adds more. A trace of the session goes to
# $run/camsim-trace.csv (tools/plot_trace.py draws it).
# Sourced by tools/run-camera.sh after the bus and before the daemons.
camsim_bin="$top/build/platform/camsim/camsim"
camsimctl_bin="$top/build/platform/camsim/camsimctl"
if [ -x "$camsim_bin" ]; then
  camsim_args=(--trace "$run/camsim-trace.csv")
  for extra in "$top"/tools/run.d/camsim.d/*.sh; do
    [ -e "$extra" ] || continue
    # shellcheck source=/dev/null
    source "$extra"
  done
  # shellcheck disable=SC2206
  camsim_args+=(${CAMSIM_ARGS:-})
  "$camsim_bin" "${camsim_args[@]}" &
  pids+=($!)
  for _ in $(seq 100); do [ -S "$CAMROOT/run/camsim/control" ] && break; sleep 0.1; done
  [ -S "$CAMROOT/run/camsim/control" ] || echo "camsim did not start (see its messages above)" >&2
  # The daemons find the services at once: wait until the PTZ name is owned.
  for _ in $(seq 50); do
    gdbus call --system -d com.zeto.PTZ2 -o /com/zeto/PTZ2 \
      -m org.freedesktop.DBus.ObjectManager.GetManagedObjects >/dev/null 2>&1 && break
    sleep 0.1
  done
  cat >> "$run/hints.txt" <<HINTS
camsim (simulated camera): control with
  CAMROOT=$CAMROOT $camsimctl_bin help
  CAMROOT=$CAMROOT $camsimctl_bin pose
  DBUS_SYSTEM_BUS_ADDRESS=$DBUS_SYSTEM_BUS_ADDRESS gdbus introspect --system -d com.zeto.PTZ2 -o /com/zeto/PTZ2/Channel/1
  trace: $run/camsim-trace.csv -> $top/tools/plot_trace.py $run/camsim-trace.csv trace.png
HINTS
fi
