// Certificate stores: a file read into memory, and the current user's and the
// machine's system stores ("Root", "CA", ...), each one DER PKCS#7 certs-only
// file under <machine root>/crypt/<user|machine>/<name>.p7b. An add to a system
// store re-reads the file under its lock and replaces it atomically, so several
// processes (the viewer's plug-in, the installer) share one store.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include "crypt_stores.h"
#include "platform/machine.h"
#include "platform/win_text.h"
#include "platform/win_threads.h"
#include "wincrypt.h"

namespace {

using Bytes = std::vector<unsigned char>;

struct Store {
  std::vector<PCCERT_CONTEXT> certificates;
  std::string file;  // the system store's file; empty for a store in memory only
  ~Store() {
    for (PCCERT_CONTEXT c : certificates) CertFreeCertificateContext(c);
  }
};

std::mutex storesLock;
std::set<Store*> stores;

Store* live(HCERTSTORE handle) {
  std::lock_guard<std::mutex> lock(storesLock);
  return stores.count(static_cast<Store*>(handle)) ? static_cast<Store*>(handle) : nullptr;
}

bool readAll(const std::string& path, Bytes& out) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  unsigned char buffer[8192];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) out.insert(out.end(), buffer, buffer + n);
  std::fclose(f);
  return true;
}

Bytes der(X509* x) {
  Bytes out;
  const int length = i2d_X509(x, nullptr);
  if (length > 0) {
    out.resize(static_cast<size_t>(length));
    unsigned char* p = out.data();
    i2d_X509(x, &p);
  }
  return out;
}

}  // namespace

namespace platform {

namespace {

// The certificates of a DER PKCS#7; false when the bytes are none.
bool pkcs7Certificates(const unsigned char* data, long length, std::vector<Bytes>& found) {
  const unsigned char* p = data;
  PKCS7* p7 = d2i_PKCS7(nullptr, &p, length);
  if (!p7) return false;
  STACK_OF(X509)* certs = PKCS7_type_is_signed(p7) && p7->d.sign ? p7->d.sign->cert : nullptr;
  for (int i = 0; i < sk_X509_num(certs); ++i) found.push_back(der(sk_X509_value(certs, i)));
  PKCS7_free(p7);
  return true;
}

bool certificate(const unsigned char* data, long length, std::vector<Bytes>& found) {
  const unsigned char* p = data;
  X509* x = d2i_X509(nullptr, &p, length);
  if (!x) return false;
  found.push_back(der(x));
  X509_free(x);
  return true;
}

}  // namespace

std::vector<Bytes> parseCertificates(const Bytes& bytes, bool& recognised) {
  std::vector<Bytes> found;
  recognised = false;
  if (bytes.empty() || bytes.size() > static_cast<size_t>(INT32_MAX)) return found;
  const long size = static_cast<long>(bytes.size());
  if (pkcs7Certificates(bytes.data(), size, found) || certificate(bytes.data(), size, found)) {
    recognised = true;
    return found;
  }
  // PEM: PKCS#7 blocks and certificate blocks, in the file's order; other blocks are skipped.
  std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_mem_buf(bytes.data(), static_cast<int>(size)), BIO_free);
  char* name = nullptr;
  char* header = nullptr;
  unsigned char* data = nullptr;
  long length = 0;
  while (bio && PEM_read_bio(bio.get(), &name, &header, &data, &length) == 1) {
    const std::string kind = name;
    if (kind == PEM_STRING_PKCS7)
      recognised = pkcs7Certificates(data, length, found) || recognised;
    else if (kind == PEM_STRING_X509 || kind == PEM_STRING_X509_OLD)
      recognised = certificate(data, length, found) || recognised;
    OPENSSL_free(name);
    OPENSSL_free(header);
    OPENSSL_free(data);
  }
  ERR_clear_error();
  return found;
}

std::string systemStoreFile(bool machine, const std::string& name) {
  std::string lower;
  for (char c : name)
    if (std::isalnum(static_cast<unsigned char>(c))) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const std::string folder = machineRoot() + "/crypt/" + (machine ? "machine" : "user");
  makeDirectories(folder);
  return folder + "/" + lower + ".p7b";
}

