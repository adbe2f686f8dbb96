#include "solver/root_limit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "solver/limits.h"
#include "tests/common/test_util.h"
#include "tests/solver/chain_builders.h"

namespace {

using namespace chain_builders;
using vk_3dla::deg2rad;
using vk_3dla::pi;
using vk_3dla::two_pi;

// World Z axis of an item with the given heading and pitch (no bank).
vec3 item_z(double heading, double pitch) {
  return vk_3dla::m33_from_hpb(vec3(heading, pitch, 0.0)).row(2);
}

// Direction at polar angle a, angle r from the axis, of the frame F.
vec3 cone_dir(double a, double r, const m33& F) {
  return vec3(std::sin(r) * std::cos(a), std::sin(r) * std::sin(a), std::cos(r)) * F;
}

Root_limit build_items(const std::vector<vec3>& z_world, const m33& inv_w0 = m33(1.0),
                       const vec3* origin = nullptr) {
  Root_limit limit;
  build_root_limit(&limit, plain_joint(vec3(0.0), vec3(0.0, 0.0, 1.0)), inv_w0, z_world, origin);
  return limit;
}

// Every field the joint solve reads is finite, the marks are sorted and point into the record.
void expect_sound(const Root_limit& limit) {
  EXPECT_TRUE(std::isfinite(limit.period));
  for (const Limit_work& k : limit.knots) {
    EXPECT_TRUE(std::isfinite(k.angle) && std::isfinite(k.radius) && std::isfinite(k.curve) &&
                std::isfinite(k.start) && std::isfinite(k.length));
  }
  for (std::size_t i = 0; i < limit.marks.size(); ++i) {
    const D_lim& m = limit.marks[i];
    EXPECT_TRUE(std::isfinite(m.pos));
    if (i > 0) {
      EXPECT_LE(limit.marks[i - 1].pos, m.pos);
    }
    if (m.knot) {
      EXPECT_GE(m.knot, limit.knots.data() + 1);
      EXPECT_LT(m.knot, limit.knots.data() + limit.knots.size() - 1);
    }
  }
}

TEST(RootLimit, BoxAroundTheRestDirectionPutsAKnotOnEachHalfAxis) {
  struct Case {
    const char* name;
    vec3 lo, hi;
    double radius[4];  // at 0, 90, 180, 270 degrees
  } cases[] = {
      {"-30..60 / -20..40",
       vec3(deg2rad(-30), deg2rad(-20), 0),
       vec3(deg2rad(60), deg2rad(40), 0),
       {deg2rad(60), deg2rad(20), deg2rad(30), deg2rad(40)}},
      {"3 rad stays, 3.2 rad is cut to 179.9 deg",
       vec3(-0.5, -0.3, 0),
       vec3(3.2, 3.0, 0),
       {deg2rad(179.9), 0.3, 0.5, 3.0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Root_limit limit;
    build_root_limit(&limit, limited_root(3u, c.lo, c.hi), m33(1.0), {}, nullptr);
    EXPECT_TRUE(limit.cone_limit);
    EXPECT_M33_NEAR(limit.from_limit, m33(1.0), 0.0);
    ASSERT_EQ(limit.knots.size(), 6u);
    for (int i = 0; i < 4; ++i) {
      EXPECT_DOUBLE_EQ(limit.knots[i + 1].angle, i * pi / 2.0);
      EXPECT_DOUBLE_EQ(limit.knots[i + 1].radius, c.radius[i]);
    }
    EXPECT_DOUBLE_EQ(limit.knots[0].angle, 1.5 * pi - two_pi);
    EXPECT_DOUBLE_EQ(limit.knots[5].angle, two_pi);
    EXPECT_EQ(limit.knots[0].radius, limit.knots[4].radius);
    EXPECT_EQ(limit.knots[5].curve, limit.knots[1].curve);
    EXPECT_EQ(limit.marks.size(), 4u * 3u + 1u);
    EXPECT_DOUBLE_EQ(limit.marks.front().pos, -limit.period);
    EXPECT_DOUBLE_EQ(limit.marks.back().pos, 2.0 * limit.period);
    expect_sound(limit);
  }
}

TEST(RootLimit, OffCentreBoxCentresTheFrameBetweenTheLimits) {
  const vec3 lo(deg2rad(10), deg2rad(-20), 0), hi(deg2rad(50), deg2rad(40), 0);
  Work root = limited_root(3u, lo, hi);
  Root_limit limit;
  build_root_limit(&limit, root, m33(1.0), {}, nullptr);
  ASSERT_TRUE(limit.cone_limit);
  EXPECT_M33_NEAR(limit.from_limit * limit.to_limit, m33(1.0), 1e-12);
  vec3 z = limit.from_limit.row(2);
  double heading = std::atan2(z.x, z.z);
  EXPECT_GT(heading, deg2rad(10));
  EXPECT_LT(heading, deg2rad(50));
  // Each knot is a point of one of the four planes, inside the box of limits.
  ASSERT_EQ(limit.knots.size(), 6u);
  for (int i = 1; i <= 4; ++i) {
    SCOPED_TRACE("knot " + std::to_string(i));
    vec3 d = cone_dir(limit.knots[i].angle, limit.knots[i].radius, limit.from_limit);
    double h = std::atan2(d.x, d.z), p = std::atan2(-d.y, d.z);
    double off = std::min(std::min(std::fabs(h - lo.x), std::fabs(h - hi.x)),
                          std::min(std::fabs(p - lo.y), std::fabs(p - hi.y)));
    EXPECT_LT(off, 1e-12);
    EXPECT_LE(heading_excess(d, root), 1e-12);
    EXPECT_LE(pitch_excess(d, root), 1e-12);
  }
  expect_sound(limit);
}

TEST(RootLimit, OneLimitedChannelGivesSevenAlternatingPlaneMarks) {
  struct Case {
    const char* name;
    unsigned flags;
    int row;
  } cases[] = {{"heading", 1u, 0}, {"pitch", 2u, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Root_limit limit;
    build_root_limit(&limit, limited_root(c.flags, vec3(-0.4, -0.3, 0), vec3(0.5, 0.6, 0)),
                     m33(1.0), {}, nullptr);
    EXPECT_FALSE(limit.cone_limit);
    EXPECT_DOUBLE_EQ(limit.period, two_pi);
    ASSERT_EQ(limit.marks.size(), 7u);
    for (int i = 0; i < 7; ++i) {
      EXPECT_DOUBLE_EQ(limit.marks[i].pos, (i - 2) * pi);
      EXPECT_EQ(limit.marks[i].plane, &limit.planes[c.row][i % 2]);
      EXPECT_EQ(limit.marks[i].knot, nullptr);
    }
    // The two half-circles join: each plane's normal is its axis cross its direction.
    for (const Limit_plane& p : limit.planes[c.row]) {
      EXPECT_VEC3_NEAR(p.normal, vk_3dla::cross(p.axis, p.dir), 0.0);
      EXPECT_NEAR(vk_3dla::dot(p.axis, p.dir), 0.0, 1e-15);
    }
  }
  Root_limit none;
  build_root_limit(&none, limited_root(4u, vec3(0.0), vec3(0.0)), m33(1.0), {}, nullptr);
  EXPECT_FALSE(none.cone_limit);
  EXPECT_TRUE(none.marks.empty());
}

TEST(RootLimit, SingleLimitItemGivesACircularCone) {
  for (double a : {0.05, 0.4, 1.2, 2.5, 3.0}) {
    SCOPED_TRACE("half-angle " + std::to_string(a));
    Root_limit limit =
        build_items({vec3(std::sin(a) * std::cos(1.0), std::sin(a) * std::sin(1.0), std::cos(a))});
    ASSERT_EQ(limit.knots.size(), 3u);
    EXPECT_NEAR(limit.knots[1].radius, a, 1e-12);
    EXPECT_DOUBLE_EQ(limit.knots[2].angle - limit.knots[1].angle, two_pi);
    EXPECT_EQ(limit.knots[1].curve, 0.0);
    // The sampled perimeter of a small circle of angular radius a is 2 pi sin a.
    EXPECT_NEAR(limit.period, two_pi * std::sin(a), 2e-3 * two_pi * std::sin(a));
    EXPECT_EQ(limit.marks.size(), 4u);
    expect_sound(limit);
  }
}

TEST(RootLimit, SplinePassesThroughItsKnotsWithContinuousSlopeAcrossTheWrap) {
  std::mt19937 gen(7);
  std::uniform_real_distribution<double> jitter(-0.3, 0.3), radius(0.3, 1.2);
  auto slope = [](const Limit_work& k0, const Limit_work& k1, double a) {
    const double h = 1e-6;
    return (cone_radius(k0, k1, a + h) - cone_radius(k0, k1, a - h)) / (2.0 * h);
  };
  for (int m = 2; m <= 7; ++m) {
    SCOPED_TRACE("knots " + std::to_string(m));
    std::vector<vec3> items;
    for (int i = 0; i < m; ++i) {
      double a = (i + 0.5 + jitter(gen)) * two_pi / m;
      items.push_back(cone_dir(a, radius(gen), m33(1.0)));
    }
    Root_limit limit = build_items(items);
    const std::vector<Limit_work>& k = limit.knots;
    ASSERT_EQ(k.size(), static_cast<std::size_t>(m) + 2);
    double start = 0.0;
    for (int i = 0; i <= m; ++i) {  // piece i runs from k[i] to k[i + 1]; piece 0 crosses angle 0
      EXPECT_NEAR(cone_radius(k[i], k[i + 1], k[i].angle), k[i].radius, 1e-12);
      EXPECT_NEAR(cone_radius(k[i], k[i + 1], k[i + 1].angle), k[i + 1].radius, 1e-12);
      if (i >= 1) {
        EXPECT_NEAR(slope(k[i - 1], k[i], k[i].angle), slope(k[i], k[i + 1], k[i].angle), 1e-6);
        EXPECT_NEAR(k[i].start, start, 1e-12);
        start += k[i].length;
      }
    }
    // The piece into the end copy continues as the piece out of the front copy, a turn earlier.
    EXPECT_NEAR(cone_radius(k[m], k[m + 1], two_pi), cone_radius(k[0], k[1], 0.0), 1e-12);
    EXPECT_NEAR(slope(k[m], k[m + 1], two_pi), slope(k[0], k[1], 0.0), 1e-6);
    EXPECT_NEAR(limit.period, start, 1e-12);
    expect_sound(limit);
  }
}

// A limit item just below the +X axis of the limit frame: its polar angle -1e-17 + 2 pi rounds to
// 2 pi, on top of the closing copy of a knot at 0.
TEST(RootLimit, KnotAtAFullTurnMergesWithTheKnotAtZero) {
  const vec3 first = item_z(0.5, 0.0), second = item_z(1.0, 1e-17);
  ASSERT_EQ(std::atan2(second.y, second.x) + two_pi, two_pi);  // the rounding the repro needs
  struct Case {
    const char* name;
    std::vector<vec3> items;
    std::size_t knots;
    double radius;  // of the first real knot
  } cases[] = {
      {"repro: 0 then 2 pi", {first, second}, 3, 0.5},
      {"2 pi then 0", {second, first}, 3, 1.0},
      {"closer than the merge tolerance", {item_z(0.5, 0.3), item_z(0.5, 0.3 + 2e-10)}, 3, 0.0},
      {"beside two others", {first, item_z(0.8, 0.5), second, item_z(0.6, -0.7)}, 5, 0.5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Root_limit limit = build_items(c.items);
    ASSERT_EQ(limit.knots.size(), c.knots);
    if (c.radius > 0.0) {
      EXPECT_NEAR(limit.knots[1].radius, c.radius, 1e-12);
    }
    for (std::size_t i = 1; i + 1 < limit.knots.size(); ++i) {
      EXPECT_GE(limit.knots[i].angle, 0.0);
      EXPECT_LT(limit.knots[i].angle, two_pi);
      EXPECT_GT(limit.knots[i + 1].angle - limit.knots[i].angle, 1e-9);
    }
    EXPECT_GT(limit.period, 0.0);
    expect_sound(limit);
  }
}

TEST(RootLimit, LimitItemsOnTheFrameAxisAreSkipped) {
  const std::vector<vec3> others = {item_z(0.5, 0.0), item_z(-0.2, 0.6), item_z(0.1, -0.4)};
  Root_limit reference = build_items(others);
  for (double azimuth : {0.0, 1.0, 2.5, -2.0}) {
    SCOPED_TRACE("noise at azimuth " + std::to_string(azimuth));
    std::vector<vec3> items = {cone_dir(azimuth, 1e-12, m33(1.0))};
    items.insert(items.end(), others.begin(), others.end());
    Root_limit limit = build_items(items);
    ASSERT_EQ(limit.knots.size(), reference.knots.size());
    for (std::size_t i = 0; i < limit.knots.size(); ++i) {
      EXPECT_EQ(limit.knots[i].angle, reference.knots[i].angle);
      EXPECT_EQ(limit.knots[i].radius, reference.knots[i].radius);
    }
  }
  // Nothing but axis items (or the repro's single item along Z): a cone shrunk to the axis.
  for (const auto& items : {std::vector<vec3>{vec3(0.0, 0.0, 1.0)},
                            std::vector<vec3>{cone_dir(0.3, 1e-9, m33(1.0)), vec3(0, 0, 2)},
                            std::vector<vec3>{vec3(0.0, 0.0, 1.0), vec3(0.0, 0.0, -1.0)}}) {
    Root_limit limit = build_items(items);
    ASSERT_EQ(limit.knots.size(), 3u);
    EXPECT_EQ(limit.knots[1].radius, 0.0);
    EXPECT_EQ(limit.period, 0.0);
    for (const D_lim& m : limit.marks) EXPECT_EQ(m.pos, 0.0);
    expect_sound(limit);
  }
}

// Repro: markers with no rotation under a root whose pivot is turned half round point along the
// limit frame's -Z, where their polar angle is as much noise as on +Z.
TEST(RootLimit, LimitItemsOnTheFramesNegativeAxisAreSkipped) {
  const std::vector<vec3> others = {item_z(0.5, 0.0), item_z(-0.2, 0.6), item_z(2.8, -0.4)};
  Root_limit reference = build_items(others);
  const m33 half_turn = vk_3dla::m33_from_hpb(vec3(0.0, pi, 0.0));  // the repro's pivot rotation
  for (double azimuth : {0.0, 1.0, 2.5, -2.0}) {
    SCOPED_TRACE("noise at azimuth " + std::to_string(azimuth));
    std::vector<vec3> items = {cone_dir(azimuth, pi - 1e-12, m33(1.0))};
    items.insert(items.end(), others.begin(), others.end());
    items.push_back(vec3(0.0, 0.0, 1.0) * half_turn);  // exactly -Z, up to the turn's rounding
    Root_limit limit = build_items(items);
    ASSERT_EQ(limit.knots.size(), reference.knots.size());
    for (std::size_t i = 0; i < limit.knots.size(); ++i) {
      EXPECT_EQ(limit.knots[i].angle, reference.knots[i].angle);
      EXPECT_EQ(limit.knots[i].radius, reference.knots[i].radius);
    }
  }
  // Nothing but items on -Z (the first axis item on -Z): the widest round cone, as one such item
  // gave before, its azimuth being irrelevant there.
  for (const auto& items :
       {std::vector<vec3>{vec3(0.0, 0.0, -1.0)},
        std::vector<vec3>{cone_dir(0.3, pi - 1e-9, m33(1.0)), vec3(0.0, 0.0, 1.0)}}) {
    Root_limit limit = build_items(items);
    ASSERT_EQ(limit.knots.size(), 3u);
    EXPECT_EQ(limit.knots[1].radius, max_cone_radius());
    EXPECT_GT(limit.period, 0.0);
    expect_sound(limit);
  }
}

// Repro: a carried copy of a rig put one limit item's polar angle at 2 pi - 9e-16 instead of 0, so
// that its knot ended the cycle instead of starting it and every boundary position moved.
TEST(RootLimit, KnotJustBelowAFullTurnStartsTheCycle) {
  const std::vector<vec3> others = {item_z(-0.3, 0.2), item_z(0.1, -0.5), item_z(-0.2, -0.4)};
  std::vector<vec3> at_zero = {item_z(0.3, 0.0)}, below = {item_z(0.3, 1e-15)};
  at_zero.insert(at_zero.end(), others.begin(), others.end());
  below.insert(below.end(), others.begin(), others.end());
  const vec3 d = below.front();
  ASSERT_LT(std::atan2(d.y, d.x) + two_pi, two_pi);  // the rounding the repro needs
  const Root_limit a = build_items(at_zero), b = build_items(below);
  ASSERT_EQ(a.knots.size(), b.knots.size());
  EXPECT_EQ(b.knots[1].angle, 0.0);
  for (std::size_t i = 0; i < a.knots.size(); ++i) {
    SCOPED_TRACE("knot " + std::to_string(i));
    EXPECT_NEAR(a.knots[i].angle, b.knots[i].angle, 1e-12);
    EXPECT_NEAR(a.knots[i].radius, b.knots[i].radius, 1e-12);
    EXPECT_NEAR(a.knots[i].start, b.knots[i].start, 1e-9);
  }
  EXPECT_NEAR(a.period, b.period, 1e-9);
}

// Repro: heading limits [0, 0] with pitch limited; the box's centre lies on both heading planes,
// whose knots then sit on the frame's axis with polar angles of noise.
TEST(RootLimit, OffCentreBoxSkipsKnotsOnItsAxis) {
  struct Case {
    const char* name;
    vec3 lo, hi;
    std::size_t knots;
    double radius;  // of every real knot
  } cases[] = {
      {"heading 0..0, pitch -79.5..0 deg", vec3(0.0, -1.3875, 0.0), vec3(0.0), 4, 1.3875 / 2.0},
      {"heading 0..0, pitch 0.2..0.9", vec3(0.0, 0.2, 0.0), vec3(0.0, 0.9, 0.0), 4, 0.35},
      {"pitch 0..0, heading 0.1..0.7", vec3(0.1, 0.0, 0.0), vec3(0.7, 0.0, 0.0), 4, 0.3},
      {"a single direction", vec3(0.4, 0.0, 0.0), vec3(0.4, 0.0, 0.0), 3, 0.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Root_limit limit;
    build_root_limit(&limit, limited_root(3u, c.lo, c.hi), m33(1.0), {}, nullptr);
    ASSERT_EQ(limit.knots.size(), c.knots);
    for (std::size_t i = 1; i + 1 < limit.knots.size(); ++i)
      EXPECT_NEAR(limit.knots[i].radius, c.radius, 1e-9);
    if (c.knots == 4) {  // the two knots face each other across the axis
      EXPECT_NEAR(limit.knots[2].angle - limit.knots[1].angle, pi, 1e-9);
    }
    expect_sound(limit);
  }
}

TEST(RootLimit, LimitOriginIsCarriedIntoTheRootFrameAndNormalised) {
  // Limit items 0.4 rad around the origin's axis o, at four azimuths.
  const vec3 o = vk_3dla::normalized(vec3(0.3, -0.2, 1.0));
  const m33 frame = frame_from_z(o);
  std::vector<vec3> ring;
  for (int i = 0; i < 4; ++i) ring.push_back(cone_dir(0.3 + i * pi / 2.0, 0.4, frame));
  const m33 q = vk_3dla::m33_from_hpb(vec3(0.9, -0.4, 0.3));  // the rig's parent rotation

  struct Case {
    const char* name;
    double item_scale, origin_scale, rig_scale;
    bool rotated;
  } cases[] = {
      {"plain", 1, 1, 1, false},
      {"rig rotated by its parent", 1, 1, 1, true},
      {"rig scaled by 2", 2, 2, 2, true},
      {"origin item scaled by 2", 1, 2, 1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const m33 parent = (c.rotated ? q : m33(1.0)) * c.rig_scale;
    const m33 inv_w0 = vk_3dla::inverse(parent);
    std::vector<vec3> items;
    for (const vec3& z : ring) items.push_back(z * parent * (c.item_scale / c.rig_scale));
    const vec3 origin = o * parent * (c.origin_scale / c.rig_scale);
    Root_limit limit = build_items(items, inv_w0, &origin);
    EXPECT_M33_NEAR(limit.from_limit * limit.to_limit, m33(1.0), 1e-12);
    EXPECT_VEC3_NEAR(limit.from_limit.row(2), o, 1e-12);
    ASSERT_EQ(limit.knots.size(), 6u);
    for (int i = 1; i <= 4; ++i) EXPECT_NEAR(limit.knots[i].radius, 0.4, 1e-12);
  }
}

TEST(RootLimit, CopyPointsItsMarksAtItsOwnKnotsAndPlanes) {
  Root_limit cone_copy, plane_copy;
  {
    Root_limit cone = build_items({item_z(0.5, 0.0), item_z(-0.2, 0.6), item_z(0.1, -0.4)});
    Root_limit planes;
    build_root_limit(&planes, limited_root(2u, vec3(-0.4), vec3(0.4)), m33(1.0), {}, nullptr);
    cone_copy = cone;
    plane_copy = Root_limit(planes);
  }
  expect_sound(cone_copy);
  ASSERT_EQ(plane_copy.marks.size(), 7u);
  for (int i = 0; i < 7; ++i) EXPECT_EQ(plane_copy.marks[i].plane, &plane_copy.planes[1][i % 2]);
}

}  // namespace
