// The WebAssembly build against the native module: every scene wasm-reference wrote (its text
// and the native rotations) is loaded into the page's solver under node and solved over the same
// frames, and an example's scene saved after the run must be the same text. An example edited
// (the session calls its "edits" list) must save the native side's text, and its rotations equal
// the native module's on that saved text. Both builds compute their maths functions alike (pmath),
// so every rotation of every class, rounding-sensitive rigs included, must agree within 1e-9 rad,
// and be finite or not in both. Prints the largest difference of every class.
//
//   node compare.mjs WASM_DIR REFERENCE_FILE
// Exits 77 (skipped) when the WebAssembly build is missing.
import fs from 'node:fs';
import path from 'node:path';
import {createRequire} from 'node:module';

const [wasmDir, referenceFile] = process.argv.slice(2);
const script = path.resolve(wasmDir, 'tarsel-web.js');
const binary = path.join(wasmDir, 'tarsel-web.wasm');
if (!fs.existsSync(script) || !fs.existsSync(binary)) {
  console.log(`skipped: no WebAssembly build in ${wasmDir} ` +
              '(cmake --preset wasm && cmake --build --preset wasm)');
  process.exit(77);
}
const tolerance = 1e-9;

const create = createRequire(import.meta.url)(script);
// The bytes handed over rather than fetched, as the page does.
const wasm = await create({wasmBinary: fs.readFileSync(binary), printErr: () => {}});
const call = (name, ret, args) => wasm.cwrap(name, ret, args);
const open = call('tarsel_open', 'number', []);
const load = call('tarsel_load', 'number', ['string', 'string']);
const rotations = call('tarsel_rotations', 'string', ['number', 'number']);
const error = call('tarsel_error', 'string', []);
const sceneText = call('tarsel_scene_text', 'string', []);
const setChannel = call('tarsel_set_channel', 'number', ['string', 'number', 'number', 'number', 'number', 'number', 'number']);
const setOption = call('tarsel_set_option', 'number', ['string', 'number', 'number']);
if (!open()) throw new Error(`tarsel_open: ${error()}`);

// Difference of two angles in radians, a whole turn apart counting as none.
const angleDiff = (a, b) => {
  const d = Math.abs(a - b) % (2 * Math.PI);
  return Math.min(d, 2 * Math.PI - d);
};

const byKind = {};
let refused = 0, scenes = 0, examples = 0, edited = 0, values = 0, worst = 0, worstAt = '';
const faults = [];
for (const line of fs.readFileSync(referenceFile, 'utf8').split('\n')) {
  if (!line) continue;
  const ref = JSON.parse(line);
  if (ref.refused_rigs !== undefined) { refused = ref.refused_rigs; continue; }
  ++scenes;
  if (ref.edits) ++edited;
  else if (!ref.name.startsWith('rig ')) ++examples;
  const tally = byKind[ref.kind] ??= {scenes: 0, over: new Set(), worst: 0};
  ++tally.scenes;
  if (!load(ref.scene, ref.name)) {
    faults.push(`${ref.name}: does not load: ${error()}`);
    continue;
  }
  const applied = (ref.edits ?? []).every((e) => (e.channel ? setChannel(...e.channel) : setOption(...e.option)));
  if (!applied) {
    faults.push(`${ref.name}: an edit failed: ${error()}`);
    continue;
  }
  const got = JSON.parse(rotations(ref.first, ref.last));
  const want = ref.native;
  if (JSON.stringify(got.items) !== JSON.stringify(want.items) ||
      got.rotations.length !== want.rotations.length) {
    faults.push(`${ref.name}: other items or frames than the native run`);
    continue;
  }
  // The scene saved after the run, its handlers' option blocks written anew, is the same text.
  if (ref.saved !== null && sceneText() !== ref.saved) faults.push(`${ref.name}: saved scene differs`);
  want.rotations.forEach((frame, f) => frame.forEach((w, k) => {
    const g = got.rotations[f][k];
    ++values;
    const item = want.items[Math.floor(k / 3)];
    const where = `${ref.name} frame ${ref.first + f} ${item} [${k % 3}]`;
    if (w === null || g === null) {
      if (w !== g) faults.push(`${where}: native ${w}, wasm ${g}`);
      return;
    }
    const d = angleDiff(g, w);
    if (d > worst) { worst = d; worstAt = where; }
    if (d > tally.worst) tally.worst = d;
    if (d > tolerance) tally.over.add(ref.name.replace(/ carried$/, ''));
    if (!(d <= tolerance)) faults.push(`${where}: native ${w}, wasm ${g} (${d.toExponential(2)} rad)`);
  }));
}
console.log(`${examples} examples (${edited} of them also edited and saved) and ${(scenes - examples - edited) / 2} sweep rigs, each plain and carried ` +
            `(${refused} rigs passed over, which no scene file can hold): ` +
            `${values} rotation values: largest difference ${worst.toExponential(3)} rad` +
            (worstAt ? ` (${worstAt})` : ''));
for (const [kind, t] of Object.entries(byKind))
  console.log(`  ${kind}: ${t.scenes} scenes, largest difference ${t.worst.toExponential(3)} rad, ` +
              `${t.over.size} ${kind === "example" ? "examples" : "rigs"} over ${tolerance}`);
if (faults.length) {
  console.log(`${faults.length} differ by more than ${tolerance} rad:\n  ` +
              faults.slice(0, 20).join('\n  '));
  process.exit(1);
}
