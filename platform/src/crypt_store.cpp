// Certificate stores: a file read into memory, and the current user's and the
// machine's system stores ("Root", "CA", ...), each one DER PKCS#7 certs-only
// file under <machine root>/crypt/<user|machine>/<name>.p7b. An add to a system
// store takes the file's lock, reads the file again when another handle or
// process changed it since this handle last did, and replaces it atomically, so
// several processes (the viewer's plug-in, the installer) share one store. A
// handle keeps its certificates' thumbprints and writes the file from their DER
// as it is, so an add costs a write of the file, not a decoding of every
// certificate in it.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
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

// What tells a store file apart from the one a handle read or wrote: the files
// are replaced, never changed in place, and a store only grows.
struct FileState {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = -1;
  struct timespec modified = {}, changed = {};
  bool operator==(const FileState& o) const {
    return device == o.device && inode == o.inode && size == o.size && modified.tv_sec == o.modified.tv_sec &&
           modified.tv_nsec == o.modified.tv_nsec && changed.tv_sec == o.changed.tv_sec &&
           changed.tv_nsec == o.changed.tv_nsec;
  }
};

FileState stateOf(const std::string& path) {
  FileState state;
  struct stat info = {};
  if (::stat(path.c_str(), &info) != 0) return state;  // missing: size -1
  state.device = info.st_dev;
  state.inode = info.st_ino;
  state.size = info.st_size;
  state.modified = info.st_mtim;
  state.changed = info.st_ctim;
  return state;
}

struct Store {
  std::vector<PCCERT_CONTEXT> certificates;
  std::vector<std::string> thumbprints;  // SHA-1 of each certificate, in the same order
  std::string file;                      // the system store's file; empty for a store in memory only
  FileState synced;                      // the file as this handle last read or wrote it
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

// A DER tag and length for content of that many bytes.
Bytes header(unsigned char tag, size_t length) {
  Bytes out{tag};
  if (length < 0x80) {
    out.push_back(static_cast<unsigned char>(length));
    return out;
  }
  unsigned char digits[sizeof(size_t)];
  int count = 0;
  for (size_t n = length; n > 0; n >>= 8) digits[count++] = static_cast<unsigned char>(n & 0xFF);
  out.push_back(static_cast<unsigned char>(0x80 | count));
  while (count > 0) out.push_back(digits[--count]);
  return out;
}

// Writes the certs-only PKCS#7 of the certificates as OpenSSL encodes one (version
// 1, no digest algorithms, data content of no octets, the certificates in their
// order, no signer) straight from their DER: a store of any size is written in
// one pass over its bytes, without decoding or copying them.
bool writeBundle(FILE* f, const std::vector<PCCERT_CONTEXT>& certificates) {
  static const Bytes signedDataOid = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x02};
  static const Bytes versionAndDigests = {0x02, 0x01, 0x01, 0x31, 0x00};
  static const Bytes dataContent = {0x30, 0x0F, 0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7,
                                    0x0D, 0x01, 0x07, 0x01, 0xA0, 0x02, 0x04, 0x00};
  static const Bytes noSigners = {0x31, 0x00};
  size_t all = 0;
  for (PCCERT_CONTEXT c : certificates) all += c->cbCertEncoded;
  const Bytes certsHeader = certificates.empty() ? Bytes() : header(0xA0, all);
  const size_t signedData = versionAndDigests.size() + dataContent.size() + certsHeader.size() + all + noSigners.size();
  const Bytes sequence = header(0x30, signedData);
  const Bytes explicitContent = header(0xA0, sequence.size() + signedData);
  const Bytes outer = header(0x30, signedDataOid.size() + explicitContent.size() + sequence.size() + signedData);
  auto put = [f](const void* data, size_t size) { return std::fwrite(data, 1, size, f) == size; };
  bool ok = true;
  for (const Bytes* part : {&outer, &signedDataOid, &explicitContent, &sequence, &versionAndDigests, &dataContent,
                            &certsHeader})
    ok = ok && put(part->data(), part->size());
  for (PCCERT_CONTEXT c : certificates) ok = ok && put(c->pbCertEncoded, c->cbCertEncoded);
  return ok && put(noSigners.data(), noSigners.size());
}

