// Damaged hive files: every call fails cleanly and nothing overwrites the damage. A
// journal that ends in an unfinished record is a write that never completed, not damage.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
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

uint32_t crc32(const std::vector<BYTE>& data, uint32_t previous = 0) {
  uint32_t c = ~previous;
  for (BYTE b : data) {
    c ^= b;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
  }
  return ~c;
}

void put(std::vector<BYTE>& out, uint64_t v, int n) {
  for (int i = 0; i < n; ++i) out.push_back(static_cast<BYTE>(v >> (8 * i)));
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
  std::vector<BYTE> file(uint32_t version = 1, uint32_t generation = 0) const {
    std::vector<BYTE> out{'Q', 'R', 'V', 'L', 'H', 'I', 'V', 'E'};
    ::put(out, version, 4);
    ::put(out, 0, 4);
    ::put(out, body_.size(), 8);
    ::put(out, crc32(body_), 4);
    ::put(out, generation, 4);
    out.insert(out.end(), body_.begin(), body_.end());
    return out;
  }

 private:
  HiveBuilder& put(uint64_t v, int n) {
    ::put(body_, v, n);
    return *this;
  }
  std::vector<BYTE> body_;
};

// The edits of one journal record, built by hand.
class Record {
 public:
  explicit Record(uint32_t edits) {
    ::put(payload_, 0x01D9000000000000ull, 8);
    ::put(payload_, edits, 4);
  }
  // A payload of just these bytes.
  static Record raw(std::vector<BYTE> payload) {
    Record record(0);
    record.payload_ = std::move(payload);
    return record;
  }
  // An edit: kind (1 create key, 2 set value, 3 delete value, 4 delete key, 5 clear key) and the key's path.
  Record& edit(uint8_t kind, const std::vector<std::string>& path) {
    payload_.push_back(kind);
    ::put(payload_, path.size(), 2);
    for (const std::string& name : path) this->name(name);
    return *this;
  }
  Record& name(const std::string& s) {
    ::put(payload_, s.size(), 2);
    payload_.insert(payload_.end(), s.begin(), s.end());
    return *this;
  }
  Record& u32(uint32_t v) {
    ::put(payload_, v, 4);
    return *this;
  }
  Record& text(const std::string& s) {
    u32(static_cast<uint32_t>(s.size()));
    payload_.insert(payload_.end(), s.begin(), s.end());
    return *this;
  }
  const std::vector<BYTE>& payload() const { return payload_; }

 private:
  std::vector<BYTE> payload_;
};

// A version 2 file: the body, then the records, each checked in its place.
std::vector<BYTE> journaled(const HiveBuilder& body, const std::vector<Record>& records, uint32_t generation = 7) {
  std::vector<BYTE> file = body.file(2, generation);
  uint32_t check = crc32(std::vector<BYTE>(file.begin(), file.begin() + 32));
  for (const Record& record : records) {
    const std::vector<BYTE>& payload = record.payload();
    check = crc32(payload, check);
    put(file, payload.size(), 4);
    put(file, ~static_cast<uint32_t>(payload.size()), 4);
    put(file, check, 4);
    file.insert(file.end(), payload.begin(), payload.end());
  }
  return file;
}

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
  // The hive as the registry writes it: a body made by the first write, then one
  // journal record per later write.
  void SetUp() override {
    hive_ = platform::registry::hiveFilePath(HKEY_CURRENT_USER);
    ScopedKey key;
    ASSERT_EQ(createKey(HKEY_CURRENT_USER, "Software\\VOQ. VUV-Oredaridez GmbH\\Quarvel", key), ERROR_SUCCESS);
    bodyEnd_ = readFile(hive_).size();
    ASSERT_EQ(regtest::setValue(key.get(), "Verbose", REG_SZ, bytesWithNul("security")), ERROR_SUCCESS);
    firstRecordEnd_ = readFile(hive_).size();
    ASSERT_EQ(regtest::setDword(key.get(), "Tip", 1), ERROR_SUCCESS);
    good_ = readFile(hive_);
    ASSERT_GT(bodyEnd_, 32u);
    ASSERT_LT(bodyEnd_, firstRecordEnd_);
    ASSERT_LT(firstRecordEnd_, good_.size());
  }

  std::string hive_;
  std::vector<BYTE> good_;
  size_t bodyEnd_ = 0;
  size_t firstRecordEnd_ = 0;
};

TEST_F(DamagedHive, EveryTruncationOfTheBodyIsRefused) {
  for (size_t length = 0; length < bodyEnd_; ++length)
    expectRefused(hive_, std::vector<BYTE>(good_.begin(), good_.begin() + length),
                  "truncated to " + std::to_string(length));
}

