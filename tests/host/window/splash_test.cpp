// Device contexts, bitmaps and the splash window.
#include <windows.h>

#include <gtest/gtest.h>

#include "host/app/VApplication.h"
#include "host/window/VDC.h"
#include "host/window/SplashSlot.h"
#include "host/window/VSplashWindow.h"
#include "platform/window_test.h"

namespace {

namespace wt = platform::wintest;

class Splash : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    VApplication::registerWindowClass(GetModuleHandleA(nullptr), SW_HIDE, 115,
                                      reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1), nullptr);
  }
  void SetUp() override {
    wt::setScreenSize(1024, 768);
    wt::clearDrawTextCalls();
    baseline = wt::gdiObjectCounts();
  }
  std::map<DWORD, int> baseline;
};

TEST_F(Splash, CentredTopmostAndShowingTheBitmap) {
  {
    SplashWindow splash;
    ASSERT_TRUE(splash.create(MAKEINTRESOURCEA(127), nullptr, 0));
    HWND h = splash.getHandle();
    ASSERT_TRUE(h);
    RECT r;
    GetWindowRect(h, &r);
    EXPECT_EQ(r.left, 312);
    EXPECT_EQ(r.top, 234);
    EXPECT_EQ(r.right, 712);
    EXPECT_EQ(r.bottom, 534);
    EXPECT_TRUE(IsWindowVisible(h));
    EXPECT_TRUE(GetWindowLongA(h, GWL_EXSTYLE) & WS_EX_TOPMOST);
    EXPECT_TRUE(wt::topLevelWindows().front().hwnd == h);
    HBITMAP expected = LoadBitmapA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(127));
    const wt::Image want = wt::bitmapImage(expected);
    DeleteObject(expected);
    const wt::Image got = wt::windowImage(h);
    ASSERT_EQ(got.width, 400);
    ASSERT_EQ(got.height, 300);
    EXPECT_TRUE(got.pixels == want.pixels);
    EXPECT_TRUE(wt::saveWindowImage(h, std::string(getenv("QUARVEL_MACHINE_ROOT")) + "/splash.bmp"));
    EXPECT_TRUE(wt::drawTextCalls().empty());
    EXPECT_EQ(splash.bitmap()->info().bmBitsPixel, 8);
  }
  EXPECT_EQ(wt::gdiObjectCounts(), baseline);
  EXPECT_TRUE(wt::threadWindows(GetCurrentThreadId()).empty());
}

TEST_F(Splash, StatusTextIsDrawnOnceAtTheBottomInTheGuiFont) {
  SplashWindow splash;
  ASSERT_TRUE(splash.create(MAKEINTRESOURCEA(127), nullptr, 0));
  wt::clearDrawTextCalls();
  VString status("JVM OK.");
  splash.setStatus(status);
  auto calls = wt::drawTextCalls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].text, "JVM OK.");
  EXPECT_EQ(calls[0].format, 0x29u);
  EXPECT_EQ(calls[0].rect.left, 0);
  EXPECT_EQ(calls[0].rect.top, 0);
  EXPECT_EQ(calls[0].rect.right, 400);
  EXPECT_EQ(calls[0].rect.bottom, 300);
  EXPECT_EQ(calls[0].font, static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT)));
  EXPECT_EQ(calls[0].bkMode, TRANSPARENT);
  EXPECT_EQ(calls[0].window, splash.getHandle());
  // The very same text object again still repaints.
  splash.setStatus(splash.getStatus());
  EXPECT_EQ(wt::drawTextCalls().size(), 2u);
  // An empty status shows the bitmap only.
  splash.setStatus(VString());
  EXPECT_EQ(wt::drawTextCalls().size(), 2u);
}

