// Pictures of windows for people to look at: a dialog drawn with its controls and their
// texts, as the screen would show it, saved as PNG beside a test's output.
//
// The window layer keeps what controls hold (texts, check states, rows, pictures) but
// draws no text; this draws a window from those states with a real font, so a reviewer
// can see what a scripted dialog showed. Tests assert on control texts and rectangles,
// never on these pixels.
#pragma once

#include <string>

#include "platform/window_test.h"
#include "windows.h"

namespace quarveltest {

// The window as a person would see it: frame, caption, client area and every visible
// child control in creation order.
platform::wintest::Image windowPicture(HWND window);

// Writes an image as an 8-bit RGB PNG; false on failure.
bool savePng(const platform::wintest::Image& image, const std::string& path);

// windowPicture saved as `directory/name.png` (the directory is made); false on failure.
bool saveWindowPicture(HWND window, const std::string& directory, const std::string& name);

}  // namespace quarveltest
