// What the signature engine calls of the other parts of the plug-in and of the checking
// library, gathered while those parts arrive.
//
// INTERIM: each declaration moves to the header of the part that defines it when that
// part lands; VerificationServices.cpp holds the interim bodies of those not there yet.
#pragma once

#include <openssl/x509.h>
#include <stdint.h>
#include <windows.h>

#include "certcheck/VOQ_ProxySettings.h"
#include "certcheck/VOQ_Time.h"
#include "foundation/util/VOQ_String.h"

// Certificate validation at the validation time, through the system's stores or the
// given trusted certificates; 0 when valid.
DWORD validateCertificate(const unsigned char* certificate, unsigned int length, bool* qualified, VOQ_Time& time,
                          VOQ_ProxySettings* httpProxy, VOQ_ProxySettings* httpsProxy);
DWORD validateCertificateWithTrustedCerts(STACK_OF(X509) * trusted, const unsigned char* certificate,
                                          unsigned int length, bool* qualified, VOQ_Time& time,
                                          VOQ_ProxySettings* httpProxy, VOQ_ProxySettings* httpsProxy);

