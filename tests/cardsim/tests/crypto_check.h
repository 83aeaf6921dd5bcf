// What a relying party does with a card's output: OpenSSL checks against the
// certificate read from the card.
#pragma once

#include "cardsim/bytes.h"

#include <string>

namespace cardsimtest {

using cardsim::Bytes;

Bytes sha1(const std::string& message);
Bytes sha256(const std::string& message);
// Verifies a PKCS#1 v1.5 signature over `message` (hashed with SHA-1 or SHA-256)
// with the public key of a DER certificate.
bool verifySignature(const Bytes& certificateDer, const std::string& message, const Bytes& signature,
                     const std::string& hash = "SHA256");
// Encrypts for the certificate's key with PKCS#1 v1.5 padding.
Bytes encryptFor(const Bytes& certificateDer, const Bytes& plain);
// The DER certificate of a test key of the card profiles ("second-sig", ...).
Bytes keyCertificate(const std::string& keyName);
// Checks that the certificate was issued by the test CA of the card keys.
bool issuedByTestCa(const Bytes& certificateDer);

}  // namespace cardsimtest
