// The main window: a window of class "VWindow" titled with the application name,
// with a menu bar, whose closing ends the message loop.
#pragma once

#include "host/window/VMenu.h"
#include "host/window/VWindow.h"

class VMainWindow : public VWindow {
 public:
  // Becomes the process's main window.
  VMainWindow();
  ~VMainWindow() override;

  bool close(int flag) override;
  LRESULT defaultProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) override;
  LRESULT onSize(UINT type, int width, int height) override;

  virtual void updateMenus();
  virtual bool onMenuRequest(WPARAM first, LPARAM second);
  virtual void getClientRect(VRect& rect);
  virtual void updateMenuItem(VMenu& menu, UINT id, bool& enable, bool& check);
  virtual void layoutChildren(VRect area);

  // Creates the window (menu resource menuId unless 0); 1, -1 on failure, or with run
  // the result of the message loop. The four middle arguments are not used.
  int create(UINT menuId, const VRect& rect, UINT_PTR unused1, UINT_PTR unused2, UINT_PTR unused3, UINT_PTR unused4,
             DWORD style, bool run);
  using VWindow::create;
  void layout(const VRect* area);

  VMenu& menu() { return m_menu; }
  // The process's main window (the last one constructed), NULL when there is none.
  static VMainWindow* getMainWindow();

 private:
  void updateMenu(VMenu& menu);

  VMenu m_menu;
};
