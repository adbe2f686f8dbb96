#include "tests/module/fake_host.h"

#include <cstring>
#include <stdexcept>

namespace fake {
namespace {

FakeHost* active = nullptr;

LWItemID next_in(const std::vector<LWItemID>& order, LWItemID after,
                 bool (*match)(const Item&, const Item&), const Item* like) {
  bool past = after == LWITEM_NULL;
  for (LWItemID candidate : order) {
    if (!past) {
      past = candidate == after;
      continue;
    }
    if (match(host().items.at(candidate), *like)) return candidate;
  }
  return LWITEM_NULL;
}

bool same_kind(const Item& a, const Item& b) {
  return a.type == b.type && (a.type != LWI_BONE || a.owner == b.owner);
}
bool same_parent(const Item& a, const Item& b) { return a.parent == b.parent; }

// --- LWItemInfo ---
LWItemID first(LWItemType type, LWItemID owner) {
  Item like;
  like.type = type;
  like.owner = owner;
  return next_in(host().order, LWITEM_NULL, same_kind, &like);
}
LWItemID next(LWItemID item) {
  return next_in(host().order, item, same_kind, &host().items.at(item));
}
LWItemID first_child(LWItemID parent) {
  Item like;
  like.parent = parent;
  return next_in(host().order, LWITEM_NULL, same_parent, &like);
}
LWItemID next_child(LWItemID /*parent*/, LWItemID prev) {
  return next_in(host().order, prev, same_parent, &host().items.at(prev));
}
LWItemID parent(LWItemID item) { return host().items.at(item).parent; }
LWItemID goal(LWItemID item) { return host().items.at(item).goal; }
const char* name(LWItemID item) {
  if (item == LWITEM_NULL) return "(none)";
  return host().items.at(item).name.c_str();
}
void param(LWItemID item, LWItemParam which, LWTime /*time*/, LWDVector out) {
  const auto& params = host().items.at(item).params;
  const auto found = params.find(which);
  for (int i = 0; i < 3; ++i) out[i] = found == params.end() ? 0.0 : found->second[i];
}
unsigned int limits(LWItemID, LWItemParam, LWDVector min, LWDVector max) {
  for (int i = 0; i < 3; ++i) min[i] = max[i] = 0.0;
  return 0;
}
const char* server(LWItemID item, const char* class_name, int index) {
  if (std::strcmp(class_name, "ItemMotionHandler") != 0) return nullptr;
  const auto& handlers = host().items.at(item).handlers;
  if (index < 1 || static_cast<std::size_t>(index) > handlers.size()) return nullptr;
  return handlers[index - 1].c_str();
}

// --- LWBoneInfo ---
void rest_param(LWItemID, LWItemParam, LWDVector out) { out[0] = out[1] = out[2] = 0.0; }
double rest_length(LWItemID) { return 1.0; }

// --- LWXPanelFuncs ---
LWXPanelID panel_create(int type, const LWXPanelControl* controls) {
  PanelRecord& p = host().panel;
  p.calls.push_back("create");
  p.type = type;
  p.controls = controls;
  return host().panel_create_fails ? nullptr : reinterpret_cast<LWXPanelID>(&p);
}
void panel_destroy(LWXPanelID) { host().panel.calls.push_back("destroy"); }
void panel_describe(LWXPanelID, const LWXPanelDataDesc* data, LWXPanelGetFunc* get,
                    LWXPanelSetFunc* set) {
  PanelRecord& p = host().panel;
  p.calls.push_back("describe");
  p.data = data;
  p.get = get;
  p.set = set;
}
void panel_hint(LWXPanelID, unsigned long hint_id, const LWXPanelHint* hints) {
  PanelRecord& p = host().panel;
  p.calls.push_back("hint");
  p.hint_id = hint_id;
  p.hints = hints;
}
void panel_view_inst(LWXPanelID, void* inst) {
  host().panel.calls.push_back("viewInst");
  host().panel.view_inst = inst;
}
void panel_set_data(LWXPanelID, unsigned long data_id, void* data) {
  PanelRecord& p = host().panel;
  p.calls.push_back("setData");
  p.data_id = data_id;
  p.data_inst = data;
}

int instance_update(const char* class_name, LWInstance inst) {
  host().updates.push_back({class_name, inst});
  return 0;
}

// --- Motion access ---
void get_param(LWItemParam which, LWTime, LWDVector out) {
  ++host().get_param_calls;
  if (which != LWIP_ROTATION && host().access_reads_item) {
    const auto& params = host().items.at(host().access.item).params;
    const auto found = params.find(which);
    for (int i = 0; i < 3; ++i)
      out[i] = found != params.end() ? found->second[i] : which == LWIP_SCALING ? 1.0 : 0.0;
    return;
  }
  if (which != LWIP_ROTATION) throw std::logic_error("unexpected getParam channel");
  for (int i = 0; i < 3; ++i) out[i] = host().access_rotation[i];
}
void set_param(LWItemParam which, const LWDVector value) {
  ++host().set_param_calls;
  if (which != LWIP_ROTATION) throw std::logic_error("unexpected setParam channel");
  host().set_rotation.assign(value, value + 3);
}

// --- Save recorder ---
void write_i4(void*, const int32_t* vals, int n) {
  host().saved.back().ints.insert(host().saved.back().ints.end(), vals, vals + n);
}
void write_fp(void*, const float* vals, int n) {
  host().saved.back().floats.insert(host().saved.back().floats.end(), vals, vals + n);
}
void begin_blk(void*, const LWBlockIdent* ident, int leaf) {
  Block b;
  b.id = ident->id;
  b.token = ident->token != nullptr ? ident->token : "";
  b.leaf = leaf;
  host().saved.push_back(b);
}
void end_blk_save(void*) {}

// --- Load player ---
Block* entered() {
  FakeHost& h = host();
  return h.current_block < 0 ? nullptr : &h.to_load[h.current_block];
}
int read_i4(void*, int32_t* vals, int n) {
  Block* b = entered();
  if (b == nullptr || b->unreadable) return 0;
  int got = 0;
  for (; got < n && host().read_pos < b->ints.size(); ++got) vals[got] = b->ints[host().read_pos++];
  return got;
}
int read_fp(void*, float* vals, int n) {
  Block* b = entered();
  if (b == nullptr || b->unreadable) return 0;
  int got = 0;
  for (; got < n && host().read_pos < b->floats.size(); ++got) {
    vals[got] = b->floats[host().read_pos++];
  }
  return got;
}
LWID find_blk(void*, const LWBlockIdent* table) {
  FakeHost& h = host();
  h.current_block = -1;
  while (h.load_pos < h.to_load.size()) {
    const std::size_t at = h.load_pos++;
    for (const LWBlockIdent* row = table; row->id != 0; ++row) {
      if (row->id == h.to_load[at].id) {
        h.current_block = static_cast<int>(at);
        h.read_pos = 0;
        return row->id;
      }
    }
  }
  return 0;
}
void end_blk_load(void*) {
  ++host().end_blocks;
  host().current_block = -1;
}

}  // namespace

FakeHost& host() {
  if (active == nullptr) throw std::logic_error("no fake host");
  return *active;
}

FakeHost::FakeHost() {
  active = this;
  item_info = {first, next, first_child, next_child, parent, goal, name, param, limits, server};
  bone_info = {rest_param, rest_length};
  xpanel = {1,          panel_create,    panel_destroy, panel_describe,
            panel_hint, panel_view_inst, panel_set_data};
  access = {LWITEM_NULL, 0, 0.0, get_param, set_param};
  save_state = {LWIO_BINARY, nullptr, write_i4, write_fp, begin_blk, end_blk_save};
  load_state = {LWIO_BINARY, nullptr, read_i4, read_fp, find_blk, end_blk_load};
}

FakeHost::~FakeHost() { active = nullptr; }

LWItemID FakeHost::add(LWItemType type, const std::string& item_name, LWItemID parent_item,
                       LWItemID owner) {
  const LWItemID new_id = id(0x100 + order.size());
  Item it;
  it.type = type;
  it.name = item_name;
  it.parent = parent_item;
  it.owner = owner;
  items[new_id] = it;
  order.push_back(new_id);
  return new_id;
}

Item& FakeHost::item(LWItemID which) { return items.at(which); }

void* FakeHost::global(const char* service, int /*use_mode*/) {
  FakeHost& h = host();
  ++h.lookups[service];
  if (h.withheld.count(service) != 0) return nullptr;
  const std::string s = service;
  if (s == LWITEMINFO_GLOBAL) return &h.item_info;
  if (s == LWBONEINFO_GLOBAL) return &h.bone_info;
  if (s == LWXPANELFUNCS_GLOBAL) return &h.xpanel;
  if (s == LWINSTUPDATE_GLOBAL) return reinterpret_cast<void*>(&instance_update);
  return nullptr;
}

void FakeHost::evaluate_as(LWItemID which, double time) {
  access.item = which;
  access.time = time;
  get_param_calls = set_param_calls = 0;
  set_rotation.clear();
}

void FakeHost::load_from(const std::vector<Block>& blocks) {
  to_load = blocks;
  load_pos = 0;
  current_block = -1;
  end_blocks = 0;
}

}  // namespace fake
