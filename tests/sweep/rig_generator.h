// Random rigs for the sweep, the fuzz target and the long-run program: a chain of bones under one
// top-level carrier object, its goal, the option items of the chain root and limit marker items,
// drawn from a stream of numbers (a seeded generator, or the bytes a fuzzer hands over).
#ifndef TARSEL_TESTS_SWEEP_RIG_GENERATOR_H
#define TARSEL_TESTS_SWEEP_RIG_GENERATOR_H

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "stage/scene.h"
#include "stage/scene_file.h"
#include "stage/transform.h"

namespace sweep {

using stage::Vec3;

// Where the numbers of a rig come from.
class Source {
 public:
  virtual ~Source() = default;
  virtual uint32_t next() = 0;

  double unit() { return next() / 4294967296.0; }  // [0, 1)
  double uniform(double lo, double hi) { return lo + (hi - lo) * unit(); }
  int below(int n) { return n <= 1 ? 0 : static_cast<int>(next() % static_cast<uint32_t>(n)); }
  bool chance(double p) { return unit() < p; }
};

// A repeatable stream from a seed.
class Seeded_source : public Source {
 public:
  explicit Seeded_source(uint64_t seed) : engine_(seed) {}
  uint32_t next() override { return static_cast<uint32_t>(engine_() >> 32); }

 private:
  std::mt19937_64 engine_;
};

// The bytes of a fuzzer input, four at a time; zeros once they run out.
class Byte_source : public Source {
 public:
  Byte_source(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  uint32_t next() override;

 private:
  const uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

enum class Rig_class {
  general,       // anything, degenerate included: only "no crash, finite output" is expected
  reachable,     // serial, unlimited, one bending plane, goal posed inside reach: the end meets it
  limited_root,  // the root has sound heading/pitch limits or limit markers: it ends inside them
};
const char* rig_class_name(Rig_class kind);

// A bone of the chain. Angles in radians; position, pivot in the parent's frame.
struct Rig_bone {
  int parent = -1;  // index of the parent bone; -1 for the chain root, whose parent is the carrier
  Vec3 position{};
  Vec3 rotation{};       // the host's rotation channel
  Vec3 rest_rotation{};  // the bone's rest rotation
  Vec3 scaling{1, 1, 1};
  Vec3 pivot{};
  Vec3 pivot_rotation{};
  double rest_length = 1;
  stage::Limits limits;
  bool in_chain = true;  // carries the per-bone handler (the root always carries the root handler)
};

// A null object: goal, option items, limit markers.
struct Rig_item {
  std::string name;
  int parent = -1;  // -1: the carrier; k >= 0: bone k
  Vec3 position{};
  Vec3 rotation{};
};

struct Rig {
  Rig_class kind = Rig_class::general;
  std::vector<Rig_bone> bones;  // bones[0] is the chain root
  std::vector<Rig_item> items;  // goal, option items and markers; indices below refer to these
  int goal = -1;
  int twist = -1, twist_target = -1, twist_effect = -1, plugin_effect = -1, goal_position = -1;
  int mix_with_fk = 0;
  int excess_stretch = 1;
  float posture_weight = 1;
  int arbitrary_limit = 0;

  // The top-level parent of everything: rotation, position and a uniform scale.
  Vec3 carrier_position{};
  Vec3 carrier_rotation{};
  double carrier_scale = 1;

  // Set where the rig touches a case whose answer is known to jump under rounding (goal at the
  // root's pivot, twist target on the goal line, a root scaled to nothing, a root limit with its
  // bounds crossed): the rig still must
  // not crash or give NaN, but its answer need not survive a change of the carrier.
  bool rounding_sensitive = false;

  double chain_length() const;  // sum of the link lengths at scale 1 (the reachable class)
};

// Draws a rig of the given class.
Rig generate_rig(Source& source, Rig_class kind);

// The same rig under a random carrier: a rotation, a translation and a uniform scale.
Rig carried(const Rig& rig, Source& source);

// The scene file record of a rig: carrier object (id 1), bones (100 + k) owned by it with the
// root and per-bone handlers, items (200 + i) as null objects; the root handler's options as its
// stored instance data.
stage::Scene_record rig_scene(const Rig& rig);
constexpr uint32_t carrier_id = 1;
inline uint32_t bone_id(int k) { return 100 + static_cast<uint32_t>(k); }
inline uint32_t item_id(int i) { return 200 + static_cast<uint32_t>(i); }

// Local matrix of a bone or item, as the host composes it (parent pivot given).
stage::Mat4 bone_local(const Rig_bone& bone, const Vec3& rotation, const Vec3& parent_pivot);

}  // namespace sweep

#endif
