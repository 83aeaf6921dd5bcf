#include "registry_store.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

#include "platform/machine.h"
#include "platform/registry_test.h"
#include "winerror.h"

namespace platform::registry {

namespace {

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }

 private:
  int fd_;
};

int openRetrying(const char* path, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = ::open(path, flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

bool writeAll(int fd, const uint8_t* data, size_t size, off_t at) {
  while (size > 0) {
    ssize_t n = ::pwrite(fd, data, size, at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    at += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// Reads up to `size` bytes at `at`; how many there were, or -1 on an error.
ssize_t readAll(int fd, uint8_t* data, size_t size, off_t at) {
  size_t filled = 0;
  while (filled < size) {
    ssize_t n = ::pread(fd, data + filled, size - filled, at + static_cast<off_t>(filled));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    filled += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(filled);
}

// Far above any real hive; a larger file is refused instead of read into memory,
// and a change that would grow a hive beyond it is refused before it is written.
constexpr off_t kMaxHiveSize = 256 * 1024 * 1024;
// The journal is rewritten into the body once it outgrows the body, and not before
// it holds this much: so replaying it never costs more than parsing the body, and
// small hives are not rewritten every few writes.
constexpr size_t kMinJournalLimit = 64 * 1024;
// Bytes kept of the end of what was read, to confirm a stamp that is not settled.
constexpr size_t kWindowSize = 512;
// Buffers larger than this are given back after use rather than kept for the next.
constexpr size_t kKeptBufferSize = 16 * 1024 * 1024;

std::string directoryOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash == 0 ? 1 : slash);
}

int64_t nanoseconds(const timespec& t) { return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec; }

int64_t now() {
  timespec t;
  clock_gettime(CLOCK_REALTIME, &t);
  return nanoseconds(t);
}

// What stat tells of a hive file. A file only grows or is replaced, so a changed
// hive shows a new identity, size or time.
struct FileStamp {
  dev_t device = 0;
  ino_t inode = 0;
  int64_t size = 0;
  int64_t modified = 0;
  int64_t changed = 0;

  FileStamp() = default;
  explicit FileStamp(const struct stat& st)
      : device(st.st_dev), inode(st.st_ino), size(st.st_size), modified(nanoseconds(st.st_mtim)),
        changed(nanoseconds(st.st_ctim)) {}
  bool sameFile(const FileStamp& o) const { return device == o.device && inode == o.inode; }
  bool operator==(const FileStamp& o) const {
    return sameFile(o) && size == o.size && modified == o.modified && changed == o.changed;
  }
};

// File times come from a clock that advances in ticks of up to 10 ms, and a freed
// inode number is soon given to the next new file: two versions of a hive written
// within one tick can look alike to stat. A hive whose times lie this far before the
// moment it was read cannot be followed by a look-alike (anything written later
// carries a later time); until then its header and last bytes are compared as well.
constexpr int64_t kSettleNanoseconds = 50 * 1000000;

bool settled(const FileStamp& stamp, int64_t readAt) {
  return stamp.modified < readAt - kSettleNanoseconds && stamp.changed < readAt - kSettleNanoseconds;
}

// One hive file as this process last read or wrote it.
struct HiveState {
  std::mutex mutex;
  // Handed out as const; changed in place only while nobody else holds it. Null
  // when nothing is known (never read, or dropped after damage or a failed write).
  std::shared_ptr<Key> root;
  FileStamp stamp;
  bool settled = false;
  uint8_t header[kHiveHeaderSize] = {};
  HiveLayout layout;
  std::vector<uint8_t> window;  // the last bytes before layout.validEnd
};

class HiveStates {
 public:
  std::shared_ptr<HiveState> get(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto& state = states_[path];
    if (!state) state = std::make_shared<HiveState>();
    return state;
  }

 private:
  std::mutex mutex_;
  std::unordered_map<std::string, std::shared_ptr<HiveState>> states_;
};

// Never destroyed: a process that ends has no reason to take its hives apart value by
// value, and a thread still in a call at exit keeps its state.
HiveStates& hiveStates() {
  static auto* states = new HiveStates();
  return *states;
}

// Never destroyed either: a module's exit handlers still read settings after the static
// objects made after they were registered are gone.
const std::shared_ptr<const Key>& emptyHive() {
  static const auto* empty = new std::shared_ptr<const Key>(std::make_shared<Key>());
  return *empty;
}

// Memory reused from one read or write to the next on this thread. A module's exit
// handlers may still write settings after the thread's own objects are gone (the main
// thread's run before them); such late writes get a buffer that is never freed.
thread_local bool scratchGone = false;

struct ThreadScratch {
  std::vector<uint8_t> buffer;
  ~ThreadScratch() { scratchGone = true; }
};

std::vector<uint8_t>& scratch() {
  thread_local ThreadScratch scratch;
  thread_local std::vector<uint8_t>* late = nullptr;
  if (!scratchGone) return scratch.buffer;
  if (late == nullptr) late = new std::vector<uint8_t>;
  return *late;
}

void releaseScratch() {
  std::vector<uint8_t>& buffer = scratch();
  if (buffer.capacity() > kKeptBufferSize) std::vector<uint8_t>().swap(buffer);
}

void keepWindow(HiveState& state, const uint8_t* end, size_t size) {
  const size_t take = std::min(size, kWindowSize);
  state.window.insert(state.window.end(), end - take, end);
  if (state.window.size() > kWindowSize)
    state.window.erase(state.window.begin(), state.window.end() - static_cast<std::ptrdiff_t>(kWindowSize));
}

// Makes the state's hive one that only the state holds, so it can be changed in place.
void takeOwnership(HiveState& state) {
  if (state.root.use_count() > 1) state.root = std::make_shared<Key>(*state.root);
}

// True when the file still begins and, up to where it was read, ends as it did.
bool sameBytesAsRead(const HiveState& state, int fd) {
  uint8_t header[kHiveHeaderSize];
  if (readAll(fd, header, sizeof header, 0) != static_cast<ssize_t>(sizeof header) ||
      std::memcmp(header, state.header, sizeof header) != 0)
    return false;
  uint8_t window[kWindowSize];
  const size_t size = state.window.size();
  const off_t at = static_cast<off_t>(state.layout.validEnd - size);
  return readAll(fd, window, size, at) == static_cast<ssize_t>(size) &&
         std::memcmp(window, state.window.data(), size) == 0;
}

LONG parseWhole(HiveState& state, int fd, size_t size) {
  std::vector<uint8_t>& bytes = scratch();
  bytes.resize(size);
  const ssize_t got = readAll(fd, bytes.data(), size, 0);
  if (got < 0) return ERROR_CANTREAD;
  auto parsed = std::make_shared<Key>();
  HiveLayout layout;
  if (!parseHive(bytes.data(), static_cast<size_t>(got), *parsed, &layout)) {
    state.root.reset();
    releaseScratch();
    return ERROR_REGISTRY_CORRUPT;
  }
  state.root = std::move(parsed);
  state.layout = layout;
  std::memcpy(state.header, bytes.data(), kHiveHeaderSize);
  state.window.clear();
  keepWindow(state, bytes.data() + layout.validEnd, layout.validEnd);
  releaseScratch();
  return ERROR_SUCCESS;
}

// Applies the records written after what the state has read, up to `size`.
LONG replayTail(HiveState& state, int fd, size_t size) {
  std::vector<uint8_t>& bytes = scratch();
  bytes.resize(size - state.layout.validEnd);
  const ssize_t got = readAll(fd, bytes.data(), bytes.size(), static_cast<off_t>(state.layout.validEnd));
  if (got < 0) return ERROR_CANTREAD;
  takeOwnership(state);
  uint32_t check = state.layout.check;
  size_t consumed = 0;
  if (replayJournal(bytes.data(), static_cast<size_t>(got), check, *state.root, consumed) == JournalStatus::Damaged) {
    state.root.reset();
    releaseScratch();
    return ERROR_REGISTRY_CORRUPT;
  }
  state.layout.validEnd += consumed;
  state.layout.check = check;
  keepWindow(state, bytes.data() + consumed, consumed);
  releaseScratch();
  return ERROR_SUCCESS;
}

// Brings the state up to date with the hive file open on `fd`.
LONG load(HiveState& state, int fd, int64_t readAt) {
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return ERROR_CANTREAD;
  const FileStamp stamp(st);
  if (state.root && state.settled && state.stamp == stamp) return ERROR_SUCCESS;
  if (st.st_size > kMaxHiveSize) {
    state.root.reset();
    return ERROR_REGISTRY_CORRUPT;
  }
  const size_t size = static_cast<size_t>(st.st_size);
  // A file that grew by records after what was read needs only those; anything else
  // (another file, a rewrite, bytes that differ) is read whole.
  const bool grown = state.root && state.stamp.sameFile(stamp) && size >= state.layout.validEnd &&
                     (state.layout.version == kJournaledHiveVersion || size == state.layout.validEnd) &&
                     sameBytesAsRead(state, fd);
  LONG status = !grown ? parseWhole(state, fd, size)
                       : size > state.layout.validEnd ? replayTail(state, fd, size) : ERROR_SUCCESS;
  if (status != ERROR_SUCCESS) return status;
  state.stamp = stamp;
  state.settled = settled(stamp, readAt);
  return ERROR_SUCCESS;
}

std::atomic<int> g_killAt{static_cast<int>(WriteStep::None)};

bool killsAt(WriteStep step) { return g_killAt.load() == static_cast<int>(step); }

void reached(WriteStep step) {
  if (killsAt(step)) raise(SIGKILL);
}

// Writes the bytes at `at`; a test may have the process die half-way.
bool writeSteps(int fd, const std::vector<uint8_t>& bytes, off_t at, WriteStep half) {
  if (killsAt(half)) {
    writeAll(fd, bytes.data(), bytes.size() / 2, at);
    raise(SIGKILL);
  }
  return writeAll(fd, bytes.data(), bytes.size(), at);
}

uint32_t newGeneration() {
  uint32_t generation;
  if (getrandom(&generation, sizeof generation, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof generation))
    return generation;
  return static_cast<uint32_t>(now()) ^ static_cast<uint32_t>(getpid());
}

// A new hive file beside the hive, private to its writer (mode 0600) and without a
// name until it is complete, so a writer that dies on the way leaves nothing behind.
// File systems without unnamed files get a named temporary file of the writer's own.
class NewFile {
 public:
  explicit NewFile(std::string path) : path_(std::move(path)) {
    fd_ = openRetrying(directoryOf(path_).c_str(), O_TMPFILE | O_RDWR, 0600);
    if (fd_ < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
      std::string name = path_ + ".new-XXXXXX";
      fd_ = mkostemp(name.data(), O_CLOEXEC);
      if (fd_ >= 0) name_ = std::move(name);
    }
  }
  ~NewFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!name_.empty()) ::unlink(name_.c_str());
  }
  NewFile(const NewFile&) = delete;
  NewFile& operator=(const NewFile&) = delete;

  bool valid() const { return fd_ >= 0; }
  int fd() const { return fd_; }

  // Gives the complete file the hive's name: in place of the file there, or only where
  // there is none (false with errno EEXIST when another writer made one first).
  bool publish(bool replace) {
    if (name_.empty()) {
      const std::string self = "/proc/self/fd/" + std::to_string(fd_);
      if (!replace) return linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path_.c_str(), AT_SYMLINK_FOLLOW) == 0;
      // A rename needs a name: one of the writer's own, for the moment until the rename.
      for (int attempt = 0; attempt < 8 && name_.empty(); ++attempt) {
        const std::string name = path_ + ".new-" + std::to_string(newGeneration());
        if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0)
          name_ = name;
        else if (errno != EEXIST)
          return false;
      }
      if (name_.empty()) return false;
    }
    if (!replace) return ::link(name_.c_str(), path_.c_str()) == 0;
    if (::rename(name_.c_str(), path_.c_str()) != 0) return false;
    name_.clear();
    return true;
  }

 private:
  std::string path_;
  std::string name_;  // while the file has a name of its own
  int fd_ = -1;
};

