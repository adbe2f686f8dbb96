// Second half of the chain-level solve: the root's proposed rotation (twist, then a swing of the
// chain's end onto the goal), the reference directions that steer its twist, the joint solve (and
// its blend with a solve without the twist target), and the bones' results.
#include <cmath>

#include "solver/chain_end.h"
#include "solver/chain_setup.h"
#include "solver/chain_state.h"
#include "solver/item_world.h"
#include "solver/joint_solve.h"
#include "solver/limits.h"
#include "solver/process.h"
#include "solver/scene_services.h"

using vk_3dla::m33;
using vk_3dla::quat;
using vk_3dla::vec2;
using vk_3dla::vec3;

namespace {

using tarsel::item_param;

// The line (a, b, c) in the root's XY plane, a x + b y + c = 0, through the end's trace along the
// chain's bending plane: d = (0, 1) for a chain bending in YZ, (1, 0) otherwise; (1, 0, 0) for a
// chain without a common plane.
vec3 twist_plane_line(IK_kind kind, const vec3& end_root) {
  if (kind == IK_free) return vec3(1.0, 0.0, 0.0);
  const vec2 d = kind == IK_align_y ? vec2(0.0, 1.0) : vec2(1.0, 0.0);
  return vk_3dla::line_through(d, vec2(end_root.x, end_root.y));
}

struct Proposal {
  m33 rotation{1};  // twist about the end's direction, then the swing of the end onto the goal
  m33 base{1};      // the twist alone
};

// R = rot_axis(end, twist bank) * rotation_between(end, goal direction).
Proposal propose_root(const tarsel::Chain_options& options, LWTime time, const vec3& end_root,
                      const vec3& goal_dir) {
  Proposal p;
  if (options.twist != LWITEM_NULL) {
    const double bank = item_param(options.twist, LWIP_ROTATION, time).z;
    p.rotation = p.rotation * vk_3dla::rot_axis(end_root, bank);
  }
  p.base = vk_3dla::m33_from_quat(vk_3dla::quat_from_m33(p.rotation));
  p.rotation = p.rotation * vk_3dla::rotation_between(end_root, goal_dir);
  return p;
}

// +1 or -1 by the rest bend of the first joint that bends.
double bend_sign(const std::vector<Work>& works) {
  for (std::size_t k = 1; k < works.size(); ++k) {
    if (works[k].bend_angle != 0.0) return works[k].bend_angle > 0.0 ? 1.0 : -1.0;
  }
  return 1.0;
}

// The root-frame direction the twist target turns: the bending plane's normal when the end lies in
// the plane through the root's Z axis, else a reference axis carried along the path the chain's end
// takes from its straight pose to s_sol.
vec3 twist_reference(const Chain_setup& setup, const vec3& line, const vec3& end_root) {
  const double sign = bend_sign(setup.works);
  if (setup.kind != IK_free && line.z == 0.0) {
    return setup.kind == IK_align_x ? vec3(0.0, sign, 0.0) : vec3(sign, 0.0, 0.0);
  }
  vec3 v(0.0, 0.0, end_root.z < 0.0 ? -1.0 : 1.0);
  m33 carried(1.0);
  const int k = plane_kind(setup.works, true);
  for (int i = 1; i <= 10; ++i) {
    const double s = (1.0 - 0.1 * i) * setup.s_min + 0.1 * i * setup.s_max;
    if (s >= setup.s_sol) break;
    const vec3 p = chain_end(setup.works, s);
    carried = carried * vk_3dla::rotation_between(v, p);
    v = p;
  }
  carried = carried * vk_3dla::rotation_between(v, end_root);
  return sign * (k == 0 ? carried.row(1) : carried.row(0));
}

struct Twist_target {
  bool item_set = false;  // the options name a twist target item
  bool active = false;    // it acts in this evaluation (effect above 0, not on the goal line)
  bool on_line = false;   // it lies on the line from the root to the goal
  double effect = 1.0;    // its weight, in [0, 1]
  vec3 direction{0.0};    // normalized(target x goal), root frame
};

Twist_target read_twist_target(const tarsel::Chain_options& options, const Chain_setup& setup,
                               LWTime time) {
  Twist_target t;
  if (options.twist_effect != LWITEM_NULL) {
    const double x = item_param(options.twist_effect, LWIP_POSITION, time).x;
    t.effect = x > 1.0 ? 1.0 : x > 0.0 ? x : 0.0;  // not a number counts as no effect
  }
  t.item_set = options.twist_target != LWITEM_NULL;
  if (!t.item_set) return t;
  const vec3 target_world = item_world_position(options.twist_target, time);
  const vec3 target_root = vk_3dla::from_homogeneous(target_world * setup.inv_w0_full);
  double length = 0.0;
  t.direction = vk_3dla::normalized(vk_3dla::cross(target_root, setup.goal_local), length);
  if (length == 0.0) {
    t.effect = 0.0;  // target on the goal line: no plane to turn towards
    t.on_line = true;
  }
  t.active = t.effect > 0.0;
  return t;
}

// Everything the joint solve reads besides the proposed rotation and the twist target switch.
struct Joint_solve_inputs {
  const Chain_setup& setup;
  const Root_limit& limit;
  vec3 end_root;
  vec3 twist_target;
  vec3 twist_ref;
  vec3 line;
  vec2 twist_dir;
  double posture_weight;
  m33 base;
};

void solve_root(m33* joint, std::vector<double>* angles, const Joint_solve_inputs& in,
                bool has_twist_target, Chain_ends* ends) {
  const Chain_setup& s = in.setup;
  const Root_limit& l = in.limit;
  process2(joint, angles, s.works, s.goal_local, in.end_root, has_twist_target, in.twist_target,
           in.twist_ref, s.step, s.fraction_tolerance, s.s_min, s.s_max, s.two_items, s.s_sol,
           s.kind, in.line, in.twist_dir, l.cone_limit, l.heading_limited, l.planes, l.knots,
           l.marks, l.period, l.from_limit, l.to_limit, s.total_length, in.posture_weight, in.base,
           ends);
}

// Keeps the blended root inside its direction limit. Each solve ends inside, but the blend of two
// rotations inside a limit that is not convex (a wedge of heading limits, a cone with a dent) can
// point outside: then the root's Z row is turned onto the nearest boundary point by the smallest
// rotation, as the joint solve does before its boundary search.
void keep_inside_limit(m33* root, const Work& root_work, const Root_limit& limit) {
  const vec3 w = root->row(2);
  double pos = 0.0;
  vec3 nearest;
  if (limit.cone_limit) {
    if (!cone_violated(w, limit.knots, limit.to_limit)) return;
    nearest = nearest_cone_point(&pos, w, limit.knots, limit.from_limit);
  } else {
    if (!(heading_excess(w, root_work) > 0.0 || pitch_excess(w, root_work) > 0.0)) return;
    nearest = nearest_plane_point(&pos, w, limit.planes[limit.heading_limited ? 0 : 1],
                                  limit.heading_limited);
  }
  *root = *root * vk_3dla::rotation_between(w, nearest);
}

// A bone's host rotation for its solved channel angle a.
vec3 result_hpb(const Work& w, double a) {
  if (!w.one_channel) return vk_3dla::hpb_from_m33(vk_3dla::rot_axis(w.bend_axis, a));
  vec3 hpb = w.fk_rot;
  hpb[w.channel] = a;
  if (w.flipped) hpb.x = w.rest_rot.x;
  return hpb;
}

void write_results(std::vector<Result>* results, const Chain_setup& setup,
                   const std::vector<double>& angles, std::vector<char>* on_path) {
  on_path->assign(results->size(), 0);
  for (std::size_t k = 1; k < setup.works.size() && k < angles.size(); ++k) {
    const std::size_t i = setup.result_index[k];
    if (i >= results->size()) continue;
    (*results)[i].hpb = result_hpb(setup.works[k], angles[k]);
    (*on_path)[i] = 1;
  }
  // Side branches are not part of the solved path; their bones keep the host's rotation.
  for (std::size_t i = 1; i < results->size(); ++i) {
    if (!(*on_path)[i]) (*results)[i].weight = 0.0;
  }
}

// Which of the root's direction limits hold the solved root: the proposed direction was outside
// the limit, or the solved one lies on its boundary (within the solver's angle tolerance).
unsigned root_limits_acted(const m33& proposed, const m33& solved, const Work& root_work,
                           const Root_limit& limit) {
  const double on_boundary = -1e-6;
  const vec3 p = proposed.row(2), w = solved.row(2);
  if (limit.cone_limit) {
    return cone_violated(p, limit.knots, limit.to_limit) ? TARSEL_LIMIT_CONE : 0u;
  }
  unsigned acted = 0;
  if ((root_work.limit_flags & 1u) &&
      (heading_excess(p, root_work) > 0.0 || heading_excess(w, root_work) > on_boundary))
    acted |= TARSEL_LIMIT_HEADING;
  if ((root_work.limit_flags & 2u) &&
      (pitch_excess(p, root_work) > 0.0 || pitch_excess(w, root_work) > on_boundary))
    acted |= TARSEL_LIMIT_PITCH;
  return acted;
}

// -1 / +1 when the joint's solved angle sits on its lower / upper limit of its bending channel.
signed char joint_clamp(const Work& w, double a) {
  if (!w.one_channel || !(w.limit_flags & (1u << w.channel))) return 0;
  if (!(a > w.limit_min[w.channel])) return -1;
  if (!(a < w.limit_max[w.channel])) return 1;
  return 0;
}

// What the solve did, for a host that offers the diagnostics service. Reads, never writes, the
// solver's state.
void fill_report(TarselChainReport* report, const Chain_setup& setup, const Root_limit& limit,
                 const Twist_target& target, const m33& proposed, const m33& root,
                 const std::vector<double>& angles) {
  report->reach_measured = setup.range_measured ? 1 : 0;
  report->shortest = setup.shortest;
  report->longest = setup.longest;
  report->length_tolerance = setup.length_tolerance;
  report->bend_fraction = setup.s_sol;
  report->stretch = setup.stretch;
  report->eased = setup.eased ? 1 : 0;
  report->stretch_capped = setup.stretch_capped ? 1 : 0;
  report->goal_distance_root = vk_3dla::abs(setup.goal_local);
  report->root_limits =
      setup.works.empty() ? 0u : root_limits_acted(proposed, root, setup.works[0], limit);
  report->twist_target = !target.item_set ? TARSEL_TWIST_NONE
                         : target.active  ? TARSEL_TWIST_ACTED
                         : target.on_line ? TARSEL_TWIST_ON_LINE
                                          : TARSEL_TWIST_NO_EFFECT;
  report->twist_effect = target.effect;
  report->joint_count = 0;
  for (std::size_t k = 1; k < setup.works.size() && k < angles.size(); ++k) {
    if (report->joint_count >= TARSEL_REPORT_JOINTS) break;
    const Work& w = setup.works[k];
    const int j = report->joint_count++;
    report->joint_item[j] = w.item;
    report->joint_clamp[j] = joint_clamp(w, angles[k]);
    report->joint_channel[j] = w.one_channel ? w.channel : -1;
  }
}

}  // namespace

