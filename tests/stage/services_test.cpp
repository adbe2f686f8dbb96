#include "stage/services.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "stage/host.h"
#include "tests/stage/stage_test_util.h"

namespace {

using stage::Item_type;
using stage::Vec3;

template <typename T>
T* service(const char* name) {
  return static_cast<T*>(stage::global_lookup(name, GFUSE_TRANSIENT));
}

// A scene with an object holding two bones, a camera and a light, with goals, limits, keys and
// (inactive) handler names, and the host made current as during a module call.
struct Services : ::testing::Test {
  Services() : guard(host) {
    stage::Scene& s = host.scene();
    rig = s.add(Item_type::object, "Rig");
    cam = s.add(Item_type::camera, "Cam");
    lamp = s.add(Item_type::light, "Lamp");
    upper = s.add(Item_type::bone, "Upper", rig);
    lower = s.add(Item_type::bone, "Lower", rig);
    s.set_parent(lower, upper);
    stage::Item& lo = s.at(lower);
    lo.goal = cam;
    lo.rest_position = {0, 0, 1.5};
    lo.rest_rotation = {0.25, -0.5, 0};
    lo.rest_length = 2.5;
    lo.limits.flags = 0x2 | 0x8;  // pitch, plus a bit the service does not report
    lo.limits.lower = {-1, -0.5, -3};
    lo.limits.upper = {1, 0.75, 3};
    lo.channels[stage::ch_position].keys = {{0.0, {0, 0, 0}}, {1.0, {2, 4, 6}}};
    for (const char* name : {"First", "Second"}) {
      stage::Attached_handler h;
      h.server = name;
      lo.handlers.push_back(h);
    }
    info = service<LWItemInfo>(LWITEMINFO_GLOBAL);
    bones = service<LWBoneInfo>(LWBONEINFO_GLOBAL);
  }

  stage::Host host;
  stage::Current_host guard;
  LWItemID rig, cam, lamp, upper, lower;
  LWItemInfo* info;
  LWBoneInfo* bones;
};

TEST_F(Services, ItemInfoWalksTheHierarchy) {
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->first(LWI_OBJECT, LWITEM_NULL), rig);
  EXPECT_EQ(info->next(rig), LWITEM_NULL);
  EXPECT_EQ(info->first(LWI_CAMERA, LWITEM_NULL), cam);
  EXPECT_EQ(info->first(LWI_LIGHT, LWITEM_NULL), lamp);
  EXPECT_EQ(info->first(LWI_BONE, rig), upper);
  EXPECT_EQ(info->next(upper), lower);
  EXPECT_EQ(info->next(lower), LWITEM_NULL);
  EXPECT_EQ(info->firstChild(rig), upper);
  EXPECT_EQ(info->nextChild(rig, upper), LWITEM_NULL);
  EXPECT_EQ(info->firstChild(upper), lower);
  EXPECT_EQ(info->parent(lower), upper);
  EXPECT_EQ(info->parent(rig), LWITEM_NULL);
  EXPECT_EQ(info->goal(lower), cam);
  EXPECT_EQ(info->goal(upper), LWITEM_NULL);
  EXPECT_STREQ(info->name(lower), "Lower");
  EXPECT_STREQ(info->name(LWITEM_NULL), "(none)");
  EXPECT_STREQ(info->name(stage::id_from_value(5)), "");  // never null for an unknown item
}

TEST_F(Services, ParamGivesKeyedChannelsAndDefaults) {
  struct Case {
    LWItemID item;
    LWItemParam param;
    double time;
    Vec3 expected;
  } cases[] = {{lower, LWIP_POSITION, 0.5, {1, 2, 3}},
               {lower, LWIP_POSITION, 7.0, {2, 4, 6}},
               {lower, LWIP_SCALING, 0.0, {1, 1, 1}},
               {lower, LWIP_PIVOT_ROT, 0.0, {0, 0, 0}},
               {lower, 99, 0.0, {0, 0, 0}},
               {stage::id_from_value(5), LWIP_SCALING, 0.0, {0, 0, 0}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.param);
    double out[3] = {-1, -1, -1};
    info->param(c.item, c.param, c.time, out);
    EXPECT_TRIPLE_NEAR((Vec3{out[0], out[1], out[2]}), c.expected, 1e-12);
  }
}

