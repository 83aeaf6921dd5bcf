// Importing a downloaded certificate bundle into the current user's trust stores.
#pragma once

// Puts the certificates of a bundle file (a PKCS#7 certs-only bundle in DER or PEM,
// one DER certificate or PEM certificates) into the current user's stores:
// - "Root" takes a certificate only when it is self-issued (issuer and subject are
//   the same name, compared as their whole DER encoding) and its signature verifies
//   with its own key;
// - "CA" takes one only when it chains to a certificate of "Root": its issuer's name
//   and key are those of a "Root" certificate, or of a certificate of the bundle or
//   of "CA" that chains to one itself.
// Everything else stays out. A certificate already in its store counts as accepted.
// True when the file is a certificate store and at least one certificate was accepted.
// The path is an ANSI text of any length.
bool importCertificateBundle(const char* bundleFile);
