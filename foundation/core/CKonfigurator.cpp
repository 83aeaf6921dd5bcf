#include "foundation/core/CKonfigurator.h"

#include "foundation/archive/InstalledArchive.h"
#include "foundation/archive/SignedArchive.h"
#include "foundation/base/ApplicationIdentity.h"
#include "foundation/base/CException.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

VOQ::VSingleton<CKonfigurator> CKonfigurator::s_singleton;

namespace {

const char* keyText(const CKonfigParam& param) {
  return param.getKind() == CKonfigParam::kKey ? static_cast<const char*>(param.getValue()) : nullptr;
}

ManifestSection* sectionNamed(SignedArchive* archive, const char* name) {
  if (name == nullptr || *name == '\0') return nullptr;
  return findSection(archive, static_cast<uint32_t>(std::strlen(name)), name);
}

// 1 and the number; a missing value or a stored -1 is "not found": 0.
int readNumber(HKEY key, const char* name, DWORD& number) {
  BYTE data[sizeof(DWORD)] = {0, 0, 0, 0};
  DWORD type = 0;
  DWORD size = sizeof data;
  if (RegQueryValueExA(key, name, nullptr, &type, data, &size) != ERROR_SUCCESS) return 0;
  std::memcpy(&number, data, sizeof number);
  return number == 0xFFFFFFFFu ? 0 : 1;
}

// 1 and the text (up to 1024 bytes, ending at its first NUL); a missing, longer or empty text: 0.
int readText(HKEY key, const char* name, std::string& text) {
  char data[VRegistry::kMaxStringBytes + 1];
  DWORD type = 0;
  DWORD size = VRegistry::kMaxStringBytes;
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size) != ERROR_SUCCESS) return 0;
  data[size <= VRegistry::kMaxStringBytes ? size : VRegistry::kMaxStringBytes] = '\0';
  text = data;
  return text.empty() ? 0 : 1;
}

}  // namespace

int CKonfigParam::put(int kind, const void* value) const {
  if (kind != m_kind || m_value == nullptr || value == nullptr) return 0;
  switch (kind) {
    case kNumber:
    case kNumber2:
      *static_cast<DWORD*>(m_value) = *static_cast<const DWORD*>(value);
      return 1;
    case kString:
      *static_cast<std::string*>(m_value) = *static_cast<const std::string*>(value);
      return 1;
    case kVString:
      static_cast<VString*>(m_value)->assign(*static_cast<const VString*>(value));
      return 1;
    default:
      return 0;
  }
}

CKonfigurator::CKonfigurator(const char* company, const char* product) {
  m_company.assign(company);
  m_product.assign(product);
  if (company == nullptr) throw VOQ::CBadArgumentException("CKonfigurator::CKonfigurator", "Invalid Parameter.\n");
  if (!m_machineKey.open(company, product, HKEY_LOCAL_MACHINE, KEY_READ))
    throw VOQ::CNoSuchObjectException("CKonfigurator::CKonfigurator", "Cannot open Registry.\n");
  if (!m_userKey.open(company, product, HKEY_CURRENT_USER, KEY_ALL_ACCESS))
    throw VOQ::CNoSuchObjectException("CKonfigurator::CKonfigurator", "Cannot open Registry.\n");
  static std::once_flag registered;
  std::call_once(registered, [] { std::atexit(&CKonfigurator::deleteAtExit); });
}

CKonfigurator::~CKonfigurator() {
  m_cursor = 0;
  s_singleton.forget(this);
}

void CKonfigurator::deleteAtExit() { delete s_singleton.get(); }

bool CKonfigurator::lock() { return s_singleton.semaphore().acquire() == VSingletonSemaphore::kOk; }

bool CKonfigurator::unlock() { return s_singleton.semaphore().release() == VSingletonSemaphore::kOk; }

CKonfigurator* CKonfigurator::getInstance() {
  return s_singleton.getOrMake(&lock, &unlock, [] {
    return std::make_unique<CKonfigurator>(applicationIdentity().companyKey(), nullptr);
  });
}

