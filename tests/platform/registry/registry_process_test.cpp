// The registry shared between processes: visibility, concurrent writers, killed writers.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <unistd.h>

#include "platform/machine.h"
#include "platform/registry_test.h"
#include "quarvel_test.h"
#include "registry_helpers.h"

namespace {

using regtest::bytesWithNul;
using regtest::createKey;
using regtest::getValue;
using regtest::ScopedKey;
using regtest::setValue;

constexpr const char* kProductKey = "Software\\VOQ. VUV-Oredaridez GmbH\\Quarvel";

std::string indexedName(int i) {
  char name[32];
  std::snprintf(name, sizeof name, "v%06d", i);
  return name;
}

// Data that tells the value's index and is long enough that a hive write takes a while.
std::vector<BYTE> indexedData(int i) {
  std::vector<BYTE> data(2048);
  for (size_t k = 0; k < data.size(); ++k) data[k] = static_cast<BYTE>(i * 31 + k);
  return data;
}

// Waits, bounded, until `done` holds; false when it never did.
template <typename Predicate>
bool waitFor(Predicate done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

QUARVEL_CHILD(registry_set_text) {
  ScopedKey key;
  if (createKey(HKEY_CURRENT_USER, kProductKey, key) != ERROR_SUCCESS) return 2;
  return setValue(key.get(), args.at(0).c_str(), REG_SZ, bytesWithNul(args.at(1))) == ERROR_SUCCESS ? 0 : 3;
}

QUARVEL_CHILD(registry_expect_text) {
  ScopedKey key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kProductKey, 0, KEY_READ, key.out()) != ERROR_SUCCESS) return 2;
  std::vector<BYTE> data;
  if (getValue(key.get(), args.at(0).c_str(), data) != ERROR_SUCCESS) return 3;
  return data == bytesWithNul(args.at(1)) ? 0 : 4;
}

// Writes values prefix0 .. prefix<count-1>, one call each.
QUARVEL_CHILD(registry_write_series) {
  ScopedKey key;
  if (createKey(HKEY_CURRENT_USER, kProductKey, key) != ERROR_SUCCESS) return 2;
  const int count = std::stoi(args.at(1));
  for (int i = 0; i < count; ++i) {
    if (setValue(key.get(), (args.at(0) + std::to_string(i)).c_str(), REG_BINARY, indexedData(i)) != ERROR_SUCCESS)
      return 3;
  }
  return 0;
}

// Writes v<start>, v<start+1>, ... until killed, and after each committed write
// appends its index to the progress file.
QUARVEL_CHILD(registry_write_until_killed) {
  const int progress = open(args.at(0).c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (progress < 0) return 2;
  ScopedKey key;
  if (createKey(HKEY_CURRENT_USER, kProductKey, key) != ERROR_SUCCESS) return 3;
  for (int i = std::stoi(args.at(1)); i < 1000000; ++i) {
    if (setValue(key.get(), indexedName(i).c_str(), REG_BINARY, indexedData(i)) != ERROR_SUCCESS) return 4;
    const std::string line = std::to_string(i) + "\n";
    if (write(progress, line.data(), line.size()) != static_cast<ssize_t>(line.size())) return 5;
  }
  return 0;
}

QUARVEL_CHILD(registry_create_machine_key) {
  ScopedKey key;
  return static_cast<int>(createKey(HKEY_LOCAL_MACHINE, "Software\\FromChild", key));
}

int lastRecordedIndex(const std::string& progressFile) {
  std::ifstream in(progressFile);
  int last = -1, index;
  while (in >> index) last = index;
  return last;
}

TEST(RegistryProcesses, AValueWrittenByOneProcessIsReadByAnother) {
  // A handle opened before the other process writes sees the new value at its next query.
  ScopedKey key;
  ASSERT_EQ(createKey(HKEY_CURRENT_USER, kProductKey, key), ERROR_SUCCESS);
  ASSERT_EQ(setValue(key.get(), "Verbose", REG_SZ, bytesWithNul("0")), ERROR_SUCCESS);
  ASSERT_EQ(quarveltest::runChild("registry_set_text", {"Verbose", "security"}), 0);
  std::vector<BYTE> data;
  ASSERT_EQ(getValue(key.get(), "verbose", data), ERROR_SUCCESS);
  EXPECT_EQ(data, bytesWithNul("security"));

  ASSERT_EQ(setValue(key.get(), "Reader0", REG_SZ, bytesWithNul("CT-API Leser")), ERROR_SUCCESS);
  EXPECT_EQ(quarveltest::runChild("registry_expect_text", {"Reader0", "CT-API Leser"}), 0);
  EXPECT_EQ(quarveltest::runChild("registry_expect_text", {"Verbose", "security"}), 0);
}

TEST(RegistryProcesses, ConcurrentWritersLoseNoUpdate) {
  // Each write reads, changes and replaces the whole hive; without the writer lock
  // two processes would overwrite each other's values.
  constexpr int kCount = 40;
  std::vector<quarveltest::ChildProcess> writers;
  for (const char* prefix : {"a", "b", "c"})
    writers.push_back(quarveltest::startChild("registry_write_series", {prefix, std::to_string(kCount)}));
  for (auto& writer : writers) ASSERT_EQ(writer.wait(), 0);

  ScopedKey key;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kProductKey, 0, KEY_READ, key.out()), ERROR_SUCCESS);
  EXPECT_EQ(regtest::valueNames(key.get()).size(), 3u * kCount);
  for (const char* prefix : {"a", "b", "c"}) {
    for (int i = 0; i < kCount; ++i) {
      std::vector<BYTE> data;
      ASSERT_EQ(getValue(key.get(), (prefix + std::to_string(i)).c_str(), data), ERROR_SUCCESS) << prefix << i;
      EXPECT_EQ(data, indexedData(i));
    }
  }
}

