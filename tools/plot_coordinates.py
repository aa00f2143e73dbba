#!/usr/bin/python3
"""Draws docs/geometry-coordinates.png: the picture and device frames, and a
pan/tilt grid as the camera sees it, through libcamgeom (ctypes) and through
the linear model.

Usage: tools/plot_coordinates.py [path/to/libcamgeom.so] [output.png]
Defaults: build/platform/camgeom/libcamgeom.so, docs/geometry-coordinates.png.
"""
import ctypes
import os
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.lines  # noqa: E402
import matplotlib.pyplot as plt  # noqa: E402

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
LIB = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
    TOP, "build", "platform", "camgeom", "libcamgeom.so")
OUT = sys.argv[2] if len(sys.argv) > 2 else os.path.join(
    TOP, "docs", "geometry-coordinates.png")
WIDTH, HEIGHT = 1920, 1080

cg = ctypes.CDLL(LIB)
cg.camgeom_context_create_f.restype = ctypes.c_void_p
cg.camgeom_context_delete.argtypes = [ctypes.c_void_p]
cg.camgeom_set_pantilt_f.argtypes = [ctypes.c_void_p, ctypes.c_float, ctypes.c_float]
cg.camgeom_set_horiz_fov_f.argtypes = [ctypes.c_void_p, ctypes.c_float]
cg.camgeom_set_vert_fov_f.argtypes = [ctypes.c_void_p, ctypes.c_float]
cg.camgeom_set_pic_rot.argtypes = [ctypes.c_void_p, ctypes.c_int]
cg.camgeom_set_pic_dim.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int]
cg.camgeom_to_pixel_f.argtypes = [ctypes.c_void_p, ctypes.POINTER(ctypes.c_int),
                                  ctypes.POINTER(ctypes.c_int), ctypes.c_float, ctypes.c_float]


class Camera:
    def __init__(self, pan, tilt, hfov, vfov):
        self.pan, self.tilt, self.hfov, self.vfov = pan, tilt, hfov, vfov
        self.ctx = cg.camgeom_context_create_f()
        cg.camgeom_set_pantilt_f(self.ctx, pan, tilt)
        cg.camgeom_set_horiz_fov_f(self.ctx, hfov)
        cg.camgeom_set_vert_fov_f(self.ctx, vfov)
        cg.camgeom_set_pic_rot(self.ctx, 0)
        cg.camgeom_set_pic_dim(self.ctx, WIDTH, HEIGHT)

    def library(self, pan, tilt):
        """Picture coordinates through the library, None when refused."""
        x, y = ctypes.c_int(), ctypes.c_int()
        if cg.camgeom_to_pixel_f(self.ctx, ctypes.byref(x), ctypes.byref(y), pan, tilt) != 0:
            return None
        return x.value / WIDTH, y.value / HEIGHT

    def linear(self, pan, tilt):
        dp = (pan - self.pan + 180) % 360 - 180
        u, v = dp / self.hfov * 2, (tilt - self.tilt) / self.vfov * 2
        return (u + 1) / 2, 1 - (v + 1) / 2


def frames(ax):
    ax.set_title("picture (x, y) and device (u, v)")
    ax.add_patch(plt.Rectangle((0, 0), 1, 1, fill=False, lw=2))
    ax.annotate("", xy=(0.35, 0), xytext=(0, 0),
                arrowprops=dict(arrowstyle="->", color="tab:blue", lw=2))
    ax.annotate("", xy=(0, 0.35), xytext=(0, 0),
                arrowprops=dict(arrowstyle="->", color="tab:blue", lw=2))
    ax.text(0.37, 0.03, "x", color="tab:blue", fontsize=12)
    ax.text(0.02, 0.40, "y", color="tab:blue", fontsize=12)
    ax.text(0.02, -0.05, "(0, 0)", color="tab:blue")
    ax.text(0.88, 1.07, "(1, 1)", color="tab:blue")
    ax.annotate("", xy=(0.85, 0.5), xytext=(0.5, 0.5),
                arrowprops=dict(arrowstyle="->", color="tab:red", lw=2))
    ax.annotate("", xy=(0.5, 0.15), xytext=(0.5, 0.5),
                arrowprops=dict(arrowstyle="->", color="tab:red", lw=2))
    ax.text(0.87, 0.52, "u", color="tab:red", fontsize=12)
    ax.text(0.52, 0.13, "v", color="tab:red", fontsize=12)
    ax.text(0.52, 0.55, "(0, 0)", color="tab:red")
    ax.text(0.03, 0.93, "(-1, -1)", color="tab:red")
    ax.text(0.80, 0.10, "(1, 1)", color="tab:red")
    ax.text(0.05, 0.75, "u = 2x - 1, v = 1 - 2y\nrotation 180: u, v negated\n"
            "u toward larger pan,\nv toward larger tilt", fontsize=9)
    ax.set_xlim(-0.1, 1.1)
    ax.set_ylim(1.15, -0.12)  # y down, as in the picture
    ax.set_xticks([0, 0.5, 1])
    ax.set_yticks([0, 0.5, 1])


def grid(ax, cam, step):
    ax.set_title(f"pan/tilt grid every {step}°, camera at tilt {cam.tilt:g}°, "
                 f"fov {cam.hfov:g}° x {cam.vfov:g}°", fontsize=10)
    ax.add_patch(plt.Rectangle((0, 0), 1, 1, fill=False, lw=2))
    pans = [cam.pan + step * k for k in range(-12, 13)]
    tilts = [max(-90, min(90, cam.tilt + step * k)) for k in range(-12, 13)]
    fine = [i / 20 for i in range(-20 * 60, 20 * 60 + 1)]
    for project, style in ((cam.linear, ":"), (cam.library, "-")):
        colour = "tab:green" if style == "-" else "tab:gray"
        for p in pans:
            draw(ax, [project(p, cam.tilt + d) for d in fine], style, colour)
        for t in sorted(set(tilts)):
            draw(ax, [project(cam.pan + d, t) for d in fine], style, colour)
    ax.set_xlim(-0.1, 1.1)
    ax.set_ylim(1.1, -0.1)
    ax.set_xlabel("x")
    ax.set_ylabel("y")
    ax.legend(handles=[
        matplotlib.lines.Line2D([], [], color="tab:green", lw=1, label="libcamgeom (pinhole)"),
        matplotlib.lines.Line2D([], [], color="tab:gray", lw=1, ls=":", label="linear model"),
        matplotlib.lines.Line2D([], [], color="black", lw=2, label="picture")],
        loc="upper right", fontsize=8, framealpha=0.9)


def draw(ax, pts, style, colour):
    xs, ys = [], []
    for p in pts + [None]:
        if p is not None and -0.5 < p[0] < 1.5 and -0.5 < p[1] < 1.5:
            xs.append(p[0])
            ys.append(p[1])
            continue
        if len(xs) > 1:
            ax.plot(xs, ys, style, color=colour, lw=1.2 if style == ":" else 1)
        xs, ys = [], []


def main():
    fig, axes = plt.subplots(1, 3, figsize=(16, 4.8))
    frames(axes[0])
    grid(axes[1], Camera(0, -10, 60, 33.75), 5)
    grid(axes[2], Camera(0, -75, 60, 33.75), 5)
    fig.tight_layout()
    fig.savefig(OUT, dpi=80)
    print(OUT)


if __name__ == "__main__":
    main()
