// The import of a certification authority's certificates into the current
// user's "Root" and "CA" stores, shared by the plug-in's download command and
// the installer.
#pragma once

// Imports the certificates of a file (a PKCS#7 bundle, one certificate or PEM
// certificates): into "Root" only a certificate issued by itself (issuer and
// subject equal as DER) whose own signature verifies; into "CA" only one that
// chains to a certificate in "Root" (through others of the file or of "CA").
// True when the file is a certificate store and at least one certificate was
// accepted; one that is already there counts as accepted.
bool importCertificateBundle(const char* path);
