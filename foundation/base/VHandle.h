// An owned kernel handle, closed with the object.
#pragma once

#include <windows.h>

class VHandle {
 public:
  explicit VHandle(HANDLE handle = nullptr) : m_handle(handle) {}
  virtual ~VHandle();
  VHandle(const VHandle&) = delete;
  VHandle& operator=(const VHandle&) = delete;

  HANDLE get() const { return m_handle; }
  // Closes the handle held and takes the new one.
  void reset(HANDLE handle = nullptr);
  // Gives the handle up without closing it.
  HANDLE detach();

 private:
  HANDLE m_handle;
};