TEST_F(Splash, AClickClosesItAndTheObjectStays) {
  {
    SplashWindow splash;
    ASSERT_TRUE(splash.create(MAKEINTRESOURCEA(127), nullptr, 0));
    HWND h = splash.getHandle();
    SendMessageA(h, WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
    EXPECT_TRUE(IsWindow(h));
    wt::click(h, 10, 10);
    EXPECT_FALSE(IsWindow(h));
    EXPECT_EQ(splash.getHandle(), nullptr);
    EXPECT_EQ(splash.bitmap(), nullptr);  // released with the window
    splash.setStatus(VString("danach"));  // harmless without a window
  }
  EXPECT_EQ(wt::gdiObjectCounts(), baseline);
}

TEST_F(Splash, AMissingBitmapMakesNoWindow) {
  SplashWindow splash;
  EXPECT_FALSE(splash.create(MAKEINTRESOURCEA(999), nullptr, 0));
  EXPECT_EQ(splash.getHandle(), nullptr);
  EXPECT_TRUE(wt::threadWindows(GetCurrentThreadId()).empty());
  VSplashWindow empty(13, false);
  EXPECT_FALSE(empty.createPopup(0, 10, 0));
}

TEST_F(Splash, ASecondCreateReplacesTheFirstWindow) {
  SplashWindow splash;
  ASSERT_TRUE(splash.create(MAKEINTRESOURCEA(127), nullptr, 0));
  HWND first = splash.getHandle();
  ASSERT_TRUE(splash.create(MAKEINTRESOURCEA(127), nullptr, 0));
  EXPECT_FALSE(IsWindow(first));
  EXPECT_EQ(wt::threadWindows(GetCurrentThreadId()).size(), 1u);
}

TEST_F(Splash, SelfDeletingSplashGoesWithItsWindow) {
  auto* splash = new VSplashWindow(13, true);
  ASSERT_TRUE(splash->create(MAKEINTRESOURCEA(127), nullptr, 0));
  HWND h = splash->getHandle();
  wt::click(h);
  EXPECT_FALSE(IsWindow(h));
  EXPECT_EQ(VWindow::findWindow(h), nullptr);
  EXPECT_EQ(wt::gdiObjectCounts(), baseline);
}

TEST_F(Splash, TheApplicationsSplashSlot) {
  {
    SplashSlot slot;
    EXPECT_EQ(slot.setStatus("vorher"), 1);
    EXPECT_EQ(slot.destroy(), 1);
    EXPECT_EQ(slot.show(999, nullptr), 1);  // no such bitmap: no window, but the object stays
    EXPECT_EQ(slot.setStatus("x"), 0);
    EXPECT_EQ(slot.show(127, nullptr), 0);
    ASSERT_TRUE(slot.get()->getHandle());
    wt::clearDrawTextCalls();
    EXPECT_EQ(slot.setStatus("JVM startet"), 0);
    ASSERT_EQ(wt::drawTextCalls().size(), 1u);
    EXPECT_EQ(wt::drawTextCalls()[0].text, "JVM startet");
    EXPECT_EQ(slot.destroy(), 0);
    EXPECT_TRUE(wt::threadWindows(GetCurrentThreadId()).empty());
  }
  EXPECT_EQ(wt::gdiObjectCounts(), baseline);
}

// A double-buffered window that fills its client area red.
class RedWindow : public VWindow {
 public:
  RedWindow() : VWindow(0) { m_flags.set(kPaintsItself | kDoubleBuffered); }
  int paints = 0;
  bool onPaint(VDC& dc) override {
    ++paints;
    buffered = dc.isBuffered();
    VRect client;
    GetClientRect(m_hwnd, client.get());
    HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
    FillRect(dc.getHandle(), client.get(), red);
    DeleteObject(red);
    return false;
  }
  bool buffered = false;
};

TEST_F(Splash, BufferedPaintingCopiesOnlyItsArea) {
  {
    RedWindow window;
    VWindow none(0);
    ASSERT_TRUE(window.create(none, VRect(0, 0, 40, 30), WS_POPUP, nullptr, "", nullptr));
    ShowWindow(window.getHandle(), SW_SHOWNORMAL);
    UpdateWindow(window.getHandle());
    EXPECT_EQ(window.paints, 1);
    EXPECT_TRUE(window.buffered);
    EXPECT_EQ(wt::windowImage(window.getHandle()).at(39, 29), 0xFF0000u);

    // A buffer over a part of the client area: only that part changes, from the same place.
    VDCWithWindow dc(window);
    ASSERT_TRUE(dc.getDC());
    {
      VRect part(10, 5, 20, 15);
      VBufferedDC buffer(dc, &part);
      ASSERT_TRUE(buffer.isBuffered());
      HBRUSH blue = CreateSolidBrush(RGB(0, 0, 255));
      VRect all(0, 0, 40, 30);
      FillRect(buffer.getHandle(), all.get(), blue);
      DeleteObject(blue);
    }
    const wt::Image image = wt::windowImage(window.getHandle());
    EXPECT_EQ(image.at(10, 5), 0x0000FFu);
    EXPECT_EQ(image.at(19, 14), 0x0000FFu);
    EXPECT_EQ(image.at(9, 5), 0xFF0000u);
    EXPECT_EQ(image.at(20, 14), 0xFF0000u);
    EXPECT_EQ(image.at(10, 15), 0xFF0000u);

    // Over a memory DC it draws straight into it.
    VDC memory(CreateCompatibleDC(dc.getHandle()), true);
    VBufferedDC direct(memory, nullptr);
    EXPECT_FALSE(direct.isBuffered());
    EXPECT_EQ(direct.getHandle(), memory.getHandle());

    for (int i = 0; i < 5; ++i) window.redraw(true);
    EXPECT_EQ(window.paints, 6);
  }
  EXPECT_EQ(wt::gdiObjectCounts(), baseline);
}

TEST_F(Splash, SelectorsPutThePreviousObjectBack) {
  VDC memory(CreateCompatibleDC(nullptr), true);
  HGDIOBJ before = GetCurrentObject(memory.getHandle(), OBJ_FONT);
  {
    VStockFont font;
    ASSERT_TRUE(font.select(DEFAULT_GUI_FONT));
    VGDIObjectSelector selection(memory, font);
    EXPECT_TRUE(selection.selected());
    EXPECT_EQ(GetCurrentObject(memory.getHandle(), OBJ_FONT), font.getHandle());
  }
  EXPECT_EQ(GetCurrentObject(memory.getHandle(), OBJ_FONT), before);
  // Handles that GetObjectType rejects are never selected or kept.
  VGDIObjectSelector none(memory, reinterpret_cast<HGDIOBJ>(0x7777));
  EXPECT_FALSE(none.selected());
  VBitmap bitmap;
  EXPECT_FALSE(bitmap.set(reinterpret_cast<HGDIOBJ>(0x7777)));
  EXPECT_FALSE(bitmap.draw(memory, 0, 0, 0, 0));
}

}  // namespace
