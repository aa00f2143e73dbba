"""Closed-loop figures of one run, computed from a camsim trace seen from the
target object. Every figure is defined in docs/track-report.md; a figure that
the run never reached is None."""
import math
from dataclasses import dataclass, field

CENTRED = 0.1          # max(|u|, |v|) at or below this is centred (half-frame units)
HOLD_S = 1.0           # ... held this long
OVERSHOOT_WINDOW_S = 5.0
ZOOM_DEADBAND = 0.05   # stops per second below which the zoom counts as still
# Phases during which the aim is not judged, and after which it must settle
# (centre again for HOLD_S) before it is judged again.
UNJUDGED_KINDS = ("occlusion", "unconfident", "gone")
# Tolerances of "at the preset".
PRESET_ANGLE = 0.1     # degrees
PRESET_ZOOM = 0.02     # relative
STATUS_POSITIONING = 0x04


@dataclass
class Phase:
    name: str
    start: float
    end: float = math.inf
    kind: str = "follow"


@dataclass
class Preset:
    pan: float
    tilt: float
    zoom: float


@dataclass
class Reacquire:
    phase: str
    hidden_s: float = None   # how long the detector did not see the target
    kept: bool = False       # followed throughout
    seconds: float = None    # from reappearance to following again; None: never


@dataclass
class Metrics:
    identity_reported: bool = False
    available_at: float = None
    acquired_at: float = None
    acquire_s: float = None
    centred_at: float = None
    centre_s: float = None
    steady_s: float = 0.0
    rms: float = None
    overshoot: float = None
    overshoot_axis: str = None
    pan_flips: int = None
    reacquire: list = field(default_factory=list)
    zoom_reversals: int = None
    loss_at: float = None
    zoom_at_loss: float = None
    zooms_out_at_loss: bool = None
    timeout_at: float = None
    timeout_wait_s: float = None
    zoom_at_timeout: float = None
    loss_to_preset_s: float = None


def finite(*values):
    return all(not math.isnan(x) for x in values)


def following(tr):
    """Per row: the daemon follows the target. When the trace carries the
    followed id, tracking must be on and the id one the target had; else
    tracking on is enough."""
    ids = {i for i in tr.track_id if i >= 0}
    identity = any(i >= 0 for i in tr.tracked_id)
    return identity, [tr.tracking[i] and (not identity or tr.tracked_id[i] in ids)
                      for i in range(len(tr))]


def aim_error(tr, i):
    """max(|u|, |v|) of row i; infinite where the target is not placed."""
    if not finite(tr.u[i], tr.v[i]):
        return math.inf
    return max(abs(tr.u[i]), abs(tr.v[i]))


def centred_holds(tr, follow):
    """Start rows of every stretch that is followed (per `follow`) and
    centred for at least HOLD_S."""
    starts, run = [], None
    for i in range(len(tr)):
        ok = follow[i] and aim_error(tr, i) <= CENTRED
        if not ok:
            run = None
            continue
        if run is None:
            run = i
        if tr.t[i] - tr.t[run] >= HOLD_S and (not starts or starts[-1] != run):
            starts.append(run)
    return starts


def in_phase(phases, t, kinds):
    return any(p.kind in kinds and p.start <= t < p.end for p in phases)


def first(indices, cond):
    for i in indices:
        if cond(i):
            return i
    return None


def sign(x, deadband=0.0):
    return 0 if abs(x) <= deadband else (1 if x > 0 else -1)


def count_flips(signs):
    """Sign changes in a sequence, zeros skipped; None entries break it."""
    flips, last = 0, 0
    for s in signs:
        if s is None:
            last = 0
            continue
        if s == 0:
            continue
        if last != 0 and s != last:
            flips += 1
        last = s
    return flips


