// A second glTF reader for the export tests: three.js's GLTFLoader (run in Node; the files hold
// no images). Prints, as JSON, whether every joint of the file's skin became a three.js Bone, and
// the world position of every named node at the given frames, the animation played by an
// AnimationMixer, and where each SkinnedMesh (in the scene's order) puts its vertices then,
// flattened x, y, z. Usage: node read_gltf_three.mjs FILE.glb FPS FRAME...
import fs from 'fs';
import * as THREE from 'three';
import { GLTFLoader } from 'three/examples/jsm/loaders/GLTFLoader.js';

const [file, fps, ...frames] = process.argv.slice(2);
const bytes = fs.readFileSync(file);
const data = bytes.buffer.slice(bytes.byteOffset, bytes.byteOffset + bytes.byteLength);
new GLTFLoader().parse(data, '', (gltf) => {
  const scene = gltf.scene;
  const json = gltf.parser.json;
  const joints = (json.skins || []).flatMap((s) => s.joints);
  let allBones = joints.length > 0;
  scene.traverse((o) => {
    const def = gltf.parser.associations.get(o);
    if (def && def.nodes !== undefined && joints.includes(def.nodes) && !o.isBone) allBones = false;
  });
  const mixer = new THREE.AnimationMixer(scene);
  // Played once and held at its end, so that the last frame is not wrapped to the first.
  const action = mixer.clipAction(gltf.animations[0]);
  action.setLoop(THREE.LoopOnce);
  action.clampWhenFinished = true;
  action.play();
  const skinned = [];
  scene.traverse((o) => {
    if (o.isSkinnedMesh) skinned.push(o);
  });
  const out = {
    skins: (json.skins || []).length, joints: joints.length, allBones, frames: {}, skinned: {},
  };
  for (const f of frames) {
    mixer.setTime(Number(f) / Number(fps));
    scene.updateMatrixWorld(true);
    const at = {};
    scene.traverse((o) => {
      if (!o.name) return;
      const p = new THREE.Vector3().setFromMatrixPosition(o.matrixWorld);
      at[o.name] = [p.x, p.y, p.z];
    });
    out.frames[f] = at;
    out.skinned[f] = skinned.map((mesh) => {
      const v = new THREE.Vector3(), flat = [];
      for (let i = 0; i < mesh.geometry.attributes.position.count; ++i) {
        mesh.getVertexPosition(i, v);
        v.applyMatrix4(mesh.matrixWorld);
        flat.push(v.x, v.y, v.z);
      }
      return flat;
    });
  }
  process.stdout.write(JSON.stringify(out));
}, (e) => { console.error(`${file}: ${e}`); process.exit(1); });
