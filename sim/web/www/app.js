// The virtual goggles' page: draws what the wearer sees and turns pointer and keyboard
// presses into the board's button presses, held for as long as they are held here.
"use strict";

const W = 960, H = 540;
const KEY = { UP: 0, DOWN: 1, MIDDLE: 4, PLAY: 6, BACK: 7 };
const KEY_NAMES = { 0: "UP", 1: "DOWN", 4: "MIDDLE", 6: "PLAY", 7: "BACK" };
// Keyboard keys (KeyboardEvent.code) for the goggles' buttons and the video switch.
const KEYBOARD = {
  ArrowUp: KEY.UP, KeyW: KEY.UP,
  ArrowDown: KEY.DOWN, KeyS: KEY.DOWN,
  Enter: KEY.MIDDLE, NumpadEnter: KEY.MIDDLE, KeyM: KEY.MIDDLE,
  Space: KEY.PLAY, KeyP: KEY.PLAY,
  Backspace: KEY.BACK, KeyB: KEY.BACK,
};
const MODE_KEYS = { Digit1: "1", Digit2: "2", Digit3: "3", KeyX: "none" };
const SERVICE_STATES = { R: "running", S: "running (sleeping)", D: "running (in I/O)",
                         T: "stopped", t: "stopped (traced)", Z: "ended (zombie)" };

const $ = (id) => document.getElementById(id);
const screen = $("screen");
const ctx = screen.getContext("2d");

// --- the connection -------------------------------------------------------------------

let ws = null;
let state = null;
let held = null;          // the button held from this page: { key, since }
let frameWanted = 0, frameLoaded = 0, frameFetching = false;
const overlay = document.createElement("canvas");  // the launcher's page, alpha kept
overlay.width = W;
overlay.height = H;
const overlayCtx = overlay.getContext("2d", { willReadFrequently: true });

function connect() {
  ws = new WebSocket(`ws://${location.host}/ws`);
  ws.onopen = () => { $("link").textContent = "connected"; $("link").className = "badge on"; };
  ws.onclose = () => {
    $("link").textContent = "disconnected, retrying…";
    $("link").className = "badge off";
    setHeld(null);
    setTimeout(connect, 1000);
  };
  ws.onmessage = (ev) => onState(JSON.parse(ev.data));
}

function send(msg) {
  if (ws && ws.readyState === WebSocket.OPEN) ws.send(msg);
}

// --- buttons --------------------------------------------------------------------------

function setHeld(key) {
  document.querySelectorAll("button.key").forEach((b) =>
    b.classList.toggle("down", key !== null && Number(b.dataset.key) === key));
  held = key === null ? null : { key, since: performance.now() };
}

function press(key) {
  if (held && held.key === key) return;
  send(`press ${key}`);
  setHeld(key);
}

function release(key) {
  if (!held || (key !== undefined && held.key !== key)) return;
  send("release");
  setHeld(null);
}

document.querySelectorAll("button.key").forEach((b) => {
  const key = Number(b.dataset.key);
  b.addEventListener("pointerdown", (e) => {
    b.setPointerCapture(e.pointerId);
    press(key);
  });
  b.addEventListener("pointerup", () => release(key));
  b.addEventListener("pointercancel", () => release(key));
  b.addEventListener("keydown", (e) => { if (e.code === "Space" || e.code === "Enter") e.preventDefault(); });
});

document.querySelectorAll("button.mode").forEach((b) =>
  b.addEventListener("click", () => send(`mode ${b.dataset.mode}`)));

window.addEventListener("keydown", (e) => {
  if (e.ctrlKey || e.altKey || e.metaKey) return;
  if (e.code in KEYBOARD) {
    e.preventDefault();
    if (!e.repeat) press(KEYBOARD[e.code]);
  } else if (e.code in MODE_KEYS && !e.repeat) {
    send(`mode ${MODE_KEYS[e.code]}`);
  }
});
window.addEventListener("keyup", (e) => {
  if (e.code in KEYBOARD) {
    e.preventDefault();
    release(KEYBOARD[e.code]);
  }
});
// A key released while the page had no focus never reports its keyup.
window.addEventListener("blur", () => release());

// --- the board's state ----------------------------------------------------------------

const launcherLog = $("launcher-log");
const MAX_LOG_LINES = 3000;

