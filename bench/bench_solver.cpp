// Speed of the solver's inner routines: the chain-end evaluation, the bend approach and the
// twist-target placement on a cone boundary.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "solver/bend.h"
#include "solver/chain_end.h"
#include "solver/limits.h"
#include "solver/twist_limit.h"
#include "solver/two_items.h"
#include "tests/solver/chain_builders.h"

namespace {

using namespace chain_builders;
using vk_3dla::m33;
using vk_3dla::pi;

// A chain of n joints cycling through the joint kinds: pitch, heading with FK, free axis, flipped.
std::vector<Work> mixed_chain(int n) {
  std::vector<Work> works;
  works.push_back(plain_joint(vec3(0.0), vec3(0.0)));
  for (int k = 1; k < n; ++k) {
    vec3 offset(0.05 * k, 0.0, 1.0);
    Work w;
    switch (k % 4) {
      case 1:
        w = channel_joint(1, 0.3, offset, vec3(0.0));
        break;
      case 2:
        w = channel_joint(0, -0.2, offset, vec3(0.0));
        w.fk_rot = vec3(0.0, 0.1, 0.05);
        break;
      case 3:
        w = free_axis_joint(vec3(0.2, 0.1, -0.15), offset, vec3(0.0));
        break;
      default:
        w = flipped_joint(0.25, offset, vec3(0.0));
        break;
    }
    set_pivot(&w, vec3(0.02, -0.01, 0.0));
    works.push_back(w);
  }
  works = link(works);
  works.back().end_point = vec3(0.0, 0.0, 1.0);
  return works;
}

void BM_ChainEnd(benchmark::State& state) {
  std::vector<Work> works = mixed_chain(static_cast<int>(state.range(0)));
  double s = 0.37;
  for (auto _ : state) {
    vec3 p = chain_end(works, s);
    benchmark::DoNotOptimize(p);
    s = s < 1.0 ? s + 1e-3 : 0.0;
  }
}
BENCHMARK(BM_ChainEnd)->Arg(2)->Arg(5)->Arg(10)->Arg(32);

// The same through Chain_ends, as the searches of one solve use it: a new fraction each call (the
// remembered values are never asked for again), and a fraction the table already holds.
void BM_ChainEndsNew(benchmark::State& state) {
  std::vector<Work> works = mixed_chain(static_cast<int>(state.range(0)));
  Chain_ends ends(works);
  double s = 0.37;
  for (auto _ : state) {
    vec3 p = ends(s);
    benchmark::DoNotOptimize(p);
    s += 1e-9;  // never the same fraction twice
  }
}
BENCHMARK(BM_ChainEndsNew)->Arg(2)->Arg(5)->Arg(10)->Arg(32);

void BM_ChainEndsRemembered(benchmark::State& state) {
  std::vector<Work> works = mixed_chain(5);
  Chain_ends ends(works);
  double s = 0.37;
  for (auto _ : state) {
    benchmark::DoNotOptimize(s);
    vec3 p = ends(s);
    benchmark::DoNotOptimize(p);
  }
}
BENCHMARK(BM_ChainEndsRemembered);

// For comparison: the same chain composed as a product of m44 link transforms.
void BM_ChainEndComposedM44(benchmark::State& state) {
  std::vector<Work> works = mixed_chain(static_cast<int>(state.range(0)));
  double s = 0.37;
  for (auto _ : state) {
    vec3 p = reference_chain_end(works, s);
    benchmark::DoNotOptimize(p);
    s = s < 1.0 ? s + 1e-3 : 0.0;
  }
}
BENCHMARK(BM_ChainEndComposedM44)->Arg(5)->Arg(32);

const m33 kJoint = vk_3dla::rot_x(0.3) * vk_3dla::rot_y(-0.8);

// The goal sits on the chain's swept curve at bend 0.8; the search starts from 0.5.
void bend_approach(benchmark::State& state, const std::vector<Work>& works,
                   const c_2items_ik& record, double s_max) {
  double total = 0.0, arc = 0.0;
  for (const Work& w : works) {
    double len = vk_3dla::abs(w.end_point);
    total += len;
    arc = std::max(arc, std::fabs(w.bend_angle) * len);
  }
  double step = total * 0.01 / arc;
  double tolerance = step * 0.001;
  vec3 goal = chain_end(works, 0.8) * kJoint;
  for (auto _ : state) {
    double error;
    double s =
        approach_by_bend(&error, works, goal, step, tolerance, 0.0, s_max, 0.5, record, kJoint);
    benchmark::DoNotOptimize(s);
  }
}

void BM_ApproachByBendClosedForm(benchmark::State& state) {
  std::vector<Work> works = planar_chain(2, 1.0, 1.0);
  c_2items_ik record;
  double s_lo, s_hi, shortest, s_near, longest, s_far;
  two_item_setup(&s_lo, &s_hi, &shortest, &s_near, &longest, &s_far, works, 0.0, &record);
  bend_approach(state, works, record, s_hi);
}
BENCHMARK(BM_ApproachByBendClosedForm);

void BM_ApproachByBendSearch(benchmark::State& state) {
  std::vector<Work> works = planar_chain(static_cast<int>(state.range(0)), 1.0, 0.6);
  c_2items_ik none;
  bend_approach(state, works, none, 1.0);
}
BENCHMARK(BM_ApproachByBendSearch)->Arg(2)->Arg(5);

// A circular cone of six knots, 0.5 rad wide, about a tilted axis.
void BM_LimitWithTwistTargetCone(benchmark::State& state) {
  const int m = 6;
  const double radius = 0.5;
  std::vector<Limit_work> knots;
  for (int i = -1; i <= m; ++i) knots.push_back({2.0 * pi * i / m, radius, 0.0, 0.0, 0.0});
  const double piece = std::sin(radius) * 2.0 * pi / m;
  for (int i = 1; i <= m; ++i) {
    knots[i].length = piece;
    knots[i].start = (i - 1) * piece;
  }
  std::vector<D_lim> marks;
  for (int j = -m; j <= 2 * m; ++j) marks.push_back({j * piece, &knots[1 + (j % m + m) % m]});
  m33 frame = vk_3dla::rot_x(0.2);
  Limit_dir2 dir(marks, frame);
  std::vector<Work> chain = planar_chain(3, 1.0, 0.7);
  c_2items_ik none;
  vec3 goal(0.5, 1.2, 1.8);
  vec3 ref(1.0, 0.0, 0.0);
  vec3 target = vk_3dla::normalized(vec3(-0.3, 0.8, 0.4));
  for (auto _ : state) {
    m33 joint(1.0);
    double s = limit_with_twist_target(&joint, chain, goal, target, ref, 0.1, 1e-4, 0.0, 1.0, none,
                                       true, nullptr, marks, m * piece, frame, dir, 0.5);
    benchmark::DoNotOptimize(s);
    benchmark::DoNotOptimize(joint);
  }
}
BENCHMARK(BM_LimitWithTwistTargetCone);

}  // namespace
