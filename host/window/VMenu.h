// A menu handle, owned or borrowed.
#pragma once

#include <windows.h>

class VMenu {
 public:
  // No menu; a menu loaded later is owned.
  VMenu() = default;
  // A wrapper of a handle that somebody else owns (GetMenu, GetSubMenu) has owns false.
  VMenu(HMENU handle, bool owns) : m_handle(handle), m_owns(owns) {}
  VMenu(const VMenu&) = delete;
  VMenu& operator=(const VMenu&) = delete;
  virtual ~VMenu() { destroy(); }

  // Loads menu resource `id` (module NULL: the application's resource module); the
  // previous menu is destroyed first and the new one is owned. False when it is missing.
  bool load(UINT id, HINSTANCE module);
  // False without a handle; else an owned live menu is destroyed and the handle forgotten.
  bool destroy();

  HMENU getHandle() const { return m_handle; }
  bool owns() const { return m_owns; }

 private:
  HMENU m_handle = nullptr;
  bool m_owns = true;
};
