// A filter that sees every message of the windows it is attached to before they do.
#pragma once

#include <windows.h>

#include "host/window/VRect.h"

class VWindowMessageFilter : public VLinkedListItem {
 public:
  VWindowMessageFilter() = default;
  // Detaches the filter from every window it is still attached to.
  ~VWindowMessageFilter() override;

  // True lets the message go on (to the next filter and the window); false consumes
  // it, with *result as the answer when *handled is set (else 0).
  virtual bool filterMessage(HWND window, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result, bool* handled) = 0;

  int getAttachCount() const { return m_attachCount; }

 private:
  friend class VWindow;
  int m_attachCount = 0;
};