enum class Published { Done, Failed, TooLarge, Taken };

// Writes the state's hive as a new file and puts it in place: over the current file,
// or (`replace` false) only where no file is yet.
Published rewrite(HiveState& state, const std::string& path, bool replace) {
  std::vector<uint8_t>& bytes = scratch();
  writeHive(*state.root, bytes, kJournaledHiveVersion, newGeneration());
  if (bytes.size() > static_cast<size_t>(kMaxHiveSize)) {
    releaseScratch();
    return Published::TooLarge;
  }
  NewFile file(path);
  bool ok = file.valid() && writeSteps(file.fd(), bytes, 0, WriteStep::RewriteHalfWritten) && fsync(file.fd()) == 0;
  if (ok) reached(WriteStep::RewriteWritten);
  if (ok && !file.publish(replace)) {
    const bool taken = !replace && errno == EEXIST;
    releaseScratch();
    return taken ? Published::Taken : Published::Failed;
  }
  if (!ok) {
    releaseScratch();
    return Published::Failed;
  }
  reached(WriteStep::RewriteInPlace);
  // Make the new name itself durable.
  FileDescriptor dir(openRetrying(directoryOf(path).c_str(), O_RDONLY | O_DIRECTORY));
  if (dir.valid()) fsync(dir.get());
  // The stamp comes after the rename, which sets the change time; no other writer can
  // replace the file while this one holds the lock (or, creating it, before it has it).
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    state.root.reset();
  } else {
    state.stamp = FileStamp(st);
    state.settled = false;
    std::memcpy(state.header, bytes.data(), kHiveHeaderSize);
    state.layout = HiveLayout{kJournaledHiveVersion, bytes.size(), bytes.size(), journalSeed(bytes.data())};
    state.window.clear();
    keepWindow(state, bytes.data() + bytes.size(), bytes.size());
  }
  releaseScratch();
  return Published::Done;
}

