#pragma once
// Work records built by hand, and an independent forward evaluation of a chain composed from m44
// products, for the solver suites and benchmarks.

#include <algorithm>
#include <cmath>
#include <vector>

#include "la3d/vk_3dla.h"
#include "solver/chain_end.h"
#include "solver/records.h"

namespace chain_builders {

using vk_3dla::m33;
using vk_3dla::vec3;

// A joint with no rest bend, unit scale, no pivot rotation, no FK rotation and no limits.
inline Work plain_joint(const vec3& offset, const vec3& end_point) {
  Work w;
  w.item = LWITEM_NULL;
  w.rest_rot = vec3(0.0);
  w.scale = vec3(1.0);
  w.pivot_rot = vec3(0.0);
  w.pivot_mat = m33(1.0);
  w.fk_rot = vec3(0.0);
  w.one_channel = true;
  w.flipped = false;
  w.channel = 1;
  w.bend_axis = vec3(1.0, 0.0, 0.0);
  w.bend_angle = 0.0;
  w.offset = offset;
  w.end_point = end_point;
  w.limit_flags = 0;
  w.limit_min = vec3(0.0);
  w.limit_max = vec3(0.0);
  return w;
}

inline vec3 channel_axis(int channel) {
  return channel == 0   ? vec3(0.0, 1.0, 0.0)
         : channel == 1 ? vec3(1.0, 0.0, 0.0)
                        : vec3(0.0, 0.0, 1.0);
}

// A joint bending by one HPB channel (0 heading, 1 pitch, 2 bank) with rest bend `bend`.
inline Work channel_joint(int channel, double bend, const vec3& offset, const vec3& end_point) {
  Work w = plain_joint(offset, end_point);
  w.rest_rot = vec3(0.0);
  w.rest_rot[channel] = bend;
  w.channel = channel;
  w.bend_axis = channel_axis(channel);
  w.bend_angle = bend;
  return w;
}

// A joint whose rest heading is 180 deg (bank 0): bends by its mirrored pitch.
inline Work flipped_joint(double rest_pitch, const vec3& offset, const vec3& end_point) {
  Work w = plain_joint(offset, end_point);
  w.rest_rot = vec3(vk_3dla::pi, rest_pitch, 0.0);
  w.flipped = true;
  w.channel = 1;
  w.bend_axis = vec3(1.0, 0.0, 0.0);
  double c = rest_pitch > 0.0 ? vk_3dla::pi : -vk_3dla::pi;
  w.bend_angle = c - rest_pitch;
  return w;
}

// A joint whose rest rotation mixes channels: bends about the axis of that rotation.
inline Work free_axis_joint(const vec3& rest_hpb, const vec3& offset, const vec3& end_point) {
  Work w = plain_joint(offset, end_point);
  w.rest_rot = rest_hpb;
  w.one_channel = false;
  vec3 axis;
  double angle;
  vk_3dla::axis_angle(vk_3dla::m33_from_hpb(rest_hpb), axis, angle);
  w.bend_axis = axis;
  w.bend_angle = angle;
  double ax = std::fabs(axis.x), ay = std::fabs(axis.y), az = std::fabs(axis.z);
  w.channel = (ax > ay && ax > az) ? 1 : (ay >= ax && ay > az) ? 0 : 2;
  return w;
}

inline void set_pivot(Work* w, const vec3& pivot_hpb) {
  w->pivot_rot = pivot_hpb;
  w->pivot_mat = vk_3dla::m33_from_hpb(pivot_hpb);
}

inline void set_limits(Work* w, unsigned flags, const vec3& lo, const vec3& hi) {
  w->limit_flags = flags;
  w->limit_min = lo;
  w->limit_max = hi;
}

// A root at the origin, its end one unit along Z, with the given limits.
inline Work limited_root(unsigned flags, const vec3& lo, const vec3& hi) {
  Work w = plain_joint(vec3(0.0), vec3(0.0, 0.0, 1.0));
  set_limits(&w, flags, lo, hi);
  return w;
}

// Links the joints: each joint's end point is the next joint's offset.
inline std::vector<Work> link(std::vector<Work> works) {
  for (std::size_t k = 0; k + 1 < works.size(); ++k) works[k].end_point = works[k + 1].offset;
  if (!works.empty()) works[0].offset = vec3(0.0);
  return works;
}

// A planar chain of n joints (root plus n - 1 pitch joints), each link `length` long along +Z,
// each bending joint with rest bend `bend`.
inline std::vector<Work> planar_chain(int n, double length, double bend) {
  std::vector<Work> works;
  works.push_back(plain_joint(vec3(0.0), vec3(0.0, 0.0, length)));
  for (int k = 1; k < n; ++k) {
    works.push_back(channel_joint(1, bend, vec3(0.0, 0.0, length), vec3(0.0, 0.0, length)));
  }
  return link(works);
}

// The channel angle a joint takes for bend fraction s, written out independently of the solver.
inline double reference_angle(const Work& w, double s) {
  double theta = s * w.bend_angle;
  unsigned bit = w.channel == 1 ? 2u : w.channel == 2 ? 4u : 1u;
  if (w.limit_flags & bit) {
    theta = std::max(theta, w.limit_min[w.channel]);
    theta = std::min(theta, w.limit_max[w.channel]);
  }
  if (w.flipped) theta = (w.rest_rot.y > 0.0 ? vk_3dla::pi : -vk_3dla::pi) - theta;
  return theta;
}

// The chain's end point composed as a product of m44 link transforms, root frame.
inline vec3 reference_chain_end(const std::vector<Work>& works, double s) {
  vk_3dla::m44 t(1.0);
  vec3 p(0.0);
  for (std::size_t k = 0; k < works.size(); ++k) {
    const Work& w = works[k];
    m33 m(1.0);
    if (k >= 1) {
      double theta = reference_angle(w, s);
      if (w.flipped) {
        m = vk_3dla::rot_z(w.fk_rot.z) * vk_3dla::rot_x(theta) * vk_3dla::rot_y(w.rest_rot.x);
      } else if (w.one_channel) {
        vec3 h = w.fk_rot;
        h[w.channel] = theta;
        m = vk_3dla::m33_from_hpb(h);
      } else {
        m = vk_3dla::rot_axis(w.bend_axis, theta);
      }
      m = m * w.pivot_mat;
    }
    m = vk_3dla::diag(w.scale) * m;
    t = vk_3dla::m44(m, w.offset) * t;
    p = vk_3dla::from_homogeneous(w.end_point * t);
  }
  return p;
}

}  // namespace chain_builders
