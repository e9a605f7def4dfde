// The goggles' screen as the wearer sees it: in NORMAL mode the launcher's page blended over
// a moving stand-in for the video, in AV mode the OSD controller's cells over a noisy
// analogue picture, in HDMI mode the plain picture.
import { $, contract, MODE } from "./contract.js";
import { send } from "./connection.js";
import { showHold } from "./buttons.js";
import { drawScene } from "./scene.js";

const screen = $("screen");
const ctx = screen.getContext("2d");
// The picture's size in canvas pixels: the launcher's page at half size, or all of it.
let W = 0, H = 0;
// Picture pixels to a screen pixel.
const scale = () => W / contract.screen.w;

let shown = null; // the board's state the picture follows
let frameWanted = 0, frameLoaded = 0, frameAt = 0;
const overlay = document.createElement("canvas"); // the launcher's page, alpha kept
const overlayCtx = overlay.getContext("2d", { willReadFrequently: true });
// From the launcher's pan or overlay commit (the board's time stamp) to the picture drawn
// here, in ms: the latest ones, for the page and the browser tests.
const latencies = [];
const MAX_LATENCIES = 50;

// --- the analogue path: a small, soft, noisy picture with visible lines ------------------

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
function drawScanlines() {
  scanlines.width = W;
  scanlines.height = H;
  const sc = scanlines.getContext("2d");
  sc.fillStyle = "rgba(0,0,0,0.35)";
  for (let y = 0; y < H; y += 6 * scale()) sc.fillRect(0, y, W, 2 * scale());
}

// The OSD controller's cells over the analogue picture, in screen pixels.
const OSD_LEFT = 128, OSD_TOP = 116, CELL_W = 52, CELL_H = 106;

