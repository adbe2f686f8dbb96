// Side by side in one process: whole evaluations of a chain through the stand-in host with the
// module loaded, Orocos KDL's Levenberg-Marquardt position solver, and a plain FABRIK written here,
// on the same chains and the same goals. Chains: a root free to turn (a ball) and bones bending 20
// degrees about X, bone k of length 1 / (1 + 0.1 k). Goals: 2,000 seeded, reachable (the chain's
// end at a random bend, turned a random way). KDL and FABRIK run at two tolerances, 1e-4 and 1e-6
// of the chain's length. Counters, for the table at equal error: how far each solver left its end
// from the goal (mean and worst, in chain lengths), the share of goals met within 1e-4 and 1e-6 of
// the length, and for KDL and FABRIK the share of goals they leave at least as far off as the host
// does (or both within the tolerance asked for); for the host the slowest goal. Times are thread
// CPU time.
#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <kdl/chain.hpp>
#include <kdl/chainfksolverpos_recursive.hpp>
#include <kdl/chainiksolverpos_lma.hpp>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "stage/host.h"
#include "stage/scene_file.h"
#include "tests/sweep/bench_scenes.h"

namespace {

// The module built with this program, or the one TARSEL_MODULE names (to compare two builds).
std::string module_path() {
  const char* other = std::getenv("TARSEL_MODULE");
  return other != nullptr && *other != 0 ? other : TARSEL_MODULE_PATH;
}

constexpr double pi = 3.14159265358979323846;
constexpr double bend = 20.0 * pi / 180.0;
constexpr int goal_count = 2000;
constexpr double tolerance = 1e-4;  // end error per unit of chain length

double bone_length(int k) { return 1.0 / (1.0 + 0.1 * k); }
double chain_length(int bones) {
  double total = 0;
  for (int k = 0; k < bones; ++k) total += bone_length(k);
  return total;
}

double thread_seconds() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec + 1e-9 * t.tv_nsec;
}

struct Goal {
  double x, y, z;
};

// The chain's end with every bone bent by s * 20 degrees, turned by a random rotation: the root
// at the origin.
std::vector<Goal> reachable_goals(int bones, unsigned seed) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::vector<Goal> goals;
  for (int i = 0; i < goal_count; ++i) {
    const double s = unit(rng);
    double y = 0, z = 0, a = 0;
    for (int k = 0; k < bones; ++k) {
      if (k > 0) a += s * bend;
      y -= bone_length(k) * std::sin(a);
      z += bone_length(k) * std::cos(a);
    }
    const double d = std::sqrt(y * y + z * z);
    // A uniformly random direction.
    const double cz = 2 * unit(rng) - 1, phi = 2 * pi * unit(rng), r = std::sqrt(1 - cz * cz);
    goals.push_back({d * r * std::cos(phi), d * r * std::sin(phi), d * cz});
  }
  return goals;
}

// The chain as a scene: bones under an object at the origin, the goal a null object.
stage::Scene_record chain_scene(int bones, bool cone) {
  stage::Scene_record scene;
  bench_scenes::Chain_options o;
  o.bones = bones;
  o.cone_limit = cone;
  bench_scenes::add_chain(scene, 1000, o, 0.0);
  for (stage::Item_record& r : scene.items) {
    if (r.id == 1000) r.channels[stage::ch_position].value = {0, 0, 0};
    if (r.id < 1020) continue;
    const int k = static_cast<int>(r.id - 1020);
    const stage::Vec3 position{0, 0, k == 0 ? 0 : bone_length(k - 1)};
    const stage::Vec3 rest{0, k == 0 ? 0 : bend, 0};
    r.channels[stage::ch_position].value = position;
    r.channels[stage::ch_rotation].value = rest;
    r.rest_position = position;
    r.rest_rotation = rest;
    r.rest_length = bone_length(k);
  }
  return scene;
}

struct Host_chain {
  std::unique_ptr<stage::Host> host = std::make_unique<stage::Host>();
  stage::Channel* goal = nullptr;
  LWItemID goal_id = LWITEM_NULL, last = LWITEM_NULL;
  Host_chain(int bones, bool cone) {
    host->load_module(module_path());
    host->load_scene_record(chain_scene(bones, cone), "versus-kdl");
    goal_id = host->scene().find_by_name("goal1000");
    last = host->scene().find_by_name("bone1000_" + std::to_string(bones - 1));
    goal = &host->scene().at(goal_id).channels[stage::ch_position];
  }
  void solve(const Goal& g) {
    goal->value = {g.x, g.y, g.z};
    host->evaluate(0.0);
  }
  double error(const Goal& g) const {
    const stage::Vec3 tip = host->bone_tip(last, 0.0);
    return std::sqrt((tip[0] - g.x) * (tip[0] - g.x) + (tip[1] - g.y) * (tip[1] - g.y) +
                     (tip[2] - g.z) * (tip[2] - g.z));
  }
};