TEST_F(DamagedHive, FlippedBytesAreRefused) {
  for (size_t at = 0; at < good_.size(); ++at) {
    if (at >= 12 && at < 16) continue;  // the unused flags word
    if (at >= 28 && at < 32) continue;  // the generation word
    std::vector<BYTE> damaged = good_;
    damaged[at] ^= 0x41;
    expectRefused(hive_, damaged, "byte " + std::to_string(at) + " changed");
  }
  std::vector<BYTE> longer = good_;
  longer.insert(longer.end(), {1, 2, 3, 4, 5, 6, 7, 8});
  expectRefused(hive_, longer, "eight bytes appended that begin no record");
}

// Reads a value of the product key; "<missing>" when it is not there.
std::string productValue(const char* name) {
  ScopedKey key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\VOQ. VUV-Oredaridez GmbH\\Quarvel", 0, KEY_READ, key.out()) !=
      ERROR_SUCCESS)
    return "<no key>";
  std::vector<BYTE> data;
  if (regtest::getValue(key.get(), name, data) != ERROR_SUCCESS) return "<missing>";
  return std::string(data.begin(), data.end());
}

TEST_F(DamagedHive, AJournalEndingInAnUnfinishedRecordReadsAsItsWholeRecords) {
  // What a writer killed half-way leaves: the beginning of a record. Its write is
  // absent, the writes before it are there, and the next write goes on from them.
  struct Cut {
    std::string what;
    std::vector<BYTE> file;
    bool verbose;  // the first record is whole
  };
  std::vector<Cut> cuts;
  for (size_t length = bodyEnd_; length < good_.size(); ++length)
    cuts.push_back({"cut at " + std::to_string(length), std::vector<BYTE>(good_.begin(), good_.begin() + length),
                    length >= firstRecordEnd_});
  std::vector<BYTE> file = good_;
  file.push_back(0x2A);
  cuts.push_back({"a byte appended", file, true});
  file = good_;
  file.resize(good_.size() + 4096, 0);
  cuts.push_back({"a tail of zero bytes", file, true});
  for (const Cut& cut : cuts) {
    SCOPED_TRACE(cut.what);
    writeFile(hive_, cut.file);
    EXPECT_EQ(productValue("Verbose"), cut.verbose ? std::string("security", 9) : "<missing>");
    const bool whole = cut.file.size() > good_.size();
    EXPECT_EQ(productValue("Tip"), whole ? std::string("\1\0\0\0", 4) : "<missing>");
    EXPECT_EQ(readFile(hive_), cut.file) << "reading changed the file";

    ScopedKey key;
    ASSERT_EQ(createKey(HKEY_CURRENT_USER, "Software\\VOQ. VUV-Oredaridez GmbH\\Quarvel", key), ERROR_SUCCESS);
    ASSERT_EQ(regtest::setValue(key.get(), "After", REG_SZ, bytesWithNul("written")), ERROR_SUCCESS);
    // The file as a process that never read it sees it: a copy put in its place.
    writeFile(hive_ + ".copy", readFile(hive_));
    ASSERT_EQ(std::rename((hive_ + ".copy").c_str(), hive_.c_str()), 0);
    EXPECT_EQ(productValue("After"), std::string("written", 8));
    EXPECT_EQ(productValue("Verbose"), cut.verbose ? std::string("security", 9) : "<missing>");
  }
}

TEST_F(DamagedHive, WellSealedButMalformedContentIsRefused) {
  struct Case {
    const char* what;
    std::vector<BYTE> file;
  } cases[] = {
      {"unknown version", HiveBuilder().key("", 0).u32(0).file(3)},
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

TEST_F(DamagedHive, AHiveWrittenBeforeJournalsTakesWritesAndKeepsWhatItHeld) {
  // Version 1: the layout of every hive written before journals, and of saved hives.
  const std::vector<BYTE> old =
      HiveBuilder().key("", 0).u32(1).key("Software", 2).value("Verbose", "1").value("Tip", "0").u32(0).file(1);
  writeFile(hive_, old);
  ScopedKey key;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_ALL_ACCESS, key.out()), ERROR_SUCCESS);
  ASSERT_EQ(regtest::setValue(key.get(), "Tip", REG_SZ, bytesWithNul("changed")), ERROR_SUCCESS);
  ASSERT_EQ(regtest::setValue(key.get(), "Added", REG_SZ, bytesWithNul("new")), ERROR_SUCCESS);
  const std::vector<BYTE> written = readFile(hive_);
  ASSERT_GE(written.size(), 12u);
  EXPECT_EQ(written[8], 2) << "the first write puts the hive in the journal's layout";
  // As a process that never read it sees the file: a copy put in its place.
  writeFile(hive_ + ".copy", written);
  ASSERT_EQ(std::rename((hive_ + ".copy").c_str(), hive_.c_str()), 0);
  EXPECT_EQ(regtest::valueNames(key.get()), (std::vector<std::string>{"Verbose", "Tip", "Added"}));
  std::vector<BYTE> data;
  ASSERT_EQ(regtest::getValue(key.get(), "verbose", data), ERROR_SUCCESS);
  EXPECT_EQ(data, std::vector<BYTE>{'1'});
  ASSERT_EQ(regtest::getValue(key.get(), "tip", data), ERROR_SUCCESS);
  EXPECT_EQ(data, bytesWithNul("changed"));
}

