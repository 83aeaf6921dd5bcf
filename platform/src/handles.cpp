// The process-wide handle table of kernel objects.
#include "platform/handles.h"

#include <cstdint>
#include <unordered_map>

#include "windows.h"

namespace platform {

std::shared_ptr<KernelObject> currentThreadObject();  // threads.cpp

namespace {

constexpr uintptr_t kCurrentProcessPseudo = static_cast<uintptr_t>(-1);
constexpr uintptr_t kCurrentThreadPseudo = static_cast<uintptr_t>(-2);

// Handle values are index * 4 (as the system the code was written for hands them
// out), so every value fits in 32 bits and the low bits are never set.
class HandleTable {
 public:
  HANDLE insert(std::shared_ptr<KernelObject> object) {
    std::lock_guard<std::mutex> guard(mutex_);
    if (entries_.size() >= kMaxEntries) return nullptr;
    // Rising numbers, so that a handle closed a moment ago does not name a new object.
    while (entries_.count(next_)) advance();
    const uint32_t index = next_;
    advance();
    entries_.emplace(index, std::move(object));
    return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(index) * 4u);
  }

  std::shared_ptr<KernelObject> find(HANDLE handle) {
    uint32_t index;
    if (!decode(handle, &index)) return nullptr;
    std::lock_guard<std::mutex> guard(mutex_);
    auto it = entries_.find(index);
    return it == entries_.end() ? nullptr : it->second;
  }

  // The removed object, which the caller drops outside the table's lock (its
  // destructor may take other locks).
  std::shared_ptr<KernelObject> remove(HANDLE handle, bool* found) {
    uint32_t index;
    *found = false;
    if (!decode(handle, &index)) return nullptr;
    std::lock_guard<std::mutex> guard(mutex_);
    auto it = entries_.find(index);
    if (it == entries_.end()) return nullptr;
    std::shared_ptr<KernelObject> object = std::move(it->second);
    entries_.erase(it);
    *found = true;
    return object;
  }

 private:
  static constexpr uint32_t kMaxIndex = 0x3FFFFFFFu;
  static constexpr size_t kMaxEntries = 1u << 24;

  static bool decode(HANDLE handle, uint32_t* index) {
    const uintptr_t value = reinterpret_cast<uintptr_t>(handle);
    if (value == 0 || (value & 3u) != 0 || value / 4u > kMaxIndex) return false;
    *index = static_cast<uint32_t>(value / 4u);
    return true;
  }

  void advance() { next_ = next_ >= kMaxIndex ? 1u : next_ + 1u; }

  std::mutex mutex_;
  std::unordered_map<uint32_t, std::shared_ptr<KernelObject>> entries_;
  uint32_t next_ = 1;
};

// Never destroyed: threads may still close handles while the process exits.
HandleTable& table() {
  static HandleTable* instance = new HandleTable;
  return *instance;
}

bool isPseudoHandle(HANDLE handle) {
  const uintptr_t value = reinterpret_cast<uintptr_t>(handle);
  return value == kCurrentProcessPseudo || value == kCurrentThreadPseudo;
}

}  // namespace

HANDLE insertHandle(std::shared_ptr<KernelObject> object) {
  HANDLE handle = object ? table().insert(std::move(object)) : nullptr;
  if (!handle) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return handle;
}

std::shared_ptr<KernelObject> referenceHandle(HANDLE handle) {
  if (reinterpret_cast<uintptr_t>(handle) == kCurrentThreadPseudo) return currentThreadObject();
  return table().find(handle);
}

bool closeHandle(HANDLE handle) {
  bool found = false;
  std::shared_ptr<KernelObject> dropped = table().remove(handle, &found);
  dropped.reset();
  return found;
}

}  // namespace platform

extern "C" {

HANDLE WINAPI GetCurrentProcess(void) { return reinterpret_cast<HANDLE>(platform::kCurrentProcessPseudo); }
HANDLE WINAPI GetCurrentThread(void) { return reinterpret_cast<HANDLE>(platform::kCurrentThreadPseudo); }

BOOL WINAPI CloseHandle(HANDLE hObject) {
  if (platform::isPseudoHandle(hObject)) return TRUE;
  if (platform::closeHandle(hObject)) return TRUE;
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}

// Only within this process: both process handles must name the current process.
BOOL WINAPI DuplicateHandle(HANDLE hSourceProcessHandle, HANDLE hSourceHandle, HANDLE hTargetProcessHandle,
                            LPHANDLE lpTargetHandle, DWORD dwDesiredAccess, BOOL bInheritHandle,
                            DWORD dwOptions) {
  (void)dwDesiredAccess;
  (void)bInheritHandle;
  const HANDLE self = GetCurrentProcess();
  if (hSourceProcessHandle != self || hTargetProcessHandle != self) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  std::shared_ptr<platform::KernelObject> object = platform::referenceHandle(hSourceHandle);
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  HANDLE duplicate = nullptr;
  if (lpTargetHandle) {
    duplicate = platform::insertHandle(object);
    if (!duplicate) return FALSE;
    *lpTargetHandle = duplicate;
  }
  if ((dwOptions & DUPLICATE_CLOSE_SOURCE) && !platform::isPseudoHandle(hSourceHandle))
    platform::closeHandle(hSourceHandle);
  return TRUE;
}

}  // extern "C"
