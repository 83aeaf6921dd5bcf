// Reader driver for pcscd (IFD handler API v3). It holds no reader logic: each
// call is relayed to the reader host of the test that owns the simulated
// readers. DEVICENAME in reader.conf is "<socket path>:<reader index>".
#include "cardsim/relay_protocol.h"

#include <cstring>
extern "C" {
#include <ifdhandler.h>
}
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <vector>

namespace {

using cardsim::relay::get32;
using cardsim::relay::put32;

class Channel {
 public:
  Channel(std::string socketPath, std::uint32_t index) : socketPath_(std::move(socketPath)), index_(index) {}
  ~Channel() { disconnect(); }

  // One request and its answer; a broken connection is made again once.
  bool call(std::uint8_t op, std::uint32_t arg1, std::uint32_t arg2, const std::vector<std::uint8_t>& payload,
            RESPONSECODE& rc, std::vector<std::uint8_t>& data) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::uint8_t> request{op};
    put32(request, index_);
    put32(request, arg1);
    put32(request, arg2);
    request.insert(request.end(), payload.begin(), payload.end());
    for (int attempt = 0; attempt < 2; ++attempt) {
      if (fd_ < 0 && !connect()) return false;
      std::vector<std::uint8_t> answer;
      if (cardsim::relay::sendFrame(fd_, request) && cardsim::relay::receiveFrame(fd_, answer) && answer.size() >= 4) {
        rc = static_cast<RESPONSECODE>(get32(answer.data()));
        data.assign(answer.begin() + 4, answer.end());
        return true;
      }
      disconnect();
    }
    return false;
  }

 private:
  bool connect() {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (socketPath_.size() >= sizeof addr.sun_path) return false;
    std::strcpy(addr.sun_path, socketPath_.c_str());
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ >= 0 && ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) return true;
    disconnect();
    return false;
  }
  void disconnect() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  std::string socketPath_;
  std::uint32_t index_;
  int fd_ = -1;
  std::mutex mutex_;
};

std::mutex g_mutex;
std::map<DWORD, std::shared_ptr<Channel>> g_channels;

std::shared_ptr<Channel> channel(DWORD lun) {
  std::lock_guard<std::mutex> lock(g_mutex);
  auto it = g_channels.find(lun >> 16);
  return it == g_channels.end() ? nullptr : it->second;
}

RESPONSECODE relay(DWORD lun, std::uint8_t op, std::uint32_t arg1, std::uint32_t arg2,
                   const std::vector<std::uint8_t>& payload, std::vector<std::uint8_t>& data,
                   RESPONSECODE failure = IFD_COMMUNICATION_ERROR) {
  auto c = channel(lun);
  RESPONSECODE rc = failure;
  if (!c || !c->call(op, arg1, arg2, payload, rc, data)) return failure;
  return rc;
}

// Copies an answer into a caller's buffer of *length bytes.
RESPONSECODE deliver(RESPONSECODE rc, const std::vector<std::uint8_t>& data, PUCHAR out, PDWORD length) {
  if (rc != IFD_SUCCESS) {
    *length = 0;
    return rc;
  }
  if (data.size() > *length) {
    *length = 0;
    return IFD_ERROR_INSUFFICIENT_BUFFER;
  }
  if (!data.empty()) std::memcpy(out, data.data(), data.size());
  *length = static_cast<DWORD>(data.size());
  return IFD_SUCCESS;
}

}  // namespace

