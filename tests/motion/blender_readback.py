# Run by blender -b: the exported glTF and BVH files, each imported by Blender's own readers,
# put the rigged feet where `tarsel-stage run` puts them. Arguments after "--": the run's CSV,
# then the files. The host's (x, y, z) is Blender's (x, z, y); Blender's BVH reader starts at
# frame 1, its glTF reader at frame 0.
import builtins
import csv
import sys

import bpy

# Debian's Blender 3.4 BVH reader opens its file with mode 'rU', which Python 3.11 refuses.
_open = builtins.open
builtins.open = lambda f, mode="r", *a, **k: _open(f, mode.replace("U", ""), *a, **k)

args = sys.argv[sys.argv.index("--") + 1:]
ends = {}  # (frame, end joint) -> host position
with open(args[0]) as f:
    for row in csv.DictReader(f):
        if row["end_x"]:
            end = {"LeftUpLeg": "LeftFoot", "RightUpLeg": "RightFoot"}.get(row["item"])
            if end:
                ends[(int(row["frame"]), end)] = [float(row[k]) for k in ("end_x", "end_y", "end_z")]
worst = 0.0
for path in args[1:]:
    bpy.ops.wm.read_factory_settings(use_empty=True)
    bpy.context.scene.render.fps = 120  # the clip's rate, so that frames map one to one
    if path.endswith(".bvh"):
        bpy.ops.import_anim.bvh(filepath=path)
        first = 1
    else:
        bpy.ops.import_scene.gltf(filepath=path)
        first = 0
    armatures = [o for o in bpy.data.objects if o.type == "ARMATURE"]
    if len(armatures) != 1:
        sys.exit("%s: %d armatures in Blender, not one" % (path, len(armatures)))
    arm = armatures[0]
    for (frame, end), p in sorted(ends.items()):
        bpy.context.scene.frame_set(frame + first)
        q = arm.matrix_world @ arm.pose.bones[end].head
        worst = max(worst, abs(q.x - p[0]), abs(q.y - p[2]), abs(q.z - p[1]))
    print("%s: one armature of %d bones" % (path, len(arm.data.bones)))
print("largest difference from the run: %.3g" % worst)
if worst > 1e-3:
    sys.exit("the files put the feet elsewhere than the run")
