// Resources of the program and of a loaded module, from their generated tables.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/resources.h"

namespace {

std::vector<unsigned char> readFixture(const char* name) {
  std::ifstream in(std::string(FIXTURES_DIR) + "/" + name, std::ios::binary);
  return std::vector<unsigned char>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::vector<unsigned char> resourceBytes(HMODULE module, LPCSTR name, LPCSTR type) {
  HRSRC info = FindResourceA(module, name, type);
  if (!info) return {};
  HGLOBAL data = LoadResource(module, info);
  const auto* bytes = static_cast<const unsigned char*>(LockResource(data));
  if (!bytes) return {};
  return std::vector<unsigned char>(bytes, bytes + SizeofResource(module, info));
}

uint32_t le32(const std::vector<unsigned char>& b, size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}
uint16_t le16(const std::vector<unsigned char>& b, size_t at) { return static_cast<uint16_t>(b[at] | (b[at + 1] << 8)); }

class ModuleResources : public ::testing::Test {
 protected:
  void SetUp() override {
    library_ = LoadLibraryA(MODTEST_PATH);
    ASSERT_NE(library_, nullptr) << GetLastError();
  }
  void TearDown() override {
    if (library_) FreeLibrary(library_);
  }
  HMODULE library_ = nullptr;
};

TEST_F(ModuleResources, SameIdDifferentModulesDifferentTexts) {
  char text[64];
  EXPECT_EQ(LoadStringA(nullptr, 1, text, sizeof text), 7);
  EXPECT_STREQ(text, "Quarvel");
  EXPECT_EQ(LoadStringA(GetModuleHandleA(nullptr), 1, text, sizeof text), 7);
  EXPECT_STREQ(text, "Quarvel");
  EXPECT_EQ(LoadStringA(library_, 1, text, sizeof text), 7);
  EXPECT_STREQ(text, "ModTest");
  EXPECT_EQ(LoadStringA(library_, 3, text, sizeof text), 21);
  EXPECT_STREQ(text, "nur in der Bibliothek");
  EXPECT_EQ(LoadStringA(nullptr, 3, text, sizeof text), 0) << "only the library has string 3";

  // The module reads its own strings through its own handle.
  using LoadOwn = int (*)(UINT, char*, int);
  auto loadOwn = reinterpret_cast<LoadOwn>(reinterpret_cast<void (*)()>(GetProcAddress(library_, "ModTest_LoadOwnString")));
  ASSERT_NE(loadOwn, nullptr);
  EXPECT_EQ(loadOwn(1, text, sizeof text), 7);
  EXPECT_STREQ(text, "ModTest");
}

TEST_F(ModuleResources, StringsOfAStaleModuleAreGone) {
  HMODULE stale = library_;
  ASSERT_TRUE(FreeLibrary(library_));
  library_ = nullptr;
  char text[16] = "untouched";
  SetLastError(0);
  EXPECT_EQ(LoadStringA(stale, 1, text, sizeof text), 0);
  EXPECT_STREQ(text, "");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  SetLastError(0);
  EXPECT_EQ(FindResourceA(stale, MAKEINTRESOURCEA(1), RT_STRING), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

TEST(StringResources, TruncationAndMissingIds) {
  struct Case {
    UINT id;
    int size;
    int result;
    const char* text;
  } cases[] = {
      {1, 4096, 7, "Quarvel"},
      {1, 8, 7, "Quarvel"},
      {1, 7, 6, "Quarve"},
      {1, 2, 1, "Q"},
      {1, 1, 0, ""},
      {2, 100, 26, "Die Datei wurde geöffnet."},
      {2, 21, 20, "Die Datei wurde geö"},
      {2, 20, 18, "Die Datei wurde ge"},  // ö takes two bytes: never half of it
      {40, 100, 21, "Notenschlüssel \xF0\x9D\x84\x9E!"},
      {40, 20, 16, "Notenschlüssel "},  // nor part of a four-byte character
      {17, 100, 8, "siebzehn"},
      {0x1234, 100, 8, "weit weg"},
      {0, 100, 0, ""},      // same block as 1, empty slot
      {16, 100, 0, ""},     // same block as 17, empty slot
      {18, 100, 0, ""},
      {999, 100, 0, ""},    // no block at all
      {0x10001, 100, 7, "Quarvel"},  // ids are 16 bits, as on Windows
  };
  for (const Case& c : cases) {
    std::vector<char> buffer(static_cast<size_t>(c.size) + 8, 'x');
    SetLastError(0);
    EXPECT_EQ(LoadStringA(nullptr, c.id, buffer.data(), c.size), c.result) << c.id << "/" << c.size;
    if (c.result == 0 && c.size > 1) {
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND)) << c.id;
    }
    EXPECT_STREQ(buffer.data(), c.text) << c.id << "/" << c.size;
    EXPECT_EQ(buffer[static_cast<size_t>(c.size)], 'x') << "written past the buffer: " << c.id << "/" << c.size;
  }
  char untouched[4] = "abc";
  EXPECT_EQ(LoadStringA(nullptr, 1, untouched, 0), 0);
  EXPECT_STREQ(untouched, "abc");
  EXPECT_EQ(LoadStringA(nullptr, 1, nullptr, 10), 0);
}

TEST(StringResources, WideTextsAndTheReadOnlyPointer) {
  WCHAR text[64];
  EXPECT_EQ(LoadStringW(nullptr, 2, text, 64), 25);
  EXPECT_EQ(std::u16string(text), u"Die Datei wurde geöffnet.");
  EXPECT_EQ(LoadStringW(nullptr, 40, text, 64), 18);
  EXPECT_EQ(std::u16string(text), u"Notenschlüssel \U0001D11E!");
  EXPECT_EQ(LoadStringW(nullptr, 40, text, 17), 15) << "a surrogate pair is not split";
  EXPECT_EQ(std::u16string(text), u"Notenschlüssel ");

  const WCHAR* direct = nullptr;
  EXPECT_EQ(LoadStringW(nullptr, 1, reinterpret_cast<LPWSTR>(&direct), 0), 7);
  ASSERT_NE(direct, nullptr);
  EXPECT_EQ(std::u16string(direct, 7), u"Quarvel");
}

TEST(Resources, IconGroupNamesItsImages) {
  const std::vector<unsigned char> file = readFixture("quarvel.ico");
  ASSERT_GT(file.size(), 6u);
  const std::vector<unsigned char> group = resourceBytes(nullptr, MAKEINTRESOURCEA(115), RT_GROUP_ICON);
  const uint16_t count = le16(file, 4);
  ASSERT_EQ(group.size(), 6u + 14u * count);
  EXPECT_EQ(le16(group, 0), 0);
  EXPECT_EQ(le16(group, 2), 1);
  EXPECT_EQ(le16(group, 4), count);
  for (uint16_t i = 0; i < count; ++i) {
    const size_t entry = 6 + 14 * i;
    const size_t fileEntry = 6 + 16 * i;
    EXPECT_TRUE(std::equal(group.begin() + entry, group.begin() + entry + 12, file.begin() + fileEntry));
    const uint16_t imageId = le16(group, entry + 12);
    const std::vector<unsigned char> image = resourceBytes(nullptr, MAKEINTRESOURCEA(imageId), RT_ICON);
    const uint32_t size = le32(file, fileEntry + 8);
    const uint32_t offset = le32(file, fileEntry + 12);
    ASSERT_EQ(image.size(), size) << "image " << i;
    EXPECT_TRUE(std::equal(image.begin(), image.end(), file.begin() + offset)) << "image " << i;
  }
}

TEST(Resources, BitmapIsTheFileWithoutItsHeader) {
  const std::vector<unsigned char> file = readFixture("logo.bmp");
  const std::vector<unsigned char> bitmap = resourceBytes(nullptr, MAKEINTRESOURCEA(127), RT_BITMAP);
  ASSERT_EQ(bitmap.size(), file.size() - 14);
  EXPECT_TRUE(std::equal(bitmap.begin(), bitmap.end(), file.begin() + 14));
  EXPECT_EQ(le32(bitmap, 0), 40u) << "starts with the DIB header";
}

TEST(Resources, NamesNumbersAndTypesAsFindResourceTakesThem) {
  const std::vector<unsigned char> blob = readFixture("blob.bin");
  const std::vector<unsigned char> html = readFixture("page.html");
  struct Case {
    LPCSTR name;
    LPCSTR type;
    const std::vector<unsigned char>* expected;
  } cases[] = {
      {"BLOB", RT_RCDATA, &blob},
      {"blob", RT_RCDATA, &blob},           // names ignore case
      {MAKEINTRESOURCEA(300), RT_RCDATA, &blob},
      {"#300", RT_RCDATA, &blob},           // "#n" is the number n
      {"#300", "#10", &blob},
      {MAKEINTRESOURCEA(500), "HTML", &html},
      {MAKEINTRESOURCEA(500), "html", &html},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(resourceBytes(nullptr, c.name, c.type), *c.expected);
  }

  struct Missing {
    HMODULE module;
    LPCSTR name;
    LPCSTR type;
    DWORD error;
  } missing[] = {
      {nullptr, MAKEINTRESOURCEA(301), RT_RCDATA, ERROR_RESOURCE_NAME_NOT_FOUND},
      {nullptr, "#30", RT_RCDATA, ERROR_RESOURCE_NAME_NOT_FOUND},
      {nullptr, "300", RT_RCDATA, ERROR_RESOURCE_NAME_NOT_FOUND},  // a name, not a number
      {nullptr, MAKEINTRESOURCEA(1), RT_MENU, ERROR_RESOURCE_TYPE_NOT_FOUND},
      {nullptr, MAKEINTRESOURCEA(500), "XML", ERROR_RESOURCE_TYPE_NOT_FOUND},
      {GetModuleHandleA("kernel32.dll"), MAKEINTRESOURCEA(1), RT_STRING, ERROR_RESOURCE_DATA_NOT_FOUND},
      {reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x7777)), MAKEINTRESOURCEA(1), RT_STRING, ERROR_MOD_NOT_FOUND},
  };
  for (const Missing& m : missing) {
    SetLastError(0);
    EXPECT_EQ(FindResourceA(m.module, m.name, m.type), nullptr);
    EXPECT_EQ(GetLastError(), m.error);
  }
}

