// Large keys and the per-process hive cache: names stay findable as values come and
// go, and a hive file replaced under the cache is never answered from stale memory.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "platform/registry_test.h"
#include "registry_helpers.h"

namespace {

using regtest::ScopedKey;

std::string name(int i) { return "Entry" + std::to_string(i); }

DWORD readDword(HKEY key, const std::string& valueName) {
  DWORD value = 0, size = sizeof value;
  EXPECT_EQ(RegQueryValueExA(key, valueName.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size),
            ERROR_SUCCESS)
      << valueName;
  return value;
}

TEST(RegistryLargeKey, ValuesStayFindableAndOrderedAsOthersAreRemoved) {
  constexpr int kCount = 300;
  ScopedKey key;
  ASSERT_EQ(regtest::createKey(HKEY_CURRENT_USER, "Software\\Large", key), ERROR_SUCCESS);
  for (int i = 0; i < kCount; ++i) ASSERT_EQ(regtest::setDword(key.get(), name(i).c_str(), i), ERROR_SUCCESS);

  // First, middle and last go; names are matched in any case.
  for (const char* removed : {"ENTRY0", "entry150", "Entry299"})
    ASSERT_EQ(RegDeleteValueA(key.get(), removed), ERROR_SUCCESS) << removed;
  EXPECT_EQ(RegDeleteValueA(key.get(), "entry150"), ERROR_FILE_NOT_FOUND);
  // A value set again after removal comes last; an existing one keeps its place and spelling.
  ASSERT_EQ(regtest::setDword(key.get(), "ENTRY150", 1500), ERROR_SUCCESS);
  ASSERT_EQ(regtest::setDword(key.get(), "entry1", 10), ERROR_SUCCESS);

  std::vector<std::string> expected;
  for (int i = 1; i < kCount - 1; ++i)
    if (i != 150) expected.push_back(name(i));
  expected.push_back("ENTRY150");
  EXPECT_EQ(regtest::valueNames(key.get()), expected);
  for (int i = 2; i < kCount - 1; ++i) {
    if (i == 150) continue;
    EXPECT_EQ(readDword(key.get(), name(i)), static_cast<DWORD>(i));
  }
  EXPECT_EQ(readDword(key.get(), "Entry150"), 1500u);
  EXPECT_EQ(readDword(key.get(), "ENTRY1"), 10u);
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(key.get(), "Entry0", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
}

std::vector<char> fileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Two versions of one hive, alike in size, written in place in turns: the file keeps
// its inode and size, so its time stamps or its content must tell them apart.
class RegistryCache : public testing::Test {
 protected:
  // Each version is a hive as its first write makes it (a later write would append to
  // it): the file is removed between the two.
  void SetUp() override {
    ASSERT_EQ(regtest::setDword(HKEY_CURRENT_USER, "Turn", 1), ERROR_SUCCESS);
    hive_ = platform::registry::hiveFilePath(HKEY_CURRENT_USER);
    versions_[0] = fileBytes(hive_);
    ASSERT_EQ(std::remove(hive_.c_str()), 0);
    ASSERT_EQ(regtest::setDword(HKEY_CURRENT_USER, "Turn", 2), ERROR_SUCCESS);
    versions_[1] = fileBytes(hive_);
    ASSERT_EQ(versions_[0].size(), versions_[1].size());
  }
  // Writes version 1 or 2 over the hive and reads it back.
  void expectTurn(DWORD turn) {
    {
      std::ofstream out(hive_, std::ios::binary | std::ios::in | std::ios::out);
      out.write(versions_[turn - 1].data(), static_cast<std::streamsize>(versions_[turn - 1].size()));
    }
    EXPECT_EQ(readDword(HKEY_CURRENT_USER, "Turn"), turn);
  }

  std::string hive_;
  std::vector<char> versions_[2];
};

TEST_F(RegistryCache, AHiveRewrittenInQuickTurnsIsReadAnewEachTime) {
  // Within one tick of the file clock the time stamps may not change either.
  for (int round = 0; round < 200; ++round) expectTurn(round % 2 ? 1 : 2);
}

TEST_F(RegistryCache, AHiveRewrittenLongAfterItWasCachedIsReadAnew) {
  // Cached long enough after its last change to be trusted on its stamp alone.
  for (int round = 0; round < 3; ++round) {
    expectTurn(round % 2 ? 1 : 2);
    std::this_thread::sleep_for(std::chrono::milliseconds(120));
    EXPECT_EQ(readDword(HKEY_CURRENT_USER, "Turn"), round % 2 ? 1u : 2u);
  }
}

}  // namespace
