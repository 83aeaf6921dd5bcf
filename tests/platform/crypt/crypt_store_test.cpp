// CryptoAPI decoding of AIA and CDP, CRL contexts, file and system stores, and
// temporary file names, against the test PKI kit.
#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>
#include <openssl/x509v3.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "platform/machine.h"
#include "testbundle.h"
#include "testpki.h"

namespace {

using testpki::Bytes;

struct Context {
  explicit Context(const Bytes& der)
      : context(CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der.data(),
                                             static_cast<DWORD>(der.size()))) {}
  ~Context() { CertFreeCertificateContext(context); }
  PCCERT_CONTEXT context;
};

std::string narrow(LPCWSTR wide) {
  std::string out;
  for (; wide && *wide; ++wide) out += static_cast<char>(*wide);
  return out;
}

// Decodes as the product does: a size query, a LocalAlloc block, the decode.
std::unique_ptr<void, HLOCAL (*)(HLOCAL)> decode(LPCSTR type, const CRYPT_OBJID_BLOB& value) {
  DWORD size = 0;
  EXPECT_TRUE(CryptDecodeObject(X509_ASN_ENCODING, type, value.pbData, value.cbData, CRYPT_DECODE_NOCOPY_FLAG, nullptr, &size));
  std::unique_ptr<void, HLOCAL (*)(HLOCAL)> block(LocalAlloc(LPTR, size), LocalFree);
  EXPECT_TRUE(CryptDecodeObject(X509_ASN_ENCODING, type, value.pbData, value.cbData, CRYPT_DECODE_NOCOPY_FLAG, block.get(), &size));
  return block;
}

// The DER value of an extension written in OpenSSL's configuration syntax.
Bytes extensionValue(int nid, const char* text) {
  std::unique_ptr<X509_EXTENSION, decltype(&X509_EXTENSION_free)> ext(X509V3_EXT_conf_nid(nullptr, nullptr, nid, text),
                                                                      X509_EXTENSION_free);
  EXPECT_TRUE(ext);
  const ASN1_OCTET_STRING* data = X509_EXTENSION_get_data(ext.get());
  return Bytes(ASN1_STRING_get0_data(data), ASN1_STRING_get0_data(data) + ASN1_STRING_length(data));
}

TEST(CryptDecodeObject, AuthorityInfoAccessOfASigner) {
  const testpki::Kit& kit = testpki::Kit::standard();
  Context cert(kit.certificate("rsa2048"));
  ASSERT_TRUE(cert.context);
  PCERT_EXTENSION ext = CertFindExtension(szOID_AUTHORITY_INFO_ACCESS, cert.context->pCertInfo->cExtension,
                                          cert.context->pCertInfo->rgExtension);
  ASSERT_TRUE(ext);
  auto block = decode(X509_AUTHORITY_INFO_ACCESS, ext->Value);
  auto* aia = static_cast<CERT_AUTHORITY_INFO_ACCESS*>(block.get());
  ASSERT_EQ(2u, aia->cAccDescr);
  EXPECT_STREQ(szOID_PKIX_OCSP, aia->rgAccDescr[0].pszAccessMethod);
  EXPECT_EQ(DWORD(CERT_ALT_NAME_URL), aia->rgAccDescr[0].AccessLocation.dwAltNameChoice);
  EXPECT_EQ("http://127.0.0.1:18888/", narrow(aia->rgAccDescr[0].AccessLocation.pwszURL));
  EXPECT_STREQ(szOID_PKIX_CA_ISSUERS, aia->rgAccDescr[1].pszAccessMethod);
  EXPECT_EQ("http://127.0.0.1:18080/int.crt", narrow(aia->rgAccDescr[1].AccessLocation.pwszURL));
}

