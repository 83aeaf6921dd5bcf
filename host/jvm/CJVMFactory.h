// The host of the embedded Java VM: loads the VM's entry point from the library its
// signed archive names, creates the VM, routes the Java console into the Java log,
// sets the configured system properties, binds the natives, starts the Java
// application through its launcher and keeps the class loader the launcher returns.
// Afterwards it serves the program with class lookup, static calls and the texts of
// pending Java exceptions. The VM is never destroyed: deleting the host ends the process.
#pragma once

#include "foundation/base/VCriticalSection.h"
#include "foundation/base/VSingleton.h"
#include "foundation/core/CLogable.h"

#include <jni.h>
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>

class CJVMFactory : public CLogable {
 public:
  // The one host, made on the first call. What the constructor throws reaches the
  // caller (after the lock is given back) and leaves no host.
  static CJVMFactory* getInstance();
  // The singleton's guard. Lock throws VOQ::CAssertException when the wait fails;
  // Unlock throws VOQ::CNoSuchObjectException without a semaphore and
  // VOQ::CAssertException when the release fails.
  static void Lock();
  static void Unlock();

  // The VM option that names the launcher's archive, "-Djava.class.path=" and
  // <InstallDir>\lib\launcher.jar with '/' as separator; empty, so that no option is
  // passed, when there is no installation directory.
  static std::string classPathOption();

  // Flushes the Java log and the trace log, then ends the process (ExitProcess(-1)).
  ~CJVMFactory() override;
  CJVMFactory(const CJVMFactory&) = delete;
  CJVMFactory& operator=(const CJVMFactory&) = delete;
  int getSize() const override { return static_cast<int>(sizeof(CJVMFactory)); }

  // Creates the VM and runs init. Throws VOQ::CAssertException when the VM cannot be made.
  void startJVM();
  // registerClasses, registerNatives, the console redirection, setProperties.
  void init();
  void registerClasses();
  void registerNatives();
  void setProperties();
  // Starts the Java application through Launcher.main and keeps its class loader.
  void run();

  // The environment of the thread that created the VM; NULL without a VM. Every
  // caller runs on that thread.
  JNIEnv* getEnv() const { return m_env; }
  // Makes a class known to the cache: FindClass (slashed names), else the
  // application's class loader (dotted names). False when neither finds it; a loader's
  // exception is then left pending for the caller.
  bool findClass(const char* name);
  // The cached class (a global reference the cache owns) or NULL.
  jclass getClass(const char* name);
  // Calls a static method that returns an object; its local reference, or NULL.
  jobject callVoidStatic(const char* className, const char* method, const char* signature, ...);
  // A new String array of count elements from the texts that follow, or NULL.
  jobjectArray constructArgs(int count, ...);
  // The text of the pending Java exception (its toString) or NULL; the exception is
  // cleared and its stack trace printed (into the Java log).
  std::unique_ptr<char[]> getExceptionMessage();
  // System.setProperty; the previous value or NULL.
  std::unique_ptr<char[]> setProperty(const char* key, const char* value);
  // The class loader that Launcher.main returned (a local reference of the VM's thread).
  jobject getClassLoader() const { return m_classLoader; }

 private:
  using CreateJavaVM = jint(JNICALL*)(JavaVM**, void**, void*);

  struct NameLess {
    using is_transparent = void;
    bool operator()(const std::unique_ptr<char[]>& a, const std::unique_ptr<char[]>& b) const {
      return std::strcmp(a.get(), b.get()) < 0;
    }
    bool operator()(const std::unique_ptr<char[]>& a, const char* b) const { return std::strcmp(a.get(), b) < 0; }
    bool operator()(const char* a, const std::unique_ptr<char[]>& b) const { return std::strcmp(a, b.get()) < 0; }
  };

  CJVMFactory();
  static void deleteAtExit();
  void redirectConsole();
  void logCache(const char* method);
  void storeClass(const char* name, jclass global);
  // getExceptionMessage, its text (when there is one) logged at level 0 under method.
  void logPendingException(const char* method);
  // The Verbose switch of the user's settings; empty when missing.
  static std::string verboseSetting();

  JNIEnv* m_env = nullptr;
  JavaVM* m_vm = nullptr;
  std::map<std::unique_ptr<char[]>, jclass, NameLess> m_classes;
  VCriticalSection m_classesLock;
  CreateJavaVM m_create = nullptr;
  jobject m_classLoader = nullptr;
  DWORD m_vmThread = 0;  // the thread that created the VM, whose environment m_env is

  static VOQ::VSingleton<CJVMFactory> s_singleton;
};

// The "vfprintf" hook of the VM: its messages go into the Java log at level 0.
extern "C" jint JNICALL jvmVfprintf(FILE* stream, const char* format, va_list args);
