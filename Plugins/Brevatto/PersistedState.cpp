// The control's stream format: written whole in one piece, read piece by piece from
// whatever the container hands over, which may be any bytes.
#include "PersistedState.h"

namespace brevatto {

namespace {

constexpr DWORD kFormatVersion = 0x00010000;
// A text is read in pieces of this size, so that what a damaged byte count claims is
// never allocated before the bytes are there.
constexpr ULONG kPiece = 64 * 1024;

void put16(std::vector<BYTE>& out, uint16_t value) {
  out.push_back(static_cast<BYTE>(value));
  out.push_back(static_cast<BYTE>(value >> 8));
}

void put32(std::vector<BYTE>& out, uint32_t value) {
  put16(out, static_cast<uint16_t>(value));
  put16(out, static_cast<uint16_t>(value >> 16));
}

uint32_t get32(const BYTE* bytes) {
  return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
         static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

// Exactly `size` bytes, or STG_E_READFAULT where the stream ends first.
HRESULT readExact(IStream* stream, void* into, ULONG size) {
  auto* bytes = static_cast<BYTE*>(into);
  while (size > 0) {
    ULONG got = 0;
    const HRESULT hr = stream->Read(bytes, size, &got);
    if (FAILED(hr)) return hr;
    if (got == 0) return STG_E_READFAULT;
    if (got > size) return STG_E_READFAULT;  // a stream that claims more than it was asked for
    bytes += got;
    size -= got;
  }
  return S_OK;
}

HRESULT readText(IStream* stream, std::optional<std::u16string>* text) {
  BYTE type[2];
  HRESULT hr = readExact(stream, type, sizeof type);
  if (FAILED(hr)) return hr;
  const VARTYPE vt = static_cast<VARTYPE>(type[0] | type[1] << 8);
  if (vt == VT_EMPTY) {
    text->reset();
    return S_OK;
  }
  if (vt != VT_BSTR) return STG_E_DOCFILECORRUPT;
  BYTE count[4];
  hr = readExact(stream, count, sizeof count);
  if (FAILED(hr)) return hr;
  ULONG left = get32(count);
  if (left % 2 != 0) return STG_E_DOCFILECORRUPT;
  std::u16string value;
  std::vector<BYTE> piece;
  while (left > 0) {
    const ULONG size = left < kPiece ? left : kPiece;
    piece.resize(size);
    hr = readExact(stream, piece.data(), size);
    if (FAILED(hr)) return hr;
    for (ULONG i = 0; i < size; i += 2) value.push_back(static_cast<char16_t>(piece[i] | piece[i + 1] << 8));
    left -= size;
  }
  *text = std::move(value);
  return S_OK;
}

HRESULT readAll(IStream* stream, PersistedState* state) {
  BYTE header[12];
  HRESULT hr = readExact(stream, header, sizeof header);
  if (FAILED(hr)) return hr;
  if (get32(header) != kFormatVersion) return STG_E_INVALIDHEADER;
  state->extent.cx = static_cast<LONG>(get32(header + 4));
  state->extent.cy = static_cast<LONG>(get32(header + 8));
  for (auto& text : state->texts) {
    hr = readText(stream, &text);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

}  // namespace

std::vector<BYTE> encodeState(const PersistedState& state) {
  std::vector<BYTE> out;
  put32(out, kFormatVersion);
  put32(out, static_cast<uint32_t>(state.extent.cx));
  put32(out, static_cast<uint32_t>(state.extent.cy));
  for (const auto& text : state.texts) {
    if (!text) {
      put16(out, VT_EMPTY);
      continue;
    }
    put16(out, VT_BSTR);
    put32(out, static_cast<uint32_t>(text->size() * 2));
    for (const char16_t c : *text) put16(out, c);
  }
  return out;
}

HRESULT readState(IStream* stream, PersistedState* state) {
  if (!stream || !state) return E_POINTER;
  ULARGE_INTEGER start{};
  LARGE_INTEGER none{};
  const bool canReturn = SUCCEEDED(stream->Seek(none, STREAM_SEEK_CUR, &start));
  PersistedState read;
  const HRESULT hr = readAll(stream, &read);
  if (FAILED(hr)) {
    if (canReturn) {
      LARGE_INTEGER back;
      back.QuadPart = static_cast<LONGLONG>(start.QuadPart);
      stream->Seek(back, STREAM_SEEK_SET, nullptr);
    }
    return hr;
  }
  *state = std::move(read);
  return S_OK;
}

}  // namespace brevatto
