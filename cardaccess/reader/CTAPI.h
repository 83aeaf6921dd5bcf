// The binding to the CT-API driver: CT_init, CT_data and CT_close of the driver
// that the process-wide driver name names. CT_data and CT_close are resolved once per
// driver and kept while the module they came from stays loaded; CT_init, which opens
// a terminal, is resolved afresh each time (and, should it come out different, the
// driver's other entry points are resolved again as well).
#pragma once

#include <string>

#include <windows.h>
#include "cardaccess/reader/CardNamespace.h"

QUARVEL_CARD_NAMESPACE_BEGIN

// The process-wide driver name; every binding call takes its function from that driver.
void setCTAPIDll(const std::string& name);
std::string getCTAPIDll();

// CT_init(ctn, pn) of the current driver; -1 when the driver or the function is
// missing. A thread routine: the parameter points at a CTInitArguments.
struct CTInitArguments {
  unsigned short ctn;
  unsigned short pn;
};
DWORD WINAPI ctInit(LPVOID arguments);
// Runs ctInit on a thread of its own and waits for it; CT_init's result.
signed char ctInitInThread(unsigned short ctn, unsigned short pn);

// CT_data of the current driver, with *lenr the capacity of response. -1 when the
// function is missing or raised; -11 (the driver's "no memory") when the driver
// reports more bytes than the response holds, which are then not read.
signed char ctData(unsigned short ctn, unsigned char* dad, unsigned char* sad, unsigned short lenc,
                   const unsigned char* command, unsigned short* lenr, unsigned char* response);
signed char ctClose(unsigned short ctn);

// How the binding finds a driver function: CdllFactory in "Normal" mode unless a
// test puts its own resolver in place. NULL when the function cannot be had. A new
// resolver takes effect at once: nothing resolved by the previous one is used again.
using CTAPIResolver = void* (*)(const char* driverName, const char* function);
CTAPIResolver setCTAPIResolver(CTAPIResolver resolver);

QUARVEL_CARD_NAMESPACE_END
