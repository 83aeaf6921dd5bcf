// The bytes of a document as the viewer reads them where they lie: from the document's
// own memory, or from its file through one reused window. Reading a file of any size
// this way keeps a constant amount of memory; nothing holds the whole file.
#pragma once

#include <qpdf/InputSource.hh>

#include <cstddef>
#include <memory>
#include <string>

namespace vhost {

class DocumentBytes {
 public:
  // The file's bytes; null when it cannot be opened. Its size is taken once, here.
  static std::unique_ptr<DocumentBytes> ofFile(const std::string& path);
  // Bytes kept elsewhere that outlive this object.
  static std::unique_ptr<DocumentBytes> ofMemory(const std::string& bytes);
  ~DocumentBytes();
  DocumentBytes(const DocumentBytes&) = delete;
  DocumentBytes& operator=(const DocumentBytes&) = delete;

  size_t size() const { return size_; }
  // Copies the n bytes at `at` to `out`; false when they are not all there (a file that
  // shrank since it was opened, a failed read).
  bool read(size_t at, size_t n, char* out);
  // The byte at `at` (below size()); reads a window around it when needed. -1 when the
  // file cannot be read there.
  int byteAt(size_t at);

 private:
  DocumentBytes() = default;
  // Makes the window hold `at` (the window starts there, or earlier when reading backwards
  // is likely); false when the file cannot be read there.
  bool fill(size_t at);

  const std::string* memory_ = nullptr;
  int fd_ = -1;
  size_t size_ = 0;
  std::unique_ptr<char[]> window_;
  size_t windowStart_ = 0;
  size_t windowLength_ = 0;
};

// The file as qpdf reads it: through one DocumentBytes, so that the many small seeks and
// reads of its parser cost no system call each, as they do through a C stream.
class DocumentInputSource : public InputSource {
 public:
  // Null when the file cannot be opened.
  static std::shared_ptr<DocumentInputSource> ofFile(const std::string& path);

  qpdf_offset_t findAndSkipNextEOL() override;
  const std::string& getName() const override { return name_; }
  qpdf_offset_t tell() override { return position_; }
  void seek(qpdf_offset_t offset, int whence) override;
  void rewind() override { position_ = 0; }
  size_t read(char* buffer, size_t length) override;
  void unreadCh(char) override;

 private:
  DocumentInputSource(std::string name, std::unique_ptr<DocumentBytes> bytes)
      : name_(std::move(name)), bytes_(std::move(bytes)) {}
  qpdf_offset_t size() const { return static_cast<qpdf_offset_t>(bytes_->size()); }

  std::string name_;
  std::unique_ptr<DocumentBytes> bytes_;
  qpdf_offset_t position_ = 0;
};

}  // namespace vhost
