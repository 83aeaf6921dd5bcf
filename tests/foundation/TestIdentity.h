// An application identity that a test fills, as a plug-in or a setup tool fills its
// own: in place for the object's life.
#pragma once

#include "foundation/base/ApplicationIdentity.h"

#include <windows.h>

namespace foundationtest {

struct TestIdentity : ApplicationIdentity {
  TestIdentity() { setApplicationIdentity(this); }
  ~TestIdentity() override { setApplicationIdentity(nullptr); }
  TestIdentity(const TestIdentity&) = delete;
  TestIdentity& operator=(const TestIdentity&) = delete;

  const char* titleText() override { return title; }
  const char* settingsFileName() override { return settingsFile; }
  HINSTANCE resourceModule() override { return resources; }
  const char* productName() override { return product; }

  const char* title = nullptr;
  const char* settingsFile = nullptr;
  HINSTANCE resources = GetModuleHandleA(nullptr);
  const char* product = nullptr;
};

}  // namespace foundationtest