void error_counters(benchmark::State& state, const std::vector<double>& errors, double length) {
  double sum = 0, worst = 0;
  long within4 = 0, within6 = 0;
  for (double e : errors) {
    sum += e;
    worst = std::max(worst, e);
    within4 += e <= 1e-4 * length;
    within6 += e <= 1e-6 * length;
  }
  const double n = static_cast<double>(errors.size());
  state.counters["err_mean"] = sum / n / length;
  state.counters["err_worst"] = worst / length;
  state.counters["within_1e-4"] = within4 / n;
  state.counters["within_1e-6"] = within6 / n;
}

// The host's end error on every goal of a chain length (worked out once per length): what the
// other solvers are compared with, goal by goal.
const std::vector<double>& host_errors(int bones);

// Share of goals on which a solver's end is at least as far from the goal as the host's, or both
// are within the tolerance the solver was asked for: the goals compared at equal error.
void equal_error_counter(benchmark::State& state, const std::vector<double>& errors, int bones,
                         double tol) {
  const std::vector<double>& ours = host_errors(bones);
  long equal = 0;
  for (std::size_t i = 0; i < errors.size(); ++i)
    equal += errors[i] >= ours[i] || (errors[i] <= tol && ours[i] <= tol);
  state.counters["at_equal_error"] = equal / static_cast<double>(errors.size());
}

const std::vector<double>& host_errors(int bones) {
  static std::map<int, std::vector<double>> kept;
  std::vector<double>& errors = kept[bones];
  if (errors.empty()) {
    Host_chain chain(bones, false);
    for (const Goal& g : reachable_goals(bones, 7)) {
      chain.solve(g);
      errors.push_back(chain.error(g));
    }
  }
  return errors;
}

// Arg: bones.
void BM_HostEvaluation(benchmark::State& state) {
  const int bones = static_cast<int>(state.range(0));
  Host_chain chain(bones, false);
  const std::vector<Goal> goals = reachable_goals(bones, 7);
  const std::vector<double>& errors = host_errors(bones);
  std::size_t i = 0;
  for (auto _ : state) {
    chain.solve(goals[i]);
    i = i + 1 < goals.size() ? i + 1 : 0;
  }
  error_counters(state, errors, chain_length(bones));
}
BENCHMARK(BM_HostEvaluation)
    ->Arg(2)
    ->Arg(5)
    ->Arg(10)
    ->Arg(32)
    ->Arg(64)
    ->Unit(benchmark::kMicrosecond);

// The five-bone chain held by a 25-degree marker cone about its rest direction, without and with
// a twist target (arg 1): mean, and the slowest goal (best of three tries) as a counter.
void BM_HostEvaluationCone(benchmark::State& state) {
  const int bones = 5;
  Host_chain chain(bones, true);
  if (state.range(0) != 0) {
    // The benchmark scenes' twist target, added to the options.
    stage::Scene_record scene = chain_scene(bones, true);
    stage::Item_record target = stage::item_record(1002, stage::Item_type::object, "target1000");
    target.channels[stage::ch_position].value = {0, 0.5, -0.5};
    scene.items.push_back(target);
    for (stage::Item_record& r : scene.items)
      if (r.id == 1020) r.handlers[0].data.insert(r.handlers[0].data.begin(), "TwistTarget 1002");
    chain.host->load_scene_record(scene, "versus-kdl");
    chain.goal_id = chain.host->scene().find_by_name("goal1000");
    chain.goal = &chain.host->scene().at(chain.goal_id).channels[stage::ch_position];
  }
  const std::vector<Goal> goals = reachable_goals(bones, 11);
  double slowest = 0;
  for (const Goal& g : goals) {
    double best = 1e9;
    for (int t = 0; t < 3; ++t) {
      const double t0 = thread_seconds();
      chain.solve(g);
      best = std::min(best, thread_seconds() - t0);
    }
    slowest = std::max(slowest, best);
  }
  std::size_t i = 0;
  for (auto _ : state) {
    chain.solve(goals[i]);
    i = i + 1 < goals.size() ? i + 1 : 0;
  }
  state.counters["slowest_goal_us"] = slowest * 1e6;
}
BENCHMARK(BM_HostEvaluationCone)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

KDL::Chain kdl_chain(int bones) {
  using namespace KDL;
  Chain c;
  c.addSegment(Segment(Joint(Joint::RotZ), Frame::Identity()));
  c.addSegment(Segment(Joint(Joint::RotX), Frame::Identity()));
  c.addSegment(Segment(Joint(Joint::RotY), Frame(Vector(0, 0, bone_length(0)))));
  for (int k = 1; k < bones; ++k)
    c.addSegment(Segment(Joint(Joint::RotX), Frame(Vector(0, 0, bone_length(k)))));
  return c;
}

