// An input record: the doubles (and item ids, as their bits) a kept result was worked out from,
// in the order they were read, so that the next evaluation can tell whether anything changed.
#ifndef TARSEL_SOLVER_INPUT_RECORD_H
#define TARSEL_SOLVER_INPUT_RECORD_H

#include <cstdint>
#include <cstring>
#include <vector>

#include "la3d/vec3.h"
#include "sdk/lwtypes.h"

// Writes doubles (and item ids, as their bits) over an input record in order, noting whether any
// differs in its bits from what the record held: the record read last time is compared as the new
// one is read, in one buffer, which a scene of many chains reads once rather than twice.
struct Input_writer {
  static std::uint64_t bits(double d) {
    std::uint64_t b;
    std::memcpy(&b, &d, sizeof b);
    return b;
  }
  std::vector<double>* record;
  std::size_t at = 0;
  bool changed = false;
  void put(double v) {
    std::vector<double>& r = *record;
    if (at == r.size()) {
      r.push_back(v);
      changed = true;
    } else if (bits(r[at]) != bits(v)) {
      r[at] = v;
      changed = true;
    }
    ++at;
  }
  void put(const vk_3dla::vec3& v) {
    std::vector<double>& r = *record;
    if (at + 3 > r.size()) {
      put(v.x);
      put(v.y);
      put(v.z);
      return;
    }
    double* kept = r.data() + at;
    if ((bits(kept[0]) ^ bits(v.x)) | (bits(kept[1]) ^ bits(v.y)) | (bits(kept[2]) ^ bits(v.z))) {
      kept[0] = v.x;
      kept[1] = v.y;
      kept[2] = v.z;
      changed = true;
    }
    at += 3;
  }
  void put(const LWDVector v) { put(vk_3dla::vec3(v)); }
  void put_id(LWItemID id) {
    std::uint64_t bits = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(id));
    double d;
    std::memcpy(&d, &bits, sizeof d);
    put(d);
  }
  // Whether the record now holds other inputs than before: it ends where this writer stopped.
  bool finish() {
    if (at != record->size()) {
      record->resize(at);
      changed = true;
    }
    return changed;
  }
};

// Reads an input record back in the order it was written.
struct Input_reader {
  const double* p;
  double get() { return *p++; }
  vk_3dla::vec3 get3() {
    const vk_3dla::vec3 v(p[0], p[1], p[2]);
    p += 3;
    return v;
  }
  LWItemID get_id() {
    std::uint64_t bits;
    std::memcpy(&bits, p++, sizeof bits);
    return reinterpret_cast<LWItemID>(static_cast<std::uintptr_t>(bits));
  }
};

#endif
