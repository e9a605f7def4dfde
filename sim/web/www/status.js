// Beside the screen: the goggles' service, the button on the ADC, the app and its log, the
// buzzer, the video input, the launcher, the board's processes, the launcher's notice and
// the overlay's cells, as the board's state says.
import { $, contract, KEY_NAMES, modeName, setClass, setText } from "./contract.js";
import { atBottom, happened } from "./launcher_log.js";
import { playTones } from "./buzzer.js";

const SERVICE_STATES = { R: "running", S: "running (sleeping)", D: "running (in I/O)",
                         T: "stopped", t: "stopped (traced)", Z: "ended (zombie)" };

let prevApp = null, noticeCount = null;

function showApp(s) {
  const app = s.app || { name: "", running: false, log: "", status: "" };
  setText("app-name", !app.name ? "none"
    : app.running ? `${app.name} running (pid ${app.pid})` : `${app.name} (${app.status})`);
  setClass("app-name", app.running ? "ok" : "");
  if (prevApp && prevApp.running && !app.running && prevApp.name === app.name)
    happened(`app ${app.name} ${app.status}`, app.status !== "exited 0");
  prevApp = app;
  $("stop-app").disabled = !app.running || s.stop.busy;
  setText("stop-text", s.stop.text ? `stop: ${s.stop.text}` : "");
  setText("app-log-name", app.name ? `${contract.staging}/${app.name}.log` : "");
  const appLog = $("app-log");
  if (appLog.textContent !== app.log) {
    const stick = atBottom(appLog);
    appLog.textContent = app.log;
    if (stick) appLog.scrollTop = appLog.scrollHeight;
  }
}

function showVideo(m) {
  // With the transport down the input is still there; only the launcher cannot read it.
  setText("registers", `${modeName(m.registers)}${m.transport ? ""
    : " (unreadable: I2C transport down, every transfer fails)"}`);
  setClass("registers", m.transport ? "" : "warn");
  document.querySelectorAll("button.mode").forEach((b) => {
    const on = m.transport ? b.dataset.mode === String(m.registers) : b.dataset.mode === "none";
    b.classList.toggle("on", on);
  });
}

// A start the launcher refused shows its notice, which it does not log.
function showNotice(n) {
  if (n.count !== noticeCount && noticeCount !== null && n.shown)
    happened(`start refused: ${n.app || "the selected app"} needs another video mode`, true);
  noticeCount = n.count;
  $("notice").hidden = !n.shown;
  setText("notice", n.shown
    ? `${contract.notice}: ${n.app || "this app"} needs another video mode` : "");
}

export function showStatus(s) {
  const svc = s.service;
  setText("service", svc ? SERVICE_STATES[svc] || `state ${svc}` : "not on the board");
  setClass("service", svc === "T" ? "warn" : svc ? "ok" : "");
  setText("button", (s.button >= 0 ? `${KEY_NAMES[s.button] || `key ${s.button}`} held` : "none") +
    (s.press_ms ? ` (last press on the line ${s.press_ms} ms)` : ""));
  setClass("button", s.button >= 0 ? "warn" : "");
  showApp(s);
  setText("tmp", s.tmp);
  const bz = s.buzzer;
  setText("buzzer", bz.missing ? "no PWM chip" : bz.hz ? `${bz.hz} Hz` : "silent");
  setClass("buzzer", bz.hz ? "warn" : "");
  playTones(bz.tones);
  showVideo(s.mode);
  setText("launcher", s.launcher.exited ? `ended (${s.launcher.status})` : "running");
  setClass("launcher", s.launcher.exited ? "warn" : "ok");
  setText("processes", (s.processes || [])
    .map((p) => `${String(p.pid).padStart(5)}  ${p.state}  ${p.role}`).join("\n"));
  showNotice(s.notice);
  setText("osd-text", s.osd.rows.map((r) => `|${r}|`).join("\n") +
    (s.osd.enabled ? "\n(overlay enabled)" : "\n(overlay disabled)"));
}
