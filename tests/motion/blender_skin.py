# Run by blender -b: exported characters imported by Blender's own glTF reader are one armature
# with each mesh parented to it, skinned by an Armature modifier with vertex groups, and every
# vertex worked out from the source file lands on a vertex of Blender's evaluated meshes.
# Arguments after "--": groups of four, FILE.glb FRAME FPS POINTS.csv (the source's skinned
# vertices at FRAME, "x,y,z" in the file's right-handed +Y-up frame, which Blender takes as
# (x, -z, y)).
import csv
import sys

import bpy
import numpy
from mathutils import Vector, kdtree

# Debian's Blender 3.4 glTF reader names numpy.bool, which numpy 1.24 no longer has.
if "bool" not in numpy.__dict__:
    numpy.bool = bool

args = sys.argv[sys.argv.index("--") + 1:]
failed = False
for glb, frame, fps, points in zip(*[iter(args)] * 4):
    bpy.ops.wm.read_factory_settings(use_empty=True)
    bpy.context.scene.render.fps = int(fps)
    bpy.ops.import_scene.gltf(filepath=glb)
    armatures = [o for o in bpy.data.objects if o.type == "ARMATURE"]
    meshes = [o for o in bpy.data.objects if o.type == "MESH"]
    if len(armatures) != 1 or not meshes:
        sys.exit("%s: %d armatures and %d meshes" % (glb, len(armatures), len(meshes)))
    arm = armatures[0]
    for o in meshes:
        skinned = any(m.type == "ARMATURE" and m.object == arm for m in o.modifiers)
        if o.parent != arm or not skinned or not o.vertex_groups:
            sys.exit("%s: mesh %s is not skinned to the armature" % (glb, o.name))
    bpy.context.scene.frame_set(int(frame))
    depsgraph = bpy.context.evaluated_depsgraph_get()
    got = []
    for o in meshes:
        evaluated = o.evaluated_get(depsgraph)
        mesh = evaluated.to_mesh()
        got += [evaluated.matrix_world @ v.co for v in mesh.vertices]
        evaluated.to_mesh_clear()
    with open(points) as f:
        expected = [Vector((float(x), -float(z), float(y))) for x, y, z in csv.reader(f)]
    tree = kdtree.KDTree(len(got))
    for i, p in enumerate(got):
        tree.insert(p, i)
    tree.balance()
    worst = max(tree.find(p)[2] for p in expected)
    lo = Vector([min(p[k] for p in expected) for k in range(3)])
    hi = Vector([max(p[k] for p in expected) for k in range(3)])
    size = (hi - lo).length
    print("%s: %d meshes, %d of %d vertices, %d vertex groups; frame %s: farthest %.3g of %.3g"
          % (glb, len(meshes), len(got), len(expected), sum(len(o.vertex_groups) for o in meshes),
             frame, worst, size))
    if worst > 2e-5 * size:
        print("%s: the character stands elsewhere than the source puts it" % glb)
        failed = True
if failed:
    sys.exit(1)
