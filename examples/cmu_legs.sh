#!/usr/bin/env bash
# The CMU clip 01_01 (a walk; Debian package assimp-testmodels) with IK on both legs: imported,
# rigged, its feet pinned through every ground contact, checked, baked and exported to glTF.
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
# 2. Where the feet are planted (near the floor and nearly still), as --pin options, e.g.
#    "--pin LeftFoot:282-420".
"$stage" contacts "$out/01_01.json" --joint LeftFoot >"$out/pins.txt"
"$stage" contacts "$out/01_01.json" --joint RightFoot >>"$out/pins.txt"
# 3. A chain on each leg, hip joint to ankle, with its goal where the clip has the ankle, and the
#    feet held through every contact, eased in and out.
# shellcheck disable=SC2046
"$stage" rig "$out/01_01.json" -o "$out/01_01_legs.json" \
  --chain LeftUpLeg:LeftFoot --chain RightUpLeg:RightFoot $(cat "$out/pins.txt")
# 4. Look at a contact: the left leg's distance from its ankle to the pinned goal.
"$stage" run "$out/01_01_legs.json" --frames 282-420 --format csv -o "$out/left_contact.csv"
# 5. The solved motion as keys (plays without the module) and as a glTF file for any viewer.
"$stage" bake "$out/01_01_legs.json" -o "$out/01_01_legs_baked.json"
"$stage" export "$out/01_01_legs.json" -o "$out/01_01_legs.glb"
echo "wrote $out/01_01_legs.json, $out/01_01_legs_baked.json and $out/01_01_legs.glb"
