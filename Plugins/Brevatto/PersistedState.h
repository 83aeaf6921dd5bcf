// The control's state as IPersistStreamInit keeps it: the extent and the texts of the
// property map's persisted entries, in a stream format of the control's own.
#pragma once

#include <windows.h>

#include <objbase.h>
#include <oleidl.h>

#include <optional>
#include <string>
#include <vector>

namespace brevatto {

// The persisted entries of the property map, in its order. The stock HWND entry is
// left out: a window handle means nothing to the next page that loads the control.
constexpr size_t kPersistedTexts = 3;  // xml_request, post_url, timeout

struct PersistedState {
  SIZEL extent{0, 0};  // HIMETRIC
  // An entry the page never gave stays absent, which is not the same as empty.
  std::optional<std::u16string> texts[kPersistedTexts];
};

// Version 1.0 of the format, all numbers little-endian:
//   DWORD 0x00010000, LONG extent.cx, LONG extent.cy,
//   then per entry a VARTYPE: VT_EMPTY (absent), or VT_BSTR followed by a ULONG byte
//   count and that many bytes of UTF-16.
std::vector<BYTE> encodeState(const PersistedState& state);

// Reads one state from the stream's pointer on, leaving the pointer behind it, so that
// a container may keep more after it. On failure the pointer goes back where it was and
// the result says why: STG_E_INVALIDHEADER (not this format or version), STG_E_READFAULT
// (the stream ends inside the state), STG_E_DOCFILECORRUPT (an entry of an unknown type
// or an odd byte count), or the stream's own error.
HRESULT readState(IStream* stream, PersistedState* state);

}  // namespace brevatto
