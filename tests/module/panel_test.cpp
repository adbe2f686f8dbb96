#include <string>
#include <vector>

#include "module/panel.h"
#include "module/user_data.h"
#include "tests/module/host_fixture.h"

namespace {

using tarsel::UserData;

// Objects A and B (B holds bones b1 and b2), camera C and light L, added in a mixed order so that
// the list order is seen to come from the item types and not from creation.
class PanelTest : public HostTest {
 protected:
  PanelTest() {
    a = host.add(LWI_OBJECT, "A");
    cam = host.add(LWI_CAMERA, "C");
    b = host.add(LWI_OBJECT, "B");
    light = host.add(LWI_LIGHT, "L");
    b1 = host.add(LWI_BONE, "b1", b, b);
    b2 = host.add(LWI_BONE, "b2", b1, b);
  }

  std::vector<std::string> entries() {
    std::vector<std::string> names;
    const int count = tarsel::popup_count(nullptr);
    for (int i = 0; i < count; ++i) names.push_back(tarsel::popup_name(nullptr, i));
    return names;
  }
  int get_index(UserData& d, unsigned long vid) {
    return *static_cast<int*>(tarsel::panel_get(&d, vid));
  }
  LWXRefreshCode set_index(UserData& d, unsigned long vid, int index) {
    return tarsel::panel_set(&d, vid, &index);
  }