m33 solve_chain(std::vector<Result>* results, const tarsel::Chain_options& options,
                const LWItemMotionAccess& access, Chain_state* state, TarselChainReport* report) {
  const Chain_setup& setup = state->setup;
  const Root_limit& limit = state->limit;
  const vec3 end_root = state->ends.end_without_growing(setup.s_sol);
  const vec3 line = twist_plane_line(setup.kind, end_root);
  vec2 twist_dir(end_root.x, end_root.y);
  twist_dir.normalize();

  const Proposal proposal = propose_root(options, access.time, end_root, setup.goal_dir);
  const Twist_target target = read_twist_target(options, setup, access.time);
  const double posture_weight = options.posture_weight >= 0.0 ? options.posture_weight : 0.0;

  const Joint_solve_inputs inputs{
      setup, limit,     end_root,       target.direction, twist_reference(setup, line, end_root),
      line,  twist_dir, posture_weight, proposal.base};

  m33 root = proposal.rotation;
  std::vector<double>& angles = state->angles;
  Chain_ends* ends = &state->ends;  // shared by both solves of a partial twist target
  solve_root(&root, &angles, inputs, target.active, ends);

  const double w = target.effect;
  if (target.item_set && w > 0.0 && w < 1.0) {
    // A partial twist target: blend with the solve that ignores it, joint by joint.
    m33 root_free = proposal.rotation;
    std::vector<double>& angles_free = state->angles_free;
    solve_root(&root_free, &angles_free, inputs, false, ends);
    for (std::size_t k = 1; k < angles.size() && k < angles_free.size(); ++k) {
      angles[k] = w * angles[k] + (1.0 - w) * angles_free[k];
    }
    root = vk_3dla::m33_from_quat(
        vk_3dla::slerp(vk_3dla::quat_from_m33(root_free), vk_3dla::quat_from_m33(root), w));
    if (!setup.works.empty()) keep_inside_limit(&root, setup.works[0], limit);
  }

  write_results(results, setup, angles, &state->on_path);
  if (report != nullptr) fill_report(report, setup, limit, target, proposal.rotation, root, angles);
  return root;
}

