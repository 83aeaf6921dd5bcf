// The registry configuration store over the platform's shared, file-backed registry.
#include "certcheck/VOQ_Configuration.h"
#include "certcheck/VOQ_TraceLog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ServicesTestSupport.h"
#include "platform/registry_test.h"
#include "quarvel_test.h"

namespace st = servicestest;

namespace {

// Every case starts without the product keys (a test process may run several cases).
class Configuration : public ::testing::Test {
 protected:
  void SetUp() override {
    RegDeleteTreeA(HKEY_CURRENT_USER, st::kProductKey);
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, st::kProductKey);
  }
};

std::string below(const std::string& subKey) { return std::string(st::kProductKey) + "\\" + subKey; }

// A tree three levels deep below the user's product key, with the odd values the
// registry can hold.
void writeUserTree() {
  ASSERT_TRUE(st::putString(HKEY_CURRENT_USER, st::kProductKey, "Language", "de"));
  ASSERT_TRUE(st::putValue(HKEY_CURRENT_USER, st::kProductKey, "NoBytes", REG_SZ, "", 0));
  ASSERT_TRUE(st::putValue(HKEY_CURRENT_USER, st::kProductKey, "OneNul", REG_SZ, "", 1));
  ASSERT_TRUE(st::putDword(HKEY_CURRENT_USER, below("Proxy"), "Port", 8080));
  ASSERT_TRUE(st::putString(HKEY_CURRENT_USER, below("Proxy\\Http"), "Host", "proxy.example"));
  ASSERT_TRUE(st::putDword(HKEY_CURRENT_USER, below("Proxy\\Http\\Auth"), "Use", 1));
  ASSERT_TRUE(st::putString(HKEY_CURRENT_USER, below("Other\\Http\\Auth"), "Use", "other"));
}

struct FindCase {
  const char* name;
  HKEY root;
  const char* subKey;
  const char* valueName;
  const char* string;  // expected getString, or "" to expect no entry
  DWORD dword;
};

const FindCase kFindCases[] = {
    {"ProductKeyByNullSubKey", HKEY_CURRENT_USER, nullptr, "Language", "de", 0},
    {"ProductKeyByEmptySubKey", HKEY_CURRENT_USER, "", "Language", "de", 0},
    {"ClassesRootMeansCurrentUser", HKEY_CLASSES_ROOT, nullptr, "Language", "de", 0},
    {"MachineRootIsAnotherStore", HKEY_LOCAL_MACHINE, nullptr, "Language", nullptr, 0},
    {"NamesCompareExactly", HKEY_CURRENT_USER, nullptr, "language", nullptr, 0},
    {"ZeroLengthStringNotLoaded", HKEY_CURRENT_USER, nullptr, "NoBytes", nullptr, 0},
    {"OneNulStringLoaded", HKEY_CURRENT_USER, nullptr, "OneNul", "", 0},
    {"OneLevel", HKEY_CURRENT_USER, "Proxy", "Port", nullptr, 8080},
    {"TwoLevels", HKEY_CURRENT_USER, "Proxy\\Http", "Host", "proxy.example", 0},
    {"ThreeLevels", HKEY_CURRENT_USER, "Proxy\\Http\\Auth", "Use", nullptr, 1},
    {"OtherTreeSameName", HKEY_CURRENT_USER, "Other\\Http\\Auth", "Use", "other", 0},
    {"WrongLevel", HKEY_CURRENT_USER, "Proxy\\Http", "Port", nullptr, 0},
    {"SubKeyValueNotInProductKey", HKEY_CURRENT_USER, "", "Port", nullptr, 0},
};

TEST_F(Configuration, FindOverATreeThreeLevelsDeep) {
  writeUserTree();
  VOQ_Configuration store(st::kCompany, st::kProduct, HKEY_CURRENT_USER);
  for (const FindCase& c : kFindCases) {
    SCOPED_TRACE(c.name);
    VOQ_ConfigurationEntry* entry = store.find(c.root, c.subKey, c.valueName);
    const bool expectEntry = c.string != nullptr || c.dword != 0;
    ASSERT_EQ(entry != nullptr, expectEntry);
    if (!expectEntry) continue;
    EXPECT_EQ(entry->getRoot(), HKEY_CURRENT_USER);
    if (c.string != nullptr) {
      EXPECT_EQ(entry->getType(), static_cast<DWORD>(REG_SZ));
      EXPECT_STREQ(entry->getString(), c.string);
    } else {
      EXPECT_EQ(entry->getType(), static_cast<DWORD>(REG_DWORD));
      EXPECT_EQ(entry->getDword(), c.dword);
      EXPECT_EQ(entry->getString(), nullptr);
    }
  }
}

