// The joint solve of the chain root: applies the twist target, tests the root's direction limit
// (a spline cone or a plane pair) and, when the limit is violated, places the root on the limit
// boundary where the chain's end comes nearest the goal with the least change of posture.
#ifndef TARSEL_SOLVER_JOINT_SOLVE_H
#define TARSEL_SOLVER_JOINT_SOLVE_H

#include <vector>

#include "la3d/vk_3dla.h"
#include "solver/chain_end.h"
#include "solver/records.h"

// Settles the root's rotation and the bend of the rest of the chain.
//
// In:  *joint: the proposed root rotation, parent frame (d_joint * joint = d_parent).
//      works: the chain from the root (element 0) to the end. goal: parent frame.
//      twist_axis, twist_ref: joint frame; twist_target: parent frame (read when has_twist_target).
//      step, tolerance, s_min, s_max: start step, tolerance and range of the bend-fraction search.
//      two_items: the closed form of a two-item chain (valid only for those). s0: current bend.
//      kind, twist_plane (line a x + b y + c = 0 of the joint's XY plane), twist_dir (joint XY
//      plane), base (orientation used by IK_align_dir when twist_dir is zero): the twist mode.
//      cone_limit: the limit is the spline cone of `knots`, else the plane pair
//      planes[heading_planes ? 0 : 1]. marks, perimeter: boundary marks of the active limit and
//      the span over which their positions repeat. from_limit / to_limit: limit frame <-> parent.
//      dist_scale, posture_weight: weights of the boundary cost (end distance / dist_scale plus
//      posture_weight per half-turn of change). ends: when given for `works`, serves the
//      chain-end evaluations (several solves of one chain may share it).
// Out: *joint: the solved rotation. *angles: every joint's channel angle for the chosen bend.
//
// A cone whose boundary has no length (a single point) holds the root's direction on that point:
// the twist is chosen and the bend approached there, as on any boundary point, without a search.
void process2(vk_3dla::m33* joint, std::vector<double>* angles, const std::vector<Work>& works,
              const vk_3dla::vec3& goal, const vk_3dla::vec3& twist_axis, bool has_twist_target,
              const vk_3dla::vec3& twist_target, const vk_3dla::vec3& twist_ref, double step,
              double tolerance, double s_min, double s_max, const c_2items_ik& two_items, double s0,
              IK_kind kind, const vk_3dla::vec3& twist_plane, const vk_3dla::vec2& twist_dir,
              bool cone_limit, bool heading_planes, const Limit_plane (*planes)[2],
              const std::vector<Limit_work>& knots, const std::vector<D_lim>& marks,
              double perimeter, const vk_3dla::m33& from_limit, const vk_3dla::m33& to_limit,
              double dist_scale, double posture_weight, const vk_3dla::m33& base,
              Chain_ends* ends = nullptr);

// Stages of the joint solve, exposed for the tests.

// Whether the direction w (parent frame) lies outside the cone. A direction exactly on the
// boundary is inside. A knot vector without a piece (fewer than three entries) limits nothing.
bool cone_violated(const vk_3dla::vec3& w, const std::vector<Limit_work>& knots,
                   const vk_3dla::m33& to_limit);

// The point of the cone's boundary nearest to w (parent frame), with its boundary position written
// to *pos. Without a piece: the limit frame's Z axis at position 0.
vk_3dla::vec3 nearest_cone_point(double* pos, const vk_3dla::vec3& w,
                                 const std::vector<Limit_work>& knots,
                                 const vk_3dla::m33& from_limit);

// The point of the plane pair's boundary nearest to w, with its boundary position written to *pos
// (plane 0 covers 0 .. pi, plane 1 pi .. 2 pi). When both planes are equally near, plane 1 wins.
vk_3dla::vec3 nearest_plane_point(double* pos, const vk_3dla::vec3& w, const Limit_plane* pair,
                                  bool heading_planes);

#endif
