// Reconciling a joint's twist with its limits: pulling the twist back inside the bank limits, and
// placing a joint that left its direction limit on the boundary where a twist target is met.
#ifndef TARSEL_SOLVER_TWIST_LIMIT_H
#define TARSEL_SOLVER_TWIST_LIMIT_H

#include <vector>

#include "la3d/vk_3dla.h"
#include "solver/chain_end.h"
#include "solver/limits.h"
#include "solver/records.h"

// Turns *joint about twist_axis (joint frame) just far enough to bring its twist back inside the
// bank limits. Returns the twist excess left after the search; 0 when nothing was done.
double limit_twist_by_ik_twist(vk_3dla::m33* joint, const Work& work,
                               const vk_3dla::vec3& twist_axis);

// Puts *joint on the boundary at *u (clamped in place) and twists it so that the twist target,
// seen in the joint's XY plane, has the azimuth rho of the twist reference. Returns the angle left
// between reference and target in half-turns (the largest double when the target lies on the
// joint's Z axis).
double place_on_boundary(vk_3dla::m33* joint, const vk_3dla::vec3& twist_target,
                         const vk_3dla::vec3& twist_ref, double rho, const Limit_dir& dir,
                         double* u);

// Points of the arc m cos t + e sin t, t in [-arc_angle/2, arc_angle/2], whose dot product with v
// equals `level`. Writes their fractions along the arc (t / arc_angle + 1/2) to fractions[0..1]
// and their number to *count. Returns true when every point of the arc qualifies.
bool arc_candidates(const vk_3dla::vec3& m, const vk_3dla::vec3& e, const vk_3dla::vec3& axis,
                    double arc_angle, const vk_3dla::vec3& v, double level, double fractions[2],
                    int* count);

// For a joint outside its direction limit with a twist target: places *joint on the boundary where
// a pure twist meets the target (the best of those for the end distance), or failing that where
// the twist error is least, and returns the bend fraction from the bend approach. `planes` is the
// plane pair in use (two elements) when cone_limit is false. `ends`, when given for this chain,
// serves the chain-end evaluations.
double limit_with_twist_target(vk_3dla::m33* joint, const std::vector<Work>& chain,
                               const vk_3dla::vec3& goal, const vk_3dla::vec3& twist_target,
                               const vk_3dla::vec3& twist_ref, double step, double tolerance,
                               double s_min, double s_max, const c_2items_ik& two_items,
                               bool cone_limit, const Limit_plane* planes,
                               const std::vector<D_lim>& marks, double perimeter,
                               const vk_3dla::m33& from_limit, const Limit_dir& dir, double s0,
                               Chain_ends* ends = nullptr);

#endif
