// Device contexts and GDI objects: pixels, selections, saved states, bitmap
// resources, recorded text and the object counters.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "platform/window_test.h"

namespace {

namespace wt = platform::wintest;

// A window of a class of its own, w x h, drawn by nobody but the test.
HWND makeWindow(const char* className, DWORD style, int w, int h) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = DefWindowProcA;
  wc.lpszClassName = className;
  RegisterClassA(&wc);
  return CreateWindowExA(0, className, "", style, 0, 0, w, h, nullptr, nullptr, nullptr, nullptr);
}

TEST(Gdi, BitmapResourcesDecodeToTheirPixels) {
  struct Row {
    int id;
    int width;
    int height;
    WORD bits;
    std::vector<uint32_t> pixels;  // rows from the top
  };
  const Row rows[] = {
      {128, 3, 2, 24, {0xFF0000, 0x00FF00, 0x0000FF, 0x123456, 0xFFFFFF, 0x000000}},  // bottom-up file
      {129, 3, 2, 4, {0x000000, 0xFF0000, 0x00FF00, 0x0000FF, 0x000000, 0xFF0000}},  // top-down, palette
  };
  for (const Row& row : rows) {
    HBITMAP b = LoadBitmapA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(row.id));
    ASSERT_TRUE(b) << row.id;
    BITMAP info{};
    ASSERT_EQ(GetObjectA(b, sizeof info, &info), static_cast<int>(sizeof(BITMAP)));
    EXPECT_EQ(info.bmWidth, row.width);
    EXPECT_EQ(info.bmHeight, row.height);
    EXPECT_EQ(info.bmBitsPixel, row.bits);
    EXPECT_EQ(GetObjectType(b), static_cast<DWORD>(OBJ_BITMAP));
    EXPECT_EQ(wt::bitmapImage(b).pixels, row.pixels) << row.id;
    EXPECT_TRUE(DeleteObject(b));
  }
  SetLastError(0);
  EXPECT_EQ(LoadBitmapA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(4711)), nullptr);
  EXPECT_NE(GetLastError(), 0u);
}

TEST(Gdi, FillAndCopyBetweenMemoryBitmaps) {
  const auto baseline = wt::gdiObjectCounts();
  {
    HDC a = CreateCompatibleDC(nullptr);
    HDC b = CreateCompatibleDC(a);
    HBITMAP ba = CreateCompatibleBitmap(a, 8, 8);
    HBITMAP bb = CreateCompatibleBitmap(a, 8, 8);
    EXPECT_EQ(wt::gdiObjectCount(OBJ_MEMDC), baseline.at(OBJ_MEMDC) + 2);
    EXPECT_EQ(wt::gdiObjectCount(OBJ_BITMAP), baseline.at(OBJ_BITMAP) + 2);
    HGDIOBJ oldA = SelectObject(a, ba);
    HGDIOBJ oldB = SelectObject(b, bb);
    ASSERT_TRUE(oldA && oldB);
    EXPECT_EQ(SelectObject(b, ba), nullptr);  // a bitmap lives in one DC at a time
    HBRUSH green = CreateSolidBrush(RGB(0, 255, 0));
    RECT all{0, 0, 8, 8}, part{2, 2, 4, 4};
    FillRect(a, &all, green);
    FillRect(a, &part, reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1));  // a system colour
    EXPECT_EQ(GetPixel(a, 0, 0), RGB(0, 255, 0));
    EXPECT_EQ(GetPixel(a, 3, 3), RGB(255, 255, 255));
    EXPECT_EQ(GetPixel(a, 9, 9), CLR_INVALID);
    ASSERT_TRUE(BitBlt(b, 4, 4, 8, 8, a, 2, 2, SRCCOPY));  // clipped at both ends
    EXPECT_EQ(GetPixel(b, 4, 4), RGB(255, 255, 255));
    EXPECT_EQ(GetPixel(b, 6, 6), RGB(0, 255, 0));
    EXPECT_EQ(GetPixel(b, 3, 3), RGB(0, 0, 0));
    EXPECT_FALSE(DeleteObject(ba));  // still selected
    SelectObject(a, oldA);
    SelectObject(b, oldB);
    EXPECT_TRUE(DeleteObject(ba));
    EXPECT_TRUE(DeleteObject(bb));
    EXPECT_TRUE(DeleteObject(green));
    EXPECT_TRUE(DeleteDC(a));
    EXPECT_TRUE(DeleteDC(b));
    EXPECT_FALSE(DeleteDC(a));
  }
  EXPECT_EQ(wt::gdiObjectCounts(), baseline);
}