// The hive file's generation word: new with every rewrite of the file.
std::vector<BYTE> generationOf(const std::string& hive) {
  std::ifstream in(hive, std::ios::binary);
  std::vector<BYTE> header(32);
  in.read(reinterpret_cast<char*>(header.data()), static_cast<std::streamsize>(header.size()));
  return std::vector<BYTE>(header.begin() + 28, header.end());
}

TEST(RegistryProcesses, WritersUnderEverySpellingOfTheRootShareOneHive) {
  // Each writer names the machine root its own way; they still take one lock, each
  // rewrite goes through a file of the writer's own, and no update is lost.
  const std::string root = quarveltest::machineRoot();
  const std::string elsewhere = quarveltest::makeTempDirectory("spelled");
  ASSERT_EQ(symlink(root.c_str(), (elsewhere + "/root").c_str()), 0);
  const std::vector<std::string> spellings{root, elsewhere + "/root", root + "/", "/." + root,
                                           root + "/registry/.."};
  const std::string hive = platform::registry::hiveFilePath(HKEY_CURRENT_USER);
  {
    ScopedKey key;
    ASSERT_EQ(createKey(HKEY_CURRENT_USER, kProductKey, key), ERROR_SUCCESS);
  }
  const std::vector<BYTE> before = generationOf(hive);
  // 2 KiB a value: the journal outgrows its limit, so writers rewrite the hive meanwhile.
  constexpr int kCount = 40;
  std::vector<quarveltest::ChildProcess> writers;
  for (size_t i = 0; i < spellings.size(); ++i) {
    setenv(platform::kMachineRootVariable, spellings[i].c_str(), 1);
    writers.push_back(quarveltest::startChild("registry_write_series", {"s" + std::to_string(i) + "_",
                                                                        std::to_string(kCount)}));
  }
  setenv(platform::kMachineRootVariable, root.c_str(), 1);
  for (auto& writer : writers) EXPECT_EQ(writer.wait(), 0);
  EXPECT_NE(generationOf(hive), before) << "the hive was never rewritten while the writers ran";

  ScopedKey key;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kProductKey, 0, KEY_READ, key.out()), ERROR_SUCCESS);
  EXPECT_EQ(regtest::valueNames(key.get()).size(), spellings.size() * kCount);
  for (size_t i = 0; i < spellings.size(); ++i) {
    for (int k = 0; k < kCount; ++k) {
      const std::string name = "s" + std::to_string(i) + "_" + std::to_string(k);
      std::vector<BYTE> data;
      ASSERT_EQ(getValue(key.get(), name.c_str(), data), ERROR_SUCCESS) << name;
      EXPECT_EQ(data, indexedData(k)) << name;
    }
  }
  // Nothing of the writers' own files is left beside the hive.
  EXPECT_EQ(quarveltest::runChild("registry_expect_indexed", {"s0_0", "0"}), 0);
  std::vector<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(root + "/registry"))
    if (entry.path().filename().string().find(".new") != std::string::npos) left.push_back(entry.path());
  EXPECT_TRUE(left.empty()) << left.front();
}

