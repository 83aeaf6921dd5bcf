#include "host/window/VGDIObject.h"

#include "host/app/VApplication.h"
#include "host/window/VDC.h"

void VGDIObject::release() {
  if (m_handle != nullptr && m_owns) DeleteObject(m_handle);
  m_handle = nullptr;
}

bool VGDIObject::set(HGDIOBJ handle) {
  release();
  if (handle != nullptr && GetObjectType(handle) != 0) m_handle = handle;
  return m_handle != nullptr;
}

VBitmap::VBitmap(LPCSTR name, HINSTANCE module) {
  if (module == nullptr) module = getResourceHandle();
  set(LoadBitmapA(module, name));
}

bool VBitmap::set(HGDIOBJ handle) {
  const bool held = VGDIObject::set(handle);
  if (!held || !getInfo(nullptr)) m_info = BITMAP{};
  return held;
}

bool VBitmap::getInfo(BITMAP* out) {
  BITMAP* target = out != nullptr ? out : &m_info;
  return m_handle != nullptr && GetObjectA(m_handle, sizeof(BITMAP), target) == sizeof(BITMAP);
}

bool VBitmap::draw(VDC& dc, int x, int y, int sourceX, int sourceY) {
  if (m_handle == nullptr || dc.getHandle() == nullptr) return false;
  VDC memory(CreateCompatibleDC(dc.getHandle()), true);
  if (memory.getHandle() == nullptr) return false;
  VGDIObjectSelector selection(memory, m_handle);
  BitBlt(dc.getHandle(), x, y, m_info.bmWidth - sourceX, m_info.bmHeight - sourceY, memory.getHandle(), sourceX,
         sourceY, SRCCOPY);
  return true;
}

VGDIObjectSelector::VGDIObjectSelector(VDC& dc, HGDIOBJ object) : m_dc(dc) {
  if (object != nullptr && GetObjectType(object) != 0) m_previous = SelectObject(dc.getHandle(), object);
}

VGDIObjectSelector::~VGDIObjectSelector() {
  if (m_previous != nullptr && GetObjectType(m_previous) != 0) SelectObject(m_dc.getHandle(), m_previous);
}
