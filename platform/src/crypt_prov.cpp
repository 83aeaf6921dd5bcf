// The RSA provider of CryptoAPI over OpenSSL: ephemeral contexts, hashes and
// imported public keys, enough to verify PKCS#1 v1.5 signatures.
#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include "platform/win_threads.h"
#include "wincrypt.h"

namespace {

struct Hash {
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context{EVP_MD_CTX_new(), EVP_MD_CTX_free};
  const EVP_MD* md = nullptr;
  bool finished = false;
};

using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;

// One table per kind; handles count up from 1 and are never reused.
template <typename T>
class Table {
 public:
  ULONG_PTR add(std::unique_ptr<T> object) {
    std::lock_guard<std::mutex> lock(mutex_);
    objects_.emplace(++last_, std::move(object));
    return last_;
  }
  // Runs f on the object under the table's lock; false when there is none.
  template <typename F>
  bool with(ULONG_PTR handle, F f) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = objects_.find(handle);
    if (it == objects_.end()) return false;
    f(*it->second);
    return true;
  }
  bool remove(ULONG_PTR handle) {
    std::unique_ptr<T> released;
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = objects_.find(handle);
    if (it == objects_.end()) return false;
    released = std::move(it->second);
    objects_.erase(it);
    return true;
  }

 private:
  std::mutex mutex_;
  std::map<ULONG_PTR, std::unique_ptr<T>> objects_;
  ULONG_PTR last_ = 0;
};

struct Provider {};

Table<Provider>& providers() {
  static Table<Provider> table;
  return table;
}
Table<Hash>& hashes() {
  static Table<Hash> table;
  return table;
}
Table<Key>& keys() {
  static Table<Key> table;
  return table;
}

BOOL fail(HRESULT code) {
  SetLastError(static_cast<DWORD>(code));
  return FALSE;
}

bool knownProvider(HCRYPTPROV hProv) {
  return providers().with(hProv, [](Provider&) {});
}

const EVP_MD* digestOf(ALG_ID id) {
  switch (id) {
    case CALG_MD5: return EVP_md5();
    case CALG_SHA1: return EVP_sha1();
    case CALG_SHA_256: return EVP_sha256();
    default: return nullptr;
  }
}

// The SubjectPublicKeyInfo DER that the fields describe, read back as a key.
EVP_PKEY* keyFromInfo(const CERT_PUBLIC_KEY_INFO* info) {
  if (info->Algorithm.pszObjId == nullptr || info->PublicKey.cbData == 0 || info->PublicKey.pbData == nullptr) {
    return nullptr;
  }
  std::unique_ptr<X509_PUBKEY, decltype(&X509_PUBKEY_free)> spki(X509_PUBKEY_new(), X509_PUBKEY_free);
  ASN1_OBJECT* oid = OBJ_txt2obj(info->Algorithm.pszObjId, 1);
  if (!spki || oid == nullptr) {
    ASN1_OBJECT_free(oid);
    return nullptr;
  }
  int type = V_ASN1_UNDEF;
  void* value = nullptr;
  ASN1_TYPE* parameters = nullptr;
  if (info->Algorithm.Parameters.cbData) {
    const unsigned char* p = info->Algorithm.Parameters.pbData;
    parameters = d2i_ASN1_TYPE(nullptr, &p, static_cast<long>(info->Algorithm.Parameters.cbData));
    if (parameters == nullptr) {
      ASN1_OBJECT_free(oid);
      return nullptr;
    }
    type = parameters->type;
    // The algorithm takes over the value; the shell is freed.
    if (type == V_ASN1_NULL || type == V_ASN1_BOOLEAN) {
      value = nullptr;
    } else {
      value = parameters->value.ptr;
      parameters->value.ptr = nullptr;
    }
    parameters->type = V_ASN1_NULL;
    ASN1_TYPE_free(parameters);
  }
  unsigned char* bits = static_cast<unsigned char*>(OPENSSL_memdup(info->PublicKey.pbData, info->PublicKey.cbData));
  if (bits == nullptr ||
      !X509_PUBKEY_set0_param(spki.get(), oid, type, value, bits, static_cast<int>(info->PublicKey.cbData))) {
    OPENSSL_free(bits);
    ASN1_OBJECT_free(oid);
    return nullptr;
  }
  // Encoded and read back, so that OpenSSL decodes the key from the fields.
  unsigned char* der = nullptr;
  const int length = i2d_X509_PUBKEY(spki.get(), &der);
  if (length <= 0) return nullptr;
  const unsigned char* p = der;
  EVP_PKEY* key = d2i_PUBKEY(nullptr, &p, length);
  OPENSSL_free(der);
  return key;
}

}  // namespace

