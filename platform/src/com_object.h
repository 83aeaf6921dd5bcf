// The IUnknown of the platform's own COM objects: one thread-safe reference count, and
// the interfaces an object answers to besides IUnknown (all through its one vtable).
#pragma once

#include <atomic>

#include <objbase.h>

namespace platform {

template <class Interface, const IID&... Answers>
class ComObject : public Interface {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (!IsEqualGUID(riid, IID_IUnknown) && !(IsEqualGUID(riid, Answers) || ...)) return E_NOINTERFACE;
    AddRef();
    *object = static_cast<Interface*>(this);
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

 protected:
  ComObject() = default;
  virtual ~ComObject() = default;

 private:
  std::atomic<ULONG> refs_{1};
};

}  // namespace platform
