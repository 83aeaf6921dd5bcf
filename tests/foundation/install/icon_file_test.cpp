// Icon files: the platform's ExtractIconExA reads and checks them, and
// loadIconFile takes the small icon from the installation directory.
#include "FoundationFixture.h"

#include "foundation/core/InstallEnv.h"
#include "platform/win_shell.h"
#include "platform/window_test.h"

#include <gtest/gtest.h>
#include "quarvel_test.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace ft = foundationtest;

namespace {

void put16(std::string& s, uint16_t v) {
  s += static_cast<char>(v & 0xFF);
  s += static_cast<char>(v >> 8);
}
void put32(std::string& s, uint32_t v) {
  put16(s, static_cast<uint16_t>(v & 0xFFFF));
  put16(s, static_cast<uint16_t>(v >> 16));
}
void putBE32(std::string& s, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) s += static_cast<char>((v >> shift) & 0xFF);
}

// A DIB icon image: header, palette, colour rows and mask rows.
std::string dib(int side, int bits) {
  std::string s;
  put32(s, 40);
  put32(s, static_cast<uint32_t>(side));
  put32(s, static_cast<uint32_t>(side * 2));
  put16(s, 1);
  put16(s, static_cast<uint16_t>(bits));
  for (int i = 0; i < 6; ++i) put32(s, 0);
  if (bits <= 8) s.append(static_cast<size_t>(4 << bits), '\0');
  const size_t colourRow = static_cast<size_t>((side * bits + 31) / 32 * 4);
  const size_t maskRow = static_cast<size_t>((side + 31) / 32 * 4);
  s.append(colourRow * static_cast<size_t>(side), '\x55');
  if (bits < 32) s.append(maskRow * static_cast<size_t>(side), '\0');
  return s;
}

// A PNG image as far as the directory check reads it: signature and IHDR.
std::string png(int side) {
  std::string s("\x89PNG\r\n\x1a\n", 8);
  putBE32(s, 13);
  s += "IHDR";
  putBE32(s, static_cast<uint32_t>(side));
  putBE32(s, static_cast<uint32_t>(side));
  s += std::string("\x08\x06\x00\x00\x00", 5);
  putBE32(s, 0);  // CRC, not checked
  return s;
}

// An icon file of these images; `fix` may damage the directory afterwards.
std::string ico(const std::vector<std::string>& images, uint16_t type = 1) {
  std::string s;
  put16(s, 0);
  put16(s, type);
  put16(s, static_cast<uint16_t>(images.size()));
  uint32_t offset = static_cast<uint32_t>(6 + 16 * images.size());
  for (const std::string& image : images) {
    s += std::string("\x10\x10\x00\x00", 4);
    put16(s, 1);
    put16(s, 32);
    put32(s, static_cast<uint32_t>(image.size()));
    put32(s, offset);
    offset += static_cast<uint32_t>(image.size());
  }
  for (const std::string& image : images) s += image;
  return s;
}

const std::string kFile = "C:\\icons\\test.ico";

UINT extract(const std::string& bytes, int index = 0) {
  ft::writeFile(kFile, bytes);
  HICON large = nullptr;
  HICON small = nullptr;
  const UINT count = ExtractIconExA(kFile.c_str(), index, &large, &small, 1);
  EXPECT_EQ(large != nullptr, count == 1);
  EXPECT_EQ(small != nullptr, count == 1);
  if (large != nullptr) {
    EXPECT_TRUE(DestroyIcon(large));
  }
  if (small != nullptr) {
    EXPECT_TRUE(DestroyIcon(small));
  }
  return count;
}

