// GDI: device contexts over in-memory 32-bpp surfaces, bitmaps, brushes, pens and
// fonts; painting of windows (update regions, BeginPaint, UpdateWindow).
//
// Pixels are 0x00RRGGBB; COLORREF values are 0x00BBGGRR and are turned around at the
// boundary. Text is not rasterised: DrawTextA is recorded for the tests.
#include <algorithm>
#include <cstring>
#include <fstream>

#include "platform/resources.h"
#include "platform/window_test.h"
#include "window_internal.h"

namespace platform {
namespace win {
namespace {

struct GdiObject {
  explicit GdiObject(DWORD t) : type(t) {}
  virtual ~GdiObject() = default;
  DWORD type;
  bool stock = false;
};

struct BitmapObject : GdiObject {
  BitmapObject() : GdiObject(OBJ_BITMAP), surface(std::make_shared<Surface>()) {}
  std::shared_ptr<Surface> surface;
  WORD bitsPerPixel = 32;
};

struct BrushObject : GdiObject {
  BrushObject() : GdiObject(OBJ_BRUSH) {}
  COLORREF color = 0;
  bool hollow = false;
};

struct PenObject : GdiObject {
  PenObject() : GdiObject(OBJ_PEN) {}
  int style = PS_SOLID;
  int width = 1;
  COLORREF color = 0;
};

struct FontObject : GdiObject {
  FontObject() : GdiObject(OBJ_FONT) {}
  LOGFONTA font{};
};

struct DcState {
  uintptr_t bitmap = 0;
  uintptr_t brush = 0;
  uintptr_t pen = 0;
  uintptr_t font = 0;
  COLORREF textColor = 0;
  COLORREF bkColor = 0xFFFFFF;
  int bkMode = OPAQUE;
  int mapMode = MM_TEXT;
};

struct DcObject : GdiObject {
  explicit DcObject(DWORD t) : GdiObject(t) {}
  uint32_t window = 0;  // window DCs
  bool client = true;   // the client area, or the whole window
  bool screen = false;
  DcState state;
  std::vector<DcState> saved;
};

constexpr uintptr_t kStockBase = 0x100;
constexpr uintptr_t kDefaultBitmap = 0x140;
constexpr uintptr_t kSysBrushBase = 0x180;  // + colour index
uintptr_t g_nextHandle = 0x1000;

std::map<uintptr_t, std::shared_ptr<GdiObject>>& objects() {
  static auto* o = new std::map<uintptr_t, std::shared_ptr<GdiObject>>();
  return *o;
}

std::vector<wintest::DrawTextRecord>& drawTexts() {
  static auto* d = new std::vector<wintest::DrawTextRecord>();
  return *d;
}

Surface& screenSurface() {
  static auto* s = new Surface();
  s->resize(metric(SM_CXSCREEN), metric(SM_CYSCREEN));
  return *s;
}

uint32_t toPixel(COLORREF c) { return ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF); }
COLORREF toColor(uint32_t p) { return ((p & 0xFF) << 16) | (p & 0xFF00) | ((p >> 16) & 0xFF); }

void makeStock();

GdiObject* find(uintptr_t h) {
  makeStock();
  auto it = objects().find(h);
  return it == objects().end() ? nullptr : it->second.get();
}

template <class T>
T* findAs(const void* h) {
  return dynamic_cast<T*>(find(reinterpret_cast<uintptr_t>(h)));
}

uintptr_t insert(std::shared_ptr<GdiObject> object) {
  makeStock();
  while (objects().count(g_nextHandle)) ++g_nextHandle;
  const uintptr_t h = g_nextHandle++;
  if (g_nextHandle >= 0x3FFFFFF0u) g_nextHandle = 0x1000;
  objects()[h] = std::move(object);
  return h;
}

LOGFONTA namedFont(const char* face, LONG height, LONG weight) {
  LOGFONTA f{};
  f.lfHeight = height;
  f.lfWeight = weight;
  f.lfCharSet = DEFAULT_CHARSET;
  strncpy(f.lfFaceName, face, LF_FACESIZE - 1);
  return f;
}

void makeStock() {
  static bool made = false;
  if (made) return;
  made = true;
  auto& o = objects();
  auto brush = [&](int i, COLORREF c, bool hollow) {
    auto b = std::make_shared<BrushObject>();
    b->color = c;
    b->hollow = hollow;
    b->stock = true;
    o[kStockBase + i] = b;
  };
  brush(WHITE_BRUSH, RGB(255, 255, 255), false);
  brush(LTGRAY_BRUSH, RGB(192, 192, 192), false);
  brush(GRAY_BRUSH, RGB(128, 128, 128), false);
  brush(DKGRAY_BRUSH, RGB(64, 64, 64), false);
  brush(BLACK_BRUSH, RGB(0, 0, 0), false);
  brush(NULL_BRUSH, 0, true);
  auto pen = [&](int i, COLORREF c, int style) {
    auto p = std::make_shared<PenObject>();
    p->color = c;
    p->style = style;
    p->stock = true;
    o[kStockBase + i] = p;
  };
  pen(WHITE_PEN, RGB(255, 255, 255), PS_SOLID);
  pen(BLACK_PEN, 0, PS_SOLID);
  pen(NULL_PEN, 0, PS_NULL);
  auto font = [&](int i, const char* face, LONG height) {
    auto f = std::make_shared<FontObject>();
    f->font = namedFont(face, height, FW_NORMAL);
    f->stock = true;
    o[kStockBase + i] = f;
  };
  font(OEM_FIXED_FONT, "Terminal", 12);
  font(ANSI_FIXED_FONT, "Courier", 13);
  font(ANSI_VAR_FONT, "MS Sans Serif", 13);
  font(SYSTEM_FONT, "System", 16);
  font(DEVICE_DEFAULT_FONT, "System", 16);
  font(SYSTEM_FIXED_FONT, "Fixedsys", 15);
  font(DEFAULT_GUI_FONT, "MS Shell Dlg", -11);
  auto palette = std::make_shared<GdiObject>(OBJ_PAL);
  palette->stock = true;
  o[kStockBase + DEFAULT_PALETTE] = palette;
  auto bitmap = std::make_shared<BitmapObject>();
  bitmap->surface->resize(1, 1);
  bitmap->bitsPerPixel = 1;
  bitmap->stock = true;
  o[kDefaultBitmap] = bitmap;
  for (int i = 0; i <= 30; ++i) {
    auto b = std::make_shared<BrushObject>();
    b->color = systemColor(i);
    b->stock = true;
    o[kSysBrushBase + i] = b;
  }
}

DcState defaultState(bool memory) {
  DcState s;
  s.bitmap = memory ? kDefaultBitmap : 0;
  s.brush = kStockBase + WHITE_BRUSH;
  s.pen = kStockBase + BLACK_PEN;
  s.font = kStockBase + SYSTEM_FONT;
  return s;
}

// Where a DC draws: the surface, the origin of its coordinates in it, and the clip.
struct Target {
  std::shared_ptr<Surface> surface;
  Surface* raw = nullptr;
  int originX = 0;
  int originY = 0;
  RECT clip{};  // in surface coordinates
};

bool targetOf(const DcObject& dc, Target* t) {
  if (dc.screen) {
    t->raw = &screenSurface();
    t->clip = RECT{0, 0, t->raw->width, t->raw->height};
    return true;
  }
  if (dc.type == OBJ_MEMDC) {
    auto* bmp = dynamic_cast<BitmapObject*>(find(dc.state.bitmap));
    if (bmp == nullptr) return false;
    t->surface = bmp->surface;
    t->raw = bmp->surface.get();
    t->clip = RECT{0, 0, t->raw->width, t->raw->height};
    return true;
  }
  Window* w = findLocal(dc.window);
  if (w == nullptr) return false;
  t->surface = w->surface;
  t->raw = w->surface.get();
  RECT c = dc.client ? clientInSurface(*w) : RECT{0, 0, t->raw->width, t->raw->height};
  t->originX = c.left;
  t->originY = c.top;
  t->clip = c;
  RECT all{0, 0, t->raw->width, t->raw->height};
  IntersectRect(&t->clip, &t->clip, &all);
  return true;
}

uint32_t brushPixel(HBRUSH brush, bool* ok) {
  *ok = true;
  const uintptr_t v = reinterpret_cast<uintptr_t>(brush);
  if (v >= 1 && v <= 31) return toPixel(systemColor(static_cast<int>(v - 1)));  // colour index + 1
  auto* b = dynamic_cast<BrushObject*>(find(v));
  if (b == nullptr || b->hollow) {
    *ok = false;
    return 0;
  }
  return toPixel(b->color);
}

void fill(const Target& t, RECT r, uint32_t pixel) {
  OffsetRect(&r, t.originX, t.originY);
  if (!IntersectRect(&r, &r, &t.clip)) return;
  t.raw->fill(r, pixel);
}

int liveCount(DWORD type) {
  int n = 0;
  for (auto& [h, o] : objects()) {
    if (!o->stock && o->type == type) ++n;
  }
  return n;
}

bool selectedAnywhere(uintptr_t h) {
  for (auto& [k, o] : objects()) {
    auto* dc = dynamic_cast<DcObject*>(o.get());
    if (dc == nullptr) continue;
    const DcState& s = dc->state;
    if (s.bitmap == h || s.brush == h || s.pen == h || s.font == h) return true;
  }
  return false;
}

// A packed DIB (the bitmap resource's bytes) as a 32-bpp surface.
bool decodeDib(const unsigned char* data, size_t size, Surface* out, WORD* bpp) {
  if (size < sizeof(BITMAPINFOHEADER)) return false;
  BITMAPINFOHEADER h;
  memcpy(&h, data, sizeof h);
  if (h.biSize < sizeof(BITMAPINFOHEADER) || h.biSize > size || h.biWidth <= 0 || h.biHeight == 0) return false;
  if (h.biWidth > 16384 || h.biHeight > 16384 || h.biHeight < -16384) return false;
  const bool topDown = h.biHeight < 0;
  const int width = h.biWidth;
  const int height = topDown ? -h.biHeight : h.biHeight;
  const int bits = h.biBitCount;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32 && bits != 16) return false;
  if (h.biCompression != BI_RGB && !(h.biCompression == BI_BITFIELDS && (bits == 16 || bits == 32))) return false;
  size_t at = h.biSize;
  uint32_t masks[3] = {0x7C00, 0x03E0, 0x001F};
  if (bits == 32) {
    masks[0] = 0xFF0000;
    masks[1] = 0xFF00;
    masks[2] = 0xFF;
  }
  if (h.biCompression == BI_BITFIELDS) {
    if (at + 12 > size) return false;
    memcpy(masks, data + at, 12);
    at += 12;
  }
  std::vector<uint32_t> palette;
  if (bits <= 8) {
    size_t colours = h.biClrUsed ? h.biClrUsed : (1u << bits);
    if (colours > 256 || at + colours * 4 > size) return false;
    for (size_t i = 0; i < colours; ++i) {
      const unsigned char* q = data + at + i * 4;
      palette.push_back((static_cast<uint32_t>(q[2]) << 16) | (q[1] << 8) | q[0]);
    }
    at += colours * 4;
  }
  const size_t stride = ((static_cast<size_t>(width) * bits + 31) / 32) * 4;
  if (at + stride * static_cast<size_t>(height) > size) return false;
  auto channel = [](uint32_t v, uint32_t mask) -> uint32_t {
    if (mask == 0) return 0;
    int shift = __builtin_ctz(mask);
    uint32_t max = mask >> shift;
    return ((v & mask) >> shift) * 255 / max;
  };
  out->resize(0, 0);
  out->resize(width, height);
  for (int row = 0; row < height; ++row) {
    const unsigned char* line = data + at + stride * static_cast<size_t>(row);
    const int y = topDown ? row : height - 1 - row;
    uint32_t* dst = out->data() + static_cast<size_t>(y) * width;
    for (int x = 0; x < width; ++x) {
      uint32_t p = 0;
      switch (bits) {
        case 1:
          p = palette.at((line[x / 8] >> (7 - x % 8)) & 1);
          break;
        case 4:
          p = palette.at((line[x / 2] >> (x % 2 ? 0 : 4)) & 0xF);
          break;
        case 8:
          p = line[x] < palette.size() ? palette[line[x]] : 0;
          break;
        case 16: {
          const uint32_t v = line[x * 2] | (line[x * 2 + 1] << 8);
          p = (channel(v, masks[0]) << 16) | (channel(v, masks[1]) << 8) | channel(v, masks[2]);
          break;
        }
        case 24:
          p = (static_cast<uint32_t>(line[x * 3 + 2]) << 16) | (line[x * 3 + 1] << 8) | line[x * 3];
          break;
        case 32: {
          uint32_t v;
          memcpy(&v, line + x * 4, 4);
          p = (channel(v, masks[0]) << 16) | (channel(v, masks[1]) << 8) | channel(v, masks[2]);
          break;
        }
      }
      dst[x] = p;
    }
  }
  *bpp = static_cast<WORD>(bits);
  return true;
}

}  // namespace

