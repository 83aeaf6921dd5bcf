// Icon files as ExtractIconExA reads them: the directory, the image bounds and the
// DIB and PNG headers, then the choice of the image for each size.
#include "platform/win_shell.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<platform::IconImageInfo> images = platform::readIconFile(data, size);
  for (const platform::IconImageInfo& image : images) {
    // Every image handed out lies inside the file.
    if (image.offset > size || image.size > size - image.offset) __builtin_trap();
  }
  platform::chooseIconImage(images, 16, 16);
  platform::chooseIconImage(images, 32, 32);
  return 0;
}
