#!/usr/bin/python3
"""tools/track-report: the figures of scripted traces whose answers are known
by construction, scenario report blocks, and the command on a trace file."""
import csv
import json
import math
import os
import subprocess
import sys
import tempfile
import unittest

TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(TOP, "tools"))

from trackreport import metrics  # noqa: E402
from trackreport.metrics import Phase, Preset  # noqa: E402
from trackreport.scenario import ReportScenario, ScenarioError  # noqa: E402
from trackreport.trace import TargetTrace, TraceError, first_pass, passes  # noqa: E402

DT = 0.01
HEADER = ["time_s", "pan", "tilt", "zoom", "status", "cmd_pan", "cmd_tilt", "cmd_zoom",
          "scene_t", "tracking", "tracked_id", "p_pan", "p_tilt", "p_in_picture", "p_u", "p_v",
          "p_detected", "p_id"]


def script(until, at):
    """Rows every 10 ms; at(t) returns the values that differ from an idle
    camera looking at a detected, untracked object in the middle."""
    rows = []
    for k in range(int(round(until / DT)) + 1):
        t = k * DT
        r = {"time_s": 100 + t, "scene_t": t, "pan": 0.0, "tilt": -10.0, "zoom": 1.0,
             "status": 0, "cmd_pan": 0.0, "cmd_tilt": 0.0, "cmd_zoom": 0.0, "tracking": 0,
             "tracked_id": -1, "p_pan": 0.0, "p_tilt": -10.0, "p_in_picture": 1, "p_u": 0.0,
             "p_v": 0.0, "p_detected": 1, "p_id": 7}
        r.update(at(t))
        rows.append({key: str(value) for key, value in r.items()})
    return rows


def follow_and_lose(t):
    """A scripted run with every figure known:
    - detected from 1.0, followed (id 7) from 1.5: acquire 0.5 s;
    - u from 0.6 falls 0.8/s to -0.05 (overshoot 0.05 on pan) and comes back
      to 0 at 0.1/s; centred (|u| <= 0.1) from 2.125: centre 0.625 s;
    - steady from 3 on at u = 0.03, v = -0.04 (error 0.05), pan command +10;
    - hidden 8.0-8.6, followed throughout (kept);
    - hidden 12.0-15.0, not followed from 13.0, again from 15.4 under id 9:
      re-acquire 0.4 s;
    - zoom 1 -> 4 (1.5-3), 4 -> 3 (5-6), 3 -> 3.5 (7-7.5): 2 reversals;
    - gone from 19.5, lost at 20.0 at zoom 3.5, zooming out (-5) at half a
      stop per second; the commands stop at 25.0 (zoom 1), the preset move
      starts at 25.1 and arrives at 26.1: time-out 5.0 s, preset 6.1 s.
    """
    r = {}
    if t < 1.0:
        r["p_detected"], r["p_id"] = 0, -1
    if 8.0 <= t < 8.6 or 12.0 <= t < 15.0 or t >= 19.5:
        r["p_detected"] = 0
    if 12.0 + 1.0 <= t < 15.0 or t >= 19.5 + 1.0:
        r["p_id"] = -1
    if t >= 15.0:
        r["p_id"] = 9
    following = 1.5 <= t < 13.0 or 15.4 <= t < 20.0
    if following:
        r["tracking"], r["tracked_id"] = 1, 9 if t >= 15.0 else 7
    if t < 1.5:
        u = 0.6
    elif t < 1.5 + 0.65 / 0.8:
        u = 0.6 - 0.8 * (t - 1.5)
    elif t < 2.8125:
        u = -0.05 + 0.1 * (t - 2.3125)
    elif t < 3.0:
        u = 0.0
    else:
        u = 0.03
    r["p_u"], r["p_v"] = u, (-0.04 if t >= 3.0 else 0.0)
    if following:
        r["cmd_pan"] = 10.0
    if 1.5 <= t < 3.0:
        r["zoom"] = 1 + 3 * (t - 1.5) / 1.5
    elif t < 5.0:
        r["zoom"] = 4.0 if t >= 3.0 else 1.0
    elif t < 6.0:
        r["zoom"] = 4 - (t - 5)
    elif t < 7.0:
        r["zoom"] = 3.0
    elif t < 7.5:
        r["zoom"] = 3 + (t - 7)
    else:
        r["zoom"] = 3.5
    r["pan"] = 20.0 if t >= 3.0 else 0.0
    if t >= 20.0:
        r["zoom"] = max(1.0, 3.5 * 2 ** (-0.5 * (t - 20.0)))
        r["cmd_zoom"] = -5.0 if t < 25.0 else 0.0
    if 25.1 <= t < 26.1:
        r["status"] = 0x04
        r["pan"] = 20.0 * (26.1 - t)
        r["tilt"] = -10.0
    if t >= 26.1:
        r["pan"] = 0.0
    return r


PHASES = [Phase("walks", 0, 19.5), Phase("pillar", 8.0, 8.6, "occlusion"),
          Phase("van", 12.0, 15.0, "occlusion"), Phase("leaves", 19.5, math.inf, "gone")]