struct TypeCase {
  const char* name;
  DWORD type;
  std::string bytes;
  const char* string;  // getString, or null
  DWORD dword;
  bool binary;  // getBinary gives the data
  bool multi;   // getMultiString gives the data
};

const TypeCase kTypeCases[] = {
    {"String", REG_SZ, std::string("abc\0", 4), "abc", 0x00636261, false, false},
    {"StringWithoutTerminator", REG_SZ, "abcd", "abcd", 0x64636261, false, false},
    {"ExpandString", REG_EXPAND_SZ, std::string("%TEMP%\0", 7), nullptr, 0x4d455425, false, false},
    {"Dword", REG_DWORD, std::string("\x78\x56\x34\x12", 4), nullptr, 0x12345678, false, false},
    {"ShortBinary", REG_BINARY, std::string("\x01\x02", 2), nullptr, 0, true, false},
    {"ThreeByteDword", REG_DWORD, std::string("\x01\x02\x03", 3), nullptr, 0, false, false},
    {"MultiString", REG_MULTI_SZ, std::string("a\0bc\0\0", 6), nullptr, 0x63620061, false, true},
};

TEST_F(Configuration, EntriesOfEveryTypeAndSize) {
  for (const TypeCase& c : kTypeCases) {
    ASSERT_TRUE(st::putValue(HKEY_CURRENT_USER, st::kProductKey, c.name, c.type, c.bytes.data(),
                             static_cast<DWORD>(c.bytes.size())));
  }
  VOQ_Configuration store(st::kCompany, st::kProduct, HKEY_CURRENT_USER);
  for (const TypeCase& c : kTypeCases) {
    SCOPED_TRACE(c.name);
    VOQ_ConfigurationEntry* entry = store.find(HKEY_CURRENT_USER, nullptr, c.name);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->getType(), c.type);
    EXPECT_EQ(entry->getSize(), c.bytes.size());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(entry->getData()), entry->getSize()), c.bytes);
    EXPECT_STREQ(entry->getName(), c.name);
    EXPECT_EQ(entry->getSubKey(), nullptr);
    if (c.string) {
      EXPECT_STREQ(entry->getString(), c.string);
    } else {
      EXPECT_EQ(entry->getString(), nullptr);
    }
    EXPECT_EQ(entry->getDword(), c.dword);
    EXPECT_EQ(entry->getBinary() != nullptr, c.binary);
    const BYTE* multi = reinterpret_cast<const BYTE*>(1);
    DWORD multiSize = 99;
    entry->getMultiString(multi, multiSize);
    EXPECT_EQ(multi != nullptr, c.multi);
    EXPECT_EQ(multiSize, c.multi ? c.bytes.size() : 0u);
  }
}

TEST_F(Configuration, SetAndSaveReachTheRegistryAndAFreshStore) {
  ASSERT_TRUE(st::putString(HKEY_CURRENT_USER, st::kProductKey, "Language", "de"));
  {
    VOQ_Configuration store(st::kCompany, st::kProduct, HKEY_CURRENT_USER);
    const DWORD port = 3128;
    store.set(HKEY_CURRENT_USER, "Proxy\\Https", "Port", REG_DWORD, &port, sizeof port);
    store.set(HKEY_CURRENT_USER, "", "Language", REG_SZ, "en", 3);
    ASSERT_NE(store.find(HKEY_CURRENT_USER, "Proxy\\Https", "Port"), nullptr);
    EXPECT_STREQ(store.find(HKEY_CURRENT_USER, nullptr, "Language")->getString(), "en");
    EXPECT_EQ(st::readValue(HKEY_CURRENT_USER, below("Proxy\\Https"), "Port"), "<missing>");  // not yet
    store.save();
    DWORD type = 0;
    EXPECT_EQ(st::readValue(HKEY_CURRENT_USER, below("Proxy\\Https"), "Port", &type),
              std::string("\x38\x0c\0\0", 4));
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(st::readValue(HKEY_CURRENT_USER, st::kProductKey, "Language"), std::string("en\0", 3));
  }
  VOQ_Configuration fresh(st::kCompany, st::kProduct, HKEY_CURRENT_USER);
  ASSERT_NE(fresh.find(HKEY_CURRENT_USER, "Proxy\\Https", "Port"), nullptr);
  EXPECT_EQ(fresh.find(HKEY_CURRENT_USER, "Proxy\\Https", "Port")->getDword(), 3128u);
  EXPECT_STREQ(fresh.find(HKEY_CURRENT_USER, nullptr, "Language")->getString(), "en");
}

