#include "dialog_picture.h"

#include "commctrl.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include <png.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace quarveltest {
namespace {

using platform::wintest::Image;

constexpr uint32_t kFace = 0xF0F0F0;
constexpr uint32_t kWhite = 0xFFFFFF;
constexpr uint32_t kText = 0x000000;
constexpr uint32_t kGrayText = 0x6D6D6D;
constexpr uint32_t kBorder = 0x7A7A7A;
constexpr uint32_t kLight = 0xDCDCDC;
constexpr uint32_t kHighlight = 0x0078D7;
constexpr uint32_t kCaption = 0x2B579A;
constexpr int kLineHeight = 14;

// One FreeType face for the whole process; the font file was found when the tests were
// configured.
class Font {
 public:
  Font() {
    if (FT_Init_FreeType(&library_) != 0) return;
    if (FT_New_Face(library_, QUARVEL_PICTURE_FONT, 0, &face_) != 0) {
      face_ = nullptr;
      return;
    }
    FT_Set_Pixel_Sizes(face_, 0, 11);
  }
  ~Font() {
    if (face_) FT_Done_Face(face_);
    if (library_) FT_Done_FreeType(library_);
  }
  FT_Face face() const { return face_; }

 private:
  FT_Library library_ = nullptr;
  FT_Face face_ = nullptr;
};

Font& font() {
  static Font f;
  return f;
}

std::vector<uint32_t> codepoints(const std::string& text) {
  std::vector<uint32_t> out;
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    int extra = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
    if (extra < 0 || i + static_cast<size_t>(extra) >= text.size()) {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    uint32_t cp = extra == 0 ? c : c & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    out.push_back(cp);
    i += static_cast<size_t>(extra) + 1;
  }
  return out;
}

int advance(uint32_t cp) {
  FT_Face face = font().face();
  if (face == nullptr) return 6;
  if (FT_Load_Char(face, cp, FT_LOAD_DEFAULT) != 0) return 6;
  return static_cast<int>(face->glyph->advance.x >> 6);
}

int textWidth(const std::vector<uint32_t>& cps) {
  int w = 0;
  for (uint32_t cp : cps) w += advance(cp);
  return w;
}

class Canvas {
 public:
  explicit Canvas(Image& image) : image_(image) {}

  void fill(RECT r, uint32_t color) {
    clipTo(r);
    for (int y = r.top; y < r.bottom; ++y) {
      for (int x = r.left; x < r.right; ++x) put(x, y, color);
    }
  }
  void frame(RECT r, uint32_t color) {
    fill({r.left, r.top, r.right, r.top + 1}, color);
    fill({r.left, r.bottom - 1, r.right, r.bottom}, color);
    fill({r.left, r.top, r.left + 1, r.bottom}, color);
    fill({r.right - 1, r.top, r.right, r.bottom}, color);
  }
  // One line of text with its top-left corner at (x, y), clipped to `clip`.
  void text(int x, int y, const std::vector<uint32_t>& cps, uint32_t color, RECT clip) {
    FT_Face face = font().face();
    if (face == nullptr) return;
    const int baseline = y + 10;
    for (uint32_t cp : cps) {
      if (FT_Load_Char(face, cp, FT_LOAD_RENDER) != 0) continue;
      const FT_GlyphSlot g = face->glyph;
      for (unsigned row = 0; row < g->bitmap.rows; ++row) {
        for (unsigned col = 0; col < g->bitmap.width; ++col) {
          const unsigned char a = g->bitmap.buffer[row * static_cast<unsigned>(g->bitmap.pitch) + col];
          const int px = x + g->bitmap_left + static_cast<int>(col);
          const int py = baseline - g->bitmap_top + static_cast<int>(row);
          if (a == 0 || px < clip.left || px >= clip.right || py < clip.top || py >= clip.bottom) continue;
          blend(px, py, color, a);
        }
      }
      x += static_cast<int>(g->advance.x >> 6);
    }
  }
  void picture(const Image& src, int x, int y, RECT clip) {
    for (int j = 0; j < src.height; ++j) {
      for (int i = 0; i < src.width; ++i) {
        const int px = x + i, py = y + j;
        if (px < clip.left || px >= clip.right || py < clip.top || py >= clip.bottom) continue;
        put(px, py, src.at(i, j));
      }
    }
  }

