// Cost of the algebra operations the solver calls in its inner loops.

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "la3d/vk_3dla.h"

using namespace vk_3dla;

namespace {

constexpr int kSamples = 1024;  // inputs cycle through this many values so nothing folds

std::vector<vec3> sample_hpb() {
  std::mt19937 gen(1);
  std::uniform_real_distribution<double> hb(-3.1, 3.1), p(-1.5, 1.5);
  std::vector<vec3> out;
  for (int i = 0; i < kSamples; ++i) {
    double h = hb(gen), pi_ = p(gen), b = hb(gen);
    out.emplace_back(h, pi_, b);
  }
  return out;
}

std::vector<m33> sample_m33() {
  std::vector<m33> out;
  for (const vec3& h : sample_hpb()) out.push_back(m33_from_hpb(h));
  return out;
}

std::vector<quat> sample_quat() {
  std::vector<quat> out;
  for (const m33& m : sample_m33()) out.push_back(normalized(quat_from_m33(m)));
  return out;
}

std::vector<vec3> sample_dirs(unsigned seed) {
  std::mt19937 gen(seed);
  std::normal_distribution<double> nd(0.0, 1.0);
  std::vector<vec3> out;
  for (int i = 0; i < kSamples; ++i) {
    double x = nd(gen), y = nd(gen), z = nd(gen);
    out.push_back(normalized(vec3(x, y, z)));
  }
  return out;
}

std::vector<m44> sample_m44() {
  std::vector<m44> out;
  auto ms = sample_m33();
  auto ts = sample_dirs(7);
  for (int i = 0; i < kSamples; ++i)
    out.push_back(item_matrix(vec3(1.0 + 0.001 * i, 0.9, 1.1), vec3(0.1 * i, 0.2, 0.3), ts[i] * 3.0,
                              vec3(0.05, -0.1, 0.02), vec3(0.5, 0, 0)) *
                  m44(ms[i], ts[i]));
  return out;
}

void BM_m33_from_hpb(benchmark::State& state) {
  auto in = sample_hpb();
  int i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(m33_from_hpb(in[i]));
    i = (i + 1) & (kSamples - 1);
  }
}
BENCHMARK(BM_m33_from_hpb);

void BM_hpb_from_m33(benchmark::State& state) {
  auto in = sample_m33();
  int i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(hpb_from_m33(in[i]));
    i = (i + 1) & (kSamples - 1);
  }
}
BENCHMARK(BM_hpb_from_m33);

void BM_quat_from_m33(benchmark::State& state) {
  auto in = sample_m33();
  int i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(quat_from_m33(in[i]));
    i = (i + 1) & (kSamples - 1);
  }
}
BENCHMARK(BM_quat_from_m33);

void BM_m33_from_quat(benchmark::State& state) {
  auto in = sample_quat();
  int i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(m33_from_quat(in[i]));
    i = (i + 1) & (kSamples - 1);
  }
}
BENCHMARK(BM_m33_from_quat);

void BM_slerp(benchmark::State& state) {
  auto in = sample_quat();
  int i = 0;
  double t = 0.0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(slerp(in[i], in[(i + 1) & (kSamples - 1)], t));
    i = (i + 1) & (kSamples - 1);
    t = t > 0.99 ? 0.0 : t + 0.013;
  }
}
BENCHMARK(BM_slerp);

void BM_rotation_between(benchmark::State& state) {
  auto a = sample_dirs(3), b = sample_dirs(4);
  int i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(rotation_between(a[i], b[i]));
    i = (i + 1) & (kSamples - 1);
  }
}
BENCHMARK(BM_rotation_between);

void BM_m33_product(benchmark::State& state) {
  auto in = sample_m33();
  int i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(in[i] * in[(i + 1) & (kSamples - 1)]);
    i = (i + 1) & (kSamples - 1);
  }
}
BENCHMARK(BM_m33_product);

void BM_m44_product(benchmark::State& state) {
  auto in = sample_m44();
  int i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(in[i] * in[(i + 1) & (kSamples - 1)]);
    i = (i + 1) & (kSamples - 1);
  }
}
BENCHMARK(BM_m44_product);

void BM_m44_inverse(benchmark::State& state) {
  auto in = sample_m44();
  int i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(inverse(in[i]));
    i = (i + 1) & (kSamples - 1);
  }
}
BENCHMARK(BM_m44_inverse);

}  // namespace
