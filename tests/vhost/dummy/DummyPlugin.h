// What DummyPlugin.api reports to the tests that load it (through its test exports).
#pragma once

#include <cstdint>

#include "pisdk/PITypes.h"

struct DummyReport {
  ASUns32 handshakeVersion = 0;        // what PlugInMain was offered
  HWND hostMainWindow = nullptr;
  HINSTANCE pluginInstance = nullptr;
  // The version recorded for each HFT of the plug-in's list (0: not obtained), in the
  // order of dummyHFTNames.
  ASUns32 versions[12] = {};
  bool handshakeDone = false, exported = false, imported = false, initialised = false,
       unloaded = false;
  bool handlerRegistered = false;
  int callbacksMade = 0, callbacksDestroyed = 0;
  int validations = 0;
};

// The frame scenarios the plug-in runs on request; each answers what its handlers saw.
struct FrameOutcome {
  ASErrorCode inner = 0, outer = 0;
  int enumerated = 0;
};

typedef const DummyReport* (*DummyReportProc)(void);
typedef FrameOutcome (*DummyFramesProc)(int scenario, PDDoc doc);

enum DummyScenario {
  kNestedRaise = 1,       // a raise inside a nested frame lands in the inner handler
  kReraise = 2,           // the inner handler raises again: the outer one sees it
  kRaiseInEnumeration = 3 // a raise from a DigSig enumeration callback reaches the frame
};