COLORREF systemColor(int index) {
  switch (index) {
    case COLOR_WINDOW:
      return RGB(255, 255, 255);
    case COLOR_WINDOWTEXT:
    case COLOR_BTNTEXT:
      return RGB(0, 0, 0);
    case COLOR_BTNFACE:
      return RGB(240, 240, 240);
    case COLOR_BACKGROUND:
      return RGB(0, 120, 215);
    default:
      return RGB(192, 192, 192);
  }
}

HDC makeWindowDC(HWND hwnd, bool client) {
  auto lock = lockWindows();
  if (hwnd == nullptr || hwnd == GetDesktopWindow()) {
    auto dc = std::make_shared<DcObject>(OBJ_DC);
    dc->screen = true;
    dc->state = defaultState(false);
    return reinterpret_cast<HDC>(insert(dc));
  }
  Window* w = requireWindow(hwnd);
  if (w == nullptr) return nullptr;
  auto dc = std::make_shared<DcObject>(OBJ_DC);
  dc->window = w->id;
  dc->client = client;
  dc->state = defaultState(false);
  if (w->font != nullptr) dc->state.font = reinterpret_cast<uintptr_t>(w->font);
  return reinterpret_cast<HDC>(insert(dc));
}

void releaseWindowDC(HDC hdc) {
  auto lock = lockWindows();
  objects().erase(reinterpret_cast<uintptr_t>(hdc));
}

}  // namespace win
}  // namespace platform

