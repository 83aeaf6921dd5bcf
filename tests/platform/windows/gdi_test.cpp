// Device contexts and GDI objects: pixels, selections, saved states, bitmap
// resources, recorded text and the object counters.
#include <windows.h>

#include <gtest/gtest.h>

#include "platform/window_test.h"

namespace {

namespace wt = platform::wintest;

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
  WNDCLASSA wc{};
  wc.lpfnWndProc = DefWindowProcA;
  wc.lpszClassName = "GdiWindow";
  RegisterClassA(&wc);
  HWND h = CreateWindowExA(0, "GdiWindow", "", WS_POPUP | WS_BORDER, 0, 0, 20, 10, nullptr, nullptr, nullptr, nullptr);
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
  WNDCLASSA wc{};
  wc.lpfnWndProc = DefWindowProcA;
  wc.lpszClassName = "GdiUndrawn";
  RegisterClassA(&wc);
  HWND h = CreateWindowExA(0, "GdiUndrawn", "", WS_POPUP, 0, 0, 8, 6, nullptr, nullptr, nullptr, nullptr);
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

}  // namespace
