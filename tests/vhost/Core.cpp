// Core, AcroSupport and ASExtra: atoms, callbacks, frames, files, texts and cabinets.
#include <cstdio>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string_view>

#include <qpdf/QPDFExc.hh>

#include "ViewerState.h"
#include "platform/machine.h"

namespace vhost {

namespace {
Viewer::State* theState = nullptr;

void releaseValue(CabValue& value) {
  if (value.text) ops::ASTextDestroy(value.text);
  if (value.cab) ops::ASCabDestroy(value.cab);
  value.text = nullptr;
  value.cab = nullptr;
}

CabValue* findValue(ASCab cab, const char* key) {
  if (key == nullptr) raise(genErrBadParm);
  for (auto& entry : cabOf(cab).entries) {
    if (entry.first == key) return &entry.second;
  }
  return nullptr;
}

// The value of a key when it has `type`; a value of another type raises.
CabValue* typedValue(ASCab cab, const char* key, ASInt32 type) {
  CabValue* value = findValue(cab, key);
  if (value != nullptr && value->type != type) raise(genErrBadParm);
  return value;
}
}  // namespace

Viewer::State& state() {
  if (theState == nullptr) throw std::logic_error("no test viewer exists");
  return *theState;
}

void setState(Viewer::State* s) { theState = s; }

void raise(ASErrorCode code) {
  Viewer::State& s = state();
  s.lastError = code;
  if (!s.frames.empty()) {
    Viewer::State::Frame top = s.frames.back();
    top.restore(top.frame);
  }
  throw pisdk::HostRaise{code};
}

ASErrorCode codeOfCurrentException() {
  try {
    throw;
  } catch (const QPDFExc&) {
    return cosErrRead;
  } catch (const std::bad_alloc&) {
    return genErrNoMemory;
  } catch (const std::exception&) {
    return cosErrBadObject;
  } catch (...) {
    return genErrGeneral;
  }
}

namespace {

int countIn(CallCounts& counts, const char* operation) {
  auto it = counts.find(std::string_view(operation));
  if (it == counts.end()) it = counts.emplace(operation, 0).first;
  return ++it->second;
}

}  // namespace

void countCall(const char* operation) {
  Viewer::State& s = state();
  const int n = countIn(s.calls, operation);
  const int inProcedure = s.procedure.empty() ? 0 : countIn(s.procedureCalls, operation);
  for (const Fault& f : s.config.faults) {
    if (f.operation != operation) continue;
    if (f.during.empty() ? f.nthCall == n : f.during == s.procedure && f.nthCall == inProcedure) raise(f.code);
  }
}

void* callbackProc(ASCallback callback) {
  auto it = state().callbacks.find(callback);
  if (it == state().callbacks.end()) raise(asErrBadCallback);
  return it->second->proc;
}

ASAtom atomOf(const std::string& text) {
  Viewer::State& s = state();
  auto it = s.atomIndex.find(text);
  if (it != s.atomIndex.end()) return it->second;
  if (s.atoms.size() >= ASAtomNull) raise(genErrNoMemory);
  ASAtom atom = static_cast<ASAtom>(s.atoms.size());
  s.atoms.push_back(text);
  s.atomIndex.emplace(text, atom);
  return atom;
}

const std::string& atomText(ASAtom atom) {
  static const std::string none;
  Viewer::State& s = state();
  if (atom >= s.atoms.size()) return none;
  return s.atoms[atom];
}

ASText newText(const std::string& utf8) {
  auto rec = std::make_unique<_t_ASTextRec>(_t_ASTextRec{utf8});
  ASText text = rec.get();
  state().texts.emplace(text, std::move(rec));
  return text;
}

namespace {
_t_ASTextRec& textOf(ASText text) {
  if (state().texts.count(text) == 0) raise(asErrBadHandle);
  return *text;
}
}  // namespace

_t_ASCabRec& cabOf(ASCab cab) {
  auto it = state().cabs.find(cab);
  if (it == state().cabs.end()) raise(asErrBadHandle);
  return *it->second;
}

void putCabValue(ASCab cab, const std::string& key, CabValue value) {
  _t_ASCabRec& rec = cabOf(cab);
  for (auto& entry : rec.entries) {
    if (entry.first == key) {
      releaseValue(entry.second);
      entry.second = std::move(value);
      return;
    }
  }
  rec.entries.emplace_back(key, std::move(value));
}

namespace ops {

// --- Core ------------------------------------------------------------------------------

HFT ASExtensionMgrGetHFT(ASAtom name, ASUns32 version) {
  return hostEntry(__func__, [&]() -> HFT {
    const std::string& text = atomText(name);
    state().hftRequests.push_back(text);
    auto it = state().config.hftVersions.find(text);
    if (it == state().config.hftVersions.end() || it->second < version) return nullptr;
    return Viewer::current().hft(text, version);
  });
}

void* ASGetConfiguration(ASAtom key) {
  return hostEntry(__func__, [&]() -> void* {
    if (atomText(key) != "Product") return nullptr;
    state().productText = state().config.product;
    return const_cast<char*>(state().productText.c_str());
  });
}

ASAtom ASAtomFromString(const char* text) {
  return hostEntry(__func__, [&] {
    if (text == nullptr) raise(genErrBadParm);
    return atomOf(text);
  });
}

const char* ASAtomGetString(ASAtom atom) {
  return hostEntry(__func__, [&] { return atomText(atom).c_str(); });
}

ASBool ASAtomExistsForString(const char* text) {
  return hostEntry(__func__, [&]() -> ASBool {
    return text != nullptr && state().atomIndex.count(text) != 0;
  });
}

ASCallback ASCallbackCreate(ExtensionID extension, void* proc) {
  return hostEntry(__func__, [&] {
    if (proc == nullptr) raise(genErrBadParm);
    auto rec = std::make_unique<_t_ASCallbackRec>(_t_ASCallbackRec{extension, proc});
    ASCallback callback = rec.get();
    state().callbacks.emplace(callback, std::move(rec));
    return callback;
  });
}

void ASCallbackDestroy(ASCallback callback) {
  hostEntry(__func__, [&] {
    if (callback == nullptr) return;
    if (state().callbacks.erase(callback) == 0) raise(asErrBadCallback);
  });
}

void ASPushExceptionFrame(void* frame, ACRestoreProc restore) {
  hostEntry(__func__, [&] {
    if (frame == nullptr || restore == nullptr) raise(genErrBadParm);
    state().frames.push_back({frame, restore});
  });
}

void ASPopExceptionFrame() {
  hostEntry(__func__, [&] {
    if (state().frames.empty()) raise(asErrFrameUnbalanced);
    state().frames.pop_back();
  });
}

ASErrorCode ASGetExceptionErrorCode() {
  return hostEntry(__func__, [&] { return state().lastError; });
}

void ASRaise(ASErrorCode code) {
  hostEntry(__func__, [&] { raise(code); });
}

// --- AcroSupport -------------------------------------------------------------------------

ASUns32 HFTGetVersion(HFT hft) {
  return hostEntry(__func__, [&]() -> ASUns32 {
    for (const auto& [name, version] : state().config.hftVersions) {
      if (Viewer::current().hft(name, 0) == hft) return version;
    }
    return 0;
  });
}

ASFileSys ASFileSysGetDefault() {
  static int defaultFileSys;
  return hostEntry(__func__, [&] { return reinterpret_cast<ASFileSys>(&defaultFileSys); });
}

ASPathName ASFileSysCreatePathName(ASFileSys fileSys, ASAtom pathSpecType, const void* pathSpec,
                                   const void* /*mustBeZero*/) {
  return hostEntry(__func__, [&] {
    if (fileSys != ASFileSysGetDefault() || pathSpec == nullptr) raise(genErrBadParm);
    const std::string& kind = atomText(pathSpecType);
    std::string path;
    if (kind == "ASTextPath") {
      path = textOf(static_cast<ASText>(const_cast<void*>(pathSpec))).utf8;
    } else if (kind == "Cstring") {
      path = static_cast<const char*>(pathSpec);
    } else {
      raise(genErrBadParm);
    }
    auto rec = std::make_unique<_t_ASPathNameRec>(_t_ASPathNameRec{platform::mapPath(path.c_str())});
    ASPathName name = rec.get();
    state().paths.emplace(name, std::move(rec));
    return name;
  });
}

void ASFileSysReleasePath(ASFileSys /*fileSys*/, ASPathName path) {
  hostEntry(__func__, [&] {
    if (path != nullptr && state().paths.erase(path) == 0) raise(asErrBadHandle);
  });
}

ASPathName ASFileAcquirePathName(ASFile file) {
  return hostEntry(__func__, [&] {
    std::string path;
    if (state().files.count(file)) {
      path = file->path;
    } else {
      bool found = false;
      for (auto& doc : state().documents) {
        if (doc && doc->file.get() == file) {
          path = doc->path;
          found = true;
        }
      }
      if (!found) raise(asErrBadHandle);
    }
    auto rec = std::make_unique<_t_ASPathNameRec>(_t_ASPathNameRec{path});
    ASPathName name = rec.get();
    state().paths.emplace(name, std::move(rec));
    return name;
  });
}

ASErrorCode ASFileSysOpenFile(ASFileSys /*fileSys*/, ASPathName path, ASUns16 mode, ASFile* file) {
  return hostEntry(__func__, [&]() -> ASErrorCode {
    if (file == nullptr || state().paths.count(path) == 0) return genErrBadParm;
    *file = nullptr;
    FILE* f = std::fopen(path->path.c_str(), (mode & ASFILE_WRITE) ? "r+b" : "rb");
    if (f == nullptr) return asErrFileOpen;
    auto rec = std::make_unique<_t_ASFileRec>(_t_ASFileRec{path->path, f});
    *file = rec.get();
    state().files.emplace(*file, std::move(rec));
    return 0;
  });
}

namespace {
_t_ASFileRec& openFile(ASFile file) {
  auto it = state().files.find(file);
  if (it == state().files.end()) raise(asErrBadHandle);
  return *it->second;
}
}  // namespace

void ASFileSetPos(ASFile file, ASFilePos pos) {
  hostEntry(__func__, [&] {
    if (pos < 0 || fseeko(openFile(file).file, pos, SEEK_SET) != 0) raise(genErrBadParm);
  });
}

ASInt32 ASFileRead(ASFile file, char* buffer, ASInt32 count) {
  return hostEntry(__func__, [&]() -> ASInt32 {
    if (count < 0 || (buffer == nullptr && count > 0)) raise(genErrBadParm);
    const size_t got = std::fread(buffer, 1, count, openFile(file).file);
    state().fileBytesRead += static_cast<long long>(got);
    return static_cast<ASInt32>(got);
  });
}

ASInt32 ASFileClose(ASFile file) {
  return hostEntry(__func__, [&]() -> ASInt32 {
    std::fclose(openFile(file).file);
    state().files.erase(file);
    return 0;
  });
}

ASFilePos ASFileGetEOF(ASFile file) {
  return hostEntry(__func__, [&]() -> ASFilePos {
    FILE* f = openFile(file).file;
    off_t here = ftello(f);
    fseeko(f, 0, SEEK_END);
    off_t end = ftello(f);
    fseeko(f, here, SEEK_SET);
    return end;
  });
}

const char* ASGetErrorString(ASErrorCode code, char* buffer, ASInt32 size) {
  return hostEntry(__func__, [&]() -> const char* {
    if (buffer == nullptr || size <= 0) raise(genErrBadParm);
    std::snprintf(buffer, static_cast<size_t>(size), "Viewer error 0x%08X.", static_cast<unsigned>(code));
    return buffer;
  });
}

void ASFixedToCString(ASFixed value, char* buffer, ASInt32 size, ASInt16 precision) {
  hostEntry(__func__, [&] {
    if (buffer == nullptr || size <= 0 || precision < 0) raise(genErrBadParm);
    // A 16.16 value has at most 16 decimal places; plug-ins ask for more (32) and get
    // those 16.
    std::snprintf(buffer, static_cast<size_t>(size), "%.*f", precision > 16 ? 16 : precision, value / 65536.0);
  });
}

// --- ASExtra: texts ---------------------------------------------------------------------------

ASText ASTextNew() {
  return hostEntry(__func__, [&] { return newText(""); });
}

ASText ASTextFromEncoded(const char* text, ASHostEncoding encoding) {
  return hostEntry(__func__, [&] {
    if (text == nullptr || encoding != 0) raise(genErrBadParm);
    return newText(text);
  });
}

ASText ASTextDup(ASText text) {
  return hostEntry(__func__, [&] { return newText(textOf(text).utf8); });
}

ASBool ASTextIsEmpty(ASText text) {
  return hostEntry(__func__, [&]() -> ASBool { return textOf(text).utf8.empty(); });
}

const char* ASTextGetEncoded(ASText text, ASHostEncoding encoding) {
  return hostEntry(__func__, [&] {
    if (encoding != 0) raise(genErrBadParm);
    return textOf(text).utf8.c_str();
  });
}

void ASTextDestroy(ASText text) {
  hostEntry(__func__, [&] {
    if (text == nullptr) return;
    textOf(text);
    state().texts.erase(text);
  });
}

// --- ASExtra: cabinets ---------------------------------------------------------------------------

ASCab ASCabNew() {
  return hostEntry(__func__, [&] {
    auto rec = std::make_unique<_t_ASCabRec>();
    ASCab cab = rec.get();
    state().cabs.emplace(cab, std::move(rec));
    return cab;
  });
}

void ASCabDestroy(ASCab cab) {
  hostEntry(__func__, [&] {
    if (cab == nullptr) return;
    for (auto& entry : cabOf(cab).entries) releaseValue(entry.second);
    state().cabs.erase(cab);
  });
}

ASInt32 ASCabNumEntries(ASCab cab) {
  return hostEntry(__func__, [&] { return static_cast<ASInt32>(cabOf(cab).entries.size()); });
}

ASBool ASCabKnown(ASCab cab, const char* key) {
  return hostEntry(__func__, [&]() -> ASBool { return findValue(cab, key) != nullptr; });
}

ASInt32 ASCabGetType(ASCab cab, const char* key) {
  return hostEntry(__func__, [&]() -> ASInt32 {
    CabValue* value = findValue(cab, key);
    return value ? value->type : kASValueUnknown;
  });
}

void ASCabRemove(ASCab cab, const char* key) {
  hostEntry(__func__, [&] {
    if (key == nullptr) raise(genErrBadParm);
    auto& entries = cabOf(cab).entries;
    for (auto it = entries.begin(); it != entries.end(); ++it) {
      if (it->first == key) {
        releaseValue(it->second);
        entries.erase(it);
        return;
      }
    }
  });
}

void ASCabEnum(ASCab cab, ASCallback proc, void* clientData) {
  hostEntry(__func__, [&] {
    auto enumProc = callbackAs<ASCabEnumProc>(proc);
    // A copy of the keys: the procedure may change the cabinet.
    std::vector<std::pair<std::string, ASInt32>> keys;
    for (auto& entry : cabOf(cab).entries) keys.emplace_back(entry.first, entry.second.type);
    for (auto& [key, type] : keys) {
      if (!enumProc(cab, key.c_str(), type, clientData)) break;
    }
  });
}

#define VHOST_PUT_NUMBER(name, kind, T)                         \
  void name(ASCab cab, const char* key, T value) {              \
    hostEntry(__func__, [&] {                                   \
      if (key == nullptr) raise(genErrBadParm);                 \
      CabValue v;                                               \
      v.type = kind;                                            \
      v.number = static_cast<int64_t>(value);                   \
      putCabValue(cab, key, std::move(v));                      \
    });                                                         \
  }
VHOST_PUT_NUMBER(ASCabPutBool, kASValueBool, ASBool)
VHOST_PUT_NUMBER(ASCabPutInt, kASValueInteger, ASInt32)
VHOST_PUT_NUMBER(ASCabPutAtom, kASValueAtom, ASAtom)
VHOST_PUT_NUMBER(ASCabPutUns, kASValueUns, ASUns32)
#undef VHOST_PUT_NUMBER

void ASCabPutDouble(ASCab cab, const char* key, double value) {
  hostEntry(__func__, [&] {
    if (key == nullptr) raise(genErrBadParm);
    CabValue v;
    v.type = kASValueDouble;
    v.real = value;
    putCabValue(cab, key, std::move(v));
  });
}

void ASCabPutString(ASCab cab, const char* key, const char* value) {
  hostEntry(__func__, [&] {
    if (key == nullptr || value == nullptr) raise(genErrBadParm);
    CabValue v;
    v.type = kASValueString;
    v.bytes = value;
    putCabValue(cab, key, std::move(v));
  });
}

// The cabinet takes the text over.
void ASCabPutText(ASCab cab, const char* key, ASText value) {
  hostEntry(__func__, [&] {
    if (key == nullptr) raise(genErrBadParm);
    textOf(value);
    CabValue v;
    v.type = kASValueText;
    v.text = value;
    putCabValue(cab, key, std::move(v));
  });
}

void ASCabPutBinary(ASCab cab, const char* key, const void* data, ASInt32 size) {
  hostEntry(__func__, [&] {
    if (key == nullptr || size < 0 || (data == nullptr && size > 0)) raise(genErrBadParm);
    CabValue v;
    v.type = kASValueBinary;
    v.bytes.assign(static_cast<const char*>(data), static_cast<size_t>(size));
    putCabValue(cab, key, std::move(v));
  });
}

void ASCabPutPointer(ASCab cab, const char* key, void* value) {
  hostEntry(__func__, [&] {
    if (key == nullptr) raise(genErrBadParm);
    CabValue v;
    v.type = kASValuePointer;
    v.pointer = value;
    putCabValue(cab, key, std::move(v));
  });
}

// The cabinet takes the inner cabinet over.
void ASCabPutCab(ASCab cab, const char* key, ASCab value) {
  hostEntry(__func__, [&] {
    if (key == nullptr || value == cab) raise(genErrBadParm);
    cabOf(value);
    CabValue v;
    v.type = kASValueCabinet;
    v.cab = value;
    putCabValue(cab, key, std::move(v));
  });
}

void ASCabPutNull(ASCab cab, const char* key) {
  hostEntry(__func__, [&] {
    if (key == nullptr) raise(genErrBadParm);
    putCabValue(cab, key, CabValue{});
  });
}

ASBool ASCabGetBool(ASCab cab, const char* key, ASBool defaultValue) {
  return hostEntry(__func__, [&]() -> ASBool {
    CabValue* v = typedValue(cab, key, kASValueBool);
    return v ? static_cast<ASBool>(v->number != 0) : defaultValue;
  });
}

ASInt32 ASCabGetInt(ASCab cab, const char* key, ASInt32 defaultValue) {
  return hostEntry(__func__, [&]() -> ASInt32 {
    CabValue* v = typedValue(cab, key, kASValueInteger);
    return v ? static_cast<ASInt32>(v->number) : defaultValue;
  });
}

ASAtom ASCabGetAtom(ASCab cab, const char* key, ASAtom defaultValue) {
  return hostEntry(__func__, [&]() -> ASAtom {
    CabValue* v = typedValue(cab, key, kASValueAtom);
    return v ? static_cast<ASAtom>(v->number) : defaultValue;
  });
}

double ASCabGetDouble(ASCab cab, const char* key, double defaultValue) {
  return hostEntry(__func__, [&]() -> double {
    CabValue* v = typedValue(cab, key, kASValueDouble);
    return v ? v->real : defaultValue;
  });
}

const char* ASCabGetString(ASCab cab, const char* key) {
  return hostEntry(__func__, [&]() -> const char* {
    CabValue* v = typedValue(cab, key, kASValueString);
    return v ? v->bytes.c_str() : nullptr;
  });
}

ASText ASCabGetText(ASCab cab, const char* key) {
  return hostEntry(__func__, [&]() -> ASText {
    CabValue* v = typedValue(cab, key, kASValueText);
    return v ? v->text : nullptr;
  });
}

const void* ASCabGetBinary(ASCab cab, const char* key, ASInt32* size) {
  return hostEntry(__func__, [&]() -> const void* {
    CabValue* v = typedValue(cab, key, kASValueBinary);
    if (size) *size = v ? static_cast<ASInt32>(v->bytes.size()) : 0;
    return v ? v->bytes.data() : nullptr;
  });
}

void* ASCabGetPointer(ASCab cab, const char* key) {
  return hostEntry(__func__, [&]() -> void* {
    CabValue* v = typedValue(cab, key, kASValuePointer);
    return v ? v->pointer : nullptr;
  });
}

ASCab ASCabGetCab(ASCab cab, const char* key) {
  return hostEntry(__func__, [&]() -> ASCab {
    CabValue* v = typedValue(cab, key, kASValueCabinet);
    return v ? v->cab : nullptr;
  });
}

ASUns32 ASCabGetUns(ASCab cab, const char* key, ASUns32 defaultValue) {
  return hostEntry(__func__, [&]() -> ASUns32 {
    CabValue* v = typedValue(cab, key, kASValueUns);
    return v ? static_cast<ASUns32>(v->number) : defaultValue;
  });
}

}  // namespace ops
}  // namespace vhost
