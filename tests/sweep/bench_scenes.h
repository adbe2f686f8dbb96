// The scenes the stage benchmarks time and the result digest replays: chains of bones bending
// 120 degrees in all under one object, with an optional twist target and marker cone, and one
// chain animated over many frames.
#ifndef TARSEL_TESTS_SWEEP_BENCH_SCENES_H
#define TARSEL_TESTS_SWEEP_BENCH_SCENES_H

#include <cstdint>

#include "stage/scene_file.h"

namespace bench_scenes {

struct Chain_options {
  int bones = 5;
  bool twist_target = false;
  bool cone_limit = false;  // markers drawing a 25-degree cone the goal lies far outside
};

// Appends one chain under its own parent object at x, with item ids from `base` up (base is a
// multiple of 1000).
void add_chain(stage::Scene_record& scene, uint32_t base, const Chain_options& o, double x);

// `chains` such chains side by side.
stage::Scene_record chain_scene(int chains, const Chain_options& o);

// 100 five-bone chains, half of them held by a cone, a quarter with a twist target.
stage::Scene_record hundred_chain_scene();

// One five-bone chain over frames 0..frames-1 whose goal moves on a loop inside its reach. With
// `moving_inputs` the chain also has a cone and Mix With FK on, and in turn a bone's scale, a
// bone's pivot, a pivot rotation, a bone's own rotation and a marker's rotation are keyed to move
// for a stretch of frames and then hold: every input the solve may keep between evaluations
// changes at some frame.
stage::Scene_record animated_scene(int frames, bool moving_inputs);

}  // namespace bench_scenes

#endif