std::vector<Bytes> readStoreFile(const std::string& path) {
  Bytes bytes;
  bool recognised = false;
  if (!readAll(path, bytes)) return {};
  return parseCertificates(bytes, recognised);
}

}  // namespace platform

namespace {

bool writeStoreFile(const std::string& path, const std::vector<Bytes>& certificates) {
  std::unique_ptr<PKCS7, decltype(&PKCS7_free)> p7(PKCS7_new(), PKCS7_free);
  if (!p7 || !PKCS7_set_type(p7.get(), NID_pkcs7_signed) || !PKCS7_content_new(p7.get(), NID_pkcs7_data)) return false;
  for (const Bytes& c : certificates) {
    const unsigned char* p = c.data();
    std::unique_ptr<X509, decltype(&X509_free)> x(d2i_X509(nullptr, &p, static_cast<long>(c.size())), X509_free);
    if (!x || !PKCS7_add_certificate(p7.get(), x.get())) return false;
  }
  unsigned char* out = nullptr;
  const int length = i2d_PKCS7(p7.get(), &out);
  if (length <= 0) return false;
  const std::string temporary = path + ".new";
  FILE* f = std::fopen(temporary.c_str(), "wb");
  bool ok = f && std::fwrite(out, 1, static_cast<size_t>(length), f) == static_cast<size_t>(length);
  if (f) ok = std::fclose(f) == 0 && ok;
  OPENSSL_free(out);
  return ok && std::rename(temporary.c_str(), path.c_str()) == 0;
}

// Holds the store file's lock (a file beside it) while it lives.
class FileLock {
 public:
  explicit FileLock(const std::string& path) : fd_(::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
    if (fd_ >= 0) ::flock(fd_, LOCK_EX);
  }
  ~FileLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

 private:
  int fd_;
};

void thumbprint(const BYTE* data, DWORD length, unsigned char out[20]) {
  unsigned int size = 0;
  EVP_Digest(data, length, out, &size, EVP_sha1(), nullptr);
}

bool sameThumbprint(PCCERT_CONTEXT a, const BYTE* data, DWORD length) {
  unsigned char x[20], y[20];
  thumbprint(a->pbCertEncoded, a->cbCertEncoded, x);
  thumbprint(data, length, y);
  return std::memcmp(x, y, sizeof x) == 0;
}

HCERTSTORE openStore(std::vector<Bytes> certificates, std::string file) {
  auto store = std::make_unique<Store>();
  store->file = std::move(file);
  for (const Bytes& c : certificates)
    if (PCCERT_CONTEXT context = CertCreateCertificateContext(X509_ASN_ENCODING, c.data(), static_cast<DWORD>(c.size())))
      store->certificates.push_back(context);
  std::lock_guard<std::mutex> lock(storesLock);
  stores.insert(store.get());
  return store.release();
}

std::string utf8(LPCWSTR wide) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return "";
  std::string text(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, -1, text.data(), size, nullptr, nullptr);
  text.resize(static_cast<size_t>(size - 1));
  return text;
}

HCERTSTORE failStore(HRESULT error) {
  SetLastError(static_cast<DWORD>(error));
  return nullptr;
}