m33 process(std::vector<Result>* results, tarsel::Chain_options* instance,
            const LWItemMotionAccess* access, const std::vector<LWItemID>& items, LWItemID goal,
            int arbitrary_limit, Chain_state* state, TarselChainReport* report) {
  if (access == nullptr) return m33(1.0);
  if (state != nullptr) {
    state->setup.stretch = 1.0;
    state->setup.eased = state->setup.stretch_capped = false;
  }
  if (results == nullptr || instance == nullptr || items.empty() || tarsel::item_info == nullptr ||
      tarsel::bone_info == nullptr) {
    // Nothing to solve with: the root keeps the rotation the host gave it.
    LWDVector current = {0.0, 0.0, 0.0};
    access->getParam(LWIP_ROTATION, access->time, current);
    if (report != nullptr) report->unsolved = TARSEL_NO_SCENE;
    return vk_3dla::m33_from_hpb(vec3(current));
  }
  if (!(instance->posture_weight >= 0.0)) instance->posture_weight = 0.0;
  if (state == nullptr) {
    Chain_state fresh;
    set_up_chain(&fresh, *instance, *access, items, goal, arbitrary_limit);
    return solve_chain(results, *instance, *access, &fresh, report);
  }
  set_up_chain(state, *instance, *access, items, goal, arbitrary_limit);
  return solve_chain(results, *instance, *access, state, report);
}
