// Limit primitives shared by the joint solve: heading, pitch and twist limit tests, the cone
// spline, and the boundary objects that walk a direction-limit boundary by one parameter.
#ifndef TARSEL_SOLVER_LIMITS_H
#define TARSEL_SOLVER_LIMITS_H

#include <vector>

#include "la3d/vk_3dla.h"
#include "solver/records.h"

// Positive by how far the direction w (parent frame) leaves the joint's heading limits; 0 when
// heading is not limited.
double heading_excess(const vk_3dla::vec3& w, const Work& work);

// Positive by how far w leaves the joint's pitch limits; 0 when pitch is not limited.
double pitch_excess(const vk_3dla::vec3& w, const Work& work);

// Signed excess of the matrix's twist about its own Z axis beyond the bank limits (negative below
// the lower limit, positive above the upper). The limit flag is not consulted.
double twist_excess(const vk_3dla::m33& m, const Work& work);

// Turns m about its own Z axis back onto the violated bank limit. Returns whether m changed.
bool clamp_twist(const Work& work, vk_3dla::m33& m);

// Cone half-angle (rad) at polar angle a on the spline segment from knot k0 to knot k1.
double cone_radius(const Limit_work& k0, const Limit_work& k1, double a);

// Boundary direction at fraction t of the segment from k0 to k1, carried by `from_limit`.
vk_3dla::vec3 cone_point(const Limit_work& k0, const Limit_work& k1, double t,
                         const vk_3dla::m33& from_limit);

// Finds the mark whose piece holds the boundary position *u, clamping *u in place to the marks'
// range (a NaN position goes to the first mark). Writes the fraction of *u within the piece to *f.
// Returns null only for an empty vector.
const D_lim* find_piece(const std::vector<D_lim>& marks, double* u, double* f);

// Axis used by plane_point when the direction lies behind the plane's limit direction.
enum class Fallback_axis { x, y };

// Point of the plane's half-circle boundary nearest to the direction w.
vk_3dla::vec3 plane_point(const vk_3dla::vec3& w, const Limit_plane& plane, Fallback_axis fallback);

// The frame whose Z row is d: row 0 = normalized(perpendicular(d)), row 1 = d x row 0.
vk_3dla::m33 frame_from_z(const vk_3dla::vec3& d);

// A direction-limit boundary walked by one parameter. operator() clamps *u to the boundary marks'
// range and writes the boundary direction there (parent frame of the joint).
class Limit_dir {
 public:
  virtual void operator()(vk_3dla::vec3* out, double* u) const = 0;

 protected:
  ~Limit_dir() = default;  // never deleted through the base
};

// Boundary made of Limit_plane half-circles (one limited root channel). The planes are given in
// the parent frame already, so the limit frame is taken for symmetry with Limit_dir2 but not kept.
class Limit_dir1 final : public Limit_dir {
 public:
  Limit_dir1(const std::vector<D_lim>& marks, const vk_3dla::m33& /*from_limit*/) : marks_(marks) {}
  void operator()(vk_3dla::vec3* out, double* u) const override;

 private:
  const std::vector<D_lim>& marks_;
};

// Boundary of the spline cone (Limit_work knots).
class Limit_dir2 final : public Limit_dir {
 public:
  Limit_dir2(const std::vector<D_lim>& marks, const vk_3dla::m33& from_limit)
      : marks_(marks), from_limit_(from_limit) {}
  void operator()(vk_3dla::vec3* out, double* u) const override;

 private:
  const std::vector<D_lim>& marks_;
  const vk_3dla::m33& from_limit_;
};

#endif
