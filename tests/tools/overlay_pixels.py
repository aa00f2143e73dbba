#!/usr/bin/python3
"""Checks the colours of a screenshot of the overlay page drawing
overlay_fixture.json (canvas 960x540 at 12,12; scale 1): box edges in their
colours (the tracked one thick, the inactive one dashed), the enabled zone
filled, the disabled one only outlined, the scene object grey and the
background where nothing is drawn. Exit status 1 lists every failed check."""
import sys

from PIL import Image

ORIGIN = (12, 12)
BACKGROUND = (32, 32, 32)
GREEN = (0, 255, 0)
RED = (255, 0, 0)
BLUE = (0, 0, 255)
ZONE_LINE = (0, 160, 255)
ZONE_FILLED = (22, 70, 99)  # 30 % of (0, 160, 255) over the background
SCENE_GREY = (90, 90, 90)  # 60 % of (128, 128, 128) over the background

# (what, canvas x, canvas y, expected colour)
CHECKS = [
    ("nothing drawn, top middle", 480, 20, BACKGROUND),
    ("nothing drawn, between the boxes", 480, 250, BACKGROUND),
    ("tracked box left edge", 96, 216, GREEN),
    ("tracked box is thick (2 px inside)", 98, 216, GREEN),
    ("tracked box is thick (2 px outside)", 94, 216, GREEN),
    ("tracked box bottom edge", 192, 324, GREEN),
    ("inside the tracked box", 120, 130, BACKGROUND),
    ("coloured box left edge", 576, 378, BLUE),
    ("coloured box is thin", 580, 378, BACKGROUND),
    ("enabled zone inside", 336, 450, ZONE_FILLED),
    ("enabled zone edge", 432, 450, ZONE_LINE),
    ("disabled zone inside is not filled", 816, 405, BACKGROUND),
    ("disabled zone edge", 720, 405, ZONE_LINE),
    ("scene object inside", 192, 216, SCENE_GREY),
]


def close(a, b, tolerance=12):
    return all(abs(x - y) <= tolerance for x, y in zip(a, b))


def main(path):
    img = Image.open(path).convert("RGB")
    failures = []
    for what, x, y, want in CHECKS:
        got = img.getpixel((ORIGIN[0] + x, ORIGIN[1] + y))
        if not close(got, want):
            failures.append(f"{what} at ({x}, {y}): {got}, expected {want}")
    # The inactive box's top edge (576..720 at y 54) is dashed: red and gaps.
    edge = [img.getpixel((ORIGIN[0] + x, ORIGIN[1] + 54)) for x in range(580, 716)]
    red = sum(close(p, RED) for p in edge)
    gaps = sum(close(p, BACKGROUND) for p in edge)
    if red < 30 or gaps < 30:
        failures.append(f"inactive box edge not dashed: {red} red, {gaps} background pixels")
    for f in failures:
        print(f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
