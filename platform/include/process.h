// Thread start and end of the C run-time library.
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// Starts a thread like CreateThread and returns its handle (0 on failure, errno set).
uintptr_t _beginthreadex(void* security, unsigned stack_size, unsigned (*start_address)(void*),
                         void* arglist, unsigned initflag, unsigned* thrdaddr);
// Ends the calling thread with the given exit code.
__attribute__((noreturn)) void _endthreadex(unsigned retval);

#ifdef __cplusplus
}
#endif
