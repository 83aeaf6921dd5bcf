// The test PKI kit for C++ tests: the certificates, keys and CRLs that
// tests/pki/make-pki makes, and signature values made with OpenSSL's own tools.
// See docs/testbed.md for the names of the files and the signers.
#pragma once

#include <string>
#include <vector>

namespace testpki {

using Bytes = std::vector<unsigned char>;

Bytes readFile(const std::string& path);
void writeFile(const std::string& path, const Bytes& bytes);
// A DER certificate's serial number in upper-case hex, as an OpenSSL CA index names it.
std::string serialHex(const Bytes& der);

class Kit {
 public:
  // The kit of this build with the default ports 18888 (OCSP) and 18080 (HTTP), made
  // by the build; brought up to date here (under a lock, so parallel test processes
  // share one) should it be missing or stale.
  static const Kit& standard();
  // A kit of its own in `dir` whose certificates name these ports; its keys
  // are those of the standard kit, so only the certificates are made (and a kit
  // already in `dir` for the same ports is taken as it is).
  // ocspTlsPort: the port of the https OCSP address of the signer "httpsocsp".
  static Kit make(const std::string& dir, int ocspPort, int httpPort, int ocspTlsPort = 18443);

  const std::string& dir() const { return dir_; }
  // A file of the kit: "rsa2048.der", "int.pem", "root.crl", "ca.cnf", ...
  std::string path(const std::string& file) const { return dir_ + "/" + file; }
  // The DER certificate of an entity ("rsa1024", "p192", "root", ...).
  Bytes certificate(const std::string& name) const { return readFile(path(name + ".der")); }

  // A signature value over data by the signer's key, made by make-pki sign:
  // form "p7-detached", "p7-enveloping", "pkcs1", "ecdsa", "rs" or "raw";
  // options as make-pki takes them ("--md", "sha1", "--noattr", "--also", "p256", ...).
  Bytes sign(const std::string& form, const std::string& signer, const Bytes& data,
             const std::vector<std::string>& options = {}) const;

  // Issues a signer certificate of this kit (make-pki issue) to the key in the PEM file
  // keyFile, one made elsewhere such as a simulated card's; certificate(name) reads it.
  void issue(const std::string& name, const std::string& keyFile, const std::string& commonName) const;

 private:
  explicit Kit(std::string dir) : dir_(std::move(dir)) {}
  std::string dir_;
};

// Runs make-pki with these arguments; throws std::runtime_error when it fails.
void runMakePki(const std::vector<std::string>& args);

}  // namespace testpki
