#include "desktop_records.h"

#include "platform/machine.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace platform {
namespace desktop {
namespace {

std::string pathOf(const char* journal) {
  const std::string dir = runtimeDirectory() + "/desktop";
  makeDirectories(dir);
  return dir + "/" + journal;
}

// A descriptor holding the journal's lock for its lifetime.
class LockedFile {
 public:
  LockedFile(const char* journal, int flags) : m_fd(::open(pathOf(journal).c_str(), flags | O_CLOEXEC, 0600)) {
    if (m_fd >= 0) {
      while (::flock(m_fd, LOCK_EX) != 0 && errno == EINTR) {
      }
    }
  }
  LockedFile(const LockedFile&) = delete;
  LockedFile& operator=(const LockedFile&) = delete;
  ~LockedFile() {
    if (m_fd >= 0) ::close(m_fd);
  }
  int fd() const { return m_fd; }

  std::string readAll() const {
    std::string text;
    char buffer[4096];
    ::lseek(m_fd, 0, SEEK_SET);
    for (;;) {
      const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      text.append(buffer, static_cast<size_t>(n));
    }
    return text;
  }

  void writeAll(const std::string& text) const {
    size_t done = 0;
    while (done < text.size()) {
      const ssize_t n = ::write(m_fd, text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;
      done += static_cast<size_t>(n);
    }
  }

 private:
  int m_fd;
};

std::string escape(const std::string& field) {
  std::string out;
  for (char c : field) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      default: out += c;
    }
  }
  return out;
}

std::string line(const std::vector<std::string>& fields) {
  std::string text;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) text += '\t';
    text += escape(fields[i]);
  }
  return text + '\n';
}

std::vector<std::string> parse(const std::string& text) {
  std::vector<std::string> fields(1);
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\t') {
      fields.emplace_back();
    } else if (c == '\\' && i + 1 < text.size()) {
      const char e = text[++i];
      fields.back() += e == 't' ? '\t' : e == 'n' ? '\n' : e == 'r' ? '\r' : e;
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

std::vector<std::vector<std::string>> parseAll(const std::string& text) {
  std::vector<std::vector<std::string>> records;
  size_t start = 0;
  for (size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', start)) {
    records.push_back(parse(text.substr(start, end - start)));
    start = end + 1;
  }
  return records;
}

}  // namespace

void append(const char* journal, const std::vector<std::string>& fields) {
  LockedFile file(journal, O_WRONLY | O_CREAT | O_APPEND);
  if (file.fd() >= 0) file.writeAll(line(fields));
}

std::vector<std::vector<std::string>> read(const char* journal) {
  LockedFile file(journal, O_RDONLY);
  if (file.fd() < 0) return {};
  return parseAll(file.readAll());
}

bool take(const char* journal, std::vector<std::string>* fields) {
  LockedFile file(journal, O_RDWR);
  if (file.fd() < 0) return false;
  const std::string text = file.readAll();
  const size_t end = text.find('\n');
  if (end == std::string::npos) return false;
  *fields = parse(text.substr(0, end));
  if (::ftruncate(file.fd(), 0) != 0) return false;
  ::lseek(file.fd(), 0, SEEK_SET);
  file.writeAll(text.substr(end + 1));
  return true;
}

void replace(const char* journal, const std::vector<std::string>& fields) {
  LockedFile file(journal, O_WRONLY | O_CREAT);
  if (file.fd() < 0) return;
  if (::ftruncate(file.fd(), 0) != 0) return;
  file.writeAll(line(fields));
}

}  // namespace desktop
}  // namespace platform
