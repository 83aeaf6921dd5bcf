// The per-user switches of the tray program.
#include "foundation/base/ApplicationIdentity.h"
#include "foundation/core/VRegistry.h"
#include "host/app/application_secure.h"

#include <windows.h>

namespace {

// The value when it is a REG_DWORD of four bytes; a value the user wrote with another
// type or size counts as unreadable.
bool readSwitch(const char* name, DWORD& value) {
  VRegistry key;
  if (!key.open(COMPANY_KEY, getProductName(), HKEY_CURRENT_USER, KEY_ALL_ACCESS)) return false;
  DWORD type = 0;
  DWORD size = sizeof value;
  return RegQueryValueExA(key.getKey(), name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) ==
             ERROR_SUCCESS &&
         type == REG_DWORD && size == sizeof value;
}

void writeSwitch(const char* name, bool on) {
  VRegistry key;
  if (!key.open(COMPANY_KEY, getProductName(), HKEY_CURRENT_USER, KEY_ALL_ACCESS)) return;
  const DWORD value = on ? 1 : 0;
  RegSetValueExA(key.getKey(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

// On unless the value reads as 0.
bool onUnlessZero(const char* name) {
  DWORD value = 0;
  return !readSwitch(name, value) || value != 0;
}

}  // namespace

bool tipEnabled() {
  DWORD value = 0;
  return readSwitch("Tip", value) && value == 1;
}

void setTipEnabled(bool on) { writeSwitch("Tip", on); }

bool autoupdateEnabled() { return onUnlessZero("Autoupdate"); }

void setAutoupdateEnabled(bool on) { writeSwitch("Autoupdate", on); }

bool useInfoboxPinEnabled() { return onUnlessZero("UseInfoboxPin"); }

void setUseInfoboxPinEnabled(bool on) { writeSwitch("UseInfoboxPin", on); }
