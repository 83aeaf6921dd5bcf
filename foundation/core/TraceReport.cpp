// The trace set-up: a log only when the program's own signed settings file has a
// product section with at least one attribute, and the user's Trace key names a
// file and a level.
#include "foundation/archive/SignedArchive.h"
#include "foundation/base/CException.h"
#include "foundation/core/CLogable.h"
#include "foundation/core/CReportFactory.h"
#include "foundation/core/VRegistry.h"
#include "foundation/base/ApplicationIdentity.h"

#include <windows.h>

#include <cstring>
#include <memory>

namespace {

struct KeyClose {
  void operator()(HKEY__* key) const { RegCloseKey(key); }
};

bool archiveAllowsTrace() {
  ArchivePtr archive(loadSignedFile(nullptr));
  if (!archive) return false;
  const char* product = applicationIdentity().productName();
  if (product == nullptr) return false;
  ManifestSection* section = findSection(archive.get(), static_cast<uint32_t>(std::strlen(product)), product);
  if (section == nullptr) return false;
  AttributesPtr attributes(getAttributes(section));
  Blob name{0, nullptr};
  Blob value{0, nullptr};
  return attributes && nextAttribute(attributes.get(), &name, &value) == 0;
}

}  // namespace

CReport* createTraceReport() {
  if (!archiveAllowsTrace()) return nullptr;

  ApplicationIdentity& identity = applicationIdentity();
  VRegistry productKey;
  if (identity.productName() == nullptr ||
      !productKey.open(identity.companyKey(), identity.productName(), HKEY_CURRENT_USER, KEY_ALL_ACCESS))
    return nullptr;
  HKEY traceHandle = nullptr;
  if (RegOpenKeyExA(productKey.getKey(), "Trace", 0, KEY_ALL_ACCESS, &traceHandle) != ERROR_SUCCESS) return nullptr;
  std::unique_ptr<HKEY__, KeyClose> trace(traceHandle);

  // One byte over the longest text, so that a text stored without its NUL ends inside.
  char fileName[VRegistry::kMaxStringBytes + 1];
  DWORD type = 0;
  DWORD size = VRegistry::kMaxStringBytes;
  if (RegQueryValueExA(trace.get(), "Filename", nullptr, &type, reinterpret_cast<BYTE*>(fileName), &size) !=
      ERROR_SUCCESS)
    return nullptr;
  fileName[size <= VRegistry::kMaxStringBytes ? size : VRegistry::kMaxStringBytes] = '\0';
  if (fileName[0] == '\0') return nullptr;

  BYTE levelBytes[sizeof(DWORD)] = {0xFF, 0xFF, 0xFF, 0xFF};
  size = sizeof levelBytes;
  if (RegQueryValueExA(trace.get(), "LogLevel", nullptr, &type, levelBytes, &size) != ERROR_SUCCESS) return nullptr;
  DWORD level = 0;
  std::memcpy(&level, levelBytes, size < sizeof level ? size : sizeof level);
  if (level == 0xFFFFFFFFu) return nullptr;

  try {
    CReport* report = CReportFactory::getInstance(fileName);
    report->setLevel(static_cast<int>(level));
    return report;
  } catch (const VOQ::CNoSuchObjectException&) {
    return nullptr;
  }
}
