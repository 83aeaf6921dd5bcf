// Speed of the registry as a key grows: 100, 1 000 and 10 000 values in one key, on
// the path programs take (the registry functions over the hive files on disk).
//   registry_benchmark [--benchmark_filter=...] [--benchmark_repetitions=20]   (build type Release)
// Each run works in a machine root of its own under $TMPDIR (or /tmp), removed at the end.
// Where another process writes, it is a process of its own started for each round
// (this program again); only the reader's call is timed. The first call of a program
// is timed apart from the warm ones: a process of its own (this program again) that
// opens the key, reads or writes one value and ends, timed whole from its start to
// its end, beside the same process making no call at all. With SQLite's development
// files at hand, SQLite does the same beside it: one table of names and data in a
// database file, with its default durability. --benchmark_enable_random_interleaving=true
// interleaves the registry's and SQLite's runs.
#include <windows.h>

#include <benchmark/benchmark.h>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#ifdef QUARVEL_BENCH_SQLITE
#include <sqlite3.h>
#endif

#include "quarvel_bench.h"
#include "quarvel_test.h"
#include "registry_helpers.h"
#include "registry_hive.h"

namespace {

using regtest::ScopedKey;

std::string valueName(int i) {
  char name[32];
  std::snprintf(name, sizeof name, "Value%05d", i);
  return name;
}

// A configuration store's typical entry: a short text.
std::vector<BYTE> valueData(int i) { return regtest::bytesWithNul("setting number " + std::to_string(i)); }

std::string keyPath(int count) { return "Software\\Bench\\Values" + std::to_string(count); }

// The aggregate quoted beside the median when runs are repeated.
double minimum(const std::vector<double>& v) { return v.empty() ? 0 : *std::min_element(v.begin(), v.end()); }

// Runs this program again as another process, and waits for it. It is spawned
// without fork: after a fork the reader's first writes to each of its pages would
// fault (the pages were shared for a moment), a cost of the benchmark's own.
bool runChild(const std::vector<std::string>& words) {
  const std::string self = quarveltest::selfExecutable();
  std::vector<char*> argv{const_cast<char*>(self.c_str())};
  for (const std::string& word : words) argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  pid_t pid;
  if (posix_spawn(&pid, self.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return false;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Fills the key once per size, one RegSetValueExA per value; later benchmarks reuse it.
void fillKey(int count) {
  static std::map<int, bool> filled;
  if (filled[count]) return;
  ScopedKey key;
  regtest::createKey(HKEY_CURRENT_USER, keyPath(count).c_str(), key);
  for (int i = 0; i < count; ++i) regtest::setValue(key.get(), valueName(i).c_str(), REG_SZ, valueData(i));
  filled[count] = true;
}

void BM_ReadOneValueOfUnchangedHive(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  fillKey(count);
  ScopedKey key;
  RegOpenKeyExA(HKEY_CURRENT_USER, keyPath(count).c_str(), 0, KEY_READ, key.out());
  const std::string name = valueName(count / 2);
  BYTE data[64];
  for (auto _ : state) {
    DWORD size = sizeof data, type = 0;
    if (RegQueryValueExA(key.get(), name.c_str(), nullptr, &type, data, &size) != ERROR_SUCCESS)
      state.SkipWithError("read failed");
    benchmark::DoNotOptimize(data);
  }
}
BENCHMARK(BM_ReadOneValueOfUnchangedHive)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

// Each write replaces one value's data, so the key keeps its size.
void BM_WriteOneValue(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  fillKey(count);
  ScopedKey key;
  RegOpenKeyExA(HKEY_CURRENT_USER, keyPath(count).c_str(), 0, KEY_ALL_ACCESS, key.out());
  const std::string name = valueName(count / 2);
  int round = 0;
  for (auto _ : state) {
    if (regtest::setValue(key.get(), name.c_str(), REG_SZ, valueData(++round)) != ERROR_SUCCESS)
      state.SkipWithError("write failed");
  }
}
BENCHMARK(BM_WriteOneValue)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime()
    ->ComputeStatistics("min", minimum);

// Another process sets one value of the key; this process, which had read the key
// before, reads that value. Only the read is timed.
void BM_ReadAfterAnotherProcessWrote(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  fillKey(count);
  ScopedKey key;
  RegOpenKeyExA(HKEY_CURRENT_USER, keyPath(count).c_str(), 0, KEY_READ, key.out());
  const std::string name = valueName(count / 2);
  BYTE data[64];
  DWORD size = sizeof data;
  RegQueryValueExA(key.get(), name.c_str(), nullptr, nullptr, data, &size);
  int round = 0;
  for (auto _ : state) {
    const std::vector<BYTE> expected = valueData(1000000 + ++round);
    if (!runChild({"--write-registry", keyPath(count), name, std::to_string(1000000 + round)})) {
      state.SkipWithError("the writer failed");
      break;
    }
    const auto start = std::chrono::steady_clock::now();
    size = sizeof data;
    const LONG status = RegQueryValueExA(key.get(), name.c_str(), nullptr, nullptr, data, &size);
    state.SetIterationTime(secondsSince(start));
    if (status != ERROR_SUCCESS || std::vector<BYTE>(data, data + size) != expected) {
      state.SkipWithError("the other process's value was not read");
      break;
    }
  }
}
BENCHMARK(BM_ReadAfterAnotherProcessWrote)->Arg(100)->Arg(10000)->Iterations(100)->Unit(benchmark::kMillisecond)->UseManualTime()
    ->ComputeStatistics("min", minimum);

// What a program's first call costs: a process of its own started for each round,
// timed whole (start, the call, the end). `words` name what the process does; the
// round's number is appended, so each write sets new data.
void freshProcessRounds(benchmark::State& state, const std::vector<std::string>& words) {
  int round = 0;
  for (auto _ : state) {
    std::vector<std::string> command = words;
    command.push_back(std::to_string(2000000 + ++round));
    const auto start = std::chrono::steady_clock::now();
    const bool done = runChild(command);
    state.SetIterationTime(secondsSince(start));
    if (!done) {
      state.SkipWithError("the process failed");
      break;
    }
  }
}

// Each round is one process, so the minimum and the median are those of single processes.
#define FRESH_PROCESS_BENCHMARK(name)                                                                 \
  BENCHMARK(name)->Iterations(1)->Repetitions(25)->ReportAggregatesOnly(true)->UseManualTime()      \
      ->Unit(benchmark::kMillisecond)->ComputeStatistics("min", minimum)

// The same program starting and ending without a call: what every process pays.
void BM_FreshProcessWithoutCall(benchmark::State& state) { freshProcessRounds(state, {"--fresh-none", "-", "-"}); }
FRESH_PROCESS_BENCHMARK(BM_FreshProcessWithoutCall);

void BM_FreshProcessReadsOneValue(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  fillKey(count);
  freshProcessRounds(state, {"--fresh-registry-read", keyPath(count), valueName(count / 2)});
}
FRESH_PROCESS_BENCHMARK(BM_FreshProcessReadsOneValue)->Arg(100)->Arg(10000);

void BM_FreshProcessWritesOneValue(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  fillKey(count);
  freshProcessRounds(state, {"--write-registry", keyPath(count), valueName(count / 2)});
}
FRESH_PROCESS_BENCHMARK(BM_FreshProcessWritesOneValue)->Arg(100)->Arg(10000);

// A new key filled value by value, then every value read back: one run per size.
void BM_WriteThenReadAll(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  int run = 0;
  for (auto _ : state) {
    const std::string path = "Software\\Bench\\Fresh" + std::to_string(count) + "_" + std::to_string(++run);
    ScopedKey key;
    regtest::createKey(HKEY_CURRENT_USER, path.c_str(), key);
    for (int i = 0; i < count; ++i)
      if (regtest::setValue(key.get(), valueName(i).c_str(), REG_SZ, valueData(i)) != ERROR_SUCCESS)
        state.SkipWithError("write failed");
    BYTE data[64];
    for (int i = 0; i < count; ++i) {
      DWORD size = sizeof data;
      if (RegQueryValueExA(key.get(), valueName(i).c_str(), nullptr, nullptr, data, &size) != ERROR_SUCCESS)
        state.SkipWithError("read failed");
    }
    state.PauseTiming();
    RegDeleteTreeA(HKEY_CURRENT_USER, path.c_str());
    state.ResumeTiming();
  }
}
BENCHMARK(BM_WriteThenReadAll)->Arg(100)->Arg(1000)->Arg(10000)->Iterations(1)->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// What a process pays when another one has changed the hive: reading and checking
// the whole file. Linear in its size, whether the values share a key or not.
void BM_ParseHive(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  const bool oneKey = state.range(1) != 0;
  platform::registry::Key root;
  for (int i = 0; i < count; ++i) {
    platform::registry::Key& key = oneKey ? root : root.addSubkey("Group" + std::to_string(i / 100));
    const std::vector<BYTE> data = valueData(i);
    key.setValue(valueName(i), REG_SZ, data);
  }
  const std::vector<uint8_t> file = platform::registry::serializeHive(root);
  for (auto _ : state) {
    platform::registry::Key parsed;
    if (!platform::registry::parseHive(file.data(), file.size(), parsed)) state.SkipWithError("refused");
    benchmark::DoNotOptimize(parsed);
  }
}
BENCHMARK(BM_ParseHive)
    ->ArgNames({"values", "oneKey"})
    ->Args({100, 1})->Args({1000, 1})->Args({10000, 1})->Args({10000, 0})
    ->Unit(benchmark::kMicrosecond);

#ifdef QUARVEL_BENCH_SQLITE
class Database {
 public:
  explicit Database(const std::string& path) {
    if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK) {
      sqlite3_close(db_);
      db_ = nullptr;
    }
  }
  ~Database() { sqlite3_close(db_); }
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;
  sqlite3* get() const { return db_; }
  bool exec(const char* sql) const { return db_ && sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

 private:
  sqlite3* db_ = nullptr;
};

class Statement {
 public:
  Statement(const Database& db, const char* sql) {
    if (!db.get() || sqlite3_prepare_v2(db.get(), sql, -1, &statement_, nullptr) != SQLITE_OK) statement_ = nullptr;
  }
  ~Statement() { sqlite3_finalize(statement_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  sqlite3_stmt* get() const { return statement_; }

 private:
  sqlite3_stmt* statement_ = nullptr;
};

std::string databasePath(int count) { return quarveltest::machineRoot() + "/values" + std::to_string(count) + ".db"; }

// The same rows as the registry key: one transaction, once per size.
bool fillDatabase(int count) {
  static std::map<int, bool> filled;
  if (filled[count]) return true;
  Database db(databasePath(count));
  if (!db.exec("CREATE TABLE IF NOT EXISTS settings(name TEXT PRIMARY KEY, data BLOB)") || !db.exec("BEGIN"))
    return false;
  Statement insert(db, "INSERT OR REPLACE INTO settings VALUES(?, ?)");
  for (int i = 0; i < count && insert.get(); ++i) {
    const std::string name = valueName(i);
    const std::vector<BYTE> data = valueData(i);
    sqlite3_bind_text(insert.get(), 1, name.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_blob(insert.get(), 2, data.data(), static_cast<int>(data.size()), SQLITE_TRANSIENT);
    if (sqlite3_step(insert.get()) != SQLITE_DONE) return false;
    sqlite3_reset(insert.get());
  }
  filled[count] = db.exec("COMMIT");
  return filled[count];
}

bool updateRow(const Database& db, const std::string& name, const std::vector<BYTE>& data) {
  Statement update(db, "UPDATE settings SET data = ? WHERE name = ?");
  if (!update.get()) return false;
  sqlite3_bind_blob(update.get(), 1, data.data(), static_cast<int>(data.size()), SQLITE_TRANSIENT);
  sqlite3_bind_text(update.get(), 2, name.c_str(), -1, SQLITE_TRANSIENT);
  return sqlite3_step(update.get()) == SQLITE_DONE;
}

// The row's data through a statement prepared once; empty when there is no such row.
std::vector<BYTE> readRow(const Statement& select, const std::string& name) {
  std::vector<BYTE> data;
  if (!select.get()) return data;
  sqlite3_bind_text(select.get(), 1, name.c_str(), -1, SQLITE_TRANSIENT);
  if (sqlite3_step(select.get()) == SQLITE_ROW) {
    const auto* bytes = static_cast<const BYTE*>(sqlite3_column_blob(select.get(), 0));
    data.assign(bytes, bytes + sqlite3_column_bytes(select.get(), 0));
  }
  sqlite3_reset(select.get());
  return data;
}

std::vector<BYTE> readRow(const Database& db, const std::string& name) {
  return readRow(Statement(db, "SELECT data FROM settings WHERE name = ?"), name);
}

void BM_SqliteWriteOneRow(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  if (!fillDatabase(count)) return state.SkipWithError("no database");
  Database db(databasePath(count));
  const std::string name = valueName(count / 2);
  int round = 0;
  for (auto _ : state)
    if (!updateRow(db, name, valueData(++round))) state.SkipWithError("write failed");
}
BENCHMARK(BM_SqliteWriteOneRow)->Arg(100)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime()
    ->ComputeStatistics("min", minimum);

void BM_SqliteReadAfterAnotherProcessWrote(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  if (!fillDatabase(count)) return state.SkipWithError("no database");
  Database db(databasePath(count));
  Statement select(db, "SELECT data FROM settings WHERE name = ?");
  const std::string name = valueName(count / 2);
  auto read = [&] { return readRow(select, name); };
  if (!select.get()) return state.SkipWithError("no statement");
  read();
  int round = 0;
  for (auto _ : state) {
    const std::vector<BYTE> expected = valueData(1000000 + ++round);
    if (!runChild({"--write-sqlite", databasePath(count), name, std::to_string(1000000 + round)})) {
      state.SkipWithError("the writer failed");
      break;
    }
    const auto start = std::chrono::steady_clock::now();
    const std::vector<BYTE> data = read();
    state.SetIterationTime(secondsSince(start));
    if (data != expected) {
      state.SkipWithError("the other process's row was not read");
      break;
    }
  }
}
BENCHMARK(BM_SqliteReadAfterAnotherProcessWrote)->Arg(100)->Arg(10000)->Iterations(100)->Unit(benchmark::kMillisecond)
    ->UseManualTime()->ComputeStatistics("min", minimum);

void BM_SqliteFreshProcessReadsOneRow(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  if (!fillDatabase(count)) return state.SkipWithError("no database");
  freshProcessRounds(state, {"--fresh-sqlite-read", databasePath(count), valueName(count / 2)});
}
FRESH_PROCESS_BENCHMARK(BM_SqliteFreshProcessReadsOneRow)->Arg(100)->Arg(10000);

void BM_SqliteFreshProcessWritesOneRow(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  if (!fillDatabase(count)) return state.SkipWithError("no database");
  freshProcessRounds(state, {"--write-sqlite", databasePath(count), valueName(count / 2)});
}
FRESH_PROCESS_BENCHMARK(BM_SqliteFreshProcessWritesOneRow)->Arg(100)->Arg(10000);
#endif

// The other processes: each makes one call (or none) and ends.
int child(const std::string& how, const std::string& where, const std::string& name, int index) {
  if (how == "--fresh-none") return 0;
  if (how == "--write-registry") {
    ScopedKey key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, where.c_str(), 0, KEY_SET_VALUE, key.out()) != ERROR_SUCCESS) return 2;
    return regtest::setValue(key.get(), name.c_str(), REG_SZ, valueData(index)) == ERROR_SUCCESS ? 0 : 3;
  }
  if (how == "--fresh-registry-read") {
    ScopedKey key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, where.c_str(), 0, KEY_QUERY_VALUE, key.out()) != ERROR_SUCCESS) return 2;
    BYTE data[64];
    DWORD size = sizeof data;
    return RegQueryValueExA(key.get(), name.c_str(), nullptr, nullptr, data, &size) == ERROR_SUCCESS && size > 0 ? 0
                                                                                                                  : 3;
  }
#ifdef QUARVEL_BENCH_SQLITE
  if (how == "--write-sqlite") return updateRow(Database(where), name, valueData(index)) ? 0 : 3;
  if (how == "--fresh-sqlite-read") return readRow(Database(where), name).empty() ? 3 : 0;
#endif
  return 4;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && (std::strncmp(argv[1], "--write-", 8) == 0 || std::strncmp(argv[1], "--fresh-", 8) == 0))
    return child(argv[1], argv[2], argv[3], std::atoi(argv[4]));
  return quarveltest::runBenchmarks(argc, argv);
}
