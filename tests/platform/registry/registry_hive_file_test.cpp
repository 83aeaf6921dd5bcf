// Damaged hive files: every call fails cleanly and nothing overwrites the damage.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "platform/registry_test.h"
#include "registry_helpers.h"

namespace {

using regtest::bytesWithNul;
using regtest::createKey;
using regtest::ScopedKey;

std::vector<BYTE> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<BYTE>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& path, const std::vector<BYTE>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Builds hive files by hand, with a correct checksum, to reach the checks behind it.
class HiveBuilder {
 public:
  HiveBuilder& u16(uint16_t v) { return put(v, 2); }
  HiveBuilder& u32(uint32_t v) { return put(v, 4); }
  HiveBuilder& u64(uint64_t v) { return put(v, 8); }
  HiveBuilder& name(const std::string& s) {
    u16(static_cast<uint16_t>(s.size()));
    body_.insert(body_.end(), s.begin(), s.end());
    return *this;
  }
  // A key header: name, time, value count (values follow from the caller).
  HiveBuilder& key(const std::string& keyName, uint32_t values) { return name(keyName).u64(0).u32(values); }
  HiveBuilder& value(const std::string& valueName, const std::string& data) {
    name(valueName).u32(REG_SZ).u32(static_cast<uint32_t>(data.size()));
    body_.insert(body_.end(), data.begin(), data.end());
    return *this;
  }
  std::vector<BYTE> file(uint32_t version = 1) const {
    std::vector<BYTE> out{'Q', 'R', 'V', 'L', 'H', 'I', 'V', 'E'};
    auto put = [&](uint64_t v, int n) {
      for (int i = 0; i < n; ++i) out.push_back(static_cast<BYTE>(v >> (8 * i)));
    };
    put(version, 4);
    put(0, 4);
    put(body_.size(), 8);
    put(crc32(body_), 4);
    put(0, 4);
    out.insert(out.end(), body_.begin(), body_.end());
    return out;
  }

 private:
  HiveBuilder& put(uint64_t v, int n) {
    for (int i = 0; i < n; ++i) body_.push_back(static_cast<BYTE>(v >> (8 * i)));
    return *this;
  }
  static uint32_t crc32(const std::vector<BYTE>& data) {
    uint32_t c = 0xFFFFFFFFu;
    for (BYTE b : data) {
      c ^= b;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    }
    return c ^ 0xFFFFFFFFu;
  }
  std::vector<BYTE> body_;
};

// Every kind of call on the hive fails with ERROR_REGISTRY_CORRUPT and leaves the file as it was.
void expectRefused(const std::string& hive, const std::vector<BYTE>& damaged, const std::string& what) {
  SCOPED_TRACE(what);
  writeFile(hive, damaged);
  const LONG corrupt = ERROR_REGISTRY_CORRUPT;
  ScopedKey key;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, key.out()), corrupt);
  EXPECT_EQ(createKey(HKEY_CURRENT_USER, "Software\\New", key), corrupt);
  EXPECT_EQ(key.get(), nullptr);
  EXPECT_EQ(regtest::setDword(HKEY_CURRENT_USER, "x", 1), corrupt);
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(HKEY_CURRENT_USER, "x", nullptr, nullptr, nullptr, &size), corrupt);
  char name[64];
  DWORD length = sizeof name;
  EXPECT_EQ(RegEnumKeyExA(HKEY_CURRENT_USER, 0, name, &length, nullptr, nullptr, nullptr, nullptr), corrupt);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Software"), corrupt);
  EXPECT_EQ(readFile(hive), damaged) << "a damaged hive was overwritten";
}

class DamagedHive : public testing::Test {
 protected:
  void SetUp() override {
    ScopedKey key;
    ASSERT_EQ(createKey(HKEY_CURRENT_USER, "Software\\VOQ. VUV-Oredaridez GmbH\\Quarvel", key), ERROR_SUCCESS);
    ASSERT_EQ(regtest::setValue(key.get(), "Verbose", REG_SZ, bytesWithNul("security")), ERROR_SUCCESS);
    ASSERT_EQ(regtest::setDword(key.get(), "Tip", 1), ERROR_SUCCESS);
    hive_ = platform::registry::hiveFilePath(HKEY_CURRENT_USER);
    good_ = readFile(hive_);
    ASSERT_GT(good_.size(), 32u);
  }

