// The live view's page: the state pushed by the server (Server-Sent Events),
// the span shown drawn from envelopes the server computes for the span and
// the canvas width, the span's figures and events. Read-only: it only GETs.
"use strict";

const COLOURS = ["#ff4040", "#40e040", "#40e0e0"];
const MIN_SPAN_MS = 10;          // zoom ends at 10 ms, as in the history window
const FOLLOW_REFRESH_MS = 1000;  // a followed run is redrawn at most once a second
const MAX_WIDTH = 4000;          // the server's cap on pixel columns

const view = { from: 0, to: 0, follow: true };
let state = null;
let picture = null;   // the last envelopes answer
let fetching = false;
let fetchAgain = false;
let lastFetch = 0;
let eventsSeen = -1;

const $ = (id) => document.getElementById(id);

function pad(n, width = 2) { return String(n).padStart(width, "0"); }

function clock(wallMs) {
  const d = new Date(wallMs);
  return `${pad(d.getHours())}:${pad(d.getMinutes())}:${pad(d.getSeconds())}`;
}

function duration(ms) {
  const negative = ms < 0;
  ms = Math.abs(Math.round(ms));
  const h = Math.floor(ms / 3600000), m = Math.floor(ms / 60000) % 60, s = Math.floor(ms / 1000) % 60;
  const rest = ms % 1000;
  return (negative ? "-" : "") + `${h}:${pad(m)}:${pad(s)}` + (rest ? `.${pad(rest, 3)}` : "");
}

function number(value, digits = 3) {
  return value === null || value === undefined ? "-" : Number(value).toFixed(digits);
}

// ---- the state ----

function showState(s) {
  state = s;
  const el = $("state");
  let text;
  if (s.session === "lost")
    text = `session lost since ${clock(s.lostSince)}` + (s.retrying ? ", retrying" : "") + (s.lossReason ? ` (${s.lossReason})` : "");
  else if (s.session === "open")
    text = s.measuring ? "measuring" : "session open, not measuring";
  else if (s.session === "closed")
    text = "session closed";
  else
    text = "no session yet";
  if (s.reconnects)
    text += ` \u00b7 reopened ${s.reconnects}\u00d7`;
  el.textContent = text;
  el.className = "state " + s.session;
  $("recording").textContent = s.recording
    ? `${s.recording.active ? "recording" : "recorded"} ${s.recording.file}, ${s.recording.rows.toLocaleString("en")} rows`
    : "not recording";
  const alarm = $("alarm");
  alarm.hidden = !s.alarm;
  alarm.textContent = s.alarm ? `over-current alarm: ${s.alarm}` : "";
  if (s.newest) {
    s.newest.fields.forEach((field, i) => { $(`newest-ch${i + 1}`).textContent = /^-?[0-9.]+$/.test(field) ? `${field} mA` : field; });
    $("newest-time").textContent = `at ${clock(s.newest.wall)} (${duration(s.newest.elapsed)} into the run) \u00b7 ${s.readings.toLocaleString("en")} readings`;
  }
  if (view.follow) {
    view.from = s.first;
    view.to = Math.max(s.last, s.first + MIN_SPAN_MS);
    if (Date.now() - lastFetch >= FOLLOW_REFRESH_MS)
      refresh();
  }
  if (s.events !== eventsSeen && view.follow) {
    eventsSeen = s.events;
    loadEvents();
  }
}

function connect() {
  const source = new EventSource("/events");
  source.addEventListener("state", (e) => showState(JSON.parse(e.data)));
  source.onerror = () => {
    $("state").textContent = "connection to the recorder lost, trying again...";
    $("state").className = "state lost";
  };
}

// ---- the span shown ----

async function getJson(path) {
  const response = await fetch(path, { credentials: "same-origin", cache: "no-store" });
  if (!response.ok)
    throw new Error(`${path}: ${response.status}`);
  return response.json();
}

