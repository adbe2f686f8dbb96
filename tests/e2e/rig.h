// Chain rigs for the end-to-end tests: scenes built for the stand-in host with the real module
// loaded, and a forward-kinematics check written here from the host's channel conventions alone,
// so that it shares no code with either the module or the host's own world transforms.
#ifndef TARSEL_TESTS_E2E_RIG_H
#define TARSEL_TESTS_E2E_RIG_H

#include <array>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "stage/host.h"

namespace e2e {

using V3 = std::array<double, 3>;

// --- A small independent 3-D toolkit (row vectors, v * M; translation in the last row). -------

struct M4 {
  double m[4][4];
};

M4 identity();
M4 operator*(const M4& a, const M4& b);  // a applied first
// heading about Y, pitch about X, bank about Z, applied bank first: Rz(b) * Rx(p) * Ry(h).
M4 rotation_hpb(const V3& hpb);
// The host's local transform of an item: scale, rotation, pivot rotation, then the move to its
// position less the parent's pivot.
M4 local_transform(const V3& scale, const V3& rotation, const V3& position,
                   const V3& pivot_rotation, const V3& parent_pivot);
V3 transform(const V3& point, const M4& m);  // (point, 1) * m
V3 row(const M4& m, int r);                  // one of the upper 3x3 rows
// A rotation by angle (radians) about a unit axis.
M4 rotation_axis(const V3& axis, double angle);

V3 operator+(const V3& a, const V3& b);
V3 operator-(const V3& a, const V3& b);
V3 operator*(const V3& a, double s);
double dot(const V3& a, const V3& b);
V3 cross(const V3& a, const V3& b);
double norm(const V3& a);
V3 unit(const V3& a);
double angle_between(const V3& a, const V3& b);  // radians, 0 for a zero vector
// The angle of the rotation that takes the rotation part of a to that of b (radians, 0 to pi).
double rotation_angle(const M4& a, const M4& b);
inline double deg(double d) { return d * (3.14159265358979323846 / 180.0); }

// A uniformly distributed random direction.
V3 random_direction(std::mt19937& rng);

// --- Rigs ----------------------------------------------------------------------------------------

// A serial chain of bones under one parent object: bone 0 carries "Tarsel_Top", the others
// "Tarsel", each bone sits at the tip of the one before, and the last bone's goal is the "goal"
// object (top level). Angles in radians.
struct Rig_plan {
  std::vector<double> lengths;     // rest length of each bone, root first
  std::vector<V3> rest_rotations;  // rest rotation (and starting rotation channel) per bone
  V3 parent_position{};
  V3 parent_rotation{};
  V3 parent_scale{1, 1, 1};
  V3 root_rotation{};                // the root's own rotation channel before the solve
  stage::Limits root_limits;         // heading/pitch limits of the root
  std::vector<std::string> options;  // blocks of the root's options, e.g. "ArbitraryLimit 1"
  bool twist_target = false;         // adds a top-level "twist_target" object, set as Twist Target
  bool plugin_effect = false;        // adds a top-level "effect" object, set as Plugin Effect
  bool has_goal = true;              // false: the last bone has no goal
  // Objects under the parent object, siblings of the root: name and rotation (limit markers).
  std::vector<std::pair<std::string, V3>> siblings;
};

// A host with the module loaded and the rig's scene in it.
class Rig {
 public:
  explicit Rig(const Rig_plan& plan);
  Rig(const Rig&) = delete;
  Rig& operator=(const Rig&) = delete;

  stage::Host host;
  LWItemID parent = LWITEM_NULL;
  LWItemID goal = LWITEM_NULL;
  LWItemID twist_target = LWITEM_NULL;
  LWItemID effect = LWITEM_NULL;
  std::vector<LWItemID> bones;

  void set_position(LWItemID item, const V3& p);
  void evaluate() { host.evaluate(0.0); }

  // World transform composed here from the host's evaluated channels (time 0).
  M4 world(LWItemID item) const;
  V3 root_origin() const { return translation(world(bones[0])); }
  V3 chain_end() const;         // tip of the last bone
  double world_length() const;  // the sum of bone lengths, scaled as the parent is
  V3 root_z_in_parent() const;  // the root's Z axis in its parent's frame
  // The world end of the chain posed at rest rotation * per-bone fractions (root unrotated),
  // computed from the plan alone.
  V3 posed_end(const std::vector<double>& fractions) const;
  // All bones' rotation channels and the chain end are finite.
  bool finite_pose() const;

  static V3 translation(const M4& m) { return {m.m[3][0], m.m[3][1], m.m[3][2]}; }

 private:
  Rig_plan plan_;
};

}  // namespace e2e

#endif
