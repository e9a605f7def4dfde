// The buzzer's tones, played with Web Audio when asked (off by default).
import { $ } from "./contract.js";

let audio = null, tone = null, lastToneAt = -1;

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

export function playTones(tones) {
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

$("sound").addEventListener("change", (e) => {
  if (e.target.checked) {
    audio = audio || new AudioContext();
    audio.resume();
  } else if (audio) {
    stopTone();
    audio.suspend();
  }
});
