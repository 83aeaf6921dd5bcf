#include "foundation/archive/InstalledArchive.h"

#include "foundation/archive/InstallDir.h"
#include "foundation/archive/SignedArchive.h"

#include <windows.h>

#include <time.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace {

struct FileIdentity {
  dev_t device;
  ino_t inode;
  off_t size;
  timespec modified;
  timespec changed;
};

bool sameTime(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

bool sameIdentity(const FileIdentity& a, const FileIdentity& b) {
  return a.device == b.device && a.inode == b.inode && a.size == b.size && sameTime(a.modified, b.modified) &&
         sameTime(a.changed, b.changed);
}

// The identity of a regular file; false for a missing file or anything else.
bool identityOf(const std::string& path, FileIdentity& identity) {
  struct _stat status;
  if (_stat(path.c_str(), &status) != 0 || (status.st_mode & _S_IFMT) != _S_IFREG) return false;
  identity = FileIdentity{status.st_dev, status.st_ino, status.st_size, status.st_mtim, status.st_ctim};
  return true;
}

// Whether the file was changed so lately that a further change could leave its times
// as they are: file times come from the coarse clock, so a change in the clock tick in
// progress (or, on a file system that keeps whole seconds, in the same second or two)
// may show the same change time.
bool changedTooLately(const FileIdentity& identity) {
  timespec now;
  if (clock_gettime(CLOCK_REALTIME_COARSE, &now) != 0) return true;
  const timespec& changed = identity.changed;
  if (changed.tv_sec > now.tv_sec || (changed.tv_sec == now.tv_sec && changed.tv_nsec >= now.tv_nsec)) return true;
  return changed.tv_nsec == 0 && changed.tv_sec + 2 > now.tv_sec;
}

struct Entry {
  FileIdentity identity;
  InstalledSection section;
};

using Key = std::pair<std::string, std::string>;  // archive path, section name

// A bound on what is kept: a process asks for a few modules; should the names keep
// changing, the entries are dropped rather than grow without end.
constexpr size_t kMaxEntries = 64;

struct Cache {
  std::mutex mutex;
  std::map<Key, Entry> entries;
};

Cache& cache() {
  static Cache instance;
  return instance;
}

std::atomic<unsigned long long> g_verifications{0};

// <InstallDir>\<file>.esw and the directory, within the lengths settings archives are read with.
bool installedPath(const char* file, std::string& directory, std::string& path) {
  char installDir[512];
  if (readInstallDir(installDir, sizeof installDir) != 1) return false;
  directory = installDir;
  if (directory.empty() || directory.size() > 255) return false;
  path = directory + "\\" + file + ".esw";
  return path.size() <= 511;
}

// Reads the file at the size it had before and verifies it: the section, or false.
// `stable`: the file kept its identity throughout and had not changed too lately.
bool readAndVerify(const std::string& path, const std::string& directory, const char* section,
                   const FileIdentity& before, bool& stable, InstalledSection& out) {
  stable = false;
  if (before.size <= 0 || static_cast<unsigned long long>(before.size) > kMaxArchiveSize) return false;
  std::vector<unsigned char> bytes(static_cast<size_t>(before.size));
  {
    FILE* opened = nullptr;
    if (fopen_s(&opened, path.c_str(), "rb") != 0) return false;
    std::unique_ptr<FILE, int (*)(FILE*)> file(opened, &std::fclose);
    if (std::fread(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) return false;
  }
  FileIdentity after;
  stable = identityOf(path, after) && sameIdentity(before, after) && !changedTooLately(after);

  g_verifications.fetch_add(1, std::memory_order_relaxed);
  unsigned char keyBytes[1024] = {};
  Blob rootKey = makeBlob(keyBytes, sizeof keyBytes);
  if (getArchiveRootKey(&rootKey) != 1) return false;
  ArchivePtr archive(loadSignedArchive(makeBlob(bytes.data(), bytes.size()),
                                       makeBlob(directory.data(), directory.size()), makeBlob("", 0), rootKey));
  if (!archive) return false;
  const ManifestSection* found = findSection(archive.get(), static_cast<uint32_t>(std::strlen(section)), section);
  if (found == nullptr) return false;
  out.directory = directory;
  out.name.assign(reinterpret_cast<const char*>(found->name.data), found->name.length);
  return true;
}

}  // namespace

bool readInstalledSection(const char* file, const char* section, InstalledSection& out) {
  if (file == nullptr || section == nullptr || *section == '\0') return false;
  std::string directory;
  std::string path;
  if (!installedPath(file, directory, path)) return false;
  FileIdentity identity;
  Key key{path, section};
  Cache& kept = cache();
  if (!identityOf(path, identity)) {
    std::lock_guard<std::mutex> lock(kept.mutex);
    kept.entries.erase(key);
    return false;
  }
  {
    std::lock_guard<std::mutex> lock(kept.mutex);
    auto found = kept.entries.find(key);
    if (found != kept.entries.end()) {
      if (sameIdentity(found->second.identity, identity)) {
        out = found->second.section;
        return true;
      }
      kept.entries.erase(found);
    }
  }
  bool stable = false;
  InstalledSection result;
  if (!readAndVerify(path, directory, section, identity, stable, result)) return false;
  if (stable) {
    std::lock_guard<std::mutex> lock(kept.mutex);
    if (kept.entries.size() >= kMaxEntries) kept.entries.clear();
    kept.entries[key] = Entry{identity, result};
  }
  out = std::move(result);
  return true;
}

unsigned long long installedArchiveVerifications() { return g_verifications.load(std::memory_order_relaxed); }