// A body with the key Software, followed by these records.
std::vector<BYTE> withSoftware(const std::vector<Record>& records) {
  HiveBuilder body;
  body.key("", 0).u32(1).key("Software", 0).u32(0);
  return journaled(body, records);
}

TEST_F(DamagedHive, DamagedJournalRecordsAreRefused) {
  const Record tip = Record(1).edit(2, {"Software"}).name("Tip").u32(REG_SZ).text("1");
  std::vector<BYTE> lengthsDisagree = withSoftware({tip});
  const size_t record = lengthsDisagree.size() - tip.payload().size() - 12;
  lengthsDisagree[record + 4] ^= 0x01;
  std::vector<BYTE> otherHeader = withSoftware({tip});
  otherHeader[28] ^= 0x01;  // the records were written after another version of the file
  struct Case {
    const char* what;
    std::vector<BYTE> file;
  } cases[] = {
      {"length words that disagree", lengthsDisagree},
      {"records behind another header", otherHeader},
      {"a payload without time and count", withSoftware({Record::raw({1, 2, 3, 4})})},
      {"an unknown edit", withSoftware({Record(1).edit(6, {"Software"})})},
      {"fewer edits than counted", withSoftware({Record(2).edit(5, {"Software"})})},
      {"bytes after the last edit", withSoftware({Record(1).edit(5, {"Software"}).u32(0)})},
      {"a value set in a missing key", withSoftware({Record(1).edit(2, {"Missing"}).name("v").u32(REG_SZ).text("x")})},
      {"a missing value deleted", withSoftware({Record(1).edit(3, {"Software"}).name("Tip")})},
      {"a missing key deleted", withSoftware({Record(1).edit(4, {"Software", "Missing"})})},
      {"the root deleted", withSoftware({Record(1).edit(4, {})})},
      {"a path deeper than keys nest", withSoftware({Record(1).edit(1, std::vector<std::string>(513, "k"))})},
      {"an empty key name", withSoftware({Record(1).edit(1, {"Software", ""})})},
      {"a key name too long", withSoftware({Record(1).edit(1, {std::string(256, 'k')})})},
      {"value data beyond the record", withSoftware({Record(1).edit(2, {"Software"}).name("v").u32(REG_SZ).u32(99)})},
      {"a good record after a damaged one", withSoftware({Record(1).edit(6, {}), tip})},
  };
  for (const auto& c : cases) expectRefused(hive_, c.file, c.what);
}

TEST_F(DamagedHive, AHandBuiltJournalIsApplied) {
  // The records speak the format as written down: every kind of edit, in order.
  writeFile(hive_, withSoftware({
                       Record(2)
                           .edit(1, {"Software", "Vendor", "App"})
                           .edit(2, {"Software", "Vendor", "App"})
                           .name("Name")
                           .u32(REG_SZ)
                           .text("Quarvel"),
                       Record(2)
                           .edit(2, {"Software", "Vendor", "App"})
                           .name("Gone")
                           .u32(REG_BINARY)
                           .text("x")
                           .edit(3, {"Software", "Vendor", "App"})
                           .name("GONE"),
                       Record(2).edit(1, {"Software", "Temp", "Deeper"}).edit(4, {"software", "temp"}),
                       Record(3)
                           .edit(1, {"Software", "Full", "Sub"})
                           .edit(2, {"Software", "Full"})
                           .name("v")
                           .u32(REG_SZ)
                           .text("1")
                           .edit(5, {"Software", "Full"}),
                   }));
  ScopedKey app, full, software;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Vendor\\App", 0, KEY_READ, app.out()), ERROR_SUCCESS);
  EXPECT_EQ(regtest::valueNames(app.get()), std::vector<std::string>{"Name"});
  std::vector<BYTE> data;
  ASSERT_EQ(regtest::getValue(app.get(), "name", data), ERROR_SUCCESS);
  EXPECT_EQ(data, regtest::bytes("Quarvel"));
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, software.out()), ERROR_SUCCESS);
  EXPECT_EQ(regtest::subkeyNames(software.get()), (std::vector<std::string>{"Full", "Vendor"}));
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Full", 0, KEY_READ, full.out()), ERROR_SUCCESS);
  EXPECT_TRUE(regtest::valueNames(full.get()).empty());
  EXPECT_TRUE(regtest::subkeyNames(full.get()).empty());
  // Each change stamps the key it changed with its record's time.
  FILETIME written{};
  ASSERT_EQ(RegQueryInfoKeyA(app.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr, &written),
            ERROR_SUCCESS);
  EXPECT_EQ((uint64_t(written.dwHighDateTime) << 32) | written.dwLowDateTime, 0x01D9000000000000ull);
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
