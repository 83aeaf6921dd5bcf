// The resource table of a module (the program or a shared library).
//
// resgen turns a module's description file into a C++ source holding one table; the
// table registers itself with the module that contains it while that module is loaded,
// and the layer finds it from the module handle. Each entry holds the bytes Windows
// keeps for that resource type, so that the readers of each type (strings, icons,
// bitmaps, and later menus, dialog templates and version information) work on the
// formats they expect:
//   RT_STRING      blocks of 16 counted UTF-16 texts, block id = text id / 16 + 1
//   RT_ICON        one image of an icon file (a DIB or PNG), numbered by resgen
//   RT_GROUP_ICON  the icon directory: 6-byte header, 14-byte entries naming RT_ICON ids
//   RT_BITMAP      a bitmap file without its 14-byte file header (a packed DIB)
//   RT_RCDATA and named types: the bytes of the file as they are
#pragma once

#include <cstddef>
#include <cstdint>

#include "windef.h"

namespace platform {

// Resource types, numbered as on Windows.
enum ResourceType : uint32_t {
  kResourceCursor = 1,
  kResourceBitmap = 2,
  kResourceIcon = 3,
  kResourceMenu = 4,
  kResourceDialog = 5,
  kResourceString = 6,
  kResourceAccelerator = 9,
  kResourceData = 10,
  kResourceGroupCursor = 12,
  kResourceGroupIcon = 14,
  kResourceVersion = 16,
  kResourceManifest = 24,
};

struct ResourceEntry {
  const char* typeName;  // a named type in upper case, or nullptr for the number `type`
  uint32_t type;
  const char* name;      // a named resource in upper case, or nullptr for the number `id`
  uint32_t id;
  uint16_t language;     // 0: neutral
  uint32_t size;
  const unsigned char* data;  // 8-byte aligned
};

constexpr uint32_t kResourceTableMagic = 0x51524553;  // "QRES"
constexpr uint32_t kResourceTableVersion = 1;

struct ResourceTable {
  uint32_t magic;
  uint32_t version;
  uint32_t count;
  const ResourceEntry* entries;
};

// Made by the generated source: ties the table to the module that holds `table`
// from the module's start until it is unloaded.
// The registrations form a list through themselves: nothing is allocated, so a module
// that is unloaded takes nothing with it but its own entry.
class ResourceTableRegistration {
 public:
  explicit ResourceTableRegistration(const ResourceTable* table);
  ~ResourceTableRegistration();
  ResourceTableRegistration(const ResourceTableRegistration&) = delete;
  ResourceTableRegistration& operator=(const ResourceTableRegistration&) = delete;

 private:
  friend const ResourceTable* registeredResourceTable(const void* linkMap);
  const ResourceTable* table_;
  const void* linkMap_ = nullptr;
  ResourceTableRegistration* next_ = nullptr;
  bool listed_ = false;
};

// The table of a module: NULL means the program. nullptr when the module has none
// (`error`: ERROR_RESOURCE_DATA_NOT_FOUND) or the handle is stale (ERROR_MOD_NOT_FOUND).
const ResourceTable* resourceTableOf(HMODULE module, DWORD* error = nullptr);

// A resource named as FindResourceA names it: a number made with MAKEINTRESOURCE,
// "#123" for the number 123, or a name (compared without regard to case).
// nullptr when absent; `error` (if given) receives the Windows error code.
const ResourceEntry* findResourceEntry(HMODULE module, const char* type, const char* name, DWORD* error = nullptr);

// The table registered for the loaded object whose link map is `linkMap` (dlinfo /
// dladdr1), or nullptr. Used by the module table.
const ResourceTable* registeredResourceTable(const void* linkMap);

}  // namespace platform

// A function `const platform::ResourceTable* quarvel_resource_table()` exported by every
// generated table, so that a module's table is found even when the module carries its
// own copy of this layer.
#define QUARVEL_RESOURCE_TABLE_SYMBOL "quarvel_resource_table"