 private:
  void clipTo(RECT& r) const {
    r.left = std::max<LONG>(r.left, 0);
    r.top = std::max<LONG>(r.top, 0);
    r.right = std::min<LONG>(r.right, image_.width);
    r.bottom = std::min<LONG>(r.bottom, image_.height);
  }
  void put(int x, int y, uint32_t color) {
    if (x < 0 || y < 0 || x >= image_.width || y >= image_.height) return;
    image_.pixels[static_cast<size_t>(y) * image_.width + x] = color;
  }
  void blend(int x, int y, uint32_t color, unsigned alpha) {
    if (x < 0 || y < 0 || x >= image_.width || y >= image_.height) return;
    uint32_t& p = image_.pixels[static_cast<size_t>(y) * image_.width + x];
    auto mix = [alpha](uint32_t a, uint32_t b) { return (a * alpha + b * (255 - alpha)) / 255; };
    const uint32_t r = mix((color >> 16) & 0xFF, (p >> 16) & 0xFF);
    const uint32_t g = mix((color >> 8) & 0xFF, (p >> 8) & 0xFF);
    const uint32_t b = mix(color & 0xFF, p & 0xFF);
    p = (r << 16) | (g << 8) | b;
  }

  Image& image_;
};

std::string windowText(HWND hwnd) {
  std::string text(static_cast<size_t>(GetWindowTextLengthA(hwnd)) + 1, '\0');
  text.resize(static_cast<size_t>(GetWindowTextA(hwnd, &text[0], static_cast<int>(text.size()))));
  return text;
}

// The text without its mnemonic marks ("&&" stays one "&").
std::string withoutMnemonics(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '&' && i + 1 < text.size()) ++i;
    out.push_back(text[i]);
  }
  return out;
}

// Lines of at most `width` pixels, broken at blanks and at line breaks.
std::vector<std::vector<uint32_t>> wrap(const std::string& text, int width, bool wordWrap) {
  std::vector<std::vector<uint32_t>> lines(1);
  std::vector<uint32_t> word;
  auto flushWord = [&]() {
    if (word.empty()) return;
    std::vector<uint32_t>& line = lines.back();
    if (wordWrap && !line.empty() && textWidth(line) + textWidth(word) > width) {
      while (!line.empty() && line.back() == ' ') line.pop_back();
      lines.emplace_back();
    }
    lines.back().insert(lines.back().end(), word.begin(), word.end());
    word.clear();
  };
  for (uint32_t cp : codepoints(text)) {
    if (cp == '\r') continue;
    if (cp == '\n') {
      flushWord();
      lines.emplace_back();
      continue;
    }
    word.push_back(cp);
    if (cp == ' ') flushWord();
  }
  flushWord();
  return lines;
}

void drawText(Canvas& c, const std::string& text, RECT r, uint32_t color, int align, bool wordWrap, bool vcenter) {
  const auto lines = wrap(text, r.right - r.left, wordWrap);
  int y = r.top;
  if (vcenter) y = r.top + ((r.bottom - r.top) - kLineHeight * static_cast<int>(lines.size())) / 2;
  for (const auto& line : lines) {
    const int w = textWidth(line);
    int x = r.left;
    if (align == 1) x = r.left + ((r.right - r.left) - w) / 2;
    if (align == 2) x = r.right - w;
    c.text(x, y, line, color, r);
    y += kLineHeight;
  }
}

RECT childRect(HWND child, POINT origin) {
  RECT r{};
  GetWindowRect(child, &r);
  OffsetRect(&r, -origin.x, -origin.y);
  return r;
}

std::string className(HWND hwnd) {
  char name[64] = {0};
  GetClassNameA(hwnd, name, sizeof name);
  return name;
}