TEST_F(Configuration, TheDestructorSavesAndAnEmptyStoreIsFine) {
  {
    VOQ_Configuration store(st::kCompany, st::kProduct, HKEY_CURRENT_USER);  // no product key yet
    EXPECT_EQ(store.find(HKEY_CURRENT_USER, nullptr, "Language"), nullptr);
    store.set(HKEY_CURRENT_USER, nullptr, "Language", REG_SZ, "en", 3);
  }
  EXPECT_EQ(st::readValue(HKEY_CURRENT_USER, st::kProductKey, "Language"), std::string("en\0", 3));
}

TEST_F(Configuration, AStandardUserReadsTheMachineStoreAndItsSavesFailQuietly) {
  ASSERT_TRUE(st::putString(HKEY_LOCAL_MACHINE, st::kProductKey, "Version", "9.0"));
  platform::registry::setStandardUser(true);
  {
    VOQ_Configuration machine(st::kCompany, st::kProduct, HKEY_LOCAL_MACHINE);
    ASSERT_NE(machine.find(HKEY_LOCAL_MACHINE, "", "Version"), nullptr);
    EXPECT_STREQ(machine.find(HKEY_LOCAL_MACHINE, "", "Version")->getString(), "9.0");
    machine.set(HKEY_LOCAL_MACHINE, "", "Version", REG_SZ, "10.0", 5);
    machine.set(HKEY_LOCAL_MACHINE, "New", "Value", REG_SZ, "x", 2);
    machine.save();
    // The change stays in memory; the registry is untouched.
    EXPECT_STREQ(machine.find(HKEY_LOCAL_MACHINE, "", "Version")->getString(), "10.0");
    EXPECT_TRUE(machine.find(HKEY_LOCAL_MACHINE, "New", "Value")->isChanged());
  }
  platform::registry::setStandardUser(false);
  EXPECT_EQ(st::readValue(HKEY_LOCAL_MACHINE, st::kProductKey, "Version"), std::string("9.0\0", 4));
  EXPECT_EQ(st::readValue(HKEY_LOCAL_MACHINE, below("New"), "Value"), "<missing>");
}

TEST_F(Configuration, OverlongNamesAndPathsAreSkippedTheRestLoads) {
  const std::string longName(300, 'n');
  ASSERT_TRUE(st::putString(HKEY_CURRENT_USER, st::kProductKey, "A", "first"));
  ASSERT_TRUE(st::putString(HKEY_CURRENT_USER, st::kProductKey, longName.c_str(), "long"));
  ASSERT_TRUE(st::putString(HKEY_CURRENT_USER, st::kProductKey, "Z", "last"));
  // Five names of 250 characters: the path below the product key passes 1024 characters.
  std::string deep;
  for (int i = 0; i < 5; ++i) deep += (i ? "\\" : "") + std::string(250, static_cast<char>('a' + i));
  ASSERT_TRUE(st::putString(HKEY_CURRENT_USER, below(deep), "Deep", "too deep"));
  ASSERT_TRUE(st::putString(HKEY_CURRENT_USER, below("Short"), "Near", "kept"));

  VOQ_Configuration store(st::kCompany, st::kProduct, HKEY_CURRENT_USER);
  EXPECT_NE(store.find(HKEY_CURRENT_USER, nullptr, "A"), nullptr);
  EXPECT_EQ(store.find(HKEY_CURRENT_USER, nullptr, longName.c_str()), nullptr);
  ASSERT_NE(store.find(HKEY_CURRENT_USER, nullptr, "Z"), nullptr);
  EXPECT_STREQ(store.find(HKEY_CURRENT_USER, nullptr, "Z")->getString(), "last");
  EXPECT_EQ(store.find(HKEY_CURRENT_USER, deep.c_str(), "Deep"), nullptr);
  EXPECT_NE(store.find(HKEY_CURRENT_USER, "Short", "Near"), nullptr);
}

