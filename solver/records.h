// The plain records the chain solver works on. `process` builds them once per evaluation and hands
// them by const reference to the joint solve, the bend approach, the twist limits and the chain-end
// evaluation. Angles are radians, lengths scene units; HPB triples are vec3 (x heading about Y,
// y pitch about X, z bank about Z). Matrices act on row vectors: a direction v is carried by v * M.
#ifndef TARSEL_SOLVER_RECORDS_H
#define TARSEL_SOLVER_RECORDS_H

#include <cstddef>
#include <type_traits>

#include "la3d/vk_3dla.h"
#include "sdk/lwtypes.h"

// One joint of the chain (index 0 is the chain root). Every field is written by the chain set-up
// before anything reads it; default construction leaves the geometry unset.
struct Work {
  // What every solve reads, an unchanged chain's too (whose end and bend search answer from
  // memory): the joint angles, their clamps and the results.
  LWItemID item;            // host item of this joint
  vk_3dla::vec3 rest_rot;   // rest rotation, HPB rad; components below 1e-4 in magnitude are 0
  vk_3dla::vec3 fk_rot;     // own rotation at the evaluation time, HPB rad (0 without FK mixing)
  bool one_channel;         // bends by one HPB channel only (always true for the root)
  bool flipped;             // rest heading +-180 deg with zero bank: bends by mirrored pitch
  int channel;              // channel it bends by: 0 heading (Y), 1 pitch (X), 2 bank (Z)
  unsigned limit_flags;     // rotation limits: bit 0 heading, bit 1 pitch, bit 2 bank
  double bend_angle;        // rest bend about bend_axis, rad (0 for the root)
  vk_3dla::vec3 limit_min;  // lower limits (H, P, B), rad; pitch mirrored for flipped joints
  vk_3dla::vec3 limit_max;  // upper limits (H, P, B), rad
  // What working out the chain's end reads besides.
  vk_3dla::vec3 scale;      // item scaling at the evaluation time (x, y, z factors)
  vk_3dla::vec3 bend_axis;  // unit bend axis, joint frame
  vk_3dla::vec3 offset;     // joint origin minus the parent's pivot, parent frame; 0 for the root
  vk_3dla::vec3 end_point;  // point carried towards the next joint, relative to this joint's
                            // pivot, joint frame (the chain's end point for the last joint)
  vk_3dla::m33 pivot_mat;   // m33_from_hpb(pivot_rot)
  vk_3dla::vec3 pivot_rot;  // pivot rotation, HPB rad
};

// The rotation the host is to give one chain item, with its blend weight. This layout crosses to
// the host boundary and is stored as is: heading, pitch, bank, weight (four doubles).
struct Result {
  vk_3dla::vec3 hpb;  // HPB rad, parent frame of the item
  double weight;      // blend weight, written by the caller before the solve
};
static_assert(std::is_standard_layout<Result>::value, "Result must stay a plain record");
static_assert(sizeof(vk_3dla::vec3) == 3 * sizeof(double), "vec3 must be three doubles");
static_assert(offsetof(Result, weight) == 3 * sizeof(double), "weight follows heading/pitch/bank");
static_assert(sizeof(Result) == 4 * sizeof(double), "Result is four doubles");

// Closed-form description of a two-item chain (root plus one bending joint). Only valid when the
// two-item set-up filled it completely.
struct c_2items_ik {
  bool valid = false;          // the record was filled completely
  vk_3dla::vec3 link0;         // root end_point times root scale: root pivot to joint, root frame
  vk_3dla::vec3 axis;          // unit bend axis in the root frame, bending positive about it
  double phi_min;              // in-plane angle of the second link at s_min, rad, measured from
                               // link0's in-plane direction towards axis x link0
  double rate;                 // |bend_angle| of the joint: in-plane angle per unit bend fraction
  double len0;                 // length of link0 perpendicular to axis
  double axial;                // end point's component along axis (constant over the bend)
  double len0_sq;              // len0 squared
  double axial_sq;             // axial squared
  double len1_sq;              // squared in-plane length of the second link
  double s_mid;                // middle of the admissible bend-fraction range
  vk_3dla::vec3 mid_in_plane;  // unit mid_normal x axis: second link's in-plane direction at s_mid
  vk_3dla::vec3 mid_normal;    // unit axis x (second link at s_mid)
};

// One boundary of the root's heading or pitch limit: a half-plane through the root's pivot, root
// frame. The root keeps [2][2] of them: row 0 heading, row 1 pitch; column 0 lower, 1 upper.
struct Limit_plane {
  vk_3dla::vec3 dir;     // unit direction of the limit angle
  vk_3dla::vec3 axis;    // axis the limit angle turns about (+channel axis lower, - upper)
  vk_3dla::vec3 normal;  // axis x dir
};

// One knot of the periodic cubic spline giving the cone half-angle over the polar angle about +Z
// of the limit frame. Stored with a copy of the last knot in front and of the first at the end.
struct Limit_work {
  double angle;   // polar angle about +Z, rad, in [0, 2 pi) for the real knots
  double radius;  // cone half-angle at `angle`, rad (at most 179.9 deg)
  double curve;   // one sixth of the half-angle's second derivative over the polar angle
  double start;   // arc length on the unit sphere from the first knot to this one
  double length;  // arc length of the boundary piece from this knot to the next
};

// A mark on the limit boundary: the boundary piece that starts at `pos`. Exactly one of the two
// piece pointers is set: `knot` for the spline cone, `plane` for a one-channel plane limit. The
// pointers point into vectors/arrays owned by `process` and live as long as those.
struct D_lim {
  double pos;                          // position along the boundary
  const Limit_work* knot = nullptr;    // piece runs from this knot to the next one in its vector
  const Limit_plane* plane = nullptr;  // piece is this plane's half-circle
};

// How the joint solve chooses the joint's twist (its turn about its own Z axis). Any value other
// than -1, 1 and 3 behaves like IK_align_x.
enum IK_kind : int {
  IK_free = -1,      // twist stays
  IK_align_x = 0,    // chain bends in the joint's XZ plane: goal brought onto that plane's trace
  IK_align_y = 1,    // chain bends in the joint's YZ plane
  IK_align_dir = 3,  // goal's XY direction turned onto a given planar direction
};

#endif
