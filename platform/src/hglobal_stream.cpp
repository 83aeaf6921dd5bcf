// Streams on global memory: the block holds the bytes, the stream its own size (the
// block grows ahead of it, so that many small writes stay linear) and a seek pointer
// per stream; clones share the block and its size.
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>

#include <objbase.h>
#include <windows.h>

#include "com_object.h"

extern "C" {
const IID IID_ISequentialStream = {0x0C733A30, 0x2A1C, 0x11CE, {0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0x77, 0x3D}};
const IID IID_IStream = {0x0000000C, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
}

namespace {

// The block and the stream's size, shared by a stream and its clones.
struct Backing {
  std::mutex mutex;
  HGLOBAL block = nullptr;
  ULONGLONG size = 0;
  bool deleteOnRelease = false;

  ~Backing() {
    if (deleteOnRelease && block) GlobalFree(block);
  }

  // Makes room for `wanted` bytes; false when the block cannot grow. Bytes between the
  // old and the new size read as zeros.
  bool reserve(ULONGLONG wanted) {
    const SIZE_T capacity = GlobalSize(block);
    if (wanted > capacity) {
      if (wanted > static_cast<ULONGLONG>(SIZE_MAX / 2)) return false;
      SIZE_T grown = capacity < 256 ? 256 : capacity;
      while (grown < wanted) grown *= 2;
      if (!GlobalReAlloc(block, grown, GMEM_ZEROINIT) && !GlobalReAlloc(block, static_cast<SIZE_T>(wanted), GMEM_ZEROINIT))
        return false;
    }
    return true;
  }

  void resize(ULONGLONG newSize) {
    if (newSize > size) {
      auto* bytes = static_cast<BYTE*>(GlobalLock(block));
      std::memset(bytes + size, 0, static_cast<size_t>(newSize - size));
      GlobalUnlock(block);
    }
    size = newSize;
  }
};

class HGlobalStream final : public platform::ComObject<IStream, IID_ISequentialStream, IID_IStream> {
 public:
  explicit HGlobalStream(std::shared_ptr<Backing> backing, ULONGLONG position = 0)
      : backing_(std::move(backing)), position_(position) {}

  HGLOBAL block() const { return backing_->block; }

  STDMETHODIMP Read(void* pv, ULONG cb, ULONG* read) override {
    if (read) *read = 0;
    if (pv == nullptr) return STG_E_INVALIDPOINTER;
    std::lock_guard<std::mutex> lock(backing_->mutex);
    ULONG count = 0;
    if (position_ < backing_->size) {
      const ULONGLONG left = backing_->size - position_;
      count = left < cb ? static_cast<ULONG>(left) : cb;
      const auto* bytes = static_cast<const BYTE*>(GlobalLock(backing_->block));
      if (bytes == nullptr) return STG_E_READFAULT;
      std::memcpy(pv, bytes + position_, count);
      GlobalUnlock(backing_->block);
    }
    position_ += count;
    if (read) *read = count;
    return S_OK;
  }

  STDMETHODIMP Write(const void* pv, ULONG cb, ULONG* written) override {
    if (written) *written = 0;
    if (pv == nullptr) return STG_E_INVALIDPOINTER;
    std::lock_guard<std::mutex> lock(backing_->mutex);
    if (cb == 0) return S_OK;
    const ULONGLONG end = position_ + cb;
    if (end < position_ || !backing_->reserve(end)) return STG_E_MEDIUMFULL;
    if (end > backing_->size) backing_->resize(end);
    auto* bytes = static_cast<BYTE*>(GlobalLock(backing_->block));
    if (bytes == nullptr) return STG_E_WRITEFAULT;
    std::memcpy(bytes + position_, pv, cb);
    GlobalUnlock(backing_->block);
    position_ = end;
    if (written) *written = cb;
    return S_OK;
  }

  STDMETHODIMP Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) override {
    std::lock_guard<std::mutex> lock(backing_->mutex);
    LONGLONG base = 0;
    switch (origin) {
      case STREAM_SEEK_SET:
        break;
      case STREAM_SEEK_CUR:
        base = static_cast<LONGLONG>(position_);
        break;
      case STREAM_SEEK_END:
        base = static_cast<LONGLONG>(backing_->size);
        break;
      default:
        return STG_E_INVALIDFUNCTION;
    }
    LONGLONG target = 0;
    if (__builtin_add_overflow(base, move.QuadPart, &target) || target < 0) return STG_E_INVALIDFUNCTION;
    position_ = static_cast<ULONGLONG>(target);  // beyond the end is allowed; a write there fills with zeros
    if (newPosition) newPosition->QuadPart = position_;
    return S_OK;
  }

  STDMETHODIMP SetSize(ULARGE_INTEGER newSize) override {
    std::lock_guard<std::mutex> lock(backing_->mutex);
    if (!backing_->reserve(newSize.QuadPart)) return STG_E_MEDIUMFULL;
    backing_->resize(newSize.QuadPart);
    return S_OK;
  }

  STDMETHODIMP CopyTo(IStream* target, ULARGE_INTEGER cb, ULARGE_INTEGER* readOut,
                      ULARGE_INTEGER* writtenOut) override {
    if (readOut) readOut->QuadPart = 0;
    if (writtenOut) writtenOut->QuadPart = 0;
    if (target == nullptr) return STG_E_INVALIDPOINTER;
    BYTE chunk[4096];
    ULONGLONG left = cb.QuadPart;
    while (left > 0) {
      ULONG got = 0;
      HRESULT hr = Read(chunk, left < sizeof chunk ? static_cast<ULONG>(left) : sizeof chunk, &got);
      if (FAILED(hr)) return hr;
      if (got == 0) break;
      if (readOut) readOut->QuadPart += got;
      ULONG put = 0;
      hr = target->Write(chunk, got, &put);
      if (writtenOut) writtenOut->QuadPart += put;
      if (FAILED(hr)) return hr;
      left -= got;
    }
    return S_OK;
  }

  // Memory is written at once: there is nothing to commit or to revert to.
  STDMETHODIMP Commit(DWORD) override { return S_OK; }
  STDMETHODIMP Revert() override { return S_OK; }
  STDMETHODIMP LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
  STDMETHODIMP UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }

  STDMETHODIMP Stat(STATSTG* stat, DWORD flags) override {
    if (stat == nullptr) return STG_E_INVALIDPOINTER;
    if (flags & ~static_cast<DWORD>(STATFLAG_NONAME | STATFLAG_NOOPEN)) return STG_E_INVALIDFLAG;
    std::lock_guard<std::mutex> lock(backing_->mutex);
    std::memset(stat, 0, sizeof *stat);
    stat->pwcsName = nullptr;  // a memory stream has no name
    stat->type = STGTY_STREAM;
    stat->cbSize.QuadPart = backing_->size;
    stat->grfMode = STGM_READWRITE;
    return S_OK;
  }

  STDMETHODIMP Clone(IStream** clone) override {
    if (clone == nullptr) return STG_E_INVALIDPOINTER;
    std::lock_guard<std::mutex> lock(backing_->mutex);
    *clone = new HGlobalStream(backing_, position_);
    return S_OK;
  }

 private:
  ~HGlobalStream() override = default;
  std::shared_ptr<Backing> backing_;
  ULONGLONG position_;
};

}  // namespace

extern "C" {

HRESULT WINAPI CreateStreamOnHGlobal(HGLOBAL block, BOOL deleteOnRelease, LPSTREAM* stream) {
  if (stream == nullptr) return E_INVALIDARG;
  *stream = nullptr;
  auto backing = std::make_shared<Backing>();
  if (block == nullptr) {
    block = GlobalAlloc(GMEM_MOVEABLE, 0);
    if (block == nullptr) return E_OUTOFMEMORY;
  } else {
    SetLastError(NO_ERROR);
    const SIZE_T size = GlobalSize(block);
    if (size == 0 && GetLastError() == ERROR_INVALID_HANDLE) return E_INVALIDARG;
    backing->size = size;
  }
  backing->block = block;
  backing->deleteOnRelease = deleteOnRelease != FALSE;
  *stream = new HGlobalStream(std::move(backing));
  return S_OK;
}

HRESULT WINAPI GetHGlobalFromStream(LPSTREAM stream, HGLOBAL* block) {
  if (block == nullptr) return E_INVALIDARG;
  *block = nullptr;
  const auto* ours = dynamic_cast<const HGlobalStream*>(stream);
  if (ours == nullptr) return E_INVALIDARG;
  *block = ours->block();
  return S_OK;
}

}  // extern "C"
