// INTERIM: see VerificationServices.h. Until the parts named there land, these bodies
// fail honestly: a verification that needs one of them ends in the failure path with the
// internal-error text, never in a success.
#include "VerificationServices.h"

DWORD validateCertificate(const unsigned char*, unsigned int, bool*, VOQ_Time&, VOQ_ProxySettings*,
                          VOQ_ProxySettings*) {
  return 0x80030000;
}
DWORD validateCertificateWithTrustedCerts(STACK_OF(X509) *, const unsigned char*, unsigned int, bool*, VOQ_Time&,
                                          VOQ_ProxySettings*, VOQ_ProxySettings*) {
  return 0x80030000;
}
