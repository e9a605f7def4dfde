// The virtual goggles' page in Debian's chromium: a person's session with the real launcher
// on the virtual board, from the first PLAY hold to the AV overlay, through the page only.
//
//   VX_WEB=path/to/vx-web  (default build/host/sim/vx-web)
//   VX_SHOTS=DIR           also write screenshots of the menu and the overlay there
import { test, before, after } from "node:test";
import assert from "node:assert/strict";
import { spawn, execFile } from "node:child_process";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { fileURLToPath } from "node:url";
import { chromium } from "playwright-core";

const ROOT = path.resolve(path.dirname(fileURLToPath(import.meta.url)), "../..");
const VX_WEB = process.env.VX_WEB || path.join(ROOT, "build/host/sim/vx-web");
const CHROMIUM = process.env.CHROMIUM || "/usr/bin/chromium";
const SHOTS = process.env.VX_SHOTS || "";

// What the page and these checks take from the launcher and the board (/contract.json): the
// menu's probe points and palette, the buttons and modes by number, the timings.
let contract, COL_PANEL, COL_ROW_HIGHLIGHT, KEY, MODE, OPEN_HOLD, CLOSE_HOLD, CLOSED;
// 0xAARRGGBB as the page's pixels read: [r, g, b, a].
const rgba = (v) => [(v >>> 16) & 255, (v >>> 8) & 255, v & 255, v >>> 24];
const seconds = (ms) => String(ms / 1000);

function takeContract(c) {
  contract = c;
  COL_PANEL = rgba(c.colours.panel);
  COL_ROW_HIGHLIGHT = rgba(c.colours.row_highlight);
  KEY = Object.fromEntries(c.keys.map((k) => [k.word, k.key]));
  MODE = Object.fromEntries(c.modes.map((m) => [m.word, m.mode]));
  // Holds this far past the thresholds cross them however the launcher's passes fall.
  OPEN_HOLD = c.timings.hold_open_ms + 500;
  CLOSE_HOLD = c.timings.hold_close_ms + 300;
  CLOSED = `menu closed (hold play ${seconds(c.timings.hold_close_ms)} s)`;
}

// Two apps that write to their logs and end by themselves (chatter with status 3), allowed
// on both video paths; one that ignores SIGTERM; one the NORMAL menu refuses to start.
const talk = (name, status) => `#!/bin/sh
for i in 1 2 3; do
    echo "${name}: line $i"
    sleep 0.8
done
echo "${name} done"
exit ${status}
`;
const APPS = {
  chatter: [talk("chatter", 3), "desc=Talks, then ends with status 3\nmodes=normal,av\n"],
  ticker: [talk("ticker", 0), "desc=Talks, then ends\nmodes=normal,av\n"],
  stubborn: ["#!/bin/sh\ntrap '' TERM\necho 'stubborn: up'\nwhile :; do sleep 0.2; done\n",
    "desc=Ignores SIGTERM\n"],
  "hdmi-only": ["#!/bin/sh\necho never\n", "desc=Needs the HDMI input\nmodes=hdmi\n"],
};
const N_APPS = Object.keys(APPS).length;

let apps, server, serverOut = "", url, browser, page;

function near(px, want, tol = 3) {
  return px.every((v, i) => Math.abs(v - want[i]) <= tol);
}

async function waitFor(what, fn, timeout = 5000) {
  const end = Date.now() + timeout;
  let last;
  while (Date.now() < end) {
    last = await fn();
    if (last) return last;
    await new Promise((r) => setTimeout(r, 50));
  }
  assert.fail(`timed out waiting for ${what} (last: ${JSON.stringify(last)})\n` +
              `--- launcher log ---\n${await text("#launcher-log").catch(() => "?")}`);
}

const text = (sel) => page.locator(sel).textContent();
const pagePixel = (x, y) => page.evaluate(([x, y]) => window.vxGoggles.pagePixel(x, y), [x, y]);
const boardState = () => page.evaluate(() => window.vxGoggles.state);
const panelProbe = () => pagePixel(contract.menu.panel_probe.x, contract.menu.panel_probe.y);
const menuShown = async () => near(await panelProbe(), COL_PANEL);
const logHas = async (needle) => (await text("#launcher-log")).includes(needle);