bool writeStoreFile(const std::string& path, const std::vector<PCCERT_CONTEXT>& certificates) {
  const std::string temporary = path + ".new";
  // The user's own: no other account reads what this user trusts.
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  FILE* f = ::fdopen(fd, "wb");
  if (!f) {
    ::close(fd);
    return false;
  }
  const bool written = writeBundle(f, certificates);
  const bool closed = std::fclose(f) == 0;
  return written && closed && std::rename(temporary.c_str(), path.c_str()) == 0;
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

std::string thumbprintOf(const BYTE* data, DWORD length) {
  unsigned char digest[20];
  thumbprint(data, length, digest);
  return std::string(reinterpret_cast<char*>(digest), sizeof digest);
}

// Fills the store with the certificates (those that decode) and their thumbprints.
void fill(Store& store, const std::vector<Bytes>& certificates) {
  for (PCCERT_CONTEXT c : store.certificates) CertFreeCertificateContext(c);
  store.certificates.clear();
  store.thumbprints.clear();
  for (const Bytes& c : certificates) {
    if (PCCERT_CONTEXT context = CertCreateCertificateContext(X509_ASN_ENCODING, c.data(), static_cast<DWORD>(c.size()))) {
      store.certificates.push_back(context);
      store.thumbprints.push_back(thumbprintOf(c.data(), static_cast<DWORD>(c.size())));
    }
  }
}

// The store of the certificates; a system store's file is read under its lock.
HCERTSTORE openStore(std::vector<Bytes> certificates, std::string file, FileState synced = FileState()) {
  auto store = std::make_unique<Store>();
  store->file = std::move(file);
  store->synced = synced;
  fill(*store, certificates);
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
    const FileState state = stateOf(file);
    return openStore(platform::readStoreFile(file), file, state);
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
    // Another handle or process may have added since this one last read or wrote the file.
    lock = std::make_unique<FileLock>(store->file);
    const FileState state = stateOf(store->file);
    if (!(state == store->synced)) {
      fill(*store, platform::readStoreFile(store->file));
      store->synced = state;
    }
  }
  const std::string wanted = thumbprintOf(pCertContext->pbCertEncoded, pCertContext->cbCertEncoded);
  auto existing = std::find(store->thumbprints.begin(), store->thumbprints.end(), wanted);
  if (existing != store->thumbprints.end()) {
    if (dwAddDisposition == CERT_STORE_ADD_NEW) {
      SetLastError(static_cast<DWORD>(CRYPT_E_EXISTS));
      return FALSE;
    }
    if (dwAddDisposition == CERT_STORE_ADD_USE_EXISTING || dwAddDisposition == CERT_STORE_ADD_REPLACE_EXISTING) {
      const PCCERT_CONTEXT found = store->certificates[static_cast<size_t>(existing - store->thumbprints.begin())];
      if (ppStoreContext) *ppStoreContext = CertDuplicateCertificateContext(found);
      return TRUE;
    }
  }
  PCCERT_CONTEXT copy = CertCreateCertificateContext(X509_ASN_ENCODING, pCertContext->pbCertEncoded,
                                                     pCertContext->cbCertEncoded);
  if (!copy) return FALSE;
  store->certificates.push_back(copy);
  store->thumbprints.push_back(wanted);
  if (!store->file.empty()) {
    if (!writeStoreFile(store->file, store->certificates)) {
      store->certificates.pop_back();
      store->thumbprints.pop_back();
      CertFreeCertificateContext(copy);
      SetLastError(static_cast<DWORD>(HRESULT_FROM_WIN32(ERROR_WRITE_FAULT)));
      return FALSE;
    }
    store->synced = stateOf(store->file);
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
