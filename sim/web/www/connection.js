// The one WebSocket to vx-web: the state comes as text; what changed of the launcher's page,
// when it did, as a picture of a rectangle right after the state that announced it.
import { $ } from "./contract.js";

let ws = null;
const handlers = { opened: () => {}, closed: () => {}, state: () => {}, frame: () => {} };

export function on(event, fn) {
  handlers[event] = fn;
}

export function connect() {
  ws = new WebSocket(`ws://${location.host}/ws`);
  ws.binaryType = "arraybuffer";
  ws.onopen = () => {
    $("link").textContent = "connected";
    $("link").className = "badge on";
    handlers.opened();
  };
  ws.onclose = () => {
    $("link").textContent = "disconnected, retrying…";
    $("link").className = "badge off";
    handlers.closed();
    setTimeout(connect, 1000);
  };
  ws.onmessage = (ev) =>
    typeof ev.data === "string" ? handlers.state(JSON.parse(ev.data)) : handlers.frame(ev.data);
}

export function send(msg) {
  if (ws && ws.readyState === WebSocket.OPEN) ws.send(msg);
}
