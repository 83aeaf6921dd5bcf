#include "certcheck/Download.h"

#include <windows.h>

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "certcheck/CertificateImport.h"
#include "certcheck/HttpTransport.h"
#include "certcheck/VOQ_ProxySettings.h"
#include "foundation/util/VOQ_String.h"

namespace {

bool isWhite(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

using MemoryBio = std::unique_ptr<BIO, decltype(&BIO_free_all)>;

MemoryBio newMemoryBio() { return MemoryBio(BIO_new(BIO_s_mem()), BIO_free_all); }

// The URL as a text of its own; NULL when the string holds a zero byte or none.
const char* urlText(const VOQ_String& url) {
  const char* data = url.getData();
  if (!data || url.getLength() == 0 || strlen(data) != url.getLength()) return nullptr;
  return data;
}

bool writeFile(const VOQ_String& file, const std::string& body) {
  FILE* f = nullptr;
  if (fopen_s(&f, file.getData(), "wb") != 0 || !f) return false;
  const bool written = fwrite(body.data(), 1, body.size(), f) == body.size();
  return fclose(f) == 0 && written;
}

// Reads the reply (status 200, a positive Content-Length, that many bytes
// arrived) and writes its body to the file.
bool receiveIntoFile(HttpConnection& connection, const VOQ_String& file) {
  MemoryBio reply = newMemoryBio();
  if (!reply) return false;
  if (readReply(connection, reply.get(), DOWNLOAD_REPLY_CAP, nullptr) != ReplyOutcome::Ok) return false;
  connection.shutdown();
  const int length = parseContentLength(reply.get());
  std::string body;
  if (!takeBody(reply.get(), length, body)) return false;
  return writeFile(file, body);
}

std::string getRequest(const char* url, const std::string& authorization) {
  return std::string("GET ") + url + " HTTP/1.0\r\n" + authorization + "\r\n";
}

}  // namespace

bool parseStatusLine(int& status, char* text) {
  if (!text) return false;
  char* p = text;
  while (*p && !isWhite(*p)) ++p;
  if (!*p) return false;
  while (*p && isWhite(*p)) ++p;
  if (!*p) return false;
  char* token = p;
  while (*p && !isWhite(*p)) ++p;
  if (!*p) return false;
  *p = 0;
  char* end = nullptr;
  status = static_cast<int>(strtoul(token, &end, 10));
  if (*end) return false;
  ++p;
  while (*p && isWhite(*p)) ++p;
  if (!*p) return true;
  char* last = p + strlen(p);
  while (last > p && isWhite(last[-1])) *--last = 0;
  return true;
}

int parseContentLength(BIO* reply) {
  int value = 0;
  if (!reply) return value;
  char line[512];
  for (;;) {
    const int n = BIO_gets(reply, line, sizeof line);
    if (n <= 0) return value;
    const char* p = line;
    while (*p && isWhite(*p)) ++p;
    if (!*p) return value;
    char lower[512];
    size_t i = 0;
    for (; line[i] && i < sizeof lower - 1; ++i) lower[i] = static_cast<char>(tolower(static_cast<unsigned char>(line[i])));
    lower[i] = 0;
    if (!strstr(lower, "content-length:")) continue;
    const char* colon = strchr(line, ':');
    if (!colon) continue;
    const char* number = colon + 1;
    while (*number == ' ') ++number;
    char digits[512];
    size_t k = 0;
    while (number[k] && number[k] != ' ' && k < sizeof digits - 1) {
      digits[k] = number[k];
      ++k;
    }
    digits[k] = 0;
    long long parsed = strtoll(digits, nullptr, 10);
    if (parsed > INT_MAX) parsed = INT_MAX;
    if (parsed < INT_MIN) parsed = INT_MIN;
    value = static_cast<int>(parsed);
  }
}

bool getFileFromURL(const VOQ_String& url, const VOQ_String& file) {
  DeleteFileA(file.getData());
  const char* text = urlText(url);
  ParsedUrl parts;
  if (!text || !splitUrl(text, parts)) return false;
  HttpConnection connection;
  if (!connection.connect(parts.host, parts.port)) return false;
  // An https URL never travels in clear.
  if (parts.ssl && !connection.startTls(parts.host)) return false;
  if (!connection.send(getRequest(text, ""))) return false;
  return receiveIntoFile(connection, file);
}

bool downloadFileThroughProxy(const VOQ_ProxySettings* http, const VOQ_String& url, const VOQ_String& file) {
  const char* text = urlText(url);
  std::string authorization;
  if (!http || !text || !isSafeUrl(text) || !proxyAuthorizationLine(*http, authorization)) return false;
  HttpConnection connection;
  if (!connection.connect(*http)) return false;
  if (!connection.send(getRequest(text, authorization))) return false;
  return receiveIntoFile(connection, file);
}

bool downloadFileThroughHttpsProxy(const VOQ_String& host, const VOQ_String& port, const VOQ_ProxySettings* https,
                                   const VOQ_String& url, const VOQ_String& file) {
  const char* text = urlText(url);
  const char* hostText = urlText(host);
  const char* portText = urlText(port);
  if (!https || !text || !hostText || !portText || !isSafeUrl(text)) return false;
  HttpConnection connection;
  if (openTunnel(connection, *https, hostText, portText) != TunnelOutcome::Ok) return false;
  if (!connection.send(std::string("GET ") + text + " HTTP/1.0\r\n\r\n")) return false;
  return receiveIntoFile(connection, file);
}

namespace {

bool makeTemporaryFile(const char* prefix, VOQ_String& name) {
  char directory[1024];
  const DWORD length = GetTempPathA(sizeof directory, directory);
  if (length == 0 || length >= sizeof directory) return false;
  char path[MAX_PATH + 1];
  if (GetTempFileNameA(directory, prefix, 0, path) == 0) return false;
  name.assign(path);
  return true;
}

bool download(const VOQ_ProxySettings* http, const VOQ_ProxySettings* https, const VOQ_String& url,
              const VOQ_String& file) {
  if (!http && !https) return getFileFromURL(url, file);
  // Both records or neither: with proxies there is no direct road.
  if (!http || !https) return false;
  const char* text = urlText(url);
  ParsedUrl parts;
  if (!text || !splitUrl(text, parts)) return false;
  if (parts.ssl) {
    if (!https->isHostReachable()) return false;
    return downloadFileThroughHttpsProxy(VOQ_String(parts.host.c_str()), VOQ_String(parts.port.c_str()), https, url,
                                         file);
  }
  if (!http->isHostReachable()) return false;
  return downloadFileThroughProxy(http, url, file);
}

}  // namespace

bool downloadToTempFile(const VOQ_ProxySettings* http, const VOQ_ProxySettings* https, const VOQ_String& url,
                        VOQ_String& outName) {
  if (!makeTemporaryFile("dl_", outName)) return false;
  return download(http, https, url, outName);
}

bool installRootCertificatesFromURL(const VOQ_ProxySettings* http, const VOQ_ProxySettings* https,
                                    const VOQ_String& url) {
  VOQ_String name;
  if (!makeTemporaryFile("voq", name)) return false;
  const bool imported = download(http, https, url, name) && importCertificateBundle(name.getData());
  DeleteFileA(name.getData());
  return imported;
}

bool makeTempFileName(VOQ_String& out, const VOQ_String& extension) {
  const bool plain = extension.getLength() == 0 || !extension.getData() || extension.getData()[0] == 0;
  if (!plain && extension.getLength() > 64) return false;
  for (int n = 0; n < INT_MAX; ++n) {
    char name[1024];
    if (plain)
      _snprintf(name, sizeof name, "C:\\VOQ_TempFile_%i", n);
    else
      _snprintf(name, sizeof name, "C:\\VOQ_TempFile_%i.%s", n, extension.getData());
    name[sizeof name - 1] = 0;
    FILE* f = nullptr;
    if (fopen_s(&f, name, "rb") == 0 && f) {
      fclose(f);
      continue;
    }
    out.assign(name);
    return true;
  }
  return false;
}

int pumpMessages(HWND window) {
  MSG message;
  while (PeekMessageA(&message, window, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
    Sleep(50);
  }
  return 0;
}