function atBottom(el) {
  return el.scrollHeight - el.scrollTop - el.clientHeight < 30;
}

function appendLines(lines, reset) {
  const stick = atBottom(launcherLog);
  if (reset) launcherLog.textContent = "";
  if (lines.length) launcherLog.append(document.createTextNode(lines.join("")));
  if (launcherLog.childNodes.length > 50) launcherLog.normalize();
  const text = launcherLog.textContent;
  const all = text.split("\n");
  if (all.length > MAX_LOG_LINES) launcherLog.textContent = all.slice(-MAX_LOG_LINES).join("\n");
  if (stick) launcherLog.scrollTop = launcherLog.scrollHeight;
}

function onState(s) {
  state = s;
  appendLines(s.lines, s.reset);

  const svc = s.service;
  $("service").textContent = svc ? SERVICE_STATES[svc] || `state ${svc}` : "not on the board";
  $("service").className = svc === "T" ? "warn" : svc ? "ok" : "";

  $("button").textContent = s.button >= 0 ? `${KEY_NAMES[s.button] || `key ${s.button}`} held` : "none";
  $("button").className = s.button >= 0 ? "warn" : "";

  const app = s.app;
  $("app-name").textContent = !app.name ? "none"
    : app.running ? `${app.name} running (pid ${app.pid})` : `${app.name} (ended)`;
  $("app-name").className = app.running ? "ok" : "";
  $("app-log-name").textContent = app.name ? `/tmp/vorna-x/${app.name}.log` : "";
  const appLog = $("app-log");
  if (appLog.textContent !== app.log) {
    const stick = atBottom(appLog);
    appLog.textContent = app.log;
    if (stick) appLog.scrollTop = appLog.scrollHeight;
  }

  const bz = s.buzzer;
  $("buzzer").textContent = bz.missing ? "no PWM chip" : bz.hz ? `${bz.hz} Hz` : "silent";
  $("buzzer").className = bz.hz ? "warn" : "";
  playTones(bz.tones);

  const m = s.mode;
  const names = { 0: "unknown", 1: "NORMAL", 2: "HDMI", 3: "AV" };
  // With the transport down the input is still there; only the launcher cannot read it.
  $("registers").textContent =
    `${names[m.registers]}${m.transport ? "" : " (unreadable: I2C transport down, every transfer fails)"}`;
  $("registers").className = m.transport ? "" : "warn";
  document.querySelectorAll("button.mode").forEach((b) => {
    const on = m.transport ? b.dataset.mode === String(m.registers) : b.dataset.mode === "none";
    b.classList.toggle("on", on);
  });

  $("launcher").textContent = s.launcher.exited ? `ended (${s.launcher.status})` : "running";
  $("launcher").className = s.launcher.exited ? "warn" : "ok";
  $("processes").textContent = s.processes
    .map((p) => `${String(p.pid).padStart(5)}  ${p.state}  ${p.comm}`).join("\n");
  $("osd-text").textContent = s.osd.rows.map((r) => `|${r}|`).join("\n") +
    (s.osd.enabled ? "\n(overlay enabled)" : "\n(overlay disabled)");

  if (s.frame !== frameWanted) {
    frameWanted = s.frame;
    fetchFrame();
  }
}

async function fetchFrame() {
  if (frameFetching) return;
  frameFetching = true;
  try {
    while (frameLoaded !== frameWanted) {
      const seq = frameWanted;
      const res = await fetch(`frame.png?seq=${seq}`, { cache: "no-store" });
      if (!res.ok) break;
      const bmp = await createImageBitmap(await res.blob());
      overlayCtx.clearRect(0, 0, W, H);
      overlayCtx.drawImage(bmp, 0, 0);
      bmp.close();
      frameLoaded = seq;
    }
  } catch (e) {
    console.warn("frame", e);
  } finally {
    frameFetching = false;
  }
}

// --- the buzzer, played on request -----------------------------------------------------

let audio = null, tone = null, lastToneAt = -1;

function playTones(tones) {
  if (!tones.length) return;
  const newest = tones[tones.length - 1].at;
  if (!audio || audio.state !== "running") { lastToneAt = newest; return; }
  // Each change the page has not heard yet is played with the length the launcher gave it;
  // the one still sounding plays until the next change arrives.
  for (let i = 0; i < tones.length; ++i) {
    const t = tones[i];
    if (t.at <= lastToneAt) continue;
    stopTone();
    if (t.hz > 0) {
      const next = tones[i + 1];
      startTone(t.hz, next ? (next.at - t.at) / 1000 : null);
    }
  }
  lastToneAt = newest;
}

