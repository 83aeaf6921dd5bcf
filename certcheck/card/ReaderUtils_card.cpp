#include "certcheck/card/ReaderUtils_card.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <optional>

#include "cardaccess/reader/CReader.h"
#include "cardvariant/CLogable.h"
#include "cardvariant/CReaderFactory.h"
#include "cardvariant/CSCard.h"
#include "certcheck/ReaderUtils.h"

using cardvariant::CReader;
using cardvariant::CSCard;

namespace {

constexpr int kLogLevel = 1;

// Where each card type keeps its signature certificate and which key signs:
// the directory of the signature application, the certificate file C000 in it,
// the signature key 81 with the security environment the type expects.
struct CardLayout {
  const char* directory;
  int keyReference;
  const char* signParameter;  // empty: the card's own environment
};

CardLayout layoutOf(CSCard& card) {
  static const char kDF01[] = {'\xDF', '\x01'};
  switch (card.getCardType()) {
    case 1:  // bank card
      return {"\x10\x00", 0x81, "\x80\x01\x14\x84\x01\x02"};
    case 4:  // D-Trust
      return {"\x50\x15", 0x81, ""};
    case 2:  // ECard
      return {kDF01, 0x81, "\x80\x01\x10\x84\x01\x02"};
    case 3:  // OCard
      return {kDF01, 0x81, card.getHashAlg() == 1 ? "\x80\x01\x10\x84\x01\x02" : "\x80\x01\x40\x84\x01\x02"};
    default:  // TrustSign
      return {kDF01, 0x81, "\x80\x01\x11\x84\x01\x82"};
  }
}

std::string parameterOf(const CardLayout& layout) {
  return std::string(layout.signParameter, std::strlen(layout.signParameter) == 0 ? 0 : 6);
}

// A failure the user will ask about: its line reaches the file at once.
DWORD fail(const char* text, DWORD code) {
  cardvariant::logMessage(text, kLogLevel, cardvariant::CLogable::kFlush);
  return code;
}

// The configured reader, kept allocated and locked for one card operation, with
// its card: the one already connected, or a fresh connect. The lock is a scope
// guard, so that no way out, an exception included, leaves the reader locked.
class CardInUse {
 public:
  // 0 with the card, or the code after its log line.
  DWORD open(const char* noReader, const char* noCard) {
    m_reader = cardvariant::CReaderFactory::getSharedInstance();
    if (!m_reader) return fail(noReader, cardutils::kNoReader);
    m_lock.emplace(*m_reader);
    m_card = m_reader->getCard();
    if (!m_card && m_reader->connect(0) == 0) m_card = m_reader->getCard();
    if (!m_card) return fail(noCard, cardutils::kNoCard);
    return 0;
  }
  // Gives the lock back for a while (the PIN dialog), and takes it again with the
  // card that is current then.
  void unlock() { m_lock.reset(); }
  DWORD relock(const char* noCard) {
    m_lock.emplace(*m_reader);
    m_card = m_reader->getCard();
    return m_card ? 0 : fail(noCard, cardutils::kNoCard);
  }
  CReader& reader() { return *m_reader; }
  CSCard& card() { return *m_card; }

 private:
  std::shared_ptr<CReader> m_reader;
  std::optional<cardvariant::CReaderLock> m_lock;  // given back before the reader goes
  CSCard* m_card = nullptr;
};

// The length a DER element announces, header included; 0 when it does not
// describe one within the bytes.
size_t derLength(const std::string& der) {
  if (der.size() < 2 || static_cast<unsigned char>(der[0]) != 0x30) return 0;
  const unsigned char first = static_cast<unsigned char>(der[1]);
  if (first < 0x80) return first + 2u <= der.size() ? first + 2u : 0;
  const size_t count = first & 0x7F;
  if (count == 0 || count > 3 || der.size() < 2 + count) return 0;
  size_t length = 0;
  for (size_t i = 0; i < count; ++i) length = (length << 8) | static_cast<unsigned char>(der[2 + i]);
  return 2 + count + length <= der.size() ? 2 + count + length : 0;
}

// An opened file, closed on every way out of the scope: a read may throw (a file
// type the card layer does not know).
class OpenFile {
 public:
  OpenFile(CSCard& card, int handle) : m_card(card), m_handle(handle) {}
  ~OpenFile() {
    try {
      m_card.close(m_handle);
    } catch (...) {
    }
  }
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;

