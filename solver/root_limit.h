// The chain root's direction limit: the heading and pitch limit planes, the spline cone drawn by
// the root's limits or by marker items, and the marks that let the joint solve walk its boundary
// by one parameter. Built once per evaluation, before the bend search.
#ifndef TARSEL_SOLVER_ROOT_LIMIT_H
#define TARSEL_SOLVER_ROOT_LIMIT_H

#include <vector>

#include "la3d/vk_3dla.h"
#include "solver/records.h"

// Everything the joint solve needs to test and follow the root's direction limit. All directions
// are in the root's frame (the frame in which the root's rotation is expressed).
//
// The marks point into this record's own `knots` and `planes`. Copying (or moving) the record
// re-points the marks of the copy at the copy's own knots and planes, so a copy stays usable;
// changing `knots` or `planes` in place after building invalidates the marks.
struct Root_limit {
  Limit_plane planes[2][2] = {};  // row 0 heading, row 1 pitch; col 0 lower, col 1 upper
  bool heading_limited = false;   // root limit_flags bit 0
  bool pitch_limited = false;     // root limit_flags bit 1
  bool cone_limit = false;        // the spline (cone) limit is in use
  std::vector<Limit_work> knots;  // real knots with a closing copy at each end
  std::vector<D_lim> marks;       // sorted by pos; empty when there is no direction limit
  double period = 0;              // boundary perimeter (2 pi for a plane pair)
  vk_3dla::m33 from_limit{1};     // limit frame F: limit-frame direction d -> d * F (root frame)
  vk_3dla::m33 to_limit{1};       // its transpose: root frame -> limit frame

  Root_limit() = default;
  Root_limit(const Root_limit& other);
  Root_limit& operator=(const Root_limit& other);
};

// Limit items and box knots closer than this (rad) to the limit frame's +Z or -Z axis are skipped:
// their azimuth is rounding noise and carries no information. When nothing else is left, the
// first one skipped sets the round cone: shrunk to the axis (+Z) or as wide as a cone goes (-Z).
constexpr double limit_item_axis_tolerance = 1e-6;

// Knots whose polar angles (rad, around the circle) are closer than this are one knot; the first
// one inserted counts.
constexpr double knot_merge_tolerance = 1e-9;

// Largest cone half-angle a knot may have: 179.9 deg in rad.
double max_cone_radius();

// Work space of the limit's build, kept by the caller so that a limit rebuilt at every evaluation
// (a marker that moves) reuses its storage instead of allocating.
struct Root_limit_scratch {
  std::vector<Limit_work> real;                                // the real knots, sorted by angle
  std::vector<double> h, slope, sub, diag, super, rhs, sigma;  // the curvature system
  std::vector<double> d, u, l, r;                              // its elimination
};

// Builds the root's direction limit into *limit (which is reset first, keeping its storage).
// scratch: work space to reuse, or null for a local one.
// root: the root's Work (limit_flags, limit_min, limit_max).
// inv_w0: upper-left 3x3 of the inverse of the root's reference transform (world -> root frame).
// limit_z_world: world Z axes of the limit items, in list order (empty without limit items).
// origin_z_world: world Z axis of the limit origin item, or null.
void build_root_limit(Root_limit* limit, const Work& root, const vk_3dla::m33& inv_w0,
                      const std::vector<vk_3dla::vec3>& limit_z_world,
                      const vk_3dla::vec3* origin_z_world, Root_limit_scratch* scratch = nullptr);

// Turns real knots (angle in [0, 2 pi), increasing; radius) into the spline's knot vector: clamps
// the radii to max_cone_radius(), adds the two closing copies, solves the curvature terms and
// measures the arc lengths on the unit sphere (from_limit carries limit-frame directions into the
// root frame). Writes the knot vector to *knots and returns the perimeter. Needs at least one knot.
double make_cone_knots(std::vector<Limit_work>* knots, const std::vector<Limit_work>& real,
                       const vk_3dla::m33& from_limit, Root_limit_scratch* scratch = nullptr);

#endif