LONG failure(Published published) {
  return published == Published::TooLarge ? ERROR_OUTOFMEMORY : ERROR_CANTWRITE;
}

// Appends one record to the hive file open on `fd`; false when it could not be
// written and flushed.
bool append(HiveState& state, int fd, const std::vector<uint8_t>& record, uint32_t check) {
  if (!writeSteps(fd, record, static_cast<off_t>(state.layout.validEnd), WriteStep::RecordHalfWritten)) return false;
  reached(WriteStep::RecordWritten);
  if (fdatasync(fd) != 0) return false;
  reached(WriteStep::RecordFlushed);
  struct stat st;
  if (fstat(fd, &st) != 0) {
    state.root.reset();
    return true;
  }
  state.stamp = FileStamp(st);
  state.settled = false;
  state.layout.validEnd += record.size();
  state.layout.check = check;
  keepWindow(state, record.data() + record.size(), record.size());
  return true;
}

// Applies the change's edits to the state's hive; ERROR_SUCCESS with `edits` empty
// when there is nothing to write.
LONG applyChange(HiveState& state, const HiveFile::Change& change, std::vector<Edit>& edits, uint64_t& time) {
  takeOwnership(state);
  if (LONG status = change(*state.root, edits); status != ERROR_SUCCESS || edits.empty()) return status;
  time = fileTimeNow();
  for (const Edit& edit : edits) {
    if (!applyEdit(*state.root, edit, time)) {
      // The change listed an edit its own hive does not allow: nothing is written.
      state.root.reset();
      return ERROR_CANTWRITE;
    }
  }
  return ERROR_SUCCESS;
}

