// The test API of the window layer: what a person at the screen would do and see.
//
// Tests set the screen, script the answers of message boxes, popup menus and modal
// dialogs, press buttons, inject tray-icon callbacks, read what was drawn (surface
// pixels, recorded DrawTextA calls) and count GDI objects. Scripts and records are per
// process.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "windows.h"

namespace platform {
namespace wintest {

// --- Screen and input ------------------------------------------------------------
// The screen size behind SM_CXSCREEN/SM_CYSCREEN (default 1024 x 768).
void setScreenSize(int width, int height);
// Overrides one GetSystemMetrics value; resetSystemMetrics drops every override.
void setSystemMetric(int index, int value);
void resetSystemMetrics();
// The cursor is the desktop's: every process of the machine root sees it.
void setCursorPos(int x, int y);

// --- Messages ---------------------------------------------------------------------
// How long a thread may go without asking for messages before SMTO_ABORTIFHUNG
// treats it as hung (default 5000 ms; the sender's setting applies).
void setHungThreshold(DWORD milliseconds);
// How long a peer of another process may take to deliver a whole message to a window
// of this process (and to take its answer) before it is cut off (default 2000 ms).
void setMessageReadLimit(DWORD milliseconds);
// The name of the abstract socket through which other processes reach a top-level
// window of any process of the machine root; "" for no such window.
std::string endpointOf(HWND hwnd);
// The next GetMessageA of this process fails with -1.
void failNextGetMessage();
// Messages that other threads of this process sent to the calling thread and that
// wait for its next message wait.
int pendingSentMessages();
// Dispatches the calling thread's waiting messages; a WM_QUIT stays queued. The count.
int pumpMessages();
// Pumps until `done` answers true or the time is up; false on time-out.
bool pumpMessagesUntil(const std::function<bool()>& done, DWORD timeoutMs);
// The abstract socket name (without its leading NUL) on which the thread owning a
// top-level window of any process takes messages from other processes; "" when no
// such window lives. A test plays a hostile process with it, writing the wire itself.
std::string messageEndpoint(HWND hwnd);

// --- Windows ----------------------------------------------------------------------
std::vector<HWND> threadWindows(DWORD threadId);
// Icons made by LoadImageA without LR_SHARED and not destroyed yet.
int iconCount();

struct WindowInfo {
  HWND hwnd = nullptr;
  DWORD processId = 0;
  DWORD threadId = 0;
  std::string className;
  std::string title;
  bool visible = false;
  bool topmost = false;
};
// The top-level windows of every process of the machine root, in Z order.
std::vector<WindowInfo> topLevelWindows();

// A left click at a client point: WM_LBUTTONDOWN and WM_LBUTTONUP, sent.
void click(HWND hwnd, int x = 1, int y = 1);
// Presses a dialog's button as a user would: BM_CLICK to the control with that id.
bool pressButton(HWND dialog, int controlId);
// WM_COMMAND (BN_CLICKED from nowhere) with the id, sent to the window.
void sendCommand(HWND hwnd, int id);
// Types into an edit control as a user would: what it held is replaced, and each byte
// arrives as WM_CHAR, so a number field refuses non-digits and the text limit holds.
// False when there is no such control or it is disabled.
bool typeText(HWND dialog, int controlId, const std::string& text);
// Picks a row of a list box or combo box as a click would: the selection moves and the
// dialog hears LBN_SELCHANGE (list boxes with LBS_NOTIFY) or CBN_SELCHANGE. False for a
// missing or disabled control or a row that does not exist.
bool pickListRow(HWND dialog, int controlId, int row);
// A key press (WM_KEYDOWN posted to the window): in a dialog's modal loop VK_ESCAPE
// cancels and VK_RETURN confirms, as the dialog manager does.
void pressKey(HWND window, UINT virtualKey);

// --- Modal user interface ------------------------------------------------------------
struct MessageBoxRecord {
  HWND owner = nullptr;
  std::string text;     // UTF-8
  std::string caption;  // UTF-8; "Fehler" when none was given
  UINT type = 0;
  int answer = 0;
};
// Answers for the next message boxes, in order. Without a queued answer a box
// answers its default button.
void queueMessageBoxAnswer(int answer);
std::vector<MessageBoxRecord> messageBoxes();
void clearMessageBoxes();
// The pumping mode of this process's message boxes (also on with
// QUARVEL_PUMPING_MESSAGE_BOXES=1 in the environment; the hook overrides it). A box
// then runs a modal loop as a real one does: its owner is disabled while it is open, it
// dispatches the thread's sent and posted messages before it answers, and keeps
// dispatching while it waits for the test's answer (setDesktopMessageBoxesWait). A
// WM_QUIT ends the loop and stays queued for the loop outside.
void setPumpingMessageBoxes(bool pumping);

struct PopupMenuRecord {
  HMENU menu = nullptr;
  HWND owner = nullptr;
  int x = 0;
  int y = 0;
  UINT flags = 0;
  std::vector<std::string> items;  // the texts of the menu's items ("" for separators)
  UINT chosen = 0;
};
// The item the next popup menu picks (0: dismissed); without one it is dismissed.
void queuePopupMenuChoice(UINT commandId);
std::vector<PopupMenuRecord> popupMenus();
void clearPopupMenus();

// Runs `action` with the next dialog that DialogBoxParamA or CreateDialogParamA makes.
// A modal dialog's action runs at the thread's first message wait after the dialog was
// made (the modal loop, or a loop the dialog procedure runs inside WM_INITDIALOG) at
// which the dialog is enabled (not while a pumping message box of it is open); a
// modeless dialog's right after CreateDialogParamA made it. Without a queued action a
// modal dialog gets WM_COMMAND IDCANCEL, as from the Escape key, and is ended with
// IDCANCEL if its procedure does not end it.
void onNextDialog(std::function<void(HWND dialog)> action);

// --- Tray icon ----------------------------------------------------------------------
struct TrayIcon {
  HWND hwnd = nullptr;
  UINT id = 0;
  UINT flags = 0;
  UINT callbackMessage = 0;
  HICON icon = nullptr;
  std::string tip;
};
std::vector<TrayIcon> trayIcons();
// Sends the icon's callback message with the mouse message (WM_RBUTTONDOWN, ...), also
// to an icon of another process (as the shell does); false when no such icon is shown.
bool injectTrayCallback(HWND hwnd, UINT id, UINT mouseMessage);

// --- The desktop: every process of the machine root ----------------------------------
// What the shell and the window layer did for any process, so that a test drives a
// program that runs as a process of its own. Records stay until the machine root goes.

// One Shell_NotifyIconA call as the shell took it.
struct ShellIconCall {
  DWORD processId = 0;
  DWORD message = 0;  // NIM_ADD, NIM_MODIFY, NIM_DELETE
  DWORD cbSize = 0;
  HWND hwnd = nullptr;
  UINT id = 0;
  UINT flags = 0;
  UINT callbackMessage = 0;
  std::string icon;  // where the icon came from: "resource #115", "file <path>", "" for none
  std::string tip;   // at most 63 characters
  bool succeeded = false;
};
std::vector<ShellIconCall> shellIconCalls();

// A popup menu shown by any process, with the state of every item at that moment.
struct MenuItemState {
  int depth = 0;  // 0 for the popup's own items, 1 for those of its sub-menus, ...
  UINT id = 0;    // 0 for separators and sub-menus
  UINT flags = 0; // MF_CHECKED, MF_GRAYED, MF_DISABLED, MF_POPUP, MF_SEPARATOR
  std::string text;
};
struct DesktopPopupMenu {
  DWORD processId = 0;
  HWND owner = nullptr;
  int x = 0;
  int y = 0;
  UINT flags = 0;
  UINT chosen = 0;
  std::vector<MenuItemState> items;
  // The item with this command id (searched through the sub-menus), or NULL.
  const MenuItemState* item(UINT commandId) const;
};
std::vector<DesktopPopupMenu> desktopPopupMenus();
// The item the next popup menu of any process picks when that process queued none.
void queueDesktopPopupMenuChoice(UINT commandId);

// A message box shown by any process (when it was shown; its answer is its own).
struct DesktopMessageBox {
  DWORD processId = 0;
  std::string text;     // UTF-8
  std::string caption;  // UTF-8
  UINT type = 0;
};
std::vector<DesktopMessageBox> desktopMessageBoxes();
// The answer of the next message box of any process that has no answer of its own
// queued (queueMessageBoxAnswer); answers are taken in order.
void queueDesktopMessageBoxAnswer(int answer);
// While set, a box without an answer waits until the test queues one on the desktop
// (at most two minutes), so that a test sees the box and acts before it answers.
void setDesktopMessageBoxesWait(bool wait);

// A line of OutputDebugString of any process (the line as given, its end kept).
struct DesktopDebugLine {
  DWORD processId = 0;
  std::string text;  // UTF-8
};
std::vector<DesktopDebugLine> desktopDebugOutput();

// One ShellExecuteA call of any process.
struct ShellExecuteCall {
  DWORD processId = 0;
  std::string operation;
  std::string file;
  std::string parameters;
  std::string directory;
  int show = 0;
  INT_PTR result = 0;
};
std::vector<ShellExecuteCall> shellExecuteCalls();

// --- What was drawn ----------------------------------------------------------------
struct Image {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;  // 0x00RRGGBB, rows from the top
  uint32_t at(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};
// The whole window's surface (frame included) / a bitmap's pixels.
Image windowImage(HWND hwnd);
Image bitmapImage(HBITMAP bitmap);
// Writes an image as a 32-bpp BMP file; false on failure.
bool saveImage(const Image& image, const std::string& path);
bool saveWindowImage(HWND hwnd, const std::string& path);

struct DrawTextRecord {
  HWND window = nullptr;  // the window whose surface the DC drew on, or NULL
  std::string text;
  RECT rect{};
  UINT format = 0;
  HFONT font = nullptr;
  int bkMode = 0;
  COLORREF textColor = 0;
};
std::vector<DrawTextRecord> drawTextCalls();
void clearDrawTextCalls();

// Live GDI objects made by the process, by OBJ_* type (stock objects not counted;
// device contexts under OBJ_DC and OBJ_MEMDC).
int gdiObjectCount(DWORD type);
std::map<DWORD, int> gdiObjectCounts();

}  // namespace wintest
}  // namespace platform
