// Root direction limits through the stand-in host: whatever the goal, the root's Z axis stays
// inside its heading and pitch limits, or inside a cone drawn with marker items.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <sstream>

#include "tests/e2e/rig.h"

namespace e2e {
namespace {

constexpr double tolerance = 1e-3;  // radians

Rig_plan four_bone_chain() {
  Rig_plan plan;
  plan.lengths = {1.0, 0.8, 0.6, 0.4};
  plan.rest_rotations = {V3{}, V3{0, deg(20), 0}, V3{0, deg(25), 0}, V3{0, deg(15), 0}};
  plan.parent_position = {0.5, 1.0, -0.3};
  plan.parent_rotation = {deg(10), deg(-20), deg(35)};
  return plan;
}

stage::Limits limits(bool heading, double h0, double h1, bool pitch, double p0, double p1) {
  stage::Limits l;
  if (heading) l.flags |= 1u;
  if (pitch) l.flags |= 2u;
  l.lower = {deg(h0), deg(p0), 0};
  l.upper = {deg(h1), deg(p1), 0};
  return l;
}

// How far (radians) a direction lies outside the wedge of directions whose angle about `axis`,
// measured from +Z towards `toward`, is within [lower, upper]; 0 inside. The wedge is bounded by
// two half great circles from +axis to -axis, which meet at the poles, where the angle about the
// axis is undefined and a direction is on the boundary.
double angle_outside_wedge(const V3& z, const V3& axis, const V3& toward, double lower,
                           double upper) {
  const double a = std::atan2(dot(z, toward), z[2]);
  if (a >= lower && a <= upper) return 0;
  double nearest = 4;
  for (const double edge : {lower, upper}) {
    const V3 dir = V3{0, 0, 1} * std::cos(edge) + toward * std::sin(edge);
    const V3 normal = cross(axis, dir);  // the edge's great circle holds axis and dir
    const V3 in_plane = z - normal * dot(z, normal);
    nearest = std::min(nearest, dot(in_plane, dir) > 0 ? angle_between(z, in_plane)
                                                       : std::min(angle_between(z, axis),
                                                                  angle_between(z, axis * -1)));
  }
  return nearest;
}

// On an edge of that wedge, or at one of its poles.
bool near_wedge_edge(const V3& z, const V3& axis, const V3& toward, double lower, double upper) {
  const double a = std::atan2(dot(z, toward), z[2]);
  return std::fabs(a - lower) < tolerance || std::fabs(a - upper) < tolerance ||
         std::fabs(dot(z, axis)) > std::cos(tolerance);
}

// Heading turns +Z towards +X about Y; pitch turns +Z towards -Y about X.
double angle_outside_heading(const V3& z, const stage::Limits& l) {
  return angle_outside_wedge(z, {0, 1, 0}, {1, 0, 0}, l.lower[0], l.upper[0]);
}
double angle_outside_pitch(const V3& z, const stage::Limits& l) {
  return angle_outside_wedge(z, {1, 0, 0}, {0, -1, 0}, l.lower[1], l.upper[1]);
}

// Goals in every direction from the root, from well inside to well beyond the chain's reach.
std::vector<V3> goals_around(Rig& rig, unsigned seed, int count) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> reach(0.3, 2.5);
  rig.evaluate();
  const V3 origin = rig.root_origin();
  std::vector<V3> goals;
  for (int i = 0; i < count; ++i)
    goals.push_back(origin + random_direction(rng) * (reach(rng) * rig.world_length()));
  return goals;
}

TEST(RootLimits, HeadingAndPitchLimitsHoldTheRootsDirection) {
  // A heading limit bounds the angle of the root's Z axis about the parent's Y axis, a pitch limit
  // its angle about the parent's X axis (a root pulled back to the pole of that axis is on the
  // boundary too); both at once (here equal, +-30 degrees) bound a circular cone about the
  // parent's Z axis.
  const struct {
    const char* name;
    stage::Limits limits;
  } cases[] = {
      {"heading -30..30", limits(true, -30, 30, false, 0, 0)},
      {"heading 10..50 (rest outside)", limits(true, 10, 50, false, 0, 0)},
      {"pitch -20..40", limits(false, 0, 0, true, -20, 40)},
      {"heading and pitch -30..30", limits(true, -30, 30, true, -30, 30)},
  };
  for (const auto& c : cases) {
    Rig_plan plan = four_bone_chain();
    plan.root_limits = c.limits;
    Rig rig(plan);
    const std::vector<V3> goals = goals_around(rig, 4242, 40);
    int on_boundary = 0;  // goals that hold the root on its limit: the limit was in play
    for (std::size_t g = 0; g < goals.size(); ++g) {
      SCOPED_TRACE(std::string(c.name) + ", goal " + std::to_string(g));
      rig.set_position(rig.goal, goals[g]);
      rig.evaluate();
      ASSERT_TRUE(rig.finite_pose());
      const V3 z = rig.root_z_in_parent();
      const unsigned flags = c.limits.flags;
      if (flags == 3u) {
        const double off_axis = angle_between(z, {0, 0, 1});
        EXPECT_LE(off_axis, c.limits.upper[0] + tolerance);
        if (off_axis > c.limits.upper[0] - tolerance) ++on_boundary;
        continue;
      }
      if (flags & 1u) {
        EXPECT_LE(angle_outside_heading(z, c.limits), tolerance);
        if (near_wedge_edge(z, {0, 1, 0}, {1, 0, 0}, c.limits.lower[0], c.limits.upper[0]))
          ++on_boundary;
      }
      if (flags & 2u) {
        EXPECT_LE(angle_outside_pitch(z, c.limits), tolerance);
        if (near_wedge_edge(z, {1, 0, 0}, {0, -1, 0}, c.limits.lower[1], c.limits.upper[1]))
          ++on_boundary;
      }
    }
    EXPECT_GE(on_boundary, 5) << c.name;
  }
}

// Marker items whose Z axes lie on a circular cone of the given half-angle about the axis of the
// "ik-limit-org" item, all siblings of the chain root.
std::vector<std::pair<std::string, V3>> cone_markers(const V3& centre_hpb, double half_angle,
                                                     int count) {
  const M4 frame = rotation_hpb(centre_hpb);
  const V3 u = row(frame, 0), v = row(frame, 1), c = row(frame, 2);
  std::vector<std::pair<std::string, V3>> markers{{"cone-ik-limit-org", centre_hpb}};
  for (int i = 0; i < count; ++i) {
    const double phi = 2 * 3.14159265358979 * (i + 0.3) / count;
    const V3 d =
        c * std::cos(half_angle) + (u * std::cos(phi) + v * std::sin(phi)) * std::sin(half_angle);
    markers.push_back({"cone-for-ik-limit-" + std::to_string(i + 1),
                       V3{std::atan2(d[0], d[2]), -std::asin(d[1]), 0}});
  }
  return markers;
}

TEST(RootLimits, MarkerConeHoldsTheRootsDirection) {
  const V3 centre_hpb{deg(20), deg(-15), 0};
  const V3 centre = row(rotation_hpb(centre_hpb), 2);
  const double half_angle = deg(35);
  for (const bool arbitrary_limit : {true, false}) {
    Rig_plan plan = four_bone_chain();
    plan.parent_rotation = {};  // markers and the origin are read in the parent's frame
    plan.siblings = cone_markers(centre_hpb, half_angle, 8);
    plan.options = {arbitrary_limit ? "ArbitraryLimit 1" : "ArbitraryLimit 0"};
    Rig rig(plan);
    const std::vector<V3> goals = goals_around(rig, 99, 40);
    double widest = 0;
    int on_boundary = 0;
    for (std::size_t g = 0; g < goals.size(); ++g) {
      SCOPED_TRACE(std::string(arbitrary_limit ? "limit on" : "limit off") + ", goal " +
                   std::to_string(g));
      rig.set_position(rig.goal, goals[g]);
      rig.evaluate();
      ASSERT_TRUE(rig.finite_pose());
      const double off_axis = angle_between(rig.root_z_in_parent(), centre);
      widest = std::max(widest, off_axis);
      if (arbitrary_limit) {
        EXPECT_LE(off_axis, half_angle + tolerance);
        if (off_axis > half_angle - tolerance) ++on_boundary;
      }
    }
    // Without Arbitrary Limit the markers are ordinary items and the root goes where it must.
    if (arbitrary_limit) {
      EXPECT_GE(on_boundary, 5);
    } else {
      EXPECT_GT(widest, half_angle + 0.1);
    }
  }
}

}  // namespace
}  // namespace e2e
