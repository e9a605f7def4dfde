// Recording the session as a scenario: the server writes it, from the presses as it put them
// on the line; this tab downloads it when the recording it stopped has ended.
import { $, setClass, setText } from "./contract.js";
import { send } from "./connection.js";

let recording = null; // as the last state gave it
let stopAsked = false, recordingSeen = "";

export function toggleRecording() {
  const on = recording !== null && recording.on;
  stopAsked = on;
  send(on ? "record stop" : "record start");
}
$("record").addEventListener("click", toggleRecording);

// A replay starts from a fresh launcher: a recording starts with this one idle.
function showButton(r, s) {
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
}

export function showRecording(s) {
  const r = s.recording;
  recording = r;
  showButton(r, s);
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
