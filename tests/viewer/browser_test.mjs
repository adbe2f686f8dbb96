// The viewer in a real browser: each example's page, opened from a file URL in Debian's chromium
// (driven by playwright-core, no browser downloaded), draws every bone with no console error,
// puts every item where the run report does after scrubbing, plots the report's figures in bands
// of their keys' colours under heads that stay put, frames the rig clear of the title and help
// text in Front and Side, shows an item with its limits (and which held) when clicked, gives each
// meaning its own colour, and draws a picture that changes as the rig moves; its own solver, when
// built in, gives the runner's rotations; edits in it (a drag, an option) are saved as files the
// runner reproduces, and undone.
// A generated 2,752-frame scene opens and plays too; its page size and time to first frame are
// printed (figures for notes, not assertions).
// Usage: node browser_test.mjs RUNNER EXAMPLES_DIR OUT_DIR
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { existsSync, mkdtempSync, readFileSync, rmSync, statSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';
import { createRequire } from 'node:module';

const [runner, examplesDir, outDir] = process.argv.slice(2);
const require = createRequire(import.meta.url);
const here = dirname(fileURLToPath(import.meta.url));
const { chromium } = require(join(here, '../../node_modules/playwright-core'));
const examples = ['two_bone_arm', 'leg_limits', 'tail_cone', 'branching', 'plugin_effect'];
const tolerance = 1e-6;

let context, profile;
before(async () => {
  profile = mkdtempSync(join(tmpdir(), 'tarsel-browser-'));
  context = await chromium.launchPersistentContext(profile, {
    executablePath: process.env.TARSEL_CHROMIUM || '/usr/bin/chromium',
    headless: true,
    viewport: { width: 1000, height: 700 },
    args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking', '--disable-component-update',
           '--disable-sync', '--no-first-run'],
  });
});
after(async () => {
  await context?.close();
  rmSync(profile, { recursive: true, force: true });
});

// A new page with every console error, page error and network request collected; `init` runs in
// the page before its own scripts.
async function openPage(html, init) {
  const page = await context.newPage();
  const errors = [];
  page.on('console', (m) => { if (m.type() === 'error') errors.push(m.text()); });
  page.on('pageerror', (e) => errors.push(e.message));
  page.on('request', (r) => { if (!r.url().startsWith('file:') && !r.url().startsWith('blob:')) errors.push(`network request: ${r.url()}`); });
  if (init) await page.addInitScript(init);
  await page.goto('file://' + html);
  return { page, errors };
}
const hasSolver = (html) => readFileSync(html, 'utf8').includes('id="tarsel-wasm"');
const viewState = (page) => page.evaluate(() => window.tarselView.state());
const solverReady = (page, timeout = 30000) =>
  page.waitForFunction(() => window.tarselView?.state().solver === 'ready', null, { timeout });
const passDone = (page) => page.waitForFunction(() => window.tarselView.state().resolve.stale === 0, null, { timeout: 120000 });
// Presses at (x, y), moves by (dx, dy) in steps and lets go: a drag of whatever is under the pointer.
async function drag(page, [x, y], dx, dy, steps = 10) {
  await page.mouse.move(x, y);
  await page.mouse.down();
  await page.mouse.move(x + dx / 2, y + dy / 2, { steps: steps / 2 });
  await page.mouse.move(x + dx, y + dy, { steps: steps / 2 });
  await page.mouse.up();
}
// Clicks an object to put the gizmo on it.
async function grab(page, name) {
  const at = await page.evaluate((n) => window.tarselView.screen(n), name);
  await page.mouse.click(...at);
  assert.equal((await viewState(page)).dragged, name);
  return at;
}

const near = (a, b, what) => {
  assert.ok(a !== null && b !== null, `${what}: missing`);
  const d = Math.max(...a.map((v, k) => Math.abs(v - b[k])));
  assert.ok(d <= tolerance, `${what}: ${JSON.stringify(a)} vs ${JSON.stringify(b)} (off by ${d})`);
};
const dist = (a, b) => Math.hypot(a[0] - b[0], a[1] - b[1], a[2] - b[2]);

async function scrub(page, index) {
  await page.evaluate((i) => {
    const s = document.getElementById('scrub');
    s.value = String(i);
    s.dispatchEvent(new Event('input'));
  }, index);
  return page.evaluate(() => window.tarselView.state());
}
// How much of the view differs from its background, and a fingerprint of the pixels.
const picture = (page) => page.evaluate(() => {
  const src = document.querySelector('#view canvas');
  const c = document.createElement('canvas');
  c.width = src.width; c.height = src.height;
  const g = c.getContext('2d');
  g.drawImage(src, 0, 0);
  const px = g.getImageData(0, 0, c.width, c.height).data;
  let drawn = 0, hash = 0;
  for (let i = 0; i < px.length; i += 4) {
    if (Math.abs(px[i] - 251) + Math.abs(px[i + 1] - 251) + Math.abs(px[i + 2] - 252) > 24) drawn++;
    hash = (hash * 31 + px[i] + 7 * px[i + 1] + 13 * px[i + 2]) >>> 0;
  }
  return { drawn: drawn / (px.length / 4), hash };
});

