#!/usr/bin/python3
"""Draws a camsim trace (CSV) as a PNG: pose over time, speeds commanded and
actual, and any further columns (object positions added by camsim modules).

    tools/plot_trace.py TRACE.csv OUT.png [--last SECONDS]
"""
import argparse
import csv
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

FIXED = ["time_s", "pan", "tilt", "zoom", "hfov", "vfov", "pan_speed", "tilt_speed",
         "zoom_rate", "status", "cmd_pan", "cmd_tilt", "cmd_zoom", "cmd_space"]


def number(text):
    try:
        return float(text)
    except ValueError:
        return float("nan")


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("trace")
    ap.add_argument("png")
    ap.add_argument("--last", type=float, help="only the last SECONDS of the trace")
    args = ap.parse_args()

    with open(args.trace, newline="") as f:
        reader = csv.DictReader(f)
        if reader.fieldnames is None or reader.fieldnames[:len(FIXED)] != FIXED:
            sys.exit("%s: not a camsim trace (header %s)" % (args.trace, reader.fieldnames))
        extra = reader.fieldnames[len(FIXED):]
        rows = list(reader)
    if not rows:
        sys.exit("%s: no rows" % args.trace)

    t0 = number(rows[0]["time_s"])
    if args.last:
        end = number(rows[-1]["time_s"])
        rows = [r for r in rows if number(r["time_s"]) >= end - args.last]
    t = [number(r["time_s"]) - t0 for r in rows]
    col = {name: [number(r[name]) for r in rows] for name in FIXED[1:-1] + extra}

    panels = 4 if extra else 3
    fig, ax = plt.subplots(panels, 1, sharex=True, figsize=(11, 2.6 * panels))
    ax[0].plot(t, col["pan"], label="pan")
    ax[0].plot(t, col["tilt"], label="tilt")
    ax[0].set_ylabel("degrees")
    z = ax[0].twinx()
    z.plot(t, col["zoom"], color="tab:green", label="zoom")
    z.set_ylabel("zoom factor")
    ax[0].legend(loc="upper left")
    z.legend(loc="upper right")

    ax[1].plot(t, col["pan_speed"], label="pan speed")
    ax[1].plot(t, col["tilt_speed"], label="tilt speed")
    ax[1].set_ylabel("degrees/s (actual)")
    ax[1].legend(loc="upper left")

    ax[2].step(t, col["cmd_pan"], where="post", label="pan")
    ax[2].step(t, col["cmd_tilt"], where="post", label="tilt")
    ax[2].step(t, col["cmd_zoom"], where="post", label="zoom")
    ax[2].set_ylabel("commanded (raw)")
    ax[2].legend(loc="upper left")

    if extra:
        for name in extra:
            ax[3].plot(t, col[name], ".", markersize=2, label=name)
        ax[3].set_ylabel("extra columns")
        ax[3].legend(loc="upper left", fontsize="small", ncol=4)
    ax[-1].set_xlabel("seconds since trace start")
    fig.tight_layout()
    fig.savefig(args.png, dpi=100)


if __name__ == "__main__":
    main()
