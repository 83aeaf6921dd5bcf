// A hive file shared between processes.
//
// Readers take no lock: a writer never changes the file in place, it writes the
// whole new hive to "<hive>.new", flushes it to disk and renames it over the hive,
// so a reader sees either the old or the new hive. Writers serialise on an flock
// of "<hive>.lock" (a separate file, since the hive's inode changes with every
// commit); the kernel drops the lock when a writer dies, and a killed writer leaves
// at most a stale "<hive>.new" that the next writer truncates.
//
// Each process keeps the hives it has read, parsed, and checks per call that the
// file is still the one it parsed (see HiveCache in the source): a read of an
// unchanged hive costs one stat, and a writer starts from the cached hive and
// leaves what it committed in the cache.
#pragma once

#include "registry_hive.h"

#include <functional>
#include <memory>
#include <string>

#include "windef.h"

namespace platform::registry {

class HiveFile {
 public:
  // Writers lock `lockPath`, by default "<path>.lock" beside the hive.
  explicit HiveFile(std::string path, std::string lockPath = std::string())
      : path_(std::move(path)), lockPath_(lockPath.empty() ? path_ + ".lock" : std::move(lockPath)) {}

  const std::string& path() const { return path_; }

  // The committed hive, shared and never changed; a missing file is an empty hive.
  // ERROR_REGISTRY_CORRUPT when the file is damaged, ERROR_CANTREAD on I/O errors.
  LONG read(std::shared_ptr<const Key>& root) const;

  // Runs `change` on a copy of the current hive under the writer lock. When it
  // returns ERROR_SUCCESS and has set `changed`, the result is committed before
  // update returns.
  using Change = std::function<LONG(Key& root, bool& changed)>;
  LONG update(const Change& change) const;

 private:
  LONG commit(Key root) const;

  std::string path_;
  std::string lockPath_;
};

}  // namespace platform::registry
