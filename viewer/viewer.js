// Tarsel's run viewer: draws a run written by `tarsel-stage view` (the data element of this page)
// with three.js. World transforms are composed here from each item's evaluated channels, the way
// the stand-in host composes them, so the page carries channels per frame and not whole poses.
// Host space is left-handed (X right, Y up, Z away from a front view); three.js is right-handed,
// so points are shown with z negated.
(function () {
  'use strict';
  const data = JSON.parse(document.getElementById('tarsel-data').textContent);
  const hash = new URLSearchParams(location.hash.slice(1));
  const still = hash.has('still');
  if (still) document.body.classList.add('still');

  const first = data.frames[0], last = data.frames[1], count = last - first + 1;
  const items = data.items, chains = data.chains;
  const D2R = Math.PI / 180, R2D = 180 / Math.PI;

  // ---- Host transforms: row vectors, 4x4 row-major, translation in the last row ----
  function hpbMatrix(h, p, b) {
    const ch = Math.cos(h), sh = Math.sin(h), cp = Math.cos(p), sp = Math.sin(p);
    const cb = Math.cos(b), sb = Math.sin(b);
    return [cb * ch + sb * sp * sh, sb * cp, sb * sp * ch - cb * sh,
            cb * sp * sh - sb * ch, cb * cp, sb * sh + cb * sp * ch,
            cp * sh, -sp, cp * ch];
  }
  function mul3(a, b) {
    const r = new Array(9);
    for (let i = 0; i < 3; ++i)
      for (let j = 0; j < 3; ++j)
        r[3 * i + j] = a[3 * i] * b[j] + a[3 * i + 1] * b[3 + j] + a[3 * i + 2] * b[6 + j];
    return r;
  }
  function mul4(a, b) {
    const r = new Float64Array(16);
    for (let i = 0; i < 4; ++i)
      for (let j = 0; j < 4; ++j)
        r[4 * i + j] = a[4 * i] * b[j] + a[4 * i + 1] * b[4 + j] + a[4 * i + 2] * b[8 + j] +
                       a[4 * i + 3] * b[12 + j];
    return r;
  }
  function localMatrix(s, r, p, q, parentPivot) {
    const lin = mul3(mul3([s[0], 0, 0, 0, s[1], 0, 0, 0, s[2]], hpbMatrix(r[0] * D2R, r[1] * D2R, r[2] * D2R)),
                     hpbMatrix(q[0] * D2R, q[1] * D2R, q[2] * D2R));
    return Float64Array.of(lin[0], lin[1], lin[2], 0, lin[3], lin[4], lin[5], 0, lin[6], lin[7], lin[8], 0,
                           p[0] - parentPivot[0], p[1] - parentPivot[1], p[2] - parentPivot[2], 1);
  }
  function point(p, m) {
    return [p[0] * m[0] + p[1] * m[4] + p[2] * m[8] + m[12],
            p[0] * m[1] + p[1] * m[5] + p[2] * m[9] + m[13],
            p[0] * m[2] + p[1] * m[6] + p[2] * m[10] + m[14]];
  }
  function dirTimes(d, m) {  // a direction through the 3x3 part of a 4x4 or a 3x3
    const k = m.length === 16 ? 4 : 3;
    return [d[0] * m[0] + d[1] * m[k] + d[2] * m[2 * k], d[0] * m[1] + d[1] * m[k + 1] + d[2] * m[2 * k + 1],
            d[0] * m[2] + d[1] * m[k + 2] + d[2] * m[2 * k + 2]];
  }
  const sub = (a, b) => [a[0] - b[0], a[1] - b[1], a[2] - b[2]];
  const add = (a, b) => [a[0] + b[0], a[1] + b[1], a[2] + b[2]];
  const scale = (a, k) => [a[0] * k, a[1] * k, a[2] * k];
  const dot = (a, b) => a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
  const cross = (a, b) => [a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]];
  const len = (a) => Math.sqrt(dot(a, a));
  const unit = (a) => { const l = len(a); return l > 0 ? scale(a, 1 / l) : a; };
  function channel(item, key, f) {
    const a = item[key];
    if (a.length === 3) return a;
    return [a[3 * f], a[3 * f + 1], a[3 * f + 2]];
  }
  // Heading, pitch, bank (degrees) of a 3x3 rotation part, scale divided out.
  function hpbOf(m) {
    const k = m.length === 16 ? 4 : 3;
    const rows = [0, 1, 2].map((i) => unit([m[k * i], m[k * i + 1], m[k * i + 2]]));
    const p = Math.asin(Math.max(-1, Math.min(1, -rows[2][1])));
    const h = Math.atan2(rows[2][0], rows[2][2]);
    const b = Math.atan2(rows[0][1], rows[1][1]);
    return [h * R2D, p * R2D, b * R2D];
  }

  // The pose of frame index f: every item's world matrix, base and (bones) tip; with `only`
  // (flags by item, parents of flagged items flagged too) just those items.
  function pose(f, only) {
    const world = new Array(items.length), base = new Array(items.length), tip = new Array(items.length);
    for (let i = 0; i < items.length; ++i) {
      if (only && !only[i]) continue;
      const it = items[i];
      const parentPivot = it.parent >= 0 ? channel(items[it.parent], 'pivot', f) : [0, 0, 0];
      const l = localMatrix(channel(it, 'scaling', f), channel(it, 'rotation', f), channel(it, 'position', f),
                            channel(it, 'pivot_rotation', f), parentPivot);
      world[i] = it.parent >= 0 ? mul4(l, world[it.parent]) : l;
      base[i] = [world[i][12], world[i][13], world[i][14]];
      if (it.type === 'bone') {
        const pv = channel(it, 'pivot', f);
        tip[i] = point([-pv[0], -pv[1], it.rest_length - pv[2]], world[i]);
      }
    }
    return { f, world, base, tip };
  }
  function chainEnd(c, ps) {
    if (c.goal_position >= 0) return ps.base[c.goal_position];
    const lastBone = c.bones[c.bones.length - 1];
    return ps.tip[lastBone] || ps.base[lastBone];
  }

  // ---- Root limits ----
  // The root's reference frame: its own channels with no scaling or rotation (the frame its
  // heading and pitch limits are measured in).
  function rootFrame(c, ps) {
    const it = items[c.root], f = ps.f;
    const parentPivot = it.parent >= 0 ? channel(items[it.parent], 'pivot', f) : [0, 0, 0];
    const l = localMatrix([1, 1, 1], [0, 0, 0], channel(it, 'position', f), channel(it, 'pivot_rotation', f),
                          parentPivot);
    return it.parent >= 0 ? mul4(l, ps.world[it.parent]) : l;
  }
  function inverse3(m) {  // 3x3 part of a 4x4 (or a 3x3), inverted
    const k = m.length === 16 ? 4 : 3;
    const a = m[0], b = m[1], c = m[2], d = m[k], e = m[k + 1], f = m[k + 2];
    const g = m[2 * k], h = m[2 * k + 1], i = m[2 * k + 2];
    const det = a * (e * i - f * h) - b * (d * i - f * g) + c * (d * h - e * g);
    if (det === 0) return [a, b, c, d, e, f, g, h, i];
    return [(e * i - f * h) / det, (c * h - b * i) / det, (b * f - c * e) / det,
            (f * g - d * i) / det, (a * i - c * g) / det, (c * d - a * f) / det,
            (d * h - e * g) / det, (b * g - a * h) / det, (a * e - b * d) / det];
  }
  function transpose3(m) { return [m[0], m[3], m[6], m[1], m[4], m[7], m[2], m[5], m[8]]; }
  function frameFromZ(z) {
    z = unit(z);
    const helper = Math.abs(z[0]) < 0.9 ? [1, 0, 0] : [0, 1, 0];
    const x = unit(cross(helper, z)), y = cross(z, x);
    return [x[0], x[1], x[2], y[0], y[1], y[2], z[0], z[1], z[2]];
  }
  const maxRadius = 179.9 * D2R;
  // A closed cubic spline of half-angle over polar angle through the knots (angle, radius).
  function coneSpline(knotMap) {
    const knots = [...knotMap.entries()].sort((a, b) => a[0] - b[0])
      .map(([angle, radius]) => ({ angle, radius: Math.min(radius, maxRadius) }));
    const m = knots.length;
    const ang = (i) => knots[((i % m) + m) % m].angle + 2 * Math.PI * Math.floor(i / m);
    const rad = (i) => knots[((i % m) + m) % m].radius;
    const h = (i) => ang(i + 1) - ang(i);
    const slope = (i) => (rad(i + 1) - rad(i)) / h(i);
    const A = Array.from({ length: m }, () => new Array(m + 1).fill(0));
    for (let i = 0; i < m; ++i) {
      A[i][(i - 1 + m) % m] += h(i - 1);
      A[i][i] += 2 * (h(i - 1) + h(i));
      A[i][(i + 1) % m] += h(i);
      A[i][m] = slope(i) - slope(i - 1);
    }
    for (let c = 0; c < m; ++c) {  // Gaussian elimination with partial pivoting
      let p = c;
      for (let r = c + 1; r < m; ++r) if (Math.abs(A[r][c]) > Math.abs(A[p][c])) p = r;
      [A[c], A[p]] = [A[p], A[c]];
      for (let r = 0; r < m; ++r) {
        if (r === c || A[c][c] === 0) continue;
        const k = A[r][c] / A[c][c];
        for (let j = c; j <= m; ++j) A[r][j] -= k * A[c][j];
      }
    }
    knots.forEach((k, i) => { k.curve = A[i][i] !== 0 ? A[i][m] / A[i][i] : 0; });
    return function radiusAt(a) {
      a = ((a % (2 * Math.PI)) + 2 * Math.PI) % (2 * Math.PI);
      let i = m - 1;
      for (let j = 0; j < m; ++j) if (knots[j].angle <= a) i = j;
      let k0 = knots[i], k1 = knots[(i + 1) % m];
      let a0 = k0.angle, a1 = i + 1 < m ? k1.angle : k1.angle + 2 * Math.PI;
      if (a < a0) { a0 -= 2 * Math.PI; a1 -= 2 * Math.PI; }  // before the first knot
      const hh = a1 - a0, x = a - a0;
      if (m === 1) return k0.radius;
      return k0.radius + x * ((k1.radius - k0.radius) / hh - hh * (2 * k0.curve + k1.curve) +
                              x * (3 * k0.curve + x * (k1.curve - k0.curve) / hh));
    };
  }
  // What limits a chain's root direction at a pose: { planes: {heading, pitch} in degrees,
  // cone: {frame, radiusAt} in the root frame, or null }.
  function rootLimit(c, ps) {
    const it = items[c.root], lim = it.limits || {};
    const w0 = rootFrame(c, ps);
    const out = { w0, heading: lim.heading || null, pitch: lim.pitch || null, cone: null };
    const knots = new Map();
    let F = [1, 0, 0, 0, 1, 0, 0, 0, 1];
    if (c.markers.length > 0) {
      if (c.limit_origin >= 0) {
        const o = ps.world[c.limit_origin];
        F = frameFromZ([o[8], o[9], o[10]]);
      }
      const L = mul3(inverse3(w0), transpose3(F));
      for (const k of c.markers) {
        const z = ps.world[k];
        const d = unit(dirTimes([z[8], z[9], z[10]], L));
        let a = Math.atan2(d[1], d[0]);
        if (a < 0) a += 2 * Math.PI;
        if (!knots.has(a)) knots.set(a, Math.acos(Math.max(-1, Math.min(1, d[2]))));
      }
    } else if (out.heading && out.pitch && out.heading[0] < 0 && out.heading[1] > 0 &&
               out.pitch[0] < 0 && out.pitch[1] > 0) {
      // Both channels limited about the rest direction: the cone through the four limits.
      knots.set(0, Math.abs(out.heading[1]) * D2R);
      knots.set(Math.PI / 2, Math.abs(out.pitch[0]) * D2R);
      knots.set(Math.PI, Math.abs(out.heading[0]) * D2R);
      knots.set(1.5 * Math.PI, Math.abs(out.pitch[1]) * D2R);
    }
    if (knots.size > 0 && c.markers.length === 0) {  // a cone from the limits alone stays put
      c.limitCone = c.limitCone || { frame: F, radiusAt: coneSpline(knots), markers: false };
      out.cone = c.limitCone;
    } else if (knots.size > 0) {
      out.cone = { frame: F, radiusAt: coneSpline(knots), markers: true };
    }
    return out;
  }
  // How far (degrees) the root's direction lies outside its limit at a pose: negative inside,
  // about 0 on the limit.
  function rootLimitMargin(c, ps, limit) {
    const r = channel(items[c.root], 'rotation', ps.f);
    let margin = -Infinity;
    if (limit.cone) {  // the cone is what the solve holds to, also when drawn from both channels' limits
      const w = hpbMatrix(r[0] * D2R, r[1] * D2R, r[2] * D2R).slice(6, 9);  // the root's Z in its frame
      const d = dirTimes(w, transpose3(limit.cone.frame));
      let a = Math.atan2(d[1], d[0]);
      if (a < 0) a += 2 * Math.PI;
      const theta = Math.acos(Math.max(-1, Math.min(1, d[2] / (len(d) || 1))));
      return (theta - limit.cone.radiusAt(a)) * R2D;
    }
    for (const [key, v] of [['heading', r[0]], ['pitch', r[1]]]) {
      const b = limit[key];
      if (b) margin = Math.max(margin, b[0] - v, v - b[1]);
    }
    return margin;
  }
  const onLimitTolerance = 0.01;  // degrees
  const hasLimit = (c) => !!(items[c.root].limits && (items[c.root].limits.heading || items[c.root].limits.pitch)) ||
                          c.markers.length > 0;

  // ---- One pass over the frames: the rig's extent and the frames where a root is on its limit ----
  const lo = [Infinity, Infinity, Infinity], hi = [-Infinity, -Infinity, -Infinity];
  const grow = (p) => { for (let k = 0; k < 3; ++k) if (isFinite(p[k])) { lo[k] = Math.min(lo[k], p[k]); hi[k] = Math.max(hi[k], p[k]); } };
  const onLimit = chains.map(() => new Uint8Array(count));
  const limitMargin = chains.map(() => new Float64Array(count).fill(NaN));
  const chainLength = chains.map((c) => c.bones.reduce((s, b) => s + (items[b].rest_length || 0), 0));
  // Long runs are sampled for the extent; the limit marks need every frame.
  const extentStep = Math.max(1, Math.floor(count / 400));
  const limitItems = new Uint8Array(items.length);  // what the limits need: roots, markers, their parents
  const needItem = (i) => { for (; i >= 0 && !limitItems[i]; i = items[i].parent) limitItems[i] = 1; };
  chains.forEach((c) => {
    if (!hasLimit(c)) return;
    needItem(c.root);
    c.markers.forEach(needItem);
    if (c.limit_origin >= 0) needItem(c.limit_origin);
  });
  const needLimits = chains.some(hasLimit);
  for (let f = 0; f < count; ++f) {
    const needExtent = f % extentStep === 0 || f === count - 1;
    if (!needExtent && !needLimits) continue;
    const ps = pose(f, needExtent ? null : limitItems);
    if (needExtent) for (let i = 0; i < items.length; ++i) { grow(ps.base[i]); if (ps.tip[i]) grow(ps.tip[i]); }
    chains.forEach((c, k) => {
      if (!hasLimit(c)) return;
      limitMargin[k][f] = rootLimitMargin(c, ps, rootLimit(c, ps));
      onLimit[k][f] = limitMargin[k][f] > -onLimitTolerance ? 1 : 0;
    });
  }
  if (!isFinite(lo[0])) { lo.fill(-1); hi.fill(1); }
  const center = scale(add(lo, hi), 0.5);
  const size = Math.max(len(sub(hi, lo)), 1e-6);
  // The extent of one pose; marks and handles are sized by the rig, not by the ground it covers.
  function poseExtent(ps) {
    const l = [Infinity, Infinity, Infinity], h = [-Infinity, -Infinity, -Infinity];
    const take = (p) => { for (let k = 0; k < 3; ++k) if (p && isFinite(p[k])) { l[k] = Math.min(l[k], p[k]); h[k] = Math.max(h[k], p[k]); } };
    for (let i = 0; i < items.length; ++i) { take(ps.base[i]); take(ps.tip[i]); }
    return isFinite(l[0]) ? [l, h] : [lo, hi];
  }
  const rigSize = Math.max(len(sub(...poseExtent(pose(0)).reverse())), size * 1e-3, 1e-6);
  // A rig that travels far compared with its size is followed by the camera.
  const travels = size > 3 * rigSize;
  chains.forEach((c, k) => {
    if (hasLimit(c)) c.series.push({ key: 'root_on_limit', label: 'root on its limit', kind: 'marks',
                                     values: Array.from(onLimit[k]) });
  });

  // ---- three.js scene ----
  const T = THREE;
  const view = document.getElementById('view');
  let renderer;
  try {
    renderer = new T.WebGLRenderer({ antialias: true, preserveDrawingBuffer: true });
  } catch (e) {
    view.insertAdjacentHTML('beforeend', '<p style="padding:40px">This browser cannot draw WebGL, which the viewer needs.</p>');
    throw e;
  }
  renderer.setPixelRatio(window.devicePixelRatio || 1);
  renderer.setClearColor(0xfbfbfc, 1);
  view.prepend(renderer.domElement);
  const scene = new T.Scene();
  scene.add(new T.HemisphereLight(0xffffff, 0x8a8f96, 2.2));
  const sun = new T.DirectionalLight(0xffffff, 1.4);
  sun.position.set(1, 2, 1.5);
  scene.add(sun);
  const v3 = (p) => new T.Vector3(p[0], p[1], -p[2]);  // host space to display space

  // One colour per meaning, in the view, its legend and the plots alike: the goal distance is
  // plotted in the end-to-goal line's colour, a limit's marks in the limits' own.
  const colors = {
    bone: 0xc9ad7f, boneChain: 0xe0a24a, joint: 0x4d5661, goal: 0xd62f2f, twist: 0x2f6fd6,
    goalPosition: 0x2e9c4a, endLine: 0xc04f9a, limit: 0x8a63c7, limitOn: 0x00a3b4,
    origin: 0x3b2a73, x: 0xd84a4a, y: 0x3fa34d, z: 0x3b6fd8,
  };
  const css = (c) => '#' + c.toString(16).padStart(6, '0');
  const pickables = [];
  const jointRadius = rigSize * 0.008, markerSize = rigSize * 0.025, axisLength = rigSize * 0.05;

  // Ground grid at the rig's lowest point.
  let gridStep = Math.pow(10, Math.floor(Math.log10(rigSize / 2)));
  while (size * 1.2 / gridStep > 80) gridStep *= 10;  // a readable grid under a rig that travels far
  const gridCells = Math.ceil(size * 1.2 / gridStep);
  const grid = new T.GridHelper(gridCells * gridStep, gridCells, 0xd5d9de, 0xe6e9ec);
  grid.position.set(center[0], lo[1], -center[2]);
  scene.add(grid);

  // Roles of items in the chains, for their look and the legend.
  const role = new Array(items.length).fill('');
  const inChain = new Array(items.length).fill(false);
  chains.forEach((c) => {
    c.bones.forEach((b) => { inChain[b] = true; });
    if (c.goal >= 0) role[c.goal] = 'goal';
    if (c.twist_target >= 0 && !role[c.twist_target]) role[c.twist_target] = 'twist';
    if (c.goal_position >= 0 && !role[c.goal_position]) role[c.goal_position] = 'goalPosition';
    c.markers.forEach((m) => { if (!role[m]) role[m] = 'marker'; });
    if (c.limit_origin >= 0 && !role[c.limit_origin]) role[c.limit_origin] = 'origin';
  });

  const boneGeometry = new T.BufferGeometry();
  {  // an octahedral bone along +Y from 0 to 1, widest at 0.15
    const w = 0.08, at = 0.15;
    const v = [[0, 0, 0], [w, at, w], [-w, at, w], [-w, at, -w], [w, at, -w], [0, 1, 0]];
    const faces = [[0, 2, 1], [0, 3, 2], [0, 4, 3], [0, 1, 4], [5, 1, 2], [5, 2, 3], [5, 3, 4], [5, 4, 1]];
    const pos = [];
    faces.forEach((fc) => fc.forEach((i) => pos.push(...v[i])));
    boneGeometry.setAttribute('position', new T.Float32BufferAttribute(pos, 3));
    boneGeometry.computeVertexNormals();
  }
  const jointGeometry = new T.SphereGeometry(1, 16, 12);
  const bones = [], joints = [], objects = [];
  items.forEach((it, i) => {
    if (it.type === 'bone') {
      const mesh = new T.Mesh(boneGeometry, new T.MeshStandardMaterial({
        color: inChain[i] ? colors.boneChain : colors.bone, roughness: 0.6, flatShading: true }));
      mesh.matrixAutoUpdate = false;
      mesh.userData.item = i;
      scene.add(mesh);
      pickables.push(mesh);
      bones.push({ i, mesh });
      for (const end of ['base', 'tip']) {
        const j = new T.Mesh(jointGeometry, new T.MeshStandardMaterial({ color: colors.joint }));
        j.scale.setScalar(jointRadius);
        j.userData.item = i;
        scene.add(j);
        pickables.push(j);
        joints.push({ i, end, mesh: j });
      }
    } else {
      const r = role[i];
      let mesh;
      if (r === 'goal') {
        mesh = new T.Mesh(new T.SphereGeometry(markerSize * 0.5, 20, 14), new T.MeshStandardMaterial({ color: colors.goal }));
      } else if (r === 'twist') {
        mesh = new T.Mesh(new T.OctahedronGeometry(markerSize * 0.6), new T.MeshStandardMaterial({ color: colors.twist, flatShading: true }));
      } else if (r === 'goalPosition') {
        mesh = new T.Mesh(new T.BoxGeometry(markerSize * 0.7, markerSize * 0.7, markerSize * 0.7), new T.MeshStandardMaterial({ color: colors.goalPosition }));
      } else {  // a plain object: a small invisible handle for picking
        mesh = new T.Mesh(new T.SphereGeometry(markerSize * 0.35, 8, 6), new T.MeshBasicMaterial({ transparent: true, opacity: 0, depthWrite: false }));
      }
      mesh.userData.item = i;
      scene.add(mesh);
      pickables.push(mesh);
      objects.push({ i, mesh });
    }
  });
  // Object axes (X red, Y green, Z blue), one line set for all objects.
  const axesGeometry = new T.BufferGeometry();
  axesGeometry.setAttribute('position', new T.Float32BufferAttribute(new Float32Array(objects.length * 18), 3));
  {
    const col = [];
    objects.forEach(() => [colors.x, colors.y, colors.z].forEach((c) => {
      const cc = new T.Color(c); col.push(cc.r, cc.g, cc.b, cc.r, cc.g, cc.b);
    }));
    axesGeometry.setAttribute('color', new T.Float32BufferAttribute(col, 3));
  }
  const axesLines = new T.LineSegments(axesGeometry, new T.LineBasicMaterial({ vertexColors: true }));
  axesLines.frustumCulled = false;  // its points move every frame
  scene.add(axesLines);
  // End-to-goal lines.
  const endGeometry = new T.BufferGeometry();
  endGeometry.setAttribute('position', new T.Float32BufferAttribute(new Float32Array(chains.length * 6), 3));
  const endLines = new T.LineSegments(endGeometry, new T.LineDashedMaterial({ color: colors.endLine, dashSize: rigSize * 0.015, gapSize: rigSize * 0.01 }));
  endLines.frustumCulled = false;
  scene.add(endLines);
  // Twist-target lines: from each twist target to the joint it turns (the chain's first joint
  // below the root: the knee or elbow), so that with several limbs each pole shows its own.
  const poleChains = chains.filter((c) => c.twist_target >= 0);
  const poleGeometry = new T.BufferGeometry();
  poleGeometry.setAttribute('position', new T.Float32BufferAttribute(new Float32Array(Math.max(1, poleChains.length) * 6), 3));
  const poleLines = new T.LineSegments(poleGeometry, new T.LineBasicMaterial({ color: colors.twist, transparent: true, opacity: 0.6 }));
  poleLines.frustumCulled = false;
  poleLines.visible = poleChains.length > 0;
  scene.add(poleLines);

  // Limit drawings per chain root: heading and pitch wedges, the cone's rim and surface, the
  // marker directions and the centre axis.
  const arcSteps = 48, rimSteps = 96;
  const limitDrawings = chains.map((c, k) => {
    if (!hasLimit(c)) return null;
    const radius = Math.max(chainLength[k] * 0.45, rigSize * 0.08);
    const mat = () => new T.MeshBasicMaterial({ color: colors.limit, transparent: true, opacity: 0.18, side: T.DoubleSide, depthWrite: false });
    const lineMat = () => new T.LineBasicMaterial({ color: colors.limit });
    const fan = (n) => {
      const g = new T.BufferGeometry();
      g.setAttribute('position', new T.Float32BufferAttribute(new Float32Array((n + 2) * 3), 3));
      const idx = [];
      for (let j = 1; j <= n; ++j) idx.push(0, j, j + 1);
      g.setIndex(idx);
      return g;
    };
    const loopLine = (n) => {
      const g = new T.BufferGeometry();
      g.setAttribute('position', new T.Float32BufferAttribute(new Float32Array(n * 3), 3));
      return g;
    };
    const d = { radius, parts: [] };
    const addPart = (obj) => { obj.frustumCulled = false; scene.add(obj); d.parts.push(obj); return obj; };
    const lim = items[c.root].limits || {};
    // With both channels limited the solve holds the root to a cone through the four limits;
    // the wedges are then outlines of what was set, the cone is filled.
    const wedgesFilled = !(lim.heading && lim.pitch);
    if (lim.heading && c.markers.length === 0) {
      if (wedgesFilled) d.heading = addPart(new T.Mesh(fan(arcSteps), mat()));
      d.headingEdge = addPart(new T.LineLoop(loopLine(arcSteps + 2), lineMat()));
    }
    if (lim.pitch && c.markers.length === 0) {
      if (wedgesFilled) d.pitch = addPart(new T.Mesh(fan(arcSteps), mat()));
      d.pitchEdge = addPart(new T.LineLoop(loopLine(arcSteps + 2), lineMat()));
    }
    d.cone = addPart(new T.Mesh(fan(rimSteps), mat()));
    d.rim = addPart(new T.LineLoop(loopLine(rimSteps), new T.LineBasicMaterial({ color: colors.limit })));
    if (c.markers.length > 0 || c.limit_origin >= 0) {
      const g = new T.BufferGeometry();
      g.setAttribute('position', new T.Float32BufferAttribute(new Float32Array((c.markers.length + 1) * 6), 3));
      d.markerLines = addPart(new T.LineSegments(g, new T.LineBasicMaterial({ color: colors.limit })));
    }
    return d;
  });
  function setFan(mesh, apex, pts) {
    const a = mesh.geometry.attributes.position;
    a.setXYZ(0, apex[0], apex[1], -apex[2]);
    pts.forEach((p, j) => a.setXYZ(j + 1, p[0], p[1], -p[2]));
    a.needsUpdate = true;
    mesh.geometry.computeBoundingSphere();
  }
  function setLoop(line, pts) {
    const a = line.geometry.attributes.position;
    pts.forEach((p, j) => a.setXYZ(j, p[0], p[1], -p[2]));
    a.needsUpdate = true;
  }
  function updateLimits(ps, frameIndex) {
    chains.forEach((c, k) => {
      const d = limitDrawings[k];
      if (!d) return;
      const limit = rootLimit(c, ps);
      const on = onLimit[k][frameIndex] === 1;
      const color = on ? colors.limitOn : colors.limit;
      d.parts.forEach((p) => { p.material.color.setHex(c.markers.length && p === d.markerLines ? colors.limit : color); p.material.opacity = p.isMesh ? (on ? 0.24 : 0.16) : 1; });
      const apex = ps.base[c.root], w0 = limit.w0, R = d.radius;
      const toWorld = (dir) => add(apex, scale(unit(dirTimes(dir, w0)), R));
      const r = channel(items[c.root], 'rotation', ps.f);
      if (d.headingEdge) {  // heading wedge: in the root frame's XZ plane
        const [a0, a1] = limit.heading, pts = [];
        for (let j = 0; j <= arcSteps; ++j) { const a = (a0 + (a1 - a0) * j / arcSteps) * D2R; pts.push(toWorld([Math.sin(a), 0, Math.cos(a)])); }
        if (d.heading) setFan(d.heading, apex, pts);
        setLoop(d.headingEdge, [apex, ...pts]);
      }
      if (d.pitchEdge) {  // pitch wedge: in the plane of Y and the root's present heading
        const [a0, a1] = limit.pitch, h = r[0] * D2R, pts = [];
        for (let j = 0; j <= arcSteps; ++j) {
          const a = (a0 + (a1 - a0) * j / arcSteps) * D2R;
          pts.push(toWorld([Math.cos(a) * Math.sin(h), -Math.sin(a), Math.cos(a) * Math.cos(h)]));
        }
        if (d.pitch) setFan(d.pitch, apex, pts);
        setLoop(d.pitchEdge, [apex, ...pts]);
      }
      const showCone = !!limit.cone;
      d.cone.visible = d.rim.visible = showCone;
      if (showCone) {
        const pts = [];
        for (let j = 0; j < rimSteps; ++j) {
          const a = 2 * Math.PI * j / rimSteps, rr = limit.cone.radiusAt(a);
          const dl = [Math.sin(rr) * Math.cos(a), Math.sin(rr) * Math.sin(a), Math.cos(rr)];
          pts.push(toWorld(dirTimes(dl, limit.cone.frame)));
        }
        setFan(d.cone, apex, [...pts, pts[0]]);
        setLoop(d.rim, pts);
      }
      if (d.markerLines) {
        const a = d.markerLines.geometry.attributes.position;
        const ends = c.markers.map((m) => ps.world[m]);
        if (c.limit_origin >= 0) ends.push(ps.world[c.limit_origin]);
        ends.forEach((m, j) => {
          const tip = add(apex, scale(unit([m[8], m[9], m[10]]), R * (j === c.markers.length ? 1.35 : 1.1)));
          a.setXYZ(2 * j, apex[0], apex[1], -apex[2]);
          a.setXYZ(2 * j + 1, tip[0], tip[1], -tip[2]);
        });
        a.needsUpdate = true;
      }
    });
  }

  // ---- Drawing one frame ----
  let current = null;
  const basis = new T.Matrix4();
  function show(frameIndex) {
    const ps = pose(frameIndex);
    current = ps;
    for (const b of bones) {
      const base = ps.base[b.i], tip = ps.tip[b.i];
      const axis = sub(tip, base), l = len(axis);
      const w = ps.world[b.i];
      // Bone shape: +Y along the bone, its width turned with the bone's own X axis.
      const y = v3(axis);
      let x = v3([w[0], w[1], w[2]]);
      x.sub(y.clone().multiplyScalar(x.dot(y) / Math.max(y.lengthSq(), 1e-30)));
      if (x.lengthSq() < 1e-20) x = Math.abs(y.y) < 0.9 * y.length() ? new T.Vector3(0, 1, 0).cross(y) : new T.Vector3(1, 0, 0).cross(y);
      x.normalize().multiplyScalar(Math.max(l, jointRadius));
      const z = new T.Vector3().crossVectors(x, y).normalize().multiplyScalar(Math.max(l, jointRadius));
      if (l === 0) y.set(0, jointRadius, 0);
      basis.makeBasis(x, y, z).setPosition(v3(base));
      b.mesh.matrix.copy(basis);
      b.mesh.matrixWorldNeedsUpdate = true;
    }
    for (const j of joints) j.mesh.position.copy(v3(j.end === 'base' ? ps.base[j.i] : ps.tip[j.i]));
    const axes = axesGeometry.attributes.position;
    objects.forEach((o, n) => {
      const p = ps.base[o.i], w = ps.world[o.i];
      o.mesh.position.copy(v3(p));
      for (let a = 0; a < 3; ++a) {
        const e = add(p, scale(unit([w[4 * a], w[4 * a + 1], w[4 * a + 2]]), axisLength));
        axes.setXYZ(6 * n + 2 * a, p[0], p[1], -p[2]);
        axes.setXYZ(6 * n + 2 * a + 1, e[0], e[1], -e[2]);
      }
    });
    axes.needsUpdate = true;
    const ends = endGeometry.attributes.position;
    chains.forEach((c, k) => {
      const e = chainEnd(c, ps), g = c.goal >= 0 ? ps.base[c.goal] : e;
      const apart = len(sub(e, g)) > rigSize * 1e-4;
      ends.setXYZ(2 * k, e[0], e[1], -e[2]);
      ends.setXYZ(2 * k + 1, apart ? g[0] : e[0], apart ? g[1] : e[1], apart ? -g[2] : -e[2]);
    });
    ends.needsUpdate = true;
    endLines.computeLineDistances();
    const poles = poleGeometry.attributes.position;
    poleChains.forEach((c, k) => {
      const j = c.bones.length > 1 ? ps.base[c.bones[1]] : (ps.tip[c.bones[0]] || ps.base[c.bones[0]]);
      const t = ps.base[c.twist_target];
      poles.setXYZ(2 * k, t[0], t[1], -t[2]);
      poles.setXYZ(2 * k + 1, j[0], j[1], -j[2]);
    });
    poles.needsUpdate = true;
    updateLimits(ps, frameIndex);
    if (follow.checked && followed) {  // keep the camera's offset from the moving rig
      const [elo, ehi] = poseExtent(ps), c = scale(add(elo, ehi), 0.5);
      cam.target.add(v3(sub(c, followed)).sub(v3([0, 0, 0])));
      followed = c;
      placeCamera();
    }
  }

  // ---- Camera: orbit, pan, zoom, presets ----
  const persp = new T.PerspectiveCamera(40, 1, size * 1e-3, size * 100);
  const ortho = new T.OrthographicCamera(-1, 1, 1, -1, -size * 100, size * 100);
  const presets = { front: [0, Math.PI / 2], side: [Math.PI / 2, Math.PI / 2], top: [0, 1e-4], persp: [0.62, 1.12] };
  const cam = { theta: 0, phi: Math.PI / 2, dist: size * 2, target: v3(center), kind: 'front', zoom: 1 };
  let camera = ortho;
  function viewSize() { return [Math.max(1, view.clientWidth), Math.max(1, view.clientHeight)]; }
  function placeCamera() {
    const [w, h] = viewSize(), aspect = w / h;
    const dir = new T.Vector3(Math.sin(cam.phi) * Math.sin(cam.theta), Math.cos(cam.phi), Math.sin(cam.phi) * Math.cos(cam.theta));
    camera = cam.kind === 'persp' ? persp : ortho;
    camera.position.copy(cam.target).addScaledVector(dir, cam.dist);
    camera.up.set(0, 1, 0);
    camera.lookAt(cam.target);
    if (camera === persp) {
      persp.aspect = aspect;
    } else {
      const half = cam.half / cam.zoom;
      ortho.left = -half * aspect; ortho.right = half * aspect; ortho.top = half; ortho.bottom = -half;
    }
    camera.updateProjectionMatrix();
    camera.updateMatrixWorld();
  }
  // Frames the rig (its extent over all frames) in the current direction.
  const follow = document.getElementById('follow');
  follow.checked = travels;
  let followed = null;  // the pose centre the camera target last moved with
  function frameRig() {
    const [w, h] = viewSize(), aspect = w / h;
    const [elo, ehi] = follow.checked && current ? poseExtent(current) : [lo, hi];
    cam.target = v3(scale(add(elo, ehi), 0.5));
    followed = current ? scale(add(elo, ehi), 0.5) : null;
    cam.zoom = 1;
    placeCamera();
    const right = new T.Vector3().setFromMatrixColumn(camera.matrixWorld, 0);
    const up = new T.Vector3().setFromMatrixColumn(camera.matrixWorld, 1);
    let ex = 0, ey = 0;
    for (const cx of [elo[0], ehi[0]]) for (const cy of [elo[1], ehi[1]]) for (const cz of [elo[2], ehi[2]]) {
      const p = v3([cx, cy, cz]).sub(cam.target);
      ex = Math.max(ex, Math.abs(p.dot(right))); ey = Math.max(ey, Math.abs(p.dot(up)));
    }
    const esize = len(sub(ehi, elo));
    // The rig fills the band between the title (and buttons) and the help line, so that no preset
    // puts it under them.
    const [top, bottom, leftEdge, rightEdge] = freeBand(), band = bottom - top, width = rightEdge - leftEdge;
    const half = Math.max(ey * h / band, ex * h / width, esize * 0.05, 1e-6) * (still ? 1.2 : 1.08);
    cam.half = half;
    cam.dist = cam.kind === 'persp' ? half / Math.tan(20 * D2R) + esize * 0.3 : size * 4;
    // Moving the target up by the band's offset from the view's middle shows the rig in the band.
    const perPixel = 2 * (cam.kind === 'persp' ? cam.dist * Math.tan(20 * D2R) : half) / h;
    cam.target.addScaledVector(up, ((top + bottom) / 2 - h / 2) * perPixel);
    cam.target.addScaledVector(right, -((leftEdge + rightEdge) / 2 - w / 2) * perPixel);
    placeCamera();
  }
  // The rows of the view that no title, button or help text covers (CSS pixels from its top), and
  // the columns that an open options panel (at the left) and the inspector beside it (at the right)
  // leave free.
  function freeBand() {
    const [w, h] = viewSize(), r = view.getBoundingClientRect();
    let top = 0, bottom = h, left = 0, right = w;
    const options = document.getElementById('options'), inspector = document.getElementById('inspect');
    if (!options.hidden) {
      left = options.getBoundingClientRect().right - r.left + 6;
      if (!inspector.hidden) right = inspector.getBoundingClientRect().left - r.left - 6;
      if (right - left < w / 4) [left, right] = [0, w];  // a narrow view keeps its whole width
    }
    for (const id of ['title', 'presets']) {
      const b = document.getElementById(id).getBoundingClientRect();
      if (b.height > 0) top = Math.max(top, b.bottom - r.top + 6);
    }
    const help = document.getElementById('help').getBoundingClientRect();
    if (help.height > 0) bottom = Math.min(bottom, help.top - r.top - 6);
    return bottom - top >= h / 2 ? [top, bottom, left, right] : [0, h, left, right];  // a small view keeps its whole height
  }
  function setView(kind) {
    cam.kind = kind;
    [cam.theta, cam.phi] = presets[kind];
    document.querySelectorAll('#presets button[data-view]').forEach((b) => b.classList.toggle('active', b.dataset.view === kind));
    frameRig();
    render();
  }
  function resize() {
    const [w, h] = viewSize();
    renderer.setSize(w, h, false);
    placeCamera();
    render();
  }
  let drag = null;
  const canvas = renderer.domElement;
  canvas.addEventListener('contextmenu', (e) => e.preventDefault());
  canvas.addEventListener('pointerdown', (e) => {
    drag = { x: e.clientX, y: e.clientY, moved: false, pan: e.button === 2 || e.shiftKey };
    canvas.setPointerCapture(e.pointerId);
  });
  canvas.addEventListener('pointermove', (e) => {
    gizmo.camera = camera;  // the gizmo follows the view presets' camera
    if (!drag) return;
    if (gizmo.dragging) { drag.moved = true; return; }
    const dx = e.clientX - drag.x, dy = e.clientY - drag.y;
    if (!drag.moved && Math.abs(dx) + Math.abs(dy) < 4) return;
    drag.moved = true;
    drag.x = e.clientX; drag.y = e.clientY;
    if (drag.pan) {
      const [, h] = viewSize();
      const worldPerPixel = camera === persp ? (2 * cam.dist * Math.tan(20 * D2R)) / h : (2 * cam.half / cam.zoom) / h;
      const right = new T.Vector3().setFromMatrixColumn(camera.matrixWorld, 0);
      const up = new T.Vector3().setFromMatrixColumn(camera.matrixWorld, 1);
      cam.target.addScaledVector(right, -dx * worldPerPixel).addScaledVector(up, dy * worldPerPixel);
    } else {
      cam.theta -= dx * 0.008;
      cam.phi = Math.min(Math.PI - 1e-4, Math.max(1e-4, cam.phi - dy * 0.008));
    }
    placeCamera();
    render();
  });
  canvas.addEventListener('pointerup', (e) => {
    if (drag && !drag.moved) pick(e);
    drag = null;
  });
  canvas.addEventListener('wheel', (e) => {
    e.preventDefault();
    const k = Math.exp(e.deltaY * 0.0015);
    if (camera === persp) cam.dist *= k; else cam.zoom /= k;
    placeCamera();
    render();
  }, { passive: false });

  // ---- Inspecting an item ----
  const inspect = document.getElementById('inspect');
  let inspected = -1;
  const raycaster = new T.Raycaster();
  function pick(e) {
    const r = canvas.getBoundingClientRect();
    raycaster.setFromCamera(new T.Vector2(((e.clientX - r.left) / r.width) * 2 - 1, -((e.clientY - r.top) / r.height) * 2 + 1), camera);
    const hit = raycaster.intersectObjects(pickables, false)[0];
    if (gizmo.dragging || (!hit && gizmo.axis !== null)) return;  // the gizmo's own handles
    inspected = hit ? hit.object.userData.item : -1;
    showInspect();
    placeGizmo();
    guarded(showOptions)();
  }
  const fmt = (v, d) => (v === null || v === undefined || !isFinite(v) ? '–' : (Math.abs(v) < 0.5 * Math.pow(10, -d) ? 0 : v).toFixed(d));
  const row = (label, v, d) => `<tr><td>${label}</td>${v.map((x) => `<td class="n">${fmt(x, d)}</td>`).join('')}</tr>`;
  const esc = (s) => String(s).replace(/[&<>"]/g, (c) => ({ '&': '&amp;', '<': '&lt;', '>': '&gt;', '"': '&quot;' }[c]));
  function itemState(i, ps) {
    const it = items[i];
    return { name: it.name, type: it.type, position: ps.base[i], world_rotation: hpbOf(ps.world[i]),
             local_position: channel(it, 'position', ps.f), local_rotation: channel(it, 'rotation', ps.f),
             tip: ps.tip[i] || null };
  }
  // The limits that held each chain's solve at frame index f, as the run report gives them.
  const actedAt = (c, f) => ((c.acted && c.acted[f]) || []).map((k) => c.acted_limits[k]);
  // For a chain root: its plotted states and marks at the present frame, and every limit that
  // held its solve (the root's own and its joints').
  function chainFigures(i) {
    const c = chains.find((ch) => ch.root === i);
    if (!c) return '';
    const acted = actedAt(c, current.f).map((a) => a.text);
    return c.series.filter((s) => s.kind !== 'line' && s.key !== 'limits_acted').map((s) => {
      const v = s.values[current.f];
      return `<div>${esc(s.label)}: ${s.kind === 'marks' ? (v ? 'yes' : 'no') : esc(v)}</div>`;
    }).join('') + `<div>limits acted: ${acted.length ? acted.map(esc).join(', ') : 'none'}</div>`;
  }
  // An item's rotation limits (degrees) and, for a chain's root or joint, which of them held the
  // solve at the present frame.
  function limitTable(i) {
    const lim = items[i].limits || {};
    const c = chains.find((ch) => ch.root === i);
    const cone = c && (c.markers.length ? `marker cone, ${c.markers.length} markers` : lim.heading && lim.pitch ? 'through the heading and pitch limits' : '');
    const rows = ['heading', 'pitch', 'bank'].filter((k) => lim[k]);
    if (!rows.length && !cone) return '';
    const held = [];
    chains.forEach((ch) => actedAt(ch, current.f).forEach((a) => { if (a.item === i) held.push(a); }));
    const heldText = (k) => {
      const a = held.find((h) => h.channel === k);
      return a ? (a.bound ? `held at ${a.bound}` : 'held') : '';
    };
    const line = (k, cells) => `<tr${heldText(k) ? ' class="held"' : ''}><td>${k}</td>${cells}<td>${heldText(k)}</td></tr>`;
    return '<table class="limits"><tr><td>limits °</td><td class="n">lower</td><td class="n">upper</td><td></td></tr>' +
      rows.map((k) => line(k, `<td class="n">${fmt(lim[k][0], 3)}</td><td class="n">${fmt(lim[k][1], 3)}</td>`)).join('') +
      (cone ? line('cone', `<td colspan="2">${cone}</td>`) : '') + '</table>';
  }
  function showInspect() {
    if (inspected < 0 || !current) { inspect.hidden = true; return; }
    const s = itemState(inspected, current);
    const roleName = { goal: 'goal', twist: 'twist target', goalPosition: 'goal position item', marker: 'limit marker', origin: 'limit centre' }[role[inspected]];
    inspect.innerHTML = `<h3>${esc(s.name)}</h3><div>${s.type}${roleName ? ' · ' + roleName : ''} · frame ${first + current.f}</div>` +
      '<table><tr><td></td><td class="n">x / H</td><td class="n">y / P</td><td class="n">z / B</td></tr>' +
      row('local position', s.local_position, 4) + row('local rotation °', s.local_rotation, 3) +
      row('world position', s.position, 4) + row('world rotation °', s.world_rotation, 3) +
      (s.tip ? row('tip (world)', s.tip, 4) : '') + '</table>' + limitTable(inspected) + chainFigures(inspected);
    inspect.hidden = false;
  }

  // ---- Legend and title ----
  {
    const used = new Set(role);
    const entries = [];
    if (bones.some((b) => inChain[b.i])) entries.push([colors.boneChain, 'bone in a chain']);
    if (bones.some((b) => !inChain[b.i])) entries.push([colors.bone, 'other bone']);
    if (bones.length) entries.push([colors.joint, 'joint']);
    if (objects.length) entries.push(['axes', 'object axes (X, Y, Z)']);
    if (used.has('goal')) entries.push([colors.goal, 'goal']);
    if (used.has('twist')) entries.push([colors.twist, 'twist target, line to the joint it turns']);
    if (used.has('goalPosition')) entries.push([colors.goalPosition, 'goal position item']);
    if (chains.some((c) => c.goal >= 0)) entries.push(['dash', 'chain end to goal']);
    if (chains.some(hasLimit)) {
      entries.push([colors.limit, chains.some((c) => c.markers.length) ? 'root limit, its markers and centre axis' : 'root limit'],
                   [colors.limitOn, 'root on its limit']);
    }
    document.getElementById('legend').innerHTML = entries.map(([c, label]) => {
      const sw = c === 'axes' ? `background:linear-gradient(90deg,${css(colors.x)} 33%,${css(colors.y)} 33% 66%,${css(colors.z)} 66%)`
        : c === 'dash' ? `background:repeating-linear-gradient(90deg,${css(colors.endLine)} 0 4px,transparent 4px 7px);height:2px`
          : `background:${css(c)}`;
      return `<div><i style="${sw}"></i>${label}</div>`;
    }).join('');
    document.getElementById('title').innerHTML = esc(data.scene) + (data.description ? `<small>${esc(data.description)}</small>` : '');
    showWarnings(data.warnings || []);
  }
  // The scene's warnings, in the runner's words: what the rig cannot do as meant and the fix. The
  // run's at first; after each edit, the page's solver checks the edited scene again.
  function showWarnings(warnings) {
    const box = document.getElementById('warnings');
    box.hidden = warnings.length === 0;
    box.innerHTML = warnings.length
      ? `<b>${warnings.length} warning${warnings.length === 1 ? '' : 's'}</b>` + warnings.map((w) => `<div>${esc(w)}</div>`).join('')
      : '';
  }

  // ---- Timeline ----
  const scrub = document.getElementById('scrub'), frameNumber = document.getElementById('frame-number');
  const playButton = document.getElementById('play'), speed = document.getElementById('speed'), loop = document.getElementById('loop');
  scrub.max = String(count - 1);
  let frameIndex = 0, playing = false, clock = 0, lastTime = 0;
  let beforeShow = () => {};  // with the page's solver: a frame not yet solved again after an edit is solved
  function setFrame(k) {
    frameIndex = Math.max(0, Math.min(count - 1, Math.round(k)));
    beforeShow();
    scrub.value = String(frameIndex);
    frameNumber.textContent = `frame ${first + frameIndex} / ${last}`;
    show(frameIndex);
    if (inspected >= 0) showInspect();
    drawCursors();
    render();
  }
  function setPlaying(on) {
    playing = on;
    playButton.innerHTML = on ? '&#10074;&#10074;' : '&#9654;';
    if (on) {
      if (frameIndex >= count - 1 && !loop.checked) setFrame(0);
      clock = frameIndex; lastTime = performance.now();
      requestAnimationFrame(tick);
    }
  }
  function tick(now) {
    if (!playing) return;
    clock += ((now - lastTime) / 1000) * data.fps * Number(speed.value);
    lastTime = now;
    if (clock > count - 1) {
      if (loop.checked) clock = count > 1 ? clock % count : 0;
      else { setFrame(count - 1); setPlaying(false); return; }
    }
    if (Math.floor(clock) !== frameIndex) setFrame(Math.floor(clock));
    requestAnimationFrame(tick);
  }
  scrub.addEventListener('input', () => { setPlaying(false); setFrame(Number(scrub.value)); });
  playButton.addEventListener('click', () => setPlaying(!playing));
  document.getElementById('step-back').addEventListener('click', () => { setPlaying(false); setFrame(frameIndex - 1); });
  document.getElementById('step-forward').addEventListener('click', () => { setPlaying(false); setFrame(frameIndex + 1); });
  document.querySelectorAll('#presets button[data-view]').forEach((b) => b.addEventListener('click', () => setView(b.dataset.view)));
  document.getElementById('frame-all').addEventListener('click', () => { frameRig(); render(); });
  follow.addEventListener('change', () => { frameRig(); render(); });
  window.addEventListener('keydown', (e) => {
    if (e.target.tagName === 'SELECT' || e.target.tagName === 'INPUT' && e.target.type !== 'range') return;
    if (e.key === ' ') { e.preventDefault(); setPlaying(!playing); }
    else if (e.key === 'ArrowLeft') { setPlaying(false); setFrame(frameIndex - 1); }
    else if (e.key === 'ArrowRight') { setPlaying(false); setFrame(frameIndex + 1); }
    else if (['1', '2', '3', '4'].includes(e.key)) setView(['front', 'side', 'top', 'persp'][Number(e.key) - 1]);
    else if (e.key === 'f' || e.key === 'F') { frameRig(); render(); }
  });

  // ---- Per-chain plots: every series the data carries ----
  const plotsDiv = document.getElementById('plots');
  const seriesColors = [css(colors.endLine), '#d35400', '#5d6d7e', '#b8860b', '#1b4f72'];  // none of the meanings' above
  const markColors = { root_on_limit: css(colors.limitOn), limits_acted: css(colors.limit), twist_off: '#795548' };
  // Reach states keep one colour in every chain; other words take the next free one.
  const stateColors = new Map([['reached', '#9fd4a8'], ['out of reach', '#f08c00'], ['not solved', '#7d868f']]);
  const stateColor = (v) => {
    if (!stateColors.has(v)) stateColors.set(v, seriesColors[stateColors.size % seriesColors.length]);
    return stateColors.get(v);
  };
  // Plot layout (CSS pixels): band labels and value axis in a left margin, the lines on top, the
  // bands one a row below them, frame numbers at the bottom.
  const plotLeft = 110, plotRight = 10, lineHeight = 56, bandHeight = 10, bandGap = 3;
  const plotX = (w, f) => plotLeft + (count > 1 ? (f / (count - 1)) * (w - plotLeft - plotRight) : 0);
  const plots = chains.map((c, k) => {
    c.length = chainLength[k];
    // Lengths in fixed-point, to a thousandth of the chain's length or finer.
    const decimals = Math.min(8, Math.max(0, 3 - Math.floor(Math.log10(c.length || 1))));
    const value = (s, v) => s.kind === 'line' ? (v === null || !isFinite(v) ? '–' : Number(v).toFixed(decimals))
      : s.kind === 'marks' ? (v ? 'yes' : 'no') : String(v);
    const div = document.createElement('div');
    div.className = 'plot';
    const keys = c.series.map((s, n) => {
      const color = s.kind === 'line' ? seriesColors[n % seriesColors.length] : (markColors[s.key] || seriesColors[(n + 2) % seriesColors.length]);
      s.color = color;
      if (s.kind === 'state') {  // one key per word the series holds
        return [...new Set(s.values)].map((v) => `<span class="key"><i style="background:${stateColor(v)}"></i>${esc(s.label)}: ${esc(v)}</span>`).join('');
      }
      return `<span class="key"><i style="background:${color}"></i>${esc(s.label)}${s.unit ? ` (${esc(s.unit)})` : ''}</span>`;
    }).join('');
    // The values at the cursor, each in a cell as wide as its longest value, so that nothing moves
    // while scrubbing.
    const cells = c.series.map((s) => {
      const width = Math.max(3, ...s.values.map((v) => value(s, v).length));
      return `<span class="cell">${esc(s.label)}: <span class="v${s.kind === 'line' ? ' n' : ''}" style="width:${width + 0.5}ch"></span></span>`;
    }).join('') + `<span class="cell">frame <span class="v n" style="width:${Math.max(String(first).length, String(last).length) + 0.5}ch"></span></span>`;
    div.innerHTML = `<div class="head"><b>chain ${esc(items[c.root].name)}</b>${c.goal >= 0 ? ' → ' + esc(items[c.goal].name) : ' (no goal)'}${keys}<span class="now">${cells}</span></div>`;
    const cv = document.createElement('canvas');
    const bands = c.series.filter((s) => s.kind !== 'line').length;
    const height = 6 + lineHeight + 6 + bands * (bandHeight + bandGap) + 14;
    cv.style.height = height + 'px';
    div.appendChild(cv);
    plotsDiv.appendChild(div);
    cv.addEventListener('click', (e) => {
      const r = cv.getBoundingClientRect();
      setPlaying(false);
      setFrame(((e.clientX - r.left - plotLeft) / Math.max(1, r.width - plotLeft - plotRight)) * (count - 1));
    });
    return { c, cv, decimals, value, cells: [...div.querySelectorAll('.now .v')], image: null, bands: [] };
  });
  function drawPlot(p) {
    const cv = p.cv, ratio = window.devicePixelRatio || 1;
    const w = Math.max(200, cv.clientWidth), h = Math.max(40, cv.clientHeight);
    cv.width = w * ratio; cv.height = h * ratio;
    const g = cv.getContext('2d');
    g.setTransform(ratio, 0, 0, ratio, 0, 0);
    g.clearRect(0, 0, w, h);
    const x0 = plotLeft, x1 = w - plotRight, y0 = 6, y1 = y0 + lineHeight;
    const xAt = (f) => plotX(w, f);
    g.strokeStyle = '#dde1e5'; g.strokeRect(x0, y0, x1 - x0, y1 - y0);
    g.fillStyle = '#7a848e'; g.font = '10px system-ui, sans-serif';
    g.fillText(String(first), x0, h - 4);
    g.textAlign = 'right'; g.fillText(String(last), x1, h - 4);
    const lines = p.c.series.filter((s) => s.kind === 'line');
    let top = 0;
    lines.forEach((s) => s.values.forEach((v) => { if (v !== null && isFinite(v)) top = Math.max(top, v); }));
    // Distances far below the chain's length (solver rounding) stay near the axis.
    top = Math.max(top * 1.1, (p.c.length || 1) * 0.01);
    g.fillText(top.toFixed(p.decimals), x0 - 4, y0 + 8);
    g.fillText((0).toFixed(p.decimals), x0 - 4, y1);
    p.bands = [];
    p.c.series.forEach((s) => {
      if (s.kind === 'line') {
        g.strokeStyle = s.color; g.lineWidth = 1.5; g.beginPath();
        let pen = false;
        s.values.forEach((v, f) => {
          if (v === null || !isFinite(v)) { pen = false; return; }
          const y = y1 - (v / top) * (y1 - y0);
          if (pen) g.lineTo(xAt(f), y); else g.moveTo(xAt(f), y);
          pen = true;
        });
        g.stroke();
        return;
      }
      // Marks and states: a labelled band under the lines, one per series.
      const by = y1 + 6 + p.bands.length * (bandHeight + bandGap);
      p.bands.push({ key: s.key, label: s.label, top: by, height: bandHeight });
      g.fillStyle = '#5b6570'; g.textAlign = 'right';
      g.fillText(s.label, x0 - 4, by + bandHeight - 1);
      g.fillStyle = '#f1f3f5'; g.fillRect(x0, by, x1 - x0, bandHeight);
      // One rectangle per run of equal values, on whole pixels, so that a run shows no seams.
      for (let f = 0, end; f < count; f = end) {
        const v = s.values[f];
        for (end = f + 1; end < count && s.values[end] === v;) ++end;
        if (s.kind === 'marks' && !v) continue;
        g.fillStyle = s.kind === 'state' ? stateColor(v) : s.color;
        const left = Math.round(Math.max(x0, xAt(f - 0.5))), right = Math.round(Math.min(x1, xAt(end - 0.5)));
        g.fillRect(left, by, Math.max(2, right - left), bandHeight);
      }
    });
    p.image = g.getImageData(0, 0, cv.width, cv.height);
  }
  function drawCursors() {
    for (const p of plots) {
      if (!p.image) drawPlot(p);
      const g = p.cv.getContext('2d'), ratio = window.devicePixelRatio || 1;
      g.putImageData(p.image, 0, 0);
      const x = plotX(p.cv.width / ratio, frameIndex);
      g.strokeStyle = '#1d232a'; g.lineWidth = 1;
      g.beginPath(); g.moveTo(x, 4); g.lineTo(x, p.cv.height / ratio - 14); g.stroke();
      p.c.series.forEach((s, n) => { p.cells[n].textContent = p.value(s, s.values[frameIndex]); });
      p.cells[p.c.series.length].textContent = String(first + frameIndex);
    }
  }

  // ---- Start ----
  let firstFrameMs = null;
  function render() {
    renderer.render(scene, camera);
    if (firstFrameMs !== null) return;
    firstFrameMs = performance.now();  // from the start of navigation
    // The page has drawn: `render` looks for this mark to tell a picture from an empty page.
    document.body.setAttribute('data-tarsel-drawn', 'yes');
  }
  window.addEventListener('resize', () => { plots.forEach((p) => { p.image = null; }); resize(); drawCursors(); });
  if (still && hash.has('w') && hash.has('h')) {  // a picture of the given size
    view.style.width = Number(hash.get('w')) + 'px'; view.style.height = Number(hash.get('h')) + 'px';
    view.style.flex = 'none';
  }
  renderer.setSize(viewSize()[0], viewSize()[1], false);
  const startView = presets[hash.get('view')] ? hash.get('view') : 'persp';
  const startFrame = hash.has('frame') ? Number(hash.get('frame')) - first : 0;
  frameIndex = Math.max(0, Math.min(count - 1, startFrame || 0));
  show(frameIndex);
  setView(startView);
  setFrame(frameIndex);

  // Where a point of host space shows on the page (CSS pixels from the page's top left).
  function toScreen(p) {
    const v = v3(p).project(camera), r = canvas.getBoundingClientRect();
    return [r.left + (v.x + 1) / 2 * r.width, r.top + (1 - v.y) / 2 * r.height];
  }

  // ---- The page's own solver, when `view` put the WebAssembly build in: the module loaded through
  // its descriptor into the stand-in host, as the runner loads it, and the scene from its file ----
  let solver = null, solverState = 'absent';
  const solverLines = [];  // what the module wrote to its error stream
  window.addEventListener('DOMContentLoaded', () => {
    const program = document.getElementById('tarsel-wasm'), scene = document.getElementById('tarsel-scene');
    if (!program || !scene || typeof createTarsel !== 'function') return;
    solverState = 'loading';
    const bytes = Uint8Array.from(atob(program.textContent), (c) => c.charCodeAt(0));
    createTarsel({ wasmBinary: bytes, print: () => {}, printErr: (line) => solverLines.push(line) })
      .then((m) => {
        const call = (name, ret, args) => m.cwrap(name, ret, args || []);
        // A scene's text goes in through the program's heap: cwrap puts a string on the program's
        // stack, which the text of a long clip overflows.
        const loadAt = call('tarsel_load', 'number', ['number', 'string']);
        const load = (text, name) => {
          const size = m.lengthBytesUTF8(text) + 1, at = m._malloc(size);
          if (!at) return 0;
          try {
            m.stringToUTF8(text, at, size);
            return loadAt(at, name);
          } finally {
            m._free(at);
          }
        };
        const api = {
          open: call('tarsel_open', 'number'), load,
          rotations: call('tarsel_rotations', 'string', ['number', 'number']),
          error: call('tarsel_error', 'string'),
          viewData: call('tarsel_view_data', 'string', ['number', 'number']),
          setChannel: call('tarsel_set_channel', 'number',
                           ['string', 'number', 'number', 'number', 'number', 'number', 'number']),
          options: call('tarsel_options', 'string', ['string']),
          setOption: call('tarsel_set_option', 'number', ['string', 'number', 'number']),
          sceneText: call('tarsel_scene_text', 'string'),
          warnings: call('tarsel_warnings', 'string'),
        };
        if (!api.open() || !api.load(scene.textContent, data.scene)) throw new Error(api.error());
        solver = api;
        solverState = 'ready';
        document.getElementById('help').textContent += ' · T move, R rotate · solver loaded in the page';
        document.getElementById('edit').hidden = false;
        showOptions();
      })
      .catch((e) => { solverState = `failed: ${e.message || e}`; });
  });
  // Every item's rotation (radians) over first..last from the page's solver, or null without one.
  function solveRotations(from, to) {
    if (!solver) return null;
    const text = solver.rotations(from, to);
    if (text === null || text === '') throw new Error(solver.error());
    return JSON.parse(text);
  }

  // ---- Dragging an object with the gizmo, to move it (T) or turn it (R): each drag event keys the
  // object's position or rotation at the current frame (with "key" off, moves its rest value, or all
  // its keys alike), the page's solver evaluates that frame again and the frame is drawn anew; the
  // other frames follow in the background ----
  const gizmo = new THREE_CONTROLS.TransformControls(camera, canvas);
  const handle = new T.Object3D();
  scene.add(handle);
  scene.add(gizmo.getHelper());
  let dragged = -1, solveMs = null;
  const channelKeys = ['position', 'rotation', 'scaling', 'pivot', 'pivot_rotation'];
  // A fresh evaluation of frame indices at.., put into the data: channels, chain figures, the
  // limits that held and whether each root is on its limit.
  function takeFrames(fresh, at) {
    const n = fresh.frames[1] - fresh.frames[0] + 1;
    fresh.items.forEach((it, i) => channelKeys.forEach((key) => {
      let a = items[i][key];
      const v = it[key];
      if (a.length === 3 && v.length === 3 && a.every((x, k) => x === v[k])) return;
      if (a.length === 3) a = items[i][key] = Array.from({ length: 3 * count }, (_, k) => a[k % 3]);
      for (let f = 0; f < n; ++f) for (let k = 0; k < 3; ++k) a[3 * (at + f) + k] = v.length === 3 ? v[k] : v[3 * f + k];
    }));
    fresh.chains.forEach((c, k) => {
      const ch = chains[k];
      c.series.forEach((s) => {
        const mine = ch.series.find((m) => m.key === s.key);
        if (mine) for (let f = 0; f < n; ++f) mine.values[at + f] = s.values[f];
      });
      if (!c.acted || !ch.acted) return;
      for (let f = 0; f < n; ++f) {
        ch.acted[at + f] = c.acted[f].map((j) => {  // the fresh frames' limits, in the run's list
          const a = c.acted_limits[j];
          let known = ch.acted_limits.findIndex((b) => b.text === a.text);
          if (known < 0) known = ch.acted_limits.push(a) - 1;
          return known;
        });
      }
    });
    for (let f = at; f < at + n; ++f) {
      stale[f] = 0;
      if (!needLimits) continue;
      const ps = pose(f, limitItems);
      chains.forEach((c, k) => {
        if (!hasLimit(c)) return;
        limitMargin[k][f] = rootLimitMargin(c, ps, rootLimit(c, ps));
        onLimit[k][f] = limitMargin[k][f] > -onLimitTolerance ? 1 : 0;
        const marks = c.series.find((s) => s.key === 'root_on_limit');
        if (marks) marks.values[f] = onLimit[k][f];
      });
    }
  }
  // Frame indices from..to evaluated by the page's solver; solverMs adds up the time spent in it.
  let solverMs = 0;
  function solved(from, to) {
    const started = performance.now();
    const text = solver.viewData(first + from, first + to);
    solverMs += performance.now() - started;
    if (!text) throw new Error(solver.error());
    return JSON.parse(text);
  }
  // The world matrix's rotation (scale divided out) as a display-space quaternion: display space
  // is host space with z negated, so a host matrix H (row vectors) shows as S Hᵀ S, S = diag(1, 1, -1).
  const flip = [1, 1, -1];
  function displayQuaternion(w) {
    const rows = [0, 1, 2].map((i) => unit([w[4 * i], w[4 * i + 1], w[4 * i + 2]]));
    const m = new T.Matrix4();
    m.set(...[0, 1, 2, 3].flatMap((r) => [0, 1, 2, 3].map((c) => (r === 3 || c === 3 ? (r === c ? 1 : 0) : flip[r] * rows[c][r] * flip[c]))));
    return new T.Quaternion().setFromRotationMatrix(m);
  }
  // Heading, pitch and bank (degrees) of a rotation matrix, of its two forms the one nearer `near`
  // with whole turns added, so that keys next to it turn the short way.
  function anglesNear(m, near) {
    const [h, p, b] = hpbOf(m);
    const turn = (a, to) => a + 360 * Math.round((to - a) / 360);
    let best = null;
    for (const c of [[h, p, b], [h + 180, 180 - p, b + 180]]) {
      const v = c.map((a, k) => turn(a, near[k]));
      const d = v.reduce((sum, a, k) => sum + Math.abs(a - near[k]), 0);
      if (!best || d < best.d) best = { v, d };
    }
    return best.v;
  }
  let grab = null;  // at the press on the gizmo: the scene text and the dragged item's world rotation
  function moveDragged() {
    if (dragged < 0 || !solver || !grab) return;
    const ps = current, it = items[dragged];
    if (grab && grab.text !== null) { remember(grab.text); grab.text = null; }  // the drag's undo step
    let channelIndex = 0, value;
    if (gizmo.mode === 'rotate') {
      // The turn the gizmo made since the press (display space), as a host matrix, after the
      // world rotation at the press; the local rotation is what gives that world rotation
      // under the parent: world = scaling · rotation · pivot rotation · parent.
      const e = new T.Matrix4().makeRotationFromQuaternion(handle.quaternion.clone().multiply(grab.quaternion.clone().invert())).elements;
      const turn = [0, 1, 2].flatMap((i) => [0, 1, 2].map((j) => flip[i] * e[4 * i + j] * flip[j]));
      let local = mul3(grab.world, turn);
      if (it.parent >= 0) local = mul3(local, inverse3(ps.world[it.parent]));
      const s = channel(it, 'scaling', frameIndex), q = channel(it, 'pivot_rotation', frameIndex);
      const r = mul3(local, transpose3(hpbMatrix(q[0] * D2R, q[1] * D2R, q[2] * D2R)));
      for (let i = 0; i < 3; ++i) for (let j = 0; j < 3; ++j) r[3 * i + j] /= s[i] || 1;
      value = anglesNear(r, channel(it, 'rotation', frameIndex)).map((a) => a * D2R);
      channelIndex = 1;
    } else {
      const w = new T.Vector3(handle.position.x, handle.position.y, -handle.position.z);
      if (it.parent >= 0) {  // world = (position - parent pivot) through the parent's world transform
        w.applyMatrix4(new T.Matrix4().fromArray(ps.world[it.parent]).invert());
        const pp = channel(items[it.parent], 'pivot', frameIndex);
        w.add(new T.Vector3(pp[0], pp[1], pp[2]));
      }
      value = [w.x, w.y, w.z];
    }
    const started = performance.now();
    const key = document.getElementById('key').checked ? 1 : 0;
    if (!solver.setChannel(it.name, channelIndex, first + frameIndex, ...value, key)) throw new Error(solver.error());
    solveFrame(started);
  }
  // The present frame evaluated again by the page's solver and drawn anew; the other frames are
  // solved again in the background.
  function solveFrame(started) {
    takeFrames(solved(frameIndex, frameIndex), frameIndex);
    solveMs = performance.now() - started;  // the edit, the solve and its answer taken in; not the drawing
    show(frameIndex);
    showInspect();
    drawCursors();
    render();
    solveRest();
  }

  // ---- The other frames after an edit: solved again in the background a slice at a time (about
  // sliceMs each, between the page's events), so that the page keeps answering; a new edit starts
  // the pass again from the frame after the present one. A frame shown before the pass reaches it
  // is solved when shown. The plots are drawn again as the pass goes and when it ends ----
  const stale = new Uint8Array(count);
  const sliceMs = 8, plotEveryMs = 250;
  let pass = null, lastPass = null, posted = false;
  const slices = new MessageChannel();
  function solveRest() {
    stale.fill(1);
    stale[frameIndex] = 0;
    if (count === 1) return;
    pass = { next: (frameIndex + 1) % count, left: count - 1, size: 16, frames: 0, slices: 0, sliceMs: 0,
             solverMs, longestMs: 0, started: performance.now(), plotted: performance.now() };
    schedule();
  }
  function schedule() {
    if (posted || !pass) return;
    posted = true;
    slices.port2.postMessage(0);
  }
  function redrawPlots() {
    plots.forEach((p) => { p.image = null; });
    drawCursors();
  }
  const runSlice = guarded(() => {
    if (!pass || gizmo.dragging) return;  // a drag's end starts it again
    const started = performance.now();
    const from = pass.next, to = Math.min(count - 1, from + pass.size - 1, from + pass.left - 1);
    takeFrames(solved(from, to), from);
    const ms = performance.now() - started, n = to - from + 1;
    pass.sliceMs += ms; pass.slices += 1; pass.frames += n; pass.left -= n;
    pass.longestMs = Math.max(pass.longestMs, ms);
    pass.next = (to + 1) % count;
    pass.size = Math.max(1, Math.min(2 * n, 1000, Math.round(n * sliceMs / Math.max(ms, 0.1))));
    const now = performance.now();
    if (pass.left <= 0) {
      lastPass = { frames: pass.frames, solver_ms: solverMs - pass.solverMs, slices_ms: pass.sliceMs,
                   wall_ms: now - pass.started, slices: pass.slices, longest_slice_ms: pass.longestMs };
      pass = null;
      redrawPlots();
    } else {
      if (now - pass.plotted > plotEveryMs) { pass.plotted = now; redrawPlots(); }
      schedule();
    }
  });
  slices.port1.onmessage = () => { posted = false; runSlice(); };
  // A stale frame about to be shown is solved first.
  beforeShow = guarded(() => { if (stale[frameIndex]) takeFrames(solved(frameIndex, frameIndex), frameIndex); });

  // A failed solve (or a trap in the program) leaves the last good pose drawn and says so in one line.
  function guarded(f) {
    return (...args) => {
      if (!solver) return;
      try {
        f(...args);
      } catch (e) {
        solver = null;
        solverState = `failed: ${e.message || e}`;
        pass = null;
        gizmo.detach();
        dragged = -1;
        document.getElementById('edit').hidden = true;
        optionsBox.hidden = true;
        document.getElementById('help').textContent = `the page's solver stopped: ${e.message || e}`;
        show(frameIndex);
        render();
      }
    };
  }
  gizmo.addEventListener('objectChange', guarded(moveDragged));
  gizmo.addEventListener('change', render);
  // The scene as it was at the press becomes an undo step only once the drag changes something,
  // so that a press that moves nothing leaves both undo and redo as they were.
  gizmo.addEventListener('mouseDown', guarded(() => {
    grab = { text: sceneText(), world: current.world[dragged].slice(0, 11).filter((_, k) => k % 4 !== 3),
             quaternion: handle.quaternion.clone() };
  }));
  gizmo.addEventListener('mouseUp', guarded(() => {
    const edited = grab && grab.text === null;
    grab = null;
    if (!edited) return;
    if (undone[undone.length - 1] === sceneText()) {  // moved and back: no step
      undone.pop();
      redone.push(...keptRedo);
      showHistory();
    } else {
      checkWarnings();
    }
    schedule();
  }));
  function checkWarnings() {
    const text = solver.warnings();
    if (text === null) throw new Error(solver.error());
    showWarnings(JSON.parse(text));
  }
  // The gizmo's mode: move (T) or rotate (R).
  function setMode(mode) {
    gizmo.setMode(mode);
    document.querySelectorAll('#modes button').forEach((b) => b.classList.toggle('active', b.dataset.mode === mode));
    render();
  }
  document.querySelectorAll('#modes button').forEach((b) => b.addEventListener('click', () => setMode(b.dataset.mode)));
  window.addEventListener('keydown', (e) => {
    if (!solver || e.ctrlKey || e.metaKey || e.altKey || e.target.tagName === 'SELECT' ||
        e.target.tagName === 'INPUT' && !['range', 'checkbox'].includes(e.target.type)) return;
    if (e.key === 't' || e.key === 'T') setMode('translate');
    else if (e.key === 'r' || e.key === 'R') setMode('rotate');
  });

  // ---- Undo, redo and saving: the scene's file text before each edit (a drag, an option) is kept,
  // so that undoing loads it back and a save after undoing every edit gives the file as it was ----
  const undone = [], redone = [];
  let keptRedo = [];  // the redo list an edit cleared, for a drag that comes to nothing
  const historyChars = 256e6;  // the texts kept at most, besides the last 100 edits: a long clip's file is large
  const undoButton = document.getElementById('undo'), redoButton = document.getElementById('redo');
  function sceneText() {
    const text = solver.sceneText();
    if (text === null) throw new Error(solver.error());
    return text;
  }
  function showHistory() {
    undoButton.disabled = undone.length === 0;
    redoButton.disabled = redone.length === 0;
  }
  function remember(text) {
    undone.push(text);
    let kept = undone.reduce((sum, t) => sum + t.length, 0);
    while (undone.length > 100 || (undone.length > 1 && kept > historyChars)) kept -= undone.shift().length;
    keptRedo = redone.splice(0);
    showHistory();
  }
  // Loads the text from one list, keeping the present scene in the other.
  function restore(from, to) {
    if (!from.length) return;
    const started = performance.now();
    const text = from.pop();
    to.push(sceneText());
    if (!solver.load(text, data.scene)) throw new Error(solver.error());
    showHistory();
    solveFrame(started);
    placeGizmo();
    showOptions();
    checkWarnings();
  }
  const undo = guarded(() => restore(undone, redone)), redo = guarded(() => restore(redone, undone));
  undoButton.addEventListener('click', undo);
  redoButton.addEventListener('click', redo);
  window.addEventListener('keydown', (e) => {
    if (!(e.ctrlKey || e.metaKey) || e.target.tagName === 'INPUT' && e.target.type !== 'range') return;
    const key = e.key.toLowerCase();
    if (key === 'z' && !e.shiftKey) { e.preventDefault(); undo(); }
    else if (key === 'z' || key === 'y') { e.preventDefault(); redo(); }
  });
  // "Save scene" downloads the scene file as the page's solver holds it now, in the file's layout
  // with its identifiers (as `tarsel-stage panel --save` writes it).
  document.getElementById('save').addEventListener('click', guarded(() => {
    const a = document.createElement('a');
    a.href = URL.createObjectURL(new Blob([sceneText()], { type: 'application/json' }));
    a.download = data.scene.split(/[\\/]/).pop() || 'scene.json';
    a.click();
    setTimeout(() => URL.revokeObjectURL(a.href), 0);
  }));

  // ---- The options panel of the inspected chain root, as the module describes it through the
  // host: its controls, pop-up entries and values; each change re-solves the present frame ----
  const optionsBox = document.getElementById('options');
  function showOptions() {
    const root = solver && inspected >= 0 && chains.some((c) => c.root === inspected) ? items[inspected].name : null;
    const shown = !optionsBox.hidden;
    optionsBox.hidden = root === null;
    // The rig is framed beside the panel while it is open, and in the whole view again after.
    if (root === null) { if (shown) { frameRig(); render(); } return; }
    const text = solver.options(root);
    if (text === null) throw new Error(solver.error());
    const panel = JSON.parse(text);
    optionsBox.innerHTML = `<h3>${esc(root)} options</h3><table>` + panel.options.map((o) => {
      const at = `data-id="${o.id}" aria-label="${esc(o.label)}"`;
      const input = o.kind === 'popup'
        ? `<select ${at}>${o.entries.map((e, k) => `<option value="${k}"${k === o.value ? ' selected' : ''}>${esc(e)}</option>`).join('')}</select>`
        : o.kind === 'switch' ? `<input type="checkbox" ${at}${o.value ? ' checked' : ''}>`
          : `<input type="number" step="any" ${at} value="${o.value ?? ''}"${o.range ? ` title="${esc(o.range)}"` : ''}>`;
      return `<tr><td>${esc(o.label)}</td><td>${input}</td><td class="range">${o.range ? esc(o.range) : ''}</td></tr>`;
    }).join('') + '</table>';
    // It ends above the legend (scrolling when longer), so that the legend stays readable.
    const legendTop = document.getElementById('legend').getBoundingClientRect().top;
    optionsBox.style.maxHeight = `${Math.max(120, legendTop - optionsBox.getBoundingClientRect().top - 8)}px`;
    if (!shown) { frameRig(); render(); }
    optionsBox.querySelectorAll('[data-id]').forEach((el) => el.addEventListener('change', guarded(() => {
      const value = el.type === 'checkbox' ? (el.checked ? 1 : 0) : Number(el.value);
      if (!isFinite(value)) { showOptions(); return; }
      const started = performance.now();
      remember(sceneText());
      if (!solver.setOption(root, Number(el.dataset.id), value)) throw new Error(solver.error());
      solveFrame(started);
      showOptions();  // the value the module kept (a number raised or kept within its range)
      checkWarnings();
    })));
  }
  // The gizmo sits on the inspected item when it is an object the page's solver can move.
  function placeGizmo() {
    dragged = solver && inspected >= 0 && items[inspected].type !== 'bone' ? inspected : -1;
    if (dragged < 0) { gizmo.detach(); return; }
    handle.position.copy(v3(current.base[dragged]));
    handle.quaternion.copy(displayQuaternion(current.world[dragged]));
    gizmo.camera = camera;
    gizmo.attach(handle);
  }

  // Read-only hook for tests and scripts: the drawn state of the present frame, in host space.
  window.tarselView = Object.freeze({
    state() {
      const ps = current;
      return JSON.parse(JSON.stringify({
        frame: first + frameIndex, frames: [first, last], playing, view: cam.kind,
        drawn: { bones: bones.length, joints: joints.length, objects: objects.length },
        bones: bones.map((b) => ({ name: items[b.i].name, base: ps.base[b.i], tip: ps.tip[b.i],
                                   screen: toScreen(scale(add(ps.base[b.i], ps.tip[b.i]), 0.5)) })),
        items: items.map((it, i) => itemState(i, ps)),
        chains: chains.map((c, k) => ({
          root: items[c.root].name, goal: c.goal >= 0 ? items[c.goal].name : null, end: chainEnd(c, ps),
          goal_position: c.goal >= 0 ? ps.base[c.goal] : null,
          series: Object.fromEntries(c.series.map((s) => [s.key, s.values[frameIndex]])),
          root_on_limit: onLimit[k][frameIndex] === 1,
          root_limit_margin: isNaN(limitMargin[k][frameIndex]) ? null : limitMargin[k][frameIndex],
          limits_acted: actedAt(c, frameIndex).map((a) => a.text),
        })),
        plots: plots.map((p) => ({ root: items[p.c.root].name, bands: p.bands,
                                   cursor_x: plotX(p.cv.width / (window.devicePixelRatio || 1), frameIndex) })),
        inspected: inspected >= 0 ? items[inspected].name : null,
        first_frame_ms: firstFrameMs,
        solver: solverState, solver_messages: solverLines.length,
        dragged: dragged >= 0 ? items[dragged].name : null, solve_ms: solveMs,
        edits: { undo: undone.length, redo: redone.length },
        gizmo: { mode: gizmo.mode, axis: gizmo.axis },
        // The background pass over the other frames: frames still to solve again, and the last
        // whole pass: frames, time in the solver, in the slices (the solver's answers taken in
        // too), from its start to its end, and its slices' count and longest.
        resolve: { stale: stale.reduce((n, v) => n + v, 0), last: lastPass },
      }));
    },
    rotations: solveRotations,
    // Where an item's world position, or a point of host space, shows on the page (CSS pixels).
    screen(what) {
      if (Array.isArray(what)) return toScreen(what);
      const i = items.findIndex((it) => it.name === what);
      return i >= 0 ? toScreen(current.base[i]) : null;
    },
  });
})();