TEST(CryptDecodeObject, NamesOtherThanUrlsKeepTheirChoice) {
  // A name that is no URL before the URL: the caller must see its choice.
  const Bytes aiaBytes = extensionValue(NID_info_access, "OCSP;email:ca@example.test,OCSP;URI:http://127.0.0.1:1/");
  CRYPT_OBJID_BLOB aiaValue{static_cast<DWORD>(aiaBytes.size()), const_cast<BYTE*>(aiaBytes.data())};
  auto aiaBlock = decode(X509_AUTHORITY_INFO_ACCESS, aiaValue);
  auto* aia = static_cast<CERT_AUTHORITY_INFO_ACCESS*>(aiaBlock.get());
  ASSERT_EQ(2u, aia->cAccDescr);
  EXPECT_EQ(DWORD(CERT_ALT_NAME_RFC822_NAME), aia->rgAccDescr[0].AccessLocation.dwAltNameChoice);
  EXPECT_EQ(DWORD(CERT_ALT_NAME_URL), aia->rgAccDescr[1].AccessLocation.dwAltNameChoice);
  EXPECT_EQ("http://127.0.0.1:1/", narrow(aia->rgAccDescr[1].AccessLocation.pwszURL));
  const Bytes cdp = extensionValue(NID_crl_distribution_points, "URI:http://127.0.0.1:2/a.crl,DNS:example.test");
  CRYPT_OBJID_BLOB value{static_cast<DWORD>(cdp.size()), const_cast<BYTE*>(cdp.data())};
  auto block = decode(X509_CRL_DIST_POINTS, value);
  auto* info = static_cast<CRL_DIST_POINTS_INFO*>(block.get());
  // One distribution point per name, each a full name.
  ASSERT_EQ(2u, info->cDistPoint);
  for (DWORD i = 0; i < 2; ++i) {
    ASSERT_EQ(DWORD(CRL_DIST_POINT_FULL_NAME), info->rgDistPoint[i].DistPointName.dwDistPointNameChoice);
    ASSERT_EQ(1u, info->rgDistPoint[i].DistPointName.FullName.cAltEntry);
  }
  const CERT_ALT_NAME_ENTRY& url = info->rgDistPoint[0].DistPointName.FullName.rgAltEntry[0];
  EXPECT_EQ(DWORD(CERT_ALT_NAME_URL), url.dwAltNameChoice);
  EXPECT_EQ("http://127.0.0.1:2/a.crl", narrow(url.pwszURL));
  EXPECT_EQ(DWORD(CERT_ALT_NAME_DNS_NAME), info->rgDistPoint[1].DistPointName.FullName.rgAltEntry[0].dwAltNameChoice);
}

TEST(CryptDecodeObject, ShortBufferAndGarbage) {
  const Bytes cdp = extensionValue(NID_crl_distribution_points, "URI:http://127.0.0.1:2/a.crl");
  DWORD size = 0;
  ASSERT_TRUE(CryptDecodeObject(X509_ASN_ENCODING, X509_CRL_DIST_POINTS, cdp.data(), DWORD(cdp.size()), 0, nullptr, &size));
  std::vector<BYTE> small(size - 1);
  DWORD smallSize = DWORD(small.size());
  EXPECT_FALSE(CryptDecodeObject(X509_ASN_ENCODING, X509_CRL_DIST_POINTS, cdp.data(), DWORD(cdp.size()), 0, small.data(), &smallSize));
  EXPECT_EQ(DWORD(ERROR_MORE_DATA), GetLastError());
  EXPECT_EQ(size, smallSize);
  const BYTE garbage[] = {0x30, 0x05, 0x01, 0x02};
  EXPECT_FALSE(CryptDecodeObject(X509_ASN_ENCODING, X509_CRL_DIST_POINTS, garbage, sizeof garbage, 0, nullptr, &size));
  EXPECT_FALSE(CryptDecodeObject(X509_ASN_ENCODING, X509_AUTHORITY_INFO_ACCESS, cdp.data(), DWORD(cdp.size()), 0, nullptr, &size));
}