void drawButton(Canvas& c, HWND b, RECT r, DWORD style, uint32_t ink) {
  const DWORD type = style & 0xF;
  const std::string text = withoutMnemonics(windowText(b));
  if (type == BS_GROUPBOX) {
    RECT box{r.left, r.top + kLineHeight / 2, r.right, r.bottom};
    c.frame(box, kLight);
    const auto line = codepoints(text);
    c.fill({r.left + 6, r.top, r.left + 10 + textWidth(line), r.top + kLineHeight}, kFace);
    c.text(r.left + 8, r.top, line, ink, r);
    return;
  }
  const bool check = type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == 5 || type == 6;
  const bool radio = type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON;
  if (check || radio) {
    const int top = r.top + ((r.bottom - r.top) - 13) / 2;
    RECT box{r.left, top, r.left + 13, top + 13};
    c.fill(box, kWhite);
    c.frame(box, kBorder);
    if (SendMessageA(b, BM_GETCHECK, 0, 0) == BST_CHECKED) {
      c.fill({box.left + 3, box.top + 3, box.right - 3, box.bottom - 3}, radio ? kText : kHighlight);
    }
    drawText(c, text, {r.left + 18, r.top, r.right, r.bottom}, ink, 0, true, true);
    return;
  }
  c.fill(r, 0xE1E1E1);
  c.frame(r, type == BS_DEFPUSHBUTTON ? kHighlight : 0xADADAD);
  drawText(c, text, r, ink, 1, false, true);
}

void drawStatic(Canvas& c, HWND s, RECT r, DWORD style, uint32_t ink) {
  const DWORD type = style & 0x1F;
  if (type == SS_BITMAP) {
    auto bitmap = reinterpret_cast<HBITMAP>(SendMessageA(s, STM_GETIMAGE, IMAGE_BITMAP, 0));
    if (bitmap != nullptr) c.picture(platform::wintest::bitmapImage(bitmap), r.left, r.top, r);
    return;
  }
  const std::string raw = windowText(s);
  const std::string text = (style & 0x80) ? raw : withoutMnemonics(raw);  // SS_NOPREFIX
  drawText(c, text, r, ink, type == SS_CENTER ? 1 : type == SS_RIGHT ? 2 : 0, true, false);
}

void drawEdit(Canvas& c, HWND e, RECT r, DWORD style, uint32_t ink) {
  c.fill(r, (style & ES_READONLY) || !IsWindowEnabled(e) ? kFace : kWhite);
  c.frame(r, kBorder);
  std::string text = windowText(e);
  const auto mask = static_cast<char>(SendMessageA(e, EM_GETPASSWORDCHAR, 0, 0));
  if (mask != 0) text.assign(codepoints(text).size(), mask);
  drawText(c, text, {r.left + 3, r.top, r.right - 2, r.bottom}, ink, 0, false, true);
}

void drawList(Canvas& c, HWND l, RECT r, uint32_t ink) {
  c.fill(r, kWhite);
  c.frame(r, kBorder);
  const int count = static_cast<int>(SendMessageA(l, LB_GETCOUNT, 0, 0));
  const int selected = static_cast<int>(SendMessageA(l, LB_GETCURSEL, 0, 0));
  RECT inner{r.left + 1, r.top + 1, r.right - 1, r.bottom - 1};
  for (int i = 0; i < count && inner.top + i * kLineHeight < inner.bottom; ++i) {
    std::string row(static_cast<size_t>(SendMessageA(l, LB_GETTEXTLEN, i, 0)) + 1, '\0');
    row.resize(static_cast<size_t>(SendMessageA(l, LB_GETTEXT, i, reinterpret_cast<LPARAM>(&row[0]))));
    RECT line{inner.left, inner.top + i * kLineHeight, inner.right, std::min(inner.bottom, inner.top + (i + 1) * kLineHeight)};
    if (i == selected) c.fill(line, kHighlight);
    c.text(line.left + 2, line.top, codepoints(row), i == selected ? kWhite : ink, line);
  }
}

void drawCombo(Canvas& c, HWND cb, RECT r, uint32_t ink) {
  RECT box{r.left, r.top, r.right, r.top + 21};
  c.fill(box, IsWindowEnabled(cb) ? kWhite : kFace);
  c.frame(box, kBorder);
  RECT arrow{box.right - 17, box.top + 1, box.right - 1, box.bottom - 1};
  c.fill(arrow, 0xE1E1E1);
  for (int k = 0; k < 4; ++k) {
    c.fill({arrow.left + 4 + k, arrow.top + 8 + k, arrow.right - 4 - k, arrow.top + 9 + k}, ink);
  }
  drawText(c, windowText(cb), {box.left + 3, box.top, arrow.left - 1, box.bottom}, ink, 0, false, true);
}

