// The motion-file steps on the CMU clip 01_01 (2,752 frames, 38 joints): import, rig both legs,
// re-solve both legs on every frame through the loaded module, bake, and export to glTF.
#include <benchmark/benchmark.h>

#include "stage/formats/bake.h"
#include "stage/formats/export.h"
#include "stage/formats/import.h"
#include "stage/formats/rig.h"
#include "stage/host.h"

namespace {

const char* const clip = "/usr/share/assimp/models/BVH/01_01.bvh";

stage::Scene_record rigged() {
  stage::Scene_record scene = formats::import_motion(clip, {});
  formats::Rig_request request;
  request.chains = {{"LeftUpLeg", "LeftFoot"}, {"RightUpLeg", "RightFoot"}};
  formats::rig_scene(scene, request, "01_01");
  return scene;
}

void BM_ImportCmu(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(formats::import_motion(clip, {}));
}
BENCHMARK(BM_ImportCmu)->Unit(benchmark::kMillisecond);

void BM_RigCmuLegs(benchmark::State& state) {
  const stage::Scene_record scene = formats::import_motion(clip, {});
  formats::Rig_request request;
  request.chains = {{"LeftUpLeg", "LeftFoot"}, {"RightUpLeg", "RightFoot"}};
  for (auto _ : state) {
    stage::Scene_record copy = scene;
    formats::rig_scene(copy, request, "01_01");
    benchmark::DoNotOptimize(copy);
  }
}
BENCHMARK(BM_RigCmuLegs)->Unit(benchmark::kMillisecond);

// Every frame of the clip evaluated with both leg chains solving.
void BM_ResolveCmuLegs(benchmark::State& state) {
  stage::Host host;
  host.load_module(TARSEL_MODULE_PATH);
  host.load_scene_record(rigged(), "01_01");
  for (auto _ : state)
    for (int f = host.scene().frame_start; f <= host.scene().frame_end; ++f) host.evaluate_frame(f);
}
BENCHMARK(BM_ResolveCmuLegs)->Unit(benchmark::kMillisecond);

void BM_BakeCmuLegs(benchmark::State& state) {
  stage::Host host;
  host.load_module(TARSEL_MODULE_PATH);
  host.load_scene_record(rigged(), "01_01");
  for (auto _ : state) benchmark::DoNotOptimize(formats::bake_scene(host, 0, 2751));
}
BENCHMARK(BM_BakeCmuLegs)->Unit(benchmark::kMillisecond);

void BM_ExportCmuLegsGlb(benchmark::State& state) {
  stage::Host host;
  host.load_module(TARSEL_MODULE_PATH);
  host.load_scene_record(rigged(), "01_01");
  for (auto _ : state) benchmark::DoNotOptimize(formats::export_gltf(host, 0, 2751, true));
}
BENCHMARK(BM_ExportCmuLegsGlb)->Unit(benchmark::kMillisecond);

}  // namespace
