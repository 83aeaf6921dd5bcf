#include "pcsclite_api.h"

#include <dlfcn.h>
#include <stdexcept>
#include <string>

namespace cardsim {

namespace {
template <typename F>
void bind(void* library, const char* name, F& function) {
  function = reinterpret_cast<F>(dlsym(library, name));
  if (!function) throw std::runtime_error(std::string("libpcsclite.so.1 lacks ") + name);
}

PcscLite load() {
  // Never closed: the client library keeps threads and state for the process.
  void* library = dlopen("libpcsclite.so.1", RTLD_NOW | RTLD_LOCAL);
  if (!library) throw std::runtime_error(std::string("cannot load libpcsclite.so.1: ") + dlerror());
  PcscLite api;
  bind(library, "SCardEstablishContext", api.EstablishContext);
  bind(library, "SCardReleaseContext", api.ReleaseContext);
  bind(library, "SCardListReaders", api.ListReaders);
  bind(library, "SCardGetStatusChange", api.GetStatusChange);
  bind(library, "SCardConnect", api.Connect);
  bind(library, "SCardReconnect", api.Reconnect);
  bind(library, "SCardDisconnect", api.Disconnect);
  bind(library, "SCardStatus", api.Status);
  bind(library, "SCardTransmit", api.Transmit);
  bind(library, "SCardControl", api.Control);
  bind(library, "SCardGetAttrib", api.GetAttrib);
  return api;
}
}  // namespace

const PcscLite& pcsclite() {
  static const PcscLite api = load();
  return api;
}

}  // namespace cardsim
