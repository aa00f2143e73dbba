"""A camsim trace (CSV, one row per simulator tick) read for one target
object: the columns the closed-loop figures need, as lists of floats (NaN
where a cell is blank)."""
import csv
import math


def number(text):
    try:
        return float(text)
    except (TypeError, ValueError):
        return math.nan


class TraceError(Exception):
    pass


class TargetTrace:
    """Rows of a trace seen from one target object.

    t           scenario time (scene_t), seconds
    pan, tilt, zoom, status        camera pose and status word
    cmd_pan, cmd_tilt, cmd_zoom    last continuous move (raw speeds)
    u, v        the target's centre in device coordinates (NaN: not placed)
    target_pan, target_tilt        direction of the target's centre
    detected    the detector saw the target in the latest frame
    track_id    its detection id (-1 while it has none)
    tracking    the daemon's tracking state (AutotrackingState)
    tracked_id  the id the daemon reports it follows (-1: none reported)
    """

    COLUMNS = ("scene_t", "pan", "tilt", "zoom", "status", "cmd_pan", "cmd_tilt", "cmd_zoom",
               "tracking", "tracked_id")

    def __init__(self, rows, target):
        self.target = target
        need = list(self.COLUMNS) + [target + s for s in ("_u", "_v", "_pan", "_tilt",
                                                          "_detected", "_id")]
        if not rows:
            raise TraceError("the trace has no rows")
        missing = [c for c in need if c not in rows[0]]
        if missing:
            raise TraceError("the trace lacks the columns " + ", ".join(missing))
        col = {c: [number(r.get(c)) for r in rows] for c in need}
        self.t = col["scene_t"]
        self.pan = col["pan"]
        self.tilt = col["tilt"]
        self.zoom = col["zoom"]
        self.status = [int(s) if not math.isnan(s) else 0 for s in col["status"]]
        self.cmd_pan = col["cmd_pan"]
        self.cmd_tilt = col["cmd_tilt"]
        self.cmd_zoom = col["cmd_zoom"]
        self.u = col[target + "_u"]
        self.v = col[target + "_v"]
        self.target_pan = col[target + "_pan"]
        self.target_tilt = col[target + "_tilt"]
        self.detected = [d == 1 for d in col[target + "_detected"]]
        self.track_id = [int(i) if not math.isnan(i) else -1 for i in col[target + "_id"]]
        self.tracking = [s == 1 for s in col["tracking"]]
        self.tracked_id = [int(i) if not math.isnan(i) else -1 for i in col["tracked_id"]]

    def __len__(self):
        return len(self.t)


def objects_in(header):
    """Names of the objects a trace header has columns for, in order."""
    return [c[:-2] for c in header if c.endswith("_u") and c[:-2] + "_detected" in header]


def read_rows(path):
    with open(path, newline="") as f:
        reader = csv.DictReader(f)
        rows = list(reader)
        return reader.fieldnames or [], rows


def passes(rows):
    """The rows split into passes through a looping scenario: a new pass
    starts where scene_t runs backwards."""
    out, last = [], math.inf
    for r in rows:
        t = number(r.get("scene_t"))
        if t < last or not out:
            out.append([])
        out[-1].append(r)
        last = t
    return out


def first_pass(rows):
    """The rows of the first pass through a looping scenario."""
    return (passes(rows) or [[]])[0]