// The highlighted row of the menu, -1 for none.
async function selectedRow() {
  const { row_probe: p, row_pitch: pitch, rows } = contract.menu;
  for (let i = 0; i < rows; ++i)
    if (near(await pagePixel(p.x, p.y + pitch * i), COL_ROW_HIGHLIGHT)) return i;
  return -1;
}

// Moves the selection to the app `name` with 40 ms taps, each of which must move it.
async function select(name) {
  const r = await page.evaluate(() => fetch("catalogue.json").then((res) => res.json()));
  const want = r.entries.filter((e) => e.listed).map((e) => e.name).indexOf(name);
  assert.ok(want >= 0, name);
  for (let row = await selectedRow(); row !== want; row = await selectedRow()) {
    const next = row < want ? row + 1 : row - 1;
    await holdButton(row < want ? "#key-down" : "#key-up", 40);
    await waitFor(`row ${next} highlighted`, async () => (await selectedRow()) === next);
  }
}

// vx-scenario's exit status and report, on a recorded session.
const replay = (...args) => new Promise((resolve) => execFile(
  path.join(path.dirname(VX_WEB), "vx-scenario"), args,
  (err, out) => resolve({ code: err ? err.code : 0, out })));
let replays;

const median = (v) => [...v].sort((a, b) => a - b)[Math.floor(v.length / 2)];

// A button held on the page's keyboard for `ms`, as a finger holds it.
async function holdKey(key, ms) {
  await page.keyboard.down(key);
  await page.waitForTimeout(ms);
  await page.keyboard.up(key);
}

// The same with the mouse on the page's button.
async function holdButton(id, ms) {
  const box = await page.locator(id).boundingBox();
  await page.mouse.move(box.x + box.width / 2, box.y + box.height / 2);
  await page.mouse.down();
  await page.waitForTimeout(ms);
  await page.mouse.up();
}

before(async () => {
  assert.ok(fs.existsSync(VX_WEB), `${VX_WEB} (build the vx-web target first)`);
  apps = fs.mkdtempSync(path.join(os.tmpdir(), "vx-web-apps-"));
  for (const [name, [script, manifest]] of Object.entries(APPS)) {
    fs.mkdirSync(path.join(apps, name));
    fs.writeFileSync(path.join(apps, name, "app"), script, { mode: 0o755 });
    fs.writeFileSync(path.join(apps, name, "manifest"), manifest);
  }
  server = spawn(VX_WEB, ["--port", "0", "--apps", apps], { stdio: ["ignore", "pipe", "pipe"] });
  server.stdout.on("data", (d) => (serverOut += d));
  server.stderr.on("data", (d) => (serverOut += d));
  const port = await new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error(`vx-web did not start:\n${serverOut}`)), 20000);
    const look = () => {
      const m = serverOut.match(/http:\/\/127\.0\.0\.1:(\d+)\//);
      if (m) { clearTimeout(timer); resolve(Number(m[1])); }
    };
    server.stdout.on("data", look);
    server.on("exit", (code) => reject(new Error(`vx-web exited ${code}:\n${serverOut}`)));
  });
  url = `http://127.0.0.1:${port}/`;
  takeContract(await (await fetch(`${url}contract.json`)).json());
  browser = await chromium.launch({ executablePath: CHROMIUM, args: ["--no-sandbox"] });
  page = await browser.newPage({ viewport: { width: 1500, height: 1000 } });
  page.on("pageerror", (e) => console.error("page error:", e.message));
});

after(async () => {
  if (browser) await browser.close();
  if (server && server.exitCode === null) server.kill("SIGKILL");
  for (const f of apps ? [apps, `${apps}-changed`, `${apps}.scn`] : [])
    fs.rmSync(f, { recursive: true, force: true });
});

