// Small helpers over the viewer's Cos objects and cabinets and over plain names: the
// trusted-certificates cabinet as an OpenSSL stack, ASCII case folding, the three-way
// name comparison of annotation subtypes, trace-log dumps of objects and cabinets, and
// the owner of a host callback for one scope.
#pragma once

#include <openssl/x509.h>

#include "certcheck/VOQ_TraceLog.h"
#include "foundation/util/VOQ_String.h"
#include "pisdk/PICalls.h"

// A host callback owned for one scope: destroyed when the scope ends, on every path.
class ScopedCallback {
 public:
  explicit ScopedCallback(ASCallback callback) : callback(callback) {}
  // A raise while destroying it is the host's and ends here: it must not leave a
  // destructor.
  ~ScopedCallback() {
    if (callback == nullptr) return;
    DURING
      ASCallbackDestroy(callback);
    HANDLER
    END_HANDLER
  }
  ScopedCallback(const ScopedCallback&) = delete;
  ScopedCallback& operator=(const ScopedCallback&) = delete;
  ASCallback get() const { return callback; }

 private:
  ASCallback callback;
};

// Pushes every binary value of the cabinet that decodes as a DER certificate onto the
// stack, in the cabinet's order; the first value of another kind ends the walk. The
// caller owns the stack and the certificates.
void cabToX509Stack(ASCab cab, STACK_OF(X509) * stack);

// A to Z and a to z; every other byte, also above 127, stays as it is.
char toLowerAscii(char c);
char toUpperAscii(char c);

// -1, 0 or 1 as a sorts before, with or after b; an absent text sorts before any text.
int compareNames(const char* a, const char* b, bool caseSensitive);

// When the object is a dictionary whose entry for key is a name: appends the name's
// text to output and answers true. Otherwise empties output and answers false.
bool getDictNameValue(CosObj object, const char* key, VOQ_String& output);

// Diagnostics into the trace log; nothing writes when the log has no file.
CosType dumpObject(CosObj object, VOQ_TraceContext* trace);
void dumpIndirectObject(CosObj object, VOQ_TraceContext* trace);
void dumpIndirectObjects(PDDoc doc, VOQ_TraceContext* trace);
void dumpCab(ASCab cab, VOQ_TraceContext* trace);
// Logs the kind of every value of the cabinet.
void logCabValueKinds(ASCab cab, VOQ_TraceContext* trace);
// Whether the process-wide diagnostic flag is clear; nothing sets it.
bool isFlagClear();
// A simple panel text that nothing calls, apart from the viewer's GetText: logs the
// request and the result cabinet, and answers for the text types 1, 2, 3 and 6 to 10
// the validity of "id" and whether "trustFlags" trusts the certificate, two lines;
// nullptr for the other types.
ASText getText(ASCab resultCab, DSSigValText kind, ASInt32 number, VOQ_TraceContext* trace);
