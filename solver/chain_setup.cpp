// First half of the chain-level solve: the scene read through the host services, the goal in the
// root's frame, one Work record per joint, the chain's reach and the bend fraction to solve for.
#include "solver/chain_setup.h"
#include "pmath/pmath.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>

#include "solver/chain_end.h"
#include "solver/chain_state.h"
#include "solver/input_record.h"
#include "solver/item_world.h"
#include "solver/minimise.h"
#include "solver/process.h"
#include "solver/scene_services.h"
#include "solver/two_items.h"

using vk_3dla::m33;
using vk_3dla::m44;
using vk_3dla::pi;
using vk_3dla::vec3;

namespace {

using tarsel::item_param;

// Rotation components read from the host below this magnitude count as exactly zero, so that
// rounding noise does not decide how a joint bends.
constexpr double small_angle = 0.0001;
// A rest heading this close to +-180 deg (with zero bank) marks a joint turned back on itself.
constexpr double flip_tolerance = 0.0005;
// Largest turn (rad) of any joint in one step of the bend-fraction searches.
constexpr double max_turn_per_step = 1.0;

vec3 access_param(const LWItemMotionAccess& access, LWItemParam param) {
  LWDVector out = {0.0, 0.0, 0.0};
  access.getParam(param, access.time, out);
  return vec3(out);
}

vec3 without_small(vec3 v) {
  for (int i = 0; i < 3; ++i)
    if (std::fabs(v[i]) < small_angle) v[i] = 0.0;
  return v;
}

vec3 z_row(const m44& t) { return vec3(t.m[2][0], t.m[2][1], t.m[2][2]); }

// ---- Goal -------------------------------------------------------------------------------------

// goal_local = goal world position * inverse(W0), W0 = the root's transform with unit scale and no
// rotation of its own (its pivot rotation and parents as they are).
void find_goal(Chain_state* state, const LWItemMotionAccess& access, LWItemID goal) {
  Chain_setup* setup = &state->setup;
  // The goal moves in most scenes: it is placed afresh, by its position alone.
  const vec3 goal_world = item_world_position(goal, access.time);
  World_memo* w0 = &state->root_frame;
  item_world_from(w0, vec3(1.0), vec3(0.0), access_param(access, LWIP_POSITION), access.item,
                  access.time);
  setup->inv_w0_full = world_inverse(w0);
  setup->inv_w0 = m33(setup->inv_w0_full);
  setup->goal_local = vk_3dla::from_homogeneous(goal_world * setup->inv_w0_full);
  setup->goal_dir = vk_3dla::normalized(setup->goal_local);
}

// ---- Path -------------------------------------------------------------------------------------

// Positions in `items` of the joints from the root to the last item, found by following parent
// links up from the last item. A branching chain lists side branches between them; those are not
// links of the path. When the parents do not lead back to the root through listed items, the list
// is taken as one serial chain.
void path_to_last(std::vector<std::size_t>* path, const std::vector<LWItemID>& items) {
  const std::size_t n = items.size();
  path->clear();
  const auto serial = [&] {
    path->clear();
    for (std::size_t i = 0; i < n; ++i) path->push_back(i);
  };
  if (n <= 2) return serial();

  path->push_back(n - 1);
  std::size_t pos = n - 1;
  while (pos != 0) {
    const LWItemID parent = tarsel::item_info->parent(items[pos]);
    std::size_t j = pos;
    while (j > 0 && items[j - 1] != parent) --j;
    if (j == 0) return serial();  // parent not listed before this item
    pos = j - 1;
    path->push_back(pos);
  }
  std::reverse(path->begin(), path->end());
}

// ---- Work records ----------------------------------------------------------------------------

// Channel, axis and rest bend of joint k from its rest rotation (H, P, B).
void classify_joint(Work* w, const Work* previous) {
  w->flipped = false;
  if (previous == nullptr) {  // the root never bends in the chain-end evaluation
    w->one_channel = true;
    w->channel = 1;
    w->bend_axis = vec3(1.0, 0.0, 0.0);
    w->bend_angle = 0.0;
    return;
  }
  const double h = w->rest_rot.x, p = w->rest_rot.y, b = w->rest_rot.z;
  w->one_channel = true;
  if (h == 0.0 && p == 0.0 && b == 0.0) {
    w->channel = previous->channel;
    w->bend_axis = previous->bend_axis;
    w->bend_angle = 0.0;
  } else if (p == 0.0 && b == 0.0) {
    w->channel = 0;
    w->bend_axis = vec3(0.0, 1.0, 0.0);
    w->bend_angle = h;
  } else if (h == 0.0 && b == 0.0) {
    w->channel = 1;
    w->bend_axis = vec3(1.0, 0.0, 0.0);
    w->bend_angle = p;
  } else if (h == 0.0 && p == 0.0) {
    w->channel = 2;
    w->bend_axis = vec3(0.0, 0.0, 1.0);
    w->bend_angle = b;
  } else if (b == 0.0 && std::fabs(std::fabs(h) - pi) < flip_tolerance) {
    // Turned back by its heading: bends by pitch, measured from the mirrored side.
    w->flipped = true;
    w->channel = 1;
    w->bend_axis = vec3(1.0, 0.0, 0.0);
    w->bend_angle = (p > 0.0 ? pi : -pi) - p;
  } else {
    w->one_channel = false;
    vk_3dla::axis_angle(vk_3dla::m33_from_hpb(w->rest_rot), w->bend_axis, w->bend_angle);
    // The dominant axis component names the channel; ties go to the later component.
    const double ax = std::fabs(w->bend_axis.x), ay = std::fabs(w->bend_axis.y),
                 az = std::fabs(w->bend_axis.z);
    w->channel = (ax > ay && ax > az) ? 1 : (ay >= ax && ay > az) ? 0 : 2;
  }
}

unsigned channel_bit(int channel) { return channel == 0 ? 1u : channel == 1 ? 2u : 4u; }

// The bend fraction below which joint w would leave its channel's limits when the chain
// straightens: |v / bend| for a limit v on the bend's side of 0, else 0; no bound (the largest
// double) for a limited joint that does not bend. A limited bank channel counts like heading and
// pitch, as the chain-end evaluation clamps it too.
double joint_fraction_bound(const Work& w) {
  if (!(w.limit_flags & channel_bit(w.channel))) return 0.0;
  if (w.bend_angle == 0.0) return DBL_MAX;
  const bool positive = w.bend_angle >= 0.0;
  const double v = positive ? w.limit_min[w.channel] : w.limit_max[w.channel];
  const bool same_side = positive ? v > 0.0 : v < 0.0;
  return same_side ? std::fabs(v / w.bend_angle) : 0.0;
}

// ---- Chain inputs ------------------------------------------------------------------------------

// Everything the Work records of the path are made of, read from the scene into *out: the options
// that shape them, then per joint its item, position, pivot, scaling, pivot rotation, rest
// rotation, own rotation (with Mix With FK on) and rotation limits, then what the chain's end
// point is measured from. Returns whether they differ from what *out held.
bool read_chain_inputs(std::vector<double>* out, const Chain_setup& setup,
                       const LWItemMotionAccess& access, const tarsel::Chain_options& options,
                       const std::vector<LWItemID>& items) {
  const LWItemInfo& info = *tarsel::item_info;
  const LWBoneInfo& bones = *tarsel::bone_info;
  const LWTime time = access.time;
  const std::size_t n = setup.result_index.size();
  Input_writer in{out};
  in.put(static_cast<double>(n));
  in.put(options.mix_with_fk != 0 ? 1.0 : 0.0);
  in.put_id(options.goal_position);
  for (std::size_t k = 0; k < n; ++k) {
    const LWItemID item = items[setup.result_index[k]];
    in.put_id(item);
    in.put(k == 0 ? vec3(0.0) : item_param(item, LWIP_POSITION, time));
    in.put(item_param(item, LWIP_PIVOT, time));
    in.put(k == 0 ? access_param(access, LWIP_SCALING) : item_param(item, LWIP_SCALING, time));
    in.put(item_param(item, LWIP_PIVOT_ROT, time));
    LWDVector rest = {0.0, 0.0, 0.0};
    bones.restParam(item, LWIP_ROTATION, rest);
    in.put(rest);
    in.put(options.mix_with_fk != 0 ? item_param(item, LWIP_ROTATION, time) : vec3(0.0));
    LWDVector lo = {0.0, 0.0, 0.0}, hi = {0.0, 0.0, 0.0};
    in.put(static_cast<double>(info.limits(item, LWIP_ROTATION, lo, hi)));
    in.put(lo);
    in.put(hi);
  }
  if (options.goal_position != LWITEM_NULL) {
    const LWItemID holder = info.parent(options.goal_position);
    in.put(item_param(options.goal_position, LWIP_POSITION, time));
    in.put(holder != LWITEM_NULL ? item_param(holder, LWIP_PIVOT, time) : vec3(0.0));
  } else {
    in.put(bones.restLength(items[setup.result_index[n - 1]]));
  }
  return in.finish();
}

// Fills one Work per path joint from the chain's inputs and measures the links: total length, the
// largest arc (each joint's |bend| times the length it carries, i.e. its own link and every later
// one) and s_min.
void build_works(Chain_setup* setup, std::vector<double>* link_length,
                 const std::vector<double>& inputs) {
  Input_reader in{inputs.data()};
  const std::size_t n = static_cast<std::size_t>(in.get());
  const bool mix_with_fk = in.get() != 0.0;
  const bool goal_position = in.get_id() != LWITEM_NULL;
  std::vector<Work>& works = setup->works;
  works.assign(n, Work());
  vec3 pivot_of_previous(0.0);

  link_length->assign(n, 0.0);
  double scale_product = 1.0;
  double s_min = DBL_MAX;
  vec3 last_pivot(0.0);
  for (std::size_t k = 0; k < n; ++k) {
    Work& w = works[k];
    w.item = in.get_id();
    const vec3 position = in.get3();
    const vec3 pivot = in.get3();
    // offset_k = position of item k - pivot of item k - 1 (parent frame); 0 for the root.
    w.offset = k == 0 ? vec3(0.0) : position - pivot_of_previous;
    pivot_of_previous = pivot;
    last_pivot = pivot;
    w.scale = in.get3();
    w.pivot_rot = in.get3();
    w.pivot_mat = vk_3dla::m33_from_hpb(w.pivot_rot);
    w.rest_rot = without_small(in.get3());
    const vec3 fk = in.get3();
    w.fk_rot = mix_with_fk ? without_small(fk) : vec3(0.0);
    w.limit_flags = static_cast<unsigned>(in.get());
    w.limit_min = in.get3();
    w.limit_max = in.get3();
  }
  vec3 last_end(0.0);
  if (goal_position) {
    const vec3 position = in.get3();
    last_end = position - in.get3();
  } else {
    last_end = vec3(0.0, 0.0, in.get()) - last_pivot;
  }

  for (std::size_t k = 0; k < n; ++k) {
    Work& w = works[k];
    scale_product *= std::max({std::fabs(w.scale.x), std::fabs(w.scale.y), std::fabs(w.scale.z)});
    classify_joint(&w, k == 0 ? nullptr : &works[k - 1]);
    w.end_point = k + 1 < n ? works[k + 1].offset : last_end;
    (*link_length)[k] = vk_3dla::abs(w.end_point) * scale_product;
    setup->total_length += (*link_length)[k];
    if (w.flipped) {
      const double c = w.rest_rot.y > 0.0 ? pi : -pi;
      const double old_min = w.limit_min.y;
      w.limit_min.y = c - w.limit_max.y;
      w.limit_max.y = c - old_min;
    }
    if (k >= 1) s_min = std::min(s_min, joint_fraction_bound(w));
  }
  setup->s_min = s_min == DBL_MAX ? 0.0 : s_min;

  // Measured with the length a joint carries, a joint with a tiny link of its own that swings the
  // rest of the chain still counts for the whole swing; the search step stays meaningful.
  double carried = 0.0;
  for (std::size_t k = n; k-- > 1;) {
    carried += (*link_length)[k];
    setup->largest_arc = std::max(setup->largest_arc, std::fabs(works[k].bend_angle) * carried);
  }
}

// length tolerance = total * 1e-4; step = total * 0.01 / largest arc (1 when that is 0 or not a
// usable number); fraction tolerance = step * 1e-3.
void set_search_measures(Chain_setup* setup) {
  setup->length_tolerance = setup->total_length * 0.0001;
  double step = setup->largest_arc > 0.0 ? setup->total_length * 0.01 / setup->largest_arc : 0.0;
  if (!(step > 0.0) || !std::isfinite(step)) step = 1.0;
  // When no bending joint carries even a hundredth of the chain, a step that moves the end by a
  // hundredth of the chain would turn joints by many turns and the searches would alias; a step
  // turns no joint by more than a radian.
  double largest_bend = 0.0;
  for (std::size_t k = 1; k < setup->works.size(); ++k) {
    largest_bend = std::max(largest_bend, std::fabs(setup->works[k].bend_angle));
  }
  if (largest_bend > 0.0) step = std::min(step, max_turn_per_step / largest_bend);
  setup->step = step;
  setup->fraction_tolerance = step * 0.001;
}

// ---- Root limit ---------------------------------------------------------------------------------

// With the Arbitrary Limit switch on, the root's siblings named as limit markers: boundary items
// in the host's child order, and the origin item (the last one named so).
void find_limit_items(Chain_setup* setup, LWItemID root) {
  const LWItemInfo& info = *tarsel::item_info;
  const LWItemID parent = info.parent(root);
  for (LWItemID c = info.firstChild(parent); c != LWITEM_NULL; c = info.nextChild(parent, c)) {
    if (c == root) continue;
    const char* name = info.name(c);
    if (is_limit_item_name(name)) setup->limit_items.push_back(c);
    if (is_limit_origin_name(name)) setup->limit_origin = c;
  }
}

// Everything the root limit is built from, into *out: the root's limits, the root frame, and the
// world Z axes of the limit items and the origin (those also into *z_world and *origin_z).
// Returns whether they differ from what *out held.
bool read_limit_inputs(std::vector<double>* out, std::vector<vec3>* z_world, vec3* origin_z,
                       std::vector<World_memo>* worlds, const Chain_setup& setup, LWTime time) {
  z_world->clear();
  // One kept world transform per limit item, the origin's last.
  if (worlds->size() != setup.limit_items.size() + 1) worlds->resize(setup.limit_items.size() + 1);
  Input_writer in{out};
  const Work& root = setup.works[0];
  in.put(static_cast<double>(root.limit_flags));
  in.put(root.limit_min);
  in.put(root.limit_max);
  for (int r = 0; r < 3; ++r) in.put(setup.inv_w0.row(r));
  in.put(static_cast<double>(setup.limit_items.size()));
  for (std::size_t i = 0; i < setup.limit_items.size(); ++i) {
    z_world->push_back(z_row(item_world(&(*worlds)[i], setup.limit_items[i], time)));
    in.put(z_world->back());
  }
  *origin_z = vec3(0.0);
  in.put(setup.limit_origin != LWITEM_NULL ? 1.0 : 0.0);
  if (setup.limit_origin != LWITEM_NULL)
    *origin_z = z_row(item_world(&worlds->back(), setup.limit_origin, time));
  in.put(*origin_z);
  return in.finish();
}

// ---- Reach ------------------------------------------------------------------------------------

// The chain end's distance from the root as a function of the bend fraction, signed so that the
// search for a minimum finds the nearest (+1) or the farthest (-1) reach.
struct End_distance : Func {
  End_distance(Chain_ends* ends, double sign) : ends(ends), sign(sign) {}
  double operator()(double s) override { return sign * vk_3dla::abs((*ends)(s)); }
  Chain_ends* ends;
  double sign;
};

// Range [s_lo, s_hi] of the bend fraction with the shortest and longest reach: closed form for
// two items, else a step search for the farthest reach from s_min and then for the nearest from
// there.
void measure_reach(Chain_setup* setup, Chain_ends* ends) {
  setup->s_lo = setup->s_hi = setup->s_min;
  if (setup->works.size() < 2 || !(setup->largest_arc > 0.0)) return;
  setup->range_measured = true;
  two_item_setup(&setup->s_lo, &setup->s_hi, &setup->shortest, &setup->s_near, &setup->longest,
                 &setup->s_far, setup->works, setup->s_min, &setup->two_items);
  if (setup->two_items.valid) return;

  End_distance farther(ends, -1.0);
  setup->longest =
      -step_search(&setup->s_far, farther, setup->step, setup->s_min, setup->fraction_tolerance);
  End_distance nearer(ends, 1.0);
  setup->shortest =
      step_search(&setup->s_near, nearer, setup->step, setup->s_far, setup->fraction_tolerance);
  if (setup->s_far != setup->s_min) {
    const double at_min = vk_3dla::abs((*ends)(setup->s_min));
    if (at_min < setup->shortest) {
      setup->s_near = setup->s_min;
      setup->shortest = at_min;
    }
  }
  setup->s_lo = std::min(setup->s_near, setup->s_far);
  setup->s_hi = std::max(setup->s_near, setup->s_far);
}

// Most samples of the deep reach profile: bounds its memory and its one-off cost on a chain whose
// search step is tiny against its bend range.
constexpr std::size_t deep_sample_limit = 4096;

// The bend range ends where the most bent joint has folded back on itself (half a turn); past
// that the chain only repeats its poses.
double bend_range_top(const std::vector<Work>& works) {
  double largest = 0.0;
  for (std::size_t k = 1; k < works.size(); ++k) {
    largest = std::max(largest, std::fabs(works[k].bend_angle));
  }
  return largest > 0.0 ? pi / largest : 0.0;
}

// The end's distance sampled from s_hi to the top of the bend range at about the search step:
// where the reach search stops at its first minimum, a long chain that curls on itself comes
// nearer its root again further on.
void measure_deep_reach(Chain_state* state) {
  const Chain_setup& setup = state->setup;
  state->deep_measured = true;
  state->deep_reach.clear();
  state->deep_first = setup.s_hi;
  state->deep_spacing = 0.0;
  const double span = bend_range_top(setup.works) - setup.s_hi;
  if (!(span > setup.step) || !std::isfinite(span)) return;
  const std::size_t n =
      std::min(deep_sample_limit, static_cast<std::size_t>(std::ceil(span / setup.step)));
  state->deep_spacing = span / static_cast<double>(n);
  for (std::size_t i = 0; i <= n; ++i) {
    state->deep_reach.push_back(vk_3dla::abs(
        state->ends(state->deep_first + state->deep_spacing * static_cast<double>(i))));
  }
}

// |chain end| less a distance: zero where the end lies at that distance from the root.
struct Distance_miss : Func {
  Distance_miss(Chain_ends* ends, double distance) : ends(ends), distance(distance) {}
  double operator()(double s) override { return std::fabs(vk_3dla::abs((*ends)(s)) - distance); }
  Chain_ends* ends;
  double distance;
};

// For a goal nearer the root than the first reach minimum: the first fraction past s_hi whose end
// lies at the goal's distance, found by bisection between the deep samples on either side of it
// until the end is within a hundredth of the length tolerance of that distance. When no deeper
// bend comes that near, the fraction nearest to it around the best sample. False when no deeper
// bend does better than the first minimum; else *s_out is the fraction and *s_top the top of the
// range searched.
bool deep_fraction(double* s_out, double* s_top, Chain_state* state, double distance) {
  if (!state->deep_measured) measure_deep_reach(state);
  const std::vector<double>& reach = state->deep_reach;
  if (reach.size() < 2) return false;
  const Chain_setup& setup = state->setup;
  const auto at = [&](std::size_t i) {
    return state->deep_first + state->deep_spacing * static_cast<double>(i);
  };
  *s_top = at(reach.size() - 1);
  const double close_enough = setup.length_tolerance * 0.01;
  for (std::size_t i = 1; i < reach.size(); ++i) {
    if (reach[i] > distance) continue;
    double far = at(i - 1);  // end too far from the root
    double near = at(i);     // end too near
    for (int k = 0; k < bisection_limit; ++k) {
      const double mid = (near + far) / 2.0;
      if (mid == near || mid == far) break;
      const double d = vk_3dla::abs(state->ends(mid));
      if (d < distance) {
        near = mid;
      } else {
        far = mid;
        if (d - distance <= close_enough) break;
      }
    }
    *s_out = far;
    return true;
  }
  std::size_t best = 0;
  for (std::size_t i = 1; i < reach.size(); ++i)
    if (reach[i] < reach[best]) best = i;
  if (best == 0 || !(reach[best] < setup.shortest)) return false;
  *s_out = at(best);
  if (best + 1 < reach.size()) {
    Distance_miss miss(&state->ends, distance);
    golden_search(s_out, miss, at(best - 1), at(best), at(best + 1), setup.fraction_tolerance);
  }
  return true;
}

// A chain whose reach varies by less than the length tolerance cannot usefully change its length:
// inverting the goal distance through its nearly flat reach would swing joints wildly.
bool nearly_rigid(const Chain_setup& setup) {
  return setup.range_measured && setup.longest - setup.shortest < setup.length_tolerance;
}

// s_sol: the farthest reach (or the stretch beyond it) for a goal out of reach, the nearest for one
// too close (or the deeper bend that meets it), else the fraction whose end lies at the goal's
// distance.
void choose_fraction(Chain_state* state, bool excess_stretch) {
  Chain_setup* setup = &state->setup;
  Chain_ends* ends = &state->ends;
  setup->s_sol = 0.0;
  setup->s_max = setup->s_hi;
  if (!setup->range_measured) return;
  if (nearly_rigid(*setup)) {
    setup->s_sol = setup->s_near;
    return;
  }
  const double distance = vk_3dla::abs(setup->goal_local);
  if (distance >= setup->longest) {
    setup->s_sol = setup->s_far;
    if (excess_stretch && setup->s_min != setup->s_lo) {
      double k = setup->total_length / 4.0;
      if (k == 0.0) k = 1.0;
      // s_lo + (s_min - s_lo) * excess / (total / 4), not below s_min
      const double s = setup->s_lo + (setup->s_min - setup->s_lo) * (distance - setup->longest) / k;
      setup->s_sol = s < setup->s_min ? setup->s_min : s;
    }
  } else if (distance <= setup->shortest) {
    setup->s_sol = setup->s_near;
    // The first minimum misses the goal: a longer chain may curl nearer further on. Only a root
    // free to aim can put that deeper bend's end on the goal; a limited one keeps the first.
    double s = 0.0, top = 0.0;
    if (distance < setup->shortest - setup->length_tolerance && !setup->two_items.valid &&
        state->limit.marks.empty() && deep_fraction(&s, &top, state, distance)) {
      setup->s_sol = s;
      setup->s_max = top;
    }
  } else {
    setup->s_sol = fraction_for_distance(setup->s_min, setup->s_lo, setup->s_hi, setup->s_near,
                                         setup->s_far, setup->fraction_tolerance, distance,
                                         setup->two_items, setup->works, ends);
  }
}

// Soft Reach and Max Stretch, both off when at their defaults (nothing is changed then). The
// soft band b (Soft Reach times the chain's length, at most the chain's range of reach) eases the
// goal's distance d above L - b, L the longest reach, to u = L - b + b (1 - exp(-(d - L + b) / b)):
// continuous with a continuous first derivative, monotone, reaching L only as d goes to infinity,
// and u lags d by at most b / e for a goal within reach. With Max Stretch F the chain is scaled by
// f = d / min(u, L), at most F, so that its end meets the goal; the unscaled chain is solved for
// min(u, d / f). The goal is moved along its own line to that distance, so the chain still points
// at it. Returns whether the chain stretches short of F (Excess Stretch then has nothing to act
// on: the goal is within the stretched reach). Depends on the goal and the options of this
// evaluation alone and keeps nothing, so neither option is among the kept set-up's inputs.
bool ease_reach(Chain_setup* setup, const tarsel::Chain_options& options, Chain_ends* ends) {
  setup->stretch = 1.0;
  setup->eased = setup->stretch_capped = false;
  const bool soft = options.soft_reach > 0.0;
  const bool stretchy = options.max_stretch > 1.0;
  if (!soft && !stretchy) return false;
  const double d = vk_3dla::abs(setup->goal_local);
  if (!(d > 0.0) || !std::isfinite(d) || setup->works.empty()) return false;

  const bool adjustable = setup->range_measured && !nearly_rigid(*setup);
  double longest = setup->longest, shortest = setup->shortest;
  if (!adjustable) {  // the reach cannot change: only stretching applies
    longest = shortest = vk_3dla::abs((*ends)(setup->range_measured ? setup->s_near : 0.0));
  }
  const double fraction = std::min(options.soft_reach, tarsel::soft_reach_max);
  const double band =
      soft && adjustable ? std::min(fraction * setup->total_length, longest - shortest) : 0.0;
  double u = d;
  const double start = longest - band;
  if (band > 0.0 && d > start) u = start - band * pmath::expm1(-(d - start) / band);

  const double most = std::min(options.max_stretch, tarsel::max_stretch_max);
  const double reach = std::min(u, longest);
  double f = 1.0;
  if (stretchy && reach > 0.0 && d > reach) f = std::min(d / reach, most);
  // Stretching short of F, a rigid-reach goal is solved at the longest reach itself.
  const double target = f > 1.0 && f < most && u >= longest ? longest : std::min(u, d / f);
  setup->stretch = f;
  setup->eased = band > 0.0 && d > start && !(f > 1.0 && f < most);  // a lag the stretch leaves
  setup->stretch_capped = stretchy && f == most && d > most * reach;
  if (target != d) setup->goal_local = setup->goal_dir * target;
  return f > 1.0 && f < most;
}

// The joint solve's twist mode: by the chain's plane, or aligning a direction when the chain
// cannot change its length.
void choose_kind(Chain_setup* setup) {
  const bool fixed_length =
      (setup->s_min == setup->s_lo && setup->s_lo == setup->s_hi) || nearly_rigid(*setup);
  setup->kind = fixed_length ? IK_align_dir : static_cast<IK_kind>(setup->works_plane_kind);
}

// The set-up's goal-independent measures back at their defaults, before they are worked out anew.
void forget_measures(Chain_setup* setup) {
  Chain_setup fresh;
  setup->total_length = fresh.total_length;
  setup->largest_arc = fresh.largest_arc;
  setup->length_tolerance = fresh.length_tolerance;
  setup->step = fresh.step;
  setup->fraction_tolerance = fresh.fraction_tolerance;
  setup->s_min = fresh.s_min;
  setup->s_lo = fresh.s_lo;
  setup->s_hi = fresh.s_hi;
  setup->s_near = fresh.s_near;
  setup->s_far = fresh.s_far;
  setup->shortest = fresh.shortest;
  setup->longest = fresh.longest;
  setup->range_measured = fresh.range_measured;
  setup->two_items = fresh.two_items;
}

}  // namespace