TEST(Gdi, SavedStatesComeBack) {
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ font = GetCurrentObject(dc, OBJ_FONT);
  const int saved = SaveDC(dc);
  EXPECT_EQ(saved, 1);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, RGB(1, 2, 3));
  SetMapMode(dc, MM_HIMETRIC);
  SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
  EXPECT_EQ(SaveDC(dc), 2);
  SetBkMode(dc, OPAQUE);
  ASSERT_TRUE(RestoreDC(dc, -1));
  EXPECT_EQ(GetBkMode(dc), TRANSPARENT);
  ASSERT_TRUE(RestoreDC(dc, saved));
  EXPECT_EQ(GetBkMode(dc), OPAQUE);
  EXPECT_EQ(GetTextColor(dc), RGB(0, 0, 0));
  EXPECT_EQ(GetMapMode(dc), MM_TEXT);
  EXPECT_EQ(GetCurrentObject(dc, OBJ_FONT), font);
  EXPECT_FALSE(RestoreDC(dc, 1));  // nothing left
  DeleteDC(dc);
}

TEST(Gdi, StockObjectsAreNeitherCountedNorDeleted) {
  const auto baseline = wt::gdiObjectCounts();
  struct Row {
    int number;
    DWORD type;
  };
  for (const Row& row : {Row{BLACK_BRUSH, OBJ_BRUSH}, Row{BLACK_PEN, OBJ_PEN}, Row{ANSI_FIXED_FONT, OBJ_FONT},
                         Row{DEFAULT_GUI_FONT, OBJ_FONT}}) {
    HGDIOBJ o = GetStockObject(row.number);
    EXPECT_EQ(GetObjectType(o), row.type) << row.number;
    EXPECT_TRUE(DeleteObject(o));
    EXPECT_EQ(GetObjectType(o), row.type) << row.number;
  }
  EXPECT_EQ(GetObjectType(reinterpret_cast<HGDIOBJ>(0x9999)), 0u);
  EXPECT_EQ(wt::gdiObjectCounts(), baseline);
}

TEST(Gdi, WindowDeviceContextsDrawIntoTheClientAreaAndRecordText) {
  HWND h = makeWindow("GdiWindow", WS_POPUP | WS_BORDER, 20, 10);
  ASSERT_TRUE(h);
  const auto baseline = wt::gdiObjectCounts();
  HDC dc = GetDC(h);
  ASSERT_TRUE(dc);
  EXPECT_EQ(GetObjectType(dc), static_cast<DWORD>(OBJ_DC));
  EXPECT_EQ(WindowFromDC(dc), h);
  RECT client;
  GetClientRect(h, &client);
  EXPECT_EQ(client.right, 18);  // a one-pixel border on each side
  FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  const wt::Image image = wt::windowImage(h);
  EXPECT_EQ(image.at(1, 1), 0u);
  EXPECT_EQ(image.at(0, 0), 0xFFFFFFu);  // the border stays
  wt::clearDrawTextCalls();
  SetBkMode(dc, TRANSPARENT);
  SelectObject(dc, GetStockObject(ANSI_FIXED_FONT));
  RECT r{0, 0, 18, 8};
  DrawTextA(dc, "Hallo Welt", 5, &r, DT_CENTER);
  auto calls = wt::drawTextCalls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].text, "Hallo");
  EXPECT_EQ(calls[0].window, h);
  EXPECT_EQ(calls[0].font, GetStockObject(ANSI_FIXED_FONT));
  EXPECT_EQ(calls[0].bkMode, TRANSPARENT);
  RECT measure{0, 0, 0, 0};
  DrawTextA(dc, "abc", -1, &measure, DT_CALCRECT);
  EXPECT_GT(measure.right, 0);
  EXPECT_EQ(wt::drawTextCalls().size(), 1u);  // measuring draws nothing
  EXPECT_EQ(ReleaseDC(h, dc), 1);
  EXPECT_EQ(wt::gdiObjectCounts(), baseline);
  const std::string path = std::string(getenv("QUARVEL_MACHINE_ROOT")) + "/window.bmp";
  ASSERT_TRUE(wt::saveWindowImage(h, path));
  HANDLE f = nullptr;
  (void)f;
  FILE* file = fopen(path.c_str(), "rb");
  ASSERT_TRUE(file);
  char magic[2] = {0, 0};
  EXPECT_EQ(fread(magic, 1, 2, file), 2u);
  fclose(file);
  EXPECT_EQ(std::string(magic, 2), "BM");
  DestroyWindow(h);
}

