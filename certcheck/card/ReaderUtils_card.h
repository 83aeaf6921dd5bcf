// The card operations beside the signature checks: the signer certificate read
// from the signature card in the configured reader (with whether it is
// qualified), a signature made on that card, and the PKCS#7 SignedData built
// around such a signature. They run over the plug-in's card library.
//
// Result codes: 0 done; 0x80000001 missing input; 0x80000004 no usable reader;
// 0x80010000 no signature card; 0x80000006 the card was removed, the
// certificate could not be read or the card refused the signature; 0x80000005
// an exception from the card library; 0x80080003 to 0x80080012 a part of the
// SignedData that could not be encoded.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace cardutils {

constexpr DWORD kNoReader = 0x80000004;
constexpr DWORD kNoCard = 0x80010000;
constexpr DWORD kCardFailed = 0x80000006;
constexpr DWORD kException = 0x80000005;
// Parts of the SignedData that could not be encoded.
constexpr DWORD kBadCertificate = 0x80080003;
constexpr DWORD kBadDigestAlgorithm = 0x80080004;
constexpr DWORD kNoSignedData = 0x80080005;
constexpr DWORD kNoCertificateAdded = 0x80080006;
constexpr DWORD kNoSignerInfo = 0x80080007;
constexpr DWORD kNoSignerIdentity = 0x80080008;
constexpr DWORD kNoAlgorithm = 0x80080009;
constexpr DWORD kNoSignatureValue = 0x8008000A;
constexpr DWORD kNoSignerAdded = 0x8008000B;
constexpr DWORD kNoContent = 0x8008000C;
constexpr DWORD kNotEncoded = 0x80080012;

}  // namespace cardutils

// The signer certificate of the card in the reader in use into buffer (capacity
// *length on entry, the certificate's length on return) and its qualified flag.
DWORD readCertificateFromCard(unsigned char* buffer, unsigned int* length, bool* qualified);

// The DER PKCS#7 SignedData (detached, no signed attributes) around a signature
// over data: hashAlgorithm 1 SHA-1, 2 SHA-256, 3 RIPEMD-160; an RSA signature is
// a PKCS#1 v1.5 value, an EC one a DER ECDSA-Sig-Value.
DWORD buildPKCS7SignedData(const std::string& certificate, const std::string& signature, int hashAlgorithm,
                           std::string& signedData);

// Asks for the PIN: false when the user cancelled.
using PinSource = std::function<bool(std::string& pin)>;

// The modeless dialog shown while the card signs: its module, template, the
// control that gets the text, and the text (copied). Without a module or a
// template the card signs without a dialog.
void setWaitDialog(HINSTANCE module, int templateId, int textControlId, const char* text);

// Signs data with the signature key of the card in the reader in use, with the
// PIN askPin gives, and wraps the signature into a PKCS#7 SignedData with the
// card's certificate. The wait dialog shows while the card computes. 0x80000006 also when the PIN entry is cancelled.
DWORD signWithCard(const unsigned char* data, unsigned int dataLength, const PinSource& askPin,
                   std::string& signedData);