int plane_kind(const std::vector<Work>& works, bool ignore_fk) {
  int result = 1;
  bool bending_seen = false;
  const std::size_t n = works.size();
  for (std::size_t k = 1; k < n; ++k) {
    const Work& w = works[k];
    vec3 r = ignore_fk ? vec3(0.0) : w.fk_rot;
    if (w.flipped) r.x = r.y = 0.0;
    if (!w.one_channel) return -1;
    const int a = (w.channel + 1) % 3, b = (w.channel + 2) % 3;
    if (r[a] != 0.0 || r[b] != 0.0) {
      // Only the last joint may carry an extra turn, and only one that keeps its bending plane.
      if (k + 1 < n) return -1;
      const bool kept = (w.channel == 0 && r.y == 0.0) || (w.channel == 1 && r.x == 0.0);
      if (!kept) return -1;
    }
    if (w.pivot_rot[a] != 0.0 || w.pivot_rot[b] != 0.0) return -1;
    if (w.bend_angle != 0.0) {
      const int d = w.channel != 0 ? 1 : 0;
      if (!bending_seen) {
        result = d;
        bending_seen = true;
      } else if (d != result) {
        return -1;
      }
    }
  }
  return result;
}

bool is_limit_item_name(const char* name) {
  return name != nullptr && std::strlen(name) >= 12 && std::strstr(name, "for-ik-limit") != nullptr;
}

