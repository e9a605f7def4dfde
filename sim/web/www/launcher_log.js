// The launcher's log as it wrote it, each line with its meaning in English beside it, and the
// page's list of what happened. The lines' forms and glosses come from the server.
import { $, contract, modeName } from "./contract.js";

const launcherLog = $("launcher-log");
const MAX_LOG_LINES = 3000;
const MAX_EVENTS = 12;
const FORMS = contract.log_forms.map((f) => ({ ...f, re: new RegExp(f.pattern) }));

// "{N}" is the line's Nth value, "{mode N}" the name of the video mode it numbers.
function fill(text, values) {
  return text.replace(/\{mode (\d+)\}/g, (_, i) => modeName(values[i]) || "this")
    .replace(/\{(\d+)\}/g, (_, i) => values[i]);
}

function gloss(line) {
  for (const f of FORMS) {
    const m = line.match(f.re);
    if (m) return { text: fill(f.gloss, m), event: f.event, warn: f.warn };
  }
  return null;
}

export function atBottom(el) {
  return el.scrollHeight - el.scrollTop - el.clientHeight < 30;
}

// The page's list of what happened, newest first.
export function happened(text, warn) {
  const li = document.createElement("li");
  li.textContent = `${new Date().toLocaleTimeString()}  ${text}`;
  if (warn) li.className = "warn";
  $("events").prepend(li);
  while ($("events").childNodes.length > MAX_EVENTS) $("events").lastChild.remove();
}

export function appendLines(lines, reset) {
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
      if (g.event && !reset) happened(g.text, g.warn);
    }
    launcherLog.append(div);
  }
  while (launcherLog.childNodes.length > MAX_LOG_LINES) launcherLog.firstChild.remove();
  if (stick) launcherLog.scrollTop = launcherLog.scrollHeight;
}