def compute(tr, phases=(), preset=None):
    m = Metrics()
    n = len(tr)
    rows = range(n)
    m.identity_reported, follow = following(tr)

    avail = first(rows, lambda i: tr.detected[i])
    if avail is None:
        return m
    m.available_at = tr.t[avail]
    acq = first(range(avail, n), lambda i: follow[i])
    if acq is None:
        return m
    m.acquired_at = tr.t[acq]
    m.acquire_s = tr.t[acq] - tr.t[avail]

    holds = centred_holds(tr, follow)
    holds_after = [h for h in holds if h >= acq]
    if holds_after:
        m.centred_at = tr.t[holds_after[0]]
        m.centre_s = m.centred_at - m.acquired_at

    # Steady tracking: judged rows (followed, outside unjudged phases) from
    # the start of a centred hold on; an unjudged row unsettles until the
    # next hold.
    judged = [follow[i] and not in_phase(phases, tr.t[i], UNJUDGED_KINDS) for i in rows]
    hold_set = set(centred_holds(tr, judged))
    steady, settled = [False] * n, False
    for i in rows:
        if not judged[i]:
            settled = False
        elif i in hold_set:
            settled = True
        steady[i] = settled and finite(tr.u[i], tr.v[i])
    sq, count = 0.0, 0
    for i in rows:
        if steady[i]:
            sq += tr.u[i] ** 2 + tr.v[i] ** 2
            count += 1
            if i > 0 and steady[i - 1]:
                m.steady_s += tr.t[i] - tr.t[i - 1]
    if count:
        m.rms = math.sqrt(sq / count)
        m.pan_flips = count_flips(sign(tr.cmd_pan[i]) if steady[i] else None for i in rows)

    # Overshoot: how far the target swings past the centre, on the side
    # opposite to where it was at acquisition.
    for axis, values in (("pan", tr.u), ("tilt", tr.v)):
        start = values[acq]
        if not finite(start) or abs(start) <= CENTRED:
            continue
        s = sign(start)
        past = max([-s * values[i] for i in range(acq, n)
                    if tr.t[i] - tr.t[acq] <= OVERSHOOT_WINDOW_S and follow[i]
                    and finite(values[i])] or [0.0])
        past = max(past, 0.0)
        if m.overshoot is None or past > m.overshoot:
            m.overshoot, m.overshoot_axis = past, axis

    m.reacquire = [reacquire(tr, follow, p) for p in phases if p.kind == "occlusion"]

    # Zoom direction while following; reversals are changes of direction.
    dirs = []
    for i in rows:
        if i == 0 or not (follow[i] and follow[i - 1]) or not finite(tr.zoom[i], tr.zoom[i - 1]):
            dirs.append(None)
            continue
        dt = tr.t[i] - tr.t[i - 1]
        rate = math.log2(tr.zoom[i] / tr.zoom[i - 1]) / dt if dt > 0 and tr.zoom[i - 1] > 0 else 0
        dirs.append(sign(rate, ZOOM_DEADBAND))
    m.zoom_reversals = count_flips(dirs)

    loss_figures(tr, follow, preset, m)
    return m


def reacquire(tr, follow, phase):
    r = Reacquire(phase.name)
    n = len(tr)
    near = [i for i in range(n) if phase.start - 0.5 <= tr.t[i] <= phase.end + 0.5]
    hide = first(near, lambda i: not tr.detected[i])
    if hide is None:
        return r
    back = first(range(hide, n), lambda i: tr.detected[i])
    if back is None:
        return r
    r.hidden_s = tr.t[back] - tr.t[hide]
    if not any(follow[i] for i in range(hide)):
        return r  # not followed before: nothing to re-acquire
    if all(follow[i] for i in range(hide, back + 1)):
        r.kept, r.seconds = True, 0.0
        return r
    again = first(range(back, n), lambda i: follow[i])
    if again is not None:
        r.seconds = tr.t[again] - tr.t[back]
    return r


def loss_figures(tr, follow, preset, m):
    """The final loss: the last end of following, after which the target is
    not followed again within the run."""
    n = len(tr)
    if follow[-1]:
        return
    last = max((i for i in range(n) if follow[i]), default=None)
    if last is None:
        return
    loss = last + 1
    m.loss_at = tr.t[loss]
    m.zoom_at_loss = tr.zoom[loss]
    after = range(loss, n)
    m.zooms_out_at_loss = any(tr.cmd_zoom[i] < 0 for i in after if tr.t[i] - m.loss_at <= 1.0)

    def cmd_zero(i):
        return tr.cmd_pan[i] == 0 and tr.cmd_tilt[i] == 0 and tr.cmd_zoom[i] == 0

    to = first(range(loss + 1, n), lambda i: (tr.status[i] & STATUS_POSITIONING) != 0
               or (cmd_zero(i) and not cmd_zero(i - 1)))
    if to is not None:
        m.timeout_at = tr.t[to]
        m.timeout_wait_s = m.timeout_at - m.loss_at
        m.zoom_at_timeout = tr.zoom[to]
    if preset is None:
        return

    def at_preset(i):
        d = (tr.pan[i] - preset.pan + 180.0) % 360.0 - 180.0
        return (abs(d) <= PRESET_ANGLE and abs(tr.tilt[i] - preset.tilt) <= PRESET_ANGLE
                and abs(tr.zoom[i] / preset.zoom - 1.0) <= PRESET_ZOOM
                and (tr.status[i] & STATUS_POSITIONING) == 0)

    # Arrival after a move: the camera must have been away from the preset
    # after the loss (a camera that never left arrives at once).
    away = first(after, lambda i: not at_preset(i))
    start = loss if away is None else away
    back = first(range(start, n), at_preset)
    if back is not None:
        m.loss_to_preset_s = tr.t[back] - m.loss_at