TEST_F(Services, LimitsReportTheRotationFlagsAndBoundsOnly) {
  double lo[3], hi[3];
  EXPECT_EQ(info->limits(lower, LWIP_ROTATION, lo, hi), 0x2u);
  EXPECT_TRIPLE_NEAR((Vec3{lo[0], lo[1], lo[2]}), (Vec3{-1, -0.5, -3}), 0);
  EXPECT_TRIPLE_NEAR((Vec3{hi[0], hi[1], hi[2]}), (Vec3{1, 0.75, 3}), 0);
  EXPECT_EQ(info->limits(lower, LWIP_POSITION, lo, hi), 0u);
  EXPECT_EQ(lo[1], 0.0);
  EXPECT_EQ(info->limits(upper, LWIP_ROTATION, lo, hi), 0u);
  EXPECT_EQ(info->limits(LWITEM_NULL, LWIP_ROTATION, lo, hi), 0u);
}

TEST_F(Services, ServerNamesByClassAndIndexFromOne) {
  EXPECT_STREQ(info->server(lower, LWITEMMOTION_HCLASS, 1), "First");
  EXPECT_STREQ(info->server(lower, LWITEMMOTION_HCLASS, 2), "Second");
  EXPECT_EQ(info->server(lower, LWITEMMOTION_HCLASS, 3), nullptr);
  EXPECT_EQ(info->server(lower, LWITEMMOTION_HCLASS, 0), nullptr);
  EXPECT_EQ(info->server(lower, "ChannelHandler", 1), nullptr);
  EXPECT_EQ(info->server(lower, nullptr, 1), nullptr);
  EXPECT_EQ(info->server(upper, LWITEMMOTION_HCLASS, 1), nullptr);
}

TEST_F(Services, BoneInfoGivesTheRestPose) {
  ASSERT_NE(bones, nullptr);
  double out[3];
  bones->restParam(lower, LWIP_ROTATION, out);
  EXPECT_TRIPLE_NEAR((Vec3{out[0], out[1], out[2]}), (Vec3{0.25, -0.5, 0}), 0);
  bones->restParam(lower, LWIP_POSITION, out);
  EXPECT_TRIPLE_NEAR((Vec3{out[0], out[1], out[2]}), (Vec3{0, 0, 1.5}), 0);
  bones->restParam(lower, LWIP_SCALING, out);
  EXPECT_TRIPLE_NEAR((Vec3{out[0], out[1], out[2]}), (Vec3{0, 0, 0}), 0);
  bones->restParam(rig, LWIP_ROTATION, out);  // not a bone
  EXPECT_TRIPLE_NEAR((Vec3{out[0], out[1], out[2]}), (Vec3{0, 0, 0}), 0);
  EXPECT_EQ(bones->restLength(lower), 2.5);
  EXPECT_EQ(bones->restLength(cam), 0.0);
}

TEST_F(Services, WithheldAndUnknownServicesAreNull) {
  const char* const names[] = {LWITEMINFO_GLOBAL, LWBONEINFO_GLOBAL, LWXPANELFUNCS_GLOBAL,
                               LWINSTUPDATE_GLOBAL};
  for (const char* withheld : names) {
    SCOPED_TRACE(withheld);
    host.withhold_service(withheld);
    for (const char* name : names) {
      EXPECT_EQ(stage::global_lookup(name, GFUSE_TRANSIENT) == nullptr,
                std::strcmp(name, withheld) == 0)
          << name;
    }
    host.offer_service(withheld);
    EXPECT_NE(stage::global_lookup(withheld, GFUSE_TRANSIENT), nullptr);
  }
  EXPECT_EQ(stage::global_lookup("LW Item Info 2", GFUSE_TRANSIENT), nullptr);
  EXPECT_EQ(stage::global_lookup("", GFUSE_TRANSIENT), nullptr);
  EXPECT_EQ(stage::global_lookup(nullptr, GFUSE_TRANSIENT), nullptr);
}

TEST(ServicesWithoutHost, AnswerNothing) {
  EXPECT_EQ(stage::Current_host::get(), nullptr);
  EXPECT_EQ(stage::global_lookup(LWITEMINFO_GLOBAL, GFUSE_TRANSIENT), nullptr);
  // A module that kept a service table and calls it outside any host call gets "none".
  stage::Host host;
  LWItemInfo* info = nullptr;
  LWItemID rig = host.scene().add(Item_type::object, "Rig");
  {
    stage::Current_host guard(host);
    info = service<LWItemInfo>(LWITEMINFO_GLOBAL);
    EXPECT_EQ(info->first(LWI_OBJECT, LWITEM_NULL), rig);
    {
      stage::Host other;  // calls nest: the inner host is current, then the outer again
      stage::Current_host inner(other);
      EXPECT_EQ(info->first(LWI_OBJECT, LWITEM_NULL), LWITEM_NULL);
    }
    EXPECT_EQ(info->first(LWI_OBJECT, LWITEM_NULL), rig);
  }
  EXPECT_EQ(info->first(LWI_OBJECT, LWITEM_NULL), LWITEM_NULL);
  EXPECT_STREQ(info->name(rig), "");
}

}  // namespace
