// Icon files (".ico") for ExtractIconExA: the directory, the image headers and
// their bounds are checked before an icon is handed out.
#include "platform/win_shell.h"

#include "platform/machine.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

namespace platform {
namespace {

uint16_t le16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t le32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
uint32_t be32(const unsigned char* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

constexpr size_t kDirectoryHeader = 6;
constexpr size_t kDirectoryEntry = 16;
constexpr int kMaxSide = 1024;
const unsigned char kPngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

// A PNG image: signature and IHDR chunk with a sane size.
bool readPng(const unsigned char* image, uint32_t size, IconImageInfo& info) {
  if (size < 33 || std::memcmp(image + 12, "IHDR", 4) != 0 || be32(image + 8) != 13) return false;
  const uint32_t width = be32(image + 16);
  const uint32_t height = be32(image + 20);
  if (width == 0 || height == 0 || width > kMaxSide || height > kMaxSide) return false;
  info.width = static_cast<int>(width);
  info.height = static_cast<int>(height);
  info.bitCount = 32;
  info.png = true;
  return true;
}

// A DIB image: BITMAPINFOHEADER with the doubled height of colour and mask, and
// room for the palette, the colour rows and (below 32 bits) the mask rows.
bool readDib(const unsigned char* image, uint32_t size, IconImageInfo& info) {
  if (size < 40) return false;
  const uint32_t headerSize = le32(image);
  const int32_t width = static_cast<int32_t>(le32(image + 4));
  const int32_t doubledHeight = static_cast<int32_t>(le32(image + 8));
  const uint16_t planes = le16(image + 12);
  const uint16_t bitCount = le16(image + 14);
  const uint32_t compression = le32(image + 16);
  const uint32_t coloursUsed = le32(image + 32);
  if (headerSize < 40 || headerSize > size || planes != 1 || compression != 0) return false;
  if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 16 && bitCount != 24 && bitCount != 32)
    return false;
  if (width <= 0 || width > kMaxSide || doubledHeight <= 0 || doubledHeight % 2 != 0 || doubledHeight / 2 > kMaxSide)
    return false;
  const uint64_t height = static_cast<uint64_t>(doubledHeight / 2);
  uint64_t palette = 0;
  if (bitCount <= 8) {
    const uint64_t entries = coloursUsed != 0 ? coloursUsed : (1u << bitCount);
    if (entries > (1u << bitCount)) return false;
    palette = entries * 4;
  }
  const uint64_t colourRow = (static_cast<uint64_t>(width) * bitCount + 31) / 32 * 4;
  const uint64_t maskRow = (static_cast<uint64_t>(width) + 31) / 32 * 4;
  uint64_t needed = headerSize + palette + colourRow * height;
  if (bitCount < 32) needed += maskRow * height;
  if (needed > size) return false;
  info.width = width;
  info.height = static_cast<int>(height);
  info.bitCount = bitCount;
  return true;
}

std::string readWholeFile(const char* path) {
  std::ifstream in(mapPath(path), std::ios::binary);
  if (!in) return {};
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

std::vector<IconImageInfo> readIconFile(const unsigned char* bytes, std::size_t length) {
  std::vector<IconImageInfo> images;
  if (bytes == nullptr || length < kDirectoryHeader) return images;
  if (le16(bytes) != 0 || le16(bytes + 2) != 1) return images;  // reserved, type 1 = icon
  const size_t count = le16(bytes + 4);
  const size_t directoryEnd = kDirectoryHeader + count * kDirectoryEntry;
  if (count == 0 || directoryEnd > length) return images;
  for (size_t i = 0; i < count; ++i) {
    const unsigned char* entry = bytes + kDirectoryHeader + i * kDirectoryEntry;
    IconImageInfo info;
    info.size = le32(entry + 8);
    info.offset = le32(entry + 12);
    if (info.size == 0 || info.offset < directoryEnd || info.offset > length || info.size > length - info.offset)
      continue;
    const unsigned char* image = bytes + info.offset;
    const bool png = info.size >= sizeof kPngSignature && std::memcmp(image, kPngSignature, sizeof kPngSignature) == 0;
    if (png ? readPng(image, info.size, info) : readDib(image, info.size, info)) images.push_back(info);
  }
  return images;
}

const IconImageInfo* chooseIconImage(const std::vector<IconImageInfo>& images, int width, int height) {
  const IconImageInfo* best = nullptr;
  auto distance = [width, height](const IconImageInfo& i) { return std::abs(i.width - width) + std::abs(i.height - height); };
  for (const IconImageInfo& image : images) {
    if (best == nullptr) {
      best = &image;
      continue;
    }
    const int d = distance(image);
    const int bestD = distance(*best);
    if (d < bestD || (d == bestD && image.width > best->width) ||
        (d == bestD && image.width == best->width && image.bitCount > best->bitCount))
      best = &image;
  }
  return best;
}

}  // namespace platform

extern "C" UINT WINAPI ExtractIconExA(LPCSTR lpszFile, int nIconIndex, HICON* phiconLarge, HICON* phiconSmall,
                                      UINT nIcons) {
  if (phiconLarge != nullptr) *phiconLarge = nullptr;
  if (phiconSmall != nullptr) *phiconSmall = nullptr;
  if (lpszFile == nullptr) return 0;
  const std::string bytes = platform::readWholeFile(lpszFile);
  const std::vector<platform::IconImageInfo> images =
      platform::readIconFile(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
  if (nIconIndex == -1 && phiconLarge == nullptr && phiconSmall == nullptr) return images.empty() ? 0 : 1;
  // An icon file holds a single icon.
  if (images.empty() || nIconIndex != 0 || nIcons == 0) return 0;
  UINT extracted = 0;
  struct Wanted {
    HICON* target;
    int side;
  } wanted[] = {{phiconLarge, 32}, {phiconSmall, 16}};
  for (const Wanted& w : wanted) {
    if (w.target == nullptr) continue;
    const platform::IconImageInfo* image = platform::chooseIconImage(images, w.side, w.side);
    *w.target = static_cast<HICON>(LoadImageA(nullptr, lpszFile, IMAGE_ICON, image->width, image->height, LR_LOADFROMFILE));
    if (*w.target != nullptr) extracted = 1;
  }
  return extracted;
}
