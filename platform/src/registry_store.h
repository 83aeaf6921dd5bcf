// A hive file shared between processes.
//
// A write appends one journal record (registry_journal.h) to the hive file and
// flushes it to disk before the call returns; readers take no lock and apply only
// the records they have not seen. Now and then, and whenever the file holds no
// journal yet (a hive of version 1) or ends in an unfinished record, the writer
// rewrites the whole hive instead: into a new file of its own beside the hive,
// flushed and renamed over it, so a reader sees either the old or the new file.
// The bytes of a hive file never change once written: it only grows by whole
// records, or is replaced.
//
// Writers serialise on an flock of the hive file itself, taken and then confirmed
// to be the file the path names now (a rewrite replaces it), so every writer of one
// file takes the same lock however its path is spelled. The kernel drops the lock
// when a writer dies; a writer killed on the way leaves at most an unfinished record
// at the end of the file, or an unnamed temporary file that vanishes with it.
//
// Each process keeps the hives it has read, parsed, and checks per call that the
// file is still the one it parsed (see HiveState in the source): a read of an
// unchanged hive costs one stat, one after another process's write reads that
// write's record, and a writer starts from the hive it holds and keeps what it
// committed.
#pragma once

#include "registry_journal.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "windef.h"

namespace platform::registry {

class HiveFile {
 public:
  explicit HiveFile(std::string path) : path_(std::move(path)) {}

  const std::string& path() const { return path_; }

  // The committed hive, shared and never changed; a missing file is an empty hive.
  // ERROR_REGISTRY_CORRUPT when the file is damaged, ERROR_CANTREAD on I/O errors.
  LONG read(std::shared_ptr<const Key>& root) const;

  // Runs `change` on the current hive under the writer lock. It lists the edits it
  // makes; when it returns ERROR_SUCCESS with edits, they are applied and committed
  // before update returns. It may run more than once (when another process creates
  // the file meanwhile), each time on the hive as it is then.
  using Change = std::function<LONG(const Key& root, std::vector<Edit>& edits)>;
  LONG update(const Change& change) const;

 private:
  std::string path_;
};

}  // namespace platform::registry