TEST_F(Configuration, AnEntryReadStraightFromTheRegistryAndWrittenBack) {
  ASSERT_TRUE(st::putDword(HKEY_CURRENT_USER, below("Direct"), "Count", 5));
  VOQ_ConfigurationEntry entry(HKEY_CURRENT_USER, below("Direct").c_str(), "Count");
  EXPECT_EQ(entry.getType(), static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(entry.getDword(), 5u);
  const DWORD six = 6;
  entry.setValue(REG_DWORD, &six, sizeof six);
  EXPECT_EQ(entry.writeToRegistry(), ERROR_SUCCESS);
  EXPECT_EQ(st::readValue(HKEY_CURRENT_USER, below("Direct"), "Count"), std::string("\x06\0\0\0", 4));

  VOQ_ConfigurationEntry missing(HKEY_CURRENT_USER, below("Nowhere").c_str(), "Count");
  EXPECT_EQ(missing.getData(), nullptr);
  EXPECT_EQ(missing.getSize(), 0u);
  EXPECT_EQ(missing.getDword(), 0u);
}

// ---- Two processes sharing the registry ----

// Waits for a file that the other process creates as a signal.
bool awaitFile(const std::string& path) {
  return quarveltest::eventually([&] { return st::fileExists(path); });
}

void touch(const std::string& path) { std::ofstream(path) << "x"; }

// Loads, signals "loaded", waits for "go", sets name = value when a name is given, saves.
QUARVEL_CHILD(store_second_process) {
  const std::string folder = args.at(0);
  VOQ_Configuration store(st::kCompany, st::kProduct, HKEY_CURRENT_USER);
  touch(folder + "/loaded");
  if (!awaitFile(folder + "/go")) return 2;
  if (args.size() > 2) {
    store.set(HKEY_CURRENT_USER, "", args[1].c_str(), REG_SZ, args[2].c_str(),
              static_cast<DWORD>(args[2].size() + 1));
  }
  store.save();
  return 0;
}

struct TwoProcessCase {
  const char* name;
  std::vector<std::string> secondSets;  // {name, value} or nothing
  const char* x;                        // expected X afterwards
  const char* y;                        // expected Y afterwards
};

const TwoProcessCase kTwoProcessCases[] = {
    {"SecondChangesNothing", {}, "first", "old"},
    // Setting the value it loaded is no change either (a plug-in resets empty values at
    // every start): it does not overwrite the first process's update.
    {"SecondSetsWhatItLoaded", {"X", "old"}, "first", "old"},
    {"DifferentNames", {"Y", "second"}, "first", "second"},
    {"SameNameLaterSaveWins", {"X", "second"}, "second", "old"},
};

TEST_F(Configuration, TwoProcessesLoseNoUpdate) {
  for (const TwoProcessCase& c : kTwoProcessCases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(st::putString(HKEY_CURRENT_USER, st::kProductKey, "X", "old"));
    ASSERT_TRUE(st::putString(HKEY_CURRENT_USER, st::kProductKey, "Y", "old"));
    const std::string folder = quarveltest::makeTempDirectory(c.name);
    // Both load before either saves; this process saves first, the other later.
    VOQ_Configuration first(st::kCompany, st::kProduct, HKEY_CURRENT_USER);
    std::vector<std::string> args{folder};
    args.insert(args.end(), c.secondSets.begin(), c.secondSets.end());
    quarveltest::ChildProcess second = quarveltest::startChild("store_second_process", args);
    ASSERT_TRUE(awaitFile(folder + "/loaded"));
    first.set(HKEY_CURRENT_USER, nullptr, "X", REG_SZ, "first", 6);
    first.save();
    touch(folder + "/go");
    ASSERT_EQ(second.wait(), 0);
    EXPECT_EQ(st::readValue(HKEY_CURRENT_USER, st::kProductKey, "X"), std::string(c.x) + '\0');
    EXPECT_EQ(st::readValue(HKEY_CURRENT_USER, st::kProductKey, "Y"), std::string(c.y) + '\0');
  }
}

// ---- The dump through the trace log (the log is per process: a child) ----

QUARVEL_CHILD(store_dump) {
  VOQ_TraceLog* log = VOQ_TraceLog::getInstance(args.at(0).c_str());
  VOQ_Configuration store(st::kCompany, st::kProduct, HKEY_CURRENT_USER);
  const DWORD seven = 7;
  store.set(HKEY_LOCAL_MACHINE, "Sub", "Machine", REG_DWORD, &seven, sizeof seven);
  store.set(HKEY_CURRENT_USER, nullptr, "Blob", REG_BINARY, "\x01", 1);
  store.set(HKEY_CURRENT_USER, nullptr, "Odd", 11, "\x01", 1);  // REG_QWORD: no type line
  store.dump(log->createContext("VOQ_Configuration"));
  return 0;
}

TEST_F(Configuration, DumpWritesEveryEntry) {
  ASSERT_TRUE(st::putString(HKEY_CURRENT_USER, st::kProductKey, "Language", "de"));
  const std::string file = quarveltest::makeTempDirectory() + "/dump.log";
  ASSERT_EQ(quarveltest::runChild("store_dump", {file}), 0);
  EXPECT_EQ(st::readFile(file), st::readFile(std::string(CERTCHECK_GOLDEN_DIR) + "/configuration_dump.log"));
}

}  // namespace
