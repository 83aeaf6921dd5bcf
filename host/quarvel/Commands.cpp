#include "host/quarvel/Commands.h"

#include "foundation/archive/InstallDir.h"
#include "host/jvm/CJVMFactory.h"

#include <windows.h>
#include <shellapi.h>

#include <string>

void startJavaClass(const char* className) {
  CJVMFactory* host = CJVMFactory::getInstance();
  jclass cls = host->getClass(className);
  if (cls == nullptr) {
    if (!host->findClass(className)) host->getExceptionMessage();
    cls = host->getClass(className);
    if (cls == nullptr) return;
  }
  JNIEnv* env = host->getEnv();
  if (env == nullptr) return;
  if (jmethodID main = env->GetStaticMethodID(cls, "main", "()V")) env->CallStaticVoidMethod(cls, main);
  host->getExceptionMessage();
}

void runUpdater() {
  char installDir[256];
  if (readInstallDir(installDir, sizeof installDir) != 1) return;
  const std::string updater = std::string(installDir) + "\\ZadeVuzadiVerovu.exe";
  ShellExecuteA(nullptr, "open", updater.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}