// Args: bones, tolerance exponent (4: 1e-4 of the chain's length, 6: 1e-6). The solve starts from
// the rest pose each time, as the module's does.
void BM_KdlLma(benchmark::State& state) {
  const int bones = static_cast<int>(state.range(0));
  const double tol = std::pow(10.0, -static_cast<double>(state.range(1))) * chain_length(bones);
  const KDL::Chain chain = kdl_chain(bones);
  Eigen::Matrix<double, 6, 1> weights;
  weights << 1, 1, 1, 0, 0, 0;
  // eps is the accuracy asked for in task space: the solver stops once the norm of the weighted
  // error (not its square) falls below it, as the error counters show.
  KDL::ChainIkSolverPos_LMA solver(chain, weights, tol, 500);
  KDL::ChainFkSolverPos_recursive fk(chain);
  KDL::JntArray rest(chain.getNrOfJoints()), out(chain.getNrOfJoints());
  for (unsigned j = 3; j < chain.getNrOfJoints(); ++j) rest(j) = bend;
  const std::vector<Goal> goals = reachable_goals(bones, 7);
  std::vector<double> errors;
  for (const Goal& g : goals) {
    solver.CartToJnt(rest, KDL::Frame(KDL::Vector(g.x, g.y, g.z)), out);
    KDL::Frame end;
    fk.JntToCart(out, end);
    errors.push_back((end.p - KDL::Vector(g.x, g.y, g.z)).Norm());
  }
  std::size_t i = 0;
  for (auto _ : state) {
    const Goal& g = goals[i];
    solver.CartToJnt(rest, KDL::Frame(KDL::Vector(g.x, g.y, g.z)), out);
    benchmark::DoNotOptimize(out.data);
    i = i + 1 < goals.size() ? i + 1 : 0;
  }
  error_counters(state, errors, chain_length(bones));
  equal_error_counter(state, errors, bones, tol);
}
BENCHMARK(BM_KdlLma)->ArgsProduct({{2, 5, 10, 32, 64}, {4, 6}})->Unit(benchmark::kMicrosecond);

// Plain FABRIK (forward and backward reaching) over the joint positions with ball joints: the
// end set on the goal and the links walked back to the root, then the root set back and the links
// walked out again, until the end is within the tolerance or after 100 rounds. It gives any
// ball-joint pose, not the rest-shape bend the module keeps: a speed and error anchor only. No
// heap use per solve.
class Fabrik {
 public:
  explicit Fabrik(int bones) : length_(bones), rest_(bones + 1), p_(bones + 1) {
    double a = 0;
    for (int k = 0; k < bones; ++k) {
      length_[k] = bone_length(k);
      if (k > 0) a += bend;
      rest_[k + 1] = {rest_[k].x, rest_[k].y - length_[k] * std::sin(a),
                      rest_[k].z + length_[k] * std::cos(a)};
    }
  }
  // Solves from the rest pose; returns the end's distance from the goal.
  double solve(const Goal& g, double tol, int rounds = 100) {
    p_ = rest_;
    const std::size_t n = length_.size();
    double error = distance(p_[n], g);
    for (int r = 0; r < rounds && error > tol; ++r) {
      p_[n] = g;
      for (std::size_t k = n; k-- > 0;) p_[k] = toward(p_[k + 1], p_[k], length_[k]);
      p_[0] = rest_[0];
      for (std::size_t k = 0; k < n; ++k) p_[k + 1] = toward(p_[k], p_[k + 1], length_[k]);
      error = distance(p_[n], g);
    }
    return error;
  }

 private:
  static double distance(const Goal& a, const Goal& b) {
    return std::sqrt((a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y) +
                     (a.z - b.z) * (a.z - b.z));
  }
  // The point at distance d from `from` on the way to `to`.
  static Goal toward(const Goal& from, const Goal& to, double d) {
    const double l = distance(from, to);
    if (l == 0) return from;
    const double t = d / l;
    return {from.x + (to.x - from.x) * t, from.y + (to.y - from.y) * t,
            from.z + (to.z - from.z) * t};
  }
  std::vector<double> length_;
  std::vector<Goal> rest_, p_;
};

// Args: bones, tolerance exponent, as for KDL.
void BM_Fabrik(benchmark::State& state) {
  const int bones = static_cast<int>(state.range(0));
  const double tol = std::pow(10.0, -static_cast<double>(state.range(1))) * chain_length(bones);
  Fabrik fabrik(bones);
  const std::vector<Goal> goals = reachable_goals(bones, 7);
  std::vector<double> errors;
  for (const Goal& g : goals) errors.push_back(fabrik.solve(g, tol));
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(fabrik.solve(goals[i], tol));
    i = i + 1 < goals.size() ? i + 1 : 0;
  }
  error_counters(state, errors, chain_length(bones));
  equal_error_counter(state, errors, bones, tol);
}
BENCHMARK(BM_Fabrik)->ArgsProduct({{2, 5, 10, 32, 64}, {4, 6}})->Unit(benchmark::kMicrosecond);

}  // namespace
