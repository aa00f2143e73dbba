"""The Markdown table of a set of runs and the plot of one run."""
import math

from .metrics import CENTRED, UNJUDGED_KINDS, following

NOT_REACHED = "not reached"


def seconds(x):
    return NOT_REACHED if x is None else f"{x:.2f}"


def plain(x, fmt="{:.3f}"):
    return "—" if x is None else fmt.format(x)


def reacquire_text(items):
    if not items:
        return "—"
    out = []
    for r in items:
        if r.hidden_s is None:
            out.append("not hidden")
        elif r.kept:
            out.append(f"kept ({r.hidden_s:.1f} s hidden)")
        else:
            out.append(f"{seconds(r.seconds)} ({r.hidden_s:.1f} s hidden)")
    return "; ".join(out)


def zoom_text(m):
    if m.acquired_at is None:
        return "—"
    parts = [f"{m.zoom_reversals} reversals"]
    if m.loss_at is not None:
        out = "zooms out" if m.zooms_out_at_loss else "no zoom-out"
        parts.append(f"at loss x{m.zoom_at_loss:.1f}, {out}")
        if m.zoom_at_timeout is not None:
            parts.append(f"at time-out x{m.zoom_at_timeout:.1f}")
    return "; ".join(parts)


HEADER = ("| scenario | target | acquire (s) | centre (s) | RMS aim | steady (s) | overshoot "
          "| pan flips | re-acquire (s) | zoom | loss → time-out (s) | loss → preset (s) |\n"
          "|---|---|---|---|---|---|---|---|---|---|---|---|\n")


def row(name, target, m, note=""):
    if m.acquired_at is None:
        cells = [name, target, NOT_REACHED] + ["—"] * 9
    else:
        over = "—" if m.overshoot is None else f"{m.overshoot:.3f} ({m.overshoot_axis})"
        cells = [name, target, seconds(m.acquire_s), seconds(m.centre_s), plain(m.rms),
                 f"{m.steady_s:.1f}", over, plain(m.pan_flips, "{}"), reacquire_text(m.reacquire),
                 zoom_text(m),
                 "—" if m.loss_at is None else seconds(m.timeout_wait_s),
                 "—" if m.loss_at is None else seconds(m.loss_to_preset_s)]
    if note:
        cells[0] += f" ({note})"
    return "| " + " | ".join(cells) + " |\n"


def plot(tr, phases, m, title, path):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    _, follow = following(tr)
    fig, (ax1, ax2) = plt.subplots(2, 1, figsize=(11, 7.5), sharex=True)
    t = tr.t
    for ax in (ax1, ax2):
        for p in phases:
            if p.kind in UNJUDGED_KINDS:
                end = min(p.end, t[-1]) if t else p.end
                ax.axvspan(p.start, end, color="0.9", zorder=0)
        spans, start = [], None
        for i, f in enumerate(follow + [False]):
            if f and start is None:
                start = i
            if not f and start is not None:
                spans.append((t[start], t[i - 1]))
                start = None
        for a, b in spans:
            ax.axvspan(a, b, color="tab:green", alpha=0.08, zorder=0)

    err = [max(abs(u), abs(v)) if not (math.isnan(u) or math.isnan(v)) else math.nan
           for u, v in zip(tr.u, tr.v)]
    ax1.plot(t, tr.u, lw=0.8, label="u (pan)")
    ax1.plot(t, tr.v, lw=0.8, label="v (tilt)")
    ax1.plot(t, err, lw=1.2, color="k", label="max(|u|, |v|)")
    ax1.axhspan(-CENTRED, CENTRED, color="tab:green", alpha=0.15)
    ax1.set_ylim(-1.5, 1.5)
    ax1.set_ylabel("target in the picture (half-frame)")
    ax1.legend(loc="upper right", fontsize=8)
    ax1.set_title(title)
    for x, label in ((m.acquired_at, "acquired"), (m.centred_at, "centred"),
                     (m.loss_at, "lost"), (m.timeout_at, "time-out")):
        if x is not None:
            ax1.axvline(x, color="0.4", ls="--", lw=0.8)
            ax1.text(x, 1.4, " " + label, fontsize=8, va="top")

    ax2.plot(t, tr.pan, color="tab:blue", label="camera pan")
    ax2.plot(t, tr.target_pan, color="tab:blue", ls=":", label="target pan")
    ax2.plot(t, tr.tilt, color="tab:red", label="camera tilt")
    ax2.plot(t, tr.target_tilt, color="tab:red", ls=":", label="target tilt")
    ax2.set_ylabel("degrees")
    ax2.set_xlabel("scenario time (s); grey: unjudged phases, green: following the target")
    z = ax2.twinx()
    z.plot(t, tr.zoom, color="tab:purple", lw=0.8, label="zoom")
    z.set_ylabel("zoom factor")
    lines = ax2.get_legend_handles_labels()
    zl = z.get_legend_handles_labels()
    ax2.legend(lines[0] + zl[0], lines[1] + zl[1], loc="upper left", fontsize=8)
    fig.tight_layout()
    fig.savefig(path, dpi=90)
    plt.close(fig)
