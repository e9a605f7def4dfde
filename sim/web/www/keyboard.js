// The keyboard: the goggles' buttons held as their keys are held, the video switches, stopping
// the app and recording.
import { KEY, MODE } from "./contract.js";
import { send } from "./connection.js";
import { press, release } from "./buttons.js";
import { toggleRecording } from "./recording.js";

// KeyboardEvent.code: the button it holds.
const BUTTON_KEYS = {
  ArrowUp: "UP", KeyW: "UP",
  ArrowDown: "DOWN", KeyS: "DOWN",
  Enter: "MIDDLE", NumpadEnter: "MIDDLE", KeyM: "MIDDLE",
  Space: "PLAY", KeyP: "PLAY",
  Backspace: "BACK", KeyB: "BACK",
};

// KeyboardEvent.code: what it does once per press. A digit switches to the video mode of
// that number.
const ACTIONS = {
  KeyX: () => send("mode none"),
  KeyK: () => send("stop app"),
  KeyR: () => toggleRecording(),
};
for (const mode of Object.values(MODE))
  if (mode !== MODE.unknown) ACTIONS[`Digit${mode}`] = () => send(`mode ${mode}`);

window.addEventListener("keydown", (e) => {
  if (e.ctrlKey || e.altKey || e.metaKey) return;
  if (e.code in BUTTON_KEYS) {
    e.preventDefault();
    if (!e.repeat) press(KEY[BUTTON_KEYS[e.code]]);
  } else if (e.code in ACTIONS && !e.repeat) {
    ACTIONS[e.code]();
  }
});

window.addEventListener("keyup", (e) => {
  if (e.code in BUTTON_KEYS) {
    e.preventDefault();
    release(KEY[BUTTON_KEYS[e.code]]);
  }
});
