// The import of a certification authority's certificates into the current
// user's "Root" and "CA" stores, shared by the plug-in's download command and
// the installer.
#pragma once

// Imports the certificates of a file (a PKCS#7 bundle, one certificate or PEM
// certificates). Into "Root" only a self-signed certificate (issuer and subject
// equal as DER, its own key verifies its signature) that is a CA as OpenSSL's
// X509_check_ca judges it (a version 1 root without extensions counts); into
// "CA" only one that chains to a certificate in the Root store of the user or
// of the machine (over others of the file or of the CA stores). Every store is
// read once, so the work grows with the size of the file and the stores, not
// with their product.
// True when at least one certificate was accepted and every accepted one is in
// its store afterwards (one that was there already counts: a second import is
// true as well); false when the file is no certificate store, nothing in it is
// accepted, or a store could not take one.
bool importCertificateBundle(const char* path);
