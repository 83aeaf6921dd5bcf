#include "foundation/base/VCriticalSection.h"

// The section is set up here once; owners never initialise it again, which
// would re-create a lock that may be held.
VCriticalSection::VCriticalSection() {
  InitializeCriticalSection(&m_section);
  m_initialised = 1;
}

VCriticalSection::~VCriticalSection() {
  if (m_initialised) {
    DeleteCriticalSection(&m_section);
    m_initialised = 0;
  }
}

void VCriticalSection::enter() { EnterCriticalSection(&m_section); }

void VCriticalSection::leave() { LeaveCriticalSection(&m_section); }
