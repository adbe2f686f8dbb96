// Evaluation of a time, and the channel and world queries that read its results.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <limits>
#include <vector>

#include "stage/host.h"
#include "stage/services.h"

namespace stage {

namespace {

LWFrame frame_at(double time, double fps) {
  const double f = std::round(time * fps);
  if (!(std::fabs(f) <= std::numeric_limits<int>::max())) return 0;  // also NaN
  return static_cast<LWFrame>(f);
}

// In a scene of many chains the items' records are not in the cache. The loop asks for them ahead
// of their turn, so that their fetches overlap rather than wait one after another, in three
// steps: three strides ahead, the part of the record an evaluation reads and its evaluated
// values; two strides ahead, the index entries of the item's parent and goal; one stride ahead
// (once those are near), the handler and child lists the record points to and the parent's and
// goal's records and values. A stride of eight items covers a chain's root, bones and goal, which
// the module reads while it solves the root; the parent and goal matter because a scene lists its
// objects before the bones, so that a chain's goal and the object its bones belong to were
// evaluated long before its root. A scene whose records fit in the cache (a megabyte of them) goes
// without.
constexpr std::size_t prefetch_stride = 8;
constexpr std::size_t prefetch_above = std::size_t{1} << 20;

// What an evaluation reads of an item: the fields before its name (see Item).
std::size_t hot_bytes(const Item& item) {
  return static_cast<std::size_t>(reinterpret_cast<const char*>(&item.name) -
                                  reinterpret_cast<const char*>(&item));
}

void prefetch(const void* data, std::size_t bytes) {
  const char* p = static_cast<const char*>(data);
  for (std::size_t at = 0; at < bytes; at += 64) __builtin_prefetch(p + at);
}

}  // namespace

void Host::prefetch_items(const std::vector<std::size_t>& order, std::size_t k) const {
  if (k + 3 * prefetch_stride < order.size()) {
    const std::size_t far = order[k + 3 * prefetch_stride];
    prefetch(&scene_.item(far), hot_bytes(scene_.item(far)));
    prefetch(&evaluation_.items[far], sizeof(Evaluated_item));  // sized to the scene above
  }
  if (k + 2 * prefetch_stride < order.size()) {
    const Item& near = scene_.item(order[k + 2 * prefetch_stride]);
    scene_.prefetch_slot(near.parent);
    scene_.prefetch_slot(near.goal);
  }
  if (k + prefetch_stride < order.size()) {
    const Item& next = scene_.item(order[k + prefetch_stride]);
    prefetch(next.handlers.data(), next.handlers.size() * sizeof(Attached_handler));
    prefetch(next.children.data(), next.children.size() * sizeof(LWItemID));
    for (const LWItemID other : {next.parent, next.goal}) {
      const std::size_t i = scene_.index_of(other);
      if (i == Scene::npos) continue;
      prefetch(&scene_.item(i), 64);
      prefetch(&evaluation_.items[i], sizeof(Evaluated_item));
    }
  }
}

void Host::evaluate(double time) {
  Current_host guard(*this);
  evaluation_.valid = true;
  evaluation_.time = time;
  if (++evaluation_.stamp == 0) {
    evaluation_.items.assign(evaluation_.items.size(), Evaluated_item{});
    evaluation_.world_known.assign(evaluation_.world_known.size(), 0);
    evaluation_.stamp = 1;
  }
  const std::uint32_t stamp = evaluation_.stamp;
  evaluation_.items.resize(scene_.size());
  chain_report_count_ = 0;
  evaluation_.world.resize(scene_.size());
  evaluation_.world_known.resize(scene_.size());
  evaluation_.links_version = scene_.links_version();
  const LWFrame frame = frame_at(time, scene_.fps);
  const std::vector<std::size_t>& order = scene_.evaluation_order();
  const bool ahead = order.size() * sizeof(Item) > prefetch_above;
  for (std::size_t k = 0; k < order.size(); ++k) {
    if (ahead) prefetch_items(order, k);
    const std::size_t index = order[k];
    const Item& item = scene_.item(index);
    Evaluated_item& evaluated = evaluation_.items[index];
    for (int c = 0; c < ch_count; ++c) evaluated.values[c] = channel_value(item.channels[c], time);
    evaluated.handler_set = 0;
    evaluation_.current = index;
    for (const Attached_handler& handler : item.handlers) {
      if (!handler.motion || !handler.motion->active() || !handler.motion->table.evaluate) continue;
      const LWItemMotionAccess access{item.id, frame, time, &access_get_param, &access_set_param};
      handler.motion->table.evaluate(handler.instance, &access);
    }
    evaluation_.current = Scene::npos;
    if (item.match_goal_orientation && item.goal != LWITEM_NULL && item.goal != item.id)
      turn_to_goal(index);
    evaluated.done = stamp;
  }
}

void Host::turn_to_goal(std::size_t index) {
  // world = diag(s) R P * W_parent, so the turn whose world rows are the goal's is
  // R = G * W_parent^T * P^T with G and W_parent taken as rotations.
  const Item& item = scene_.item(index);
  Evaluated_item& evaluated = evaluation_.items[index];
  const double t = evaluation_.time;
  const auto rotation_of = [&](LWItemID id) {
    const Mat4 w = world(id, t);
    Mat3 l{};
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) l.m[i][j] = w.m[i][j];
    return rotation_part(l);
  };
  const auto transposed = [](const Mat3& m) {
    Mat3 r{};
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) r.m[i][j] = m.m[j][i];
    return r;
  };
  const Mat3 parent = item.parent != LWITEM_NULL ? rotation_of(item.parent) : identity3();
  const Mat3 pivot = hpb_matrix(evaluated.values[ch_pivot_rotation]);
  evaluated.values[ch_rotation] =
      hpb_from_matrix(rotation_of(item.goal) * transposed(parent) * transposed(pivot));
}