TEST(CrlContext, FindsARevokedSerialOnly) {
  const std::string dir = platform::machineRoot() + "/kit";
  testpki::Kit kit = testpki::Kit::make(dir, 18888, 18080);
  ASSERT_EQ(0, std::system(("openssl ca -batch -config " + kit.path("ca.cnf") + " -name int -revoke " +
                            kit.path("rsa2048.pem") + " >/dev/null 2>&1").c_str()));
  testpki::runMakePki({"crl", dir});
  const Bytes crlBytes = testpki::readFile(kit.path("int.crl"));
  PCCRL_CONTEXT crl = CertCreateCRLContext(X509_ASN_ENCODING, crlBytes.data(), DWORD(crlBytes.size()));
  ASSERT_TRUE(crl);
  EXPECT_EQ(1u, crl->pCrlInfo->cCRLEntry);
  Context revoked(kit.certificate("rsa2048"));
  Context good(kit.certificate("rsa1024"));
  PCRL_ENTRY entry = nullptr;
  ASSERT_TRUE(CertFindCertificateInCRL(revoked.context, crl, 0, nullptr, &entry));
  ASSERT_TRUE(entry);
  EXPECT_NE(0u, entry->RevocationDate.dwHighDateTime);
  ASSERT_TRUE(CertFindCertificateInCRL(good.context, crl, 0, nullptr, &entry));
  EXPECT_EQ(nullptr, entry);
  EXPECT_TRUE(CertFreeCRLContext(crl));
  const BYTE garbage[] = {'<', 'h', 't', 'm', 'l', '>'};
  EXPECT_EQ(nullptr, CertCreateCRLContext(X509_ASN_ENCODING, garbage, sizeof garbage));
}

std::vector<std::string> names(HCERTSTORE store) {
  std::vector<std::string> out;
  PCCERT_CONTEXT c = nullptr;
  while ((c = CertEnumCertificatesInStore(store, c)) != nullptr) {
    char name[256];
    CertGetNameStringA(c, CERT_NAME_RDN_TYPE, 0, nullptr, name, sizeof name);
    out.push_back(name);
  }
  return out;
}

TEST(CertStore, FileStoreReadsBundlesSingleCertificatesAndRefusesOtherFiles) {
  const testpki::Kit& kit = testpki::Kit::standard();
  const std::string bundle = platform::machineRoot() + "/bundle.p7b";
  ASSERT_EQ(0, std::system(("openssl crl2pkcs7 -nocrl -certfile " + kit.path("root.pem") + " -certfile " +
                            kit.path("int.pem") + " -outform DER -out " + bundle).c_str()));
  const std::string html = platform::machineRoot() + "/page.html";
  testpki::writeFile(html, Bytes{'<', 'h', 't', 'm', 'l', '>', '\n'});
  struct Row {
    std::string path;
    std::vector<std::string> names;
  } rows[] = {
      {bundle, {"Quarvel Test Root, Quarvel Test, AT", "Quarvel Test Intermediate, Quarvel Test, AT"}},
      {kit.path("int.der"), {"Quarvel Test Intermediate, Quarvel Test, AT"}},
      {kit.path("int.pem"), {"Quarvel Test Intermediate, Quarvel Test, AT"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.path);
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_FILENAME_A, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, 0, row.path.c_str());
    ASSERT_TRUE(store);
    EXPECT_EQ(row.names, names(store));
    EXPECT_TRUE(CertCloseStore(store, 0));
  }
  EXPECT_EQ(nullptr, CertOpenStore(CERT_STORE_PROV_FILENAME_A, X509_ASN_ENCODING, 0, 0, html.c_str()));
  EXPECT_EQ(nullptr, CertOpenStore(CERT_STORE_PROV_FILENAME_A, X509_ASN_ENCODING, 0, 0, "C:\\missing.p7b"));
}

TEST(CertStore, WidePathsAndPemBundlesWhateverTheEncodingTypeSays) {
  const testpki::Kit& kit = testpki::Kit::standard();
  const std::string pem = platform::machineRoot() + "/bündel.p7b";
  testpki::writeFile(pem, testpki::pemBundle(testpki::certsOnlyBundle({kit.certificate("root"), kit.certificate("int")})));
  const int length = MultiByteToWideChar(CP_UTF8, 0, pem.c_str(), -1, nullptr, 0);
  std::vector<WCHAR> path(static_cast<size_t>(length));
  MultiByteToWideChar(CP_UTF8, 0, pem.c_str(), -1, path.data(), length);
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_FILENAME_W, 0, 0, CERT_STORE_READONLY_FLAG, path.data());
  ASSERT_TRUE(store);
  EXPECT_EQ((std::vector<std::string>{"Quarvel Test Root, Quarvel Test, AT", "Quarvel Test Intermediate, Quarvel Test, AT"}),
            names(store));
  CertCloseStore(store, 0);
}

