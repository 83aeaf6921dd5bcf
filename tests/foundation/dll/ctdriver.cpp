// A small CT-API driver for the module loading tests: one terminal that answers
// RESET CT and counts its calls.
#include <cstring>

namespace {
int g_open = 0;
int g_commands = 0;
}  // namespace

extern "C" {

__attribute__((visibility("default"))) signed char CT_init(unsigned short ctn, unsigned short pn) {
  if (pn != 1) return -1;  // ERR_INVALID: one port only
  (void)ctn;
  ++g_open;
  return 0;
}

__attribute__((visibility("default"))) signed char CT_data(unsigned short ctn, unsigned char* dad, unsigned char* sad,
                                                           unsigned short lenc, unsigned char* command,
                                                           unsigned short* lenr, unsigned char* response) {
  (void)ctn;
  if (g_open == 0 || dad == nullptr || sad == nullptr || lenr == nullptr || *lenr < 2) return -1;
  ++g_commands;
  const bool reset = lenc >= 2 && command[0] == 0x20 && command[1] == 0x11;
  response[0] = reset ? 0x90 : 0x6D;
  response[1] = 0x00;
  *lenr = 2;
  const unsigned char terminal = 1;
  *sad = terminal;
  *dad = 2;  // the host
  return 0;
}

__attribute__((visibility("default"))) signed char CT_close(unsigned short ctn) {
  (void)ctn;
  if (g_open == 0) return -1;
  --g_open;
  return 0;
}

__attribute__((visibility("default"))) int ctdriver_commands() { return g_commands; }
}
