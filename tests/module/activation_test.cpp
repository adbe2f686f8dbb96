#include <cstring>
#include <string>

#include "module/activation.h"
#include "module/bone_handler.h"
#include "module/panel.h"
#include "module/root_evaluate.h"
#include "module/root_instance.h"
#include "tests/module/host_fixture.h"

namespace {

using tarsel::bone_handler_activate;
using tarsel::interface_activate;
using tarsel::root_handler_activate;

// A handler table whose slots all hold recognisable garbage, to see what activation touched.
struct HandlerTables {
  LWInstanceFuncs inst;
  LWItemFuncs item;
  LWItemMotionHandler handler;
  HandlerTables() {
    std::memset(&inst, 0xA5, sizeof inst);
    std::memset(&item, 0xA5, sizeof item);
    handler.inst = &inst;
    handler.item = &item;
    std::memset(&handler.evaluate, 0xA5, sizeof handler.evaluate);
    std::memset(&handler.flags, 0xA5, sizeof handler.flags);
  }
  bool untouched() const {
    HandlerTables fresh;
    return std::memcmp(&inst, &fresh.inst, sizeof inst) == 0 &&
           std::memcmp(&item, &fresh.item, sizeof item) == 0 &&
           std::memcmp(&handler.evaluate, &fresh.handler.evaluate, sizeof handler.evaluate) == 0 &&
           std::memcmp(&handler.flags, &fresh.handler.flags, sizeof handler.flags) == 0;
  }
};

class ActivationTest : public HostTest {
 protected:
  ActivationTest() {
    tarsel::item_info = nullptr;
    tarsel::bone_info = nullptr;
    tarsel::panel_service = nullptr;
  }
};

TEST_F(ActivationTest, WrongVersionReturnsBadVersionAndTouchesNothing) {
  for (int version : {3, 5}) {
    SCOPED_TRACE("version " + std::to_string(version));
    HandlerTables root, bone;
    EXPECT_EQ(root_handler_activate(version, fake::FakeHost::global, &root.handler, nullptr),
              AFUNC_BADVERSION);
    EXPECT_EQ(bone_handler_activate(version, fake::FakeHost::global, &bone.handler, nullptr),
              AFUNC_BADVERSION);
    EXPECT_TRUE(root.untouched());
    EXPECT_TRUE(bone.untouched());

    LWInterface ui;
    std::memset(&ui, 0xA5, sizeof ui);
    LWInterface before = ui;
    EXPECT_EQ(interface_activate(version, fake::FakeHost::global, &ui, nullptr), AFUNC_BADVERSION);
    EXPECT_EQ(std::memcmp(&ui, &before, sizeof ui), 0);

    EXPECT_TRUE(host.lookups.empty());
    EXPECT_EQ(tarsel::item_info, nullptr);
    EXPECT_EQ(tarsel::panel_service, nullptr);
  }
}

TEST_F(ActivationTest, WithheldSceneServiceReturnsBadGlobal) {
  struct Case {
    const char* withheld;
    bool item_slot_set;  // the item-info slot keeps what the host returned
  };
  const Case cases[] = {{LWITEMINFO_GLOBAL, false}, {LWBONEINFO_GLOBAL, true}};
  for (const Case& c : cases) {
    for (auto activate : {root_handler_activate, bone_handler_activate}) {
      SCOPED_TRACE(std::string("withheld ") + c.withheld);
      host.withheld = {c.withheld};
      tarsel::item_info = nullptr;
      tarsel::bone_info = nullptr;
      HandlerTables tables;
      EXPECT_EQ(activate(LWITEMMOTION_VERSION, fake::FakeHost::global, &tables.handler, nullptr),
                AFUNC_BADGLOBAL);
      EXPECT_TRUE(tables.untouched());
      EXPECT_EQ(tarsel::item_info != nullptr, c.item_slot_set);
      EXPECT_EQ(tarsel::bone_info, nullptr);
    }
  }
}

TEST_F(ActivationTest, RootHandlerTableIsFilled) {
  HandlerTables t;
  const void* host_priv = &t;
  t.inst.priv = const_cast<void*>(host_priv);
  ASSERT_EQ(
      root_handler_activate(LWITEMMOTION_VERSION, fake::FakeHost::global, &t.handler, nullptr),
      AFUNC_OK);
  EXPECT_EQ(tarsel::item_info, &host.item_info);
  EXPECT_EQ(tarsel::bone_info, &host.bone_info);
  EXPECT_EQ(host.lookups[LWITEMINFO_GLOBAL], 1);
  EXPECT_EQ(host.lookups[LWBONEINFO_GLOBAL], 1);
  EXPECT_EQ(t.inst.priv, host_priv);
  EXPECT_EQ(t.inst.create, tarsel::root_create);
  EXPECT_EQ(t.inst.destroy, tarsel::root_destroy);
  EXPECT_EQ(t.inst.copy, tarsel::root_copy);
  EXPECT_EQ(t.inst.load, tarsel::root_load);
  EXPECT_EQ(t.inst.save, tarsel::root_save);
  EXPECT_EQ(t.inst.descln, tarsel::root_descln);
  EXPECT_EQ(t.item.useItems, tarsel::root_use_items);
  EXPECT_EQ(t.item.changeID, tarsel::root_change_id);
  EXPECT_EQ(t.handler.evaluate, tarsel::root_evaluate);
  EXPECT_EQ(t.handler.flags, tarsel::handler_flags);
}

TEST_F(ActivationTest, BoneHandlerTableIsFilled) {
  HandlerTables t;
  ASSERT_EQ(
      bone_handler_activate(LWITEMMOTION_VERSION, fake::FakeHost::global, &t.handler, nullptr),
      AFUNC_OK);
  EXPECT_EQ(tarsel::item_info, &host.item_info);
  EXPECT_EQ(tarsel::bone_info, &host.bone_info);
  EXPECT_EQ(t.inst.load, nullptr);
  EXPECT_EQ(t.inst.save, nullptr);
  EXPECT_EQ(t.item.useItems, nullptr);
  EXPECT_EQ(t.item.changeID, nullptr);
  EXPECT_EQ(t.handler.evaluate, tarsel::bone_evaluate);
  EXPECT_EQ(t.inst.descln, tarsel::bone_descln);

  // Every per-bone instance is the same constant; nothing is allocated or freed.
  LWInstance first = t.inst.create(nullptr, fake::id(0x501), nullptr);
  LWInstance second = t.inst.create(nullptr, fake::id(0x777), nullptr);
  EXPECT_EQ(first, reinterpret_cast<LWInstance>(std::uintptr_t{1}));
  EXPECT_EQ(second, first);
  EXPECT_EQ(t.inst.copy(first, second), nullptr);
  t.inst.destroy(first);
  t.inst.destroy(second);
}

TEST_F(ActivationTest, FlagsAndDescribeLinesOfBothHandlers) {
  struct Case {
    const char* (*descln)(LWInstance);
    const char* text;
  };
  const Case cases[] = {{tarsel::root_descln, "Tarsel_Top"}, {tarsel::bone_descln, "Tarsel"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const char* first = c.descln(nullptr);
    const char* second = c.descln(reinterpret_cast<LWInstance>(std::uintptr_t{1}));
    EXPECT_EQ(first, second);
    EXPECT_STREQ(second, c.text);
  }
  EXPECT_NE(tarsel::root_descln(nullptr), tarsel::bone_descln(nullptr));
  EXPECT_EQ(tarsel::handler_flags(nullptr), 1u);
  EXPECT_EQ(tarsel::handler_flags(reinterpret_cast<LWInstance>(std::uintptr_t{1})),
            static_cast<unsigned>(LWIMF_AFTERIK));
}

TEST_F(ActivationTest, InterfaceActivation) {
  struct Case {
    const char* name;
    const char* withheld;
    bool create_fails;
    int expected;
    bool has_panel;
    bool has_update;
  };
  const Case cases[] = {
      {"all services", nullptr, false, AFUNC_OK, true, true},
      {"no instance update", LWINSTUPDATE_GLOBAL, false, AFUNC_OK, true, false},
      {"no panel service", LWXPANELFUNCS_GLOBAL, false, AFUNC_BADGLOBAL, false, false},
      {"panel creation fails", nullptr, true, AFUNC_BADGLOBAL, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    host.withheld.clear();
    if (c.withheld != nullptr) host.withheld.insert(c.withheld);
    host.panel_create_fails = c.create_fails;
    host.panel = fake::PanelRecord();
    tarsel::instance_update = nullptr;

    tarsel::UserData data;
    LWInterface ui;
    std::memset(&ui, 0xA5, sizeof ui);
    ui.inst = &data;
    EXPECT_EQ(interface_activate(LWINTERFACE_VERSION, fake::FakeHost::global, &ui, nullptr),
              c.expected);
    EXPECT_EQ(ui.inst, &data);
    EXPECT_EQ(tarsel::instance_update != nullptr, c.has_update);
    if (c.withheld != nullptr && std::string(c.withheld) == LWXPANELFUNCS_GLOBAL) {
      EXPECT_EQ(tarsel::panel_service, nullptr);
      EXPECT_TRUE(host.panel.calls.empty());
      continue;  // the record is left as it was
    }
    EXPECT_EQ(ui.panel != nullptr, c.has_panel);
    EXPECT_EQ(ui.options, nullptr);
    EXPECT_EQ(ui.command, nullptr);
  }
}

}  // namespace
