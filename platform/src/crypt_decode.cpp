// CryptDecodeObject for the two extensions the certificate checks read: the
// authority information access and the CRL distribution points. The decoded
// structure and everything it points to lie in the caller's one block.
#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include <openssl/objects.h>
#include <openssl/x509v3.h>

#include "platform/win_threads.h"
#include "wincrypt.h"

namespace {

// Lays the structure out twice: first to learn the size (no base), then into
// the caller's block. Every piece is aligned for pointers.
class Layout {
 public:
  explicit Layout(BYTE* base) : base_(base) {}
  template <typename T>
  T* take(size_t count = 1) {
    const size_t align = alignof(void*);
    used_ = (used_ + align - 1) / align * align;
    T* at = base_ ? reinterpret_cast<T*>(base_ + used_) : nullptr;
    used_ += sizeof(T) * count;
    return at;
  }
  bool writing() const { return base_ != nullptr; }
  size_t used() const { return used_; }

  LPSTR text(const std::string& value) {
    char* at = take<char>(value.size() + 1);
    if (at) std::memcpy(at, value.c_str(), value.size() + 1);
    return at;
  }
  // An IA5 text as a 16-bit wide text; bytes above 0x7F are kept as they are.
  LPWSTR wide(const ASN1_STRING* value) {
    const int length = ASN1_STRING_length(value);
    WCHAR* at = take<WCHAR>(static_cast<size_t>(length) + 1);
    if (at) {
      const unsigned char* bytes = ASN1_STRING_get0_data(value);
      for (int i = 0; i < length; ++i) at[i] = static_cast<WCHAR>(bytes[i]);
      at[length] = 0;
    }
    return at;
  }
  BYTE* bytes(const unsigned char* data, size_t length) {
    BYTE* at = take<BYTE>(length);
    if (at && length) std::memcpy(at, data, length);
    return at;
  }

 private:
  BYTE* base_;
  size_t used_ = 0;
};

std::string oidText(const ASN1_OBJECT* object) {
  char buffer[128] = "";
  if (OBJ_obj2txt(buffer, sizeof buffer, object, 1) < 0) buffer[0] = 0;
  return buffer;
}

void fillEntry(Layout& layout, CERT_ALT_NAME_ENTRY* entry, const GENERAL_NAME* name) {
  CERT_ALT_NAME_ENTRY value{};
  switch (name->type) {
    case GEN_URI:
      value.dwAltNameChoice = CERT_ALT_NAME_URL;
      value.pwszURL = layout.wide(name->d.uniformResourceIdentifier);
      break;
    case GEN_DNS:
      value.dwAltNameChoice = CERT_ALT_NAME_DNS_NAME;
      value.pwszDNSName = layout.wide(name->d.dNSName);
      break;
    case GEN_EMAIL:
      value.dwAltNameChoice = CERT_ALT_NAME_RFC822_NAME;
      value.pwszRfc822Name = layout.wide(name->d.rfc822Name);
      break;
    case GEN_DIRNAME: {
      value.dwAltNameChoice = CERT_ALT_NAME_DIRECTORY_NAME;
      unsigned char* der = nullptr;
      const int length = i2d_X509_NAME(name->d.directoryName, &der);
      if (length > 0) {
        value.DirectoryName.cbData = static_cast<DWORD>(length);
        value.DirectoryName.pbData = layout.bytes(der, static_cast<size_t>(length));
      }
      OPENSSL_free(der);
      break;
    }
    case GEN_IPADD:
      value.dwAltNameChoice = CERT_ALT_NAME_IP_ADDRESS;
      value.IPAddress.cbData = static_cast<DWORD>(ASN1_STRING_length(name->d.iPAddress));
      value.IPAddress.pbData = layout.bytes(ASN1_STRING_get0_data(name->d.iPAddress), value.IPAddress.cbData);
      break;
    case GEN_RID:
      value.dwAltNameChoice = CERT_ALT_NAME_REGISTERED_ID;
      value.pszRegisteredID = layout.text(oidText(name->d.registeredID));
      break;
    case GEN_OTHERNAME: {
      value.dwAltNameChoice = CERT_ALT_NAME_OTHER_NAME;
      CERT_OTHER_NAME* other = layout.take<CERT_OTHER_NAME>();
      LPSTR oid = layout.text(oidText(name->d.otherName->type_id));
      unsigned char* der = nullptr;
      const int length = i2d_ASN1_TYPE(name->d.otherName->value, &der);
      BYTE* bytes = layout.bytes(der, length > 0 ? static_cast<size_t>(length) : 0);
      OPENSSL_free(der);
      if (other) *other = CERT_OTHER_NAME{oid, {static_cast<DWORD>(length > 0 ? length : 0), bytes}};
      value.pOtherName = other;
      break;
    }
    case GEN_X400:
      value.dwAltNameChoice = CERT_ALT_NAME_X400_ADDRESS;
      break;
    default:
      value.dwAltNameChoice = CERT_ALT_NAME_EDI_PARTY_NAME;
      break;
  }
  if (entry) *entry = value;
}

void fillNames(Layout& layout, CERT_ALT_NAME_INFO* info, const GENERAL_NAMES* names) {
  const int count = names ? sk_GENERAL_NAME_num(names) : 0;
  CERT_ALT_NAME_ENTRY* entries = count > 0 ? layout.take<CERT_ALT_NAME_ENTRY>(static_cast<size_t>(count)) : nullptr;
  for (int i = 0; i < count; ++i)
    fillEntry(layout, entries ? &entries[i] : nullptr, sk_GENERAL_NAME_value(names, i));
  if (info) *info = CERT_ALT_NAME_INFO{static_cast<DWORD>(count > 0 ? count : 0), entries};
}

void layOutAccess(Layout& layout, const AUTHORITY_INFO_ACCESS* access) {
  CERT_AUTHORITY_INFO_ACCESS* top = layout.take<CERT_AUTHORITY_INFO_ACCESS>();
  const int count = sk_ACCESS_DESCRIPTION_num(access);
  CERT_ACCESS_DESCRIPTION* list = count > 0 ? layout.take<CERT_ACCESS_DESCRIPTION>(static_cast<size_t>(count)) : nullptr;
  for (int i = 0; i < count; ++i) {
    const ACCESS_DESCRIPTION* from = sk_ACCESS_DESCRIPTION_value(access, i);
    LPSTR method = layout.text(oidText(from->method));
    CERT_ALT_NAME_ENTRY location{};
    fillEntry(layout, layout.writing() ? &location : nullptr, from->location);
    if (list) list[i] = CERT_ACCESS_DESCRIPTION{method, location};
  }
  if (top) *top = CERT_AUTHORITY_INFO_ACCESS{static_cast<DWORD>(count > 0 ? count : 0), list};
}

void layOutDistPoints(Layout& layout, const CRL_DIST_POINTS* points) {
  CRL_DIST_POINTS_INFO* top = layout.take<CRL_DIST_POINTS_INFO>();
  const int count = sk_DIST_POINT_num(points);
  CRL_DIST_POINT* list = count > 0 ? layout.take<CRL_DIST_POINT>(static_cast<size_t>(count)) : nullptr;
  for (int i = 0; i < count; ++i) {
    const DIST_POINT* from = sk_DIST_POINT_value(points, i);
    CRL_DIST_POINT to{};
    if (from->distpoint && from->distpoint->type == 0) {
      to.DistPointName.dwDistPointNameChoice = CRL_DIST_POINT_FULL_NAME;
      fillNames(layout, layout.writing() ? &to.DistPointName.FullName : nullptr, from->distpoint->name.fullname);
    } else if (from->distpoint) {
      to.DistPointName.dwDistPointNameChoice = CRL_DIST_POINT_ISSUER_RDN_NAME;
    }
    if (from->reasons) {
      to.ReasonFlags.cbData = static_cast<DWORD>(ASN1_STRING_length(from->reasons));
      to.ReasonFlags.pbData = layout.bytes(ASN1_STRING_get0_data(from->reasons), to.ReasonFlags.cbData);
      to.ReasonFlags.cUnusedBits =
          (from->reasons->flags & ASN1_STRING_FLAG_BITS_LEFT) ? static_cast<DWORD>(from->reasons->flags & 7) : 0;
    }
    fillNames(layout, layout.writing() ? &to.CRLIssuer : nullptr, from->CRLissuer);
    if (list) list[i] = to;
  }
  if (top) *top = CRL_DIST_POINTS_INFO{static_cast<DWORD>(count > 0 ? count : 0), list};
}

BOOL fail(HRESULT error) {
  SetLastError(static_cast<DWORD>(error));
  return FALSE;
}

}  // namespace

