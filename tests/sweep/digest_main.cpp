// tarsel-digest: a digest of every rotation the module gives, to show that a change left all
// results bit for bit as they were. It solves sweep rigs (each plain, evaluated twice, and under
// its carrier), runs every example scene over its frames and evaluates the benchmark scenes, and
// prints one line per group: "<group>: <64-bit hash of the bits of every rotation channel>".
//
//   tarsel-digest [--rigs N] [--seed S] [--module PATH] [--examples DIR] [--dump FILE]
//                 [--check REFERENCE]
//
// --check compares each line with the line of the same group in REFERENCE (a saved output) and
// exits 1 on any difference; --dump writes every rotation as hexadecimal doubles, for a diff.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "stage/error.h"
#include "stage/host.h"
#include "tests/sweep/bench_scenes.h"
#include "tests/sweep/rig_checks.h"

namespace {

struct Digest {
  uint64_t h = 0xcbf29ce484222325ull;  // FNV-1a
  std::FILE* dump = nullptr;
  void add(const stage::Vec3& v) {
    for (double d : v) {
      uint64_t bits;
      std::memcpy(&bits, &d, sizeof bits);
      for (int i = 0; i < 8; ++i) {
        h ^= (bits >> (8 * i)) & 0xff;
        h *= 0x100000001b3ull;
      }
    }
    if (dump) std::fprintf(dump, "%a %a %a\n", v[0], v[1], v[2]);
  }
};

// Every item's rotation channel as the last evaluation left it.
void add_scene(Digest& d, const stage::Host& host, double time) {
  for (std::size_t i = 0; i < host.scene().size(); ++i)
    d.add(host.param(host.scene().item(i).id, LWIP_ROTATION, time));
}

// A scene over its frame range, each frame evaluated once; the last frame then again.
void add_frames(Digest& d, stage::Host& host) {
  const stage::Scene& s = host.scene();
  for (int f = s.frame_start; f <= s.frame_end; ++f) {
    host.evaluate_frame(f);
    add_scene(d, host, host.evaluated_time());
  }
  host.evaluate_frame(s.frame_end);
  add_scene(d, host, host.evaluated_time());
}

struct Run {
  std::vector<std::pair<std::string, uint64_t>> lines;
  std::FILE* dump = nullptr;
  Digest start(const std::string& group) {
    if (dump) std::fprintf(dump, "# %s\n", group.c_str());
    Digest d;
    d.dump = dump;
    return d;
  }
  void finish(const std::string& group, const Digest& d) {
    lines.emplace_back(group, d.h);
    std::printf("%s: %016llx\n", group.c_str(), static_cast<unsigned long long>(d.h));
    std::fflush(stdout);
  }
};

void sweep_groups(Run& run, const std::string& module, uint64_t seed, long rigs) {
  sweep::Rig_solver solver(module);
  const long slice = 10000;
  for (long first = 0; first < rigs; first += slice) {
    const long last = std::min(rigs, first + slice) - 1;
    const std::string group = "sweep seed " + std::to_string(seed) + " rigs " +
                              std::to_string(first) + "-" + std::to_string(last);
    Digest d = run.start(group);
    for (long i = first; i <= last; ++i) {
      const sweep::Rig_pair pair = sweep::sweep_rigs(seed, i);
      if (run.dump) std::fprintf(run.dump, "# rig %ld\n", i);
      for (const sweep::Rig* rig : {&pair.rig, &pair.carried}) {
        solver.solve(*rig);
        const int n = static_cast<int>(rig->bones.size());
        for (int k = 0; k < n; ++k) d.add(solver.rotation(k));
        if (rig == &pair.rig) {  // the same scene again: what an unchanged chain keeps
          solver.host().evaluate(0.0);
          for (int k = 0; k < n; ++k) d.add(solver.rotation(k));
        }
      }
    }
    run.finish(group, d);
  }
}

void scene_group(Run& run, const std::string& module, const std::string& group,
                 const stage::Scene_record& scene) {
  stage::Host host;
  host.load_module(module);
  host.load_scene_record(scene, group);
  Digest d = run.start(group);
  add_frames(d, host);
  run.finish(group, d);
}

void example_groups(Run& run, const std::string& module, const std::string& dir) {
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(dir))
    if (entry.path().extension() == ".json") files.push_back(entry.path().string());
  std::sort(files.begin(), files.end());
  for (const std::string& file : files) {
    const std::string group = "example " + std::filesystem::path(file).filename().string();
    stage::Host host;
    host.load_module(module);
    host.load_scene(file);
    Digest d = run.start(group);
    add_frames(d, host);
    run.finish(group, d);
  }
}

