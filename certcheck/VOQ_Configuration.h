// The registry configuration store: one product key mirrored in memory.
//
// The constructor reads every value below SOFTWARE\<company>\<product> of its root,
// sub-keys included; callers find and change entries in memory; `save` (and the
// destructor) writes back what was added or changed since it was loaded, so that
// values another process wrote meanwhile survive. No operation reports an error:
// a missing key gives an empty store, unreadable values are skipped, failed writes
// (a standard user's HKEY_LOCAL_MACHINE) are ignored.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <windows.h>

#include "foundation/util/VOQ_List.h"

class VOQ_TraceContext;

// One registry value.
class VOQ_ConfigurationEntry {
 public:
  // Copies the texts (a null sub-key means the product key itself) and, when data and
  // size are given, the data.
  VOQ_ConfigurationEntry(HKEY root, const char* subKey, const char* name, DWORD type, const void* data,
                         DWORD size);
  // Reads the value `valueName` of the key root\subKey straight from the registry; a
  // failed read leaves the entry without data.
  VOQ_ConfigurationEntry(HKEY root, const char* subKey, const char* valueName);

  // The data as text for REG_SZ (always terminated), else NULL.
  const char* getString() const;
  // The first four data bytes; 0 when there are fewer.
  DWORD getDword() const;
  // The data for REG_BINARY, else NULL.
  const BYTE* getBinary() const;
  // For REG_MULTI_SZ the data and their size, else NULL and 0.
  void getMultiString(const BYTE*& data, DWORD& size) const;
  const BYTE* getData() const { return hasData ? data.data() : nullptr; }
  DWORD getSize() const { return size; }
  DWORD getType() const { return type; }
  const char* getName() const { return name.c_str(); }
  const char* getSubKey() const { return hasSubKey ? subKey.c_str() : nullptr; }
  // HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE when the stored root is one of them, else NULL.
  HKEY getRoot() const;

  void setValue(DWORD type, const void* data, DWORD size);
  // Writes the value to root\subKey (the path as the entry holds it).
  LONG writeToRegistry() const;

  // Added or changed since it was loaded or last saved.
  bool isChanged() const { return changed; }
  void setChanged(bool value) { changed = value; }

 private:
  friend class VOQ_Configuration;
  void keepData(const void* bytes, DWORD count);

  HKEY root;
  bool hasSubKey;
  std::string subKey;
  std::string name;
  DWORD type;
  bool hasData = false;
  // The value's bytes and one zero byte behind them, so that a REG_SZ stored without
  // its terminator still reads as a terminated text.
  std::vector<BYTE> data;
  DWORD size = 0;
  bool changed = true;
};

class VOQ_Configuration {
 public:
  VOQ_Configuration(const char* company, const char* product, HKEY root);
  VOQ_Configuration(const VOQ_Configuration&) = delete;
  VOQ_Configuration& operator=(const VOQ_Configuration&) = delete;
  // Saves, then frees the entries.
  ~VOQ_Configuration();

  // The first entry of the same root class (HKEY_LOCAL_MACHINE, or HKEY_CURRENT_USER
  // for any other root), name and sub-key (null or empty: the product key), or NULL.
  VOQ_ConfigurationEntry* find(HKEY root, const char* subKey, const char* valueName);
  // Changes the found entry or appends a new one; nothing is written yet.
  void set(HKEY root, const char* subKey, const char* valueName, DWORD type, const void* data, DWORD size);
  // Writes every added or changed entry below the product key.
  void save();
  // The whole store as trace entries.
  void dump(VOQ_TraceContext* context);

  const char* getCompany() const { return company; }
  const char* getProduct() const { return product; }
  const char* getProductKey() const { return productKey.c_str(); }

 private:
  void load(const char* subKey);

  HKEY root;
  const char* company;
  const char* product;
  std::string baseKey;
  std::string productKey;
  VOQ_List<VOQ_ConfigurationEntry> entries;
};
