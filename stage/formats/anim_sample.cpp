#include "stage/formats/anim_sample.h"

#include <assimp/quaternion.h>
#include <assimp/vector3.h>
#include <algorithm>
#include <cmath>

namespace formats {

namespace {

using Vec = aiVector3t<double>;
using Quat = aiQuaterniont<double>;

Vec to_double(const aiVector3D& v) { return Vec(v.x, v.y, v.z); }
Quat to_double(const aiQuaternion& q) { return Quat(q.w, q.x, q.y, q.z); }

// Index of the last key at or before t (0 when t is before the first); keys sorted by time.
template <class Key>
unsigned key_before(const Key* keys, unsigned count, double t) {
  const Key* after = std::upper_bound(keys, keys + count, t,
                                      [](double time, const Key& k) { return time < k.mTime; });
  return after == keys ? 0 : static_cast<unsigned>(after - keys - 1);
}

template <class Key>
double fraction(const Key& a, const Key& b, double t) {
  return b.mTime > a.mTime ? std::clamp((t - a.mTime) / (b.mTime - a.mTime), 0.0, 1.0) : 0.0;
}

Vec vector_at(const aiVectorKey* keys, unsigned count, double t) {
  const unsigned i = key_before(keys, count, t);
  if (i + 1 >= count) return to_double(keys[i].mValue);
  const double f = fraction(keys[i], keys[i + 1], t);
  return to_double(keys[i].mValue) * (1 - f) + to_double(keys[i + 1].mValue) * f;
}

Quat rotation_at(const aiQuatKey* keys, unsigned count, double t) {
  const unsigned i = key_before(keys, count, t);
  if (i + 1 >= count) return to_double(keys[i].mValue).Normalize();
  Quat q;
  Quat::Interpolate(q, to_double(keys[i].mValue), to_double(keys[i + 1].mValue),
                    fraction(keys[i], keys[i + 1], t));
  return q.Normalize();
}

// Files store scalings in single precision, so a uniform scaling reads back with components a few
// parts in 10^8 apart; taken literally, that would shear every bone frame turned against it.
Vec uniform_if_close(const Vec& s) {
  const double lo = std::min({s.x, s.y, s.z}), hi = std::max({s.x, s.y, s.z});
  if (!(hi - lo <= 1e-6 * std::fabs(hi))) return s;
  double k = (s.x + s.y + s.z) / 3;
  if (std::fabs(k - 1) <= 1e-6) k = 1;
  return Vec(k, k, k);
}

}  // namespace

Matrix to_double(const aiMatrix4x4& m) {
  return Matrix(m.a1, m.a2, m.a3, m.a4, m.b1, m.b2, m.b3, m.b4, m.c1, m.c2, m.c3, m.c4, m.d1, m.d2,
                m.d3, m.d4);
}

Matrix node_local(const aiNode& node, const aiNodeAnim* channel, double ticks) {
  // The node's own transform as assimp splits it, which also supplies what the channel does not
  // key; the rotation is made unit length again, since files store it in single precision.
  Vec scaling, position;
  Quat rotation;
  to_double(node.mTransformation).Decompose(scaling, rotation, position);
  if (channel != nullptr && channel->mNumPositionKeys > 0)
    position = vector_at(channel->mPositionKeys, channel->mNumPositionKeys, ticks);
  if (channel != nullptr && channel->mNumRotationKeys > 0)
    rotation = rotation_at(channel->mRotationKeys, channel->mNumRotationKeys, ticks);
  if (channel != nullptr && channel->mNumScalingKeys > 0)
    scaling = vector_at(channel->mScalingKeys, channel->mNumScalingKeys, ticks);
  return Matrix(uniform_if_close(scaling), rotation.Normalize(), position);
}

}  // namespace formats
