// A small plug-in module for the stand-in host's tests: "ItemMotionHandler" servers "Test_Bank"
// (adds a fixed bank) and "Test_Idle" (no evaluate, no data), and the "ItemMotionInterface"
// "Test_Bank" panel.
#include <cstdlib>

#include "sdk/lwhandler.h"
#include "sdk/lwmodule.h"
#include "sdk/lwmotion.h"
#include "sdk/lwrender.h"
#include "sdk/lwxpanel.h"
#include "tests/stage/test_module.h"

namespace {

LWItemInfo* item_info = nullptr;
LWXPanelFuncs* xpanel = nullptr;
LWInstUpdate* inst_update = nullptr;
int evaluation_count = 0;

const LWBlockIdent blocks[] = {
    {LWID_('E', 'N', 'D', ' '), "EndEnd"},  {LWID_('B', 'A', 'N', 'K'), "Bank"},
    {LWID_('T', 'A', 'R', 'G'), "Target"},  {LWID_('M', 'O', 'D', 'E'), "Mode"},
    {LWID_('E', 'N', 'A', 'B'), "Enabled"}, {0, nullptr}};

LWInstance bank_create(void*, void* item, LWError*) {
  Bank_instance* b = static_cast<Bank_instance*>(std::calloc(1, sizeof(Bank_instance)));
  if (!b) return nullptr;
  b->bank = TEST_BANK_DEFAULT;
  b->item = static_cast<LWItemID>(item);
  return b;
}

void bank_destroy(LWInstance inst) { std::free(inst); }

LWError bank_copy(LWInstance to, LWInstance from) {
  Bank_instance* t = static_cast<Bank_instance*>(to);
  const Bank_instance* f = static_cast<const Bank_instance*>(from);
  t->bank = f->bank;
  t->target = f->target;
  t->mode = f->mode;
  t->enabled = f->enabled;
  return nullptr;
}

void write_block(const LWSaveState* s, int row, const int32_t* i, const float* f) {
  s->beginBlk(s->writeData, &blocks[row], 1);
  if (i) s->writeI4(s->writeData, i, 1);
  if (f) s->writeFP(s->writeData, f, 1);
  s->endBlk(s->writeData);
}

LWError bank_save(LWInstance inst, const LWSaveState* s) {
  const Bank_instance* b = static_cast<const Bank_instance*>(inst);
  const float bank = static_cast<float>(b->bank);
  const int32_t target = static_cast<int32_t>(reinterpret_cast<uintptr_t>(b->target));
  const int32_t mode = b->mode, enabled = b->enabled;
  write_block(s, 1, nullptr, &bank);
  write_block(s, 2, &target, nullptr);
  write_block(s, 3, &mode, nullptr);
  write_block(s, 4, &enabled, nullptr);
  write_block(s, 0, nullptr, nullptr);
  return nullptr;
}

LWError bank_load(LWInstance inst, const LWLoadState* s) {
  Bank_instance* b = static_cast<Bank_instance*>(inst);
  for (;;) {
    const LWID id = s->findBlk(s->readData, blocks);
    if (id == 0 || id == blocks[0].id) return nullptr;
    float f = 0;
    int32_t i = 0;
    if (id == blocks[1].id && s->readFP(s->readData, &f, 1) == 1) b->bank = f;
    if (id == blocks[2].id && s->readI4(s->readData, &i, 1) == 1)
      b->target = reinterpret_cast<LWItemID>(static_cast<uintptr_t>(static_cast<uint32_t>(i)));
    if (id == blocks[3].id && s->readI4(s->readData, &i, 1) == 1) b->mode = i;
    if (id == blocks[4].id && s->readI4(s->readData, &i, 1) == 1) b->enabled = i;
    s->endBlk(s->readData);
  }
}

const char* bank_descln(LWInstance) { return "Test_Bank"; }

const LWItemID* bank_use_items(LWInstance inst) {
  static LWItemID list[2];
  list[0] = static_cast<Bank_instance*>(inst)->target;
  list[1] = LWITEM_NULL;
  return list;
}

void bank_change_id(LWInstance inst, const LWItemID* ids) {
  Bank_instance* b = static_cast<Bank_instance*>(inst);
  for (; ids[0] != LWITEM_NULL; ids += 2) {
    if (b->item == ids[0]) b->item = ids[1];
    if (b->target == ids[0]) b->target = ids[1];
  }
}

void bank_evaluate(LWInstance inst, const LWItemMotionAccess* access) {
  Bank_instance* b = static_cast<Bank_instance*>(inst);
  b->evaluations++;
  b->order = ++evaluation_count;
  b->seen_time = access->time;
  b->seen_frame = access->frame;
  b->seen_item = access->item;
  double r[3];
  access->getParam(LWIP_ROTATION, access->time, r);
  for (int i = 0; i < 3; ++i) b->seen_rotation[i] = r[i];
  const LWItemID parent = item_info->parent(access->item);
  item_info->param(parent, LWIP_ROTATION, access->time, b->seen_parent_rotation);
  r[2] += b->bank;
  access->setParam(LWIP_ROTATION, r);
}

unsigned int bank_flags(LWInstance) { return 0; }

int bank_activate(int version, GlobalFunc* global, void* local, void*) {
  if (version != LWITEMMOTION_VERSION) return AFUNC_BADVERSION;
  item_info = static_cast<LWItemInfo*>(global(LWITEMINFO_GLOBAL, GFUSE_TRANSIENT));
  if (!item_info) return AFUNC_BADGLOBAL;
  LWItemMotionHandler* h = static_cast<LWItemMotionHandler*>(local);
  h->inst->create = bank_create;
  h->inst->destroy = bank_destroy;
  h->inst->copy = bank_copy;
  h->inst->load = bank_load;
  h->inst->save = bank_save;
  h->inst->descln = bank_descln;
  h->item->useItems = bank_use_items;
  h->item->changeID = bank_change_id;
  h->evaluate = bank_evaluate;
  h->flags = bank_flags;
  return AFUNC_OK;
}

LWInstance idle_create(void*, void*, LWError*) { return reinterpret_cast<LWInstance>(1); }

int idle_activate(int version, GlobalFunc*, void* local, void*) {
  if (version != LWITEMMOTION_VERSION) return AFUNC_BADVERSION;
  LWItemMotionHandler* h = static_cast<LWItemMotionHandler*>(local);
  h->inst->create = idle_create;
  h->evaluate = nullptr;
  return AFUNC_OK;
}

// --- the panel -------------------------------------------------------------------------------

const LWXPanelControl controls[] = {
    {1, "Bank", "float"}, {2, "Mode", "iPopChoice"}, {3, "Enabled", "iBoolean"}, {0, 0, 0}};
const LWXPanelDataDesc data_desc[] = {
    {1, nullptr, "float"}, {2, nullptr, "integer"}, {3, nullptr, "integer"}, {0, 0, 0}};
const char* const mode_names[] = {"Off", "Half", "Full"};

int mode_count(void*) { return 3; }
const char* mode_name(void*, int idx) { return idx >= 0 && idx < 3 ? mode_names[idx] : ""; }

void* panel_get(void* inst, unsigned long vid) {
  Bank_instance* b = static_cast<Bank_instance*>(inst);
  switch (vid) {
    case 1:
      return &b->bank;
    case 2:
      return &b->mode;
    case 3:
      return &b->enabled;
    default:
      return nullptr;
  }
}

LWXRefreshCode panel_set(void* inst, unsigned long vid, void* value) {
  Bank_instance* b = static_cast<Bank_instance*>(inst);
  switch (vid) {
    case 1:
      b->bank = *static_cast<double*>(value);
      break;
    case 2:
      b->mode = *static_cast<int*>(value);
      break;
    case 3:
      b->enabled = *static_cast<int*>(value);
      break;
    default:
      return LWXPRC_NONE;
  }
  if (inst_update) inst_update(LWITEMMOTION_HCLASS, inst);
  return LWXPRC_DFLT;
}

LWXPanelHint hints[] = {XpLABEL(0, "Bank Panel"), XpPOPFUNC(2, mode_count, mode_name), XpEND};

int panel_activate(int version, GlobalFunc* global, void* local, void*) {
  if (version != LWINTERFACE_VERSION) return AFUNC_BADVERSION;
  xpanel = static_cast<LWXPanelFuncs*>(global(LWXPANELFUNCS_GLOBAL, GFUSE_TRANSIENT));
  if (!xpanel) return AFUNC_BADGLOBAL;
  inst_update = reinterpret_cast<LWInstUpdate*>(global(LWINSTUPDATE_GLOBAL, GFUSE_TRANSIENT));
  LWInterface* iface = static_cast<LWInterface*>(local);
  LWXPanelID panel = xpanel->create(LWXP_VIEW, controls);
  if (!panel) return AFUNC_BADGLOBAL;
  xpanel->hint(panel, 0, hints);
  xpanel->describe(panel, data_desc, panel_get, panel_set);
  xpanel->viewInst(panel, iface->inst);
  xpanel->setData(panel, 0, iface->inst);
  iface->panel = panel;
  iface->options = nullptr;
  iface->command = nullptr;
  return AFUNC_OK;
}

void* startup() { return reinterpret_cast<void*>(1); }
void shutdown(void*) {}

ServerRecord servers[] = {{LWITEMMOTION_HCLASS, "Test_Bank", bank_activate, nullptr},
                          {LWITEMMOTION_ICLASS, "Test_Bank", panel_activate, nullptr},
                          {LWITEMMOTION_HCLASS, "Test_Idle", idle_activate, nullptr},
                          {nullptr, nullptr, nullptr, nullptr}};

}  // namespace

extern "C" {
ModuleDescriptor _mod_descrip = {MOD_SYSSYNC, MOD_SYSVER, MOD_MACHINE, startup, shutdown, servers};
}
