// The certificate stores' files, for the stores and the chain engine.
#pragma once

#include <string>
#include <vector>

namespace platform {

// The certificates of a DER PKCS#7 certs-only bundle, one DER certificate or
// PEM certificates, as DER; `recognised` is false when the bytes are none of them.
std::vector<std::vector<unsigned char>> parseCertificates(const std::vector<unsigned char>& bytes, bool& recognised);
// The file of a system store ("Root", "CA", ...) of the current user or the machine.
std::string systemStoreFile(bool machine, const std::string& name);
// The certificates of a store file; none when it is missing.
std::vector<std::vector<unsigned char>> readStoreFile(const std::string& path);

}  // namespace platform