PRESET = Preset(0.0, -10.0, 1.0)


def measure(rows, phases=(), preset=None):
    return metrics.compute(TargetTrace(rows, "p"), phases, preset)


class Figures(unittest.TestCase):
    def test_scripted_follow_gives_the_known_figures(self):
        m = measure(script(30, follow_and_lose), PHASES, PRESET)
        self.assertTrue(m.identity_reported)
        self.assertAlmostEqual(m.available_at, 1.0, delta=DT)
        self.assertAlmostEqual(m.acquire_s, 0.5, delta=DT)
        self.assertAlmostEqual(m.centre_s, 0.625, delta=DT)
        self.assertAlmostEqual(m.overshoot, 0.05, delta=0.002)
        self.assertEqual(m.overshoot_axis, "pan")
        # Steady: from 2.125 to 19.5 without the occlusions and their
        # re-settling; nearly all of it at an error of 0.05.
        self.assertAlmostEqual(m.rms, 0.05, delta=0.003)
        self.assertGreater(m.steady_s, 12.0)
        self.assertLess(m.steady_s, 17.4)
        self.assertEqual(m.pan_flips, 0)
        self.assertEqual(len(m.reacquire), 2)
        pillar, van = m.reacquire
        self.assertTrue(pillar.kept)
        self.assertAlmostEqual(pillar.hidden_s, 0.6, delta=DT)
        self.assertFalse(van.kept)
        self.assertAlmostEqual(van.hidden_s, 3.0, delta=DT)
        self.assertAlmostEqual(van.seconds, 0.4, delta=DT)
        self.assertEqual(m.zoom_reversals, 2)
        self.assertAlmostEqual(m.loss_at, 20.0, delta=DT)
        self.assertAlmostEqual(m.zoom_at_loss, 3.5, delta=0.01)
        self.assertTrue(m.zooms_out_at_loss)
        self.assertAlmostEqual(m.timeout_wait_s, 5.0, delta=DT)
        self.assertAlmostEqual(m.zoom_at_timeout, 1.0, delta=0.01)
        self.assertAlmostEqual(m.loss_to_preset_s, 6.1, delta=DT)

    def test_never_followed_reaches_nothing(self):
        for name, at in (("never detected", lambda t: {"p_detected": 0, "p_id": -1}),
                         ("detected, never tracked", lambda t: {}),
                         ("tracking another object", lambda t: {"tracking": 1, "tracked_id": 3})):
            with self.subTest(name):
                m = measure(script(5, at), PHASES, PRESET)
                self.assertIsNone(m.acquire_s)
                for figure in (m.centre_s, m.rms, m.overshoot, m.pan_flips, m.loss_at,
                               m.timeout_wait_s, m.loss_to_preset_s):
                    self.assertIsNone(figure)

    def test_tracking_without_a_reported_id_counts_as_following(self):
        m = measure(script(5, lambda t: {"tracking": int(t >= 2.0)}))
        self.assertFalse(m.identity_reported)
        self.assertAlmostEqual(m.acquire_s, 2.0, delta=DT)
        self.assertAlmostEqual(m.centre_s, 0.0, delta=DT)  # centred at once
        self.assertIsNone(m.overshoot)  # nothing to overshoot
        self.assertIsNone(m.loss_at)  # still following at the end

    def test_hunting_pan_commands_are_sign_flips(self):
        # Centred and followed; the pan command goes +5, 0, -5, 0, +5 ...
        # every 0.5 s from t = 2: a flip per non-zero change of sign.
        def hunting(t):
            k = int((t - 2.0) / 0.5) if t >= 2.0 else 0
            return {"tracking": 1, "cmd_pan": (5.0, 0.0, -5.0, 0.0)[k % 4] if t >= 2.0 else 1.0}
        m = measure(script(6.99, hunting))
        # Signs from 0 on: + (0-2 s), then +, 0, -, 0, +, 0, -, 0, +, 0: 4 flips.
        self.assertEqual(m.pan_flips, 4)

    def test_centring_must_hold_a_second(self):
        # Centred for 0.9 s, off, then centred for good from 4.0.
        def blip(t):
            u = 0.0 if 2.0 <= t < 2.9 or t >= 4.0 else 0.5
            return {"tracking": 1, "p_u": u}
        m = measure(script(8, blip))
        self.assertAlmostEqual(m.centre_s, 4.0, delta=DT)


class Traces(unittest.TestCase):
    def test_first_pass_of_a_looping_scene_and_missing_columns(self):
        rows = script(2, lambda t: {}) + script(1, lambda t: {"tracking": 1})
        self.assertEqual(len(first_pass(rows)), 201)
        self.assertEqual([len(p) for p in passes(rows)], [201, 101])
        del rows[0]["p_v"]
        with self.assertRaisesRegex(TraceError, "p_v"):
            TargetTrace(rows, "p")
        with self.assertRaisesRegex(TraceError, "no rows"):
            TargetTrace([], "p")