 private:
  CSCard& m_card;
  int m_handle;
};

// Reads the certificate file; a card that no longer answers is told apart from
// one whose file cannot be read.
DWORD readCertificate(CReader& reader, CSCard& card, std::string& certificate) {
  const CardLayout layout = layoutOf(card);
  std::string content;
  int handle = -1;
  if (card.changeDirectory(cardvariant::CFID(std::string("\x3F\x00", 2))) == 0 &&
      card.changeDirectory(cardvariant::CFID(std::string(layout.directory, 2))) == 0)
    handle = card.open(cardvariant::CFID(std::string("\xC0\x00", 2)));
  if (handle >= 0) {
    OpenFile file(card, handle);
    // Certificate files are often larger than what they hold: read up to the
    // end of the file (by its size) or of the certificate.
    for (;;) {
      std::string chunk;
      const int got = card.readUpToSize(handle, chunk, 256);
      if (got <= 0) break;
      content += chunk;
      if (derLength(content) != 0 || got < 256 || content.size() > 65536) break;
    }
  }
  const size_t length = derLength(content);
  if (length == 0) {
    if (reader.getStatus(0) == 0) return fail("Die Signaturkarte wurde wieder entfernt.\n", cardutils::kCardFailed);
    return fail("Das Zertifikat konnte nicht gelesen werden.\n", cardutils::kCardFailed);
  }
  certificate = content.substr(0, length);
  return 0;
}

struct WaitDialogSettings {
  std::mutex lock;
  HINSTANCE module = nullptr;
  int templateId = 0;
  int textControlId = 0;
  std::string text;
};
WaitDialogSettings& waitDialogSettings() {
  static WaitDialogSettings settings;
  return settings;
}

INT_PTR CALLBACK waitDialogProc(HWND dialog, UINT message, WPARAM, LPARAM parameter) {
  if (message != WM_INITDIALOG) return FALSE;
  const auto* settings = reinterpret_cast<const WaitDialogSettings*>(parameter);
  SetDlgItemTextA(dialog, settings->textControlId, settings->text.c_str());
  return TRUE;
}

// The wait dialog for as long as the object lives.
class WaitDialog {
 public:
  WaitDialog() {
    WaitDialogSettings& settings = waitDialogSettings();
    std::lock_guard<std::mutex> guard(settings.lock);
    m_copy.module = settings.module;
    m_copy.templateId = settings.templateId;
    m_copy.textControlId = settings.textControlId;
    m_copy.text = settings.text;
    if (!m_copy.module || !m_copy.templateId) return;
    m_window = CreateDialogParamA(m_copy.module, MAKEINTRESOURCEA(m_copy.templateId), nullptr, waitDialogProc,
                                  reinterpret_cast<LPARAM>(&m_copy));
    if (m_window) ShowWindow(m_window, SW_SHOWNORMAL);
  }
  ~WaitDialog() {
    if (m_window) DestroyWindow(m_window);
  }
  WaitDialog(const WaitDialog&) = delete;
  WaitDialog& operator=(const WaitDialog&) = delete;

 private:
  WaitDialogSettings m_copy;
  HWND m_window = nullptr;
};

template <typename T, void (*Free)(T*)>
struct Deleter {
  void operator()(T* p) const { Free(p); }
};
using X509Ptr = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using PKCS7Ptr = std::unique_ptr<PKCS7, Deleter<PKCS7, PKCS7_free>>;
using SignerInfoPtr = std::unique_ptr<PKCS7_SIGNER_INFO, Deleter<PKCS7_SIGNER_INFO, PKCS7_SIGNER_INFO_free>>;

}  // namespace

DWORD readCertificateFromCard(unsigned char* buffer, unsigned int* length, bool* qualified) {
  if (!buffer || !length || !qualified) return 0x80000001;
  try {
    std::string certificate;
    {
      CardInUse use;
      if (DWORD rc = use.open("Kein geeignetes Terminal gefunden.\n", "Keine Signaturkarte gefunden.\n")) return rc;
      if (DWORD rc = readCertificate(use.reader(), use.card(), certificate)) return rc;
    }
    // A buffer too small for the certificate gets nothing rather than a part.
    if (certificate.size() > *length) return fail("Das Zertifikat konnte nicht gelesen werden.\n", cardutils::kCardFailed);
    std::memcpy(buffer, certificate.data(), certificate.size());
    *length = static_cast<unsigned int>(certificate.size());
    return isQualifiedCertificate(buffer, *length, qualified);
  } catch (...) {
    return cardutils::kException;
  }
}

