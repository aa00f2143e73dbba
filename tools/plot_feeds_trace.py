#!/usr/bin/python3
"""Draws the aim of the camera against the scenario objects from a camsim
trace (CSV with the feeds module's <object>_pan, _tilt, _in_picture columns)
as a PNG: pan and tilt over time, the camera's field of view as a band, each
object solid while it is in the picture and dotted while it is not.

    tools/plot_feeds_trace.py TRACE.csv OUT.png [--last SECONDS]
"""
import argparse
import csv
import math
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402


def number(text):
    try:
        return float(text)
    except ValueError:
        return float("nan")


def unwrap(values):
    """Pan without jumps at +-180, so lines stay continuous."""
    out, offset, last = [], 0.0, None
    for v in values:
        if last is not None and not math.isnan(v) and not math.isnan(last):
            if v - last > 180:
                offset -= 360
            elif v - last < -180:
                offset += 360
        out.append(v + offset)
        if not math.isnan(v):
            last = v
    return out


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("trace")
    ap.add_argument("png")
    ap.add_argument("--last", type=float, help="only the last SECONDS of the trace")
    args = ap.parse_args()

    with open(args.trace, newline="") as f:
        reader = csv.DictReader(f)
        names = reader.fieldnames or []
        if "time_s" not in names or "pan" not in names:
            sys.exit("%s: not a camsim trace" % args.trace)
        objects = [n[:-len("_in_picture")] for n in names if n.endswith("_in_picture")]
        # A trace still being written may end in a partial row.
        rows = [r for r in reader if None not in r.values()]
    if not rows:
        sys.exit("%s: no rows" % args.trace)
    if not objects:
        sys.exit("%s: no object columns (was camsim started with --feeds-scenario?)" % args.trace)
    if args.last:
        end = number(rows[-1]["time_s"])
        rows = [r for r in rows if number(r["time_s"]) >= end - args.last]

    t0 = number(rows[0]["time_s"])
    t = [number(r["time_s"]) - t0 for r in rows]
    fig, axes = plt.subplots(2, 1, sharex=True, figsize=(11, 6.5))
    for ax, axis, fov in ((axes[0], "pan", "hfov"), (axes[1], "tilt", "vfov")):
        cam = [number(r[axis]) for r in rows]
        if axis == "pan":
            cam = unwrap(cam)
        half = [number(r[fov]) / 2 for r in rows]
        ax.fill_between(t, [c - h for c, h in zip(cam, half)], [c + h for c, h in zip(cam, half)],
                        color="tab:gray", alpha=0.2, label="field of view")
        ax.plot(t, cam, color="black", linewidth=1.5, label="camera " + axis)
        for i, name in enumerate(objects):
            values = [number(r[name + "_" + axis]) for r in rows]
            if axis == "pan":
                values = unwrap(values)
            seen = [r[name + "_in_picture"] == "1" for r in rows]
            color = "C%d" % (i % 10)
            inside = [v if s else float("nan") for v, s in zip(values, seen)]
            outside = [v if not s else float("nan") for v, s in zip(values, seen)]
            ax.plot(t, inside, color=color, linewidth=2, label=name)
            ax.plot(t, outside, color=color, linewidth=1, linestyle=":")
        ax.set_ylabel(axis + " (degrees)")
        ax.grid(True, alpha=0.3)
    axes[0].legend(loc="upper left", fontsize="small", ncol=2)
    axes[1].set_xlabel("time (s)")
    axes[0].set_title("camera aim and objects (solid: in the picture, dotted: outside)")
    fig.tight_layout()
    fig.savefig(args.png, dpi=100)
    print("wrote %s (%d rows, %d objects)" % (args.png, len(rows), len(objects)))


if __name__ == "__main__":
    main()
