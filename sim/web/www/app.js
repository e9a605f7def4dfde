// The virtual goggles' page: draws what the wearer sees and turns pointer and keyboard
// presses into the board's button presses, held for as long as they are held here. The
// modules hold one part each; this one builds the page's controls from what the board says
// and hands each state to them.
import { $, contract, MODE, seconds } from "./contract.js";
import { connect, on, send } from "./connection.js";
import { heldName, letGo } from "./buttons.js";
import "./keyboard.js";
import { showRecording } from "./recording.js";
import { appendLines } from "./launcher_log.js";
import { showStatus } from "./status.js";
import * as picture from "./picture.js";
import { checkCatalogue } from "./catalogue.js";

let state = null;

// "{name}" in a text of the page marked data-contract: the timings in seconds and the
// overlay's grid.
const FILLED = {
  hold_open: seconds(contract.timings.hold_open_ms),
  hold_close: seconds(contract.timings.hold_close_ms),
  escape_kill_after: seconds(contract.timings.escape_kill_after_ms),
  osd_rows: contract.osd.rows,
  osd_cols: contract.osd.cols,
};

function fillTexts() {
  const fill = (t) => t.replace(/\{(\w+)\}/g, (_, name) => FILLED[name]);
  document.querySelectorAll("[data-contract]").forEach((el) => {
    el.title = fill(el.title);
    if (!el.children.length) el.textContent = fill(el.textContent);
  });
}

// A button for each video mode the goggles may be in, before "no transport".
function modeButtons() {
  for (const m of contract.modes) {
    if (m.mode === MODE.unknown) continue;
    const b = document.createElement("button");
    b.className = "mode";
    b.dataset.mode = m.mode;
    b.id = `mode-${m.word}`;
    b.title = String(m.mode);
    b.textContent = m.name;
    $("mode-none").before(b);
  }
  document.querySelectorAll("button.mode").forEach((b) =>
    b.addEventListener("click", () => send(`mode ${b.dataset.mode}`)));
}

// The sizes a tab may ask for the launcher's page at.
function pictureSizes() {
  for (const w of contract.pictures) {
    const h = w * contract.screen.h / contract.screen.w;
    $("resolution").append(new Option(`${w} × ${h}`, w));
  }
  $("resolution").addEventListener("change", (e) => {
    picture.setResolution(Number(e.target.value));
    picture.setZoom($("zoom").value);
  });
  $("zoom").addEventListener("change", (e) => picture.setZoom(e.target.value));
  picture.setResolution(contract.pictures[0]);
}

function onState(s) {
  state = s;
  appendLines(s.lines, s.reset);
  showStatus(s);
  showRecording(s);
  picture.showState(s);
}

fillTexts();
modeButtons();
pictureSizes();
$("stop-app").addEventListener("click", () => send("stop app"));

// For the browser tests: what the page was given and what it shows.
window.vxGoggles = {
  get state() { return state; },
  get frameLoaded() { return picture.picture.frameLoaded; },
  get held() { return heldName(); },
  get latencies() { return picture.picture.latencies; },
  pagePixel: (x, y) => picture.picture.pagePixel(x, y),
  osdCellInk: (row, col) => picture.picture.osdCellInk(row, col),
};

on("opened", () => send(`size ${picture.width()}`));
on("closed", letGo);
on("state", onState);
on("frame", picture.onFrame);
connect();
checkCatalogue();
picture.startPicture();
