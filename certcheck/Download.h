// Downloads over HTTP/1.0 (directly, through an HTTP proxy, or through an
// HTTPS proxy's CONNECT tunnel with TLS), the HTTP reply parsers the OCSP and
// CRL retrieval share, and the import of a certification authority's bundle
// into the user's "Root" and "CA" stores. Every operation reports through its
// result only; nothing is logged or shown.
#pragma once

#include <windows.h>
#include <openssl/bio.h>

class VOQ_String;
class VOQ_ProxySettings;

// Parses an HTTP status line (a NUL-terminated text, changed in place): the
// version token, white space, the decimal code followed by white space. The code
// is stored as soon as it is converted, also when it is not all digits (false).
bool parseStatusLine(int& status, char* text);
// The value of the last Content-Length header line of a reply read from its
// first line; 0 without one. The BIO is left at the first byte of the body.
int parseContentLength(BIO* reply);

// The names the certificate validation uses for the same two parsers.
inline bool parseHTTPStatusLine(int& status, char* text) { return parseStatusLine(status, text); }
inline int readContentLength(BIO* reply) { return parseContentLength(reply); }

// GET of the URL on a direct connection (TLS with server verification for an
// https URL); the body becomes the file, which is deleted first.
bool getFileFromURL(const VOQ_String& url, const VOQ_String& file);
// GET through an HTTP proxy.
bool downloadFileThroughProxy(const VOQ_ProxySettings* http, const VOQ_String& url, const VOQ_String& file);
// CONNECT tunnel to host:port through the HTTPS proxy, TLS with server
// verification, then GET.
bool downloadFileThroughHttpsProxy(const VOQ_String& host, const VOQ_String& port, const VOQ_ProxySettings* https,
                                   const VOQ_String& url, const VOQ_String& file);
// Makes a temporary file ("dl_" prefix), hands its name out at once, and
// downloads the URL into it: directly without proxy records, else through the
// proxy that fits the URL's scheme.
bool downloadToTempFile(const VOQ_ProxySettings* http, const VOQ_ProxySettings* https, const VOQ_String& url,
                        VOQ_String& outName);
// Downloads a certificate bundle ("voq" temporary file, deleted afterwards) and
// imports it with importCertificateBundle (CertificateImport.h).
bool installRootCertificatesFromURL(const VOQ_ProxySettings* http, const VOQ_ProxySettings* https,
                                    const VOQ_String& url);

// The first name "C:\VOQ_TempFile_<n>.<extension>" (without the extension when
// it is empty) that cannot be opened. Nothing calls it.
bool makeTempFileName(VOQ_String& out, const VOQ_String& extension);
// Dispatches the pending messages of the window (every window of the thread for
// NULL), 50 ms apart. Returns 0. Nothing calls it.
int pumpMessages(HWND window);
