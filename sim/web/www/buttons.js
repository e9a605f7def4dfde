// The goggles' buttons on the page: pressed and held for as long as they are held here, by
// pointer or keyboard; the board keeps a press on the line until the launcher has seen it.
import { $, KEY, KEY_NAMES } from "./contract.js";
import { send } from "./connection.js";

let held = null; // the button held from this page: { key, since }

function setHeld(key) {
  document.querySelectorAll("button.key").forEach((b) =>
    b.classList.toggle("down", key !== null && KEY[b.dataset.key] === key));
  held = key === null ? null : { key, since: performance.now() };
}

export function press(key) {
  if (held && held.key === key) return;
  send(`press ${key}`);
  setHeld(key);
}

// Any release lets go: the ladder gives one value for all buttons.
export function release(key) {
  if (!held || (key !== undefined && held.key !== key)) return;
  send("release");
  setHeld(null);
}

// The connection went: nothing is held from here any more.
export function letGo() {
  setHeld(null);
}

export const heldName = () => (held ? KEY_NAMES[held.key] : null);

// How long PLAY has been held, shown with each picture.
export function showHold() {
  if (held) $("hold-ms").textContent = ((performance.now() - held.since) / 1000).toFixed(1);
  $("hold").classList.toggle("on", held !== null && held.key === KEY.PLAY);
}

document.querySelectorAll("button.key").forEach((b) => {
  const key = KEY[b.dataset.key];
  b.addEventListener("pointerdown", (e) => {
    b.setPointerCapture(e.pointerId);
    press(key);
  });
  b.addEventListener("pointerup", () => release(key));
  b.addEventListener("pointercancel", () => release(key));
  b.addEventListener("keydown", (e) => {
    if (e.code === "Space" || e.code === "Enter") e.preventDefault();
  });
});

// A key released while the page had no focus never reports its keyup.
window.addEventListener("blur", () => release());