function spanQuery() {
  return `from=${Math.max(0, Math.floor(view.from))}&to=${Math.max(0, Math.ceil(view.to))}`;
}

function plotWidth() {
  return Math.max(1, Math.min(MAX_WIDTH, Math.round($("plot").clientWidth)));
}

// Fetches the picture and the figures of the span; one fetch at a time, the
// latest request wins.
async function refresh() {
  if (fetching) { fetchAgain = true; return; }
  fetching = true;
  lastFetch = Date.now();
  try {
    const [envelopes, figures] = await Promise.all([
      getJson(`/api/envelopes?${spanQuery()}&width=${plotWidth()}`),
      getJson(`/api/figures?${spanQuery()}`),
    ]);
    picture = envelopes;
    draw();
    showFigures(figures);
    if (!view.follow)
      loadEvents();
  } catch (error) {
    $("span").textContent = String(error.message);
  } finally {
    fetching = false;
    if (fetchAgain) { fetchAgain = false; refresh(); }
  }
}

async function loadEvents() {
  try {
    showEvents(await getJson(`/api/events?${spanQuery()}`));
  } catch (error) { /* the next state retries */ }
}

function showFigures(f) {
  const body = $("figures").tBodies[0];
  body.replaceChildren();
  f.channels.forEach((c, i) => {
    const row = body.insertRow();
    const cells = [`CH${i + 1}`, number(c.min), number(c.max), number(c.mean), number(c.chargeMah, 6),
                   c.numbers.toLocaleString("en"), c.over.toLocaleString("en"), c.ocp.toLocaleString("en")];
    cells.forEach((text, k) => {
      const cell = row.insertCell();
      cell.textContent = text;
      if (k === 0) cell.style.color = COLOURS[i];
    });
  });
}

function showEvents(answer) {
  const list = $("events");
  list.replaceChildren();
  const events = answer.events.slice().reverse();
  for (const e of events) {
    const item = document.createElement("li");
    const time = document.createElement("time");
    time.textContent = clock(e.wall);
    time.title = `${duration(e.elapsed)} into the run`;
    item.append(time, document.createTextNode(e.text));
    if (/^(session lost|read failed|open failed|failure|over-current alarm raised|still retrying)/.test(e.text))
      item.className = "failure";
    list.append(item);
  }
  if (answer.omitted)
    list.append(Object.assign(document.createElement("li"), { textContent: `... and ${answer.omitted} earlier` }));
}

// ---- drawing ----

const AXIS_LEFT = 56;
const AXIS_BOTTOM = 22;
const MARK_STRIP = 6;

function niceStep(span, count) {
  const raw = span / Math.max(1, count);
  const power = Math.pow(10, Math.floor(Math.log10(raw)));
  for (const m of [1, 2, 5, 10])
    if (raw <= m * power) return m * power;
  return 10 * power;
}

// The least and greatest number a channel shows in the picture.
function channelExtent(p, ch) {
  let lo = Infinity, hi = -Infinity;
  const take = (v) => { if (typeof v === "number") { lo = Math.min(lo, v); hi = Math.max(hi, v); } };
  if (p.kind === "columns") { p.min[ch].forEach(take); p.max[ch].forEach(take); }
  else p.values[ch].forEach(take);
  if (lo > hi) return [0, 1];
  if (hi - lo < 1e-3) { lo -= 0.5; hi += 0.5; }
  const margin = (hi - lo) * 0.08;
  return [lo - margin, hi + margin];
}

