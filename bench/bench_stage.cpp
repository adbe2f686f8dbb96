// Whole evaluations through the stand-in host with the module loaded: the root's solve plus every
// bone's handler, as the animation program would run them for one frame.
#include <benchmark/benchmark.h>

#include <cstdlib>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <memory>
#include <string>

#include "stage/host.h"
#include "stage/report/chains.h"
#include "stage/scene_file.h"
#include "tests/sweep/bench_scenes.h"

namespace {

// The module built with this program, or the one TARSEL_MODULE names (to compare two builds).
std::string module_path() {
  const char* other = std::getenv("TARSEL_MODULE");
  return other != nullptr && *other != 0 ? other : TARSEL_MODULE_PATH;
}

using bench_scenes::Chain_options;

// Bytes of the heap in use.
std::size_t heap_in_use() {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || __GLIBC_MINOR__ >= 33)
  return mallinfo2().uordblks;
#else
  return 0;
#endif
}

std::unique_ptr<stage::Host> host_with(int chains, const Chain_options& o,
                                       bool diagnostics = true) {
  auto host = std::make_unique<stage::Host>();
  if (!diagnostics) host->withhold_service(TARSEL_DIAGNOSTICS_GLOBAL);
  host->load_module(module_path());
  host->load_scene_record(bench_scenes::chain_scene(chains, o), "bench");
  return host;
}

void evaluate_loop(benchmark::State& state, stage::Host& host, int chains) {
  // The first evaluation builds what every later one reuses; the loop times the steady state.
  host.evaluate(0.0);
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

// One five-bone chain played over 3,000 frames with its goal moving (arg 0), and with its scale,
// pivots, own rotation and a cone marker also moving part of the time (arg 1): per frame.
void BM_AnimatedChain(benchmark::State& state) {
  auto host = std::make_unique<stage::Host>();
  host->load_module(module_path());
  const int frames = 3000;
  host->load_scene_record(bench_scenes::animated_scene(frames, state.range(0) != 0), "bench");
  int frame = 0;
  for (auto _ : state) {
    host->evaluate_frame(frame);
    frame = frame + 1 < frames ? frame + 1 : 0;
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_AnimatedChain)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// The host-side part alone: the chain's effect item at 0, so that the root's evaluation gathers
// the chain and hands every bone its entry without solving; per bone.
void BM_HostSideOnly(benchmark::State& state) {
  Chain_options o;
  o.bones = static_cast<int>(state.range(0));
  stage::Scene_record scene = bench_scenes::chain_scene(1, o);
  scene.items.push_back(stage::item_record(1015, stage::Item_type::object, "effect"));
  for (stage::Item_record& r : scene.items)
    if (r.id == 1020) r.handlers[0].data.insert(r.handlers[0].data.begin(), "PluginEffect 1015");
  auto host = std::make_unique<stage::Host>();
  host->load_module(module_path());
  host->load_scene_record(scene, "bench");
  for (auto _ : state) {
    host->evaluate(0.0);
    benchmark::ClobberMemory();
  }
  state.counters["per_bone"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * o.bones,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_HostSideOnly)->Arg(5)->Arg(16)->Arg(64)->Unit(benchmark::kMicrosecond);

// A rig of 100 five-bone chains, half of them held by a cone, in one evaluation: the budget of one
// 60 fps frame is 16 ms.
void BM_HundredChainRig(benchmark::State& state) {
  auto host = std::make_unique<stage::Host>();
  host->load_module(module_path());
  host->load_scene_record(bench_scenes::hundred_chain_scene(), "bench");
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
  const std::vector<LWItemID> items = report::reported_items(host->scene());
  const std::vector<report::Chain> chains = report::find_chains(*host);
  for (auto _ : state) benchmark::DoNotOptimize(report::sample_frame(*host, 0, items, chains));
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
  const std::vector<LWItemID> items = report::reported_items(host->scene());
  const std::vector<report::Chain> chains = report::find_chains(*host);
  for (auto _ : state) benchmark::DoNotOptimize(report::sample_frame(*host, 0, items, chains));
  const auto per_time = benchmark::Counter::kIsRate | benchmark::Counter::kInvert;
  state.counters["per_chain"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * n, per_time);
}
BENCHMARK(BM_ManyChainsFrame)->RangeMultiplier(10)->Range(10, 10000)->Unit(benchmark::kMillisecond);

// One evaluation of a scene of N five-bone chains; per_chain stays flat from one chain to ten
// thousand when what each chain keeps between evaluations stays small.
void BM_ChainsInScene(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const std::size_t heap_before = heap_in_use();
  auto host = host_with(n, Chain_options{});
  host->evaluate(0.0);
  // What the scene and the module keep per chain once it has been solved (0 where the C library
  // does not tell).
  state.counters["heap_per_chain"] =
      static_cast<double>(heap_in_use() - heap_before) / static_cast<double>(n);
  evaluate_loop(state, *host, n);
}
BENCHMARK(BM_ChainsInScene)->RangeMultiplier(10)->Range(1, 10000)->Unit(benchmark::kMicrosecond);

}  // namespace
