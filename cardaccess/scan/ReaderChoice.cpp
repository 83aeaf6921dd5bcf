#include "cardaccess/scan/ReaderChoice.h"

#include <cstring>

namespace {

// A value read from the registry may fill its whole buffer; the field keeps what fits.
template <size_t N>
void copyBounded(char (&field)[N], const char* text) {
  const size_t length = text ? strnlen(text, N - 1) : 0;
  if (length) std::memcpy(field, text, length);
  field[length] = '\0';
}

}  // namespace

ReaderChoice::ReaderChoice(const char* readerName, const char* port, const char* ctapiName, unsigned char secure,
                           unsigned char useGUI)
    : isSecure(secure), UseGUI(useGUI) {
  copyBounded(ReaderName, readerName);
  copyBounded(Port, port);
  copyBounded(ctapi, ctapiName);
}