function draw() {
  const canvas = $("plot");
  const ratio = window.devicePixelRatio || 1;
  const w = canvas.clientWidth, h = canvas.clientHeight;
  canvas.width = Math.round(w * ratio);
  canvas.height = Math.round(h * ratio);
  const g = canvas.getContext("2d");
  g.setTransform(ratio, 0, 0, ratio, 0, 0);
  g.fillStyle = "#000";
  g.fillRect(0, 0, w, h);
  const p = picture;
  const plotW = w - AXIS_LEFT;
  const laneH = (h - AXIS_BOTTOM) / 3;
  const span = Math.max(1, view.to - view.from);
  const xOf = (t) => AXIS_LEFT + (t - view.from) / span * plotW;
  g.font = "11px 'DejaVu Sans', sans-serif";
  let points = 0;
  for (let ch = 0; ch < 3; ++ch) {
    const top = ch * laneH, bottom = top + laneH - 2;
    g.strokeStyle = "#333";
    g.strokeRect(AXIS_LEFT + 0.5, top + 0.5, plotW - 1, laneH - 1);
    if (!p) continue;
    const [lo, hi] = channelExtent(p, ch);
    const yOf = (v) => bottom - (v - lo) / (hi - lo) * (laneH - 4 - MARK_STRIP);
    g.fillStyle = COLOURS[ch];
    g.fillText(`CH${ch + 1}`, 4, top + 12);
    g.fillStyle = "#aab";
    g.fillText(hi.toFixed(2), 4, top + 26);
    g.fillText(lo.toFixed(2), 4, bottom - 2);
    g.strokeStyle = COLOURS[ch];
    g.fillStyle = COLOURS[ch];
    g.lineWidth = 1;
    if (p.kind === "columns") {
      const colW = plotW / p.width;
      const breaks = new Set(p.breaks);
      let prev = null; // the last column with readings: its x and range
      g.beginPath();
      for (let c = 0; c < p.width; ++c) {
        const x = AXIS_LEFT + (c + 0.5) * colW;
        const mn = p.min[ch][c], mx = p.max[ch][c];
        if (p.over[ch][c] || p.ocp[ch][c]) {
          g.save();
          g.fillStyle = p.ocp[ch][c] ? "#fff" : COLOURS[ch];
          g.fillRect(x - 0.5, top + 1, Math.max(1, colW), MARK_STRIP);
          g.restore();
        }
        if (mn === null) continue;
        if (breaks.has(c)) prev = null; // a session began or ended: no line across
        if (prev && prev.x < x - colW * 1.5) {
          // Columns without readings between: one line across them.
          g.moveTo(prev.x, yOf((prev.mn + prev.mx) / 2));
          g.lineTo(x, yOf((mn + mx) / 2));
          prev = null;
        }
        // One stroke from the least to the greatest reading, joined to the column before.
        const a = prev ? Math.min(mn, prev.mx) : mn, b = prev ? Math.max(mx, prev.mn) : mx;
        g.moveTo(x, yOf(a) + 0.5);
        g.lineTo(x, yOf(b) - 0.5);
        prev = { x, mn, mx };
        ++points;
      }
      g.stroke();
    } else {
      const breaks = new Set(p.breaks);
      const n = p.t.length;
      const dots = n > 1 && plotW / n >= 4;
      g.beginPath();
      let drawing = false;
      for (let i = 0; i < n; ++i) {
        const v = p.values[ch][i];
        const x = xOf(p.t[i]);
        if (typeof v !== "number") {
          g.save();
          g.fillStyle = v === "OCP" ? "#fff" : COLOURS[ch];
          g.fillRect(x - 1, top + 1, 3, MARK_STRIP);
          g.restore();
          drawing = false;
          continue;
        }
        const y = yOf(v);
        if (!drawing || breaks.has(i)) g.moveTo(x, y); else g.lineTo(x, y);
        drawing = true;
        ++points;
      }
      g.stroke();
      if (dots)
        for (let i = 0; i < n; ++i) {
          const v = p.values[ch][i];
          if (typeof v === "number") g.fillRect(xOf(p.t[i]) - 1.5, yOf(v) - 1.5, 3, 3);
        }
    }
  }
  // Time axis: elapsed time into the run.
  g.fillStyle = "#aab";
  g.strokeStyle = "#222";
  const step = niceStep(span, Math.max(2, Math.floor(plotW / 110)));
  for (let t = Math.ceil(view.from / step) * step; t <= view.to; t += step) {
    const x = xOf(t);
    g.beginPath();
    g.moveTo(x + 0.5, 0);
    g.lineTo(x + 0.5, h - AXIS_BOTTOM);
    g.stroke();
    if (x + 60 < w) g.fillText(duration(t), x + 2, h - 6);
  }
  canvas.dataset.kind = p ? p.kind : "";
  canvas.dataset.points = String(points);
  canvas.dataset.from = String(view.from);
  canvas.dataset.to = String(view.to);
  const wall = state ? state.wallOffset : 0;
  $("span").textContent = `${clock(view.from + wall)} to ${clock(view.to + wall)} (${duration(view.to - view.from)})` +
    (p && p.kind === "readings" ? ` \u00b7 ${p.t.length} readings` : "") + (view.follow ? " \u00b7 following" : "");
}

