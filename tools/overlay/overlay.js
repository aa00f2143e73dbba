// Draws what the tracker reports over a sketch of the simulated scene.
// Polls camsim's view.cgi (or, with ?src=URL, draws that fixed JSON once):
//   { now, stream: { timestamp, received, frame_time, jsonframe } | null,
//     pose: { time, pan, tilt, zoom, hfov, vfov, rotation },
//     objects: [ { name, class, in_picture, box: { x, y, width, height } | null } ] }
// jsonframe is the tracker's status text: objects (id, active, color, x, y,
// width, height, tracking, text), zones (profileId, zoneType, enabled,
// polygon), latestResult, trackerEnabled, trackedId, isMoving, zoomMag.
// Every position is a fraction of the displayed picture, y downward.
// The pixel rectangles drawn are listed in <pre id="drawn"> for tests.
"use strict";

const POLL_MS = 200;
const BACKGROUND = "#202020";
const SCENE_FILL = "rgba(128, 128, 128, 0.6)";
const SCENE_TEXT = "#b0b0b0";
const BOX_COLOR = "#00ff00"; // status boxes without a "color"
const ZONE_FILL = "rgba(0, 160, 255, 0.3)";
const ZONE_LINE = "#00a0ff";

const canvas = document.getElementById("picture");
const g = canvas.getContext("2d");
const statusLine = document.getElementById("status");
const drawnList = document.getElementById("drawn");
const src = new URLSearchParams(window.location.search).get("src");

function px(x) { return Math.round(x * canvas.width); }
function py(y) { return Math.round(y * canvas.height); }
function finite(...values) { return values.every(v => typeof v === "number" && isFinite(v)); }

function clear() {
  g.setLineDash([]);
  g.fillStyle = BACKGROUND;
  g.fillRect(0, 0, canvas.width, canvas.height);
}

function drawZone(zone, drawn) {
  const p = Array.isArray(zone.polygon) ? zone.polygon : [];
  if (p.length < 6 || !finite(...p)) return;
  g.beginPath();
  g.moveTo(px(p[0]), py(p[1]));
  for (let i = 2; i + 1 < p.length; i += 2) g.lineTo(px(p[i]), py(p[i + 1]));
  g.closePath();
  g.setLineDash([]);
  g.lineWidth = 2;
  g.strokeStyle = ZONE_LINE;
  if (zone.enabled) {
    g.fillStyle = ZONE_FILL;
    g.fill();
  }
  g.stroke();
  const xs = p.filter((_, i) => i % 2 === 0), ys = p.filter((_, i) => i % 2 === 1);
  const x = px(Math.min(...xs)), y = py(Math.min(...ys));
  drawn.push({ kind: "zone", profileId: zone.profileId, enabled: !!zone.enabled, x, y,
               w: px(Math.max(...xs)) - x, h: py(Math.max(...ys)) - y });
}

function drawSceneObject(o, drawn) {
  const b = o.box;
  if (!o.in_picture || !b || !finite(b.x, b.y, b.width, b.height)) return;
  const x = px(b.x), y = py(b.y), w = px(b.x + b.width) - x, h = py(b.y + b.height) - y;
  // A rounded figure, so it does not read as one of the tracker's boxes.
  g.setLineDash([]);
  g.fillStyle = SCENE_FILL;
  g.beginPath();
  g.ellipse(x + w / 2, y + h / 2, Math.max(w / 2, 1), Math.max(h / 2, 1), 0, 0, 2 * Math.PI);
  g.fill();
  g.fillStyle = SCENE_TEXT;
  g.font = "12px monospace";
  g.fillText(String(o.name), x, y + h + 12);
  drawn.push({ kind: "scene", name: o.name, x, y, w, h });
}

function drawStatusBox(o, drawn) {
  if (!finite(o.x, o.y, o.width, o.height)) return;
  const x = px(o.x), y = py(o.y), w = px(o.x + o.width) - x, h = py(o.y + o.height) - y;
  const color = typeof o.color === "string" ? o.color : BOX_COLOR;
  const tracking = o.tracking === true, active = o.active !== false;
  g.strokeStyle = color;
  g.lineWidth = tracking ? 6 : 2;
  g.setLineDash(active ? [] : [8, 6]);
  g.strokeRect(x, y, w, h);
  g.setLineDash([]);
  const label = typeof o.text === "string" ? o.text : (o.id !== undefined ? String(o.id) : "");
  if (label) {
    g.fillStyle = color;
    g.font = "12px monospace";
    g.fillText(label, x, Math.max(y - 6, 12));
  }
  drawn.push({ kind: "box", id: o.id === undefined ? null : o.id, color, tracking, active,
               x, y, w, h });
}

function statusText(status, view) {
  const age = view.stream && typeof view.stream.frame_time === "number"
                  ? ((view.now - view.stream.frame_time) / 1e6).toFixed(2) + " s" : "-";
  return "trackerEnabled: " + (status.trackerEnabled === true) +
         "  trackedId: " + (typeof status.trackedId === "number" ? status.trackedId : "none") +
         "  isMoving: " + (status.isMoving === true) +
         "  zoomMag: " + (typeof status.zoomMag === "number" ? status.zoomMag : "-") +
         "  latestResult: " + (typeof status.latestResult === "number" ? status.latestResult : 0) +
         "  frame age: " + age;
}

// Draws one view; returns the status line.
function draw(view) {
  const drawn = [];
  let status = null;
  const frame = view && view.stream ? view.stream.jsonframe : "";
  if (typeof frame === "string" && frame.length > 0) {
    try { status = JSON.parse(frame); } catch (e) { status = null; }
  }
  clear();
  if (status && Array.isArray(status.zones)) status.zones.forEach(z => drawZone(z, drawn));
  if (view && Array.isArray(view.objects)) view.objects.forEach(o => drawSceneObject(o, drawn));
  if (status && Array.isArray(status.objects)) status.objects.forEach(o => drawStatusBox(o, drawn));
  drawnList.textContent = JSON.stringify(drawn);
  if (frame && !status) return "status unreadable";
  return status ? statusText(status, view) : "no status yet";
}

async function fetchView(url) {
  const reply = await fetch(url, { cache: "no-store" });
  if (!reply.ok) throw new Error("HTTP " + reply.status);
  return reply.json();
}

async function poll() {
  try {
    statusLine.textContent = draw(await fetchView("view.cgi"));
  } catch (e) {
    // Keep the last picture: only the status line says what went wrong.
    statusLine.textContent = "camsim unreachable";
  }
  setTimeout(poll, POLL_MS);
}

if (src) {
  fetchView(src)
      .then(view => { statusLine.textContent = draw(view); })
      .catch(() => { statusLine.textContent = "camsim unreachable"; });
} else {
  clear();
  poll();
}
