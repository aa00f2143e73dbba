"""One measured run: a private D-Bus system bus, camsim playing the scenario
once and quillon tracking with the detection-feed strategy, all under a
temporary CAMROOT; returns the path of camsim's trace."""
import json
import os
import signal
import socket
import subprocess
import time

BUS_CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:dir={dir}</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/><allow own="*"/><allow send_destination="*"/><allow receive_sender="*"/>
  </policy>
</busconfig>
"""

# The detection-feed strategy that follows an id change of its target.
TRACKER_TYPE = 5


class RunError(Exception):
    pass


def control(root, request, timeout=5.0):
    """One request on camsim's control socket; the result or RunError."""
    with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
        s.settimeout(timeout)
        s.connect(os.path.join(root, "run/camsim/control"))
        s.sendall((json.dumps(request) + "\n").encode())
        reply = b""
        while not reply.endswith(b"\n"):
            chunk = s.recv(65536)
            if not chunk:
                break
            reply += chunk
    r = json.loads(reply or b"{}")
    if not r.get("ok"):
        raise RunError(f"camsim refused {request}: {r.get('error')}")
    return r.get("result")


def wait_for(cond, timeout, step=0.1):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        try:
            if cond():
                return True
        except (OSError, RunError, ValueError):
            pass
        time.sleep(step)
    return False


def stop(proc, grace=10.0):
    if proc is None or proc.poll() is not None:
        return
    proc.send_signal(signal.SIGTERM)
    try:
        proc.wait(grace)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()


def write_quillon_config(root, scenario):
    etc = os.path.join(root, "etc/quillon")
    os.makedirs(etc, exist_ok=True)
    with open(os.path.join(etc, "application.conf"), "w") as f:
        json.dump({"service": {"active": True}}, f)
    with open(os.path.join(etc, "settings.conf"), "w") as f:
        json.dump({"trackingParams": {"trackerType": TRACKER_TYPE}}, f)
    # One trigger zone, pan/tilt degrees, with the preset to return to.
    zone = {"pt_polygon": [float(x) for x in scenario.zone], "id": 1, "name": "report zone",
            "enabled": True, "preset": int(scenario.preset_number), "zoneType": 0}
    with open(os.path.join(etc, "profiles.conf"), "w") as f:
        json.dump({"profiles": [zone]}, f)


def run(scenario, build, workdir, log=print):
    """Runs one scenario in `workdir` (created); returns (trace path, notes)."""
    camsim_bin = os.path.join(build, "platform/camsim/camsim")
    quillon_bin = os.path.join(build, "quillon/core/quillon")
    for b in (camsim_bin, quillon_bin):
        if not os.access(b, os.X_OK):
            raise RunError(f"{b} is not built (cmake --build {build})")
    os.makedirs(workdir, exist_ok=True)
    root = os.path.join(workdir, "root")
    os.makedirs(root, exist_ok=True)
    notes = []
    procs = []
    logs = []
    try:
        with open(os.path.join(workdir, "system-bus.conf"), "w") as f:
            f.write(BUS_CONFIG.format(dir=workdir))
        bus = subprocess.Popen(["dbus-daemon", "--config-file",
                                os.path.join(workdir, "system-bus.conf"), "--nofork",
                                "--print-address"], stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL, text=True)
        procs.append(bus)
        address = bus.stdout.readline().strip()
        if not address:
            raise RunError("dbus-daemon did not start")
        env = dict(os.environ, CAMROOT=root, DBUS_SYSTEM_BUS_ADDRESS=address,
                   QUILLON_LOG_STDERR="1")
        scenario_copy = os.path.join(workdir, "scenario.json")
        with open(scenario_copy, "w") as f:
            f.write(scenario.single_pass())

        camsim_log = open(os.path.join(workdir, "camsim.log"), "w")
        logs.append(camsim_log)
        camsim = subprocess.Popen([camsim_bin, "--feeds-scenario", scenario_copy], env=env,
                                  stdout=camsim_log, stderr=subprocess.STDOUT)
        procs.append(camsim)
        if not wait_for(lambda: control(root, {"cmd": "pose"}) is not None, 20):
            raise RunError(f"camsim did not start (see {camsim_log.name})")

        write_quillon_config(root, scenario)
        quillon_log = open(os.path.join(workdir, "quillon.log"), "w")
        logs.append(quillon_log)
        quillon = subprocess.Popen([quillon_bin], env=dict(
            env, FCGI_SOCKET_NAME=os.path.join(workdir, "quillon.sock")),
            stdout=quillon_log, stderr=subprocess.STDOUT)
        procs.append(quillon)

        def declared():
            return any("AutotrackingState" in d.get("topic", "")
                       for d in control(root, {"cmd": "events-declared"}))
        if not wait_for(declared, 20):
            notes.append("quillon declared no tracking-state event")
            log(f"  {scenario.name}: quillon declared no tracking-state event; measuring anyway")

        # The scene starts now, with the daemon ready for it.
        trace = os.path.join(workdir, "trace.csv")
        control(root, {"cmd": "scenario-restart"})
        control(root, {"cmd": "trace-start", "path": trace})
        end = time.monotonic() + scenario.run_s
        while time.monotonic() < end:
            if camsim.poll() is not None:
                raise RunError(f"camsim ended during the run (see {camsim_log.name})")
            if quillon.poll() is not None and "quillon ended" not in notes:
                notes.append("quillon ended")
                log(f"  {scenario.name}: quillon ended during the run (see {quillon_log.name})")
            time.sleep(0.2)
        control(root, {"cmd": "trace-stop"})
        return trace, notes
    finally:
        for p in reversed(procs):
            stop(p)
        for f in logs:
            f.close()
