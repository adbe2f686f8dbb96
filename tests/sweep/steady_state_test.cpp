// A steady-state evaluation, module and stand-in host together, takes nothing from the heap: the
// second and later evaluations of an unchanged chain, whether its goal stands or moves, and a
// second pass over frames in which every kept input moves (a bone's scale, pivot and rotation, a
// pivot rotation, a marker of the root's cone), rebuilding what it keeps at each one. Every
// allocation of the process (the loaded module's included) goes through the counting operator new
// of this test program.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>

#include "stage/host.h"
#include "tests/sweep/bench_scenes.h"

namespace {
std::atomic<long> allocations{0};
}

void* operator new(std::size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  allocations.fetch_add(1, std::memory_order_relaxed);
  return std::malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
  return operator new(size, tag);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace {

TEST(SteadyState, EvaluationsAllocateNothing) {
  using bench_scenes::Chain_options;
  struct Case {
    const char* name;
    stage::Scene_record scene;
    int frames = 0;  // 0: frame 0 and others in turn; else every frame, a first pass uncounted
  };
  Chain_options arm, cone, twist_cone, long_chain;
  arm.bones = 2;
  arm.twist_target = true;
  cone.cone_limit = true;
  twist_cone = cone;
  twist_cone.twist_target = true;
  long_chain.bones = 32;
  const Case cases[] = {
      {"two-bone arm", bench_scenes::chain_scene(1, arm)},
      {"five bones", bench_scenes::chain_scene(1, Chain_options{})},
      {"cone", bench_scenes::chain_scene(1, cone)},
      {"cone and twist target", bench_scenes::chain_scene(1, twist_cone)},
      {"32 bones", bench_scenes::chain_scene(1, long_chain)},
      {"hundred chains", bench_scenes::hundred_chain_scene()},
      // Enough roots that each evaluation asks for its records ahead.
      {"three hundred chains", bench_scenes::chain_scene(300, Chain_options{})},
      {"moving goal", bench_scenes::animated_scene(200, false)},
      {"moving inputs and markers", bench_scenes::animated_scene(200, true), 200},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    stage::Host host;
    host.load_module(TARSEL_MODULE_PATH);
    host.load_scene_record(c.scene, c.name);
    const long before_first = allocations.load();
    host.evaluate_frame(0);
    EXPECT_GT(allocations.load(), before_first);  // the count sees the module's first set-up
    host.evaluate_frame(0);
    for (int f = 0; f < c.frames; ++f) host.evaluate_frame(f);
    const long before = allocations.load();
    if (c.frames == 0) {
      for (int f = 0; f < 60; ++f) host.evaluate_frame(f % 2 == 0 ? 0 : f);
    } else {
      for (int f = 0; f < c.frames; ++f) host.evaluate_frame(f);
    }
    EXPECT_EQ(allocations.load() - before, 0);
  }
}

}  // namespace
