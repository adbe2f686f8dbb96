// Builds the viewer page: index.html with viewer.css, three.js (and its TransformControls gizmo) and
// viewer.js put inline, so that the page `tarsel-stage view` writes needs no network and no other
// file. three.js ships as ES
// modules (three.core.js, and three.module.js importing from it); both are turned into plain
// script scopes here, so that the page runs from file:// as classic scripts.
// Usage: node bundle.mjs THREE_BUILD_DIR OUTPUT.html
import { readFileSync, writeFileSync, renameSync } from 'node:fs';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';

const [threeDir, output] = process.argv.slice(2);
if (!threeDir || !output) {
  console.error('usage: node bundle.mjs THREE_BUILD_DIR OUTPUT.html');
  process.exit(2);
}
const here = dirname(fileURLToPath(import.meta.url));
const fail = (why) => { console.error(`viewer/bundle.mjs: ${why}`); process.exit(1); };

// "a as b, c" -> [[a, b], [c, c]]
const names = (list) => list.split(',').map((s) => s.trim()).filter(Boolean).map((s) => {
  const m = s.match(/^(\w+)(?:\s+as\s+(\w+))?$/);
  if (!m) fail(`unexpected export name "${s}"`);
  return [m[1], m[2] || m[1]];
});
const statement = /^(import|export)\s*\{([^}]*)\}\s*(?:from\s*'([^']+)')?\s*;?\s*$/gm;

function scope(source, file) {
  const reexports = [], exports = [], imports = [];
  const body = source.replace(statement, (all, kind, list, from) => {
    if (from !== undefined && from !== './three.core.js') fail(`${file}: unexpected import from ${from}`);
    if (kind === 'import') imports.push(...names(list));
    else if (from) reexports.push(...names(list));
    else exports.push(...names(list));
    return '';
  });
  if (/^\s*(import|export)\b/m.test(body)) fail(`${file}: a module statement this bundler does not know`);
  return { body, imports, exports, reexports };
}

const core = scope(readFileSync(join(threeDir, 'three.core.js'), 'utf8'), 'three.core.js');
const main = scope(readFileSync(join(threeDir, 'three.module.js'), 'utf8'), 'three.module.js');
if (core.imports.length || core.reexports.length) fail('three.core.js: unexpected imports');
const object = (pairs) => '{ ' + pairs.map(([local, name]) => `${name}: ${local}`).join(', ') + ' }';
const three = [
  'var THREE = (function () {',
  'const __core = (function () {', core.body, `return ${object(core.exports)};`, '})();',
  `const ${'{ ' + main.imports.map(([name, local]) => `${name}: ${local}`).join(', ') + ' }'} = __core;`,
  main.body,
  `return Object.freeze(Object.assign({}, ${object(main.reexports.map(([n, as]) => [`__core.${n}`, as]))}, ${object(main.exports)}));`,
  '})();',
].join('\n');
// A script element ends at the first "</script"; three.js holds none, and must not.
if (/<\/script/i.test(three)) fail('three.js holds "</script"');
try {
  new Function(three);  // eslint-disable-line no-new-func
} catch (e) {
  fail(`the bundled three.js does not parse: ${e.message}`);
}

// three.js's move/rotate gizmo, from its examples: its imports from 'three' taken from THREE, its
// classes returned on THREE_CONTROLS.
const controlsFile = join(threeDir, '../examples/jsm/controls/TransformControls.js');
const controlsSource = readFileSync(controlsFile, 'utf8').replace(/^import\s*\{([^}]*)\}\s*from\s*'three'\s*;?/m,
  (all, list) => `const { ${names(list).map(([n, l]) => (n === l ? n : `${n}: ${l}`)).join(', ')} } = THREE;`);
const controls = scope(controlsSource, 'TransformControls.js');
if (controls.imports.length || controls.reexports.length) fail('TransformControls.js: unexpected imports');
const gizmo = ['var THREE_CONTROLS = (function () {', controls.body, `return ${object(controls.exports)};`, '})();'].join('\n');
if (/<\/script/i.test(gizmo)) fail('TransformControls.js holds "</script"');

let page = readFileSync(join(here, 'index.html'), 'utf8');
const put = (mark, text) => {
  if (page.split(mark).length !== 2) fail(`index.html must hold ${mark} once`);
  page = page.split(mark).join(text);
};
put('/*__VIEWER_CSS__*/', readFileSync(join(here, 'viewer.css'), 'utf8'));
put('/*__THREE__*/', three + '\n' + gizmo);
put('/*__VIEWER_JS__*/', readFileSync(join(here, 'viewer.js'), 'utf8'));
writeFileSync(output + '.tmp', page);
renameSync(output + '.tmp', output);
