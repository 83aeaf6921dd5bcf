// The program's single point for reading settings: the user's and the machine's
// registry and the signed settings archives.
#pragma once

#include "foundation/base/VCriticalSection.h"
#include "foundation/base/VSingleton.h"
#include "foundation/base/VString.h"
#include "foundation/core/VRegistry.h"

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <string>
#include <type_traits>

// A typed parameter of CKonfigurator::get: a path element or an output.
class CKonfigParam {
 public:
  enum Kind : int {
    kNone = 0,
    kKey = 1,      // text: a section, key, attribute or value name
    kNumber = 2,   // DWORD*: a number (registry sources only)
    kString = 3,   // std::string*: a text
    kVString = 4,  // VString*: a text (registry sources only)
    kNumber2 = 6,  // DWORD*: a number, the same as kNumber
  };

  CKonfigParam() = default;
  void setKey(const char* key) { set(kKey, const_cast<char*>(key)); }
  void setString(std::string* target) { set(kString, target); }
  void setVString(VString* target) { set(kVString, target); }
  void setNumber(DWORD* target) { set(kNumber, target); }
  int getKind() const { return m_kind; }
  void* getValue() const { return m_value; }

  // Writes value (a DWORD, std::string or VString, by kind) through this
  // parameter's pointer when the kinds agree: 1; otherwise nothing: 0.
  int put(int kind, const void* value) const;

  // Filled directly by callers that make outputs of kinds 2 and 6.
  int m_kind = kNone;
  void* m_value = nullptr;

 private:
  void set(int kind, void* value) {
    m_kind = kind;
    m_value = value;
  }
};

// Parameter makers for callers: CKonfigurator::get(source, key("Main-Class"), out(&text)).
inline CKonfigParam konfigKey(const char* key) {
  CKonfigParam p;
  p.setKey(key);
  return p;
}
inline CKonfigParam konfigOut(std::string* target) {
  CKonfigParam p;
  p.setString(target);
  return p;
}
inline CKonfigParam konfigOut(VString* target) {
  CKonfigParam p;
  p.setVString(target);
  return p;
}
inline CKonfigParam konfigOut(DWORD* target) {
  CKonfigParam p;
  p.setNumber(target);
  return p;
}

class CKonfigurator {
 public:
  // The process-wide instance (company "VOQ. VUV-Oredaridez GmbH", the application's
  // name as product), made on first use; NULL when its lock fails. A constructor
  // failure reaches the caller, and the next call tries again.
  static CKonfigurator* getInstance();

  // Opens Software\company\product (product NULL: the application's name) in
  // HKLM for reading and in HKCU with full access, creating them when missing.
  // Throws VOQ::CBadArgumentException (NULL company) or VOQ::CNoSuchObjectException.
  CKonfigurator(const char* company, const char* product);
  virtual ~CKonfigurator();
  CKonfigurator(const CKonfigurator&) = delete;
  CKonfigurator& operator=(const CKonfigurator&) = delete;

  // source: "RegistryUser", "RegistryMachine", "SecureInternal" or "SecureExternal";
  // then the path elements and one output. 0 found and delivered, 1 not found
  // (also when the parameters run out or the output does not suit the source),
  // -1 for a bad call (NULL source, no parameter, first not a path element, unknown source).
  template <class... Params,
            std::enable_if_t<(std::is_same<Params, CKonfigParam>::value && ...), int> = 0>
  int get(const char* source, const Params&... params) {
    const CKonfigParam list[] = {CKonfigParam(), params...};
    return get(source, list + 1, sizeof...(Params));
  }
  // The same over a counted list.
  int get(const char* source, const CKonfigParam* params, std::size_t count);

  // The path part (after the first ':') of the Name of the section named by the
  // module parameter in <InstallDir>\<fileName>.esw; target unchanged when there is none.
  void getModulePath(const CKonfigParam& module, const char* fileName, std::string& target);

 private:
  int lookupRegistry(VRegistry& root, REGSAM access, const CKonfigParam* params, std::size_t count);
  int lookupSigned(bool external, const CKonfigParam* params, std::size_t count);
  static void deleteAtExit();
  static bool lock();
  static bool unlock();

  VRegistry m_userKey;
  VRegistry m_machineKey;
  std::size_t m_cursor = 0;
  VCriticalSection m_sourceLock;
  VCriticalSection m_walkLock;
  VString m_company;
  VString m_product;

  static VOQ::VSingleton<CKonfigurator> s_singleton;
};
