#include "stage/report/chains.h"
#include "pmath/pmath.h"

#include <cmath>
#include <cstdlib>
#include <sstream>
#include <vector>

#include "stage/report/chain_state.h"
#include "stage/report/world_rotation.h"
#include "stage/scene_file.h"

namespace report {

namespace {

// An item option from a root instance's saved blocks ("GoalPosition <id>"); item identifiers in
// saved data are the host's raw values.
LWItemID item_option(const std::vector<std::string>& data, const char* key) {
  for (const std::string& line : data) {
    std::istringstream words(line);
    std::string token;
    long long value = 0;
    if (words >> token && token == key && words >> value)
      return stage::id_from_value(static_cast<uint32_t>(value));
  }
  return LWITEM_NULL;
}

// Without overflow of the squares for far-apart points.
double distance(const stage::Vec3& a, const stage::Vec3& b) {
  return pmath::hypot(pmath::hypot(a[0] - b[0], a[1] - b[1]), a[2] - b[2]);
}

}  // namespace

bool carries(const stage::Item& item, const char* server) {
  for (const stage::Attached_handler& h : item.handlers)
    if (h.server == server) return true;
  return false;
}

std::vector<LWItemID> gather_chain(const stage::Scene& scene, LWItemID root) {
  // Depth first without recursion: a stack of items whose children are still to be visited,
  // children pushed last to first so the first is gathered first.
  std::vector<LWItemID> chain;
  std::vector<LWItemID> stack{root};
  std::vector<LWItemID> children;
  while (!stack.empty()) {
    const LWItemID item = stack.back();
    stack.pop_back();
    chain.push_back(item);
    // The scene holds no cycles, but a bound keeps a damaged hierarchy from looping forever.
    if (chain.size() > scene.size()) break;
    children.clear();
    for (LWItemID c : scene.at(item).children)
      if (carries(scene.at(c), bone_server)) children.push_back(c);
    stack.insert(stack.end(), children.rbegin(), children.rend());
  }
  return chain;
}

std::vector<Chain> find_chains(stage::Host& host) {
  const stage::Scene& scene = host.scene();
  std::vector<Chain> chains;
  for (std::size_t i = 0; i < scene.size(); ++i) {
    const stage::Item& item = scene.item(i);
    if (!carries(item, root_server)) continue;
    Chain chain;
    chain.root = item.id;
    const std::vector<LWItemID> members = gather_chain(scene, item.id);
    chain.last = members.back();
    chain.goal = scene.at(chain.last).goal;
    if (chain.goal == LWITEM_NULL) {
      for (const LWItemID m : members) chain.goal_elsewhere |= scene.at(m).goal != LWITEM_NULL;
    }
    for (std::size_t h = 0; h < item.handlers.size(); ++h) {
      if (item.handlers[h].server == root_server) {
        const std::vector<std::string> data = host.handler_record(item.id, h).data;
        chain.goal_position = item_option(data, "GoalPosition");
        const LWItemID target = item_option(data, "TwistTarget");
        chain.twist_target_missing = target != LWITEM_NULL && scene.find(target) == nullptr;
        chain.arbitrary_limit = item_option(data, "ArbitraryLimit") != LWITEM_NULL;
        break;
      }
    }
    if (scene.find(chain.goal_position) == nullptr) chain.goal_position = LWITEM_NULL;
    chains.push_back(chain);
  }
  return chains;
}

stage::Vec3 chain_end(const stage::Host& host, const Chain& chain, double time) {
  if (chain.goal_position != LWITEM_NULL) return host.world_position(chain.goal_position, time);
  return host.bone_tip(chain.last, time);
}

std::vector<LWItemID> reported_items(const stage::Scene& scene) {
  std::vector<LWItemID> items;
  for (const std::size_t index : scene.evaluation_order()) {
    const stage::Item& item = scene.item(index);
    if (!item.handlers.empty()) items.push_back(item.id);
  }
  return items;
}

Frame_sample sample_frame(stage::Host& host, int frame, const std::vector<LWItemID>& items,
                          const std::vector<Chain>& chains) {
  host.evaluate_frame(frame);
  const double time = host.evaluated_time();
  Frame_sample sample;
  sample.frame = frame;
  sample.time = time;
  sample.items.reserve(items.size());
  const stage::Scene& scene = host.scene();
  // By scene index, filled afresh each frame: a lookup table as long as the scene costs less than
  // hashing every chain's root again (a run of 10,000 chains samples 40,000 items a frame).
  std::vector<const Chain*> chain_of_root(scene.size(), nullptr);
  for (const Chain& chain : chains) {
    const std::size_t i = scene.index_of(chain.root);
    if (i != stage::Scene::npos && !chain_of_root[i]) chain_of_root[i] = &chain;
  }
  // The module's account of each root's solve this frame; the last one a root gave counts.
  std::vector<const TarselChainReport*> report_of_root(scene.size(), nullptr);
  for (const TarselChainReport& r : host.chain_reports()) {
    const std::size_t i = scene.index_of(r.root);
    if (i != stage::Scene::npos) report_of_root[i] = &r;
  }
  for (const LWItemID id : items) {
    const std::size_t index = scene.index_of(id);
    Item_sample s;
    s.name = scene.at(id).name;
    s.hpb_deg = stage::rad_to_deg(host.param(id, LWIP_ROTATION, time));
    const stage::Mat4 world = host.world(id, time);
    s.position = stage::translation(world);
    const stage::Mat3 rotation = rotation_part(world);
    s.world_hpb_deg = stage::rad_to_deg(hpb_of(rotation));
    s.world_quaternion = quaternion_of(rotation);
    if (index != stage::Scene::npos && chain_of_root[index]) {
      const Chain& chain = *chain_of_root[index];
      s.is_chain_root = true;
      s.end_name =
          scene.at(chain.goal_position != LWITEM_NULL ? chain.goal_position : chain.last).name;
      s.end_position = chain_end(host, chain, time);
      if (chain.goal != LWITEM_NULL) {
        s.has_goal = true;
        s.goal_name = scene.at(chain.goal).name;
        s.goal_position = host.world_position(chain.goal, time);
        s.goal_distance = distance(s.end_position, s.goal_position);
      }
      if (report_of_root[index]) {
        s.solve_report = std::make_shared<const TarselChainReport>(*report_of_root[index]);
      }
      describe_chain(scene, chain, &s);
    }
    sample.items.push_back(std::move(s));
  }
  return sample;
}

}  // namespace report