TEST(RegistryProcesses, ThreadsOfOneProcessSerialiseTheirWritesToo) {
  // The writer lock must hold between threads as well, not only between processes.
  constexpr int kThreads = 4, kCount = 25;
  std::vector<std::thread> threads;
  std::vector<LONG> failures(kThreads, ERROR_SUCCESS);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &failures] {
      ScopedKey key;
      if (LONG s = createKey(HKEY_CURRENT_USER, kProductKey, key); s != ERROR_SUCCESS) failures[t] = s;
      for (int i = 0; i < kCount && failures[t] == ERROR_SUCCESS; ++i)
        failures[t] = regtest::setDword(key.get(), ("t" + std::to_string(t) + "_" + std::to_string(i)).c_str(), i);
    });
  }
  for (auto& thread : threads) thread.join();
  for (LONG failure : failures) EXPECT_EQ(failure, ERROR_SUCCESS);
  ScopedKey key;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kProductKey, 0, KEY_READ, key.out()), ERROR_SUCCESS);
  EXPECT_EQ(regtest::valueNames(key.get()).size(), static_cast<size_t>(kThreads * kCount));
}

TEST(RegistryProcesses, ReadersNeverSeeAHalfWrittenHive) {
  auto writer = quarveltest::startChild("registry_write_series", {"w", "60"});
  ScopedKey key;
  ASSERT_TRUE(waitFor([&] { return RegOpenKeyExA(HKEY_CURRENT_USER, kProductKey, 0, KEY_READ, key.out()) == 0; }));
  size_t seen = 0;
  for (int round = 0; round < 300 && seen < 60; ++round) {
    DWORD values = 0;
    ASSERT_EQ(RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr,
                               nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_GE(values, seen) << "a committed value disappeared";
    seen = values;
  }
  EXPECT_EQ(writer.wait(), 0);
}

TEST(RegistryProcesses, AWriterKilledMidWriteLosesNothingCommittedAndCorruptsNothing) {
  const std::string progress = quarveltest::makeTempDirectory("progress") + "/committed";
  int next = 0;
  for (int round = 0; round < 5; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    auto writer = quarveltest::startChild("registry_write_until_killed", {progress, std::to_string(next)});
    // Let it commit a varying number of values, then kill it wherever it is.
    const int target = next + 10 + 7 * round;
    ASSERT_TRUE(waitFor([&] { return lastRecordedIndex(progress) >= target; }));
    writer.kill(SIGKILL);
    ASSERT_EQ(writer.wait(), 128 + SIGKILL);

    const int recorded = lastRecordedIndex(progress);
    ScopedKey key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kProductKey, 0, KEY_READ, key.out()), ERROR_SUCCESS);
    const std::vector<std::string> names = regtest::valueNames(key.get());
    // Every recorded write is there; at most one more was committed but not yet recorded.
    ASSERT_GE(static_cast<int>(names.size()), recorded + 1);
    ASSERT_LE(static_cast<int>(names.size()), recorded + 2);
    for (size_t i = 0; i < names.size(); ++i) {
      ASSERT_EQ(names[i], indexedName(static_cast<int>(i)));
      std::vector<BYTE> data;
      ASSERT_EQ(getValue(key.get(), names[i].c_str(), data), ERROR_SUCCESS);
      ASSERT_EQ(data, indexedData(static_cast<int>(i))) << names[i];
    }
    next = static_cast<int>(names.size());
  }
  // The registry stays writable after the kills.
  ScopedKey key;
  ASSERT_EQ(createKey(HKEY_CURRENT_USER, kProductKey, key), ERROR_SUCCESS);
  EXPECT_EQ(regtest::setDword(key.get(), "After", 1), ERROR_SUCCESS);
}

