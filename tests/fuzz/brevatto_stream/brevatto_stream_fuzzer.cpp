// Any bytes as the stream a container hands the control to load: a state is taken whole
// and gives back exactly the bytes it was read from, or it is refused with the stream's
// pointer where it was.
#include <cstdint>
#include <cstring>

#include <objbase.h>

#include "PersistedState.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
  if (!block) return 0;
  if (size > 0) std::memcpy(GlobalLock(block), data, size);
  GlobalUnlock(block);
  IStream* stream = nullptr;
  if (FAILED(CreateStreamOnHGlobal(block, TRUE, &stream))) {
    GlobalFree(block);
    return 0;
  }
  brevatto::PersistedState state;
  const HRESULT hr = brevatto::readState(stream, &state);
  ULARGE_INTEGER at{};
  LARGE_INTEGER none{};
  stream->Seek(none, STREAM_SEEK_CUR, &at);
  if (FAILED(hr)) {
    if (at.QuadPart != 0) __builtin_trap();
  } else {
    const std::vector<BYTE> bytes = brevatto::encodeState(state);
    if (bytes.size() != at.QuadPart || std::memcmp(bytes.data(), data, bytes.size()) != 0) __builtin_trap();
  }
  stream->Release();
  return 0;
}
