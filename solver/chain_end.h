// Forward evaluation of the chain for a bend fraction, and the joint angles of that bend.
#ifndef TARSEL_SOLVER_CHAIN_END_H
#define TARSEL_SOLVER_CHAIN_END_H

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "la3d/vk_3dla.h"
#include "pmath/pmath.h"
#include "solver/records.h"

// The joint's channel angle for a bend of theta (rad), clamped to the channel's limits when they
// are set, and mirrored for a flipped joint.
double clamp_joint_angle(double theta, const Work& w);

// The chain's end point for the bend fraction s, in the frame of works[0] (without the first
// joint's own bend and pivot rotation). The chain must not be empty. No heap use.
vk_3dla::vec3 chain_end(const std::vector<Work>& works, double s);

// Resizes *out to works.size() and writes each joint's clamped channel angle for the bend s.
void joint_angles(std::vector<double>* out, double s, const std::vector<Work>& works);

// A plane turn by an angle: its cosine and sine; `none` for an angle of exactly 0 (whose sine is
// the angle itself, signed zero included).
struct Turn {
  double c;
  double s;
  bool none;
};
inline Turn turn_of(double a) {
  if (a == 0.0) return {1.0, a, true};
  return {pmath::cos(a), pmath::sin(a), false};
}

// chain_end of one chain, for the searches of one solve: how each joint turns is worked out once,
// and the end points already computed are remembered by bend fraction (the step searches of
// every bend approach walk the same fractions from the same start). A value returned is bit for
// bit the one chain_end(works, s) gives. `works` must outlive the object and stay unchanged until
// reset() is called. Its table is made on the first solve that needs it and grows with the number
// of fractions the chain's solves ask for, so a chain solved by a few searches keeps a few
// kilobytes, and one whose searches walk thousands of fractions (a root held by a cone) up to
// 64 KB; a reset keeps the room.
class Chain_ends {
 public:
  explicit Chain_ends(const std::vector<Work>& works) : works_(works) {}
  Chain_ends(const Chain_ends&) = delete;
  Chain_ends& operator=(const Chain_ends&) = delete;
  const std::vector<Work>& works() const { return works_; }
  // Forgets every end remembered and how the joints turn: the works have changed.
  void reset() {
    prepared_ = false;
    unprepared_calls_ = 0;
    std::fill(used_.begin(), used_.end(), 0);
    asked_ = 0;
    path_filled_ = 0;
  }
  // A new solve of the same works begins (what it remembers is kept).
  void begin_solve() { asked_ = 0; }
  // Slots of the table as it stands (0 before a solve needed it).
  std::size_t table_size() const { return slots_.size(); }
  // Scratch for the twist-target candidates of the solves that use this object.
  std::vector<double>& candidates() { return candidates_; }
  vk_3dla::vec3 operator()(double s) {
    std::uint64_t key;
    std::memcpy(&key, &s, sizeof key);
    ++asked_;
    if (bits_ > 0) {
      const std::size_t i = slot_of(key);
      if ((used_[i / 64] >> (i % 64) & 1u) && slots_[i].key == key) return slots_[i].end;
    }
    return remember(key, s);
  }
  // The end at s, kept in the table when the chain has one, else worked out afresh: a look-up
  // that makes and grows no table, for the one end a solve asks for after its searches (a chain
  // solved in closed form keeps none).
  vk_3dla::vec3 end_without_growing(double s) {
    if (bits_ == 0 || !prepared_) return chain_end(works_, s);
    std::uint64_t key;
    std::memcpy(&key, &s, sizeof key);
    const std::size_t i = slot_of(key);
    if (!(used_[i / 64] >> (i % 64) & 1u) || slots_[i].key != key) {
      used_[i / 64] |= std::uint64_t{1} << (i % 64);
      slots_[i].key = key;
      slots_[i].end = evaluate(s);
    }
    return slots_[i].end;
  }
  // The end's distance from the root at s, asked for by halving number `step` of a bisection. A
  // bisection that starts where the last one did asks for the same fractions until its path parts
  // from the last one's, so the last path's distances are kept in order: a repeated solve reads
  // them in sequence, a few cache lines, where the table would cost a miss per halving in a scene
  // of many chains.
  double bisection_distance(int step, double s);

 private:
  // How a joint k >= 1 turns, worked out once: the clamp of its bend, and its plane turns (Z, X, Y
  // in the order applied; the bend's slot is filled in by the evaluation).
  struct Plan {
    enum Kind { only_z, only_x, only_y, three_turns, free_axis };
    Kind kind;
    bool limited;  // the bend's channel is limited to [lo, hi]
    double lo;
    double hi;
    bool flipped;  // the channel angle is mirror - (the clamped bend)
    double mirror;
    int bend_slot;  // 0 Z, 1 X, 2 Y
    Turn turns[3];
    // Products that leave every finite end point as it is, bit for bit, and are skipped: a scale
    // of exactly (1, 1, 1), and a pivot rotation of exactly (0, 0, 0) when no component of the
    // offset added after it is a negative zero.
    bool unit_scale;
    bool identity_pivot;
  };
  void prepare_plans();
  vk_3dla::vec3 evaluate(double s) const;
  vk_3dla::vec3 remember(std::uint64_t key, double s);
  std::size_t slot_of(std::uint64_t key) const {
    return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ull) >> (64 - bits_));
  }
  void grow();

  // A table of 2^bits_ slots indexed by a hash of the fraction's bits; a new fraction takes its
  // slot over. Its slots are left unset until used (the bits of used_ say which are). It doubles,
  // from 2^min_bits up to 2^max_bits slots, when one solve has asked it for more than twice as many
  // ends as it has slots: it grows while a chain's solves find their size, not in their steady
  // state.
  static constexpr int min_bits = 6;
  static constexpr int max_bits = 11;
  struct Slot {
    std::uint64_t key;  // the bits of s
    vk_3dla::vec3 end;
  };
  const std::vector<Work>& works_;
  std::vector<Plan> plans_;  // element 0 unused: the root does not bend
  std::vector<Slot> slots_;
  std::vector<std::uint64_t> used_;
  int bits_ = 0;           // 0: no table yet
  std::size_t asked_ = 0;  // ends asked for since the solve began
  bool prepared_ = false;  // plans_ hold the works' turns
  int unprepared_calls_ = 0;
  std::vector<double> candidates_;
  // The last bisection's path: the fraction's bits and the end's distance at each halving, the
  // first path_filled_ of them valid.
  struct Step {
    std::uint64_t key;
    double distance;
  };
  static constexpr int path_steps = 64;
  std::array<Step, path_steps> path_;
  int path_filled_ = 0;
};

#endif
