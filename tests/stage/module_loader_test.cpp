#include "stage/module_loader.h"

#include <gtest/gtest.h>

#include <string>

#include "sdk/lwmotion.h"
#include "sdk/lwrender.h"
#include "stage/error.h"
#include "stage/host.h"
#include "tests/stage/stage_test_util.h"

namespace {

struct Loaded_module : stage_test::Host_with_test_module {};

TEST(ModuleLoader, RefusesFilesThatAreNoGoodModulesNamingTheFile) {
  struct Case {
    const char* path;
    const char* problem;
  } cases[] = {
      {STAGE_TEST_DIR "/no-such-module.p", "cannot load module"},
      {STAGE_NO_DESCRIPTOR, "exports no _mod_descrip"},
      {STAGE_BAD_SYNC_MODULE, "bad sync word 0x12345678 (expected 0x04121994)"},
      {STAGE_BAD_VERSION_MODULE, "module system version 2 (expected 3)"},
      {STAGE_BAD_MACHINE_MODULE, "built for machine 0x00000200 (expected 0x00000300)"},
      {STAGE_NULL_STARTUP_MODULE, "startup failed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    stage::Host host;
    try {
      host.load_module(c.path);
      ADD_FAILURE() << "loaded";
    } catch (const stage::Error& e) {
      const std::string message = e.what();
      EXPECT_EQ(message.rfind(std::string(c.path) + ": ", 0), 0u) << message;
      EXPECT_NE(message.find(c.problem), std::string::npos) << message;
    }
    EXPECT_TRUE(host.modules().empty());
  }
}

// A module linked into the program is found by its registered name, with no file behind it, and
// passes the same checks as one loaded from a file.
TEST(ModuleLoader, TakesALinkedModuleByItsRegisteredNameWithTheFileChecks) {
  static int started = 0, stopped = 0;
  static ServerRecord servers[] = {{LWITEMMOTION_HCLASS, "Linked", nullptr, nullptr},
                                   {nullptr, nullptr, nullptr, nullptr}};
  static ModuleDescriptor good = {MOD_SYSSYNC,
                                  MOD_SYSVER,
                                  MOD_MACHINE,
                                  []() -> void* { return &++started; },
                                  [](void*) { ++stopped; },
                                  servers};
  static ModuleDescriptor bad_sync = good;
  bad_sync.sysSync = 0x12345678;
  stage::register_linked_module("linked:good", &good);
  stage::register_linked_module("linked:bad", &bad_sync);
  {
    stage::Host host;
    const stage::Module& module = host.load_module("linked:good");
    EXPECT_EQ(started, 1);
    EXPECT_EQ(module.server_data(), &started);
    ASSERT_EQ(module.servers().size(), 1u);
    EXPECT_EQ(module.servers()[0].name, "Linked");
    EXPECT_EQ(host.activate(LWITEMMOTION_HCLASS, "Linked", nullptr), AFUNC_BADGLOBAL);
    try {
      host.load_module("linked:bad");
      ADD_FAILURE() << "loaded";
    } catch (const stage::Error& e) {
      EXPECT_NE(std::string(e.what()).find("linked:bad: bad sync word"), std::string::npos)
          << e.what();
    }
    EXPECT_EQ(started, 1);
  }
  EXPECT_EQ(stopped, 1);
}

TEST_F(Loaded_module, ModuleListsItsServersInTableOrder) {
  const stage::Module& module = *host.modules().front();
  const std::vector<stage::Server_name> servers = module.servers();
  ASSERT_EQ(servers.size(), 3u);
  EXPECT_EQ(servers[0].class_name, LWITEMMOTION_HCLASS);
  EXPECT_EQ(servers[0].name, "Test_Bank");
  EXPECT_EQ(servers[1].class_name, LWITEMMOTION_ICLASS);
  EXPECT_EQ(servers[2].name, "Test_Idle");
  EXPECT_NE(module.find_server(LWITEMMOTION_ICLASS, "Test_Bank"), nullptr);
  EXPECT_EQ(module.find_server(LWITEMMOTION_ICLASS, "Test_Idle"), nullptr);
  EXPECT_EQ(module.find_server("Test_Bank", LWITEMMOTION_HCLASS), nullptr);
}

TEST_F(Loaded_module, ActivationPassesVersionAndGlobals) {
  for (int version : {3, 5}) {
    SCOPED_TRACE(version);
    LWInstanceFuncs inst{};
    LWItemFuncs item{};
    LWItemMotionHandler table{&inst, &item, nullptr, nullptr};
    EXPECT_EQ(host.activate(LWITEMMOTION_HCLASS, "Test_Bank", &table, version), AFUNC_BADVERSION);
    EXPECT_EQ(inst.create, nullptr);
  }
  EXPECT_THROW(host.activate(LWITEMMOTION_HCLASS, "Nobody", nullptr), stage::Error);

  // Without the item info service the handler cannot start; the host keeps that result.
  host.withhold_service(LWITEMINFO_GLOBAL);
  const LWItemID rig = scene.add(stage::Item_type::object, "Rig");
  try {
    host.attach_handler(rig, "Test_Bank");
    ADD_FAILURE() << "attached";
  } catch (const stage::Error& e) {
    EXPECT_NE(std::string(e.what()).find("activation failed with code 2"), std::string::npos)
        << e.what();
  }
  host.offer_service(LWITEMINFO_GLOBAL);
  ASSERT_NE(host.motion_server("Test_Bank"), nullptr);
  EXPECT_EQ(host.motion_server("Test_Bank")->activation, AFUNC_BADGLOBAL);
  EXPECT_TRUE(scene.at(rig).handlers.empty());
  EXPECT_EQ(host.motion_server("Nobody"), nullptr);
  EXPECT_THROW(host.attach_handler(rig, "Nobody"), stage::Error);
}

TEST_F(Loaded_module, HandlersGetInstancesDescriptionsAndItemLists) {
  const LWItemID rig = scene.add(stage::Item_type::object, "Rig");
  const LWInstance bank = host.attach_handler(rig, "Test_Bank");
  const LWInstance idle = host.attach_handler(rig, "Test_Idle");
  ASSERT_NE(bank, nullptr);
  EXPECT_EQ(idle, reinterpret_cast<LWInstance>(1));
  EXPECT_EQ(host.instance(rig, "Test_Bank"), bank);
  EXPECT_EQ(host.instance(rig, "Test_Bank", 1), nullptr);
  EXPECT_EQ(host.describe_handler(rig, 0), "Test_Bank");
  EXPECT_EQ(host.describe_handler(rig, 1), "");  // the idle server has no descln
  static_cast<Bank_instance*>(bank)->target = rig;
  EXPECT_EQ(host.used_items(rig, 0), (std::vector<LWItemID>{rig}));
  EXPECT_TRUE(host.used_items(rig, 1).empty());
  EXPECT_EQ(static_cast<Bank_instance*>(bank)->item, rig);
}

}  // namespace
