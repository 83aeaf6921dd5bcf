// Locating and reading a settings archive: a named one in the installation
// directory, or the program's own in the system directory. Every load reads and
// verifies the file again; nothing is cached.
#include "foundation/archive/InstallDir.h"
#include "foundation/archive/SignedArchive.h"

#include "foundation/base/ApplicationIdentity.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};

SignedArchive* loadFromPath(const std::string& path, const std::string& directory, Blob rootKey) {
  struct _stat status;
  if (_stat(path.c_str(), &status) != 0 || (status.st_mode & _S_IFMT) != _S_IFREG) return nullptr;
  if (status.st_size < 0 || static_cast<unsigned long long>(status.st_size) > kMaxArchiveSize) return nullptr;
  const size_t size = static_cast<size_t>(status.st_size);
  unsigned char* buffer = static_cast<unsigned char*>(std::malloc(size + 1));
  if (buffer == nullptr) return nullptr;
  SignedArchive* handle = nullptr;
  struct _stat again;
  // A file that changed size meanwhile is not read.
  if (_stat(path.c_str(), &again) == 0 && again.st_size == status.st_size) {
    FILE* file = nullptr;
    if (fopen_s(&file, path.c_str(), "rb") == 0) {
      const size_t read = std::fread(buffer, 1, size, file);
      std::fclose(file);
      if (read == size) {
        handle = loadSignedArchive(makeBlob(buffer, size), makeBlob(directory.data(), directory.size()),
                                   makeBlob("", 0), rootKey);
      }
    }
  }
  std::free(buffer);
  return handle;
}

}  // namespace

SignedArchive* loadSignedFile(const char* name) {
  unsigned char keyBytes[1024] = {};
  Blob rootKey = makeBlob(keyBytes, sizeof keyBytes);
  if (getArchiveRootKey(&rootKey) != 1) return nullptr;
  try {
    std::string directory;
    std::string path;
    if (name != nullptr) {
      char installDir[512];
      if (readInstallDir(installDir, sizeof installDir) != 1) return nullptr;
      directory = installDir;
      if (directory.empty() || directory.size() > 255) return nullptr;
      path = directory + "\\" + name + ".esw";
      if (path.size() > 511) return nullptr;
    } else {
      char systemDir[128];
      const UINT length = GetSystemDirectoryA(systemDir, sizeof systemDir);
      if (length == 0 || length >= sizeof systemDir) return nullptr;
      directory.assign(systemDir, length);
      const char* settingsFile = applicationIdentity().settingsFileName();
      if (settingsFile == nullptr || *settingsFile == '\0') return nullptr;
      path = directory + "\\" + settingsFile;
      if (path.size() > 255) return nullptr;
    }
    return loadFromPath(path, directory, rootKey);
  } catch (...) {
    return nullptr;
  }
}