extern "C" {

BOOL WINAPI CryptAcquireContextA(HCRYPTPROV* phProv, LPCSTR szContainer, LPCSTR, DWORD dwProvType, DWORD dwFlags) {
  if (phProv == nullptr) return fail(E_INVALIDARG);
  if (dwProvType != PROV_RSA_FULL && dwProvType != PROV_RSA_AES) return fail(NTE_BAD_ALGID);
  if ((dwFlags & CRYPT_VERIFYCONTEXT) == 0 && szContainer != nullptr) return fail(NTE_BAD_KEYSET);
  *phProv = providers().add(std::make_unique<Provider>());
  return TRUE;
}

BOOL WINAPI CryptReleaseContext(HCRYPTPROV hProv, DWORD dwFlags) {
  if (dwFlags != 0) return fail(NTE_BAD_FLAGS);
  return providers().remove(hProv) ? TRUE : fail(NTE_BAD_UID);
}

BOOL WINAPI CryptCreateHash(HCRYPTPROV hProv, ALG_ID Algid, HCRYPTKEY hKey, DWORD, HCRYPTHASH* phHash) {
  if (phHash == nullptr) return fail(E_INVALIDARG);
  if (!knownProvider(hProv)) return fail(NTE_BAD_UID);
  if (hKey != 0) return fail(NTE_BAD_KEY);  // keyed hashes are not offered
  const EVP_MD* md = digestOf(Algid);
  if (md == nullptr) return fail(NTE_BAD_ALGID);
  auto hash = std::make_unique<Hash>();
  if (!hash->context || EVP_DigestInit_ex(hash->context.get(), md, nullptr) != 1) return fail(NTE_BAD_ALGID);
  hash->md = md;
  *phHash = hashes().add(std::move(hash));
  return TRUE;
}

BOOL WINAPI CryptHashData(HCRYPTHASH hHash, const BYTE* pbData, DWORD dwDataLen, DWORD) {
  if (pbData == nullptr && dwDataLen != 0) return fail(E_INVALIDARG);
  BOOL result = FALSE;
  HRESULT error = NTE_BAD_HASH;
  hashes().with(hHash, [&](Hash& hash) {
    if (hash.finished) return;
    if (EVP_DigestUpdate(hash.context.get(), pbData, dwDataLen) == 1) result = TRUE;
  });
  return result ? TRUE : fail(error);
}

BOOL WINAPI CryptDestroyHash(HCRYPTHASH hHash) {
  return hashes().remove(hHash) ? TRUE : fail(NTE_BAD_HASH);
}

BOOL WINAPI CryptImportPublicKeyInfo(HCRYPTPROV hCryptProv, DWORD dwCertEncodingType, PCERT_PUBLIC_KEY_INFO pInfo,
                                     HCRYPTKEY* phKey) {
  if (pInfo == nullptr || phKey == nullptr || (dwCertEncodingType & X509_ASN_ENCODING) == 0) {
    return fail(E_INVALIDARG);
  }
  if (!knownProvider(hCryptProv)) return fail(NTE_BAD_UID);
  Key key(keyFromInfo(pInfo), EVP_PKEY_free);
  if (!key) return fail(CRYPT_E_ASN1_BADTAG);
  if (EVP_PKEY_get_base_id(key.get()) != EVP_PKEY_RSA) return fail(NTE_BAD_ALGID);
  *phKey = keys().add(std::make_unique<Key>(std::move(key)));
  return TRUE;
}

BOOL WINAPI CryptDestroyKey(HCRYPTKEY hKey) {
  return keys().remove(hKey) ? TRUE : fail(NTE_BAD_KEY);
}

BOOL WINAPI CryptVerifySignatureA(HCRYPTHASH hHash, const BYTE* pbSignature, DWORD dwSigLen, HCRYPTKEY hPubKey,
                                  LPCSTR, DWORD) {
  if (pbSignature == nullptr || dwSigLen == 0) return fail(E_INVALIDARG);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int digestLength = 0;
  const EVP_MD* md = nullptr;
  bool hashed = false;
  hashes().with(hHash, [&](Hash& hash) {
    if (hash.finished) return;
    hash.finished = true;
    md = hash.md;
    hashed = EVP_DigestFinal_ex(hash.context.get(), digest, &digestLength) == 1;
  });
  if (!hashed) return fail(NTE_BAD_HASH);
  // CryptoAPI keeps the signature least significant byte first.
  std::vector<unsigned char> signature(pbSignature, pbSignature + dwSigLen);
  std::reverse(signature.begin(), signature.end());
  int verified = -1;
  const bool found = keys().with(hPubKey, [&](Key& key) {
    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> context(EVP_PKEY_CTX_new(key.get(), nullptr),
                                                                       EVP_PKEY_CTX_free);
    if (context && EVP_PKEY_verify_init(context.get()) == 1 &&
        EVP_PKEY_CTX_set_rsa_padding(context.get(), RSA_PKCS1_PADDING) == 1 &&
        EVP_PKEY_CTX_set_signature_md(context.get(), md) == 1) {
      verified = EVP_PKEY_verify(context.get(), signature.data(), signature.size(), digest, digestLength);
    }
  });
  if (!found) return fail(NTE_BAD_KEY);
  return verified == 1 ? TRUE : fail(NTE_BAD_SIGNATURE);
}

}  // extern "C"