void bench_groups(Run& run, const std::string& module) {
  using bench_scenes::Chain_options;
  Chain_options arm;
  arm.bones = 2;
  arm.twist_target = true;
  scene_group(run, module, "bench two-bone arm", bench_scenes::chain_scene(1, arm));
  for (int twist = 0; twist < 2; ++twist) {
    Chain_options cone;
    cone.cone_limit = true;
    cone.twist_target = twist != 0;
    scene_group(run, module, "bench cone twist " + std::to_string(twist),
                bench_scenes::chain_scene(1, cone));
  }
  for (int bones : {2, 3, 4, 5, 8, 10, 16, 32, 64}) {
    Chain_options o;
    o.bones = bones;
    scene_group(run, module, "bench chain " + std::to_string(bones),
                bench_scenes::chain_scene(1, o));
  }
  scene_group(run, module, "bench hundred chains", bench_scenes::hundred_chain_scene());
  scene_group(run, module, "bench animated", bench_scenes::animated_scene(3000, false));
  scene_group(run, module, "bench animated inputs", bench_scenes::animated_scene(3000, true));
}

std::map<std::string, std::string> read_reference(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw stage::Error(path + ": cannot read the reference digests");
  std::map<std::string, std::string> ref;
  std::string line;
  while (std::getline(in, line)) {
    const auto colon = line.rfind(": ");
    if (colon != std::string::npos) ref[line.substr(0, colon)] = line.substr(colon + 2);
  }
  return ref;
}

void usage() {
  std::fprintf(stderr,
               "usage: tarsel-digest [--rigs N] [--seed S] [--module PATH] [--examples DIR] "
               "[--dump FILE] [--check REFERENCE]\n");
}

}  // namespace

int main(int argc, char** argv) {
  long rigs = 100000;
  uint64_t seed = 1;
  std::string module = TARSEL_MODULE_PATH, examples = TARSEL_EXAMPLES_DIR, check, dump;
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
    else if (!std::strcmp(argv[i], "--module"))
      module = value();
    else if (!std::strcmp(argv[i], "--examples"))
      examples = value();
    else if (!std::strcmp(argv[i], "--check"))
      check = value();
    else if (!std::strcmp(argv[i], "--dump"))
      dump = value();
    else {
      usage();
      return 2;
    }
  }
  try {
    const std::map<std::string, std::string> reference =
        check.empty() ? std::map<std::string, std::string>{} : read_reference(check);
    Run run;
    if (!dump.empty()) {
      run.dump = std::fopen(dump.c_str(), "w");
      if (!run.dump) throw stage::Error(dump + ": cannot write the dump");
    }
    example_groups(run, module, examples);
    bench_groups(run, module);
    sweep_groups(run, module, seed, rigs);
    if (run.dump) std::fclose(run.dump);
    if (check.empty()) return 0;
    int differing = 0;
    for (const auto& [group, hash] : run.lines) {
      char hex[17];
      std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
      const auto it = reference.find(group);
      if (it == reference.end()) {
        std::fprintf(stderr, "%s: %s has no reference digest\n", check.c_str(), group.c_str());
        ++differing;
      } else if (it->second != hex) {
        std::fprintf(stderr, "%s: %s differs (reference %s, now %s)\n", check.c_str(),
                     group.c_str(), it->second.c_str(), hex);
        ++differing;
      }
    }
    std::printf("%d of %zu groups differ from %s\n", differing, run.lines.size(), check.c_str());
    return differing == 0 ? 0 : 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tarsel-digest: %s\n", e.what());
    return 1;
  }
}
