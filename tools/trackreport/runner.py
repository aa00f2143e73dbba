"""One measured run: a private D-Bus system bus, camsim playing the scenario
once and quillon tracking with the detection-feed strategy, all under a
temporary CAMROOT; returns the path of camsim's trace."""
import json
import os
import signal
import socket
import subprocess
import time

from . import fcgi

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


def write_quillon_config(root, scenario, tracker_type=TRACKER_TYPE):
    etc = os.path.join(root, "etc/quillon")
    os.makedirs(etc, exist_ok=True)
    with open(os.path.join(etc, "application.conf"), "w") as f:
        json.dump({"service": {"active": True}}, f)
    with open(os.path.join(etc, "settings.conf"), "w") as f:
        json.dump({"trackingParams": {"trackerType": tracker_type}}, f)
    # One trigger zone, pan/tilt degrees, with the preset to return to.
    zone = {"pt_polygon": [float(x) for x in scenario.zone], "id": 1, "name": "report zone",
            "enabled": True, "preset": int(scenario.preset_number), "zoneType": 0}
    with open(os.path.join(etc, "profiles.conf"), "w") as f:
        json.dump({"profiles": [zone]}, f)


class Session:
    """Processes of one run in `workdir`, stopped in reverse order on exit:
    a private system bus, then camsim, then the daemons."""

    def __init__(self, build, workdir):
        self.build = build
        self.workdir = workdir
        self.root = os.path.join(workdir, "root")
        os.makedirs(self.root, exist_ok=True)
        self.procs = []
        self.logs = []
        self.env = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        for p in reversed(self.procs):
            stop(p)
            if p.stdout is not None:
                p.stdout.close()
        for f in self.logs:
            f.close()

    def start(self, name, argv, env):
        log = open(os.path.join(self.workdir, name + ".log"), "w")
        self.logs.append(log)
        # Programs of a cross build run through its emulator (the test sets it).
        emulator = os.environ.get("PTZ_TEST_EMULATOR")
        if emulator:
            argv = [emulator, *argv]
        proc = subprocess.Popen(argv, env=env, stdout=log, stderr=subprocess.STDOUT)
        self.procs.append(proc)
        return proc

    def bus(self):
        conf = os.path.join(self.workdir, "system-bus.conf")
        with open(conf, "w") as f:
            f.write(BUS_CONFIG.format(dir=self.workdir))
        bus = subprocess.Popen(["dbus-daemon", "--config-file", conf, "--nofork",
                                "--print-address"], stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL, text=True)
        self.procs.append(bus)
        address = bus.stdout.readline().strip()
        if not address:
            raise RunError("dbus-daemon did not start")
        self.env = dict(os.environ, CAMROOT=self.root, DBUS_SYSTEM_BUS_ADDRESS=address)

    def camsim(self, scenario_path, extra=()):
        binary = os.path.join(self.build, "platform/camsim/camsim")
        if not os.access(binary, os.X_OK):
            raise RunError(f"{binary} is not built (cmake --build {self.build})")
        proc = self.start("camsim", [binary, "--feeds-scenario", scenario_path, *extra], self.env)
        if not wait_for(lambda: self.control({"cmd": "pose"}) is not None, 20):
            raise RunError(f"camsim did not start (see {self.workdir}/camsim.log)")
        return proc

    def control(self, request):
        return control(self.root, request)


def set_viewport(sock, rotation):
    """setViewportConfig through quillon's FastCGI socket, so that it publishes
    its status (and the trace gets the tracked id); False when refused."""
    body = json.dumps({"method": "setViewportConfig", "params": {"rotation": rotation}})
    try:
        reply = json.loads(fcgi.post(sock, "/local/quillon/admin.cgi", body.encode()))
    except (OSError, ValueError):
        return False
    return "data" in reply


def run(scenario, build, workdir, log=print, camsim_args=(), tracker_type=TRACKER_TYPE):
    """Runs one scenario in `workdir` (created) with the strategy of
    `tracker_type`; returns (trace path, notes)."""
    quillon_bin = os.path.join(build, "quillon/core/quillon")
    if not os.access(quillon_bin, os.X_OK):
        raise RunError(f"{quillon_bin} is not built (cmake --build {build})")
    os.makedirs(workdir, exist_ok=True)
    notes = []
    with Session(build, workdir) as s:
        s.bus()
        scenario_copy = os.path.join(workdir, "scenario.json")
        with open(scenario_copy, "w") as f:
            f.write(scenario.single_pass())
        camsim = s.camsim(scenario_copy, camsim_args)
        write_quillon_config(s.root, scenario, tracker_type)
        sock = os.path.join(workdir, "quillon.sock")
        quillon = s.start("quillon", [quillon_bin], dict(
            s.env, QUILLON_LOG_STDERR="1", FCGI_SOCKET_NAME=sock))

        def declared():
            return any("AutotrackingState" in d.get("topic", "")
                       for d in s.control({"cmd": "events-declared"}))
        if not wait_for(declared, 20):
            notes.append("quillon declared no tracking-state event")
            log(f"  {scenario.name}: quillon declared no tracking-state event; measuring anyway")
        if not wait_for(lambda: set_viewport(sock, scenario.rotation), 10):
            notes.append("no viewport: no tracked ids")

        # The scene starts now, with the daemon ready for it.
        trace = os.path.join(workdir, "trace.csv")
        s.control({"cmd": "scenario-restart"})
        s.control({"cmd": "trace-start", "path": trace})
        end = time.monotonic() + scenario.run_s
        while time.monotonic() < end:
            if camsim.poll() is not None:
                raise RunError(f"camsim ended during the run (see {workdir}/camsim.log)")
            if quillon.poll() is not None and "quillon ended" not in notes:
                notes.append("quillon ended")
                log(f"  {scenario.name}: quillon ended during the run (see {workdir}/quillon.log)")
            time.sleep(0.2)
        s.control({"cmd": "trace-stop"})
        return trace, notes
