#!/usr/bin/env bash
# The CMU clip 01_01 (a walk; Debian package assimp-testmodels) with IK on both legs: imported,
# rigged, its feet pinned through one ground contact each, checked, baked and exported to glTF.
# Usage: examples/cmu_legs.sh [OUTPUT_FOLDER]   (default: build/cmu_legs)
# Sets up and builds the runner first, unless TARSEL_STAGE names one. The commands after that are
# the ones a user types.
set -euo pipefail
cd "$(dirname "$0")/.."
stage="${TARSEL_STAGE:-build/default/stage/runner/tarsel-stage}"
clip=/usr/share/assimp/models/BVH/01_01.bvh
out="${1:-build/cmu_legs}"
if [ -z "${TARSEL_STAGE:-}" ]; then  # a fresh checkout: packages, then the runner and the module
  scripts/setup
  cmake --preset default >/dev/null
  cmake --build --preset default --target tarsel-stage >/dev/null
fi
mkdir -p "$out"

# 1. The skeleton and its 2,752 frames as a scene.
"$stage" import "$clip" -o "$out/01_01.json"
# 2. A chain on each leg, hip joint to ankle, with its goal where the clip has the ankle, and the
#    feet held where they touch down: the left foot over frames 282-420, the right over 1370-1510.
"$stage" rig "$out/01_01.json" -o "$out/01_01_legs.json" \
  --chain LeftUpLeg:LeftFoot --chain RightUpLeg:RightFoot \
  --pin LeftFoot:282-420 --pin RightFoot:1370-1510
# 3. Look at the contact: the left leg's distance from its ankle to the pinned goal.
"$stage" run "$out/01_01_legs.json" --frames 282-420 --format csv -o "$out/left_contact.csv"
# 4. The solved motion as keys (plays without the module) and as a glTF file for any viewer.
"$stage" bake "$out/01_01_legs.json" -o "$out/01_01_legs_baked.json"
"$stage" export "$out/01_01_legs.json" -o "$out/01_01_legs.glb"
echo "wrote $out/01_01_legs.json, $out/01_01_legs_baked.json and $out/01_01_legs.glb"
