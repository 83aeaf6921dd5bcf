#include "host/quarvel/JavaCommands.h"

#include "host/jvm/CJVMFactory.h"

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
