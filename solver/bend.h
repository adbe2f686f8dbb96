// Bend approach and twist solve: with the joint's rotation fixed, the rest of the chain moves by
// one number, the bend fraction. These routines pick the fraction that brings the chain's end
// nearest the goal and the twist that lets the bending plane face the goal.
#ifndef TARSEL_SOLVER_BEND_H
#define TARSEL_SOLVER_BEND_H

#include <vector>

#include "la3d/vk_3dla.h"
#include "solver/chain_end.h"
#include "solver/limits.h"
#include "solver/minimise.h"
#include "solver/records.h"

// Bend fraction in [s_min, s_max] that brings the chain's end nearest to `goal` (given in the
// frame in which `joint` is expressed). Closed form when two_items.valid, else two step searches
// from s0 (up and down). *error, when given, receives the remaining end-to-goal distance. `ends`,
// when given for this chain, serves the chain-end evaluations (same results, less work).
double approach_by_bend(double* error, const std::vector<Work>& chain, const vk_3dla::vec3& goal,
                        double step, double tolerance, double s_min, double s_max, double s0,
                        const c_2items_ik& two_items, const vk_3dla::m33& joint,
                        Chain_ends* ends = nullptr);

// Chooses the joint's twist by `kind` (see IK_kind) and returns the bend fraction. *solved says
// whether a twist was solved; *error is written only then.
double solve_twist(vk_3dla::m33* joint, bool* solved, double* error, const std::vector<Work>& chain,
                   const vk_3dla::vec3& goal, double step, double tolerance, double s_min,
                   double s_max, const c_2items_ik& two_items, IK_kind kind,
                   const vk_3dla::vec3& twist_plane, const vk_3dla::vec2& twist_dir, double s0,
                   double dist_scale, double posture_weight, const vk_3dla::quat& q0,
                   Chain_ends* ends = nullptr);

// Of two twist candidates (each corrected to the twist limit), keeps the one with the lower cost:
// end distance / dist_scale + posture_weight * (change from q0) / 90 deg. Ties (to within
// rounding_tie) go to b.
double pick_twist(vk_3dla::m33* joint, double* error, const std::vector<Work>& chain,
                  const Work& first, const vk_3dla::vec3& goal, double step, double tolerance,
                  double s_min, double s_max, double s0, const c_2items_ik& two_items,
                  double dist_scale, double posture_weight, const vk_3dla::quat& q0,
                  const vk_3dla::m33& a, const vk_3dla::m33& b, Chain_ends* ends = nullptr);

// Cost of placing the joint's Z row on the direction-limit boundary at position u: the joint is
// put on the boundary, its twist solved (or, without a twist solve, `joint_before` is turned
// minimally onto the boundary and twist-limited), the bend approached, and the end distance and
// posture change weighed. All references must outlive the object; `ends`, when set, serves the
// chain-end evaluations of `chain`.
struct Boundary_cost : Func {
  Boundary_cost(const Limit_dir& dir, const std::vector<Work>& chain, const vk_3dla::vec3& goal,
                double step, double tolerance, double s_min, double s_max,
                const c_2items_ik& two_items, IK_kind kind, const vk_3dla::vec3& twist_plane,
                const vk_3dla::vec2& twist_dir, double s0, double dist_scale, double posture_weight,
                const vk_3dla::quat* q0, const vk_3dla::m33* joint_before)
      : dir(dir),
        chain(chain),
        goal(goal),
        step(step),
        tolerance(tolerance),
        s_min(s_min),
        s_max(s_max),
        two_items(two_items),
        kind(kind),
        twist_plane(twist_plane),
        twist_dir(twist_dir),
        s0(s0),
        dist_scale(dist_scale),
        posture_weight(posture_weight),
        q0(q0),
        joint_before(joint_before) {}

  // The cost at u; writes the joint matrix and bend fraction of u when the pointers are given.
  double evaluate(double u, vk_3dla::m33* joint_out, double* s_out) const;

  // As a search function: results go to scratch, only the cost is returned.
  double operator()(double u) override { return evaluate(u, &scratch_joint, &scratch_s); }

  const Limit_dir& dir;
  const std::vector<Work>& chain;
  const vk_3dla::vec3& goal;
  double step;
  double tolerance;
  double s_min;
  double s_max;
  const c_2items_ik& two_items;
  IK_kind kind;
  const vk_3dla::vec3& twist_plane;
  const vk_3dla::vec2& twist_dir;
  double s0;
  double dist_scale;
  double posture_weight;
  const vk_3dla::quat* q0;
  const vk_3dla::m33* joint_before;
  Chain_ends* ends = nullptr;

  vk_3dla::m33 scratch_joint;
  double scratch_s = 0.0;
};

#endif