TEST(CertSignatures, VerifiedWithTheIssuersKeyAndNamesComparedByTheirBytes) {
  const testpki::Kit& kit = testpki::Kit::standard();
  Context root(kit.certificate("root")), intermediate(kit.certificate("int")), p256(kit.certificate("p256"));
  const Bytes crl = testpki::readFile(kit.path("root.crl"));
  const Bytes byEcKey = testpki::makeCertificate({{{"CN", "By EC"}}, {{"CN", "EC"}}, kit.path("p224.key"), kit.path("p256.key")});
  const Bytes garbage = {0x30, 0x03, 0x02, 0x01, 0x05};
  struct Row {
    const char* what;
    Bytes signedBytes;
    PCCERT_CONTEXT signer;
    HRESULT error;  // S_OK: verifies
  } rows[] = {
      {"the intermediate by the root", Bytes(intermediate.context->pbCertEncoded,
                                             intermediate.context->pbCertEncoded + intermediate.context->cbCertEncoded),
       root.context, S_OK},
      {"the intermediate by itself", Bytes(intermediate.context->pbCertEncoded,
                                           intermediate.context->pbCertEncoded + intermediate.context->cbCertEncoded),
       intermediate.context, NTE_BAD_SIGNATURE},
      {"the root's CRL by the root", crl, root.context, S_OK},
      {"the root's CRL by the intermediate", crl, intermediate.context, NTE_BAD_SIGNATURE},
      {"an ECDSA signature (named-curve parameters)", byEcKey, p256.context, S_OK},
      {"a broken ECDSA signature", testpki::withBrokenSignature(byEcKey), p256.context, NTE_BAD_SIGNATURE},
      {"no certificate and no CRL", garbage, root.context, CRYPT_E_ASN1_BADTAG},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const BOOL ok = CryptVerifyCertificateSignature(0, X509_ASN_ENCODING, row.signedBytes.data(),
                                                    static_cast<DWORD>(row.signedBytes.size()),
                                                    &row.signer->pCertInfo->SubjectPublicKeyInfo);
    EXPECT_EQ(row.error == S_OK, ok == TRUE);
    if (row.error != S_OK) {
      EXPECT_EQ(static_cast<DWORD>(row.error), GetLastError());
    }
  }
  EXPECT_TRUE(CertCompareCertificateName(X509_ASN_ENCODING, &intermediate.context->pCertInfo->Issuer,
                                         &root.context->pCertInfo->Subject));
  EXPECT_FALSE(CertCompareCertificateName(X509_ASN_ENCODING, &intermediate.context->pCertInfo->Subject,
                                          &root.context->pCertInfo->Subject));
}

TEST(CertStore, SystemStoresPersistAndRefuseASecondCopy) {
  const testpki::Kit& kit = testpki::Kit::standard();
  Context root(kit.certificate("root"));
  HCERTSTORE store = CertOpenSystemStoreA(0, "Root");
  ASSERT_TRUE(store);
  EXPECT_TRUE(names(store).empty());
  EXPECT_TRUE(CertAddCertificateContextToStore(store, root.context, CERT_STORE_ADD_NEW, nullptr));
  EXPECT_FALSE(CertAddCertificateContextToStore(store, root.context, CERT_STORE_ADD_NEW, nullptr));
  EXPECT_EQ(DWORD(CRYPT_E_EXISTS), GetLastError());
  CertCloseStore(store, 0);

  // Another opening (as another process would) sees it once; the CA store and
  // the machine's Root store are other stores.
  store = CertOpenSystemStoreA(0, "ROOT");
  EXPECT_EQ(std::vector<std::string>{"Quarvel Test Root, Quarvel Test, AT"}, names(store));
  CertCloseStore(store, 0);
  store = CertOpenSystemStoreA(0, "CA");
  EXPECT_TRUE(names(store).empty());
  CertCloseStore(store, 0);
  store = CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, "Root");
  EXPECT_TRUE(names(store).empty());
  CertCloseStore(store, 0);
}