// The name's RDNs as "CN=a, O=b" (with keys) or "a, b" (values only), most
// specific first, as CryptoAPI renders them.
std::string nameText(const CERT_NAME_BLOB& blob, bool withKeys, bool displayOnly) {
  const unsigned char* p = blob.pbData;
  std::unique_ptr<X509_NAME, decltype(&X509_NAME_free)> name(d2i_X509_NAME(nullptr, &p, blob.cbData), X509_NAME_free);
  if (!name) return "";
  std::vector<std::string> parts;
  std::string commonName, first;
  for (int i = X509_NAME_entry_count(name.get()) - 1; i >= 0; --i) {
    const X509_NAME_ENTRY* entry = X509_NAME_get_entry(name.get(), i);
    unsigned char* utf8 = nullptr;
    const int length = ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(entry));
    const std::string value = length > 0 ? std::string(reinterpret_cast<char*>(utf8), static_cast<size_t>(length)) : "";
    OPENSSL_free(utf8);
    const int nid = OBJ_obj2nid(X509_NAME_ENTRY_get_object(entry));
    if (nid == NID_commonName && commonName.empty()) commonName = value;
    if (first.empty()) first = value;
    const char* key = OBJ_nid2sn(nid);
    parts.push_back(withKeys && nid != NID_undef ? std::string(key) + "=" + value : value);
  }
  if (displayOnly) return commonName.empty() ? first : commonName;
  std::string text;
  for (const std::string& part : parts) text += (text.empty() ? "" : ", ") + part;
  return text;
}

}  // namespace

