#include "foundation/base/ApplicationIdentity.h"

#include <atomic>

namespace {

class PlainIdentity : public ApplicationIdentity {
 public:
  const char* titleText() override { return nullptr; }
  const char* settingsFileName() override { return nullptr; }
  HINSTANCE resourceModule() override { return GetModuleHandleA(nullptr); }
  const char* productName() override { return nullptr; }
};

std::atomic<ApplicationIdentity*> g_identity{nullptr};

}  // namespace

ApplicationIdentity* setApplicationIdentity(ApplicationIdentity* identity) { return g_identity.exchange(identity); }

ApplicationIdentity& applicationIdentity() {
  if (ApplicationIdentity* identity = g_identity.load()) return *identity;
  // Lives to the very end: exit handlers of the foundation's singletons still ask.
  static PlainIdentity* const plain = new PlainIdentity();
  return *plain;
}
