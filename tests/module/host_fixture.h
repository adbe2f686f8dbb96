// Common set-up of the boundary tests: a fresh fake host, the module's service slots pointing at
// it, and an empty result table.
#pragma once

#include <gtest/gtest.h>

#include "module/bone_results.h"
#include "module/service_slots.h"
#include "tests/module/fake_host.h"

class HostTest : public ::testing::Test {
 protected:
  HostTest() {
    tarsel::item_info = &host.item_info;
    tarsel::bone_info = &host.bone_info;
    tarsel::panel_service = &host.xpanel;
    tarsel::instance_update = nullptr;
    tarsel::bone_results.clear();
  }
  ~HostTest() override {
    tarsel::item_info = nullptr;
    tarsel::bone_info = nullptr;
    tarsel::panel_service = nullptr;
    tarsel::instance_update = nullptr;
    tarsel::bone_results.clear();
  }

  fake::FakeHost host;
};