// Two handles of one store, as two processes hold them: each add sees the other's,
// and the file is the certs-only bundle OpenSSL writes for them, in their order.
TEST(CertStore, AddsOfTwoHandlesMeetInOneFile) {
  const testpki::Kit& kit = testpki::Kit::standard();
  const Bytes intermediate = kit.certificate("int"), tls = kit.certificate("tls"), signer = kit.certificate("rsa2048");
  Context a(intermediate), b(tls), c(signer);
  HCERTSTORE first = CertOpenSystemStoreA(0, "CA");
  HCERTSTORE second = CertOpenSystemStoreA(0, "CA");
  EXPECT_TRUE(CertAddCertificateContextToStore(first, a.context, CERT_STORE_ADD_NEW, nullptr));
  EXPECT_TRUE(CertAddCertificateContextToStore(second, b.context, CERT_STORE_ADD_NEW, nullptr));
  EXPECT_TRUE(CertAddCertificateContextToStore(first, c.context, CERT_STORE_ADD_NEW, nullptr));
  EXPECT_FALSE(CertAddCertificateContextToStore(first, b.context, CERT_STORE_ADD_NEW, nullptr));
  EXPECT_EQ(DWORD(CRYPT_E_EXISTS), GetLastError());
  PCCERT_CONTEXT kept = nullptr;
  EXPECT_TRUE(CertAddCertificateContextToStore(second, c.context, CERT_STORE_ADD_USE_EXISTING, &kept));
  ASSERT_NE(nullptr, kept);
  EXPECT_EQ(signer, Bytes(kept->pbCertEncoded, kept->pbCertEncoded + kept->cbCertEncoded));
  CertFreeCertificateContext(kept);
  CertCloseStore(first, 0);
  CertCloseStore(second, 0);
  EXPECT_EQ(testpki::certsOnlyBundle({intermediate, tls, signer}),
            testpki::readFile(platform::machineRoot() + "/crypt/user/ca.p7b"));
}

TEST(CertNames, SubjectIssuerAndDisplayName) {
  const testpki::Kit& kit = testpki::Kit::standard();
  Context cert(kit.certificate("rsa2048"));
  char buffer[256];
  DWORD x500 = CERT_X500_NAME_STR;
  CertGetNameStringA(cert.context, CERT_NAME_RDN_TYPE, 0, &x500, buffer, sizeof buffer);
  EXPECT_STREQ("CN=Quarvel Test Signer RSA 2048, O=Quarvel Test, C=AT", buffer);
  CertGetNameStringA(cert.context, CERT_NAME_RDN_TYPE, CERT_NAME_ISSUER_FLAG, nullptr, buffer, sizeof buffer);
  EXPECT_STREQ("Quarvel Test Intermediate, Quarvel Test, AT", buffer);
  CertGetNameStringA(cert.context, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, buffer, sizeof buffer);
  EXPECT_STREQ("Quarvel Test Signer RSA 2048", buffer);
  EXPECT_EQ(6u, CertGetNameStringA(cert.context, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, buffer, 6));
  EXPECT_STREQ("Quarv", buffer);
}

TEST(TempFileNames, CreatesDistinctEmptyFiles) {
  char folder[MAX_PATH];
  ASSERT_GT(GetTempPathA(sizeof folder, folder), 0u);
  CreateDirectoryA("C:\\Users", nullptr);
  ASSERT_EQ(0, std::system(("mkdir -p '" + platform::mapPath(folder) + "'").c_str()));
  char first[MAX_PATH], second[MAX_PATH];
  ASSERT_NE(0u, GetTempFileNameA(folder, "dl_", 0, first));
  ASSERT_NE(0u, GetTempFileNameA(folder, "voqx", 0, second));
  EXPECT_STRNE(first, second);
  EXPECT_EQ(0, std::string(first).find(std::string(folder) + "dl_"));
  EXPECT_EQ(0, std::string(second).find(std::string(folder) + "voq"));
  EXPECT_EQ(std::string(".tmp"), std::string(second).substr(std::string(second).size() - 4));
  EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(first));
  EXPECT_TRUE(DeleteFileA(first));
  EXPECT_TRUE(DeleteFileA(second));
  EXPECT_EQ(0x1234u, GetTempFileNameA(folder, "dl_", 0x1234, first));
  EXPECT_EQ(std::string(folder) + "dl_1234.tmp", first);
  EXPECT_EQ(0u, GetTempFileNameA("C:\\no\\such\\folder", "dl_", 0, first));
}

}  // namespace
