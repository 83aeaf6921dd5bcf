#include "testpki.h"

#include <openssl/bn.h>
#include <openssl/x509.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace testpki {

std::string serialHex(const Bytes& der) {
  const unsigned char* p = der.data();
  X509* x = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
  if (x == nullptr) throw std::runtime_error("not a DER certificate");
  BIGNUM* bn = ASN1_INTEGER_to_BN(X509_get_serialNumber(x), nullptr);
  char* hex = BN_bn2hex(bn);
  std::string s(hex);
  OPENSSL_free(hex);
  BN_free(bn);
  X509_free(x);
  return s;
}

Bytes readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

void runMakePki(const std::vector<std::string>& args) {
  std::vector<std::string> all{TESTPKI_SCRIPT};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, TESTPKI_SCRIPT, nullptr, nullptr, argv.data(), environ) != 0) {
    throw std::runtime_error("cannot start make-pki");
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::string line;
    for (const std::string& a : args) line += " " + a;
    throw std::runtime_error("make-pki failed:" + line);
  }
}

const Kit& Kit::standard() {
  static const Kit kit = [] {
    runMakePki({"make", TESTPKI_DIR});
    return Kit(TESTPKI_DIR);
  }();
  return kit;
}

Kit Kit::make(const std::string& dir, int ocspPort, int httpPort, int ocspTlsPort) {
  runMakePki({"make", dir, "--ocsp-port", std::to_string(ocspPort), "--http-port", std::to_string(httpPort),
              "--ocsp-tls-port", std::to_string(ocspTlsPort), "--keys", standard().dir()});
  return Kit(dir);
}

Bytes Kit::sign(const std::string& form, const std::string& signer, const Bytes& data,
                const std::vector<std::string>& options) const {
  ::mkdir(path("tmp").c_str(), 0700);
  std::string work = path("tmp/sign-XXXXXX");
  if (::mkdtemp(work.data()) == nullptr) throw std::runtime_error("cannot make a folder in " + dir_);
  const std::string in = work + "/in", out = work + "/out";
  writeFile(in, data);
  std::vector<std::string> args{"sign", dir_, form, signer, in, out};
  args.insert(args.end(), options.begin(), options.end());
  Bytes value;
  try {
    runMakePki(args);
    value = readFile(out);
  } catch (...) {
    ::unlink(in.c_str());
    ::rmdir(work.c_str());
    throw;
  }
  ::unlink(in.c_str());
  ::unlink(out.c_str());
  ::rmdir(work.c_str());
  return value;
}

void Kit::issue(const std::string& name, const std::string& keyFile, const std::string& commonName) const {
  runMakePki({"issue", dir_, name, keyFile, commonName});
}

}  // namespace testpki