bool is_limit_origin_name(const char* name) {
  return name != nullptr && std::strlen(name) >= 12 && std::strstr(name, "ik-limit-org") != nullptr;
}

void set_up_chain(Chain_state* state, const tarsel::Chain_options& options,
                  const LWItemMotionAccess& access, const std::vector<LWItemID>& items,
                  LWItemID goal, int arbitrary_limit) {
  Chain_setup* setup = &state->setup;
  find_goal(state, access, goal);
  path_to_last(&setup->result_index, items);

  const bool chain_changed =
      read_chain_inputs(&state->chain_inputs, *setup, access, options, items);
  state->ends.begin_solve();
  if (!state->chain_kept || chain_changed) {
    forget_measures(setup);
    build_works(setup, &state->link_length, state->chain_inputs);
    setup->works_plane_kind = plane_kind(setup->works, false);
    set_search_measures(setup);
    state->ends.reset();  // the searches below and the solve revisit fractions
    measure_reach(setup, &state->ends);
    state->deep_measured = false;
    state->chain_kept = true;
    ++state->chain_builds;
  }

  setup->limit_items.clear();
  setup->limit_origin = LWITEM_NULL;
  if (arbitrary_limit != 0) find_limit_items(setup, setup->works[0].item);
  vec3 origin_z(0.0);
  const bool limit_changed =
      read_limit_inputs(&state->limit_inputs, &state->limit_z_world, &origin_z,
                        &state->limit_worlds, *setup, access.time);
  if (!state->limit_kept || limit_changed) {
    build_root_limit(&state->limit, setup->works[0], setup->inv_w0, state->limit_z_world,
                     setup->limit_origin != LWITEM_NULL ? &origin_z : nullptr,
                     &state->limit_scratch);
    state->limit_kept = true;
    ++state->limit_builds;
  }

  const bool stretching = ease_reach(setup, options, &state->ends);
  choose_fraction(state, options.excess_stretch != 0 && !stretching);
  choose_kind(setup);
}

void set_up_chain(Chain_setup* setup, Root_limit* limit, const tarsel::Chain_options& options,
                  const LWItemMotionAccess& access, const std::vector<LWItemID>& items,
                  LWItemID goal, int arbitrary_limit) {
  Chain_state state;
  set_up_chain(&state, options, access, items, goal, arbitrary_limit);
  *setup = std::move(state.setup);
  *limit = state.limit;
}
