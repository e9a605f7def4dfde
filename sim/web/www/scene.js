// The stand-in for the video under the launcher's page.
import { contract } from "./contract.js";

// A flight over fields: the same kind of scene the board's screenshots use behind the page,
// so the translucent panel is judged against a bright sky and busy ground, moving.
export function drawScene(c, t, w, h) {
  const k = w / contract.screen.w;
  const bank = 0.12 * Math.sin(t * 0.7);
  const pitch = 60 * k * Math.sin(t * 0.45);
  const travel = t * 0.9;
  c.save();
  c.translate(w / 2, h * 0.55 + pitch);
  c.rotate(bank);
  const span = w * 2;
  const sky = c.createLinearGradient(0, -600 * k, 0, 0);
  sky.addColorStop(0, "rgb(60,120,210)");
  sky.addColorStop(1, "rgb(150,190,230)");
  c.fillStyle = sky;
  c.fillRect(-span, -span, 2 * span, span);
  // The ground: a checker of crops in perspective. A ground point at depth d lies
  // 400/d - 4 pixels (full scale) below the horizon; columns meet at the vanishing point.
  c.fillStyle = "rgb(120,105,60)";
  c.fillRect(-span, 0, 2 * span, span);
  const vOf = (d) => (400 / d - 4) * k;
  const uOf = (gx, v) => gx * (v / k + 4) * k;
  const near = 0.4, far = 25, reach = 1.5 * 1.2 * w / k;
  c.beginPath();
  for (let n = Math.floor((near + travel) * 0.8); n / 0.8 - travel < far; ++n) {
    const d0 = Math.max(near, n / 0.8 - travel), d1 = (n + 1) / 0.8 - travel;
    const v0 = vOf(d0), v1 = vOf(d1);
    const cols = Math.ceil(reach / (v1 / k + 4));
    for (let m = -cols; m < cols; ++m) {
      if (((n + m) & 1) === 0) continue;
      const g0 = m / 1.5, g1 = (m + 1) / 1.5;
      c.moveTo(uOf(g0, v0), v0);
      c.lineTo(uOf(g1, v0), v0);
      c.lineTo(uOf(g1, v1), v1);
      c.lineTo(uOf(g0, v1), v1);
      c.closePath();
    }
  }
  c.fillStyle = "rgb(90,120,50)";
  c.fill();
  // Haze grows with distance, as in the air over real fields.
  const hazeEnd = vOf(1);
  const haze = c.createLinearGradient(0, 0, 0, hazeEnd);
  haze.addColorStop(0, "rgba(170,185,200,1)");
  for (const d of [60, 40, 25, 15, 10, 6, 4, 2.5, 1.5, 1])
    haze.addColorStop(vOf(d) / hazeEnd, `rgba(170,185,200,${Math.min(1, d / 60)})`);
  c.fillStyle = haze;
  c.fillRect(-span, 0, 2 * span, hazeEnd);
  c.restore();
}
