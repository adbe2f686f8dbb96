// The built module file as a host meets it: dlopen, _mod_descrip, startup, the server table.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "sdk/lwmodule.h"
#include "sdk/lwmotion.h"

namespace {

void* no_services(const char*, int) { return nullptr; }

class ModuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    handle = dlopen(TARSEL_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << dlerror();
    descriptor = static_cast<ModuleDescriptor*>(dlsym(handle, MOD_DESCRIPTOR_SYMBOL));
    ASSERT_NE(descriptor, nullptr);
  }
  void TearDown() override {
    if (handle != nullptr) dlclose(handle);
  }
  void* handle = nullptr;
  ModuleDescriptor* descriptor = nullptr;
};

TEST_F(ModuleTest, DescriptorNamesTheThreeServers) {
  EXPECT_EQ(descriptor->sysSync, 0x04121994u);
  EXPECT_EQ(descriptor->sysVersion, 3);
  EXPECT_EQ(descriptor->sysMachine, 0x300u);
  void* module_data = descriptor->startup();
  EXPECT_EQ(module_data, reinterpret_cast<void*>(std::uintptr_t{4}));

  struct Row {
    const char* class_name;
    const char* name;
  };
  const Row rows[] = {{"ItemMotionHandler", "Tarsel_Top"},
                      {"ItemMotionInterface", "Tarsel_Top"},
                      {"ItemMotionHandler", "Tarsel"}};
  const ServerRecord* server = descriptor->serverDefs;
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.class_name) + " " + row.name);
    EXPECT_STREQ(server->className, row.class_name);
    EXPECT_STREQ(server->name, row.name);
    EXPECT_EQ(server->tagInfo, nullptr);
    ASSERT_NE(server->activate, nullptr);
    // A foreign version is refused; a host without services gets "missing global".
    EXPECT_EQ(server->activate(5, no_services, nullptr, module_data), AFUNC_BADVERSION);
    EXPECT_EQ(server->activate(4, no_services, nullptr, module_data), AFUNC_BADGLOBAL);
    ++server;
  }
  EXPECT_EQ(server->className, nullptr);
  EXPECT_EQ(server->name, nullptr);
  EXPECT_EQ(server->activate, nullptr);
  descriptor->shutdown(module_data);
}

TEST_F(ModuleTest, OnlyTheDescriptorIsVisible) {
  // The module's own names stay inside it (libc's shutdown would be found through its
  // dependencies, so only names that exist nowhere else are asked for).
  for (const char* hidden : {"_ZN6tarsel12bone_resultsE", "_ZN6tarsel9item_infoE",
                             "_ZN6tarsel13bone_evaluateEPvPK21st_LWItemMotionAccess"}) {
    SCOPED_TRACE(hidden);
    EXPECT_EQ(dlsym(handle, hidden), nullptr);
  }
}

}  // namespace
