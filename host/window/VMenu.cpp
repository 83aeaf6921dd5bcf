#include "host/window/VMenu.h"

#include "host/app/VApplication.h"

bool VMenu::load(UINT id, HINSTANCE module) {
  destroy();
  if (module == nullptr) module = getResourceHandle();
  m_handle = LoadMenuA(module, MAKEINTRESOURCEA(id));
  m_owns = true;
  return m_handle != nullptr;
}

bool VMenu::destroy() {
  if (m_handle == nullptr) return false;
  if (m_owns && IsMenu(m_handle)) DestroyMenu(m_handle);
  m_handle = nullptr;
  return true;
}
