// Writes dialog template 201, the reader selection, in the binary form that the
// resource table of a module keeps (DLGTEMPLATE with UTF-16 texts).
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kPopup = 0x80000000, kVisible = 0x10000000, kCaption = 0x00C00000, kSysMenu = 0x00080000,
                   kCentre = 0x0800, kSetFont = 0x40;
constexpr uint16_t kButton = 0x80, kStatic = 0x82;

struct Item {
  uint16_t id;
  const char* className;  // by name, or nullptr for the atom
  uint16_t atom;
  const char* text;
  int16_t x, y, cx, cy;
  uint32_t style;
};

const Item kItems[] = {
    {2000, "SysListView32", 0, "List1", 15, 74, 251, 116, 0x50810201},
    {1066, nullptr, kButton, "Aktueller Kartenleser: ", 15, 12, 250, 37, 0x50000007},
    {3015, nullptr, kStatic, "Kein Kartenleser konfiguriert", 29, 31, 221, 11, 0x50020001},
    {2013, nullptr, kButton, "Übernehmen", 210, 194, 55, 14, 0x58010000},
    {1, nullptr, kButton, "OK", 87, 194, 55, 14, 0x58010000},
    {2, nullptr, kButton, "Abbrechen", 148, 194, 55, 14, 0x50010000},
    {1067, nullptr, kStatic, "Wählen Sie den Kartenleser, den Sie mit Quarvel verwenden möchten:", 15, 60, 252, 11,
     0x50020000},
};

class Writer {
 public:
  void word(uint32_t v) {
    bytes.push_back(static_cast<unsigned char>(v & 0xFF));
    bytes.push_back(static_cast<unsigned char>((v >> 8) & 0xFF));
  }
  void dword(uint32_t v) {
    word(v & 0xFFFF);
    word(v >> 16);
  }
  // UTF-8 in, UTF-16 with its terminating zero out.
  void text(const std::string& utf8) {
    for (size_t i = 0; i < utf8.size();) {
      const unsigned char c = static_cast<unsigned char>(utf8[i]);
      uint32_t cp = c;
      int extra = 0;
      if (c >= 0xF0) {
        cp = c & 0x07;
        extra = 3;
      } else if (c >= 0xE0) {
        cp = c & 0x0F;
        extra = 2;
      } else if (c >= 0xC0) {
        cp = c & 0x1F;
        extra = 1;
      }
      for (int k = 1; k <= extra && i + k < utf8.size(); ++k) cp = (cp << 6) | (utf8[i + k] & 0x3F);
      i += 1 + extra;
      if (cp >= 0x10000) {
        cp -= 0x10000;
        word(0xD800 + (cp >> 10));
        word(0xDC00 + (cp & 0x3FF));
      } else {
        word(cp);
      }
    }
    word(0);
  }
  void align() {
    while (bytes.size() % 4) bytes.push_back(0);
  }
  std::vector<unsigned char> bytes;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <output file>\n", argv[0]);
    return 2;
  }
  Writer w;
  w.dword(kPopup | kVisible | kCaption | kSysMenu | kCentre | kSetFont);
  w.dword(0);
  w.word(sizeof kItems / sizeof kItems[0]);
  w.word(0);
  w.word(0);
  w.word(278);
  w.word(214);
  w.word(0);  // no menu
  w.word(0);  // the dialog class
  w.text("Kartenleser Auswahl");
  w.word(8);
  w.text("MS Sans Serif");
  for (const Item& item : kItems) {
    w.align();
    w.dword(item.style);
    w.dword(0);
    w.word(static_cast<uint16_t>(item.x));
    w.word(static_cast<uint16_t>(item.y));
    w.word(static_cast<uint16_t>(item.cx));
    w.word(static_cast<uint16_t>(item.cy));
    w.word(item.id);
    if (item.className) {
      w.text(item.className);
    } else {
      w.word(0xFFFF);
      w.word(item.atom);
    }
    w.text(item.text);
    w.word(0);  // no creation data
  }
  FILE* out = std::fopen(argv[1], "wb");
  if (!out) {
    std::perror(argv[1]);
    return 1;
  }
  const bool written = std::fwrite(w.bytes.data(), 1, w.bytes.size(), out) == w.bytes.size();
  return std::fclose(out) == 0 && written ? 0 : 1;
}