// ---- zoom and pan ----

function runEnd() {
  return state ? Math.max(state.last, state.first + MIN_SPAN_MS) : view.to;
}

function setView(from, to) {
  const runStart = state ? state.first : 0;
  let length = Math.max(MIN_SPAN_MS, to - from);
  const whole = runEnd() - runStart;
  if (length >= whole) {
    showWhole();
    return;
  }
  from = Math.min(Math.max(from, runStart), runEnd() - length);
  view.from = from;
  view.to = from + length;
  view.follow = false;
  refresh();
}

function showWhole() {
  view.follow = true;
  if (state) { view.from = state.first; view.to = runEnd(); }
  refresh();
  loadEvents();
}

function zoom(factor, atFraction = 0.5) {
  const span = view.to - view.from;
  const at = view.from + span * atFraction;
  const length = Math.max(MIN_SPAN_MS, span * factor);
  setView(at - length * atFraction, at - length * atFraction + length);
}

function pan(fraction) {
  const span = view.to - view.from;
  setView(view.from + span * fraction, view.to + span * fraction);
}

function fractionAt(canvas, clientX) {
  const r = canvas.getBoundingClientRect();
  return Math.min(1, Math.max(0, (clientX - r.left - AXIS_LEFT) / Math.max(1, r.width - AXIS_LEFT)));
}

function setUp() {
  const canvas = $("plot");
  $("whole").onclick = showWhole;
  $("zoom-in").onclick = () => zoom(0.5);
  $("zoom-out").onclick = () => zoom(2);
  $("pan-left").onclick = () => pan(-0.25);
  $("pan-right").onclick = () => pan(0.25);
  canvas.addEventListener("wheel", (e) => {
    e.preventDefault();
    zoom(e.deltaY < 0 ? 0.8 : 1.25, fractionAt(canvas, e.clientX));
  }, { passive: false });
  let drag = null;
  canvas.addEventListener("pointerdown", (e) => {
    drag = { x: e.clientX, from: view.from, to: view.to };
    canvas.setPointerCapture(e.pointerId);
    canvas.classList.add("dragging");
  });
  canvas.addEventListener("pointermove", (e) => {
    if (!drag) return;
    const width = Math.max(1, canvas.clientWidth - AXIS_LEFT);
    const shift = (drag.x - e.clientX) / width * (drag.to - drag.from);
    if (Math.abs(drag.x - e.clientX) >= 2)
      setView(drag.from + shift, drag.to + shift);
  });
  const endDrag = () => { drag = null; canvas.classList.remove("dragging"); };
  canvas.addEventListener("pointerup", endDrag);
  canvas.addEventListener("pointercancel", endDrag);
  window.addEventListener("resize", () => { draw(); refresh(); });
  window.addEventListener("keydown", (e) => {
    if (e.key === "+" || e.key === "=") zoom(0.5);
    else if (e.key === "-") zoom(2);
    else if (e.key === "ArrowLeft") pan(-0.125);
    else if (e.key === "ArrowRight") pan(0.125);
    else if (e.key === "Home") showWhole();
  });
  draw();
  connect();
}

document.addEventListener("DOMContentLoaded", setUp);