bool lockExclusive(int fd) {
  int r;
  do {
    r = flock(fd, LOCK_EX);
  } while (r != 0 && errno == EINTR);
  return r == 0;
}

}  // namespace

void killAtWriteStep(WriteStep step) { g_killAt.store(static_cast<int>(step)); }

LONG HiveFile::read(std::shared_ptr<const Key>& root) const {
  const std::shared_ptr<HiveState> state = hiveStates().get(path_);
  std::lock_guard<std::mutex> lock(state->mutex);
  struct stat st;
  if (state->root && state->settled && ::stat(path_.c_str(), &st) == 0 && state->stamp == FileStamp(st)) {
    root = state->root;
    return ERROR_SUCCESS;
  }
  const int64_t readAt = now();
  FileDescriptor fd(openRetrying(path_.c_str(), O_RDONLY));
  if (!fd.valid()) {
    if (errno != ENOENT) return ERROR_CANTREAD;
    state->root.reset();
    root = emptyHive();
    return ERROR_SUCCESS;
  }
  if (LONG status = load(*state, fd.get(), readAt); status != ERROR_SUCCESS) return status;
  root = state->root;
  return ERROR_SUCCESS;
}

LONG HiveFile::update(const Change& change) const {
  if (!makeDirectories(directoryOf(path_))) return ERROR_CANTWRITE;
  const std::shared_ptr<HiveState> state = hiveStates().get(path_);
  std::vector<Edit> edits;
  uint64_t time = 0;
  for (;;) {
    FileDescriptor fd(openRetrying(path_.c_str(), O_RDWR));
    if (!fd.valid()) {
      if (errno == EACCES || errno == EROFS) return ERROR_ACCESS_DENIED;
      if (errno != ENOENT) return ERROR_CANTWRITE;
      // No hive yet: the first writer makes the file whole; a second one that loses
      // the race starts again on the file the first made.
      std::lock_guard<std::mutex> lock(state->mutex);
      state->root = std::make_shared<Key>();
      state->layout = HiveLayout{};
      edits.clear();
      if (LONG status = applyChange(*state, change, edits, time); status != ERROR_SUCCESS || edits.empty()) {
        state->root.reset();
        return status;
      }
      const Published published = rewrite(*state, path_, false);
      if (published == Published::Done) return ERROR_SUCCESS;
      state->root.reset();
      if (published != Published::Taken) return failure(published);
      continue;
    }
    if (!lockExclusive(fd.get())) return ERROR_CANTWRITE;
    // The lock counts only on the file the path still names: a writer that rewrote
    // the hive meanwhile has put another file there.
    struct stat locked, named;
    if (fstat(fd.get(), &locked) != 0) return ERROR_CANTWRITE;
    if (::stat(path_.c_str(), &named) != 0 || locked.st_dev != named.st_dev || locked.st_ino != named.st_ino) continue;

    std::lock_guard<std::mutex> lock(state->mutex);
    // A damaged hive is never overwritten: what it still holds may be recoverable.
    if (LONG status = load(*state, fd.get(), now()); status != ERROR_SUCCESS) return status;
    edits.clear();
    if (LONG status = applyChange(*state, change, edits, time); status != ERROR_SUCCESS || edits.empty())
      return status;

    std::vector<uint8_t>& record = scratch();
    record.clear();
    uint32_t check = state->layout.check;
    appendRecord(record, check, time, edits);
    const HiveLayout& layout = state->layout;
    const size_t bodyLength = layout.bodyEnd - kHiveHeaderSize;
    const size_t journal = layout.validEnd - layout.bodyEnd + record.size();
    const bool appendable = layout.version == kJournaledHiveVersion &&
                            state->stamp.size == static_cast<int64_t>(layout.validEnd) &&
                            journal <= std::max(bodyLength, kMinJournalLimit) &&
                            layout.validEnd + record.size() <= static_cast<size_t>(kMaxHiveSize);
    if (appendable) {
      const bool written = append(*state, fd.get(), record, check);
      releaseScratch();
      if (written) return ERROR_SUCCESS;
      state->root.reset();
      return ERROR_CANTWRITE;
    }
    // The record's memory is the rewrite's: the record is not needed any more.
    const Published published = rewrite(*state, path_, true);
    if (published == Published::Done) return ERROR_SUCCESS;
    state->root.reset();
    return failure(published);
    // The lock goes with the descriptor.
  }
}

}  // namespace platform::registry
