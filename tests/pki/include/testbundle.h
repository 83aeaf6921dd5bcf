// Certificate bundles and crafted certificates for the tests of importing
// downloaded bundles: certificates the kit's tools cannot make (names that render
// alike but differ in their encoding, broken signatures), made with OpenSSL's API
// from the kit's keys.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "testpki.h"

namespace testpki {

struct NameEntry {
  std::string field;         // "C", "O", "OU", "CN", ...
  std::string value;
  bool printable = false;    // PrintableString instead of UTF8String
};

// One certificate: the public half of `subjectKey` under the subject name, signed
// with `issuerKey` (PEM private key files, e.g. kit.path("root.key")) under the issuer name.
struct CertificatePlan {
  std::vector<NameEntry> subject;
  std::vector<NameEntry> issuer;
  std::string subjectKey;
  std::string issuerKey;
  long serial = 100;
  bool ca = true;  // basicConstraints critical,CA:TRUE
  // More extensions, each a name and a value as an openssl configuration writes
  // them: {"keyUsage", "critical,nonRepudiation"}, {"extendedKeyUsage",
  // "serverAuth"}, {"basicConstraints", "CA:FALSE"} (with ca false),
  // {"1.3.6.1.4.1.55555.1", "critical,DER:05:00"}, ...
  std::vector<std::pair<std::string, std::string>> extensions = {};
  // An X.509 version 1 certificate, which has no extensions: ca false, none above.
  bool version1 = false;
};

// A name laid out as the kit's subjects are: C (PrintableString), O "Quarvel Test", CN.
std::vector<NameEntry> kitName(const std::string& commonName);

Bytes makeCertificate(const CertificatePlan& plan);
// The same certificate with one bit of its signature flipped.
Bytes withBrokenSignature(Bytes certificate);
// A PKCS#7 certs-only bundle (DER) of the certificates, in this order.
Bytes certsOnlyBundle(const std::vector<Bytes>& certificates);
// A DER bundle as PEM ("-----BEGIN PKCS7-----").
Bytes pemBundle(const Bytes& bundle);

}  // namespace testpki