// Sets the product key's value "Value" to indexedData(<index>), dying at the write step given.
QUARVEL_CHILD(registry_write_dying_at) {
  ScopedKey key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kProductKey, 0, KEY_SET_VALUE, key.out()) != ERROR_SUCCESS) return 2;
  platform::registry::killAtWriteStep(static_cast<platform::registry::WriteStep>(std::stoi(args.at(0))));
  setValue(key.get(), "Value", REG_BINARY, indexedData(std::stoi(args.at(1))));
  return 3;  // not reached: the write was to die on its way
}

// The product key's value, or empty when it is not there.
std::vector<BYTE> productValue(const char* name) {
  ScopedKey key;
  std::vector<BYTE> data;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kProductKey, 0, KEY_READ, key.out()) == ERROR_SUCCESS)
    getValue(key.get(), name, data);
  return data;
}

// Whether the product key's value <name> holds indexedData(<index>).
QUARVEL_CHILD(registry_expect_indexed) {
  return productValue(args.at(0).c_str()) == indexedData(std::stoi(args.at(1))) ? 0 : 2;
}

TEST(RegistryProcesses, AWriteKilledAtAnyStepIsWholeOrAbsent) {
  using platform::registry::WriteStep;
  // How the hive stands when the write begins decides what the write does: a hive in
  // good order gets a record appended; one that ends in an unfinished record is
  // rewritten whole.
  enum class Hive { InOrder, EndsUnfinished };
  struct Row {
    const char* what;
    Hive hive;
    WriteStep step;
    bool whole;
  } rows[] = {
      {"half a record written", Hive::InOrder, WriteStep::RecordHalfWritten, false},
      {"a record written, not flushed", Hive::InOrder, WriteStep::RecordWritten, true},
      {"a record flushed", Hive::InOrder, WriteStep::RecordFlushed, true},
      {"half a rewrite written", Hive::EndsUnfinished, WriteStep::RewriteHalfWritten, false},
      {"a rewrite written, not in place", Hive::EndsUnfinished, WriteStep::RewriteWritten, false},
      {"a rewrite in place", Hive::EndsUnfinished, WriteStep::RewriteInPlace, true},
  };
  const std::string hive = platform::registry::hiveFilePath(HKEY_CURRENT_USER);
  int round = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    ++round;
    {
      ScopedKey key;
      ASSERT_EQ(createKey(HKEY_CURRENT_USER, kProductKey, key), ERROR_SUCCESS);
      ASSERT_EQ(setValue(key.get(), "Value", REG_BINARY, indexedData(0)), ERROR_SUCCESS);
      ASSERT_EQ(setValue(key.get(), "Round", REG_BINARY, indexedData(round)), ERROR_SUCCESS);
    }
    if (row.hive == Hive::EndsUnfinished) {
      // What a writer killed half-way through a record leaves.
      ASSERT_EQ(quarveltest::runChild("registry_write_dying_at",
                                      {std::to_string(static_cast<int>(WriteStep::RecordHalfWritten)), "1"}),
                128 + SIGKILL);
    }
    const int status = quarveltest::runChild("registry_write_dying_at",
                                             {std::to_string(static_cast<int>(row.step)), std::to_string(100 + round)});
    ASSERT_EQ(status, 128 + SIGKILL);

    EXPECT_EQ(productValue("Value"), indexedData(row.whole ? 100 + round : 0));
    EXPECT_EQ(productValue("Round"), indexedData(round));
    // Another process reads the same, and the hive takes the next write.
    EXPECT_EQ(quarveltest::runChild("registry_expect_indexed", {"Value", std::to_string(row.whole ? 100 + round : 0)}), 0);
    ScopedKey key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kProductKey, 0, KEY_ALL_ACCESS, key.out()), ERROR_SUCCESS);
    ASSERT_EQ(regtest::setDword(key.get(), "After", round), ERROR_SUCCESS);
    EXPECT_EQ(productValue("Value"), indexedData(row.whole ? 100 + round : 0));
  }
}

TEST(RegistryProcesses, StandardUserModeReachesChildProcesses) {
  platform::registry::setStandardUser(true);
  const int status = quarveltest::runChild("registry_create_machine_key");
  platform::registry::setStandardUser(false);
  EXPECT_EQ(status, ERROR_ACCESS_DENIED);
  EXPECT_EQ(quarveltest::runChild("registry_create_machine_key"), ERROR_SUCCESS);
}

}  // namespace
