// A hive file shared between processes.
//
// Readers take no lock: a writer never changes the file in place, it writes the
// whole new hive to "<hive>.new", flushes it to disk and renames it over the hive,
// so a reader sees either the old or the new hive. Writers serialise on an flock
// of "<hive>.lock" (a separate file, since the hive's inode changes with every
// commit); the kernel drops the lock when a writer dies, and a killed writer leaves
// at most a stale "<hive>.new" that the next writer truncates.
#pragma once

#include "registry_hive.h"

#include <functional>
#include <string>

#include "windef.h"

namespace platform::registry {

class HiveFile {
 public:
  explicit HiveFile(std::string path) : path_(std::move(path)) {}

  const std::string& path() const { return path_; }

  // Reads the committed hive; a missing file is an empty hive.
  // ERROR_REGISTRY_CORRUPT when the file is damaged, ERROR_CANTREAD on I/O errors.
  LONG read(Key& root) const;

  // Runs `change` on the current hive under the writer lock. When it returns
  // ERROR_SUCCESS and has set `changed`, the result is committed before update returns.
  using Change = std::function<LONG(Key& root, bool& changed)>;
  LONG update(const Change& change) const;

 private:
  LONG commit(const Key& root) const;

  std::string path_;
};

}  // namespace platform::registry
