#include "certcheck/VOQ_Configuration.h"

#include <string.h>

#include "certcheck/VOQ_TraceLog.h"

namespace {

// Key paths longer than this are not followed (the store formats them into buffers of
// 1024 bytes); a sub-tree whose path does not fit is skipped, the rest is loaded.
const size_t kMaxPath = 1023;
const DWORD kNameBuffer = 256;
const DWORD kKeyNameBuffer = 1024;

bool isMachineRoot(HKEY root) { return root == HKEY_LOCAL_MACHINE; }

// "parent\child", or false when the path would be too long.
bool joinPath(const std::string& parent, const char* child, std::string& path) {
  if (parent.size() + 1 + strlen(child) > kMaxPath) return false;
  path = parent + "\\" + child;
  return true;
}

class KeyCloser {
 public:
  explicit KeyCloser(HKEY key) : key(key) {}
  ~KeyCloser() { RegCloseKey(key); }
  KeyCloser(const KeyCloser&) = delete;
  KeyCloser& operator=(const KeyCloser&) = delete;

 private:
  HKEY key;
};

// Opens or creates root\path and writes the value; ERROR_SUCCESS or the failure.
LONG writeValue(HKEY root, const char* path, const char* name, DWORD type, const BYTE* data, DWORD size) {
  HKEY key = nullptr;
  LONG status = RegCreateKeyExA(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  if (status != ERROR_SUCCESS) return status;
  KeyCloser closer(key);
  return RegSetValueExA(key, name, 0, type, data, size);
}

const char* typeText(DWORD type) {
  static const char* const kTypes[] = {"type = REG_NONE",      "type = REG_SZ",
                                       "type = REG_EXPAND_SZ", "type = REG_BINARY",
                                       "type = REG_DWORD",     "type = REG_DWORD_BIG_ENDIAN",
                                       "type = REG_LINK",      "type = REG_MULTI_SZ",
                                       "type = REG_RESOURCE_LIST"};
  return type < sizeof kTypes / sizeof kTypes[0] ? kTypes[type] : nullptr;
}

}  // namespace

// ---- VOQ_ConfigurationEntry ----

VOQ_ConfigurationEntry::VOQ_ConfigurationEntry(HKEY root, const char* subKey, const char* name, DWORD type,
                                               const void* data, DWORD size)
    : root(root), hasSubKey(subKey != nullptr), subKey(subKey ? subKey : ""), name(name ? name : ""),
      type(type) {
  if (data != nullptr && size != 0) keepData(data, size);
}

VOQ_ConfigurationEntry::VOQ_ConfigurationEntry(HKEY root, const char* subKey, const char* valueName)
    : root(root), hasSubKey(subKey != nullptr), subKey(subKey ? subKey : ""),
      name(valueName ? valueName : ""), type(REG_NONE) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, subKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return;
  KeyCloser closer(key);
  DWORD valueType = REG_NONE;
  DWORD valueSize = 0;
  if (RegQueryValueExA(key, valueName, nullptr, &valueType, nullptr, &valueSize) != ERROR_SUCCESS) return;
  std::vector<BYTE> buffer(valueSize + 1, 0);
  if (RegQueryValueExA(key, valueName, nullptr, &valueType, buffer.data(), &valueSize) != ERROR_SUCCESS) return;
  type = valueType;
  if (valueSize != 0) keepData(buffer.data(), valueSize);
}

void VOQ_ConfigurationEntry::keepData(const void* bytes, DWORD count) {
  const BYTE* begin = static_cast<const BYTE*>(bytes);
  data.assign(begin, begin + count);
  data.push_back(0);
  size = count;
  hasData = true;
}

const char* VOQ_ConfigurationEntry::getString() const {
  if (type != REG_SZ || !hasData) return nullptr;
  return reinterpret_cast<const char*>(data.data());
}

DWORD VOQ_ConfigurationEntry::getDword() const {
  if (!hasData || size < sizeof(DWORD)) return 0;
  DWORD value = 0;
  memcpy(&value, data.data(), sizeof value);
  return value;
}

const BYTE* VOQ_ConfigurationEntry::getBinary() const { return type == REG_BINARY ? getData() : nullptr; }

void VOQ_ConfigurationEntry::getMultiString(const BYTE*& multiData, DWORD& multiSize) const {
  if (type == REG_MULTI_SZ) {
    multiData = getData();
    multiSize = size;
  } else {
    multiData = nullptr;
    multiSize = 0;
  }
}

HKEY VOQ_ConfigurationEntry::getRoot() const {
  return root == HKEY_CURRENT_USER || root == HKEY_LOCAL_MACHINE ? root : nullptr;
}

void VOQ_ConfigurationEntry::setValue(DWORD newType, const void* newData, DWORD newSize) {
  // Setting what the entry already holds is no change: the store does not write it back, so
  // a plug-in that resets an empty value at every start neither grows the user's registry
  // nor overwrites what another process wrote meanwhile.
  const bool hasNew = newData != nullptr && newSize != 0;
  if (newType == type && hasNew == hasData && (!hasNew || (newSize == size && memcmp(newData, data.data(), size) == 0)))
    return;
  data.clear();
  hasData = false;
  size = 0;
  type = newType;
  if (newData != nullptr && newSize != 0) keepData(newData, newSize);
  changed = true;
}

LONG VOQ_ConfigurationEntry::writeToRegistry() const {
  return writeValue(root, getSubKey(), name.c_str(), type, getData(), size);
}

// ---- VOQ_Configuration ----

