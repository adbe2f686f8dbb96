// tarsel-sweep: the random-rig sweep of the test suite, run for as many rigs as asked, with a
// summary of every property. Failing rigs can be written out as scene files.
//
//   tarsel-sweep [--rigs N] [--seed S] [--first I] [--module PATH] [--dump DIR]
//   tarsel-sweep --show I [--seed S]     one rig: its scene, the solved rotations and errors
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "tests/sweep/rig_checks.h"

namespace {

void usage() {
  std::fprintf(stderr,
               "usage: tarsel-sweep [--rigs N] [--seed S] [--first I] [--module PATH] "
               "[--dump DIR]\n       tarsel-sweep --show I [--seed S] [--module PATH]\n");
}

void print_tally(const char* name, const sweep::Property_tally& t, const char* unit) {
  std::printf("  %-34s %8ld checked %6ld failed   worst %.3g %s", name, t.checked, t.failed,
              t.worst, unit);
  if (t.worst_rig >= 0) std::printf(" (rig %ld)", t.worst_rig);
  std::printf("\n");
  if (!t.failures.empty()) {
    std::printf("    first failing rigs:");
    for (long i : t.failures) std::printf(" %ld", i);
    std::printf("\n");
  }
}

void dump(const std::string& dir, const char* property, const sweep::Property_tally& t,
          uint64_t seed) {
  for (long i : t.failures) {
    const sweep::Rig_pair pair = sweep::sweep_rigs(seed, i);
    const std::string base = dir + "/" + property + "-" + std::to_string(i);
    std::ofstream(base + ".json") << sweep::rig_json(pair.rig);
    std::ofstream(base + "-carried.json") << sweep::rig_json(pair.carried);
  }
}

// Solves one rig and its carried copy and prints both scenes, the rotations and the errors.
int show(sweep::Rig_solver& solver, uint64_t seed, long index) {
  const sweep::Rig_pair pair = sweep::sweep_rigs(seed, index);
  const sweep::Rig_errors e = sweep::check_rig(solver, pair.rig, pair.carried);
  std::printf("rig %ld (%s):\n%s\ncarried:\n%s\n", index, sweep::rig_class_name(pair.rig.kind),
              sweep::rig_json(pair.rig).c_str(), sweep::rig_json(pair.carried).c_str());
  const auto print_rotations = [&](const sweep::Rig& rig, const char* label) {
    solver.solve(rig);
    for (std::size_t k = 0; k < rig.bones.size(); ++k) {
      const sweep::Vec3 r = solver.rotation(static_cast<int>(k));
      std::printf("%s bone %zu rotation (%.9g, %.9g, %.9g) rad\n", label, k, r[0], r[1], r[2]);
    }
  };
  print_rotations(pair.rig, "plain  ");
  print_rotations(pair.carried, "carried");
  solver.solve(pair.rig);
  std::printf("finite %d, reach %.3g, limit %.3g (recomputed %.3g), invariance %.3g\n", e.finite,
              e.reach, e.limit, sweep::root_limit_excess(solver, pair.rig), e.invariance);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  long rigs = 100000, first = 0;
  uint64_t seed = 1;
  long show_index = -1;
  std::string module = TARSEL_MODULE_PATH, dump_dir;
  for (int i = 1; i < argc; ++i) {
    const auto value = [&]() -> const char* {
      if (i + 1 >= argc) {
        usage();
        std::exit(2);
      }
      return argv[++i];
    };
    if (!std::strcmp(argv[i], "--rigs"))
      rigs = std::atol(value());
    else if (!std::strcmp(argv[i], "--seed"))
      seed = std::strtoull(value(), nullptr, 10);
    else if (!std::strcmp(argv[i], "--first"))
      first = std::atol(value());
    else if (!std::strcmp(argv[i], "--module"))
      module = value();
    else if (!std::strcmp(argv[i], "--show"))
      show_index = std::atol(value());
    else if (!std::strcmp(argv[i], "--dump"))
      dump_dir = value();
    else {
      usage();
      return 2;
    }
  }

  sweep::Rig_solver solver(module);
  if (show_index >= 0) return show(solver, seed, show_index);
  const auto start = std::chrono::steady_clock::now();
  // In slices, so that a long run shows it is alive.
  sweep::Sweep_summary total;
  const long slice = 10000;
  for (long done = 0; done < rigs; done += slice) {
    const long count = std::min(slice, rigs - done);
    const sweep::Sweep_summary s = sweep::run_sweep(solver, seed, first + done, count);
    total.rigs += s.rigs;
    total.non_finite += s.non_finite;
    const auto merge = [](sweep::Property_tally& a, const sweep::Property_tally& b) {
      a.checked += b.checked;
      a.failed += b.failed;
      for (long f : b.failures)
        if (a.failures.size() < 8) a.failures.push_back(f);
      if (b.worst_rig >= 0 && (a.worst_rig < 0 || !(b.worst <= a.worst))) {
        a.worst = b.worst;
        a.worst_rig = b.worst_rig;
      }
    };
    merge(total.finite, s.finite);
    merge(total.reach, s.reach);
    merge(total.limit, s.limit);
    merge(total.invariance, s.invariance);
    if (rigs > slice) {
      std::printf("%ld rigs\n", done + count);
      std::fflush(stdout);
    }
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  std::printf("tarsel-sweep: %ld rigs from %ld, seed %llu, %.1f s (%.0f us per rig)\n", total.rigs,
              first, static_cast<unsigned long long>(seed), seconds,
              total.rigs ? seconds * 1e6 / total.rigs : 0.0);
  std::printf("  crashes: none (the run finished); rigs with NaN or infinite rotations: %ld\n",
              total.non_finite);
  print_tally("finite rotations", total.finite, "");
  print_tally("reachable goal met", total.reach, "x chain length");
  print_tally("limited root inside its limit", total.limit, "rad");
  print_tally("same rotations under a carrier", total.invariance, "rad");
  if (!dump_dir.empty()) {
    dump(dump_dir, "finite", total.finite, seed);
    dump(dump_dir, "reach", total.reach, seed);
    dump(dump_dir, "limit", total.limit, seed);
    dump(dump_dir, "invariance", total.invariance, seed);
  }
  const bool ok = total.non_finite == 0 && total.reach.failed == 0 && total.limit.failed == 0 &&
                  total.invariance.failed == 0;
  return ok ? 0 : 1;
}
