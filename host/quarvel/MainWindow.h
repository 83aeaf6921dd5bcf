// Quarvel's hidden main window, its tray icon with the menu, and the commands of the
// menu; other programs reach it by class and title (the sign-file request).
#pragma once

#include <windows.h>

#include "host/window/VMainWindow.h"
#include "host/window/VMenu.h"
#include "host/window/VTaskBarIcon.h"

// The program's tray icon: the menu (resource 107) at a right click, the switches'
// check marks, the Java log viewer and the sign-file request of other programs.
class SysTrayIcon : public VTaskBarIcon {
 public:
  SysTrayIcon();
  // Destroys the menu first, then removes the icon.
  ~SysTrayIcon() override;

  // The menu's switches, and the sign-file request (WM_COPYDATA with dwData 150);
  // then the icon's own messages. Always true: every message goes on to the window.
  bool filterMessage(HWND window, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result, bool* handled) override;
  void onLeftDoubleClick(const VPoint& point) override;
  // Shows the menu's first popup at the point.
  void onRightButtonDown(const VPoint& point) override;

  VMenu& menu() { return m_menu; }

 private:
  // Flips a switch and its item's check mark.
  void toggleSwitch(UINT id, bool (*enabled)(), void (*setEnabled)(bool));

  VMenu m_menu;
  int m_logChecked = 0;
};

class MainWindow : public VMainWindow {
 public:
  // Loads the menu and tells the Java application the UseInfoboxPin switch.
  MainWindow();
  ~MainWindow() override;

  // Shows the tray icon (the installation's icon file, else resource 115).
  bool onCreate() override;
  // Carries out the menu command; answers "not handled" always, so that every command
  // also reaches the default processing.
  LRESULT onCommand(UINT notifyCode, UINT id, HWND control) override;

 private:
  SysTrayIcon m_trayIcon;
  int m_logging = 0;
};

// The message number that identifies a sign-file request (WM_COPYDATA's dwData).
constexpr ULONG_PTR kSignFileRequest = 150;