VOQ_Configuration::VOQ_Configuration(const char* company, const char* product, HKEY root)
    : root(root), company(company), product(product) {
  baseKey = std::string("SOFTWARE\\") + (company ? company : "");
  if (!joinPath(baseKey, product ? product : "", productKey)) return;  // too long: an empty store
  load(nullptr);
}

VOQ_Configuration::~VOQ_Configuration() { save(); }

void VOQ_Configuration::load(const char* subKey) {
  std::string path = productKey;
  if (subKey != nullptr && !joinPath(productKey, subKey, path)) return;
  HKEY key = nullptr;
  if (RegOpenKeyA(root, path.c_str(), &key) != ERROR_SUCCESS) return;
  KeyCloser closer(key);

  for (DWORD index = 0;; ++index) {
    char name[kNameBuffer];
    DWORD nameLength = kNameBuffer;
    DWORD type = REG_NONE;
    DWORD size = 0;
    LONG status = RegEnumValueA(key, index, name, &nameLength, nullptr, &type, nullptr, &size);
    // A name too long for the buffer is skipped; the values after it still load.
    if (status == ERROR_MORE_DATA) continue;
    if (status != ERROR_SUCCESS) break;
    if (size == 0) continue;
    // One byte more than announced, zeroed, so that the data always end in a NUL.
    std::vector<BYTE> buffer(static_cast<size_t>(size) + 1, 0);
    nameLength = kNameBuffer;
    DWORD filled = size + 1;
    status = RegEnumValueA(key, index, name, &nameLength, nullptr, &type, buffer.data(), &filled);
    if (status == ERROR_MORE_DATA) continue;  // it grew in between; it is not loaded
    if (status != ERROR_SUCCESS) break;
    if (filled == 0) continue;
    auto entry = std::make_unique<VOQ_ConfigurationEntry>(root, subKey, name, type, buffer.data(), filled);
    entry->setChanged(false);
    entries.insertAt(entry.release(), entries.getCount(), true, false);
  }

  for (DWORD index = 0;; ++index) {
    char name[kKeyNameBuffer];
    if (RegEnumKeyA(key, index, name, kKeyNameBuffer) != ERROR_SUCCESS) break;
    std::string child = name;
    if (subKey != nullptr && !joinPath(subKey, name, child)) continue;
    load(child.c_str());
  }
}

VOQ_ConfigurationEntry* VOQ_Configuration::find(HKEY requestedRoot, const char* subKey, const char* valueName) {
  if (valueName == nullptr) return nullptr;
  const bool machine = isMachineRoot(requestedRoot);
  const bool productKeyItself = subKey == nullptr || subKey[0] == '\0';
  VOQ_ConfigurationEntry* found = nullptr;
  entries.forEach([&](VOQ_ConfigurationEntry* entry) {
    if (found != nullptr || isMachineRoot(entry->getRoot()) != machine) return;
    if (strcmp(entry->getName(), valueName) != 0) return;
    const char* entrySubKey = entry->getSubKey();
    const bool sameKey = entrySubKey == nullptr ? productKeyItself
                                                : subKey != nullptr && strcmp(entrySubKey, subKey) == 0;
    if (sameKey) found = entry;
  });
  return found;
}

void VOQ_Configuration::set(HKEY entryRoot, const char* subKey, const char* valueName, DWORD type,
                            const void* data, DWORD size) {
  if (VOQ_ConfigurationEntry* entry = find(entryRoot, subKey, valueName)) {
    entry->setValue(type, data, size);
    return;
  }
  // An empty sub-key names the product key, as in find.
  const char* keptSubKey = subKey != nullptr && subKey[0] != '\0' ? subKey : nullptr;
  entries.insertAt(new VOQ_ConfigurationEntry(entryRoot, keptSubKey, valueName, type, data, size),
                   entries.getCount(), true, false);
}

void VOQ_Configuration::save() {
  if (productKey.empty()) return;
  entries.forEach([this](VOQ_ConfigurationEntry* entry) {
    if (!entry->isChanged()) return;
    std::string path = productKey;
    if (entry->getSubKey() != nullptr && !joinPath(productKey, entry->getSubKey(), path)) return;
    if (writeValue(entry->root, path.c_str(), entry->getName(), entry->getType(), entry->getData(),
                   entry->getSize()) == ERROR_SUCCESS) {
      entry->setChanged(false);
    }
  });
}

void VOQ_Configuration::dump(VOQ_TraceContext* context) {
  if (context == nullptr) return;
  context->log(nullptr, "Actual configuration:", VOQ_TraceContext::INSIDE);
  context->log(nullptr, "=====================", VOQ_TraceContext::INSIDE);
  entries.forEach([context](VOQ_ConfigurationEntry* entry) {
    context->log(nullptr,
                 isMachineRoot(entry->getRoot()) ? "root = HKEY_LOCAL_MACHINE" : "root = HKEY_CURRENT_USER",
                 VOQ_TraceContext::INSIDE);
    const char* subKey = entry->getSubKey();
    std::string line = std::string("subKey = ") + (subKey ? subKey : "(null)") + " name = " + entry->getName();
    context->log(nullptr, line.c_str(), VOQ_TraceContext::INSIDE);
    const char* type = typeText(entry->getType());
    if (type == nullptr) return;
    context->log(nullptr, type, VOQ_TraceContext::INSIDE);
    if (entry->getType() == REG_SZ) {
      const char* text = entry->getString();
      line = std::string("value = ") + (text ? text : "(null)");
      context->log(nullptr, line.c_str(), VOQ_TraceContext::INSIDE);
    } else if (entry->getType() == REG_DWORD) {
      line = "value = " + std::to_string(entry->getDword());
      context->log(nullptr, line.c_str(), VOQ_TraceContext::INSIDE);
    }
  });
}