void drawProgress(Canvas& c, HWND p, RECT r) {
  c.fill(r, 0xE6E6E6);
  c.frame(r, 0xBCBCBC);
  PBRANGE range{0, 100};
  SendMessageA(p, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
  const long long span = range.iHigh > range.iLow ? range.iHigh - range.iLow : 1;
  const long long done = std::max<long long>(0, std::min<long long>(SendMessageA(p, PBM_GETPOS, 0, 0) - range.iLow, span));
  const int width = static_cast<int>((r.right - r.left - 2) * done / span);
  c.fill({r.left + 1, r.top + 1, r.left + 1 + width, r.bottom - 1}, 0x06B025);
}

void drawChildren(Canvas& c, HWND parent, POINT origin) {
  for (HWND child = GetWindow(parent, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
    const DWORD style = static_cast<DWORD>(GetWindowLongA(child, GWL_STYLE));
    if (!(style & WS_VISIBLE)) continue;
    const RECT r = childRect(child, origin);
    const uint32_t ink = IsWindowEnabled(child) ? kText : kGrayText;
    const std::string cls = className(child);
    if (cls == "Button") {
      drawButton(c, child, r, style, ink);
    } else if (cls == "Static") {
      drawStatic(c, child, r, style, ink);
    } else if (cls == "Edit") {
      drawEdit(c, child, r, style, ink);
    } else if (cls == "ListBox") {
      drawList(c, child, r, ink);
    } else if (cls == "ComboBox") {
      drawCombo(c, child, r, ink);
    } else if (cls == "msctls_progress32") {
      drawProgress(c, child, r);
    } else {
      c.frame(r, kBorder);
    }
    drawChildren(c, child, origin);
  }
}

}  // namespace

Image windowPicture(HWND window) {
  Image image;
  RECT frame{};
  if (!GetWindowRect(window, &frame)) return image;
  image.width = frame.right - frame.left;
  image.height = frame.bottom - frame.top;
  image.pixels.assign(static_cast<size_t>(image.width) * image.height, kFace);
  Canvas c(image);
  POINT client{0, 0};
  ClientToScreen(window, &client);
  const RECT whole{0, 0, image.width, image.height};
  const int captionBottom = client.y - frame.top;
  const DWORD style = static_cast<DWORD>(GetWindowLongA(window, GWL_STYLE));
  if ((style & WS_CAPTION) == WS_CAPTION && captionBottom > 1) {
    c.fill({0, 0, image.width, captionBottom}, kCaption);
    drawText(c, windowText(window), {8, 0, image.width - 8, captionBottom}, kWhite, 0, false, true);
  }
  c.frame(whole, kBorder);
  drawChildren(c, window, POINT{frame.left, frame.top});
  return image;
}

bool savePng(const Image& image, const std::string& path) {
  if (image.width <= 0 || image.height <= 0) return false;
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "wb"), &std::fclose);
  if (!file) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (info == nullptr) {
    png_destroy_write_struct(&png, nullptr);
    return false;
  }
  std::vector<unsigned char> row(static_cast<size_t>(image.width) * 3);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_init_io(png, file.get());
  png_set_IHDR(png, info, static_cast<png_uint_32>(image.width), static_cast<png_uint_32>(image.height), 8,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      const uint32_t p = image.at(x, y);
      row[static_cast<size_t>(x) * 3] = static_cast<unsigned char>(p >> 16);
      row[static_cast<size_t>(x) * 3 + 1] = static_cast<unsigned char>(p >> 8);
      row[static_cast<size_t>(x) * 3 + 2] = static_cast<unsigned char>(p);
    }
    png_write_row(png, row.data());
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

bool saveWindowPicture(HWND window, const std::string& directory, const std::string& name) {
  ::mkdir(directory.c_str(), 0755);
  return savePng(windowPicture(window), directory + "/" + name + ".png");
}

}  // namespace quarveltest