function drawOsd(c, rows) {
  c.save();
  c.font = "bold 68px 'DejaVu Sans Mono', monospace";
  c.textBaseline = "middle";
  c.textAlign = "center";
  c.lineWidth = 10;
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
const STANDIN_EVERY_MS = 66;
const scene = document.createElement("canvas");
scene.width = 640;
scene.height = 360;
const sceneCtx = scene.getContext("2d");
let sceneAt = -1e9;

function sceneFrame(now) {
  if (now - sceneAt >= STANDIN_EVERY_MS) {
    sceneAt = now;
    drawScene(sceneCtx, now / 1000, scene.width, scene.height);
  }
  return scene;
}

function drawAv(t, frameNo) {
  avCtx.filter = "saturate(0.55) contrast(0.9) blur(0.6px)";
  drawScene(avCtx, t, avSmall.width, avSmall.height);
  avCtx.filter = "none";
  ctx.imageSmoothingEnabled = true;
  // A line or two slips sideways now and then, as a weak analogue signal does.
  const jitter = Math.random() < 0.08 ? (Math.random() - 0.5) * 10 : 0;
  ctx.drawImage(avSmall, jitter, 0, W, H);
  ctx.drawImage(noiseTiles[frameNo % noiseTiles.length], 0, 0, W, H);
  ctx.drawImage(scanlines, 0, 0);
  if (shown && shown.osd.enabled) {
    ctx.save();
    ctx.scale(scale(), scale());
    drawOsd(ctx, shown.osd.rows);
    ctx.restore();
  }
}

let frameNo = 0, lastDraw = 0;

// `changedAt`: the board's stamp of the launcher's change that this picture is the first to
// show, or undefined for the stand-in's own pictures.
function render(now, changedAt) {
  const changed = changedAt !== undefined;
  if (!changed) requestAnimationFrame(render);
  // About 15 pictures a second are enough for a stand-in and leave the browser time for the
  // launcher's pictures, each of which is drawn at once.
  if (!changed && now - lastDraw < STANDIN_EVERY_MS) return;
  lastDraw = now;
  ++frameNo;
  const mode = shown ? shown.mode.registers : MODE.normal;
  let tag;
  if (mode === MODE.av) {
    drawAv(now / 1000, frameNo);
    tag = "AV · OSD overlay";
  } else if (mode === MODE.hdmi) {
    ctx.drawImage(sceneFrame(now), 0, 0, W, H);
    tag = "HDMI in";
  } else {
    if (mode === MODE.normal) ctx.drawImage(sceneFrame(now), 0, 0, W, H);
    else { ctx.fillStyle = "#000"; ctx.fillRect(0, 0, W, H); }
    ctx.drawImage(overlay, 0, 0);
    tag = mode === MODE.normal ? "NORMAL" : "no video signal";
  }
  if (shown && !shown.mode.transport) tag += " · I2C down";
  showHold();
  $("mode-tag").textContent = tag;
  if (changedAt) {
    latencies.push(Date.now() - changedAt);
    if (latencies.length > MAX_LATENCIES) latencies.shift();
    $("latency").textContent = `picture ${latencies[latencies.length - 1]} ms after the launcher's change`;
  }
}

export function startPicture() {
  requestAnimationFrame(render);
}

export function setResolution(w) {
  W = w;
  H = w * contract.screen.h / contract.screen.w;
  for (const c of [screen, overlay]) { c.width = W; c.height = H; }
  drawScanlines();
  send(`size ${W}`); // the current page again, at the new size
}

export const width = () => W;

export function setZoom(z) {
  $("goggles").classList.toggle("zoomed", z !== "fit");
  screen.style.width = z === "fit" ? "" : `${W * Number(z) / devicePixelRatio}px`;
}

// A state: the page it announces comes next; the overlay's cells come with the state itself
// and are drawn at once.
export function showState(s) {
  shown = s;
  if (s.frame === frameWanted) return;
  frameWanted = s.frame;
  frameAt = s.frame_at;
  if (s.mode.registers === MODE.av) render(performance.now(), s.frame_at);
}

// Each picture after a tab's first is the rectangle that changed since the one before: they
// are drawn in order, none passed over.
let frames = Promise.resolve();

export function onFrame(buf) {
  const h = contract.frame_head;
  const head = new DataView(buf, 0, h.bytes);
  const x = head.getUint16(h.x, true), y = head.getUint16(h.y, true);
  const pageW = head.getUint16(h.page_w, true);
  const blob = new Blob([new Uint8Array(buf, h.bytes)], { type: "image/png" });
  const seq = frameWanted;
  // A page sent again (at another size) is no change of the launcher's: no delay to count.
  const at = frameWanted !== frameLoaded ? frameAt : 0;
  frames = frames.then(async () => {
    if (pageW !== W) return; // asked for before a switch of size
    const bmp = await createImageBitmap(blob);
    overlayCtx.clearRect(x, y, bmp.width, bmp.height);
    overlayCtx.drawImage(bmp, x, y);
    bmp.close();
    frameLoaded = seq;
    render(performance.now(), shown && shown.mode.registers === MODE.av ? 0 : at);
  }).catch((e) => console.warn("frame", e));
}

// For the browser tests: what the page was given and what it shows.
export const picture = {
  get frameLoaded() { return frameLoaded; },
  get latencies() { return latencies.slice(); },
  // A pixel of the launcher's page as received, in the screen's coordinates.
  pagePixel(x, y) {
    const k = scale();
    return Array.from(overlayCtx.getImageData(Math.floor(x * k), Math.floor(y * k), 1, 1).data);
  },
  // The brightest cell ink of the OSD cell (row, col) as drawn on screen.
  osdCellInk(row, col) {
    const k = scale();
    const d = ctx.getImageData((OSD_LEFT + col * CELL_W) * k, (OSD_TOP + row * CELL_H) * k,
                               CELL_W * k, CELL_H * k).data;
    let best = 0;
    for (let p = 0; p < d.length; p += 4) best = Math.max(best, Math.min(d[p], d[p + 1], d[p + 2]));
    return best;
  },
};