DWORD buildPKCS7SignedData(const std::string& certificate, const std::string& signature, int hashAlgorithm,
                           std::string& signedData) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(certificate.data());
  X509Ptr x509(d2i_X509(nullptr, &p, static_cast<long>(certificate.size())));
  if (!x509 || certificate.empty()) return cardutils::kBadCertificate;
  const int digestNid = hashAlgorithm == 1 ? NID_sha1 : hashAlgorithm == 2 ? NID_sha256 : NID_ripemd160;
  if (hashAlgorithm < 1 || hashAlgorithm > 3) return cardutils::kBadDigestAlgorithm;

  // The signature algorithm follows the certificate's key: RSA, or for an EC
  // key ECDSA with the digest used.
  const char* signatureOid = "1.2.840.113549.1.1.1";
  EVP_PKEY* key = X509_get0_pubkey(x509.get());
  if (key && EVP_PKEY_base_id(key) == EVP_PKEY_EC)
    signatureOid = hashAlgorithm == 1   ? "1.2.840.10045.4.1"
                     : hashAlgorithm == 2 ? "1.2.840.10045.4.3.2"
                                          : "1.3.36.3.3.2.5.4.1";

  PKCS7Ptr p7(PKCS7_new());
  if (!p7 || !PKCS7_set_type(p7.get(), NID_pkcs7_signed)) return cardutils::kNoSignedData;
  if (!PKCS7_add_certificate(p7.get(), x509.get())) return cardutils::kNoCertificateAdded;

  SignerInfoPtr si(PKCS7_SIGNER_INFO_new());
  if (!si) return cardutils::kNoSignerInfo;
  if (!ASN1_INTEGER_set(si->version, 1) ||
      !X509_NAME_set(&si->issuer_and_serial->issuer, X509_get_issuer_name(x509.get())))
    return cardutils::kNoSignerIdentity;
  ASN1_INTEGER_free(si->issuer_and_serial->serial);
  si->issuer_and_serial->serial = ASN1_INTEGER_dup(X509_get0_serialNumber(x509.get()));
  if (!si->issuer_and_serial->serial) return cardutils::kNoSignerIdentity;

  ASN1_OBJECT* signatureObject = OBJ_txt2obj(signatureOid, 1);
  if (!X509_ALGOR_set0(si->digest_alg, OBJ_nid2obj(digestNid), V_ASN1_NULL, nullptr) || !signatureObject ||
      !X509_ALGOR_set0(si->digest_enc_alg, signatureObject,
                       std::strcmp(signatureOid, "1.2.840.113549.1.1.1") == 0 ? V_ASN1_NULL : V_ASN1_UNDEF, nullptr)) {
    ASN1_OBJECT_free(signatureObject);
    return cardutils::kNoAlgorithm;
  }
  if (signature.empty() ||
      !ASN1_STRING_set(si->enc_digest, signature.data(), static_cast<int>(signature.size())))
    return cardutils::kNoSignatureValue;
  if (!PKCS7_add_signer(p7.get(), si.get())) return cardutils::kNoSignerAdded;
  si.release();  // now owned by the SignedData
  if (!PKCS7_content_new(p7.get(), NID_pkcs7_data) || !PKCS7_set_detached(p7.get(), 1)) return cardutils::kNoContent;

  unsigned char* der = nullptr;
  const int size = i2d_PKCS7(p7.get(), &der);
  if (size <= 0) return cardutils::kNotEncoded;
  signedData.assign(reinterpret_cast<const char*>(der), static_cast<size_t>(size));
  OPENSSL_free(der);
  return 0;
}

void setWaitDialog(HINSTANCE module, int templateId, int textControlId, const char* text) {
  WaitDialogSettings& settings = waitDialogSettings();
  std::lock_guard<std::mutex> guard(settings.lock);
  settings.module = module;
  settings.templateId = templateId;
  settings.textControlId = textControlId;
  settings.text = text ? text : "";
}

DWORD signWithCard(const unsigned char* data, unsigned int dataLength, const PinSource& askPin,
                   std::string& signedData) {
  if (!data || dataLength == 0 || !askPin) return 0x80000001;
  try {
    CardInUse use;
    if (DWORD rc = use.open("Keinen geeigneten Leser gefunden.\n", "Keine geeignete Karte gefunden.\n")) return rc;

    // The reader is not kept from other threads while the user types.
    use.unlock();
    std::string pin;
    // The PIN must not outlive the signature in freed memory, whatever way this ends.
    struct Wipe {
      std::string& secret;
      ~Wipe() {
        if (!secret.empty()) OPENSSL_cleanse(&secret[0], secret.size());
      }
    } wipe{pin};
    if (!askPin(pin)) return cardutils::kCardFailed;
    if (DWORD rc = use.relock("Keine geeignete Karte gefunden.\n")) return rc;

    // Certificate and signature under one hold of the lock: one card, one signature.
    CSCard& card = use.card();
    std::string certificate, signature;
    DWORD rc = readCertificate(use.reader(), card, certificate);
    if (rc == 0) {
      const CardLayout layout = layoutOf(card);
      WaitDialog wait;
      const int hashAlgorithm = card.getHashAlg() == 1 || card.getHashAlg() == 2 ? card.getHashAlg() : 3;
      int result = card.signInit(layout.keyReference, parameterOf(layout), hashAlgorithm);
      if (result == 0) result = card.signUpdate(std::string(reinterpret_cast<const char*>(data), dataLength));
      if (result == 0) result = card.signFinal(layout.keyReference, &pin, signature, 0);
      rc = result == 0 ? buildPKCS7SignedData(certificate, signature, hashAlgorithm, signedData)
                       : fail("Die Signatur konnte nicht erstellt werden.\n", cardutils::kCardFailed);
    }
    return rc;
  } catch (...) {
    return cardutils::kException;
  }
}
