// What the demo programs share: the sample document and OpenSSL's verdict on a signature.
#pragma once

#include <string>

namespace demokit {

// A one-page PDF with a line of text, its cross-reference table at the right offsets.
std::string samplePdf();

// OpenSSL's verdict on a PKCS#1 v1.5 SHA-256 signature over data with the key of the
// DER certificate; subject receives the certificate's subject in one line.
bool verifySha256Signature(const std::string& certificateDer, const std::string& data, const std::string& signature,
                           std::string& subject);

// The SHA-256 of data by OpenSSL, in lower-case hex.
std::string sha256Hex(const std::string& data);

// The first max bytes in hex, "..." when there are more.
std::string hexPrefix(const std::string& bytes, std::size_t max);

}  // namespace demokit
