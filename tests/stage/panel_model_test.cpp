#include "stage/panel_model.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "stage/error.h"
#include "stage/host.h"
#include "tests/stage/stage_test_util.h"
#include "tests/stage/test_module.h"

namespace {

using stage::Control_kind;
using stage_test::Host_with_test_module;

struct Panels : Host_with_test_module {
  Panels() {
    rig = scene.add(stage::Item_type::object, "Rig");
    inst = static_cast<Bank_instance*>(host.attach_handler(rig, "Test_Bank"));
  }
  LWItemID rig;
  Bank_instance* inst;
};

TEST_F(Panels, RecordsWhatTheModuleBuilt) {
  stage::Panel& panel = host.open_panel(rig, "Test_Bank");
  EXPECT_EQ(panel.type(), LWXP_VIEW);
  EXPECT_EQ(panel.label(), "Bank Panel");
  EXPECT_EQ(panel.instance(), inst);
  EXPECT_EQ(panel.data(2), inst);  // the panel's data stands for every control
  EXPECT_TRUE(panel.has_callbacks());
  ASSERT_EQ(panel.controls().size(), 3u);
  const stage::Panel_control& mode = panel.controls()[1];
  EXPECT_EQ(mode.label, "Mode");
  EXPECT_EQ(mode.control_class, "iPopChoice");
  EXPECT_EQ(mode.data_type, "integer");
  EXPECT_NE(mode.pop_count, nullptr);
  EXPECT_EQ(panel.controls()[0].data_type, "float");
  EXPECT_EQ(panel.controls()[0].pop_count, nullptr);
  EXPECT_EQ(panel.control("Enabled")->id, 3u);
  EXPECT_EQ(host.panels().size(), 1u);
}

TEST_F(Panels, ListsControlsWithCurrentValues) {
  stage::Panel& panel = host.open_panel(rig, "Test_Bank");
  inst->mode = 1;
  const std::vector<stage::Control_value> values = panel.values();
  ASSERT_EQ(values.size(), 3u);
  EXPECT_EQ(values[0].kind, Control_kind::number);
  EXPECT_DOUBLE_EQ(values[0].number, TEST_BANK_DEFAULT);
  EXPECT_EQ(values[1].kind, Control_kind::popup);
  EXPECT_EQ(values[1].integer, 1);
  EXPECT_EQ(values[1].entry, "Half");
  EXPECT_EQ(values[2].kind, Control_kind::boolean);
  EXPECT_EQ(stage::format_value(values[0]), "0.1");
  EXPECT_EQ(stage::format_value(values[1]), "1 (Half)");
  EXPECT_EQ(stage::format_value(values[2]), "off");
  EXPECT_EQ(panel.entries(2), (std::vector<std::string>{"Off", "Half", "Full"}));
}

TEST_F(Panels, SettingGoesThroughTheModuleAndIsNotified) {
  stage::Panel& panel = host.open_panel(rig, "Test_Bank");
  EXPECT_EQ(panel.set(1, 0.75), LWXPRC_DFLT);
  EXPECT_EQ(panel.choose(2, "Full"), LWXPRC_DFLT);
  EXPECT_EQ(panel.set(3, 1), LWXPRC_DFLT);
  EXPECT_DOUBLE_EQ(inst->bank, 0.75);
  EXPECT_EQ(inst->mode, 2);
  EXPECT_EQ(inst->enabled, 1);
  EXPECT_EQ(panel.value(2).entry, "Full");
  EXPECT_EQ(stage::format_value(panel.value(3)), "on");
  ASSERT_EQ(host.notifications().size(), 3u);
  for (const stage::Notification& n : host.notifications()) {
    EXPECT_EQ(n.class_name, LWITEMMOTION_HCLASS);
    EXPECT_EQ(n.instance, inst);
  }
}

TEST_F(Panels, RefusesValuesAUserCouldNotEnter) {
  stage::Panel& panel = host.open_panel(rig, "Test_Bank");
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    const char* what;
    unsigned long id;
    double value;
  } cases[] = {{"unknown control", 99, 1},
               {"fraction for an integer", 2, 1.5},
               {"beyond int", 3, 1e12},
               {"not a number", 1, nan},
               {"infinite", 1, std::numeric_limits<double>::infinity()}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_THROW(panel.set(c.id, c.value), stage::Error);
  }
  EXPECT_THROW(panel.choose(2, "Sideways"), stage::Error);
  EXPECT_THROW(panel.entries(1), stage::Error);
  EXPECT_THROW(panel.value(42), stage::Error);
  EXPECT_TRUE(host.notifications().empty());
  EXPECT_DOUBLE_EQ(inst->bank, TEST_BANK_DEFAULT);
}

TEST_F(Panels, FollowTheServicesOnOffer) {
  host.withhold_service(LWINSTUPDATE_GLOBAL);
  stage::Panel& panel = host.open_panel(rig, "Test_Bank");
  panel.set(1, 0.5);
  EXPECT_TRUE(host.notifications().empty());
  host.withhold_service(LWXPANELFUNCS_GLOBAL);
  EXPECT_THROW(host.open_panel(rig, "Test_Bank"), stage::Error);
  // No instance of that name on the item, or no interface server for it.
  EXPECT_THROW(host.open_panel(rig, "Test_Idle"), stage::Error);
  host.attach_handler(rig, "Test_Idle");
  EXPECT_THROW(host.open_panel(rig, "Test_Idle"), stage::Error);
}

TEST_F(Panels, CloseWithTheirInstance) {
  host.open_panel(rig, "Test_Bank");
  host.open_panel(rig, "Test_Bank");
  EXPECT_EQ(host.panels().size(), 2u);
  host.clear_scene();
  EXPECT_TRUE(host.panels().empty());
  EXPECT_EQ(scene.size(), 0u);
}

}  // namespace
