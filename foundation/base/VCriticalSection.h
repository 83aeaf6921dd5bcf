// A recursive lock for one process, ready from construction to destruction.
#pragma once

#include <windows.h>

class VCriticalSection {
 public:
  VCriticalSection();
  virtual ~VCriticalSection();
  VCriticalSection(const VCriticalSection&) = delete;
  VCriticalSection& operator=(const VCriticalSection&) = delete;

  // The thread that holds the section may enter it again; each enter needs its leave.
  void enter();
  void leave();

  // For code that calls EnterCriticalSection itself.
  CRITICAL_SECTION* get() { return &m_section; }

 private:
  CRITICAL_SECTION m_section;
  int m_initialised = 0;
};

// Holds a section for the lifetime of a scope.
class VCriticalSectionLock {
 public:
  explicit VCriticalSectionLock(VCriticalSection& section) : m_section(section) { m_section.enter(); }
  ~VCriticalSectionLock() { m_section.leave(); }
  VCriticalSectionLock(const VCriticalSectionLock&) = delete;
  VCriticalSectionLock& operator=(const VCriticalSectionLock&) = delete;

 private:
  VCriticalSection& m_section;
};
