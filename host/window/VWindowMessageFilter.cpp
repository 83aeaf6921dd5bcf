#include "host/window/VWindowMessageFilter.h"

#include "host/window/VWindow.h"

VWindowMessageFilter::~VWindowMessageFilter() {
  if (!isWindowListAlive()) return;
  for (VLinkedListItem* it = getWindowList().getHead(); it != nullptr; it = it->getNext()) {
    static_cast<VWindow*>(it)->attachFilter(this, false, true);
  }
}
