// The app directory as the launcher will read it: vx-web's /catalogue.json, the same check as
// vx-catalogue's.
import { $, contract, MODE } from "./contract.js";

// The modes an app may ask for, in their numbering.
const APP_MODES = contract.modes.filter((m) => m.mode !== MODE.unknown);

function entryRow(e) {
  const row = document.createElement("div");
  if (e.listed) {
    const where = APP_MODES.filter((m) => e.allowed[m.word]).map((m) => m.name).join(", ") ||
      "no mode";
    row.textContent = `✓ ${e.name}: modes ${e.modes} (runs in ${where}), version ${e.version}` +
      (e.manifest === "read" ? "" : `; manifest ${e.manifest}`);
  } else {
    row.className = "skipped";
    row.textContent = `✗ ${e.name}: ${e.skipped}`;
  }
  return row;
}

export async function checkCatalogue() {
  const el = $("catalogue");
  try {
    const r = await (await fetch("catalogue.json", { cache: "no-store" })).json();
    el.textContent = "";
    const head = document.createElement("div");
    head.textContent = r.error ? `${r.dir}: ${r.error}`
      : `${r.dir}: ${r.listed} app(s) listed, ${r.entries.length - r.listed} passed over`;
    el.append(head);
    for (const e of r.entries) {
      el.append(entryRow(e));
      for (const n of [...(e.ignored || []), ...(e.cut || []), ...(e.modes_notes || [])]) {
        const note = document.createElement("div");
        note.className = "note";
        note.textContent = `line ${n.line}: ${n.why}  [${JSON.stringify(n.text).slice(1, -1)}]`;
        el.append(note);
      }
    }
  } catch (e) {
    el.textContent = `cannot check: ${e}`;
  }
}
$("catalogue-again").addEventListener("click", checkCatalogue);