extern "C" {

HCERTSTORE WINAPI CertOpenStore(LPCSTR lpszStoreProvider, DWORD /*dwEncodingType*/, HCRYPTPROV /*hCryptProv*/,
                                DWORD dwFlags, const void* pvPara) {
  if ((lpszStoreProvider == CERT_STORE_PROV_FILENAME_A || lpszStoreProvider == CERT_STORE_PROV_FILENAME_W) && pvPara) {
    const std::string name = lpszStoreProvider == CERT_STORE_PROV_FILENAME_W ? utf8(static_cast<LPCWSTR>(pvPara))
                                                                             : static_cast<const char*>(pvPara);
    const std::string path = platform::mapPath(name.c_str());
    Bytes bytes;
    bool recognised = false;
    if (path.empty() || !readAll(path, bytes)) return failStore(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    std::vector<Bytes> certificates = platform::parseCertificates(bytes, recognised);
    if (!recognised) return failStore(CRYPT_E_FILE_ERROR);
    return openStore(std::move(certificates), "");
  }
  if (lpszStoreProvider == CERT_STORE_PROV_SYSTEM_A && pvPara) {
    const bool machine = (dwFlags & CERT_SYSTEM_STORE_LOCAL_MACHINE) != 0;
    const std::string file = platform::systemStoreFile(machine, static_cast<const char*>(pvPara));
    FileLock lock(file);
    return openStore(platform::readStoreFile(file), file);
  }
  return failStore(E_INVALIDARG);
}

HCERTSTORE WINAPI CertOpenSystemStoreA(HCRYPTPROV hProv, LPCSTR szSubsystemProtocol) {
  return CertOpenStore(CERT_STORE_PROV_SYSTEM_A, X509_ASN_ENCODING, hProv, CERT_SYSTEM_STORE_CURRENT_USER,
                       szSubsystemProtocol);
}

BOOL WINAPI CertCloseStore(HCERTSTORE hCertStore, DWORD /*dwFlags*/) {
  if (!hCertStore) return TRUE;
  std::unique_ptr<Store> store;
  {
    std::lock_guard<std::mutex> lock(storesLock);
    if (!stores.erase(static_cast<Store*>(hCertStore))) {
      SetLastError(static_cast<DWORD>(E_INVALIDARG));
      return FALSE;
    }
    store.reset(static_cast<Store*>(hCertStore));
  }
  return TRUE;
}

PCCERT_CONTEXT WINAPI CertEnumCertificatesInStore(HCERTSTORE hCertStore, PCCERT_CONTEXT pPrevCertContext) {
  Store* store = live(hCertStore);
  if (!store) {
    SetLastError(static_cast<DWORD>(E_INVALIDARG));
    return nullptr;
  }
  size_t next = 0;
  if (pPrevCertContext) {
    auto it = std::find(store->certificates.begin(), store->certificates.end(), pPrevCertContext);
    next = it == store->certificates.end() ? store->certificates.size() : static_cast<size_t>(it - store->certificates.begin()) + 1;
    CertFreeCertificateContext(pPrevCertContext);
  }
  if (next >= store->certificates.size()) {
    SetLastError(static_cast<DWORD>(CRYPT_E_NOT_FOUND));
    return nullptr;
  }
  return CertDuplicateCertificateContext(store->certificates[next]);
}

BOOL WINAPI CertAddCertificateContextToStore(HCERTSTORE hCertStore, PCCERT_CONTEXT pCertContext, DWORD dwAddDisposition,
                                             PCCERT_CONTEXT* ppStoreContext) {
  if (ppStoreContext) *ppStoreContext = nullptr;
  Store* store = live(hCertStore);
  if (!store || !pCertContext || !pCertContext->pbCertEncoded) {
    SetLastError(static_cast<DWORD>(E_INVALIDARG));
    return FALSE;
  }
  std::unique_ptr<FileLock> lock;
  if (!store->file.empty()) {
    // Another process may have added since this store was opened.
    lock = std::make_unique<FileLock>(store->file);
    for (PCCERT_CONTEXT c : store->certificates) CertFreeCertificateContext(c);
    store->certificates.clear();
    for (const Bytes& c : platform::readStoreFile(store->file))
      if (PCCERT_CONTEXT context = CertCreateCertificateContext(X509_ASN_ENCODING, c.data(), static_cast<DWORD>(c.size())))
        store->certificates.push_back(context);
  }
  auto existing = std::find_if(store->certificates.begin(), store->certificates.end(), [&](PCCERT_CONTEXT c) {
    return sameThumbprint(c, pCertContext->pbCertEncoded, pCertContext->cbCertEncoded);
  });
  if (existing != store->certificates.end()) {
    if (dwAddDisposition == CERT_STORE_ADD_NEW) {
      SetLastError(static_cast<DWORD>(CRYPT_E_EXISTS));
      return FALSE;
    }
    if (dwAddDisposition == CERT_STORE_ADD_USE_EXISTING || dwAddDisposition == CERT_STORE_ADD_REPLACE_EXISTING) {
      if (ppStoreContext) *ppStoreContext = CertDuplicateCertificateContext(*existing);
      return TRUE;
    }
  }
  PCCERT_CONTEXT copy = CertCreateCertificateContext(X509_ASN_ENCODING, pCertContext->pbCertEncoded,
                                                     pCertContext->cbCertEncoded);
  if (!copy) return FALSE;
  store->certificates.push_back(copy);
  if (!store->file.empty()) {
    std::vector<Bytes> all;
    for (PCCERT_CONTEXT c : store->certificates) all.emplace_back(c->pbCertEncoded, c->pbCertEncoded + c->cbCertEncoded);
    if (!writeStoreFile(store->file, all)) {
      store->certificates.pop_back();
      CertFreeCertificateContext(copy);
      SetLastError(static_cast<DWORD>(HRESULT_FROM_WIN32(ERROR_WRITE_FAULT)));
      return FALSE;
    }
  }
  if (ppStoreContext) *ppStoreContext = CertDuplicateCertificateContext(copy);
  return TRUE;
}

DWORD WINAPI CertGetNameStringA(PCCERT_CONTEXT pCertContext, DWORD dwType, DWORD dwFlags, void* pvTypePara,
                                LPSTR pszNameString, DWORD cchNameString) {
  std::string text;
  if (pCertContext && pCertContext->pCertInfo) {
    const CERT_NAME_BLOB& name =
        (dwFlags & CERT_NAME_ISSUER_FLAG) ? pCertContext->pCertInfo->Issuer : pCertContext->pCertInfo->Subject;
    const DWORD style = pvTypePara ? *static_cast<const DWORD*>(pvTypePara) : CERT_SIMPLE_NAME_STR;
    if (dwType == CERT_NAME_RDN_TYPE)
      text = nameText(name, (style & 0xFF) == CERT_X500_NAME_STR, false);
    else
      text = nameText(name, false, true);
  }
  if (!pszNameString || cchNameString == 0) return static_cast<DWORD>(text.size() + 1);
  const size_t n = std::min<size_t>(text.size(), cchNameString - 1);
  std::memcpy(pszNameString, text.data(), n);
  pszNameString[n] = 0;
  return static_cast<DWORD>(n + 1);
}

}  // extern "C"
