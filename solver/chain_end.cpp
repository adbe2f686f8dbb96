#include "solver/chain_end.h"

#include <cmath>

using vk_3dla::m33;
using vk_3dla::pi;
using vk_3dla::vec3;

namespace {

// Row vector times rot_x(a), rot_y(a), rot_z(a), with the turn's cosine and sine given. Turning by
// exactly 0 is skipped: it would leave the vector unchanged anyway.
inline void turn_x(vec3& p, const Turn& t) {
  if (t.none) return;
  double y = p.y * t.c - p.z * t.s;
  p.z = p.y * t.s + p.z * t.c;
  p.y = y;
}

inline void turn_y(vec3& p, const Turn& t) {
  if (t.none) return;
  double x = p.x * t.c + p.z * t.s;
  p.z = p.z * t.c - p.x * t.s;
  p.x = x;
}

inline void turn_z(vec3& p, const Turn& t) {
  if (t.none) return;
  double x = p.x * t.c - p.y * t.s;
  p.y = p.x * t.s + p.y * t.c;
  p.x = x;
}

inline double clamped_angle(double theta, const Work& w) {
  unsigned bit = w.channel == 1 ? 2u : w.channel == 2 ? 4u : 1u;
  if (w.limit_flags & bit) {
    if (!(theta > w.limit_min[w.channel])) theta = w.limit_min[w.channel];
    if (!(theta < w.limit_max[w.channel])) theta = w.limit_max[w.channel];
  }
  if (w.flipped) return w.rest_rot.y > 0.0 ? pi - theta : -pi - theta;
  return theta;
}

// The turn by theta, taken from the previous joint's when the angle is the same (a common rest
// pose bends every joint alike). A zero is always worked out afresh: its sign is its sine's.
inline const Turn& bend_turn(double theta, double* last_theta, Turn* last) {
  if (!(theta == *last_theta) || theta == 0.0) {
    *last = turn_of(theta);
    *last_theta = theta;
  }
  return *last;
}

// The root contributes its scale and offset only: the frame of the result is the root's own,
// before its bend and pivot rotation.
inline vec3 into_root(const vec3& p, const Work& root) {
  return vec3(p.x * root.scale.x, p.y * root.scale.y, p.z * root.scale.z) + root.offset;
}

bool positive_zeros(const vec3& v) {
  return !std::signbit(v.x) && !std::signbit(v.y) && !std::signbit(v.z) && v.x == 0.0 &&
         v.y == 0.0 && v.z == 0.0;
}

bool has_negative_zero(const vec3& v) {
  return (v.x == 0.0 && std::signbit(v.x)) || (v.y == 0.0 && std::signbit(v.y)) ||
         (v.z == 0.0 && std::signbit(v.z));
}

inline bool finite(const vec3& v) {
  return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

}  // namespace

double clamp_joint_angle(double theta, const Work& w) { return clamped_angle(theta, w); }

// Each joint's link transform is L_k = [diag(scale_k) * R_k * pivot_k, offset_k], and the chain's
// transform is L_{n-1} * ... * L_0. Carrying the last end point through it from the last joint back
// to the root needs only vector products: p = ((p .* scale_k) * R_k) * pivot_k + offset_k, with
// R_k applied as the plane turns it is made of.
vec3 chain_end(const std::vector<Work>& works, double s) {
  const std::size_t n = works.size();
  vec3 p = works[n - 1].end_point;
  double last_theta = 0.0;
  Turn last = turn_of(0.0);
  for (std::size_t k = n; k-- > 1;) {
    const Work& w = works[k];
    p = vec3(p.x * w.scale.x, p.y * w.scale.y, p.z * w.scale.z);
    const Turn& bend = bend_turn(clamped_angle(s * w.bend_angle, w), &last_theta, &last);
    if (w.flipped) {
      // rot_z(fk bank) * rot_x(theta) * rot_y(rest heading)
      turn_z(p, turn_of(w.fk_rot.z));
      turn_x(p, bend);
      turn_y(p, turn_of(w.rest_rot.x));
    } else if (w.one_channel) {
      // m33_from_hpb(h), h = fk_rot with the channel's angle set to theta: bank first, then
      // pitch, then heading.
      turn_z(p, w.channel == 2 ? bend : turn_of(w.fk_rot.z));
      turn_x(p, w.channel == 1 ? bend : turn_of(w.fk_rot.y));
      turn_y(p, w.channel == 0 ? bend : turn_of(w.fk_rot.x));
    } else {
      p = p * vk_3dla::rot_axis(w.bend_axis, bend.s, bend.c);
    }
    p = p * w.pivot_mat + w.offset;
  }
  return into_root(p, works[0]);
}

void joint_angles(std::vector<double>* out, double s, const std::vector<Work>& works) {
  out->assign(works.size(), 0.0);
  for (std::size_t i = 0; i < works.size(); ++i) {
    (*out)[i] = clamped_angle(s * works[i].bend_angle, works[i]);
  }
}

void Chain_ends::prepare_plans() {
  prepared_ = true;
  plans_.resize(works_.size());
  for (std::size_t k = 1; k < works_.size(); ++k) {
    const Work& w = works_[k];
    Plan& j = plans_[k];
    const unsigned bit = w.channel == 1 ? 2u : w.channel == 2 ? 4u : 1u;
    j.limited = (w.limit_flags & bit) != 0;
    j.lo = w.limit_min[w.channel];
    j.hi = w.limit_max[w.channel];
    j.flipped = w.flipped;
    j.mirror = w.rest_rot.y > 0.0 ? pi : -pi;
    // The plane turns in the order applied (Z, X, Y), the bend's slot left to the evaluation.
    j.bend_slot = w.flipped ? 1 : 2 - w.channel;
    j.turns[0] = turn_of(w.flipped ? w.fk_rot.z : (j.bend_slot == 0 ? 0.0 : w.fk_rot.z));
    j.turns[1] = turn_of(j.bend_slot == 1 ? 0.0 : w.fk_rot.y);
    j.turns[2] = turn_of(w.flipped ? w.rest_rot.x : (j.bend_slot == 2 ? 0.0 : w.fk_rot.x));
    j.unit_scale = w.scale.x == 1.0 && w.scale.y == 1.0 && w.scale.z == 1.0;
    j.identity_pivot = positive_zeros(w.pivot_rot) && !has_negative_zero(w.offset);
    if (!w.flipped && !w.one_channel) {
      j.kind = Plan::free_axis;
    } else if (j.turns[0].none && j.turns[1].none && j.turns[2].none) {
      j.kind = static_cast<Plan::Kind>(Plan::only_z + j.bend_slot);
    } else {
      j.kind = Plan::three_turns;
    }
  }
}

vec3 Chain_ends::evaluate(double s) const {
  const std::size_t n = works_.size();
  vec3 p = works_[n - 1].end_point;
  double last_theta = 0.0;
  Turn last = turn_of(0.0);
  for (std::size_t k = n; k-- > 1;) {
    const Work& w = works_[k];
    const Plan& j = plans_[k];
    if (!j.unit_scale) p = vec3(p.x * w.scale.x, p.y * w.scale.y, p.z * w.scale.z);
    double theta = s * w.bend_angle;
    if (j.limited) {
      if (!(theta > j.lo)) theta = j.lo;
      if (!(theta < j.hi)) theta = j.hi;
    }
    if (j.flipped) theta = j.mirror - theta;
    const Turn& bend = bend_turn(theta, &last_theta, &last);
    switch (j.kind) {
      case Plan::only_z:
        turn_z(p, bend);
        break;
      case Plan::only_x:
        turn_x(p, bend);
        break;
      case Plan::only_y:
        turn_y(p, bend);
        break;
      case Plan::three_turns:
        turn_z(p, j.bend_slot == 0 ? bend : j.turns[0]);
        turn_x(p, j.bend_slot == 1 ? bend : j.turns[1]);
        turn_y(p, j.bend_slot == 2 ? bend : j.turns[2]);
        break;
      case Plan::free_axis:
        p = p * vk_3dla::rot_axis(w.bend_axis, bend.s, bend.c);
        break;
    }
    // The identity's product gives back a finite p up to the sign of a zero component, which the
    // offset's addition then settles the same way.
    p = (j.identity_pivot && finite(p) ? p : p * w.pivot_mat) + w.offset;
  }
  return into_root(p, works_[0]);
}

double Chain_ends::bisection_distance(int step, double s) {
  if (step >= path_steps) return vk_3dla::abs((*this)(s));
  std::uint64_t key;
  std::memcpy(&key, &s, sizeof key);
  Step& at = path_[static_cast<std::size_t>(step)];
  if (step < path_filled_ && at.key == key) return at.distance;
  if (!prepared_) prepare_plans();
  at.key = key;
  at.distance = vk_3dla::abs(evaluate(s));
  // Halving k is asked for only after halving k - 1: the valid steps stay a prefix.
  if (step == path_filled_) path_filled_ = step + 1;
  return at.distance;
}

vec3 Chain_ends::remember(std::uint64_t key, double s) {
  if (!prepared_) {
    // A chain solved in closed form asks for one or two ends: no plans or table for those.
    if (++unprepared_calls_ <= 2) return chain_end(works_, s);
    prepare_plans();
  }
  if (bits_ == 0 || (asked_ > 2 * slots_.size() && bits_ < max_bits)) grow();
  const std::size_t i = slot_of(key);
  used_[i / 64] |= std::uint64_t{1} << (i % 64);
  slots_[i].key = key;
  slots_[i].end = evaluate(s);
  return slots_[i].end;
}

// Twice the slots, the ends kept so far moved over (where two meet in a slot, one is forgotten).
void Chain_ends::grow() {
  std::vector<Slot> old_slots;
  std::vector<std::uint64_t> old_used;
  old_slots.swap(slots_);
  old_used.swap(used_);
  bits_ = bits_ == 0 ? min_bits : bits_ + 1;
  slots_.resize(std::size_t{1} << bits_);
  used_.assign(std::max<std::size_t>(1, slots_.size() / 64), 0);
  for (std::size_t k = 0; k < old_slots.size(); ++k) {
    if (!(old_used[k / 64] >> (k % 64) & 1u)) continue;
    const std::size_t i = slot_of(old_slots[k].key);
    used_[i / 64] |= std::uint64_t{1} << (i % 64);
    slots_[i] = old_slots[k];
  }
}