TEST(Resources, LanguagesAndHandlesOfOtherModules) {
  HRSRC neutral = FindResourceExA(nullptr, "HTML", MAKEINTRESOURCEA(500), 0);
  EXPECT_NE(neutral, nullptr);
  EXPECT_NE(FindResourceExA(nullptr, "HTML", MAKEINTRESOURCEA(501), 0x0407), nullptr);
  SetLastError(0);
  EXPECT_EQ(FindResourceExA(nullptr, "HTML", MAKEINTRESOURCEA(501), 0x0409), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_LANG_NOT_FOUND));

  // A resource handle belongs to its module: another module refuses it.
  HMODULE library = LoadLibraryA(MODTEST_PATH);
  ASSERT_NE(library, nullptr);
  SetLastError(0);
  EXPECT_EQ(LoadResource(library, neutral), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(SizeofResource(library, neutral), 0u);
  EXPECT_EQ(LoadResource(nullptr, reinterpret_cast<HRSRC>(&library)), nullptr) << "not a resource at all";
  EXPECT_NE(FindResourceA(library, "libicon", RT_GROUP_ICON), nullptr);
  EXPECT_EQ(FindResourceA(nullptr, "libicon", RT_GROUP_ICON), nullptr);
  EXPECT_TRUE(FreeLibrary(library));
}

TEST(Resources, TheInternalLookupSeesTheGeneratedTable) {
  const platform::ResourceTable* table = platform::resourceTableOf(nullptr);
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(table->magic, platform::kResourceTableMagic);
  const platform::ResourceEntry* entry = platform::findResourceEntry(nullptr, RT_BITMAP, MAKEINTRESOURCEA(127));
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(entry->data) % 8, 0u) << "resource data is aligned";
}

}  // namespace
