// A small in-memory host for the module's boundary tests: a scene of named items behind the
// item-info and bone-info tables, a global lookup that can withhold services, a recording XPanel
// service and instance-update call, block recorders for save and load, and a motion access
// record. The C function tables reach the one active FakeHost through a static pointer.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "sdk/lwio.h"
#include "sdk/lwmodule.h"
#include "sdk/lwmotion.h"
#include "sdk/lwrender.h"
#include "sdk/lwxpanel.h"

namespace fake {

inline LWItemID id(std::uintptr_t n) { return reinterpret_cast<LWItemID>(n); }

struct Item {
  LWItemType type = LWI_OBJECT;
  std::string name;
  LWItemID parent = LWITEM_NULL;
  LWItemID owner = LWITEM_NULL;  // the object of a bone
  LWItemID goal = LWITEM_NULL;
  std::vector<std::string> handlers;  // "ItemMotionHandler" servers, in order
  std::map<LWItemParam, std::vector<double>> params;
};

// One block as the module wrote it, or as a scene to be loaded holds it.
struct Block {
  LWID id = 0;
  std::string token;
  int leaf = 1;
  std::vector<int32_t> ints;
  std::vector<float> floats;
  bool unreadable = false;  // reads inside this block fail
};

struct PanelRecord {
  int type = -1;
  const LWXPanelControl* controls = nullptr;
  const LWXPanelDataDesc* data = nullptr;
  LWXPanelGetFunc* get = nullptr;
  LWXPanelSetFunc* set = nullptr;
  const LWXPanelHint* hints = nullptr;
  unsigned long hint_id = 99;
  void* view_inst = nullptr;
  void* data_inst = nullptr;
  unsigned long data_id = 99;
  std::vector<std::string> calls;  // in call order
};

struct UpdateCall {
  std::string class_name;
  void* inst;
};

class FakeHost {
 public:
  FakeHost();
  ~FakeHost();
  FakeHost(const FakeHost&) = delete;
  FakeHost& operator=(const FakeHost&) = delete;

  // --- Scene ---
  // Adds an item; ids are handed out from 0x100 upwards in creation order.
  LWItemID add(LWItemType type, const std::string& name, LWItemID parent = LWITEM_NULL,
               LWItemID owner = LWITEM_NULL);
  Item& item(LWItemID item);
  std::map<LWItemID, Item> items;
  std::vector<LWItemID> order;  // creation order, which is the host's order of every list

  // --- Globals ---
  std::set<std::string> withheld;      // names the lookup answers with null
  std::map<std::string, int> lookups;  // how often each name was asked for
  static void* global(const char* name, int use_mode);

  LWItemInfo item_info;
  LWBoneInfo bone_info;
  LWXPanelFuncs xpanel;

  // --- Panel and instance update ---
  bool panel_create_fails = false;
  PanelRecord panel;
  std::vector<UpdateCall> updates;

  // --- Motion access: the evaluated item's rotation channel ---
  LWItemMotionAccess access;
  std::vector<double> access_rotation = {0.0, 0.0, 0.0};
  // Other channels than the rotation are answered from the item's parameters (scaling 1 when
  // unset) rather than refused: for a root's evaluation, which reads them.
  bool access_reads_item = false;
  int get_param_calls = 0;
  int set_param_calls = 0;
  std::vector<double> set_rotation;
  void evaluate_as(LWItemID item, double time);

  // --- Scene blocks ---
  std::vector<Block> saved;
  LWSaveState save_state;
  std::vector<Block> to_load;
  std::size_t load_pos = 0;  // next block findBlk looks at
  int current_block = -1;    // block entered by findBlk, or -1
  std::size_t read_pos = 0;  // next value inside the entered block
  int end_blocks = 0;        // endBlk calls while loading
  LWLoadState load_state;
  void load_from(const std::vector<Block>& blocks);
};

// The active host, for the C callbacks.
FakeHost& host();

}  // namespace fake
