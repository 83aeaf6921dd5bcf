#include "cardvariant/Settings.h"

#include <atomic>
#include <memory>
#include <mutex>

#include "certcheck/VOQ_Configuration.h"

namespace cardvariant {

namespace {

std::atomic<VOQ_Configuration*> g_store{nullptr};

VOQ_Configuration& store() {
  if (VOQ_Configuration* given = g_store.load()) return *given;
  static std::once_flag once;
  static std::unique_ptr<VOQ_Configuration> own;
  std::call_once(once, [] { own = std::make_unique<VOQ_Configuration>(kCompany, kProduct, HKEY_LOCAL_MACHINE); });
  return *own;
}

}  // namespace

VOQ_Configuration* setSettingsStore(VOQ_Configuration* given) { return g_store.exchange(given); }

const VOQ_ConfigurationEntry* findSetting(const char* subKey, const char* valueName) {
  if (valueName == nullptr) return nullptr;
  return store().find(HKEY_LOCAL_MACHINE, subKey, valueName);
}

std::optional<std::string> findText(const char* subKey, const char* valueName) {
  const VOQ_ConfigurationEntry* value = findSetting(subKey, valueName);
  if (value == nullptr || value->getType() != REG_SZ || value->getString() == nullptr) return std::nullopt;
  return std::string(value->getString());
}

}  // namespace cardvariant