function startTone(hz, seconds) {
  const osc = audio.createOscillator();
  const gain = audio.createGain();
  osc.type = "square";
  osc.frequency.value = hz;
  gain.gain.value = 0.04;
  osc.connect(gain).connect(audio.destination);
  osc.start();
  if (seconds !== null) osc.stop(audio.currentTime + Math.max(0.02, seconds));
  else tone = osc;
}

function stopTone() {
  if (tone) { tone.stop(); tone = null; }
}

$("sound").addEventListener("change", (e) => {
  if (e.target.checked) {
    audio = audio || new AudioContext();
    audio.resume();
  } else if (audio) {
    stopTone();
    audio.suspend();
  }
});

// --- the picture ----------------------------------------------------------------------

// A flight over fields: the same kind of scene the board's screenshots use behind the page,
// so the translucent panel is judged against a bright sky and busy ground, moving.
function drawScene(c, t, w, h) {
  const k = w / 1920;
  const bank = 0.12 * Math.sin(t * 0.7);
  const pitch = 60 * k * Math.sin(t * 0.45);
  const travel = t * 0.9;
  c.save();
  c.translate(w / 2, h * 0.55 + pitch);
  c.rotate(bank);
  const span = w * 2;
  const sky = c.createLinearGradient(0, -600 * k, 0, 0);
  sky.addColorStop(0, "rgb(60,120,210)");
  sky.addColorStop(1, "rgb(150,190,230)");
  c.fillStyle = sky;
  c.fillRect(-span, -span, 2 * span, span);
  // The ground: a checker of crops in perspective. A ground point at depth d lies
  // 400/d - 4 pixels (full scale) below the horizon; columns meet at the vanishing point.
  c.fillStyle = "rgb(120,105,60)";
  c.fillRect(-span, 0, 2 * span, span);
  const vOf = (d) => (400 / d - 4) * k;
  const uOf = (gx, v) => gx * (v / k + 4) * k;
  const near = 0.4, far = 25, reach = 1.5 * 1.2 * w / k;
  c.beginPath();
  for (let n = Math.floor((near + travel) * 0.8); n / 0.8 - travel < far; ++n) {
    const d0 = Math.max(near, n / 0.8 - travel), d1 = (n + 1) / 0.8 - travel;
    const v0 = vOf(d0), v1 = vOf(d1);
    const cols = Math.ceil(reach / (v1 / k + 4));
    for (let m = -cols; m < cols; ++m) {
      if (((n + m) & 1) === 0) continue;
      const g0 = m / 1.5, g1 = (m + 1) / 1.5;
      c.moveTo(uOf(g0, v0), v0);
      c.lineTo(uOf(g1, v0), v0);
      c.lineTo(uOf(g1, v1), v1);
      c.lineTo(uOf(g0, v1), v1);
      c.closePath();
    }
  }
  c.fillStyle = "rgb(90,120,50)";
  c.fill();
  // Haze grows with distance, as in the air over real fields.
  const hazeEnd = vOf(1);
  const haze = c.createLinearGradient(0, 0, 0, hazeEnd);
  haze.addColorStop(0, "rgba(170,185,200,1)");
  for (const d of [60, 40, 25, 15, 10, 6, 4, 2.5, 1.5, 1])
    haze.addColorStop(vOf(d) / hazeEnd, `rgba(170,185,200,${Math.min(1, d / 60)})`);
  c.fillStyle = haze;
  c.fillRect(-span, 0, 2 * span, hazeEnd);
  c.restore();
}

