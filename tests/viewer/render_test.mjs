// Still SVG pictures against the run report: for each example, in the front, side and top views,
// every bone is drawn, and starts where the report puts the bone's base once projected as the
// picture says it projects; a chain far from its goal has its end-to-goal line, one on it none.
// Usage: node render_test.mjs RUNNER EXAMPLES_DIR OUT_DIR
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { existsSync, readFileSync } from 'node:fs';
import { join } from 'node:path';

const [runner, examplesDir, outDir] = process.argv.slice(2);
const examples = ['two_bone_arm', 'leg_limits', 'tail_cone', 'branching', 'plugin_effect'];
const attr = (tag, name) => (tag.match(new RegExp(`\\s${name}="([^"]*)"`)) || [])[1];
const numbers = (s) => s.trim().split(/[\s,]+/).map(Number);

for (const name of examples) {
  test(name, () => {
    const scenePath = join(examplesDir, `${name}.json`);
    const scene = JSON.parse(readFileSync(scenePath, 'utf8'));
    // The frame where the first chain is farthest from its goal, so that its end-to-goal line shows.
    const run = JSON.parse(execFileSync(runner, ['run', scenePath, '--format', 'json'],
                                        { stdio: ['ignore', 'pipe', 'ignore'] }).toString());
    const report = run.frames.reduce((a, b) => (b.chains[0].goal_distance > a.chains[0].goal_distance ? b : a));
    const frame = report.frame;
    const positions = new Map(report.items.map((i) => [i.name, i.position]));
    for (const view of ['front', 'side', 'top']) {
      const out = join(outDir, `${name}-${view}.svg`);
      execFileSync(runner, ['render', scenePath, '--frame', String(frame), '--view', view, '--size', '640x480',
                            '-o', out], { stdio: 'ignore' });
      const svg = readFileSync(out, 'utf8');
      const root = svg.match(/<svg[^>]*>/)[0];
      const [w, h, k] = [Number(attr(root, 'width')), Number(attr(root, 'height')), Number(attr(root, 'data-scale'))];
      const [c, right, up] = ['data-center', 'data-right', 'data-up'].map((a) => numbers(attr(root, a)));
      const project = (p) => {
        const d = [p[0] - c[0], p[1] - c[1], -p[2] - c[2]];
        const dot = (a, b) => a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
        return [w / 2 + k * dot(d, right), h / 2 - k * dot(d, up)];
      };
      const bones = [...svg.matchAll(/<polygon class="bone[^"]*"[^>]*>/g)].map((m) => m[0]);
      assert.equal(bones.length, scene.items.filter((i) => i.type === 'bone').length, `${view}: bones drawn`);
      let checked = 0;
      for (const tag of bones) {
        const p = positions.get(attr(tag, 'data-item').replace(/&quot;/g, '"').replace(/&lt;/g, '<').replace(/&gt;/g, '>').replace(/&amp;/g, '&'));
        if (!p) continue;  // a bone without a motion handler is not in the report
        const [x, y] = numbers(attr(tag, 'points'));
        const [ex, ey] = project(p);
        assert.ok(Math.hypot(x - ex, y - ey) < 0.01, `${view} ${attr(tag, 'data-item')}: drawn at ${x},${y}, report at ${ex},${ey}`);
        checked++;
      }
      assert.ok(checked > 0, `${view}: no bone of the report drawn`);
      for (const chain of report.chains) {
        const line = svg.includes(`class="end-to-goal" data-item="${chain.root}"`);
        if (chain.goal_distance > 1e-2) assert.ok(line, `${view}: no end-to-goal line for ${chain.root}`);
        if (chain.goal_distance !== null && chain.goal_distance < 1e-7) assert.ok(!line, `${view}: end-to-goal line on a reached goal`);
      }
    }
  });
}

// Bad requests: one line naming the fault, exit 1 (2 for a usage error), and nothing written.
test('bad requests', () => {
  const scene = join(examplesDir, 'two_bone_arm.json');
  const cases = [
    [['render', scene, '--frame', '3', '-o', join(outDir, 'bad.gif')], /must end in \.svg or \.png/],
    [['render', scene, '--frame', '3', '--view', 'back', '-o', join(outDir, 'bad.svg')], /--view "back"/],
    [['render', scene, '--frame', '3', '--size', '10x10', '-o', join(outDir, 'bad.svg')], /--size "10x10"/],
    [['render', join(outDir, 'missing.json'), '--frame', '3', '-o', join(outDir, 'bad.svg')], /missing\.json/],
    [['view', scene, '--frames', '0-999999999', '-o', join(outDir, 'bad.html')], /at most 200000/],
    [['view', scene, '-o', join(outDir, 'no-such-dir', 'bad.html')], /no-such-dir/],
  ];
  for (const [args, message] of cases) {
    let failed = null;
    try {
      execFileSync(runner, args, { stdio: 'pipe' });
    } catch (e) {
      failed = e;
    }
    assert.ok(failed, `${args.join(' ')}: succeeded`);
    const lines = failed.stderr.toString().trim().split('\n').filter((l) => l.startsWith('tarsel-stage: error'));
    assert.equal(lines.length, 1, `${args.join(' ')}: ${failed.stderr}`);
    assert.match(lines[0], message);
    assert.ok(!existsSync(args[args.length - 1]), `${args.join(' ')}: wrote a file`);
  }
});