extern "C" {
#define QUARVEL_IFD_EXPORT __attribute__((visibility("default")))

QUARVEL_IFD_EXPORT RESPONSECODE IFDHCreateChannelByName(DWORD Lun, LPSTR DeviceName) {
  std::string name = DeviceName ? DeviceName : "";
  auto colon = name.rfind(':');
  if (colon == std::string::npos) return IFD_COMMUNICATION_ERROR;
  std::uint32_t index = static_cast<std::uint32_t>(std::strtoul(name.c_str() + colon + 1, nullptr, 10));
  auto c = std::make_shared<Channel>(name.substr(0, colon), index);
  RESPONSECODE rc = IFD_COMMUNICATION_ERROR;
  std::vector<std::uint8_t> data;
  if (!c->call(cardsim::relay::kHello, 0, 0, {}, rc, data) || rc != IFD_SUCCESS) return IFD_COMMUNICATION_ERROR;
  std::lock_guard<std::mutex> lock(g_mutex);
  g_channels[Lun >> 16] = c;
  return IFD_SUCCESS;
}

QUARVEL_IFD_EXPORT RESPONSECODE IFDHCreateChannel(DWORD, DWORD) { return IFD_COMMUNICATION_ERROR; }

QUARVEL_IFD_EXPORT RESPONSECODE IFDHCloseChannel(DWORD Lun) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_channels.erase(Lun >> 16);
  return IFD_SUCCESS;
}

QUARVEL_IFD_EXPORT RESPONSECODE IFDHGetCapabilities(DWORD Lun, DWORD Tag, PDWORD Length, PUCHAR Value) {
  std::vector<std::uint8_t> data;
  RESPONSECODE rc = relay(Lun, cardsim::relay::kCapability, static_cast<std::uint32_t>(Tag),
                          static_cast<std::uint32_t>(*Length), {}, data, IFD_ERROR_TAG);
  return deliver(rc, data, Value, Length);
}

QUARVEL_IFD_EXPORT RESPONSECODE IFDHSetCapabilities(DWORD, DWORD, DWORD, PUCHAR) { return IFD_NOT_SUPPORTED; }

QUARVEL_IFD_EXPORT RESPONSECODE IFDHSetProtocolParameters(DWORD, DWORD, UCHAR, UCHAR, UCHAR, UCHAR) { return IFD_SUCCESS; }

QUARVEL_IFD_EXPORT RESPONSECODE IFDHPowerICC(DWORD Lun, DWORD Action, PUCHAR Atr, PDWORD AtrLength) {
  std::vector<std::uint8_t> data;
  RESPONSECODE rc = relay(Lun, cardsim::relay::kPower, static_cast<std::uint32_t>(Action), 0, {}, data);
  DWORD capacity = MAX_ATR_SIZE;
  rc = deliver(rc, data, Atr, &capacity);
  *AtrLength = capacity;
  return rc;
}

QUARVEL_IFD_EXPORT RESPONSECODE IFDHTransmitToICC(DWORD Lun, SCARD_IO_HEADER, PUCHAR TxBuffer, DWORD TxLength, PUCHAR RxBuffer,
                               PDWORD RxLength, PSCARD_IO_HEADER) {
  std::vector<std::uint8_t> data;
  RESPONSECODE rc = relay(Lun, cardsim::relay::kTransmit, static_cast<std::uint32_t>(*RxLength), 0,
                          std::vector<std::uint8_t>(TxBuffer, TxBuffer + TxLength), data);
  return deliver(rc, data, RxBuffer, RxLength);
}

QUARVEL_IFD_EXPORT RESPONSECODE IFDHControl(DWORD Lun, DWORD dwControlCode, PUCHAR TxBuffer, DWORD TxLength, PUCHAR RxBuffer,
                         DWORD RxLength, LPDWORD pdwBytesReturned) {
  std::vector<std::uint8_t> data;
  std::vector<std::uint8_t> input;
  if (TxBuffer && TxLength) input.assign(TxBuffer, TxBuffer + TxLength);
  RESPONSECODE rc = relay(Lun, cardsim::relay::kControl, static_cast<std::uint32_t>(dwControlCode),
                          static_cast<std::uint32_t>(RxLength), input, data);
  DWORD length = RxLength;
  rc = deliver(rc, data, RxBuffer, &length);
  if (pdwBytesReturned) *pdwBytesReturned = length;
  return rc;
}

QUARVEL_IFD_EXPORT RESPONSECODE IFDHICCPresence(DWORD Lun) {
  std::vector<std::uint8_t> data;
  return relay(Lun, cardsim::relay::kPresence, 0, 0, {}, data, IFD_ICC_NOT_PRESENT);
}

}  // extern "C"
