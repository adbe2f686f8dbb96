// Solving random rigs through the stand-in host and the loaded module, and the properties every
// solve must have: no crash, finite rotations, a reachable goal met, a limited root inside its
// limit, and local rotations that do not depend on where the rig stands in the world.
#ifndef TARSEL_TESTS_SWEEP_RIG_CHECKS_H
#define TARSEL_TESTS_SWEEP_RIG_CHECKS_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "stage/host.h"
#include "tests/sweep/rig_generator.h"

namespace sweep {

// Tolerances of the properties.
constexpr double reach_tolerance = 1e-4;  // end-to-goal distance per unit of chain length
constexpr double limit_tolerance = 2e-3;  // radians outside the root's limit
// Radians between local rotations. Rounding differs under a carrier: most rigs agree to 1e-9 rad.
// A boundary search settles only to its tolerance (2 pi 1e-5 rad of boundary position), or
// anywhere along a minimum that is flat to rounding, and where the root's twist turns fast with
// its place on the boundary (a goal near the root's axis, aligned by direction, turns the twist
// ten times as far) the two solves then differ by up to about 2e-3 rad (1.9e-3 the most in 8e5
// rigs of four seeds). Faults show as differences of 1e-2 rad and more.
constexpr double invariance_tolerance = 2e-3;

// The host with the module loaded; solves one rig at a time.
class Rig_solver {
 public:
  explicit Rig_solver(const std::string& module_path);
  // Loads the rig as the scene and evaluates time 0.
  void solve(const Rig& rig);

  stage::Host& host() { return host_; }
  LWItemID carrier() const { return carrier_; }
  LWItemID bone(int k) const { return bones_[k]; }
  LWItemID item(int i) const { return items_[i]; }
  Vec3 rotation(int k) const;  // bone k's rotation channel after the solve

 private:
  stage::Host host_;
  LWItemID carrier_ = LWITEM_NULL;
  std::vector<LWItemID> bones_, items_;
};

// One property over many rigs.
struct Property_tally {
  long checked = 0;
  long failed = 0;
  double worst = 0;            // largest error seen (its unit is the property's)
  long worst_rig = -1;         // index of the rig with that error
  std::vector<long> failures;  // the first few failing rig indices
  void add(long rig, double error, bool ok);
};

struct Sweep_summary {
  long rigs = 0;
  long non_finite = 0;  // rigs with a NaN or infinite rotation
  Property_tally finite, reach, limit, invariance;
};

// Error of each property for one rig; negative when the property does not apply to it.
struct Rig_errors {
  bool finite = true;
  double reach = -1;       // distance / chain length
  double limit = -1;       // radians outside the limit
  double invariance = -1;  // radians
};

// The rig of sweep index i for a seed, and the same rig under a random carrier. Classes take
// turns; each rig comes from its own stream so that any one can be drawn again alone.
struct Rig_pair {
  Rig rig;
  Rig carried;
};
Rig_pair sweep_rigs(uint64_t seed, long index);

// Solves a rig and its carried copy and measures the properties.
Rig_errors check_rig(Rig_solver& solver, const Rig& rig, const Rig& carried_rig);

// How far the root's direction lies outside its limit in the last solve (radians, 0 inside);
// negative when the rig's root limit is not one the property covers.
double root_limit_excess(Rig_solver& solver, const Rig& rig);

// Runs rigs [first, first + count) and tallies them.
Sweep_summary run_sweep(Rig_solver& solver, uint64_t seed, long first, long count);

// The half-angle of a cone limit at polar angle a (radians, [0, 2 pi)): the periodic cubic spline
// through the knots (polar angle -> half-angle), clamped to [0, 179.9 degrees].
constexpr double max_half_angle = 179.9 * 3.14159265358979323846 / 180;
double cone_half_angle(const std::map<double, double>& knots, double a);

// A rig as a scene file, for reproducing a failure with the stand-in host.
std::string rig_json(const Rig& rig);

}  // namespace sweep

#endif
