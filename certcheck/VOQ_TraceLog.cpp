#include "certcheck/VOQ_TraceLog.h"

#include <stdarg.h>
#include <stdlib.h>

#include "certcheck/VOQ_Configuration.h"

#if defined(__SANITIZE_ADDRESS__)
#define QUARVEL_LEAK_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUARVEL_LEAK_CHECKED 1
#endif
#endif
#ifdef QUARVEL_LEAK_CHECKED
#include <sanitizer/lsan_interface.h>
#endif

namespace {

const int kMaxDepth = 1000;
const char kHexDigits[] = "0123456789abcdef";

// The log's process-wide state. The file is set to null before it is closed, and the
// contexts are never freed: classes and the card library may still log from static
// destructors that run after the exit handler, and then write nothing.
bool g_created = false;
FILE* g_file = nullptr;
VOQ_TraceContext* g_contexts = nullptr;
int g_depth = 0;

void closeLog() {
  FILE* file = g_file;
  g_file = nullptr;
  if (file != nullptr) fclose(file);
}

void writeHexBytes(FILE* file, const unsigned char* data, unsigned int length, unsigned int lineBytes) {
  for (unsigned int i = 0; i < length; ++i) {
    if (lineBytes != 0 && i % lineBytes == 0) fprintf(file, "\n%*s", g_depth, "");
    fputc(kHexDigits[data[i] >> 4], file);
    fputc(kHexDigits[data[i] & 0x0f], file);
  }
}

}  // namespace

VOQ_TraceLog* VOQ_TraceLog::getInstance(const char* fileName) {
  static VOQ_TraceLog instance;
  if (!g_created) {
    g_created = true;
    if (fileName != nullptr) g_file = _fsopen(fileName, "wb+", _SH_DENYNO);
    atexit(closeLog);
  }
  return &instance;
}

VOQ_TraceLog* VOQ_TraceLog::getInstance(VOQ_Configuration& configuration, HKEY root, const char* subKey,
                                        const char* valueName) {
  if (g_created) return getInstance(nullptr);
  const char* fileName = nullptr;
  if (const VOQ_ConfigurationEntry* entry = configuration.find(root, subKey, valueName)) {
    const char* text = entry->getString();
    if (text != nullptr && text[0] != '\0') fileName = text;
  }
  return getInstance(fileName);
}

VOQ_TraceContext* VOQ_TraceLog::createContext(const char* className) {
  g_contexts = new VOQ_TraceContext(className, g_contexts);
#ifdef QUARVEL_LEAK_CHECKED
  // Kept on purpose (see above); a module unloaded with its list is no leak to report.
  __lsan_ignore_object(g_contexts);
#endif
  return g_contexts;
}

FILE* VOQ_TraceLog::getFile() const { return g_file; }

int VOQ_TraceLog::getDepth() { return g_depth; }

void VOQ_TraceContext::writeHead(FILE* file, const char* method, bool blank) const {
  fprintf(file, "%*s", g_depth, "");
  if (method == nullptr) return;
  if (className != nullptr) fprintf(file, "%s::", className);
  fprintf(file, blank ? "%s(...) " : "%s(...)", method);
}

int VOQ_TraceContext::log(const char* method, const char* text, int kind) {
  FILE* file = g_file;
  if (file == nullptr) return 0;
  if (kind == LEAVE && g_depth > 0) --g_depth;
  writeHead(file, method, true);
  if (text != nullptr && text[0] != '\0') fprintf(file, "%s\n", text);
  if (kind == ENTER && g_depth < kMaxDepth) ++g_depth;
  return fflush(file);
}

int VOQ_TraceContext::logHex(const char* method, const char* label, const unsigned char* data,
                             unsigned int length, int width) {
  FILE* file = g_file;
  if (file == nullptr) return 0;
  if (method != nullptr) {
    writeHead(file, method, false);
    if (label != nullptr) fprintf(file, "%s: ", label);
  }
  if (data != nullptr && length != 0) {
    // A width below 1 would divide by zero; such callers get the usual 16.
    const unsigned int lineBytes = 2u * static_cast<unsigned int>(width < 1 ? 16 : width);
    writeHexBytes(file, data, length, lineBytes);
    fputc('\n', file);
  }
  return fflush(file);
}

int VOQ_TraceContext::logRaw(const char* method, const char* label, const unsigned char* data,
                             unsigned int length) {
  FILE* file = g_file;
  if (file == nullptr) return 0;
  if (method != nullptr) {
    writeHead(file, method, false);
    if (label != nullptr) fprintf(file, "%s: ", label);
  }
  if (data != nullptr && length != 0) fwrite(data, 1, length, file);
  fputc('\n', file);
  return fflush(file);
}

int VOQ_TraceContext::logFormat(const char* method, const char* format, ...) {
  FILE* file = g_file;
  if (file == nullptr) return 0;
  writeHead(file, method, true);
  if (format != nullptr && format[0] != '\0') {
    va_list args;
    va_start(args, format);
    vfprintf(file, format, args);
    va_end(args);
  }
  return fflush(file);
}

int VOQ_TraceContext::logBits(const char* method, const char* text, unsigned int value) {
  FILE* file = g_file;
  if (file == nullptr) return 0;
  writeHead(file, method, true);
  if (text != nullptr && text[0] != '\0') fprintf(file, " %s ", text);
  for (int bit = 0; bit < 16; ++bit) fputc((value >> bit) & 1u ? '1' : '0', file);
  fputc('\n', file);
  return fflush(file);
}

int VOQ_TraceContext::logChar(int c) {
  FILE* file = g_file;
  if (file == nullptr) return 0;
  fputc(c, file);
  return fflush(file);
}

void traceHexDump(FILE* file, const char* functionName, const char* name, const unsigned char* data,
                  unsigned int length) {
  if (file == nullptr) return;
  fprintf(file, "%s -> ", functionName != nullptr ? functionName : "");
  fprintf(file, "%s ", name != nullptr ? name : "");
  if (data != nullptr) writeHexBytes(file, data, length, 0);
  fflush(file);
}