int CKonfigurator::get(const char* source, const CKonfigParam* params, std::size_t count) {
  if (source == nullptr || params == nullptr || count == 0 || params[0].getKind() == CKonfigParam::kNone) return -1;
  enum class Source { User, Machine, Internal, External };
  Source which;
  if (std::strcmp(source, "RegistryUser") == 0) {
    which = Source::User;
  } else if (std::strcmp(source, "RegistryMachine") == 0) {
    which = Source::Machine;
  } else if (std::strcmp(source, "SecureInternal") == 0) {
    which = Source::Internal;
  } else if (std::strcmp(source, "SecureExternal") == 0) {
    which = Source::External;
  } else {
    return -1;
  }
  if (params[0].getKind() != CKonfigParam::kKey) return -1;
  VCriticalSectionLock lock(m_sourceLock);
  m_cursor = 1;
  switch (which) {
    case Source::User:
      return lookupRegistry(m_userKey, KEY_ALL_ACCESS, params, count);
    case Source::Machine:
      return lookupRegistry(m_machineKey, KEY_READ, params, count);
    case Source::Internal:
      return lookupSigned(false, params, count);
    case Source::External:
      return lookupSigned(true, params, count);
  }
  return -1;
}

int CKonfigurator::lookupRegistry(VRegistry& root, REGSAM access, const CKonfigParam* params, std::size_t count) {
  VCriticalSectionLock walk(m_walkLock);
  HKEY own = root.getKey();
  HKEY current = own;
  std::size_t element = 0;
  // Every element followed by another path element names a subkey; a subkey that
  // cannot be opened ends the walk, and the path element after it then stands
  // where the output belongs, which no output kind matches.
  while (element + 1 < count && params[element + 1].getKind() == CKonfigParam::kKey) {
    const char* name = keyText(params[element]);
    HKEY next = nullptr;
    if (name == nullptr || current == nullptr || RegOpenKeyExA(current, name, 0, access, &next) != ERROR_SUCCESS) break;
    if (current != own) RegCloseKey(current);
    current = next;
    ++element;
  }
  m_cursor = element + 1;
  int result = 1;
  const char* valueName = keyText(params[element]);
  if (element + 1 < count && valueName != nullptr && current != nullptr) {
    const CKonfigParam& output = params[element + 1];
    switch (output.getKind()) {
      case CKonfigParam::kNumber:
      case CKonfigParam::kNumber2: {
        DWORD number = 0;
        if (readNumber(current, valueName, number) && output.put(output.getKind(), &number)) result = 0;
        break;
      }
      case CKonfigParam::kString: {
        std::string text;
        if (readText(current, valueName, text) && output.put(CKonfigParam::kString, &text)) result = 0;
        break;
      }
      case CKonfigParam::kVString: {
        std::string text;
        if (readText(current, valueName, text)) {
          VString value(text.c_str());
          if (output.put(CKonfigParam::kVString, &value)) result = 0;
        }
        break;
      }
      default:
        break;
    }
  }
  if (current != own) RegCloseKey(current);
  return result;
}

int CKonfigurator::lookupSigned(bool external, const CKonfigParam* params, std::size_t count) {
  const char* first = keyText(params[0]);
  if (first == nullptr) return 1;
  ArchivePtr archive(loadSignedFile(external ? first : nullptr));
  if (!archive) return 1;

  // A section named like the first element takes precedence over the
  // application's own section; the second parameter then names the attribute.
  ManifestSection* section = sectionNamed(archive.get(), first);
  const CKonfigParam* attribute = nullptr;
  const CKonfigParam* output = nullptr;
  if (section != nullptr) {
    if (count < 2 || params[1].getKind() != CKonfigParam::kKey) return 1;
    attribute = &params[1];
    output = count > 2 ? &params[2] : nullptr;
    m_cursor = 2;
  } else {
    section = sectionNamed(archive.get(), applicationIdentity().titleText());
    attribute = &params[0];
    output = count > 1 ? &params[1] : nullptr;
    m_cursor = 1;
  }
  const char* name = keyText(*attribute);
  if (section == nullptr || output == nullptr || name == nullptr || output->getKind() != CKonfigParam::kString)
    return 1;

  AttributesPtr attributes(getAttributes(section));
  const size_t length = std::strlen(name);
  Blob attributeName{0, nullptr};
  Blob value{0, nullptr};
  while (attributes && nextAttribute(attributes.get(), &attributeName, &value) == 0) {
    if (attributeName.length == length && std::memcmp(attributeName.data, name, length) == 0) {
      const std::string text(reinterpret_cast<const char*>(value.data), value.length);
      return output->put(CKonfigParam::kString, &text) ? 0 : 1;
    }
  }
  return 1;
}

void CKonfigurator::getModulePath(const CKonfigParam& module, const char* fileName, std::string& target) {
  const char* name = keyText(module);
  if (fileName == nullptr || name == nullptr) return;
  InstalledSection section;
  if (!readInstalledSection(fileName, name, section)) return;
  const size_t colon = section.name.find(':');
  if (colon == std::string::npos) return;
  target.assign(section.name, colon + 1, std::string::npos);
}