TEST(ExtractIcon, FileTable) {
  const std::string good = ico({dib(16, 32), dib(32, 8)});
  std::string truncatedDirectory = good.substr(0, 6 + 16);
  std::string offsetBeyond = ico({dib(16, 32)});
  offsetBeyond[6 + 12] = '\x7F';
  std::string badBits = dib(16, 8);
  badBits[14] = 7;
  std::string oddHeight = dib(32, 32);
  oddHeight[8] = 33;  // colour and mask halves must be equal
  const struct {
    const char* name;
    std::string bytes;
    UINT count;
  } rows[] = {
      {"DIB images", good, 1},
      {"PNG image", ico({png(48)}), 1},
      {"1-bit image", ico({dib(32, 1)}), 1},
      {"a bad image next to a good one", ico({dib(16, 32).substr(0, 100), dib(32, 4)}), 1},
      {"empty file", "", 0},
      {"text", "this is not an icon file at all", 0},
      {"cursor file", ico({dib(32, 32)}, 2), 0},
      {"no images", ico({}), 0},
      {"directory cut short", truncatedDirectory, 0},
      {"image beyond the end", offsetBeyond, 0},
      {"image cut short", ico({dib(32, 32).substr(0, 1000)}), 0},
      {"odd height", ico({oddHeight}), 0},
      {"colour rows without mask rows", ico({dib(32, 8).substr(0, 40 + 1024 + 32 * 32)}), 0},
      {"7 bits per pixel", ico({badBits}), 0},
      {"PNG without header", ico({png(48).substr(0, 16)}), 0},
  };
  for (const auto& row : rows) EXPECT_EQ(extract(row.bytes), row.count) << row.name;
  EXPECT_EQ(extract(good, 1), 0u);  // an icon file holds one icon

  ft::writeFile(kFile, good);
  EXPECT_EQ(ExtractIconExA(kFile.c_str(), -1, nullptr, nullptr, 0), 1u);
  ft::writeFile(kFile, "garbage");
  EXPECT_EQ(ExtractIconExA(kFile.c_str(), -1, nullptr, nullptr, 0), 0u);
  EXPECT_EQ(ExtractIconExA("C:\\icons\\missing.ico", 0, nullptr, nullptr, 1), 0u);
}

TEST(ExtractIcon, ChoosesTheNearestImage) {
  using platform::IconImageInfo;
  auto image = [](int side, int bits) {
    IconImageInfo i;
    i.width = side;
    i.height = side;
    i.bitCount = bits;
    return i;
  };
  const struct {
    std::vector<IconImageInfo> images;
    int side;
    int width;
    int bits;
  } rows[] = {
      {{image(16, 32), image(32, 32), image(48, 32)}, 32, 32, 32},
      {{image(16, 32), image(32, 32), image(48, 32)}, 16, 16, 32},
      {{image(24, 8), image(40, 8)}, 32, 40, 8},  // equally near: the larger
      {{image(32, 4), image(32, 32), image(32, 8)}, 32, 32, 32},  // same size: the most colours
      {{image(256, 32)}, 16, 256, 32},
  };
  for (const auto& row : rows) {
    const IconImageInfo* chosen = platform::chooseIconImage(row.images, row.side, row.side);
    ASSERT_NE(chosen, nullptr);
    EXPECT_EQ(chosen->width, row.width);
    EXPECT_EQ(chosen->bitCount, row.bits);
  }
  EXPECT_EQ(platform::chooseIconImage({}, 16, 16), nullptr);
}

class IconFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ft::makeApplication();
    ft::installDirectory();
  }
  static void putIcon(const std::string& name, const std::string& bytes) {
    ft::writeFile(std::string(ft::kInstallDir) + "\\" + name + ".ico", bytes);
  }
};

TEST_F(IconFileTest, SmallIconOfTheInstalledFile) {
  putIcon("config\\images\\icon", ico({dib(32, 32), dib(16, 32)}));
  HICON icon = loadIconFile("config\\images\\icon");
  ASSERT_NE(icon, nullptr);
  EXPECT_EQ(platform::wintest::iconCount(), 1);  // the large icon is gone again
  EXPECT_TRUE(DestroyIcon(icon));
  EXPECT_EQ(platform::wintest::iconCount(), 0);
  EXPECT_FALSE(DestroyIcon(icon));  // the caller owned the only reference
}

TEST_F(IconFileTest, NoIconGivesNull) {
  putIcon("empty", "");
  putIcon("garbage", "GIF89a not an icon");
  putIcon("cursor", ico({dib(32, 32)}, 2));
  for (const char* name : {"empty", "garbage", "cursor", "missing"}) EXPECT_EQ(loadIconFile(name), nullptr) << name;
  EXPECT_EQ(loadIconFile(nullptr), nullptr);
  EXPECT_EQ(platform::wintest::iconCount(), 0);
}

QUARVEL_CHILD(icon_without_install_dir) {
  ft::makeApplication();
  ft::writeFile(std::string(ft::kInstallDir) + "\\icon.ico", ico({dib(16, 32)}));
  return loadIconFile("icon") == nullptr ? 0 : 1;
}

TEST(IconFile, NoInstallationDirectoryGivesNull) { EXPECT_EQ(quarveltest::runChild("icon_without_install_dir"), 0); }

}  // namespace