class Scenarios(unittest.TestCase):
    def scenario(self, text):
        return ReportScenario("test.json", text)

    def test_report_block_and_defaults(self):
        s = self.scenario("""{"name": "s", "duration": 24,
            "presets": [{"number": 2, "name": "A", "pan": 10, "tilt": -5, "zoom": 2}],
            "objects": [{"name": "walker", "path": [{"x": 0, "y": 1}]}],
            "report": {"phases": [{"name": "hidden", "from": 3, "to": 4, "kind": "occlusion"},
                                  {"from": 9, "kind": "gone"}]}}""")
        self.assertEqual(s.target, "walker")  # the only object
        self.assertEqual(s.run_s, 24)  # the duration
        self.assertEqual(s.preset_number, 2)
        self.assertEqual((s.preset.pan, s.preset.zoom), (10.0, 2.0))
        self.assertEqual([p.kind for p in s.phases], ["occlusion", "gone"])
        self.assertEqual(s.phases[1].end, math.inf)
        # The default zone is the picture at the preset.
        half = math.degrees(math.atan(math.tan(math.radians(30)) / 2))
        self.assertAlmostEqual(s.zone[0], 10 - half)
        self.assertAlmostEqual(s.zone[2], 10 + half)
        self.assertIn('"loop": false', s.single_pass())

    def test_refusals_name_the_key(self):
        base = '"presets": [{"number": 1}], "objects": [{"name": "a"}, {"name": "b"}]'
        for text, key in (
                ("{" + base + "}", "report.target"),
                ("{" + base + ', "report": {"target": "c"}}', "report.target"),
                ('{"objects": [{"name": "a"}]}', "presets"),
                ("{" + base + ', "report": {"target": "a", "preset": 5}}', "report.preset"),
                ("{" + base + ', "report": {"target": "a", "phases": [{"to": 1}]}}', "phases[0]"),
                ("{" + base + ', "report": {"target": "a", "phases": [{"from": 1, "kind": "x"}]}}',
                 "phases[0].kind"),
                ("{" + base + ', "report": {"target": "a", "run": 0}}', "report.run"),
                ("[1]", "object"), ("{", "test.json")):
            with self.subTest(text):
                with self.assertRaisesRegex(ScenarioError, key.replace("[", r"\[")):
                    self.scenario(text)

    def test_shipped_report_scenarios_are_complete(self):
        names = []
        for name in sorted(os.listdir(os.path.join(TOP, "scenarios"))):
            path = os.path.join(TOP, "scenarios", name)
            if not name.endswith(".json"):
                continue
            with open(path) as f:
                has_report = "report" in json.load(f)
            if has_report:
                s = ReportScenario(path)
                self.assertTrue(s.phases, name)
                names.append(s.name)
        for wanted in ("person-walking", "car-parks", "person-unconfident", "person-occluded",
                       "crossing-occluded", "leaves-range", "long-drive"):
            self.assertIn(wanted, names)


class Command(unittest.TestCase):
    def test_trace_file_gives_a_table_and_a_plot(self):
        tool = os.environ.get("TRACK_REPORT", os.path.join(TOP, "tools", "track-report"))
        with tempfile.TemporaryDirectory() as tmp:
            for name, at in (("followed", follow_and_lose), ("idle", lambda t: {})):
                path = os.path.join(tmp, name + ".csv")
                with open(path, "w", newline="") as f:
                    w = csv.DictWriter(f, HEADER)
                    w.writeheader()
                    w.writerows(script(30, at))
                out = subprocess.run([tool, "--trace", path, "--out", tmp], capture_output=True,
                                     text=True, timeout=60)
                self.assertEqual(out.returncode, 0, out.stderr)
                self.assertTrue(os.path.getsize(os.path.join(tmp, name + ".png")) > 10000)
                with open(os.path.join(tmp, "track-report.md")) as f:
                    table = f.read()
                line = [x for x in table.splitlines() if x.startswith(f"| {name} ")][0]
                if name == "idle":
                    self.assertIn("| not reached |", line)
                else:
                    self.assertTrue(line.startswith("| followed | p | 0.50 | 0.6"), line)
            # Of a looping trace, the last complete pass (the second of three).
            path = os.path.join(tmp, "loops.csv")
            with open(path, "w", newline="") as f:
                w = csv.DictWriter(f, HEADER)
                w.writeheader()
                w.writerows(script(30, lambda t: {}) + script(30, follow_and_lose) +
                            script(3, lambda t: {}))
            out = subprocess.run([tool, "--trace", path, "--pass", "-1", "--out", tmp],
                                 capture_output=True, text=True, timeout=60)
            self.assertEqual(out.returncode, 0, out.stderr)
            self.assertIn("| loops | p | 0.50 |", out.stdout)
            bad = subprocess.run([tool, "--trace", path, "--pass", "4"], capture_output=True,
                                 text=True, timeout=60)
            self.assertIn("no pass 4", bad.stderr)
            bad = subprocess.run([tool, "--trace", os.path.join(tmp, "none.csv")],
                                 capture_output=True, text=True, timeout=60)
            self.assertNotEqual(bad.returncode, 0)
            self.assertIn("none.csv", bad.stderr)


if __name__ == "__main__":
    unittest.main()
