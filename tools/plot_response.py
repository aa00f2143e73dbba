#!/usr/bin/python3
"""Figures and plots of the control-loop response runs of
bench/quillon_motion/control_response (camsim traces with the scenario
object "target"):

    tools/plot_response.py DIR [UNIT ...]

For every trace DIR/<run>-u<UNIT>.csv (run: step, ramp, zoom) it prints the
settling time (from the first command until the aim error stays within
0.05 image units, i.e. 1.5 degrees at zoom 1), the overshoot (degrees past
the target, and in % of the initial error), the steady-state error (mean
over the last 3 s, image units) and for the ramp the pan-rate error; for the
zoom run the final zoom and the time it took to get within 5 % of it. It
writes DIR/<run>-u<UNIT>.png: target and aim, the error, and the commands.
"""
import csv
import math
import os
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

TOLERANCE = 0.05  # image units


def wrap(a):
    while a > 180:
        a -= 360
    while a < -180:
        a += 360
    return a


def load(path):
    rows = []
    with open(path) as f:
        for r in csv.DictReader(f):
            try:
                rows.append({k: float(v) if k != "cmd_space" else v for k, v in r.items()
                             if v not in ("", None)})
            except ValueError:
                continue
    return [r for r in rows if "target_pan" in r]


def figures(rows, run):
    start = next((i for i, r in enumerate(rows)
                  if r["cmd_pan"] != 0 or r["cmd_tilt"] != 0 or r["cmd_zoom"] != 0), None)
    if start is None:
        return None
    t0 = rows[start]["time_s"]
    t = [r["time_s"] - t0 for r in rows[start:]]
    err_deg = [wrap(r["target_pan"] - r["pan"]) for r in rows[start:]]
    err = [e / (r["hfov"] / 2) for e, r in zip(err_deg, rows[start:])]
    settle = None
    for i in range(len(err)):
        if all(abs(e) <= TOLERANCE for e in err[i:]):
            settle = t[i]
            break
    first = err_deg[0]
    past = [-e if first > 0 else e for e in err_deg]
    overshoot = max(0.0, max(past))
    tail = [e for e, tt in zip(err, t) if tt >= t[-1] - 3]
    out = {
        "settling_s": settle,
        "overshoot_deg": overshoot,
        "overshoot_pct": 100 * overshoot / abs(first) if abs(first) > 0.5 else None,
        "steady_err": sum(abs(e) for e in tail) / max(1, len(tail)),
        "t": t, "err": err, "rows": rows[start:],
    }
    if run == "ramp":
        speeds = [r["pan_speed"] for r, tt in zip(rows[start:], t) if tt >= t[-1] - 3]
        out["rate_err_pct"] = 100 * max(abs(s - 5.0) for s in speeds) / 5.0
    if run == "zoom":
        zooms = [r["zoom"] for r in rows[start:]]
        final = zooms[-1]
        out["final_zoom"] = final
        out["zoom_time_s"] = next((tt for tt, z in zip(t, zooms)
                                   if all(abs(x - final) <= 0.05 * final for x in
                                          zooms[t.index(tt):])), None)
    return out


def plot(f, path, title):
    rows = f["rows"]
    t = f["t"]
    fig, ax = plt.subplots(3, 1, figsize=(9, 8), sharex=True)
    ax[0].plot(t, [r["target_pan"] for r in rows], label="target pan")
    ax[0].plot(t, [r["pan"] for r in rows], label="aim (camera pan)")
    ax[0].set_ylabel("degrees")
    ax[0].legend()
    ax[1].plot(t, f["err"], label="aim error")
    ax[1].axhline(TOLERANCE, color="grey", linestyle=":")
    ax[1].axhline(-TOLERANCE, color="grey", linestyle=":")
    ax[1].set_ylabel("image units")
    ax[1].legend()
    ax[2].plot(t, [r["cmd_pan"] for r in rows], label="pan command")
    ax[2].plot(t, [r["cmd_tilt"] for r in rows], label="tilt command")
    ax[2].plot(t, [r["cmd_zoom"] for r in rows], label="zoom command")
    ax[2].set_ylabel("speed (selected space)")
    ax[2].set_xlabel("seconds since the first command")
    ax[2].legend()
    fig.suptitle(title)
    fig.tight_layout()
    fig.savefig(path, dpi=80)
    plt.close(fig)


def text(v, fmt):
    return "-" if v is None else fmt % v


def main():
    if len(sys.argv) < 2:
        print(__doc__)
        return 2
    folder = sys.argv[1]
    units = sys.argv[2:] or ["1", "3", "5"]
    table = {}
    for run in ("step", "ramp", "zoom"):
        for u in units:
            path = os.path.join(folder, "%s-u%s.csv" % (run, u))
            if not os.path.exists(path):
                continue
            f = figures(load(path), run)
            if f is None:
                continue
            plot(f, path[:-4] + ".png", "%s at %s fields of view per second" % (run, u))
            table[(run, u)] = f
    lines = [("", ["%s fov/s" % u for u in units])]

    def row(label, run, key, fmt):
        lines.append(("%s %s" % (run, label),
                      [text(table[(run, u)].get(key), fmt) if (run, u) in table else "-"
                       for u in units]))

    row("settling (s)", "step", "settling_s", "%.2f")
    row("overshoot (deg)", "step", "overshoot_deg", "%.2f")
    row("overshoot (%)", "step", "overshoot_pct", "%.1f")
    row("steady-state error", "step", "steady_err", "%.4f")
    row("settling (s)", "ramp", "settling_s", "%.2f")
    row("overshoot (deg)", "ramp", "overshoot_deg", "%.2f")
    row("steady-state error", "ramp", "steady_err", "%.4f")
    row("pan-rate error (%)", "ramp", "rate_err_pct", "%.1f")
    row("settling (s)", "zoom", "settling_s", "%.2f")
    row("final zoom", "zoom", "final_zoom", "%.2f")
    row("zoom within 5% (s)", "zoom", "zoom_time_s", "%.2f")
    row("steady-state error", "zoom", "steady_err", "%.4f")
    width = max(len(label) for label, _ in lines)
    for label, cells in lines:
        print(label.ljust(width) + "".join(c.rjust(12) for c in cells))
    return 0


if __name__ == "__main__":
    sys.exit(main())
