// The virtual goggles' page: draws what the wearer sees and turns pointer and keyboard
// presses into the board's button presses, held for as long as they are held here.
"use strict";

// The picture's size in canvas pixels: the launcher's page at half size, or all of it.
let W = 960, H = 540;
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
let frameWanted = 0, frameLoaded = 0;
const overlay = document.createElement("canvas");  // the launcher's page, alpha kept
overlay.width = W;
overlay.height = H;
const overlayCtx = overlay.getContext("2d", { willReadFrequently: true });
// From the launcher's pan or overlay commit (the board's time stamp) to the picture drawn
// here, in ms: the latest ones, for the page and the browser tests.
const latencies = [];

function setResolution(w) {
  W = w;
  H = w * 9 / 16;
  for (const c of [screen, overlay]) { c.width = W; c.height = H; }
  scanlines.width = W;
  scanlines.height = H;
  drawScanlines();
  send(`size ${W}`);  // the current page again, at the new size
}

function setZoom(z) {
  $("goggles").classList.toggle("zoomed", z !== "fit");
  screen.style.width = z === "fit" ? "" : `${W * Number(z) / devicePixelRatio}px`;
}

function connect() {
  ws = new WebSocket(`ws://${location.host}/ws`);
  ws.binaryType = "arraybuffer";
  ws.onopen = () => {
    $("link").textContent = "connected";
    $("link").className = "badge on";
    send(`size ${W}`);
  };
  ws.onclose = () => {
    $("link").textContent = "disconnected, retrying…";
    $("link").className = "badge off";
    setHeld(null);
    setTimeout(connect, 1000);
  };
  // The state comes as text; what changed of the launcher's page, when it did, as a PNG of
  // a rectangle right after the state that announced it.
  ws.onmessage = (ev) => typeof ev.data === "string" ? onState(JSON.parse(ev.data)) : onFrame(ev.data);
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
$("stop-app").addEventListener("click", () => send("stop app"));
$("resolution").addEventListener("change", (e) => {
  setResolution(Number(e.target.value));
  setZoom($("zoom").value);
});
$("zoom").addEventListener("change", (e) => setZoom(e.target.value));

window.addEventListener("keydown", (e) => {
  if (e.ctrlKey || e.altKey || e.metaKey) return;
  if (e.code in KEYBOARD) {
    e.preventDefault();
    if (!e.repeat) press(KEYBOARD[e.code]);
  } else if (e.code in MODE_KEYS && !e.repeat) {
    send(`mode ${MODE_KEYS[e.code]}`);
  } else if (e.code === "KeyK" && !e.repeat) {
    send("stop app");
  } else if (e.code === "KeyR" && !e.repeat) {
    toggleRecording();
  }
});
window.addEventListener("keyup", (e) => {
  if (e.code in KEYBOARD) {
    e.preventDefault();
    release(KEYBOARD[e.code]);
  }
});
// --- recording ------------------------------------------------------------------------

// The server writes the scenario, from the presses as it put them on the line; this tab
// downloads it when the recording it stopped has ended.
let stopAsked = false, recordingSeen = "";

function toggleRecording() {
  const on = state !== null && state.recording.on;
  stopAsked = on;
  send(on ? "record stop" : "record start");
}
$("record").addEventListener("click", toggleRecording);

// A replay starts from a fresh launcher: a recording starts with this one idle.
function showRecording(r, s) {
  const idle = s.service !== "T" && s.screen_row === 0 && s.button < 0 && !s.launcher.exited &&
    s.osd.rows.every((row) => !row.trim());
  $("record").disabled = !r.on && !idle;
  $("record").title = r.on || idle ? "R: write down what you do and what the launcher answers"
    : "close the menu and let the app end first: a replay starts from a fresh launcher";
  setText("record", r.on ? "■ stop and download" : "● record");
  $("record").classList.toggle("on", r.on);
  setText("rec-state", r.on ? `recording: ${r.steps} steps`
    : r.refused ? `not recording: ${r.refused}` : "");
  setClass("rec-state", r.on || r.refused ? "warn" : "");
  const link = $("rec-download");
  link.hidden = r.on || !r.file;
  link.download = r.file;
  setText("rec-download", r.file ? `${r.file} (${r.steps} steps)` : "");
  $("rec-panel").hidden = !r.file;
  // The text as it grows, fetched again whenever a step was added.
  const seen = `${r.file} ${r.on} ${r.steps}`;
  if (r.file && seen !== recordingSeen) {
    recordingSeen = seen;
    fetch("recording.scn", { cache: "no-store" }).then((res) => res.text())
      .then((t) => setText("rec-text", t)).catch(() => {});
  }
  if (stopAsked && !r.on && r.file) {
    stopAsked = false;
    link.click();
  }
}

// A key released while the page had no focus never reports its keyup.
window.addEventListener("blur", () => release());

// --- the board's state ----------------------------------------------------------------

const launcherLog = $("launcher-log");
const MAX_LOG_LINES = 3000;
const MODE_NAMES = { 0: "unknown", 1: "NORMAL", 2: "HDMI", 3: "AV" };

// The launcher's line forms and what they mean, in English; the lines themselves stay as the
// launcher wrote them. `event` lines also go to the page's list of what happened.
const GLOSSES = [
  [/^VornaX-Launcher v\S+ started/, "the launcher is up"],
  [/^boot mode=/, "the video mode read at start"],
  [/^mode: LT8668/, "the video input's registers as read"],
  [/^scan done: (\d+) apps/, (m) => `${m[1]} app(s) listed from the app directory`],
  [/^keys: ADC open fail/, "no buttons: the launcher cannot start", true],
  [/^beep: brak buzzera/, "no buzzer", true],
  [/^unexpected fb layout/, "the framebuffer is not laid out as the goggles' is", true],
  [/^FBIOPUT yvirt=3240 failed/, "the framebuffer gave no third page"],
  [/^hold: keys blocked at \d+ ms/, "the goggles' service paused"],
  [/^hold aborted \(menu release/, "PLAY let go: the hold in the menu did not close it"],
  [/^hold aborted/, "PLAY let go before the menu opened; the service runs again"],
  [/^hold cancelled: app started mid-hold/, "an app started during the hold"],
  [/^menu suppressed: app running/, "an app runs: no menu until it ends", true],
  [/^menu refused: mode=(\d)/, (m) =>
    `no menu in ${MODE_NAMES[m[1]] || "this"} mode: the launcher shows its menu only in NORMAL and AV`, true],
  [/^fb0 init fail/, "no framebuffer: no menu", true],
  [/^osd menu open fail po child/, "the app ended; the overlay did not answer, no menu", true],
  [/^osd menu open fail/, "the OSD controller did not answer: no overlay menu", true],
  [/^osd menu open \(writes=/, "the overlay's cells written"],
  [/^menu OSD open po child/, "the app ended; the overlay menu is back"],
  [/^menu OSD open/, "the menu is open on the AV overlay"],
  [/^menu open via --menu/, "the menu opened at start (--menu)"],
  [/^menu open/, "the menu is open"],
  [/^rendering menu|^menu rendered/, "drawing the menu"],
  [/^menu closed/, "the menu closed; the goggles have their page and buttons back"],
  [/^menu skip po child/, "the app ended; no menu in this mode", true],
  [/^keys resumed/, "the goggles' service has its buttons back"],
  [/^launched (\S+) pid=(\d+)/, (m) => `app ${m[1]} started`, true],
  [/^launch failed: (\S+)/, (m) => `app ${m[1]} could not be started`, true],
  [/^child (\S+) exited/, (m) => `app ${m[1]} ended; the launcher collected it`],
  [/wymaga innego trybu gogli/, "this app needs another video mode"],
];

function gloss(line) {
  for (const [re, text, event] of GLOSSES) {
    const m = line.match(re);
    if (m) return { text: typeof text === "function" ? text(m) : text, event: !!event };
  }
  return null;
}

function atBottom(el) {
  return el.scrollHeight - el.scrollTop - el.clientHeight < 30;
}

function appendLines(lines, reset) {
  const stick = atBottom(launcherLog);
  if (reset) launcherLog.textContent = "";
  for (const raw of lines) {
    const line = raw.replace(/\n$/, "");
    const div = document.createElement("div");
    div.textContent = line;
    const g = gloss(line);
    if (g) {
      const span = document.createElement("span");
      span.className = "gloss";
      span.textContent = g.text;
      div.append(span);
      if (g.event && !reset) happened(g.text, /no |not |refused|needs/.test(g.text));
    }
    launcherLog.append(div);
  }
  while (launcherLog.childNodes.length > MAX_LOG_LINES) launcherLog.firstChild.remove();
  if (stick) launcherLog.scrollTop = launcherLog.scrollHeight;
}

// The page's list of what happened, newest first.
function happened(text, warn) {
  const li = document.createElement("li");
  li.textContent = `${new Date().toLocaleTimeString()}  ${text}`;
  if (warn) li.className = "warn";
  $("events").prepend(li);
  while ($("events").childNodes.length > 12) $("events").lastChild.remove();
}

// Only what changed is written into the page: a state comes at every pass of the launcher
// while a button is held, and a rewrite of the same text still costs the browser a layout.
function setText(id, text) {
  const el = $(id);
  if (el.textContent !== text) el.textContent = text;
}

function setClass(id, name) {
  const el = $(id);
  if (el.className !== name) el.className = name;
}

function onState(s) {
  state = s;
  appendLines(s.lines, s.reset);

  const svc = s.service;
  setText("service", svc ? SERVICE_STATES[svc] || `state ${svc}` : "not on the board");
  setClass("service", svc === "T" ? "warn" : svc ? "ok" : "");

  setText("button", (s.button >= 0 ? `${KEY_NAMES[s.button] || `key ${s.button}`} held` : "none") +
    (s.press_ms ? ` (last press on the line ${s.press_ms} ms)` : ""));
  setClass("button", s.button >= 0 ? "warn" : "");

  const app = s.app || { name: "", running: false, log: "", status: "" };
  setText("app-name", !app.name ? "none"
    : app.running ? `${app.name} running (pid ${app.pid})` : `${app.name} (${app.status})`);
  setClass("app-name", app.running ? "ok" : "");
  if (prevApp && prevApp.running && !app.running && prevApp.name === app.name)
    happened(`app ${app.name} ${app.status}`, app.status !== "exited 0");
  prevApp = app;
  $("stop-app").disabled = !app.running || s.stop.busy;
  setText("stop-text", s.stop.text ? `stop: ${s.stop.text}` : "");
  setText("tmp", s.tmp);
  setText("app-log-name", app.name ? `/tmp/vorna-x/${app.name}.log` : "");
  const appLog = $("app-log");
  if (appLog.textContent !== app.log) {
    const stick = atBottom(appLog);
    appLog.textContent = app.log;
    if (stick) appLog.scrollTop = appLog.scrollHeight;
  }

  const bz = s.buzzer;
  setText("buzzer", bz.missing ? "no PWM chip" : bz.hz ? `${bz.hz} Hz` : "silent");
  setClass("buzzer", bz.hz ? "warn" : "");
  playTones(bz.tones);

  const m = s.mode;
  const names = { 0: "unknown", 1: "NORMAL", 2: "HDMI", 3: "AV" };
  // With the transport down the input is still there; only the launcher cannot read it.
  setText("registers",
    `${names[m.registers]}${m.transport ? "" : " (unreadable: I2C transport down, every transfer fails)"}`);
  setClass("registers", m.transport ? "" : "warn");
  document.querySelectorAll("button.mode").forEach((b) => {
    const on = m.transport ? b.dataset.mode === String(m.registers) : b.dataset.mode === "none";
    b.classList.toggle("on", on);
  });

  showRecording(s.recording, s);

  setText("launcher", s.launcher.exited ? `ended (${s.launcher.status})` : "running");
  setClass("launcher", s.launcher.exited ? "warn" : "ok");
  setText("processes", (s.processes || [])
    .map((p) => `${String(p.pid).padStart(5)}  ${p.state}  ${p.role}`).join("\n"));

  const n = s.notice;
  if (n.count !== noticeCount && noticeCount !== null && n.shown)
    happened(`start refused: ${n.app || "the selected app"} needs another video mode`, true);
  noticeCount = n.count;
  $("notice").hidden = !n.shown;
  setText("notice", n.shown
    ? `wymaga innego trybu gogli: ${n.app || "this app"} needs another video mode` : "");
  setText("osd-text", s.osd.rows.map((r) => `|${r}|`).join("\n") +
    (s.osd.enabled ? "\n(overlay enabled)" : "\n(overlay disabled)"));

  if (s.frame !== frameWanted) {
    frameWanted = s.frame;
    frameAt = s.frame_at;
    // The overlay's cells come with the state itself: drawn at once.
    if (s.mode.registers === 3) render(performance.now(), s.frame_at);
  }
}

let prevApp = null, noticeCount = null;

// Each picture after a tab's first is the rectangle that changed since the one before: they
// are drawn in order, none passed over.
let frames = Promise.resolve(), frameAt = 0;

function onFrame(buf) {
  const head = new DataView(buf, 0, 8);
  const x = head.getUint16(0, true), y = head.getUint16(2, true), width = head.getUint16(4, true);
  const blob = new Blob([new Uint8Array(buf, 8)], { type: "image/png" });
  const seq = frameWanted;
  // A page sent again (at another size) is no change of the launcher's: no delay to count.
  const at = frameWanted !== frameLoaded ? frameAt : 0;
  frames = frames.then(async () => {
    if (width !== W) return;  // asked for before a switch of size
    const bmp = await createImageBitmap(blob);
    overlayCtx.clearRect(x, y, bmp.width, bmp.height);
    overlayCtx.drawImage(bmp, x, y);
    bmp.close();
    frameLoaded = seq;
    render(performance.now(), state && state.mode.registers === 3 ? 0 : at);
  }).catch((e) => console.warn("frame", e));
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
function drawScanlines() {
  const sc = scanlines.getContext("2d");
  sc.fillStyle = "rgba(0,0,0,0.35)";
  const step = 3 * W / 960;
  for (let y = 0; y < H; y += step) sc.fillRect(0, y, W, W / 960);
}
drawScanlines();

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

// The stand-in video is drawn small and no more than 15 times a second, then scaled: a
// software canvas takes tens of ms for it at full size, time the launcher's own picture
// would wait for.
const scene = document.createElement("canvas");
scene.width = 640;
scene.height = 360;
const sceneCtx = scene.getContext("2d");
let sceneAt = -1e9;

function sceneFrame(now) {
  if (now - sceneAt >= 66) {
    sceneAt = now;
    drawScene(sceneCtx, now / 1000, scene.width, scene.height);
  }
  return scene;
}

let frameNo = 0, lastDraw = 0;

// `changedAt`: the board's stamp of the launcher's change that this picture is the first to
// show, or undefined for the stand-in's own pictures.
function render(now, changedAt) {
  const changed = changedAt !== undefined;
  if (!changed) requestAnimationFrame(render);
  // About 15 pictures a second are enough for a stand-in and leave the browser time for the
  // launcher's pictures, each of which is drawn at once.
  if (!changed && now - lastDraw < 66) return;
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
    if (state && state.osd.enabled) {
      ctx.save();
      ctx.scale(W / 960, H / 540);
      drawOsd(ctx, state.osd.rows);
      ctx.restore();
    }
    tag = "AV · OSD overlay";
  } else if (mode === 2) {
    ctx.drawImage(sceneFrame(now), 0, 0, W, H);
    tag = "HDMI in";
  } else {
    if (mode === 1) ctx.drawImage(sceneFrame(now), 0, 0, W, H);
    else { ctx.fillStyle = "#000"; ctx.fillRect(0, 0, W, H); }
    ctx.drawImage(overlay, 0, 0);
    tag = mode === 1 ? "NORMAL" : "no video signal";
  }
  if (state && !state.mode.transport) tag += " · I2C down";
  if (held) $("hold-ms").textContent = ((performance.now() - held.since) / 1000).toFixed(1);
  $("hold").classList.toggle("on", held !== null && held.key === KEY.PLAY);
  $("mode-tag").textContent = tag;
  if (changedAt) {
    latencies.push(Date.now() - changedAt);
    if (latencies.length > 50) latencies.shift();
    $("latency").textContent = `picture ${latencies[latencies.length - 1]} ms after the launcher's change`;
  }
}

// For the browser tests: what the page was given and what it shows.
window.vxGoggles = {
  get state() { return state; },
  get frameLoaded() { return frameLoaded; },
  get held() { return held ? KEY_NAMES[held.key] : null; },
  get latencies() { return latencies.slice(); },
  // A pixel of the launcher's page as received, in the 1920 x 1080 screen's coordinates.
  pagePixel(x, y) {
    const k = W / 1920;
    return Array.from(overlayCtx.getImageData(Math.floor(x * k), Math.floor(y * k), 1, 1).data);
  },
  // The brightest cell ink of the OSD cell (row, col) as drawn on screen.
  osdCellInk(row, col) {
    const k = W / 960;
    const d = ctx.getImageData((OSD_LEFT + col * CELL_W) * k, (OSD_TOP + row * CELL_H) * k,
                               CELL_W * k, CELL_H * k).data;
    let best = 0;
    for (let p = 0; p < d.length; p += 4) best = Math.max(best, Math.min(d[p], d[p + 1], d[p + 2]));
    return best;
  },
};

// --- the app directory, as the launcher will read it ----------------------------------

async function checkCatalogue() {
  const el = $("catalogue");
  try {
    const r = await (await fetch("catalogue.json", { cache: "no-store" })).json();
    el.textContent = "";
    const head = document.createElement("div");
    head.textContent = r.error ? `${r.dir}: ${r.error}`
      : `${r.dir}: ${r.listed} app(s) listed, ${r.entries.length - r.listed} passed over`;
    el.append(head);
    for (const e of r.entries) {
      const row = document.createElement("div");
      if (e.listed) {
        const where = ["normal", "hdmi", "av"].filter((m) => e.allowed[m])
          .map((m) => m.toUpperCase()).join(", ") || "no mode";
        row.textContent = `✓ ${e.name}: modes ${e.modes} (runs in ${where}), version ${e.version}` +
          (e.manifest === "read" ? "" : `; manifest ${e.manifest}`);
      } else {
        row.className = "skipped";
        row.textContent = `✗ ${e.name}: ${e.skipped}`;
      }
      el.append(row);
      for (const n of [...(e.ignored || []), ...(e.cut || []), ...(e.modes_notes || [])]) {
        const note = document.createElement("div");
        note.className = "note";
        note.textContent = `line ${n.line}: ${n.why}  [${JSON.stringify(n.text).slice(1, -1)}]`;
        el.append(note);
      }
    }
  } catch (e) {
    el.textContent = `cannot check: ${e}`;
  }
}
$("catalogue-again").addEventListener("click", checkCatalogue);

connect();
checkCatalogue();
requestAnimationFrame(render);