using namespace platform::win;

extern "C" {

HDC WINAPI GetDC(HWND hwnd) { return makeWindowDC(hwnd, true); }

HDC WINAPI GetWindowDC(HWND hwnd) { return makeWindowDC(hwnd, false); }

int WINAPI ReleaseDC(HWND, HDC hdc) {
  auto lock = lockWindows();
  auto* dc = findAs<DcObject>(hdc);
  if (dc == nullptr || dc->type != OBJ_DC) return 0;
  objects().erase(reinterpret_cast<uintptr_t>(hdc));
  return 1;
}

HWND WINAPI WindowFromDC(HDC hdc) {
  auto lock = lockWindows();
  auto* dc = findAs<DcObject>(hdc);
  if (dc == nullptr || dc->window == 0 || findLocal(dc->window) == nullptr) return nullptr;
  return toHandle(dc->window);
}

HDC WINAPI CreateCompatibleDC(HDC hdc) {
  auto lock = lockWindows();
  if (hdc != nullptr && findAs<DcObject>(hdc) == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  auto dc = std::make_shared<DcObject>(OBJ_MEMDC);
  dc->state = defaultState(true);
  return reinterpret_cast<HDC>(insert(dc));
}

BOOL WINAPI DeleteDC(HDC hdc) {
  auto lock = lockWindows();
  auto* dc = findAs<DcObject>(hdc);
  if (dc == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  objects().erase(reinterpret_cast<uintptr_t>(hdc));
  return TRUE;
}

int WINAPI SaveDC(HDC hdc) {
  auto lock = lockWindows();
  auto* dc = findAs<DcObject>(hdc);
  if (dc == nullptr) return 0;
  dc->saved.push_back(dc->state);
  return static_cast<int>(dc->saved.size());
}

BOOL WINAPI RestoreDC(HDC hdc, int level) {
  auto lock = lockWindows();
  auto* dc = findAs<DcObject>(hdc);
  if (dc == nullptr) return FALSE;
  const int depth = static_cast<int>(dc->saved.size());
  const int target = level < 0 ? depth + level + 1 : level;
  if (target < 1 || target > depth) return FALSE;
  dc->state = dc->saved[static_cast<size_t>(target - 1)];
  dc->saved.resize(static_cast<size_t>(target - 1));
  return TRUE;
}

HBITMAP WINAPI CreateBitmap(int width, int height, UINT planes, UINT bits, const void* data) {
  if (width <= 0 || height <= 0 || width > 16384 || height > 16384 || planes != 1) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto lock = lockWindows();
  auto b = std::make_shared<BitmapObject>();
  b->surface->resize(width, height);
  const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
  uint32_t* pixels = b->surface->data();
  std::fill_n(pixels, count, 0u);
  b->bitsPerPixel = static_cast<WORD>(bits);
  if (data != nullptr && bits == 32) {
    memcpy(pixels, data, count * 4);
    for (size_t i = 0; i < count; ++i) pixels[i] &= 0xFFFFFF;
  }
  return reinterpret_cast<HBITMAP>(insert(b));
}

HBITMAP WINAPI CreateCompatibleBitmap(HDC hdc, int width, int height) {
  {
    auto lock = lockWindows();
    if (findAs<DcObject>(hdc) == nullptr) {
      SetLastError(ERROR_INVALID_HANDLE);
      return nullptr;
    }
  }
  return CreateBitmap(width, height, 1, 32, nullptr);
}

HBITMAP WINAPI CreateDIBSection(HDC, const BITMAPINFO* info, UINT, void** bits, HANDLE, DWORD) {
  // The pixels live in the layer's surface; callers that write through *bits are not supported.
  if (info == nullptr) return nullptr;
  if (bits) *bits = nullptr;
  const LONG h = info->bmiHeader.biHeight < 0 ? -info->bmiHeader.biHeight : info->bmiHeader.biHeight;
  return CreateBitmap(info->bmiHeader.biWidth, h, 1, info->bmiHeader.biBitCount, nullptr);
}

HBITMAP WINAPI LoadBitmapA(HINSTANCE module, LPCSTR name) {
  DWORD error = 0;
  const platform::ResourceEntry* e = platform::findResourceEntry(module, RT_BITMAP, name, &error);
  if (e == nullptr) {
    SetLastError(error ? error : ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  auto b = std::make_shared<BitmapObject>();
  WORD bpp = 0;
  if (!decodeDib(e->data, e->size, b->surface.get(), &bpp)) {
    SetLastError(ERROR_INVALID_DATA);
    return nullptr;
  }
  b->bitsPerPixel = bpp;
  auto lock = lockWindows();
  return reinterpret_cast<HBITMAP>(insert(b));
}

HBITMAP WINAPI LoadBitmapW(HINSTANCE module, LPCWSTR name) {
  if (IS_INTRESOURCE(name)) return LoadBitmapA(module, reinterpret_cast<LPCSTR>(name));
  const std::string narrow = platform::toUtf8(name);
  return LoadBitmapA(module, narrow.c_str());
}

HBRUSH WINAPI CreateSolidBrush(COLORREF color) {
  auto lock = lockWindows();
  auto b = std::make_shared<BrushObject>();
  b->color = color & 0xFFFFFF;
  return reinterpret_cast<HBRUSH>(insert(b));
}

HPEN WINAPI CreatePen(int style, int width, COLORREF color) {
  auto lock = lockWindows();
  auto p = std::make_shared<PenObject>();
  p->style = style;
  p->width = width;
  p->color = color;
  return reinterpret_cast<HPEN>(insert(p));
}

HFONT WINAPI CreateFontIndirectA(const LOGFONTA* lf) {
  if (lf == nullptr) return nullptr;
  auto lock = lockWindows();
  auto f = std::make_shared<FontObject>();
  f->font = *lf;
  return reinterpret_cast<HFONT>(insert(f));
}

HBRUSH WINAPI GetSysColorBrush(int index) {
  if (index < 0 || index > 30) return nullptr;
  auto lock = lockWindows();
  makeStock();
  return reinterpret_cast<HBRUSH>(kSysBrushBase + static_cast<uintptr_t>(index));
}

DWORD WINAPI GetSysColor(int index) { return systemColor(index); }

HGDIOBJ WINAPI GetStockObject(int i) {
  if (i < 0 || i > DEFAULT_GUI_FONT || i == 9) return nullptr;
  auto lock = lockWindows();
  makeStock();
  return reinterpret_cast<HGDIOBJ>(kStockBase + static_cast<uintptr_t>(i));
}

DWORD WINAPI GetObjectType(HGDIOBJ h) {
  auto lock = lockWindows();
  GdiObject* o = find(reinterpret_cast<uintptr_t>(h));
  if (o == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  return o->type;
}

HGDIOBJ WINAPI SelectObject(HDC hdc, HGDIOBJ h) {
  auto lock = lockWindows();
  auto* dc = findAs<DcObject>(hdc);
  GdiObject* o = find(reinterpret_cast<uintptr_t>(h));
  if (dc == nullptr || o == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  const uintptr_t v = reinterpret_cast<uintptr_t>(h);
  uintptr_t* slot = nullptr;
  switch (o->type) {
    case OBJ_BITMAP:
      if (dc->type != OBJ_MEMDC) return nullptr;
      // A bitmap is selected into one memory DC at a time.
      for (auto& [k, other] : objects()) {
        auto* odc = dynamic_cast<DcObject*>(other.get());
        if (odc != nullptr && odc != dc && odc->state.bitmap == v && v != kDefaultBitmap) return nullptr;
      }
      slot = &dc->state.bitmap;
      break;
    case OBJ_BRUSH:
      slot = &dc->state.brush;
      break;
    case OBJ_PEN:
      slot = &dc->state.pen;
      break;
    case OBJ_FONT:
      slot = &dc->state.font;
      break;
    default:
      return nullptr;
  }
  const uintptr_t previous = *slot;
  *slot = v;
  return reinterpret_cast<HGDIOBJ>(previous);
}

HGDIOBJ WINAPI GetCurrentObject(HDC hdc, UINT type) {
  auto lock = lockWindows();
  auto* dc = findAs<DcObject>(hdc);
  if (dc == nullptr) return nullptr;
  switch (type) {
    case OBJ_BITMAP:
      return reinterpret_cast<HGDIOBJ>(dc->state.bitmap);
    case OBJ_BRUSH:
      return reinterpret_cast<HGDIOBJ>(dc->state.brush);
    case OBJ_PEN:
      return reinterpret_cast<HGDIOBJ>(dc->state.pen);
    case OBJ_FONT:
      return reinterpret_cast<HGDIOBJ>(dc->state.font);
    default:
      return nullptr;
  }
}

BOOL WINAPI DeleteObject(HGDIOBJ h) {
  auto lock = lockWindows();
  const uintptr_t v = reinterpret_cast<uintptr_t>(h);
  GdiObject* o = find(v);
  if (o == nullptr || dynamic_cast<DcObject*>(o) != nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (o->stock) return TRUE;
  // An object still selected into a DC stays.
  if (selectedAnywhere(v)) return FALSE;
  objects().erase(v);
  return TRUE;
}

int WINAPI GetObjectA(HANDLE h, int size, LPVOID out) {
  auto lock = lockWindows();
  GdiObject* o = find(reinterpret_cast<uintptr_t>(h));
  if (o == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  if (auto* b = dynamic_cast<BitmapObject*>(o)) {
    if (out == nullptr) return sizeof(BITMAP);
    if (size < static_cast<int>(sizeof(BITMAP))) return 0;
    BITMAP bm{};
    bm.bmType = 0;
    bm.bmWidth = b->surface->width;
    bm.bmHeight = b->surface->height;
    bm.bmWidthBytes = ((b->surface->width * b->bitsPerPixel + 15) / 16) * 2;
    bm.bmPlanes = 1;
    bm.bmBitsPixel = b->bitsPerPixel;
    memcpy(out, &bm, sizeof bm);
    return sizeof(BITMAP);
  }
  if (auto* br = dynamic_cast<BrushObject*>(o)) {
    if (out == nullptr) return sizeof(LOGBRUSH);
    if (size < static_cast<int>(sizeof(LOGBRUSH))) return 0;
    LOGBRUSH lb{br->hollow ? static_cast<UINT>(BS_NULL) : static_cast<UINT>(BS_SOLID), br->color, 0};
    memcpy(out, &lb, sizeof lb);
    return sizeof(LOGBRUSH);
  }
  if (auto* f = dynamic_cast<FontObject*>(o)) {
    if (out == nullptr) return sizeof(LOGFONTA);
    const int n = std::min(size, static_cast<int>(sizeof(LOGFONTA)));
    memcpy(out, &f->font, static_cast<size_t>(n));
    return n;
  }
  return 0;
}

COLORREF WINAPI SetTextColor(HDC hdc, COLORREF c) {
  auto lock = lockWindows();
  auto* dc = findAs<DcObject>(hdc);
  if (dc == nullptr) return CLR_INVALID;
  COLORREF old = dc->state.textColor;
  dc->state.textColor = c;
  return old;
}

COLORREF WINAPI GetTextColor(HDC hdc) {
  auto lock = lockWindows();
  auto* dc = findAs<DcObject>(hdc);
  return dc ? dc->state.textColor : CLR_INVALID;
}

COLORREF WINAPI SetBkColor(HDC hdc, COLORREF c) {
  auto lock = lockWindows();
  auto* dc = findAs<DcObject>(hdc);
  if (dc == nullptr) return CLR_INVALID;
  COLORREF old = dc->state.bkColor;
  dc->state.bkColor = c;
  return old;
}

COLORREF WINAPI GetBkColor(HDC hdc) {
  auto lock = lockWindows();
  auto* dc = findAs<DcObject>(hdc);
  return dc ? dc->state.bkColor : CLR_INVALID;
}

int WINAPI SetBkMode(HDC hdc, int mode) {
  auto lock = lockWindows();
  auto* dc = findAs<DcObject>(hdc);
  if (dc == nullptr || (mode != TRANSPARENT && mode != OPAQUE)) return 0;
  int old = dc->state.bkMode;
  dc->state.bkMode = mode;
  return old;
}

int WINAPI GetBkMode(HDC hdc) {
  auto lock = lockWindows();
  auto* dc = findAs<DcObject>(hdc);
  return dc ? dc->state.bkMode : 0;
}

int WINAPI SetMapMode(HDC hdc, int mode) {
  auto lock = lockWindows();
  auto* dc = findAs<DcObject>(hdc);
  if (dc == nullptr || mode < MM_TEXT || mode > MM_ANISOTROPIC) return 0;
  int old = dc->state.mapMode;
  dc->state.mapMode = mode;
  return old;
}

int WINAPI GetMapMode(HDC hdc) {
  auto lock = lockWindows();
  auto* dc = findAs<DcObject>(hdc);
  return dc ? dc->state.mapMode : 0;
}

int WINAPI FillRect(HDC hdc, const RECT* rect, HBRUSH brush) {
  if (rect == nullptr) return 0;
  auto lock = lockWindows();
  auto* dc = findAs<DcObject>(hdc);
  Target t;
  if (dc == nullptr || !targetOf(*dc, &t)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  bool ok = false;
  const uint32_t pixel = brushPixel(brush, &ok);
  if (!ok) return reinterpret_cast<uintptr_t>(brush) == kStockBase + NULL_BRUSH ? 1 : 0;
  fill(t, *rect, pixel);
  return 1;
}

BOOL WINAPI Rectangle(HDC hdc, int left, int top, int right, int bottom) {
  auto lock = lockWindows();
  auto* dc = findAs<DcObject>(hdc);
  Target t;
  if (dc == nullptr || !targetOf(*dc, &t)) return FALSE;
  bool ok = false;
  const uint32_t inside = brushPixel(reinterpret_cast<HBRUSH>(dc->state.brush), &ok);
  if (ok) fill(t, RECT{left, top, right, bottom}, inside);
  auto* pen = dynamic_cast<PenObject*>(find(dc->state.pen));
  if (pen != nullptr && pen->style != PS_NULL) {
    const uint32_t p = toPixel(pen->color);
    fill(t, RECT{left, top, right, top + 1}, p);
    fill(t, RECT{left, bottom - 1, right, bottom}, p);
    fill(t, RECT{left, top, left + 1, bottom}, p);
    fill(t, RECT{right - 1, top, right, bottom}, p);
  }
  return TRUE;
}

COLORREF WINAPI GetPixel(HDC hdc, int x, int y) {
  auto lock = lockWindows();
  auto* dc = findAs<DcObject>(hdc);
  Target t;
  if (dc == nullptr || !targetOf(*dc, &t)) return CLR_INVALID;
  POINT p{x + t.originX, y + t.originY};
  if (!PtInRect(&t.clip, p)) return CLR_INVALID;
  return toColor(t.raw->pixel(static_cast<size_t>(p.y) * t.raw->width + p.x));
}

COLORREF WINAPI SetPixel(HDC hdc, int x, int y, COLORREF color) {
  auto lock = lockWindows();
  auto* dc = findAs<DcObject>(hdc);
  Target t;
  if (dc == nullptr || !targetOf(*dc, &t)) return CLR_INVALID;
  fill(t, RECT{x, y, x + 1, y + 1}, toPixel(color));
  return color;
}

BOOL WINAPI BitBlt(HDC dest, int x, int y, int cx, int cy, HDC src, int sx, int sy, DWORD rop) {
  auto lock = lockWindows();
  auto* d = findAs<DcObject>(dest);
  Target dt;
  if (d == nullptr || !targetOf(*d, &dt)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (rop == BLACKNESS || rop == WHITENESS || rop == PATCOPY) {
    uint32_t pixel = rop == WHITENESS ? kWhitePixel : 0;
    if (rop == PATCOPY) {
      bool ok = false;
      pixel = brushPixel(reinterpret_cast<HBRUSH>(d->state.brush), &ok);
      if (!ok) return TRUE;
    }
    fill(dt, RECT{x, y, x + cx, y + cy}, pixel);
    return TRUE;
  }
  auto* s = findAs<DcObject>(src);
  Target st;
  if (s == nullptr || !targetOf(*s, &st)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  // Copy through a temporary, so that source and destination may overlap.
  std::vector<uint32_t> block(static_cast<size_t>(std::max(0, cx)) * static_cast<size_t>(std::max(0, cy)));
  std::vector<bool> present(block.size(), false);
  for (int j = 0; j < cy; ++j) {
    for (int i = 0; i < cx; ++i) {
      POINT p{sx + i + st.originX, sy + j + st.originY};
      if (!PtInRect(&st.clip, p)) continue;
      block[static_cast<size_t>(j) * cx + i] = st.raw->pixel(static_cast<size_t>(p.y) * st.raw->width + p.x);
      present[static_cast<size_t>(j) * cx + i] = true;
    }
  }
  uint32_t* pixels = dt.raw->data();
  for (int j = 0; j < cy; ++j) {
    for (int i = 0; i < cx; ++i) {
      if (!present[static_cast<size_t>(j) * cx + i]) continue;
      POINT p{x + i + dt.originX, y + j + dt.originY};
      if (!PtInRect(&dt.clip, p)) continue;
      uint32_t& out = pixels[static_cast<size_t>(p.y) * dt.raw->width + p.x];
      const uint32_t in = block[static_cast<size_t>(j) * cx + i];
      switch (rop) {
        case SRCPAINT:
          out |= in;
          break;
        case SRCAND:
          out &= in;
          break;
        default:
          out = in;
          break;
      }
    }
  }
  return TRUE;
}

BOOL WINAPI StretchBlt(HDC dest, int x, int y, int w, int h, HDC src, int sx, int sy, int sw, int sh, DWORD rop) {
  if (w == sw && h == sh) return BitBlt(dest, x, y, w, h, src, sx, sy, rop);
  // Nearest neighbour, one pixel at a time.
  for (int j = 0; j < h; ++j) {
    for (int i = 0; i < w; ++i) {
      const int si = sx + (sw * i) / std::max(1, w);
      const int sj = sy + (sh * j) / std::max(1, h);
      BitBlt(dest, x + i, y + j, 1, 1, src, si, sj, rop);
    }
  }
  return TRUE;
}

int WINAPI DrawTextA(HDC hdc, LPCSTR text, int count, LPRECT rect, UINT format) {
  if (text == nullptr || rect == nullptr) return 0;
  auto lock = lockWindows();
  auto* dc = findAs<DcObject>(hdc);
  if (dc == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  const std::string s = count < 0 ? std::string(text) : std::string(text, static_cast<size_t>(count));
  // A fixed cell per character: 7 x 13 pixels, as the dialog font roughly is.
  const int height = 13;
  if (format & DT_CALCRECT) {
    rect->right = rect->left + 7 * static_cast<LONG>(s.size());
    rect->bottom = rect->top + height;
    return height;
  }
  platform::wintest::DrawTextRecord r;
  r.window = dc->window ? toHandle(dc->window) : nullptr;
  r.text = s;
  r.rect = *rect;
  r.format = format;
  r.font = reinterpret_cast<HFONT>(dc->state.font);
  r.bkMode = dc->state.bkMode;
  r.textColor = dc->state.textColor;
  drawTexts().push_back(std::move(r));
  return height;
}

BOOL WINAPI TextOutA(HDC hdc, int x, int y, LPCSTR text, int count) {
  RECT r{x, y, x + 7 * std::max(0, count), y + 13};
  return DrawTextA(hdc, text, count, &r, DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOCLIP) != 0;
}

BOOL WINAPI GetTextExtentPoint32A(HDC, LPCSTR, int count, LPSIZE size) {
  if (size == nullptr) return FALSE;
  size->cx = 7 * std::max(0, count);
  size->cy = 13;
  return TRUE;
}

BOOL WINAPI GetTextMetricsA(HDC, LPTEXTMETRICA tm) {
  if (tm == nullptr) return FALSE;
  *tm = TEXTMETRICA{};
  tm->tmHeight = 13;
  tm->tmAscent = 11;
  tm->tmDescent = 2;
  tm->tmAveCharWidth = 6;
  tm->tmMaxCharWidth = 13;
  tm->tmWeight = FW_NORMAL;
  return TRUE;
}

int WINAPI GetDeviceCaps(HDC, int index) {
  switch (index) {
    case LOGPIXELSX:
    case LOGPIXELSY:
      return 96;
    case BITSPIXEL:
      return 32;
    case HORZRES:
      return GetSystemMetrics(SM_CXSCREEN);
    case VERTRES:
      return GetSystemMetrics(SM_CYSCREEN);
    default:
      return 0;
  }
}

// Painting.

BOOL WINAPI InvalidateRect(HWND hwnd, const RECT* rect, BOOL erase) {
  auto lock = lockWindows();
  if (hwnd == nullptr) return TRUE;
  Window* w = requireWindow(hwnd);
  if (w == nullptr) return FALSE;
  RECT c = clientInSurface(*w);
  RECT client{0, 0, c.right - c.left, c.bottom - c.top};
  RECT area = rect ? *rect : client;
  if (!IntersectRect(&area, &area, &client)) return TRUE;
  if (w->updatePending) {
    UnionRect(&w->update, &w->update, &area);
  } else {
    w->update = area;
  }
  w->updatePending = true;
  if (erase) w->erasePending = true;
  return TRUE;
}

BOOL WINAPI ValidateRect(HWND hwnd, const RECT*) {
  auto lock = lockWindows();
  Window* w = findLocal(hwnd);
  if (w == nullptr) return FALSE;
  w->updatePending = false;
  w->erasePending = false;
  w->update = RECT{};
  return TRUE;
}

BOOL WINAPI GetUpdateRect(HWND hwnd, LPRECT rect, BOOL) {
  auto lock = lockWindows();
  Window* w = findLocal(hwnd);
  if (w == nullptr || !w->updatePending) {
    if (rect) *rect = RECT{};
    return FALSE;
  }
  if (rect) *rect = w->update;
  return TRUE;
}

BOOL WINAPI UpdateWindow(HWND hwnd) {
  {
    auto lock = lockWindows();
    Window* w = requireWindow(hwnd);
    if (w == nullptr) return FALSE;
    if (!w->updatePending) return TRUE;
  }
  if (!IsWindowVisible(hwnd)) return TRUE;
  // Synchronous, as SendMessage: the window procedure paints before this returns.
  SendMessageA(hwnd, WM_PAINT, 0, 0);
  return TRUE;
}

HDC WINAPI BeginPaint(HWND hwnd, LPPAINTSTRUCT ps) {
  if (ps == nullptr) return nullptr;
  bool erase = false;
  RECT area{};
  {
    auto lock = lockWindows();
    Window* w = requireWindow(hwnd);
    if (w == nullptr) return nullptr;
    erase = w->erasePending;
    area = w->updatePending ? w->update : RECT{};
    w->updatePending = false;
    w->erasePending = false;
    w->update = RECT{};
  }
  HDC hdc = makeWindowDC(hwnd, true);
  *ps = PAINTSTRUCT{};
  ps->hdc = hdc;
  ps->rcPaint = area;
  ps->fErase = FALSE;
  if (erase && hdc != nullptr) {
    // fErase tells the procedure that the background still needs erasing.
    ps->fErase = SendMessageA(hwnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(hdc), 0) == 0;
  }
  return hdc;
}

BOOL WINAPI EndPaint(HWND, const PAINTSTRUCT* ps) {
  if (ps == nullptr || ps->hdc == nullptr) return FALSE;
  releaseWindowDC(ps->hdc);
  return TRUE;
}

}  // extern "C"

namespace platform {
namespace wintest {

std::vector<DrawTextRecord> drawTextCalls() {
  auto lock = win::lockWindows();
  return win::drawTexts();
}

void clearDrawTextCalls() {
  auto lock = win::lockWindows();
  win::drawTexts().clear();
}

int gdiObjectCount(DWORD type) {
  auto lock = win::lockWindows();
  win::makeStock();
  return win::liveCount(type);
}

std::map<DWORD, int> gdiObjectCounts() {
  auto lock = win::lockWindows();
  win::makeStock();
  std::map<DWORD, int> out;
  for (DWORD t : {OBJ_PEN, OBJ_BRUSH, OBJ_DC, OBJ_FONT, OBJ_BITMAP, OBJ_MEMDC}) out[t] = win::liveCount(t);
  return out;
}

Image windowImage(HWND hwnd) {
  auto lock = win::lockWindows();
  Image img;
  win::Window* w = win::findLocal(hwnd);
  if (w == nullptr) return img;
  img.width = w->surface->width;
  img.height = w->surface->height;
  img.pixels = w->surface->copy();
  return img;
}

Image bitmapImage(HBITMAP bitmap) {
  auto lock = win::lockWindows();
  Image img;
  auto* b = win::findAs<win::BitmapObject>(bitmap);
  if (b == nullptr) return img;
  img.width = b->surface->width;
  img.height = b->surface->height;
  img.pixels = b->surface->copy();
  return img;
}

bool saveImage(const Image& image, const std::string& path) {
  if (image.width <= 0 || image.height <= 0) return false;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  const uint32_t imageSize = static_cast<uint32_t>(image.width) * static_cast<uint32_t>(image.height) * 4;
  BITMAPFILEHEADER fh{};
  fh.bfType = 0x4D42;
  fh.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
  fh.bfSize = fh.bfOffBits + imageSize;
  BITMAPINFOHEADER ih{};
  ih.biSize = sizeof ih;
  ih.biWidth = image.width;
  ih.biHeight = -image.height;  // rows from the top
  ih.biPlanes = 1;
  ih.biBitCount = 32;
  ih.biCompression = BI_RGB;
  ih.biSizeImage = imageSize;
  out.write(reinterpret_cast<const char*>(&fh), sizeof fh);
  out.write(reinterpret_cast<const char*>(&ih), sizeof ih);
  out.write(reinterpret_cast<const char*>(image.pixels.data()), static_cast<std::streamsize>(imageSize));
  return static_cast<bool>(out);
}

bool saveWindowImage(HWND hwnd, const std::string& path) { return saveImage(windowImage(hwnd), path); }

}  // namespace wintest
}  // namespace platform
