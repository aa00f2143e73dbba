#!/usr/bin/python3
"""track-report on a real camsim trace: a scripted tracker follows the walker
through camsim's control surface (set-pose onto the walker, the tracking
events through send-event, zoom-out, stop and preset afterwards), and the
figures measured from camsim's trace are the ones the script made."""
import json
import os
import sys
import tempfile
import time
import unittest

TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(TOP, "tools"))

from trackreport import metrics, runner  # noqa: E402
from trackreport.metrics import Phase, Preset  # noqa: E402
from trackreport.trace import TargetTrace, read_rows  # noqa: E402

BUILD = os.environ.get("CAMSIM_BUILD", os.path.join(TOP, "build"))
STATE = "tnszeto:Plinth/tnszeto:Quillon/tnszeto:AutotrackingState"

SCENARIO = {
    "name": "scripted", "camera": {"height": 4, "pan": 0, "tilt": -10, "zoom": 1},
    "presets": [{"number": 1, "name": "Street", "pan": 0, "tilt": -10, "zoom": 1}],
    "detector": {"fps": 15, "latency_ms": 100},
    "objects": [{"name": "walker", "path": [{"t": 0, "x": -6, "y": 20}, {"t": 8, "x": 6, "y": 20}],
                 "exit": 9}],
}


class ScriptedFollow(unittest.TestCase):
    def test_figures_of_a_scripted_follow(self):
        with tempfile.TemporaryDirectory() as tmp:
            trace = self.scripted_follow(tmp)
            _, rows = read_rows(trace)
        self.judge(TargetTrace(rows, "walker"))

    def scripted_follow(self, tmp):
        with runner.Session(BUILD, tmp) as s:
            path = os.path.join(tmp, "scenario.json")
            with open(path, "w") as f:
                json.dump(SCENARIO, f)
            s.bus()
            s.camsim(path)
            trace = os.path.join(tmp, "trace.csv")
            s.control({"cmd": "scenario-restart"})
            s.control({"cmd": "trace-start", "path": trace})
            stage, lost_at = "wait", None
            while True:
                objs = s.control({"cmd": "objects"})
                t, walker = objs["scene_time"], objs["objects"][0]
                if stage == "wait" and t >= 2.0:
                    s.control({"cmd": "send-event", "topic": STATE,
                               "data": {"stateInfo": True, "channel": 1}})
                    stage = "follow"
                if stage == "follow" and walker["present"]:
                    s.control({"cmd": "set-pose", "pan": walker["pan"], "tilt": walker["tilt"],
                               "zoom": 2})
                elif stage == "follow":
                    s.control({"cmd": "send-event", "topic": STATE,
                               "data": {"stateInfo": False, "channel": 1}})
                    s.control({"cmd": "move", "zoom": -50})
                    stage, lost_at = "lost", time.monotonic()
                elif stage == "lost" and time.monotonic() - lost_at >= 2.0:
                    s.control({"cmd": "stop"})
                    s.control({"cmd": "preset-goto", "number": 1})
                    stage = "home"
                elif stage == "home" and s.control({"cmd": "presets"})["status"]["state"] == 1:
                    time.sleep(0.3)
                    break
                if t > 40:
                    self.fail(f"the script stalled in stage {stage}")
                time.sleep(0.03)
            s.control({"cmd": "trace-stop"})
            return trace

    def judge(self, tr):
        # Before the follow the walker is left of the centre, a little above
        # it (the camera looks down 10 degrees, the centre of the walker 8.7).
        early = [i for i in range(len(tr)) if 0.9 < tr.t[i] < 1.1]
        self.assertTrue(early)
        self.assertTrue(all(-0.45 < tr.u[i] < -0.33 and 0.0 < tr.v[i] < 0.1 for i in early),
                        [(tr.u[i], tr.v[i]) for i in early])
        m = metrics.compute(tr, [Phase("leaves", 9.0, kind="gone")], Preset(0, -10, 1))
        self.assertFalse(m.identity_reported)
        self.assertLess(m.available_at, 0.5)
        self.assertAlmostEqual(m.acquired_at, 2.0, delta=0.5)
        self.assertLess(m.centre_s, 0.5)  # set-pose puts it in the middle
        self.assertLess(m.rms, 0.1)
        self.assertGreater(m.steady_s, 5.0)
        self.assertEqual(m.pan_flips, 0)  # no continuous moves while following
        self.assertAlmostEqual(m.loss_at, 9.0, delta=0.5)
        self.assertAlmostEqual(m.zoom_at_loss, 2.0, delta=0.01)
        self.assertTrue(m.zooms_out_at_loss)
        self.assertAlmostEqual(m.timeout_wait_s, 2.0, delta=0.7)
        self.assertLess(m.zoom_at_timeout, 1.6)
        self.assertIsNotNone(m.loss_to_preset_s)
        self.assertGreater(m.loss_to_preset_s, m.timeout_wait_s)


if __name__ == "__main__":
    unittest.main()
