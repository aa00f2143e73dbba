"""What track-report needs of a camsim scenario file: the target, the
phases, the preset to return to and the trigger zone, from its "report"
block (which camsim itself does not read) and its presets."""
import json
import math

from .metrics import Phase, Preset


class ScenarioError(Exception):
    pass


KINDS = ("follow", "stop", "occlusion", "unconfident", "gone")


class ReportScenario:
    def __init__(self, path, text=None):
        self.path = path
        try:
            if text is None:
                with open(path) as f:
                    text = f.read()
            self.data = json.loads(text)
        except (OSError, ValueError) as e:
            raise ScenarioError(f"{path}: {e}") from e
        if not isinstance(self.data, dict):
            raise ScenarioError(f"{path}: not a JSON object")
        d = self.data
        self.name = str(d.get("name", path))
        camera = d.get("camera") if isinstance(d.get("camera"), dict) else {}
        self.rotation = 180 if camera.get("rotation") == 180 else 0
        report = d.get("report") or {}
        if not isinstance(report, dict):
            raise ScenarioError(f"{path}: report: must be an object")
        objects = [o.get("name", f"object{i + 1}") for i, o in enumerate(d.get("objects") or [])
                   if isinstance(o, dict)]
        self.target = report.get("target", objects[0] if len(objects) == 1 else None)
        if self.target is None:
            raise ScenarioError(f"{path}: report.target: which object to follow?")
        if self.target not in objects:
            raise ScenarioError(f"{path}: report.target: no object \"{self.target}\"")
        presets = [p for p in d.get("presets") or [] if isinstance(p, dict)]
        if not presets:
            raise ScenarioError(f"{path}: presets: the zone needs a preset to return to")
        wanted = report.get("preset", presets[0].get("number", 1))
        chosen = [p for i, p in enumerate(presets) if p.get("number", i + 1) == wanted]
        if not chosen:
            raise ScenarioError(f"{path}: report.preset: no preset {wanted}")
        p = chosen[0]
        self.preset_number = wanted
        self.preset = Preset(float(p.get("pan", 0)), float(p.get("tilt", 0)),
                             float(p.get("zoom", 1)))
        duration = d.get("duration")
        self.run_s = float(report.get("run", duration if duration else 30))
        if not (0 < self.run_s <= 600):
            raise ScenarioError(f"{path}: report.run: 0 < run <= 600 seconds please")
        self.phases = []
        for i, ph in enumerate(report.get("phases") or []):
            where = f"{path}: report.phases[{i}]"
            if not isinstance(ph, dict) or "from" not in ph:
                raise ScenarioError(f"{where}: needs \"from\"")
            kind = ph.get("kind", "follow")
            if kind not in KINDS:
                raise ScenarioError(f"{where}.kind: one of {', '.join(KINDS)}")
            self.phases.append(Phase(str(ph.get("name", kind)), float(ph["from"]),
                                     float(ph.get("to", math.inf)), kind))
        self.zone = report.get("zone") or self.preset_view()

    def preset_view(self):
        """The picture at the preset as a pan/tilt polygon: the default
        trigger zone. Fields of view of camsim at the preset's zoom."""
        hfov = math.degrees(2 * math.atan(math.tan(math.radians(30)) / self.preset.zoom))
        vfov = math.degrees(2 * math.atan(math.tan(math.radians(17)) / self.preset.zoom))
        p, t = self.preset.pan, self.preset.tilt
        return [p - hfov / 2, t + vfov / 2, p + hfov / 2, t + vfov / 2,
                p + hfov / 2, t - vfov / 2, p - hfov / 2, t - vfov / 2]

    def single_pass(self):
        """The scenario as camsim runs it for a measurement: once, not
        looping, so the run can outlast the scene."""
        d = dict(self.data)
        d["loop"] = False
        return json.dumps(d)