void Host::access_get(LWItemParam param, LWTime time, double out[3]) const {
  const int c = channel_of_param(param);
  const std::size_t index = evaluation_.current;
  Vec3 v{};
  if (index != Scene::npos && c != ch_count) {
    // The item's channels as computed so far at the evaluation's time; its keys at other times.
    v = time == evaluation_.time ? evaluation_.items[index].values[c]
                                 : channel_value(scene_.item(index).channels[c], time);
  }
  for (int i = 0; i < 3; ++i) out[i] = v[i];
}

void Host::access_set(LWItemParam param, const double value[3]) {
  const int c = channel_of_param(param);
  const std::size_t index = evaluation_.current;
  if (index == Scene::npos || c == ch_count || !value) return;
  evaluation_.items[index].values[c] = {value[0], value[1], value[2]};
  evaluation_.items[index].handler_set |= static_cast<std::uint8_t>(1u << c);
}

bool Host::set_by_handler(LWItemID id, int channel) const {
  const std::size_t index = scene_.index_of(id);
  if (!evaluation_.valid || index >= evaluation_.items.size() || channel < 0 || channel >= ch_count)
    return false;
  const Evaluated_item& evaluated = evaluation_.items[index];
  const bool this_evaluation = evaluated.done == evaluation_.stamp || index == evaluation_.current;
  return this_evaluation && ((evaluated.handler_set >> channel) & 1u);
}

Vec3 Host::param(LWItemID id, LWItemParam param, double time) const {
  const int c = channel_of_param(param);
  const std::size_t index = scene_.index_of(id);
  if (index == Scene::npos || c == ch_count) return Vec3{};
  if (evaluation_.valid && time == evaluation_.time && index < evaluation_.items.size() &&
      evaluation_.items[index].done == evaluation_.stamp)
    return evaluation_.items[index].values[c];
  return channel_value(scene_.item(index).channels[c], time);
}

Mat4 Host::local(std::size_t index, double time) const {
  const Item& item = scene_.item(index);
  return local_matrix(param(item.id, LWIP_SCALING, time), param(item.id, LWIP_ROTATION, time),
                      param(item.id, LWIP_POSITION, time), param(item.id, LWIP_PIVOT_ROT, time),
                      param(item.parent, LWIP_PIVOT, time));
}

Mat4 Host::world(LWItemID id, double time) const {
  // world(item) = L(item) * world(parent). Finished items of the last evaluation keep their
  // transform, so each is composed once per evaluation however deep the hierarchy.
  const Evaluation& e = evaluation_;
  const bool cached = e.valid && time == e.time && e.links_version == scene_.links_version() &&
                      e.world_known.size() == scene_.size();
  std::vector<std::size_t>& walk = e.walk;
  walk.clear();
  std::size_t k = scene_.index_of(id);
  for (; k != Scene::npos && walk.size() <= scene_.size();
       k = scene_.index_of(scene_.item(k).parent)) {
    if (cached && e.world_known[k] == e.stamp) break;
    walk.push_back(k);
  }
  Mat4 m = k != Scene::npos && cached && e.world_known[k] == e.stamp ? e.world[k] : identity4();
  bool keep = cached;
  for (auto it = walk.rbegin(); it != walk.rend(); ++it) {
    m = local(*it, time) * m;
    // A transform holds once its item and parents are done.
    keep = keep && e.items[*it].done == e.stamp;
    if (keep) {
      e.world[*it] = m;
      e.world_known[*it] = e.stamp;
    }
  }
  return m;
}

void Host::add_chain_report(const TarselChainReport& report) {
  if (chain_report_count_ == chain_reports_.size()) {
    chain_reports_.push_back(report);
  } else {
    // A report is about a kilobyte, mostly per-joint room that a short chain leaves unused: in a
    // scene of many chains, copying all of it each evaluation would stream through the cache.
    TarselChainReport& kept = chain_reports_[chain_report_count_];
    const auto used = [](int joints) {
      return static_cast<std::size_t>(std::clamp(joints, 0, TARSEL_REPORT_JOINTS));
    };
    const std::size_t joints = std::max(used(report.joint_count), used(kept.joint_count));
    std::memcpy(&kept, &report, offsetof(TarselChainReport, joint_item));
    std::copy(report.joint_item, report.joint_item + joints, kept.joint_item);
    std::copy(report.joint_clamp, report.joint_clamp + joints, kept.joint_clamp);
    std::copy(report.joint_channel, report.joint_channel + joints, kept.joint_channel);
    kept.stretch = report.stretch;
    kept.eased = report.eased;
    kept.stretch_capped = report.stretch_capped;
  }
  ++chain_report_count_;
  if (chain_report_hook_) chain_report_hook_();
}

Vec3 Host::bone_tip(LWItemID bone, double time) const {
  const Item* item = scene_.find(bone);
  const double length = item ? item->rest_length : 0.0;
  const Vec3 pivot = param(bone, LWIP_PIVOT, time);
  return transform_point({-pivot[0], -pivot[1], length - pivot[2]}, world(bone, time));
}

}  // namespace stage