extern "C" BOOL WINAPI CryptDecodeObject(DWORD dwCertEncodingType, LPCSTR lpszStructType, const BYTE* pbEncoded,
                                         DWORD cbEncoded, DWORD /*dwFlags*/, void* pvStructInfo,
                                         DWORD* pcbStructInfo) {
  if ((dwCertEncodingType & X509_ASN_ENCODING) == 0 || !pcbStructInfo || (!pbEncoded && cbEncoded))
    return fail(E_INVALIDARG);
  const unsigned char* p = pbEncoded;
  std::function<void(Layout&)> layOut;
  if (lpszStructType == X509_AUTHORITY_INFO_ACCESS) {
    std::shared_ptr<AUTHORITY_INFO_ACCESS> access(d2i_AUTHORITY_INFO_ACCESS(nullptr, &p, cbEncoded),
                                                  AUTHORITY_INFO_ACCESS_free);
    if (!access || p != pbEncoded + cbEncoded) return fail(CRYPT_E_ASN1_BADTAG);
    layOut = [access](Layout& layout) { layOutAccess(layout, access.get()); };
  } else if (lpszStructType == X509_CRL_DIST_POINTS) {
    std::shared_ptr<CRL_DIST_POINTS> points(d2i_CRL_DIST_POINTS(nullptr, &p, cbEncoded), CRL_DIST_POINTS_free);
    if (!points || p != pbEncoded + cbEncoded) return fail(CRYPT_E_ASN1_BADTAG);
    layOut = [points](Layout& layout) { layOutDistPoints(layout, points.get()); };
  } else {
    return fail(CRYPT_E_NOT_FOUND);
  }
  Layout sizing(nullptr);
  layOut(sizing);
  const DWORD needed = static_cast<DWORD>(sizing.used());
  if (!pvStructInfo) {
    *pcbStructInfo = needed;
    return TRUE;
  }
  if (*pcbStructInfo < needed) {
    *pcbStructInfo = needed;
    return fail(ERROR_MORE_DATA);
  }
  std::memset(pvStructInfo, 0, needed);
  Layout writing(static_cast<BYTE*>(pvStructInfo));
  layOut(writing);
  *pcbStructInfo = needed;
  return TRUE;
}
