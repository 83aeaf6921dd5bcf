// Global memory: fixed blocks (the handle is the address) and moveable blocks (a
// handle of the layer's, locked for the address), all of them known to a table so
// that a freed or foreign handle fails instead of touching memory. A moveable block's
// address is taken for its handle too, as Windows does.
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

#include <windows.h>

namespace {

struct Block {
  void* memory = nullptr;
  SIZE_T size = 0;
  bool moveable = false;
  unsigned locks = 0;
};

struct Table {
  std::mutex mutex;
  std::map<uintptr_t, Block> blocks;  // by handle
  // Moveable handles: small even numbers far below any heap address.
  uintptr_t nextMoveable = 0x1000;
};

Table& table() {
  static auto* t = new Table();
  return *t;
}

// The block of a handle, or of a moveable block's address (GlobalLock's result), as
// the system's code that locks an HDROP and passes the address on expects.
std::map<uintptr_t, Block>::iterator find(Table& t, HGLOBAL mem) {
  const uintptr_t value = reinterpret_cast<uintptr_t>(mem);
  auto it = t.blocks.find(value);
  if (it != t.blocks.end() || value == 0) return it;
  for (it = t.blocks.begin(); it != t.blocks.end(); ++it)
    if (reinterpret_cast<uintptr_t>(it->second.memory) == value) return it;
  return it;
}

// Runs `use` on the block of `mem` under the table's lock; an unknown handle fails
// with ERROR_INVALID_HANDLE and `failed`.
template <class Result, class Use>
Result withBlock(HGLOBAL mem, Result failed, Use use) {
  Table& t = table();
  std::lock_guard<std::mutex> lock(t.mutex);
  auto it = find(t, mem);
  if (it == t.blocks.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return failed;
  }
  return use(t, it);
}

}  // namespace

extern "C" {

HGLOBAL WINAPI GlobalAlloc(UINT flags, SIZE_T bytes) {
  if (flags & ~(GMEM_MOVEABLE | GMEM_ZEROINIT)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  void* memory = (flags & GMEM_ZEROINIT) ? std::calloc(bytes ? bytes : 1, 1) : std::malloc(bytes ? bytes : 1);
  if (memory == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  Table& t = table();
  std::lock_guard<std::mutex> lock(t.mutex);
  Block block{memory, bytes, (flags & GMEM_MOVEABLE) != 0, 0};
  uintptr_t handle = reinterpret_cast<uintptr_t>(memory);
  if (block.moveable) {
    while (t.blocks.count(t.nextMoveable)) t.nextMoveable += 8;
    handle = t.nextMoveable;
    t.nextMoveable = t.nextMoveable >= 0xFFF8 ? 0x1000 : t.nextMoveable + 8;
  }
  t.blocks[handle] = block;
  return reinterpret_cast<HGLOBAL>(handle);
}

LPVOID WINAPI GlobalLock(HGLOBAL mem) {
  return withBlock<LPVOID>(mem, nullptr, [](Table&, auto it) -> LPVOID {
    if (it->second.moveable) ++it->second.locks;
    return it->second.memory;
  });
}

BOOL WINAPI GlobalUnlock(HGLOBAL mem) {
  return withBlock<BOOL>(mem, FALSE, [](Table&, auto it) -> BOOL {
    Block& block = it->second;
    if (!block.moveable || block.locks == 0) {
      SetLastError(ERROR_NOT_LOCKED);
      return FALSE;
    }
    if (--block.locks > 0) return TRUE;
    SetLastError(NO_ERROR);
    return FALSE;
  });
}

SIZE_T WINAPI GlobalSize(HGLOBAL mem) {
  return withBlock<SIZE_T>(mem, 0, [](Table&, auto it) -> SIZE_T { return it->second.size; });
}

HGLOBAL WINAPI GlobalReAlloc(HGLOBAL mem, SIZE_T bytes, UINT flags) {
  if (flags & ~(GMEM_MOVEABLE | GMEM_ZEROINIT)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return withBlock<HGLOBAL>(mem, nullptr, [&](Table& t, auto it) -> HGLOBAL {
    Block block = it->second;
    const uintptr_t handle = it->first;
    if (bytes <= block.size) {  // shrinking stays in place
      it->second.size = bytes;
      return reinterpret_cast<HGLOBAL>(handle);
    }
    const bool mayMove = (block.moveable && block.locks == 0) || (flags & GMEM_MOVEABLE);
    if (!mayMove) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return nullptr;
    }
    void* memory = std::realloc(block.memory, bytes);
    if (memory == nullptr) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return nullptr;
    }
    if (flags & GMEM_ZEROINIT) std::memset(static_cast<char*>(memory) + block.size, 0, bytes - block.size);
    block.memory = memory;
    block.size = bytes;
    if (block.moveable) {
      it->second = block;
      return reinterpret_cast<HGLOBAL>(handle);
    }
    t.blocks.erase(it);  // a fixed block is its address
    t.blocks[reinterpret_cast<uintptr_t>(memory)] = block;
    return reinterpret_cast<HGLOBAL>(memory);
  });
}

HGLOBAL WINAPI GlobalFree(HGLOBAL mem) {
  return withBlock<HGLOBAL>(mem, mem, [&](Table& t, auto it) -> HGLOBAL {
    std::free(it->second.memory);
    t.blocks.erase(it);
    return nullptr;
  });
}

}  // extern "C"
