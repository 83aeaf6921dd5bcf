#include "foundation/base/VHandle.h"

VHandle::~VHandle() { reset(); }

void VHandle::reset(HANDLE handle) {
  if (m_handle != nullptr && m_handle != handle) CloseHandle(m_handle);
  m_handle = handle;
}

HANDLE VHandle::detach() {
  HANDLE handle = m_handle;
  m_handle = nullptr;
  return handle;
}
