// pkcs7-check: checks a detached PKCS#7 (DER) over a file's bytes with the checking
// library, reading the file in blocks that are digested as they arrive, as the viewer's
// signed ranges are. Prints the result code; exits 0 when the signature is valid.
//
//   pkcs7-check VALUE DATA
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "certcheck/ReaderUtils.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: pkcs7-check VALUE DATA\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  const std::vector<unsigned char> value((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const int fd = open(argv[2], O_RDONLY | O_CLOEXEC);
  if (value.empty() || fd < 0) {
    std::fprintf(stderr, "pkcs7-check: cannot read %s\n", value.empty() ? argv[1] : argv[2]);
    return 2;
  }
  posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  SignedDataCheck check = SignedDataCheck::pkcs7(value.data(), static_cast<unsigned int>(value.size()));
  std::vector<unsigned char> block(128 * 1024);
  for (;;) {
    const ssize_t got = read(fd, block.data(), block.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      std::perror("pkcs7-check");
      return 2;
    }
    if (got == 0) break;
    check.update(block.data(), static_cast<size_t>(got));
  }
  close(fd);
  bool qualified = false;
  const DWORD code = check.finish(&qualified, nullptr);
  std::printf("0x%08x\n", static_cast<unsigned>(code));
  return code == 0 ? 0 : 1;
}