// A window's pixels are made only when something draws; until then, and where nothing was
// drawn after it grew, every reading sees white.
TEST(Gdi, PixelsNeverDrawnAreWhiteWhenReadAndWhenTheWindowGrows) {
  HWND h = makeWindow("GdiUndrawn", WS_POPUP, 8, 6);
  ASSERT_TRUE(h);
  wt::Image image = wt::windowImage(h);
  ASSERT_EQ(image.width, 8);
  ASSERT_EQ(image.height, 6);
  EXPECT_EQ(image.pixels, std::vector<uint32_t>(48, 0xFFFFFFu));
  HDC dc = GetDC(h);
  EXPECT_EQ(GetPixel(dc, 7, 5), RGB(255, 255, 255));
  // Copied out of the undrawn window into a black bitmap: white arrives.
  HDC memory = CreateCompatibleDC(dc);
  HBITMAP bitmap = CreateCompatibleBitmap(dc, 4, 4);
  HGDIOBJ old = SelectObject(memory, bitmap);
  EXPECT_EQ(GetPixel(memory, 0, 0), RGB(0, 0, 0));
  EXPECT_TRUE(BitBlt(memory, 0, 0, 2, 2, dc, 0, 0, SRCCOPY));
  EXPECT_EQ(GetPixel(memory, 1, 1), RGB(255, 255, 255));
  EXPECT_EQ(GetPixel(memory, 2, 2), RGB(0, 0, 0));
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  RECT r{0, 0, 2, 2};
  FillRect(dc, &r, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  ReleaseDC(h, dc);
  ASSERT_TRUE(SetWindowPos(h, nullptr, 0, 0, 12, 9, SWP_NOMOVE | SWP_NOZORDER));
  image = wt::windowImage(h);
  ASSERT_EQ(image.width, 12);
  ASSERT_EQ(image.height, 9);
  EXPECT_EQ(image.at(1, 1), 0u);
  EXPECT_EQ(image.at(2, 2), 0xFFFFFFu);
  EXPECT_EQ(image.at(11, 8), 0xFFFFFFu);
  DestroyWindow(h);
}

// Solid fills are kept as fills until something else draws; what is read back must be
// what drawing each fill at once would have left, in every order and overlap.
TEST(Gdi, FillsKeptAsFillsReadAsIfDrawnAtOnce) {
  HWND h = makeWindow("GdiFills", WS_POPUP, 10, 7);
  ASSERT_TRUE(h);
  std::vector<uint32_t> model(70, 0xFFFFFFu);
  auto expectModel = [&](const std::string& step) {
    const wt::Image image = wt::windowImage(h);
    ASSERT_EQ(image.pixels.size(), model.size()) << step;
    EXPECT_EQ(image.pixels, model) << step;
    HDC dc = GetDC(h);
    for (int y = 0; y < 7; ++y) {
      for (int x = 0; x < 10; ++x) {
        const uint32_t p = model[static_cast<size_t>(y) * 10 + x];
        EXPECT_EQ(GetPixel(dc, x, y), RGB(p >> 16, (p >> 8) & 0xFF, p & 0xFF)) << step << " at " << x << "," << y;
      }
    }
    ReleaseDC(h, dc);
  };
  struct Step {
    RECT r;
    COLORREF color;
  };
  // Overlaps, a fill over the whole window, one reaching beyond it, and more fills than
  // are kept as fills, so that the later ones draw into pixels.
  const Step steps[] = {
      {{1, 1, 5, 4}, RGB(255, 0, 0)},   {{3, 2, 9, 6}, RGB(0, 255, 0)},   {{0, 0, 10, 7}, RGB(0, 0, 255)},
      {{2, 0, 4, 7}, RGB(10, 20, 30)},  {{-5, 5, 20, 30}, RGB(1, 2, 3)},  {{0, 0, 1, 1}, RGB(4, 5, 6)},
      {{9, 6, 10, 7}, RGB(7, 8, 9)},    {{4, 1, 6, 3}, RGB(11, 12, 13)},  {{5, 5, 6, 6}, RGB(14, 15, 16)},
      {{1, 3, 8, 4}, RGB(17, 18, 19)},  {{6, 0, 7, 7}, RGB(20, 21, 22)},  {{2, 2, 3, 3}, RGB(23, 24, 25)},
  };
  for (size_t i = 0; i < std::size(steps); ++i) {
    const Step& step = steps[i];
    HDC dc = GetDC(h);
    HBRUSH brush = CreateSolidBrush(step.color);
    FillRect(dc, &step.r, brush);
    DeleteObject(brush);
    ReleaseDC(h, dc);
    const uint32_t pixel = (GetRValue(step.color) << 16) | (GetGValue(step.color) << 8) | GetBValue(step.color);
    for (LONG y = std::max<LONG>(0, step.r.top); y < std::min<LONG>(7, step.r.bottom); ++y) {
      for (LONG x = std::max<LONG>(0, step.r.left); x < std::min<LONG>(10, step.r.right); ++x) model[y * 10 + x] = pixel;
    }
    expectModel("fill " + std::to_string(i));
  }
  // A fresh window: a drawing that is no fill keeps what the fills before it left.
  DestroyWindow(h);
  h = CreateWindowExA(0, "GdiFills", "", WS_POPUP, 0, 0, 10, 7, nullptr, nullptr, nullptr, nullptr);
  ASSERT_TRUE(h);
  HDC dc = GetDC(h);
  const RECT left{0, 0, 5, 7};
  FillRect(dc, &left, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  SetPixel(dc, 7, 3, RGB(0x12, 0x34, 0x56));
  ReleaseDC(h, dc);
  model.assign(70, 0xFFFFFFu);
  for (int y = 0; y < 7; ++y) {
    for (int x = 0; x < 5; ++x) model[static_cast<size_t>(y) * 10 + x] = 0;
  }
  model[3 * 10 + 7] = 0x123456u;
  expectModel("fill, then a pixel");
  // Fills kept as fills survive a resize; what the window gains is white.
  DestroyWindow(h);
  h = CreateWindowExA(0, "GdiFills", "", WS_POPUP, 0, 0, 4, 3, nullptr, nullptr, nullptr, nullptr);
  ASSERT_TRUE(h);
  dc = GetDC(h);
  const RECT all{0, 0, 4, 3};
  FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  ReleaseDC(h, dc);
  ASSERT_TRUE(SetWindowPos(h, nullptr, 0, 0, 6, 5, SWP_NOMOVE | SWP_NOZORDER));
  const wt::Image grown = wt::windowImage(h);
  ASSERT_EQ(grown.width, 6);
  EXPECT_EQ(grown.at(3, 2), 0u);
  EXPECT_EQ(grown.at(4, 2), 0xFFFFFFu);
  EXPECT_EQ(grown.at(0, 4), 0xFFFFFFu);
  DestroyWindow(h);
}

}  // namespace
