#!/bin/sh
# The CMU clip's legs rigged, exported to glTF and BVH, and read back by Blender's own readers
# (headless): one armature each, the feet where the run has them; and two characters' skinned
# meshes where the source files put them. Skipped without Blender.
set -eu
stage=$1 models=$2 out=$3 points=$4 here=$(dirname "$0")
command -v blender >/dev/null || { echo "blender is not installed: skipped"; exit 77; }
mkdir -p "$out"
cd "$out"
"$stage" import "$models/BVH/01_01.bvh" -o clip.json
"$stage" rig clip.json --chain LeftUpLeg:LeftFoot --chain RightUpLeg:RightFoot -o legs.json
"$stage" export legs.json -o legs.glb
"$stage" export legs.json -o legs.bvh
"$stage" run legs.json --frames 0-2700 --format csv -o run.csv
awk -F, 'NR == 1 || $2 % 150 == 0' run.csv > sampled.csv
blender -b --python-exit-code 1 --python "$here/blender_readback.py" -- sampled.csv legs.glb legs.bvh
for character in X/BCN_Epileptic.X FBX/huesitos.fbx; do
  name=$(basename "$character" | cut -d. -f1)
  "$stage" import "$models/$character" -o "$name.json"
  "$stage" export "$name.json" -o "$name.glb"
  fps=$(sed -n 's/^  "fps": \([0-9]*\),$/\1/p' "$name.json")
  "$points" "$models/$character" 20 "$fps" > "$name.csv"
  set -- "$@" "$name.glb" 20 "$fps" "$name.csv"
done
shift 4  # the script's own arguments, leaving the groups of four for Blender
blender -b --python-exit-code 1 --python "$here/blender_skin.py" -- "$@"
