// What the page takes from the launcher and the board rather than copies (/contract.json):
// the screen's size, the frame head, the buttons and video modes by their numbers, the
// timings, the notice's text, the staging directory and the log lines' forms with their
// glosses.

export const contract = await (await fetch("contract.json", { cache: "no-store" })).json();

// The buttons and the video modes by their words: KEY.PLAY, MODE.av.
export const KEY = Object.fromEntries(contract.keys.map((k) => [k.word, k.key]));
export const KEY_NAMES = Object.fromEntries(contract.keys.map((k) => [k.key, k.word]));
export const MODE = Object.fromEntries(contract.modes.map((m) => [m.word, m.mode]));

// NORMAL, HDMI, AV, unknown.
export function modeName(mode) {
  const m = contract.modes.find((x) => x.mode === Number(mode));
  return m ? m.name : undefined;
}

// A span in ms as the page writes it, in seconds: 1500 -> "1.5".
export const seconds = (ms) => String(ms / 1000);

export const $ = (id) => document.getElementById(id);

// Only what changed is written into the page: a state comes at every pass of the launcher
// while a button is held, and a rewrite of the same text still costs the browser a layout.
export function setText(id, text) {
  const el = $(id);
  if (el.textContent !== text) el.textContent = text;
}

export function setClass(id, name) {
  const el = $(id);
  if (el.className !== name) el.className = name;
}
