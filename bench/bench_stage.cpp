// Whole evaluations through the stand-in host with the module loaded: the root's solve plus every
// bone's handler, as the animation program would run them for one frame.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "stage/host.h"
#include "stage/runner/chains.h"
#include "stage/scene_file.h"

namespace {

constexpr double pi = 3.14159265358979323846;
double deg(double d) { return d * pi / 180; }

struct Chain_options {
  int bones = 5;
  bool twist_target = false;
  bool cone_limit = false;  // markers drawing a 25-degree cone the goal lies far outside
};

// Appends one chain under its own parent object, with item ids from `base` up.
void add_chain(stage::Scene_record& scene, uint32_t base, const Chain_options& o, double x) {
  const auto object = [](uint32_t id, const std::string& name) {
    return stage::item_record(id, stage::Item_type::object, name);
  };
  const std::string tag = std::to_string(base);
  stage::Item_record parent = object(base, "rig" + tag);
  parent.channels[stage::ch_position].value = {x, 1, 0};
  scene.items.push_back(parent);
  stage::Item_record goal = object(base + 1, "goal" + tag);
  // Up and to the side: inside reach, and well outside the cone about +Z.
  goal.channels[stage::ch_position].value = {x + 0.55, 1.6, 0.25};
  scene.items.push_back(goal);
  std::vector<std::string> options;
  if (o.twist_target) {
    stage::Item_record target = object(base + 2, "target" + tag);
    target.channels[stage::ch_position].value = {x, 0.5, -0.5};
    scene.items.push_back(target);
    options.push_back("TwistTarget " + std::to_string(base + 2));
  }
  if (o.cone_limit) {
    options.push_back("ArbitraryLimit 1");
    stage::Item_record org = object(base + 3, "cone" + tag + "-ik-limit-org");
    org.parent = base;
    scene.items.push_back(org);
    for (int i = 0; i < 6; ++i) {
      const double phi = 2 * pi * i / 6, half = deg(25);
      const double dx = std::sin(half) * std::cos(phi), dy = std::sin(half) * std::sin(phi);
      stage::Item_record m =
          object(base + 4 + i, "cone" + tag + "-for-ik-limit-" + std::to_string(i));
      m.parent = base;
      m.channels[stage::ch_rotation].value = {std::atan2(dx, std::cos(half)), -std::asin(dy), 0};
      scene.items.push_back(m);
    }
  }
  options.push_back("EndEnd");
  const double length = 1.0 / o.bones;
  for (int k = 0; k < o.bones; ++k) {
    stage::Item_record b = stage::item_record(base + 20 + k, stage::Item_type::bone,
                                              "bone" + tag + "_" + std::to_string(k));
    b.owner = base;
    b.parent = k == 0 ? 0 : base + 20 + k - 1;
    const stage::Vec3 position{0, 0, k == 0 ? 0 : length};
    const stage::Vec3 rest{0, k == 0 ? 0 : deg(120.0 / std::max(1, o.bones - 1)), 0};
    b.channels[stage::ch_position].value = position;
    b.channels[stage::ch_rotation].value = rest;
    b.rest_position = position;
    b.rest_rotation = rest;
    b.rest_length = length;
    stage::Handler_record h;
    h.server = k == 0 ? "Tarsel_Top" : "Tarsel";
    if (k == 0) {
      h.has_data = true;
      h.data = options;
    }
    b.handlers.push_back(h);
    if (k + 1 == o.bones) b.goal = base + 1;
    scene.items.push_back(b);
  }
}

std::unique_ptr<stage::Host> host_with(int chains, const Chain_options& o,
                                       bool diagnostics = true) {
  auto host = std::make_unique<stage::Host>();
  if (!diagnostics) host->withhold_service(TARSEL_DIAGNOSTICS_GLOBAL);
  host->load_module(TARSEL_MODULE_PATH);
  stage::Scene_record scene;
  for (int c = 0; c < chains; ++c) add_chain(scene, 1000u * (c + 1), o, 3.0 * c);
  host->load_scene_record(scene, "bench");
  return host;
}

void evaluate_loop(benchmark::State& state, stage::Host& host, int chains) {
  for (auto _ : state) {
    host.evaluate(0.0);
    benchmark::ClobberMemory();
  }
  const double iterations = static_cast<double>(state.iterations());
  const auto per_time = benchmark::Counter::kIsRate | benchmark::Counter::kInvert;
  // CPU seconds per chain, and the percentage of a 60 fps frame (16 ms) that 100 such chains take.
  state.counters["per_chain"] = benchmark::Counter(iterations * chains, per_time);
  state.counters["pct_16ms_100_chains"] =
      benchmark::Counter(iterations * chains / 100.0 * 0.016 / 100.0, per_time);
}

// (a) The two-bone arm of examples/two_bone_arm.json: shoulder and forearm, with a twist target.
void BM_TwoBoneArm(benchmark::State& state) {
  Chain_options o;
  o.bones = 2;
  o.twist_target = true;
  auto host = host_with(1, o);
  evaluate_loop(state, *host, 1);
}
BENCHMARK(BM_TwoBoneArm)->Unit(benchmark::kMicrosecond);

// (b) Five bones, no limits.
void BM_FiveBones(benchmark::State& state) {
  auto host = host_with(1, Chain_options{});
  evaluate_loop(state, *host, 1);
}
BENCHMARK(BM_FiveBones)->Unit(benchmark::kMicrosecond);

// Five bones with the diagnostics service withheld (0), as in the animation program, and offered
// (1), as the runner does: what reporting each solve costs.
void BM_FiveBonesDiagnostics(benchmark::State& state) {
  auto host = host_with(1, Chain_options{}, state.range(0) != 0);
  evaluate_loop(state, *host, 1);
}
BENCHMARK(BM_FiveBonesDiagnostics)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// (c) Five bones whose root must be pulled back onto a marker cone, without and with a twist
// target (arg 1).
void BM_FiveBonesConeViolated(benchmark::State& state) {
  Chain_options o;
  o.cone_limit = true;
  o.twist_target = state.range(0) != 0;
  auto host = host_with(1, o);
  evaluate_loop(state, *host, 1);
}
BENCHMARK(BM_FiveBonesConeViolated)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// (d) Growth with chain length.
void BM_ChainLength(benchmark::State& state) {
  Chain_options o;
  o.bones = static_cast<int>(state.range(0));
  auto host = host_with(1, o);
  evaluate_loop(state, *host, 1);
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_ChainLength)
    ->RangeMultiplier(2)
    ->Range(2, 32)
    ->Complexity()
    ->Unit(benchmark::kMicrosecond);

// A rig of 100 five-bone chains, half of them held by a cone, in one evaluation: the budget of one
// 60 fps frame is 16 ms.
void BM_HundredChainRig(benchmark::State& state) {
  auto host = std::make_unique<stage::Host>();
  host->load_module(TARSEL_MODULE_PATH);
  stage::Scene_record scene;
  for (int c = 0; c < 100; ++c) {
    Chain_options o;
    o.cone_limit = c % 2 == 1;
    o.twist_target = c % 4 == 1;
    add_chain(scene, 1000u * (c + 1), o, 3.0 * c);
  }
  host->load_scene_record(scene, "bench");
  evaluate_loop(state, *host, 100);
}
BENCHMARK(BM_HundredChainRig)->Unit(benchmark::kMillisecond);

// --- Big scenes: the stand-in host and runner stay linear ----------------------------------------

// Loading a scene file of N top-level objects (parse, check, build), as `tarsel-stage run` does.
void BM_LoadFlatItems(benchmark::State& state) {
  stage::Scene_record scene;
  for (int i = 0; i < state.range(0); ++i)
    scene.items.push_back(
        stage::item_record(i + 1, stage::Item_type::object, "o" + std::to_string(i)));
  const std::string text = stage::format_scene(scene);
  stage::Host host;
  for (auto _ : state) host.load_scene_record(stage::parse_scene(text, "flat.json"), "flat.json");
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_LoadFlatItems)
    ->RangeMultiplier(10)
    ->Range(10000, 1000000)
    ->Complexity()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// One frame of a run over one chain of N bones: every bone's handler, then the report's world
// position of every bone and the chain's end-to-goal distance.
void BM_LongChainFrame(benchmark::State& state) {
  Chain_options o;
  o.bones = static_cast<int>(state.range(0));
  auto host = host_with(1, o);
  const std::vector<LWItemID> items = runner::reported_items(host->scene());
  const std::vector<runner::Chain> chains = runner::find_chains(*host);
  for (auto _ : state) benchmark::DoNotOptimize(runner::sample_frame(*host, 0, items, chains));
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_LongChainFrame)
    ->RangeMultiplier(10)
    ->Range(10, 10000)
    ->Complexity()
    ->Unit(benchmark::kMillisecond);

// The host's side of that frame alone (no module): channels, then every item's world transform.
void BM_DeepHierarchyWorld(benchmark::State& state) {
  stage::Scene_record scene;
  for (int i = 0; i < state.range(0); ++i) {
    stage::Item_record r = stage::item_record(i + 1, stage::Item_type::object, "o");
    r.parent = static_cast<uint32_t>(i);
    r.channels[stage::ch_position].value = {0, 0, 0.01};
    scene.items.push_back(r);
  }
  stage::Host host;
  host.load_scene_record(scene, "deep");
  for (auto _ : state) {
    host.evaluate(0.0);
    for (std::size_t i = 0; i < host.scene().size(); ++i)
      benchmark::DoNotOptimize(host.world_position(host.scene().item(i).id, 0.0));
  }
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_DeepHierarchyWorld)
    ->RangeMultiplier(10)
    ->Range(100, 100000)
    ->Complexity()
    ->Unit(benchmark::kMillisecond);

// A run's frame over N two-bone chains; per_chain is the cost of one chain-evaluation, which stays
// flat as the chains grow in number.
void BM_ManyChainsFrame(benchmark::State& state) {
  Chain_options o;
  o.bones = 2;
  const int n = static_cast<int>(state.range(0));
  auto host = host_with(n, o);
  const std::vector<LWItemID> items = runner::reported_items(host->scene());
  const std::vector<runner::Chain> chains = runner::find_chains(*host);
  for (auto _ : state) benchmark::DoNotOptimize(runner::sample_frame(*host, 0, items, chains));
  const auto per_time = benchmark::Counter::kIsRate | benchmark::Counter::kInvert;
  state.counters["per_chain"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * n, per_time);
}
BENCHMARK(BM_ManyChainsFrame)->RangeMultiplier(10)->Range(10, 10000)->Unit(benchmark::kMillisecond);

}  // namespace