// The analogue path: a small, soft, noisy picture with visible lines.
const avSmall = document.createElement("canvas");
avSmall.width = 360;
avSmall.height = 270;
const avCtx = avSmall.getContext("2d");
const noiseTiles = [];
for (let i = 0; i < 6; ++i) {
  const n = document.createElement("canvas");
  n.width = 240;
  n.height = 135;
  const nc = n.getContext("2d");
  const img = nc.createImageData(n.width, n.height);
  for (let p = 0; p < img.data.length; p += 4) {
    const v = Math.random() * 255;
    img.data[p] = img.data[p + 1] = img.data[p + 2] = v;
    img.data[p + 3] = 34;
  }
  nc.putImageData(img, 0, 0);
  noiseTiles.push(n);
}
const scanlines = document.createElement("canvas");
scanlines.width = W;
scanlines.height = H;
{
  const sc = scanlines.getContext("2d");
  sc.fillStyle = "rgba(0,0,0,0.35)";
  for (let y = 0; y < H; y += 3) sc.fillRect(0, y, W, 1);
}

// The OSD controller's 8 x 32 cells over the analogue picture.
const OSD_LEFT = 64, OSD_TOP = 58, CELL_W = 26, CELL_H = 53;

function drawOsd(c, rows) {
  c.save();
  c.font = "bold 34px 'DejaVu Sans Mono', monospace";
  c.textBaseline = "middle";
  c.textAlign = "center";
  c.lineWidth = 5;
  c.lineJoin = "round"; // mitred joins put spikes on the M and W
  c.strokeStyle = "#000";
  c.fillStyle = "#fff";
  rows.forEach((row, r) => {
    for (let col = 0; col < row.length; ++col) {
      const ch = row[col];
      if (ch === " ") continue;
      const x = OSD_LEFT + col * CELL_W + CELL_W / 2, y = OSD_TOP + r * CELL_H + CELL_H / 2;
      c.strokeText(ch, x, y);
      c.fillText(ch, x, y);
    }
  });
  c.restore();
}

let frameNo = 0, lastDraw = 0;

function render(now) {
  requestAnimationFrame(render);
  // About 30 pictures a second are enough for a stand-in and spare the machine.
  if (now - lastDraw < 30) return;
  lastDraw = now;
  ++frameNo;
  const t = now / 1000;
  const mode = state ? state.mode.registers : 1;
  let tag;
  if (mode === 3) {
    avCtx.filter = "saturate(0.55) contrast(0.9) blur(0.6px)";
    drawScene(avCtx, t, avSmall.width, avSmall.height);
    avCtx.filter = "none";
    ctx.imageSmoothingEnabled = true;
    // A line or two slips sideways now and then, as a weak analogue signal does.
    const jitter = Math.random() < 0.08 ? (Math.random() - 0.5) * 10 : 0;
    ctx.drawImage(avSmall, jitter, 0, W, H);
    ctx.drawImage(noiseTiles[frameNo % noiseTiles.length], 0, 0, W, H);
    ctx.drawImage(scanlines, 0, 0);
    if (state && state.osd.enabled) drawOsd(ctx, state.osd.rows);
    tag = "AV · OSD overlay";
  } else if (mode === 2) {
    drawScene(ctx, t, W, H);
    tag = "HDMI in";
  } else {
    if (mode === 1) drawScene(ctx, t, W, H);
    else { ctx.fillStyle = "#000"; ctx.fillRect(0, 0, W, H); }
    ctx.drawImage(overlay, 0, 0);
    tag = mode === 1 ? "NORMAL" : "no video signal";
  }
  if (state && !state.mode.transport) tag += " · I2C down";
  if (held) $("hold-ms").textContent = ((performance.now() - held.since) / 1000).toFixed(1);
  $("hold").classList.toggle("on", held !== null && held.key === KEY.PLAY);
  $("mode-tag").textContent = tag;
}

// For the browser tests: what the page was given and what it shows.
window.vxGoggles = {
  get state() { return state; },
  get frameLoaded() { return frameLoaded; },
  get held() { return held ? KEY_NAMES[held.key] : null; },
  // A pixel of the launcher's page as received, in the 1920 x 1080 screen's coordinates.
  pagePixel(x, y) { return Array.from(overlayCtx.getImageData(x >> 1, y >> 1, 1, 1).data); },
  // The brightest cell ink of the OSD cell (row, col) as drawn on screen.
  osdCellInk(row, col) {
    const d = ctx.getImageData(OSD_LEFT + col * CELL_W, OSD_TOP + row * CELL_H, CELL_W, CELL_H).data;
    let best = 0;
    for (let p = 0; p < d.length; p += 4) best = Math.max(best, Math.min(d[p], d[p + 1], d[p + 2]));
    return best;
  },
};

connect();
requestAnimationFrame(render);