// An example whose items have names that are markup, to show that names cannot break the page.
// "<!--<script>" would put the data's script into its escaped state and the page would never start;
// a line separator ends a string in older JavaScript.
const markupName = '<!--<script></script><b id="injected">&amp;"\u2028';
function markupScene() {
  const scene = JSON.parse(readFileSync(join(examplesDir, 'two_bone_arm.json'), 'utf8'));
  scene.items.find((i) => i.name === 'forearm').name = markupName;
  scene.description = '</script><script>window.injected = 1</script>';
  const path = join(outDir, 'markup <!--<script> names.json');
  writeFileSync(path, JSON.stringify(scene));
  return path;
}

// The arm changed: a rig mistake (its forearm has a rest_position but no position), or limits on
// the shoulder's heading and the elbow that each hold the solve on some frames.
function armScene(name, change) {
  const scene = JSON.parse(readFileSync(join(examplesDir, 'two_bone_arm.json'), 'utf8'));
  change(scene.items.find((i) => i.name === 'forearm'), scene.items.find((i) => i.name === 'upper_arm'));
  const path = join(outDir, `${name}.json`);
  writeFileSync(path, JSON.stringify(scene));
  return path;
}
const variants = {
  markup_names: markupScene,
  warned_arm: () => armScene('warned_arm', (forearm) => { delete forearm.position; }),
  limited_arm: () => armScene('limited_arm', (forearm, upper) => {
    forearm.limits = { pitch: [-100, -40] };
    upper.limits = { heading: [-5, 80] };
  }),
};
const rgb = (text) => (text.match(/rgba?\((\d+), (\d+), (\d+)/) || []).slice(1).map(Number);
// Each legend's entries (label and swatch colour, a gradient's first), and that no two share a colour.
const swatches = (page, legends, entry) => page.$$eval(legends, (ls, entry) => ls.map((l) => [...l.querySelectorAll(entry)].map((e) => {
  const st = getComputedStyle(e.querySelector('i'));
  return { label: e.textContent, color: st.backgroundImage !== 'none' ? st.backgroundImage : st.backgroundColor };
})), entry);
const distinctColours = (keys, what) => keys.forEach((a, i) => keys.slice(i + 1).forEach((b) => assert.ok(
  Math.hypot(...rgb(a.color).map((v, k) => v - rgb(b.color)[k])) >= 40, `${what}: "${a.label}" and "${b.label}" share a colour`)));

for (const name of [...examples, ...Object.keys(variants)]) {
  test(name, async () => {
    const scenePath = variants[name] ? variants[name]() : join(examplesDir, `${name}.json`);
    const html = join(outDir, `${name}.html`), reportPath = join(outDir, `${name}.report.json`);
    execFileSync(runner, ['view', scenePath, '-o', html], { stdio: 'pipe' });
    execFileSync(runner, ['run', scenePath, '--format', 'json', '-o', reportPath], { stdio: 'pipe' });
    const report = JSON.parse(readFileSync(reportPath, 'utf8'));
    const sceneBones = JSON.parse(readFileSync(scenePath, 'utf8')).items.filter((i) => i.type === 'bone');
    const heads = () => page.$$eval('.plot .head, .plot .head *', (es) => es.map((e) => JSON.stringify(e.getBoundingClientRect())));

    const { page, errors } = await openPage(html);
    await page.waitForFunction(() => window.tarselView !== undefined);
    let state = await page.evaluate(() => window.tarselView.state());
    assert.equal(state.drawn.bones, sceneBones.length, 'bones drawn');
    // The mark `render` looks for before it trusts a picture (hostile names included).
    assert.equal(await page.evaluate(() => document.body.dataset.tarselDrawn), 'yes', 'drawn mark');
    assert.equal(state.bones.length, sceneBones.length);

    // One colour per meaning in the legend and in each plot's keys.
    distinctColours((await swatches(page, '#legend', 'div'))[0].filter((e) => !e.label.startsWith('object axes')), 'legend');
    const plotKeys = await swatches(page, '.plot', '.key');
    plotKeys.forEach((keys) => distinctColours(keys, 'plot keys'));
    const headsAtStart = await heads();

    const n = report.frames.length;
    const pictures = [];
    for (const index of [...new Set([Math.floor(n / 2), n - 1, 0, Math.floor(n / 3)])]) {
      state = await scrub(page, index);
      const frame = report.frames[index];
      assert.equal(state.frame, frame.frame, 'frame shown');
      // The plots' heads stay put while scrubbing and read values in fixed-point.
      assert.deepEqual(await heads(), headsAtStart, `frame ${frame.frame}: the plot legends moved`);
      assert.doesNotMatch(await page.locator('#plots').innerText(), /\d[eE][-+]?\d/, 'a value in e-notation');
      const viewed = new Map(state.items.map((i) => [i.name, i]));
      for (const item of frame.items) {
        const v = viewed.get(item.name);
        near(v.position, item.position, `frame ${frame.frame} ${item.name} position`);
        near(v.local_rotation, [item.heading, item.pitch, item.bank], `frame ${frame.frame} ${item.name} rotation`);
        if (item.tip) near(v.tip, item.tip, `frame ${frame.frame} ${item.name} tip`);
      }
      for (const [k, chain] of frame.chains.entries()) {
        const v = state.chains[k];
        assert.equal(v.root, chain.root);
        // The plot's bands say what the report says for the frame.
        assert.deepEqual([v.series.reach, v.series.limits_acted, v.series.twist_off ?? 0, v.limits_acted],
                         [chain.reach, chain.limits.length ? 1 : 0, chain.twist_target.startsWith('off') ? 1 : 0, chain.limits],
                         `frame ${frame.frame} chain ${chain.root}: reach, limit acted, twist target off, the limits`);
        // Each band is a readable strip that, at this frame, has its key's colour when set.
        for (const band of state.plots[k].bands) {
          assert.ok(band.height >= 8, `band ${band.key} is ${band.height} px high`);
          const value = v.series[band.key], x = state.plots[k].cursor_x + (index === n - 1 ? -3 : 3);  // beside the cursor
          const key = plotKeys[k].find((q) => q.label === (typeof value === 'string' ? `${band.label}: ${value}` : band.label));
          const pixel = await page.evaluate(([at, x, y]) => String(document.querySelectorAll('.plot canvas')[at].getContext('2d')
            .getImageData(x * devicePixelRatio, y * devicePixelRatio, 1, 1).data.slice(0, 3)), [k, x, band.top + band.height / 2]);
          assert.equal(pixel === String(rgb(key.color)), value !== 0, `frame ${frame.frame} band ${band.key} ${value}: ${pixel}, key ${key.color}`);
        }
        if (chain.goal_distance === null) continue;
        // The chain's end is its last bone's tip (or its goal position item).
        const d = dist(v.end, v.goal_position);
        assert.ok(Math.abs(d - chain.goal_distance) <= tolerance,
                  `frame ${frame.frame} chain ${chain.root}: end to goal ${d}, report ${chain.goal_distance}`);
        assert.ok(Math.abs(v.series.goal_distance - chain.goal_distance) <= tolerance, 'plotted goal distance');
      }
      // The still picture's own reckoning of the root limits agrees with the page's.
      const svg = execFileSync(runner, ['render', scenePath, '--frame', String(frame.frame), '-o', join(outDir, `${name}.svg`)],
                               { stdio: 'pipe' }) && readFileSync(join(outDir, `${name}.svg`), 'utf8');
      assert.equal(svg.includes(' on-limit"'), state.chains.some((c) => c.root_on_limit), `frame ${frame.frame}: root on its limit`);
      if (index === 0 || index === Math.floor(n / 2)) {
        pictures.push(await picture(page));
        await page.screenshot({ path: join(outDir, `${name}-${frame.frame}.png`) });
      }
    }
    assert.ok(pictures[0].drawn > 0.01, `the picture is blank (${pictures[0].drawn})`);
    assert.notEqual(pictures[0].hash, pictures[1].hash, 'the picture does not change between frames');

    // The page's own solver (when view put it in) gives the runner's rotations on every frame.
    if (await page.evaluate(() => document.getElementById('tarsel-wasm') !== null)) {
      await page.waitForFunction(() => window.tarselView.state().solver !== 'loading');
      assert.equal((await page.evaluate(() => window.tarselView.state())).solver, 'ready');
      const solved = await page.evaluate(([a, b]) => window.tarselView.rotations(a, b),
                                         [report.frames[0].frame, report.frames[n - 1].frame]);
      for (const [f, frame] of report.frames.entries()) {
        for (const item of frame.items) {
          const k = solved.items.indexOf(item.name);
          near(solved.rotations[f].slice(3 * k, 3 * k + 3).map((r) => r * 180 / Math.PI),
               [item.heading, item.pitch, item.bank], `page solver: frame ${frame.frame} ${item.name} rotation`);
        }
      }
    } else {
      console.log(`# ${name}: the page has no solver (the wasm preset is not built)`);
    }

    // Front and Side frame the rig, over the run, clear of the title and the help line.
    for (const view of ['front', 'side']) {
      await page.click(`#presets button[data-view="${view}"]`);
      for (const index of [0, Math.floor(n / 2), n - 1]) {
        await scrub(page, index);
        const [xs, ys] = await page.evaluate(() => {
          const s = window.tarselView.state();
          const at = [...s.items.map((i) => i.position), ...s.bones.map((b) => b.tip)].filter(Boolean).map(window.tarselView.screen);
          return [at.map((p) => p[0]), at.map((p) => p[1])];
        });
        for (const id of ['#title', '#help']) {
          const b = await page.locator(id).boundingBox();
          assert.ok(Math.max(...xs) <= b.x || Math.min(...xs) >= b.x + b.width || Math.max(...ys) <= b.y || Math.min(...ys) >= b.y + b.height,
                    `${view}, frame index ${index}: the rig meets ${id}`);
        }
      }
    }

    // Clicking a bone shows it, with its limits and those that held the solve, on the first frame
    // where one of them did.
    await page.click('#presets button[data-view="persp"]');
    const heldOn = (name, c) => c.limits.filter((w) => (c.root === name && w.startsWith('root ')) || w.startsWith(`${name} `));
    const limited = sceneBones.filter((b) => b.limits).map((b) => b.name);
    for (const name of new Set([...limited, state.bones[state.bones.length - 1].name])) {
      const f = Math.max(0, report.frames.findIndex((fr) => fr.chains.some((c) => heldOn(name, c).length))), frame = report.frames[f];
      const bone = (await scrub(page, f)).bones.find((b) => b.name === name);
      // Another item may cover the bone's middle (its goal, a child on its pivot): a few points along it.
      for (const t of [0.5, 0.75, 0.3, 0.9]) {
        const at = await page.evaluate(([b, t]) => window.tarselView.screen(b.base.map((v, k) => v + t * (b.tip[k] - v))), [bone, t]);
        await page.mouse.click(at[0], at[1]);
        if ((await page.evaluate(() => window.tarselView.state())).inspected === bone.name) break;
      }
      assert.equal((await page.evaluate(() => window.tarselView.state())).inspected, bone.name);
      const text = await page.locator('#inspect').innerText();
      assert.ok(text.includes(bone.name), text);
      const rows = await page.$$eval('#inspect table.limits tr', (trs) => trs.map((tr) => [...tr.cells].map((td) => td.textContent)));
      for (const [channel, [lo, hi]] of Object.entries(sceneBones.find((b) => b.name === name).limits || {})) {
        const word = frame.chains.flatMap((c) => heldOn(name, c)).find((w) => w === `root ${channel}` || w.startsWith(`${name} ${channel} at `));
        // The report names the root's channel alone; the root then sits at the nearer bound.
        const r = frame.items.find((i) => i.name === name)[channel];
        const bound = !word ? '' : word.startsWith('root ') ? (Math.abs(r - lo) <= Math.abs(r - hi) ? 'lower' : 'upper') : word.split(' at ').pop();
        assert.deepEqual(rows.find((row) => row[0] === channel), [channel, lo.toFixed(3), hi.toFixed(3), bound && `held at ${bound}`],
                         `${name} ${channel} at frame ${frame.frame}: the report says ${word}`);
      }
      const chain = frame.chains.find((c) => c.root === bone.name);
      if (chain) assert.ok(text.includes(`limits acted: ${chain.limits.join(', ') || 'none'}`), text);
    }
    // Playing moves the frame on.
    await page.click('#play');
    await page.waitForFunction((f) => window.tarselView.state().frame !== f, state.frame);
    await page.click('#play');
    // The warnings panel shows the runner's warnings, and only when there are some.
    const warnings = page.locator('#warnings');
    assert.equal(await warnings.isVisible(), name === 'warned_arm', 'warnings panel shown');
    if (name === 'warned_arm') assert.match(await warnings.innerText(), /"forearm": has a rest_position but no position/);
    if (name === 'markup_names') {
      assert.ok(state.items.some((i) => i.name === markupName), 'the markup name is shown as text');
      assert.equal(await page.evaluate(() => [window.injected, document.getElementById('injected')].filter(Boolean).length), 0);
    }
    assert.deepEqual(errors, []);
    await page.close();
  });
}

// Saves the page's scene through its "Save scene" button; returns the downloaded file's path.
async function saveScene(page, name) {
  const [download] = await Promise.all([page.waitForEvent('download'), page.click('#save')]);
  const path = join(outDir, name);
  await download.saveAs(path);
  return [path, download.suggestedFilename()];
}
// The runner on a saved file gives the rotations and goal distances the page shows on the given
// frames (the edited one solved at once, the others by the background pass), once that pass is done.
async function reproduces(page, saved, frames, what) {
  await passDone(page);
  const start = await viewState(page);
  for (const f of [start.frame, ...frames]) {
    const reportPath = join(outDir, 'reproduced.report.json');
    execFileSync(runner, ['run', saved, '--frames', String(f), '--format', 'json', '-o', reportPath], { stdio: 'pipe' });
    const report = JSON.parse(readFileSync(reportPath, 'utf8')).frames[0];
    const s = f === start.frame ? start : await scrub(page, f - start.frames[0]);
    for (const item of report.items) {
      near(s.items.find((i) => i.name === item.name).local_rotation, [item.heading, item.pitch, item.bank],
           `${what}: frame ${f} ${item.name} rotation`);
    }
    report.chains.forEach((c, k) => near([s.chains[k].series.goal_distance], [c.goal_distance], `${what}: frame ${f} ${c.root} goal distance`));
  }
  await scrub(page, start.frame - start.frames[0]);
}

// Editing two_bone_arm in the page: dragging the goal re-solves the frame (the chain's end
// follows) and then the other frames, the options panel shows the root's options as `panel`
// prints them, and each saved file is one the runner reproduces the page's rotations from, on the
// edited frame and the others; undoing every edit saves the file byte for byte as it was, a press
// on the gizmo that moves nothing leaves undo and redo alone, redoing gives the edited file again;
// with "key" off a drag moves the goal's keys alike; R turns the gizmo to rotate, and a turn keys
// the goal's rotation as one undo step. Needs the page's solver.
test('editing and saving', async (t) => {
  const scenePath = join(examplesDir, 'two_bone_arm.json'), html = join(outDir, 'edit.html');
  execFileSync(runner, ['view', scenePath, '-o', html], { stdio: 'pipe' });
  if (!hasSolver(html)) return t.skip('the page has no solver (the wasm preset is not built)');
  const { page, errors } = await openPage(html);
  await solverReady(page);
  const state = () => viewState(page);
  let saves = 0;
  const save = async () => {
    const [path, name] = await saveScene(page, `edit-saved-${++saves}.json`);
    assert.equal(name, 'two_bone_arm.json');
    return path;
  };
  const others = [12, 30, 48];
  const original = readFileSync(scenePath, 'utf8');

  const before = await state();
  await drag(page, await grab(page, 'hand_goal'), -30, 20);
  const after = await state();
  const goal0 = before.chains[0].goal_position, goal1 = after.chains[0].goal_position;
  assert.ok(dist(goal0, goal1) > 0.01, `the goal did not move (${JSON.stringify(goal0)} to ${JSON.stringify(goal1)})`);
  assert.ok(dist(after.chains[0].end, goal1) < 1e-4 * 2, `the chain's end is ${dist(after.chains[0].end, goal1)} from the goal`);
  assert.deepEqual([after.frame, after.inspected, after.edits], [before.frame, 'hand_goal', { undo: 1, redo: 0 }]);
  console.log(`# drag: goal moved ${dist(goal0, goal1).toFixed(3)}, solve and evaluation ${after.solve_ms.toFixed(2)} ms for the last drag event`);
  const dragged = await save();
  assert.notEqual(readFileSync(dragged, 'utf8'), original);
  await reproduces(page, dragged, others, 'after the drag');

  // The root's options panel: the labels, values and ranges `panel` prints.
  const bone = after.bones.find((b) => b.name === 'upper_arm');
  await page.mouse.click(30, 200);  // nothing there: the goal's gizmo goes
  await page.mouse.click(...await page.evaluate((b) => window.tarselView.screen(b.base.map((v, k) => (v + b.tip[k]) / 2)), bone));
  assert.equal((await state()).inspected, 'upper_arm');
  const shown = await page.$$eval('#options tr', (trs) => trs.map((tr) => {
    const el = tr.querySelector('[data-id]');
    const value = el.tagName === 'SELECT' ? el.selectedOptions[0].textContent : el.type === 'checkbox' ? (el.checked ? 'on' : 'off') : el.value;
    return `${tr.cells[0].textContent} = ${value}${tr.cells[2].textContent ? `  (${tr.cells[2].textContent})` : ''}`;
  }));
  const printed = execFileSync(runner, ['panel', scenePath], { encoding: 'utf8' }).split('\n').slice(1).filter(Boolean)
    .map((l) => l.trim().replace(/ +=/, ' =').replace(/ \(\d+\)$/, ''));  // an item's file identifier aside
  assert.deepEqual(shown, printed);
  await page.evaluate(() => {
    const el = document.querySelector('#options input[aria-label="Posture Weight"]');
    el.value = '0.25';
    el.dispatchEvent(new Event('change'));
  });
  const weighted = await save();
  assert.match(readFileSync(weighted, 'utf8'), /"PostureWeight 0.25"/);
  await reproduces(page, weighted, others, 'after Posture Weight 0.25');
  // An edit that makes a rig mistake is warned about in the page at once, and undoing it clears it.
  const warned = () => page.$eval('#warnings', (box) => (box.hidden ? '' : box.textContent));
  assert.equal(await warned(), '');
  await page.check('#options input[aria-label="Arbitrary Limit"]');
  assert.match(await warned(), /Arbitrary Limit \(ArbitraryLimit\) is on, but no sibling/);
  await page.click('#undo');
  assert.equal(await warned(), '');

  await page.click('#undo');
  await page.evaluate(() => document.activeElement.blur());
  await page.keyboard.press('Control+z');
  assert.deepEqual((await state()).edits, { undo: 0, redo: 3 });
  assert.equal(readFileSync(await save(), 'utf8'), original, 'undoing every edit');
  const goalAt = await grab(page, 'hand_goal');
  await drag(page, goalAt, 0, 0, 2);  // a press on the gizmo that moves nothing
  assert.deepEqual((await state()).edits, { undo: 0, redo: 3 }, 'a press that moves nothing');
  await page.keyboard.press('Control+Shift+z');
  assert.equal(readFileSync(await save(), 'utf8'), readFileSync(dragged, 'utf8'), 'redoing the drag');
  await reproduces(page, dragged, [], 'after redoing the drag');

  // With "key" off a drag moves every key of the goal alike rather than keying the frame.
  await page.uncheck('#key');
  const goalKeys = (path) => JSON.parse(readFileSync(path, 'utf8')).items.find((i) => i.name === 'hand_goal').position;
  await drag(page, await page.evaluate(() => window.tarselView.screen('hand_goal')), 20, -10);
  const moved = await save(), keysBefore = goalKeys(dragged), keysAfter = goalKeys(moved);
  assert.deepEqual(keysAfter.map((k) => k.frame), keysBefore.map((k) => k.frame));
  const shift = keysAfter[0].value.map((v, c) => v - keysBefore[0].value[c]);
  assert.ok(Math.hypot(...shift) > 0.01, 'the goal did not move');
  keysAfter.forEach((k, j) => near(k.value.map((v, c) => v - keysBefore[j].value[c]), shift, `key ${k.frame} moved alike`));
  await reproduces(page, moved, others, 'after moving the keys');

  // R: the gizmo rotates; a turn keys the goal's rotation at the frame, as one undo step.
  await page.check('#key');
  await page.keyboard.press('r');
  assert.equal((await state()).gizmo.mode, 'rotate');
  const turnedFrom = await state(), rotation = (s) => s.items.find((i) => i.name === 'hand_goal').world_rotation;
  const [rx, ry] = await page.evaluate(() => window.tarselView.screen('hand_goal'));
  let ring = null;  // a handle of the rotate gizmo: along a diagonal from its centre
  for (let r = 0; r <= 150 && !ring; r += 3) {
    await page.mouse.move(rx + r * 0.7, ry - r * 0.7);
    if ((await state()).gizmo.axis) ring = [rx + r * 0.7, ry - r * 0.7];
  }
  assert.ok(ring, 'no rotate handle found');
  await drag(page, ring, 25, 25);
  const turned = await state();
  assert.ok(Math.max(...rotation(turned).map((v, k) => Math.abs(v - rotation(turnedFrom)[k]))) > 1, 'the goal did not turn');
  assert.deepEqual(turned.edits, { undo: turnedFrom.edits.undo + 1, redo: 0 });
  const rotated = await save();
  assert.ok(JSON.parse(readFileSync(rotated, 'utf8')).items.find((i) => i.name === 'hand_goal').rotation.some((k) => k.frame === turned.frame),
            'the turn keyed the rotation at the frame');
  await reproduces(page, rotated, [], 'after the turn');
  await page.click('#undo');
  assert.equal(readFileSync(await save(), 'utf8'), readFileSync(moved, 'utf8'), 'undoing the turn');
  await page.keyboard.press('t');
  assert.equal((await state()).gizmo.mode, 'translate');
  await page.screenshot({ path: join(outDir, 'edit.png') });
  assert.deepEqual(errors, []);
  await page.close();
});

test('a 2,752-frame walk', async () => {
  const scenePath = join(outDir, 'walk.json'), html = join(outDir, 'walk.html');
  execFileSync(process.execPath, [join(here, '../../scripts/make-walk-scene.mjs'), scenePath]);
  const started = Date.now();
  execFileSync(runner, ['view', scenePath, '-o', html], { stdio: 'pipe' });
  const written = Date.now() - started;
  const page = await context.newPage();
  const errors = [];
  page.on('console', (m) => { if (m.type() === 'error') errors.push(m.text()); });
  page.on('pageerror', (e) => errors.push(e.message));
  await page.goto('file://' + html);
  await page.waitForFunction(() => window.tarselView !== undefined);
  const state = await page.evaluate(() => window.tarselView.state());
  assert.equal(state.drawn.bones, 31);
  assert.deepEqual(state.frames, [0, 2751]);
  await page.click('#play');
  await page.waitForFunction(() => window.tarselView.state().frame > 60);
  await page.click('#play');
  await page.screenshot({ path: join(outDir, 'walk.png') });
  console.log(`# walk: scene ${(statSync(scenePath).size / 1e6).toFixed(1)} MB, page ${(statSync(html).size / 1e6).toFixed(1)} MB ` +
              `written in ${written} ms, first frame drawn ${Math.round(state.first_frame_ms)} ms after navigation`);
  assert.deepEqual(errors, []);
  await page.close();
});

// The CMU walk (2,752 frames) rigged on all four limbs: a drag with "key" off moves a goal's keys
// on every frame; the frame shown is solved at once and the rest of the clip in the background, a
// slice at a time; the runner on the saved file then gives the rotations and goal distances the
// page shows on frames far from the edit. The drag's solve time and the background pass's figures
// are printed (figures for notes, not assertions).
test('a four-limb clip solved again after an edit', async (t) => {
  const clip = '/usr/share/assimp/models/BVH/01_01.bvh';
  if (!existsSync(clip)) return t.skip(`${clip} is missing (assimp-testmodels)`);
  const walk = join(outDir, 'limbs-walk.json'), scenePath = join(outDir, 'limbs.json'), html = join(outDir, 'limbs.html');
  execFileSync(runner, ['import', clip, '-o', walk], { stdio: 'pipe' });
  execFileSync(runner, ['rig', walk, '-o', scenePath, '--chain', 'LeftUpLeg:LeftFoot', '--chain', 'RightUpLeg:RightFoot',
                        '--chain', 'LeftArm:LeftHand', '--chain', 'RightArm:RightHand'], { stdio: 'pipe' });
  execFileSync(runner, ['view', scenePath, '-o', html], { stdio: 'pipe' });
  if (!hasSolver(html)) return t.skip('the page has no solver (the wasm preset is not built)');
  const { page, errors } = await openPage(html);
  await solverReady(page, 120000);
  await scrub(page, 300);
  await page.uncheck('#key');
  await drag(page, await grab(page, 'LeftFoot_goal'), -30, 20);
  const dragged = await viewState(page);
  assert.equal(dragged.edits.undo, 1);
  await passDone(page);
  const { last } = (await viewState(page)).resolve;
  assert.equal(last.frames, 2751);
  console.log(`# four-limb clip: drag solve ${dragged.solve_ms.toFixed(2)} ms (the last drag event: the edit, the frame solved, ` +
              `its answer taken in); the other ${last.frames} frames solved again in ${last.slices} slices: ` +
              `${last.solver_ms.toFixed(0)} ms in the solver, ${last.slices_ms.toFixed(0)} ms in the slices, ` +
              `${last.wall_ms.toFixed(0)} ms from start to end, longest slice ${last.longest_slice_ms.toFixed(1)} ms`);
  const [saved] = await saveScene(page, 'limbs-saved.json');
  await reproduces(page, saved, [0, 1500, 2751], 'four-limb clip');
  assert.deepEqual(errors, []);
  await page.close();
});

// Installed in a page before its scripts: the page's program, once window.trapNext is set, traps
// (tarsel_trap, an unreachable instruction) in its next evaluation in place of solving, as a fault
// inside the module would.
function trapHook() {
  let factory;
  Object.defineProperty(window, 'createTarsel', {
    configurable: true,
    set: (f) => { factory = f; },
    get: () => factory && ((options) => factory(options).then((m) => {
      const cwrap = m.cwrap;
      m.cwrap = (name, ...rest) => {
        const f = cwrap(name, ...rest);
        return name === 'tarsel_view_data' ? (...args) => (window.trapNext ? m._tarsel_trap() : f(...args)) : f;
      };
      return m;
    })),
  });
}

// What the page must survive: a goal dragged far beyond reach, a limit marker turned through the
// cone's centre axis and moved onto the root's pivot, every number option set at, past and far
// past its range's ends, and a trap inside the page's program. The page keeps drawing a finite
// pose and answering, the panel shows the value the module kept within the range, and the trap
// leaves one line and the last good pose; no console errors.
test('bad states', async (t) => {
  const arm = join(outDir, 'bad-arm.html'), tail = join(outDir, 'bad-tail.html');
  execFileSync(runner, ['view', join(examplesDir, 'two_bone_arm.json'), '-o', arm], { stdio: 'pipe' });
  execFileSync(runner, ['view', join(examplesDir, 'tail_cone.json'), '-o', tail], { stdio: 'pipe' });
  if (!hasSolver(arm)) return t.skip('the page has no solver (the wasm preset is not built)');
  const finite = (s, what) => {
    assert.equal(s.solver, 'ready', what);
    for (const b of s.bones) assert.ok([...b.base, ...b.tip].every(Number.isFinite), `${what}: ${b.name} at ${b.base} to ${b.tip}`);
  };

  const { page, errors } = await openPage(arm, trapHook);
  await solverReady(page);
  // Zoomed far out, a short drag takes the goal thousands of chain lengths away.
  const goalAt = await grab(page, 'hand_goal');
  for (let k = 0; k < 6; ++k) await page.mouse.wheel(0, 1000);
  await drag(page, await page.evaluate(() => window.tarselView.screen('hand_goal')), 150, -100);
  let s = await viewState(page);
  finite(s, 'goal far away');
  assert.ok(s.chains[0].series.goal_distance > 1000, `the goal is ${s.chains[0].series.goal_distance} away`);
  assert.equal(s.chains[0].series.reach, 'out of reach');
  await passDone(page);
  await page.keyboard.press('Control+z');
  await page.keyboard.press('f');
  await page.mouse.click(30, 200);  // nothing there: the goal's gizmo goes
  // Every number option at, past and far past the ends of what it accepts.
  const bone = (await viewState(page)).bones.find((b) => b.name === 'upper_arm');
  await page.mouse.click(...await page.evaluate((b) => window.tarselView.screen(b.base.map((v, k) => (v + b.tip[k]) / 2)), bone));
  const ranges = await page.$$eval('#options input[type="number"]', (es) => es.map((e) => [e.getAttribute('aria-label'), e.title]));
  assert.ok(ranges.length >= 3, JSON.stringify(ranges));
  for (const [label, range] of ranges) {
    const [lo, hi = Infinity] = range.match(/^(-?[\d.]+)(?: to (-?[\d.]+))?/).slice(1).filter(Boolean).map(Number);
    for (const value of [lo, hi, lo - 1, hi + 1, -1e300, 1e300].filter(Number.isFinite)) {
      const kept = await page.evaluate(([label, value]) => {
        const el = () => document.querySelector(`#options input[aria-label="${label}"]`);
        el().value = String(value);
        el().dispatchEvent(new Event('change'));
        return Number(el().value);
      }, [label, value]);
      assert.ok(kept >= lo && kept <= hi, `${label} set to ${value}: the panel shows ${kept} (${range})`);
      finite(await viewState(page), `${label} set to ${value}`);
    }
  }
  // A trap inside the program: one line, the last good pose kept, the page still playing back.
  await passDone(page);
  await grab(page, 'hand_goal');
  const good = await viewState(page);
  await page.evaluate(() => { window.trapNext = true; });
  await drag(page, await page.evaluate(() => window.tarselView.screen('hand_goal')), 20, 20);
  s = await viewState(page);
  assert.match(s.solver, /^failed: .*unreachable/);
  const help = await page.locator('#help').innerText();
  assert.match(help, /^the page's solver stopped: [^\n]+$/);
  assert.deepEqual(s.bones, good.bones, 'the last good pose');
  assert.equal(await page.locator('#edit').isVisible(), false);
  assert.ok((await picture(page)).drawn > 0.01, 'the view is blank');
  assert.equal((await scrub(page, 10)).frame, 10);
  assert.deepEqual(errors, []);
  await page.close();

  // A limit marker turned about Y through the cone's centre axis (its heading 40 degrees through 0),
  // then moved onto the root's pivot; every step keeps a finite pose.
  const cone = await openPage(tail);
  await solverReady(cone.page);
  await cone.page.keyboard.press('3');  // top: the Y ring lies in the picture's plane
  const marker = 'tail-for-ik-limit-1';
  const heading = async () => {
    const m = await viewState(cone.page);
    finite(m, `${marker} turned`);
    return m.items.find((i) => i.name === marker).local_rotation[0];
  };
  const [mx, my] = await grab(cone.page, marker);
  await cone.page.keyboard.press('r');
  let ring = null;
  for (let r = 0; r <= 150 && !ring; r += 2) {
    await cone.page.mouse.move(mx + r * 0.7, my - r * 0.7);
    if ((await viewState(cone.page)).gizmo.axis === 'Y') ring = [mx + r * 0.7, my - r * 0.7];
  }
  assert.ok(ring, 'no Y ring found');
  const headings = [await heading()];
  await cone.page.mouse.move(...ring);
  await cone.page.mouse.down();
  for (const direction of [1, -1]) {  // one way, then back past the start the other way
    for (let k = 1; k <= 200; ++k) {
      const along = direction > 0 ? k : 200 - 2 * k;
      await cone.page.mouse.move(ring[0] + along * 0.7, ring[1] + along * 0.7);
      headings.push(await heading());
    }
  }
  await cone.page.mouse.up();
  const crossed = headings.some((h, k) => k > 0 && Math.sign(h) !== Math.sign(headings[k - 1]));
  assert.ok(crossed, `the marker's heading never crossed 0: ${headings.map((h) => h.toFixed(1)).join(' ')}`);
  console.log(`# marker turned through the centre axis: nearest heading ${Math.min(...headings.map(Math.abs)).toFixed(3)} degrees`);
  await cone.page.keyboard.press('t');
  const pivot = await cone.page.evaluate(() => window.tarselView.screen('tail_base'));
  const from = await cone.page.evaluate((n) => window.tarselView.screen(n), marker);
  await drag(cone.page, from, pivot[0] - from[0], pivot[1] - from[1]);
  finite(await viewState(cone.page), `${marker} on the pivot`);
  assert.deepEqual(cone.errors, []);
  await cone.page.close();
});
