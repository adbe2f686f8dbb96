#!/usr/bin/env node
// Writes a large scene for trying the viewer and the runner on motion-capture-sized input: a
// 31-bone figure walking for 2,752 frames at 120 fps, every bone keyed on every frame, with an IK
// chain on each leg (thigh, shin, foot) reaching for a keyed foot goal.
// Usage: scripts/make-walk-scene.mjs OUT.json [FRAMES]
import { writeFileSync } from 'node:fs';

const [out, framesArg] = process.argv.slice(2);
if (!out) {
  console.error('usage: make-walk-scene.mjs OUT.json [FRAMES]');
  process.exit(2);
}
const frames = Number(framesArg || 2752), fps = 120;
const r6 = (v) => Math.round(v * 1e6) / 1e6;
const items = [];
let nextId = 1;
const add = (item) => { item.id = nextId++; items.push(item); return item.id; };
const keyed = (fn) => Array.from({ length: frames }, (_, f) => ({ frame: f, value: fn(f).map(r6) }));
const phase = (f) => (2 * Math.PI * f) / fps;  // one stride a second

const figure = add({ type: 'object', name: 'figure',
  position: keyed((f) => [0, 0.95 + 0.02 * Math.cos(2 * phase(f)), 1.2 * (f / fps)]) });
const rootHandler = [{ server: 'Tarsel_Top', data: ['Twist 0', 'TwistTarget 0', 'TwistEffect 0', 'GoalPosition 0',
  'PluginEffect 0', 'MixWithFk 0', 'ExcessStretch 1', 'PostureWeight 1', 'ArbitraryLimit 0', 'EndEnd'] }];
// A bone along its +Z, keyed about its rest rotation by a swing of the walk.
function bone(name, parent, position, rest, length, swing, extra = {}) {
  return add({ type: 'bone', name, owner: figure, ...(parent ? { parent } : {}), position, rest_position: position,
               rest_rotation: rest, rest_length: length,
               rotation: keyed((f) => rest.map((v, k) => v + swing[k] * Math.sin(phase(f) + (swing[3] || 0)))),
               ...extra });
}
const hips = bone('hips', 0, [0, 0, 0], [0, -90, 0], 0.1, [4, 2, 0]);
let spine = hips;
for (const [n, l] of [['spine_1', 0.12], ['spine_2', 0.12], ['spine_3', 0.12], ['neck', 0.08]])
  spine = bone(n, spine, [0, 0, l], [0, 0, 0], l, [2, 3, 1, 0.5]);
bone('head', spine, [0, 0, 0.08], [0, 0, 0], 0.15, [6, 4, 0]);
bone('jaw', spine, [0, 0, 0.08], [0, 60, 0], 0.08, [0, 5, 0]);
for (const [side, s] of [['left', -1], ['right', 1]]) {
  const clavicle = bone(`${side}_clavicle`, spine, [0, 0, 0], [90 * s, 0, 0], 0.15, [2, 2, 0]);
  const upper = bone(`${side}_upper_arm`, clavicle, [0, 0, 0.15], [0, 80, 0], 0.28, [0, 25 * s, 0]);
  const fore = bone(`${side}_forearm`, upper, [0, 0, 0.28], [0, -20, 0], 0.25, [0, 10, 0, 1]);
  const hand = bone(`${side}_hand`, fore, [0, 0, 0.25], [0, 0, 0], 0.08, [5, 5, 0]);
  for (const [finger, h] of [['thumb', 30], ['index', 8], ['middle', 0], ['ring', -8]])
    bone(`${side}_${finger}`, hand, [0, 0, 0.08], [h * s, 10, 0], 0.06, [0, 10, 0, 2]);
}
for (const [side, s] of [['left', -1], ['right', 1]]) {
  const offset = s < 0 ? 0 : Math.PI;
  const goal = add({ type: 'object', name: `${side}_foot_goal`, parent: figure,
    position: keyed((f) => [0.1 * s, -0.86 + 0.07 * Math.max(0, Math.sin(phase(f) + offset)),
                            0.28 * Math.cos(phase(f) + offset)]) });
  const thigh = bone(`${side}_thigh`, 0, [0.1 * s, 0, 0], [0, 90, 0], 0.43, [0, 20, 0, offset],
                     { handlers: rootHandler, limits: { heading: [-30, 30], pitch: [20, 150] } });
  const shin = bone(`${side}_shin`, thigh, [0, 0, 0.43], [0, 15, 0], 0.42, [0, 10, 0, offset],
                    { handlers: [{ server: 'Tarsel' }] });
  const foot = bone(`${side}_foot`, shin, [0, 0, 0.42], [0, -70, 0], 0.12, [0, 5, 0, offset],
                    { handlers: [{ server: 'Tarsel' }], goal });
  bone(`${side}_toe`, foot, [0, 0, 0.12], [0, 0, 0], 0.05, [0, 10, 0, offset]);
}
const scene = { version: 1, description: `A figure of ${items.filter((i) => i.type === 'bone').length} bones walking for ${frames} frames, every bone keyed on every frame; each leg an IK chain reaching for a keyed foot goal.`,
                fps, frames: [0, frames - 1], items };
writeFileSync(out, JSON.stringify(scene));