test("the goggles on the page", async (t) => {
  await page.goto(url);
  await waitFor("the launcher's scan in the log", () => logHas(`scan done: ${N_APPS} apps`), 15000);
  await waitFor("the service shown running", async () => /^running/.test(await text("#service")));
  const picture = () => page.evaluate(() => document.getElementById("screen").toDataURL());
  const first = await picture();
  await page.waitForTimeout(300);
  assert.notEqual(await picture(), first, "the stand-in video moves");
  // What follows, to the closing hold, is recorded (R) and replayed while the later tests run.
  await page.keyboard.press("KeyR");

  const { hold_block_ms: block, hold_open_ms: open } = contract.timings;
  await t.test(`holding PLAY shows the progress panel, then opens the menu at ${seconds(open)} s`,
    async () => {
      const before = (await page.evaluate(() => window.vxGoggles.latencies)).length;
      await page.keyboard.down("Space");
      const pressed = Date.now();
      // The panel is drawn once the hold has taken the buttons; the page shows it once the
      // next picture has come, which on a loaded machine may take a few hundred ms more.
      const holdPanel = () => pagePixel(contract.hold_panel_probe.x, contract.hold_panel_probe.y);
      await page.waitForTimeout(block + 200);
      let panel = await holdPanel();
      while (!near(panel, COL_PANEL) && Date.now() - pressed < open - 100) {
        await page.waitForTimeout(50);
        panel = await holdPanel();
      }
      const midway = await boardState();
      const menuEarly = await menuShown();
      const heldLabel = await page.evaluate(() => window.vxGoggles.held);
      await page.waitForTimeout(Math.max(0, OPEN_HOLD - (Date.now() - pressed)));
      await page.keyboard.up("Space");
      assert.equal(heldLabel, "PLAY");
      assert.equal(midway.button, KEY.PLAY, "the ADC holds PLAY's sample while the key is down");
      assert.ok(near(panel, COL_PANEL), `progress panel before ${open - 100} ms: ${panel}`);
      assert.ok(!menuEarly, "no menu while the progress panel shows");
      await waitFor("the menu's log line", () => logHas(`menu open (hold play, ${N_APPS} apps)`));
      await waitFor("the menu panel on the screen image", menuShown);
      // Every picture of the progress panel and the menu, from the launcher's pan to the page.
      const lat = (await page.evaluate(() => window.vxGoggles.latencies)).slice(before);
      console.log(`# the launcher's pan to the picture on the page: median ${median(lat)} ms, ` +
                  `max ${Math.max(...lat)} ms over ${lat.length} pictures (target 100 ms)`);
      assert.ok(lat.length >= 5 && median(lat) < 1000, lat);
      assert.equal(await text("#service"), "stopped");
      assert.ok(await logHas("the goggles' service paused"), "the log's lines carry their meaning");
      if (SHOTS) await page.screenshot({ path: path.join(SHOTS, "normal-menu.png") });
    });

  await t.test("taps of 40 ms and instant key presses move the selection",
    async () => {
      assert.equal(await selectedRow(), 0);
      const pressed = Date.now();
      await holdButton("#key-down", 40);
      await waitFor("the second row highlighted", async () => (await selectedRow()) === 1);
      const pressToPicture = Date.now() - pressed;
      const held = (await boardState()).press_ms;
      await page.keyboard.press("ArrowUp");
      await waitFor("the first row again", async () => (await selectedRow()) === 0);
      console.log(`# press to picture: ${pressToPicture} ms for a 40 ms tap, held ${held} ms ` +
                  "on the line until the launcher had seen it (it acts on the release)");
      assert.ok(held >= 40 && held < 1000, `a short press is stretched until seen: ${held} ms`);
    });

  await t.test("MIDDLE starts an app, the page shows its log and how it ended", async () => {
    await select("chatter");
    await holdKey("Enter", 40);
    const [, pid] = await waitFor("the launch in the log", async () =>
      (await text("#launcher-log")).match(/launched chatter pid=(\d+)/));
    await waitFor("the app shown running", async () =>
      (await text("#app-name")) === `chatter running (pid ${pid})`);
    await waitFor("its log tail", async () => (await text("#app-log")).includes("chatter: line 2"));
    assert.equal(await text("#service"), "stopped", "the service stays stopped under an app");
    assert.match(await text("#processes"), new RegExp(`^\\s*${pid}\\s+\\S\\s+app chatter$`, "m"));

    await waitFor("the app's end", () => logHas("child chatter exited"), 8000);
    await waitFor("the app shown ended, as the board recorded it", async () =>
      (await text("#app-name")) === "chatter (exited 3)");
    assert.ok((await text("#app-log")).includes("chatter done"));
    await waitFor("the menu back on the screen image", menuShown);
  });

  const killAfter = contract.timings.escape_kill_after_ms;
  await t.test(`stop app: SIGTERM to the app's group, SIGKILL ${seconds(killAfter)} s later to one that ignores it`,
    async () => {
      await select("stubborn");
      await holdKey("Enter", 40);
      await waitFor("its first line", async () => (await text("#app-log")).includes("stubborn: up"));
      const stopped = Date.now();
      await page.keyboard.press("KeyK");
      await waitFor("SIGTERM sent", async () => (await text("#stop-text")).includes("SIGTERM sent"));
      await waitFor("SIGKILL sent", async () => (await text("#stop-text")).includes("SIGKILL"), 8000);
      assert.ok(Date.now() - stopped >= killAfter - 100, `SIGKILL only after ${killAfter} ms`);
      await waitFor("the launcher collecting it", () => logHas("child stubborn exited"));
      await waitFor("no process of the app left", async () =>
        !(await text("#processes")).includes("stubborn"));
      await waitFor("the menu back", menuShown);
    });

  await t.test("a start the mode refuses shows the launcher's notice, explained", async () => {
    await select("hdmi-only");
    await holdKey("Enter", 40);
    await waitFor("the notice on the page", async () =>
      (await text("#notice")).includes("hdmi-only needs another video mode"));
    assert.ok(!(await logHas("launched hdmi-only")));
    await waitFor("the notice gone with the launcher's", async () =>
      await page.locator("#notice").isHidden(), 4000);
  });

  await t.test(`a ${seconds(contract.timings.hold_close_ms)} s hold on the PLAY button closes the menu, and the recording is downloaded`,
    async () => {
      await holdButton("#key-play", CLOSE_HOLD);
      await waitFor("the close in the log", () => logHas(CLOSED));
      await waitFor("the goggles' own page back (transparent)", async () =>
        (await panelProbe())[3] === 0);
      await waitFor("the service running", async () => /^running/.test(await text("#service")));
      const download = page.waitForEvent("download");
      await page.keyboard.press("KeyR");
      assert.match((await download).suggestedFilename(), /^recording-\d{8}-\d{6}\.scn$/);
      const changed = `${apps}-changed`, file = `${apps}.scn`;
      fs.writeFileSync(file, await page.evaluate(() => fetch("recording.scn").then((r) => r.text())));
      fs.cpSync(apps, changed, { recursive: true });
      fs.writeFileSync(path.join(changed, "chatter/app"), talk("chatter", 0));
      // On both clocks, and against a chatter that ends otherwise, while the later tests run.
      replays = Promise.all(
        [replay(file), replay("--realtime", file), replay("--apps", changed, file)]);
    });

  await t.test("in AV mode a hold opens the overlay with the app list", async () => {
    await page.click("#mode-av");
    await waitFor("the registers saying AV", async () => (await text("#registers")) === "AV");
    await holdKey("KeyP", OPEN_HOLD);
    await waitFor("the overlay's log line", () => logHas(`menu OSD open (av, ${N_APPS} apps)`));
    const s = await waitFor("the overlay enabled with both apps", async () => {
      const st = await boardState();
      const cells = st.osd.rows.join("\n");
      return st.osd.enabled && cells.includes("CHATTER") && cells.includes("TICKER") && st;
    });
    const shown = await text("#osd-text");
    assert.ok(shown.includes("CHATTER") && shown.includes("TICKER"), shown);
    // The grid is drawn on the picture: the C of CHATTER is white ink, a blank cell is not.
    const row = s.osd.rows.findIndex((r) => r.includes("CHATTER"));
    const col = s.osd.rows[row].indexOf("CHATTER");
    await page.waitForTimeout(100);
    const ink = await page.evaluate(([r, c]) => window.vxGoggles.osdCellInk(r, c), [row, col]);
    const blankRow = s.osd.rows.findIndex((r) => r.trim() === "");
    const bg = await page.evaluate(([r]) => window.vxGoggles.osdCellInk(r, 16), [blankRow]);
    assert.ok(ink >= 240 && bg < 220, `ink ${ink}, background ${bg}`);
    if (SHOTS) await page.screenshot({ path: path.join(SHOTS, "av-overlay.png") });
    await holdKey("Space", CLOSE_HOLD);
    await waitFor("the overlay closed", () => logHas(CLOSED));
  });

  await t.test("without the I2C transport the page says so and the menu stays shut",
    async () => {
      const failedBefore = (await boardState()).mode.transport;
      assert.equal(failedBefore, true);
      await page.keyboard.press("KeyX");
      await waitFor("the transport shown down", async () =>
        (await text("#registers")).includes("I2C transport down"));
      assert.ok(await page.locator("#mode-none.on").count());
      const before = (await text("#launcher-log")).length;
      await holdKey("Space", OPEN_HOLD);
      // The mode cannot be read: the launcher takes it for unknown and keeps the menu shut.
      await waitFor("the refusal", async () =>
        (await text("#launcher-log")).slice(before).includes(`menu refused: mode=${MODE.unknown}`));
      const after = (await text("#launcher-log")).slice(before);
      assert.ok(!after.includes("menu open") && !after.includes("menu OSD open"), after);
      assert.equal((await panelProbe())[3], 0, "the goggles' own page stays on screen");
      assert.match(await text("#events"), /no menu in unknown mode/);
      await page.keyboard.press("Digit1");
      await waitFor("NORMAL again", async () => (await text("#registers")) === "NORMAL");
    });

  await t.test("a second tab sees the same board, and its held button ends with it", async () => {
    const tab = await browser.newPage();
    await tab.goto(url);
    await tab.waitForFunction(() => window.vxGoggles.state !== null);
    // The first tab's log arrives in the second as well.
    const log2 = await tab.locator("#launcher-log").textContent();
    assert.ok(log2.includes(CLOSED));
    const box = await tab.locator("#key-up").boundingBox();
    await tab.mouse.move(box.x + 5, box.y + 5);
    await tab.mouse.down();
    await waitFor("the other tab's press on the ADC", async () => (await boardState()).button === KEY.UP);
    await tab.close();
    await waitFor("the ADC let go when the tab closed", async () =>
      (await boardState()).button === -1);
  });

  await t.test("a page of another origin cannot drive the board", async () => {
    const tab = await browser.newPage();
    await tab.goto("about:blank");
    const opened = await tab.evaluate((u) => new Promise((resolve) => {
      const ws = new WebSocket(u);
      ws.onopen = () => resolve(true);
      ws.onerror = ws.onclose = () => resolve(false);
    }), url.replace("http", "ws") + "ws");
    await tab.close();
    assert.equal(opened, false);
  });
});

test("the recorded session replays with vx-scenario, and fails where the app ends otherwise",
  async () => {
    const [stepped, realtime, changed] = await replays;
    for (const r of [stepped, realtime]) assert.equal(r.code, 0, r.out);
    assert.equal(changed.code, 1, changed.out);
    assert.match(changed.out, /expected chatter exited 3\n\s+found\s+exited 0/);
  });

test("SIGTERM takes the board down with the server", async () => {
  // The sandbox is recognisable by the app directory it binds.
  const boardProcs = () => fs.readdirSync("/proc").filter((p) => {
    if (!/^\d+$/.test(p)) return false;
    try {
      return fs.readFileSync(`/proc/${p}/cmdline`, "utf8").includes(apps);
    } catch {
      return false;
    }
  });
  const running = boardProcs().filter((p) => Number(p) !== server.pid);
  assert.ok(running.length > 0, "the sandbox was found while running");
  const exited = new Promise((resolve) => server.on("exit", (code, sig) => resolve({ code, sig })));
  server.kill("SIGTERM");
  const { code } = await exited;
  assert.equal(code, 0, serverOut.slice(-2000));
  assert.match(serverOut, /board stopped/);
  assert.deepEqual(boardProcs(), []);
});