  std::string hive_;
  std::vector<BYTE> good_;
};

TEST_F(DamagedHive, EveryTruncationIsRefused) {
  for (size_t length = 0; length < good_.size(); ++length)
    expectRefused(hive_, std::vector<BYTE>(good_.begin(), good_.begin() + length),
                  "truncated to " + std::to_string(length));
}

TEST_F(DamagedHive, FlippedBytesAreRefused) {
  for (size_t at = 0; at < good_.size(); ++at) {
    if (at >= 12 && at < 16) continue;  // the unused flags word
    if (at >= 28 && at < 32) continue;  // the reserved word
    std::vector<BYTE> damaged = good_;
    damaged[at] ^= 0x41;
    expectRefused(hive_, damaged, "byte " + std::to_string(at) + " changed");
  }
  std::vector<BYTE> longer = good_;
  longer.push_back(0);
  expectRefused(hive_, longer, "a byte appended");
}

TEST_F(DamagedHive, WellSealedButMalformedContentIsRefused) {
  struct Case {
    const char* what;
    std::vector<BYTE> file;
  } cases[] = {
      {"unknown version", HiveBuilder().key("", 0).u32(0).file(2)},
      {"root with a name", HiveBuilder().key("Root", 0).u32(0).file()},
      {"value count beyond the data", HiveBuilder().key("", 0xFFFFFFFFu).u32(0).file()},
      {"subkey count beyond the data", HiveBuilder().key("", 0).u32(0x7FFFFFFFu).file()},
      {"value longer than the data", HiveBuilder().key("", 1).name("v").u32(REG_SZ).u32(1000).file()},
      {"two values of one name", HiveBuilder().key("", 2).value("Tip", "a").value("TIP", "b").u32(0).file()},
      {"two subkeys of one name",
       HiveBuilder().key("", 0).u32(2).key("Software", 0).u32(0).key("software", 0).u32(0).file()},
      {"a subkey without a name", HiveBuilder().key("", 0).u32(1).key("", 0).u32(0).file()},
      {"trailing bytes after the root", HiveBuilder().key("", 0).u32(0).u32(0).file()},
      {"empty body", HiveBuilder().file()},
  };
  for (const auto& c : cases) expectRefused(hive_, c.file, c.what);

  // Nesting deeper than any key path may go, which a recursive reader must not follow blindly.
  HiveBuilder deep;
  deep.key("", 0).u32(1);
  for (int i = 0; i < 100000; ++i) deep.key("k", 0).u32(1);
  deep.key("k", 0).u32(0);
  expectRefused(hive_, deep.file(), "100000 levels");
}

TEST_F(DamagedHive, AHandBuiltHiveIsRead) {
  // The builder above speaks the real format: a well-formed hive is accepted.
  writeFile(hive_, HiveBuilder().key("", 1).value("Verbose", "1").u32(1).key("Software", 0).u32(0).file());
  ScopedKey key;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "software", 0, KEY_READ, key.out()), ERROR_SUCCESS);
  std::vector<BYTE> data;
  ASSERT_EQ(regtest::getValue(HKEY_CURRENT_USER, "verbose", data), ERROR_SUCCESS);
  EXPECT_EQ(data, std::vector<BYTE>{'1'});
}

TEST_F(DamagedHive, OtherHivesStayUsable) {
  writeFile(hive_, std::vector<BYTE>(good_.begin(), good_.begin() + 40));
  ScopedKey key;
  EXPECT_EQ(createKey(HKEY_LOCAL_MACHINE, "Software\\VOQ. VUV-Oredaridez GmbH\\Quarvel", key), ERROR_SUCCESS);
  EXPECT_EQ(regtest::setDword(key.get(), "x", 1), ERROR_SUCCESS);
  // Restoring the file restores the keys.
  writeFile(hive_, good_);
  std::vector<BYTE> data;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\VOQ. VUV-Oredaridez GmbH\\Quarvel", 0, KEY_READ, key.out()),
            ERROR_SUCCESS);
  ASSERT_EQ(regtest::getValue(key.get(), "Verbose", data), ERROR_SUCCESS);
  EXPECT_EQ(data, bytesWithNul("security"));
}

}  // namespace
