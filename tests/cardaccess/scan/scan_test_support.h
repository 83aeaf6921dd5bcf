// What the reader scan tests share: the test bed's CT-API driver installed under
// the six driver file names, and a user at the reader selection dialog who works
// it from another thread.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <string>
#include <vector>

class CwxReaderScan;

namespace scantest {

// Copies of the CT-API driver under the six names, in a folder on the module search
// path; terminals come from the driver's configuration file.
class DriverBed {
 public:
  DriverBed();
  // "terminal 1 driver=ct32.dll" blocks of the driver's configuration language.
  void configure(const std::string& terminals);
  // The host path of one installed copy.
  std::string path(const std::string& driverName) const { return m_dir + "/" + driverName; }
  // Lines of the call log that contain `what`.
  std::vector<std::string> calls(const std::string& what) const;

 private:
  std::string m_dir;
  std::string m_config;
  std::string m_log;
};

// A terminal block of the driver configuration.
std::string terminal(const std::string& driver, int port, const std::string& maker,
                     const std::string& extra = "");

// The row of a terminal as the scan writes it.
std::string ctapiRow(int port, const std::string& units, const std::string& maker);
// Puts rows into the scan's areas, as a scan would have.
void setRows(CwxReaderScan& scan, const std::vector<std::string>& ctapiRows, const std::vector<std::string>& pcscNames);

// A person at the reader selection dialog, working from another thread: actions are
// posted to the dialog as input would be, and state is read by sent messages.
class DialogUser {
 public:
  // Tells the window layer that the next modal dialog has a person at the screen
  // (without one it cancels the dialog at once).
  static void willAttend();

  // Waits for a visible reader selection other than `previous`.
  HWND waitForDialog(HWND previous = nullptr);
  HWND dialog() const { return m_dialog; }

  int rowCount() const;
  std::string text(int row, int column) const;
  bool checked(int row) const;
  bool enabled(int controlId) const;
  std::string currentReader() const;  // the static under "Aktueller Kartenleser: "
  int row(const std::string& name) const;  // -1 when not listed

  // Ticks or clears a row and waits until the list shows it.
  void tick(int row, bool on = true);
  // BM_CLICK to a button, posted.
  void press(int controlId);
  // Presses "Übernehmen" and waits until OK is enabled.
  void apply();
  void closeBox();

  // Waits until `done` holds; false when it never does.
  static bool waitUntil(const std::function<bool()>& done);

 private:
  HWND m_dialog = nullptr;
  LVITEMA m_state{};  // what a posted state change points to, kept alive
};

constexpr const char* kCaption = "Kartenleser Auswahl";

}  // namespace scantest
