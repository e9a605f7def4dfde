// vx-web's own CPU time while one page is open and nothing on the board changes: the
// launcher idle, no app, no button. Prints the share of one core over SECONDS.
//
//   node tools/bench/web_idle.mjs VX-WEB [SECONDS]    (tools/web-idle-cpu.sh runs it)
import { spawn } from "node:child_process";
import fs from "node:fs";
import { createRequire } from "node:module";
import os from "node:os";
import path from "node:path";
import { fileURLToPath } from "node:url";

const ROOT = path.resolve(path.dirname(fileURLToPath(import.meta.url)), "../..");
const { chromium } = createRequire(path.join(ROOT, "tests/browser/package.json"))("playwright-core");
const [vxWeb, seconds = "30"] = process.argv.slice(2);
const span = Number(seconds);
const TICKS_PER_S = 100; // USER_HZ on Linux

// utime + stime of every thread of the process, in ticks.
const cpuTicks = (pid) => {
  const f = fs.readFileSync(`/proc/${pid}/stat`, "utf8");
  const fields = f.slice(f.lastIndexOf(")") + 2).split(" ");
  return Number(fields[11]) + Number(fields[12]);
};

const server = spawn(vxWeb, ["--port", "0"], { stdio: ["ignore", "pipe", "inherit"] });
let out = "";
const url = await new Promise((resolve, reject) => {
  server.stdout.on("data", (d) => {
    out += d;
    const m = out.match(/http:\/\/127\.0\.0\.1:\d+\//);
    if (m) resolve(m[0]);
  });
  server.on("exit", (code) => reject(new Error(`vx-web exited ${code}`)));
});
const browser = await chromium.launch({ executablePath: process.env.CHROMIUM || "/usr/bin/chromium",
                                        args: ["--no-sandbox"] });
try {
  const page = await browser.newPage({ viewport: { width: 1500, height: 1000 } });
  await page.goto(url);
  // Until the launcher has started and logged its scan, and a little while after.
  await page.waitForFunction(() => document.getElementById("launcher-log").textContent.includes("scan done"));
  await page.waitForTimeout(3000);
  const t0 = cpuTicks(server.pid), w0 = Date.now();
  await page.waitForTimeout(span * 1000);
  const ticks = cpuTicks(server.pid) - t0, wall = (Date.now() - w0) / 1000;
  console.log(`vx-web idle with one page open: ${(100 * ticks / TICKS_PER_S / wall).toFixed(2)} % ` +
              `of one core over ${wall.toFixed(1)} s (${ticks} ticks; ${os.cpus().length} cores)`);
} finally {
  await browser.close();
  server.kill("SIGTERM");
}
