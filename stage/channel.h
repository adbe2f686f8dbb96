// An item channel triple (position, rotation, ...): a constant or keys over time.
#ifndef TARSEL_STAGE_CHANNEL_H
#define TARSEL_STAGE_CHANNEL_H

#include <cstddef>
#include <initializer_list>
#include <memory>
#include <vector>

#include "sdk/lwtypes.h"
#include "stage/transform.h"

namespace stage {

struct Key {
  double time;  // seconds
  Vec3 value;   // angles in radians
};

// A channel's keys, kept out of line: a channel without keys, the common case, takes one pointer
// in its item instead of a vector's three, so that an item's channels take fewer cache lines. It
// behaves as the vector it holds: sorted by the callers, copied whole.
class Key_list {
 public:
  Key_list() = default;
  Key_list(std::initializer_list<Key> keys) { *this = std::vector<Key>(keys); }
  Key_list(const Key_list& other) { *this = other; }
  Key_list(Key_list&&) noexcept = default;
  Key_list& operator=(const Key_list& other) {
    if (this != &other)
      keys_ = other.empty() ? nullptr : std::make_unique<std::vector<Key>>(*other.keys_);
    return *this;
  }
  Key_list& operator=(Key_list&&) noexcept = default;
  Key_list& operator=(std::vector<Key> keys) {
    if (keys.empty()) {
      keys_.reset();
    } else {
      keys_ = std::make_unique<std::vector<Key>>(std::move(keys));
    }
    return *this;
  }
  Key_list& operator=(std::initializer_list<Key> keys) { return *this = std::vector<Key>(keys); }

  bool empty() const { return !keys_ || keys_->empty(); }
  std::size_t size() const { return keys_ ? keys_->size() : 0; }
  Key* begin() { return keys_ ? keys_->data() : nullptr; }
  Key* end() { return begin() + size(); }
  const Key* begin() const { return keys_ ? keys_->data() : nullptr; }
  const Key* end() const { return begin() + size(); }
  Key& operator[](std::size_t i) { return (*keys_)[i]; }
  const Key& operator[](std::size_t i) const { return (*keys_)[i]; }
  Key& front() { return keys_->front(); }
  const Key& front() const { return keys_->front(); }
  Key& back() { return keys_->back(); }
  const Key& back() const { return keys_->back(); }
  void push_back(const Key& key) { held().push_back(key); }
  // Inserts before `at` (a position in this list) and returns the new key's position.
  Key* insert(const Key* at, const Key& key) {
    const std::ptrdiff_t offset = at - begin();
    std::vector<Key>& keys = held();
    return &*keys.insert(keys.begin() + offset, key);
  }
  void clear() { keys_.reset(); }

 private:
  std::vector<Key>& held() {
    if (!keys_) keys_ = std::make_unique<std::vector<Key>>();
    return *keys_;
  }
  std::unique_ptr<std::vector<Key>> keys_;
};

// With no keys the channel holds `value` at every time. With keys (sorted by time, no two at the
// same time) it interpolates linearly between neighbouring keys and holds the end keys outside
// their range.
struct Channel {
  Vec3 value{};
  Key_list keys;
};

// Keyed channels are interpolated out of line; a constant one, the most common, is answered here.
Vec3 keyed_value(const Key_list& keys, double time);
inline Vec3 channel_value(const Channel& channel, double time) {
  return channel.keys.empty() ? channel.value : keyed_value(channel.keys, time);
}

// The channels every item has, indexed by Channel_index.
enum Channel_index { ch_position, ch_rotation, ch_scaling, ch_pivot, ch_pivot_rotation, ch_count };

// The channel an LWIP_ parameter names, or ch_count for a parameter the host does not know.
inline int channel_of_param(LWItemParam param) {
  switch (param) {
    case LWIP_POSITION:
      return ch_position;
    case LWIP_ROTATION:
      return ch_rotation;
    case LWIP_SCALING:
      return ch_scaling;
    case LWIP_PIVOT:
      return ch_pivot;
    case LWIP_PIVOT_ROT:
      return ch_pivot_rotation;
    default:
      return ch_count;
  }
}

}  // namespace stage

#endif