  LWItemID a, b, cam, light, b1, b2;
};

TEST_F(PanelTest, PopUpsListNoneObjectsCamerasLightsThenBones) {
  EXPECT_EQ(tarsel::popup_count(nullptr), 7);
  EXPECT_EQ(entries(), (std::vector<std::string>{"(none)", "A", "B", "C", "L", "b1", "b2"}));
  EXPECT_EQ(tarsel::item_list(), (std::vector<LWItemID>{a, b, cam, light, b1, b2}));
  EXPECT_STREQ(tarsel::popup_name(nullptr, 7), "(none)");  // past the list: the none item
}

TEST_F(PanelTest, PanelIsBuiltInOrderAndBoundToTheInstance) {
  UserData d;
  host.panel = fake::PanelRecord();
  const LWXPanelID panel = tarsel::create_panel(&d);
  ASSERT_NE(panel, nullptr);
  const fake::PanelRecord& p = host.panel;
  EXPECT_EQ(p.calls,
            (std::vector<std::string>{"create", "hint", "describe", "viewInst", "setData"}));
  EXPECT_EQ(p.type, LWXP_VIEW);
  EXPECT_EQ(p.hint_id, 0ul);
  EXPECT_EQ(p.view_inst, &d);
  EXPECT_EQ(p.data_inst, &d);
  EXPECT_EQ(p.data_id, 0ul);
  EXPECT_EQ(p.get, tarsel::panel_get);
  EXPECT_EQ(p.set, tarsel::panel_set);

  struct Control {
    unsigned long id;
    const char* label;
    const char* ctrl_class;
    const char* data_type;
  };
  const Control expected[] = {
      {0x8001, "Twist", "iPopChoice", "integer"},
      {0x8002, "Twist Target", "iPopChoice", "integer"},
      {0x8003, "Twist Target Effect", "iPopChoice", "integer"},
      {0x8004, "Goal Position", "iPopChoice", "integer"},
      {0x8005, "Plugin Effect", "iPopChoice", "integer"},
      {0x8006, "Mix With FK", "iBoolean", "integer"},
      {0x8007, "Excess Stretch", "iBoolean", "integer"},
      {0x8008, "Posture Weight", "float", "float"},
      {0x8009, "Arbitrary Limit", "iBoolean", "integer"},
      {0x800A, "Soft Reach", "float", "float"},
      {0x800B, "Max Stretch", "float", "float"},
  };
  for (std::size_t i = 0; i < 11; ++i) {
    SCOPED_TRACE(expected[i].label);
    EXPECT_EQ(p.controls[i].cid, expected[i].id);
    EXPECT_STREQ(p.controls[i].label, expected[i].label);
    EXPECT_STREQ(p.controls[i].ctrlclass, expected[i].ctrl_class);
    EXPECT_EQ(p.data[i].vid, expected[i].id);
    EXPECT_EQ(p.data[i].name, nullptr);
    EXPECT_STREQ(p.data[i].datatype, expected[i].data_type);
  }
  EXPECT_EQ(p.controls[11].cid, 0ul);
  EXPECT_EQ(p.controls[11].label, nullptr);
  EXPECT_EQ(p.data[11].vid, 0ul);

  EXPECT_EQ(p.hints[0].tag, XPTAG_LABEL);
  EXPECT_EQ(p.hints[0].id, 0ul);
  EXPECT_STREQ(p.hints[0].text, "Tarsel");
  for (unsigned long i = 1; i <= 5; ++i) {
    EXPECT_EQ(p.hints[i].tag, XPTAG_POPFUNC);
    EXPECT_EQ(p.hints[i].id, 0x8000 + i);
    EXPECT_EQ(p.hints[i].count, tarsel::popup_count);
    EXPECT_EQ(p.hints[i].name, tarsel::popup_name);
  }
  EXPECT_EQ(p.hints[6].tag, XPTAG_END);
}

TEST_F(PanelTest, ItemPopUpsWriteTheirOwnFieldAndShareOneIndex) {
  struct Case {
    unsigned long vid;
    LWItemID UserData::*field;
  };
  const Case cases[] = {
      {0x8001, &UserData::twist},         {0x8002, &UserData::twist_target},
      {0x8003, &UserData::twist_effect},  {0x8004, &UserData::goal_position},
      {0x8005, &UserData::plugin_effect},
  };
  const std::vector<LWItemID> list = {a, b, cam, light, b1, b2};
  for (const Case& c : cases) {
    for (int index = 0; index <= 8; ++index) {
      SCOPED_TRACE("id " + std::to_string(c.vid) + " entry " + std::to_string(index));
      UserData d;
      d.*(c.field) = fake::id(0xDEAD);
      const bool in_list = index >= 1 && index <= 6;
      EXPECT_EQ(set_index(d, c.vid, index), LWXPRC_DFLT);
      EXPECT_EQ(d.*(c.field), in_list ? list[index - 1] : LWITEM_NULL);
      EXPECT_EQ(get_index(d, c.vid), in_list ? index : 0);
      // Only the chosen field changed.
      for (const Case& other : cases) {
        if (other.vid != c.vid) {
          EXPECT_EQ(d.*(other.field), LWITEM_NULL);
        }
      }
    }
  }
  UserData d;
  d.twist = b1;
  d.plugin_effect = cam;
  void* twist_index = tarsel::panel_get(&d, 0x8001);
  EXPECT_EQ(*static_cast<int*>(twist_index), 5);
  void* effect_index = tarsel::panel_get(&d, 0x8005);
  EXPECT_EQ(effect_index, twist_index);
  EXPECT_EQ(*static_cast<int*>(twist_index), 3);  // the later get wins
}

TEST_F(PanelTest, SwitchesAndNumbers) {
  struct Case {
    const char* name;
    unsigned long vid;
    int int_value;
    double double_value;
    int32_t UserData::*switch_field;
    double expected_weight;
    double UserData::*number_field = &UserData::posture_weight;
  };
  const Case cases[] = {
      {"Mix With FK", 0x8006, 1, 0, &UserData::mix_with_fk, 1.0},
      {"Excess Stretch off", 0x8007, 0, 0, &UserData::excess_stretch, 1.0},
      {"Arbitrary Limit", 0x8009, 3, 0, &UserData::arbitrary_limit, 1.0},
      {"weight 2.5", 0x8008, 0, 2.5, nullptr, 2.5},
      {"weight -0.5 clamped", 0x8008, 0, -0.5, nullptr, 0.0},
      {"weight 0", 0x8008, 0, 0.0, nullptr, 0.0},
      {"weight not a number", 0x8008, 0, std::nan(""), nullptr, 0.0},
      // Soft Reach within [0, 0.5] and Max Stretch within [1, 10], at a float's precision.
      {"soft reach 0.2", 0x800A, 0, 0.2, nullptr, static_cast<float>(0.2), &UserData::soft_reach},
      {"soft reach above", 0x800A, 0, 3.0, nullptr, 0.5, &UserData::soft_reach},
      {"soft reach below", 0x800A, 0, -1.0, nullptr, 0.0, &UserData::soft_reach},
      {"soft reach not a number", 0x800A, 0, std::nan(""), nullptr, 0.0, &UserData::soft_reach},
      {"stretch 2.5", 0x800B, 0, 2.5, nullptr, 2.5, &UserData::max_stretch},
      {"stretch above", 0x800B, 0, 1e300, nullptr, 10.0, &UserData::max_stretch},
      {"stretch below", 0x800B, 0, 0.5, nullptr, 1.0, &UserData::max_stretch},
      {"stretch not a number", 0x800B, 0, std::nan(""), nullptr, 1.0, &UserData::max_stretch},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    UserData d;
    int int_value = c.int_value;
    double double_value = c.double_value;
    void* value = c.switch_field != nullptr ? static_cast<void*>(&int_value)
                                            : static_cast<void*>(&double_value);
    EXPECT_EQ(tarsel::panel_set(&d, c.vid, value), LWXPRC_DFLT);
    if (c.switch_field != nullptr) {
      EXPECT_EQ(d.*(c.switch_field), c.int_value);
      EXPECT_EQ(tarsel::panel_get(&d, c.vid), &(d.*(c.switch_field)));
    } else {
      EXPECT_EQ(tarsel::panel_get(&d, c.vid), &(d.*(c.number_field)));
    }
    EXPECT_EQ(d.*(c.number_field), c.expected_weight);
  }
}

TEST_F(PanelTest, ChangesAreAnnouncedOnlyForKnownIds) {
  UserData d;
  int value = 1;
  tarsel::instance_update =
      reinterpret_cast<LWInstUpdate*>(fake::FakeHost::global(LWINSTUPDATE_GLOBAL, GFUSE_TRANSIENT));
  for (unsigned long vid = 0x8001; vid <= 0x800B; ++vid) {
    double weight = 0.5;
    void* v =
        vid >= 0x8008 && vid != 0x8009 ? static_cast<void*>(&weight) : static_cast<void*>(&value);
    EXPECT_EQ(tarsel::panel_set(&d, vid, v), LWXPRC_DFLT);
  }
  ASSERT_EQ(host.updates.size(), 11u);
  for (const fake::UpdateCall& call : host.updates) {
    EXPECT_EQ(call.class_name, "ItemMotionHandler");
    EXPECT_EQ(call.inst, &d);
  }

  host.updates.clear();
  const UserData before = d;
  for (unsigned long vid : {0ul, 0x8000ul, 0x800Cul, 0x9001ul}) {
    SCOPED_TRACE(vid);
    EXPECT_EQ(tarsel::panel_set(&d, vid, &value), LWXPRC_NONE);
    EXPECT_EQ(tarsel::panel_get(&d, vid), nullptr);
  }
  EXPECT_TRUE(host.updates.empty());
  EXPECT_EQ(d.twist, before.twist);
  EXPECT_EQ(d.mix_with_fk, before.mix_with_fk);
  EXPECT_EQ(d.posture_weight, before.posture_weight);

  tarsel::instance_update = nullptr;  // no service: the change is still stored
  int entry = 2;
  EXPECT_EQ(tarsel::panel_set(&d, 0x8002, &entry), LWXPRC_DFLT);
  EXPECT_EQ(d.twist_target, b);
  EXPECT_TRUE(host.updates.empty());
}

TEST_F(PanelTest, IndicesFollowTheSceneOfTheMoment) {
  UserData d;
  d.twist = light;
  d.goal_position = b2;
  d.twist_target = a;
  EXPECT_EQ(get_index(d, 0x8001), 4);
  EXPECT_EQ(get_index(d, 0x8004), 6);

  host.add(LWI_OBJECT, "D");  // a new object moves everything after the objects down one
  EXPECT_EQ(get_index(d, 0x8001), 5);
  EXPECT_EQ(get_index(d, 0x8004), 7);
  EXPECT_EQ(get_index(d, 0x8002), 1);
  EXPECT_EQ(d.twist, light);

  d.twist = fake::id(0x9999);  // an item that has left the scene shows entry 0
  EXPECT_EQ(get_index(d, 0x8001), 0);
}

}  // namespace
