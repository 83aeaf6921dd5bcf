// Any bytes as the body of a hive file, sealed with a correct header so that the
// checksum does not stop the reader early: it refuses or accepts without fault, and
// what it accepts writes back and reads again to the same bytes.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "registry_hive.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace platform::registry;
  const std::vector<uint8_t> file = sealHiveBody(data, size);
  Key root;
  if (!parseHive(file.data(), file.size(), root)) return 0;
  const std::vector<uint8_t> written = serializeHive(root);
  Key again;
  if (!parseHive(written.data(), written.size(), again)) std::abort();
  if (serializeHive(again) != written) std::abort();
  return 0;
}
