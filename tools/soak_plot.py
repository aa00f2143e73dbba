#!/usr/bin/python3
"""Figures and plot of a soak run (tools/soak.sh).

    tools/soak_plot.py samples.csv load.csv OUT.png

Prints per process the RSS after the first minute and at the end (growth in
KiB), the range of open descriptors and the mean CPU use; and the requests
and error replies of the load. Draws RSS, descriptors, CPU and errors over
time into OUT.png.
"""
import csv
import sys
from collections import defaultdict

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    samples, load_csv, png = sys.argv[1:]
    series = defaultdict(list)  # (name, pid) -> [(t, rss, fds, cpu_s)]
    with open(samples) as f:
        for row in csv.DictReader(f):
            series[(row["process"], row["pid"])].append(
                (int(row["time_s"]), int(row["rss_kib"]), int(row["fds"]), float(row["cpu_s"])))
    load = []
    with open(load_csv) as f:
        load = list(csv.DictReader(f))

    fig, ax = plt.subplots(4, 1, figsize=(10, 12), sharex=True)
    print(f"{'process':12} {'pid':>7} {'RSS@1min':>9} {'RSS end':>9} {'growth':>8} "
          f"{'fds min-max':>12} {'CPU %':>6}")
    for (name, pid), points in sorted(series.items()):
        t = [p[0] for p in points]
        rss = [p[1] for p in points]
        fds = [p[2] for p in points]
        cpu = [0.0] + [100 * (b[3] - a[3]) / max(1, b[0] - a[0]) for a, b in zip(points, points[1:])]
        label = f"{name} {pid}"
        ax[0].plot(t, [r / 1024 for r in rss], label=label)
        ax[1].plot(t, fds, label=label)
        ax[2].plot(t, cpu, label=label)
        after = [p for p in points if p[0] >= 60] or points
        span = points[-1][0] - points[0][0]
        mean_cpu = 100 * (points[-1][3] - points[0][3]) / span if span > 0 else 0.0
        print(f"{name:12} {pid:>7} {after[0][1]:>9} {rss[-1]:>9} {rss[-1] - after[0][1]:>8} "
              f"{min(fds):>5}-{max(fds):<6} {mean_cpu:>6.1f}")
    ax[0].set_ylabel("RSS (MiB)")
    ax[1].set_ylabel("open descriptors")
    ax[2].set_ylabel("CPU (%)")
    if load:
        kinds = [k[:-len("_errors")] for k in load[0] if k.endswith("_errors")]
        t = [float(r["time_s"]) for r in load]
        for k in kinds:
            ax[3].plot(t, [int(r[k + "_errors"]) for r in load], label=k)
        last = load[-1]
        print("load: " + ", ".join(
            f"{k} {last[k + '_requests']} requests {last[k + '_errors']} errors" for k in kinds))
    ax[3].set_ylabel("error replies (total)")
    ax[3].set_xlabel("time (s)")
    for a in ax:
        a.grid(True, alpha=0.3)
        a.legend(fontsize=7, loc="upper left")
    fig.suptitle("soak: main job under steady load")
    fig.tight_layout()
    fig.savefig(png, dpi=90)


if __name__ == "__main__":
    main()
