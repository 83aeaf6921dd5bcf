#include "scan_test_support.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "cardaccess/scan/CwxReaderScan.h"
#include "cardaccess/scan/ReaderDialog.h"
#include "platform/window_test.h"
#include "quarvel_test.h"

namespace scantest {

DriverBed::DriverBed() {
  m_dir = quarveltest::makeTempDirectory("drivers");
  std::ifstream driver(CARDSIM_CTAPI_LIBRARY, std::ios::binary);
  std::ostringstream bytes;
  bytes << driver.rdbuf();
  // Copies, not links: each file is a driver of its own with its own terminals.
  for (const char* name : CwxReaderScan::kDriverNames) std::ofstream(path(name), std::ios::binary) << bytes.str();
  SetDllDirectoryA(m_dir.c_str());
  m_config = m_dir + "/ctapi.conf";
  m_log = m_dir + "/calls.log";
  setenv("QUARVEL_CTAPI_SIM_CONFIG", m_config.c_str(), 1);
  configure("");
}

void DriverBed::configure(const std::string& terminals) {
  static int generation = 0;
  // A new file each time, so that the drivers see the change whatever the clock's resolution.
  std::ofstream(m_config + ".new") << "log " << m_log << "\n" << terminals << "\n# " << ++generation << "\n";
  std::rename((m_config + ".new").c_str(), m_config.c_str());
}

std::vector<std::string> DriverBed::calls(const std::string& what) const {
  std::ifstream in(m_log);
  std::vector<std::string> out;
  for (std::string line; std::getline(in, line);)
    if (line.find(what) != std::string::npos) out.push_back(line);
  return out;
}

std::string terminal(const std::string& driver, int port, const std::string& maker, const std::string& extra) {
  return "terminal " + std::to_string(port) + " driver=" + driver + "\n  maker " + maker + "\n" + extra;
}

std::string ctapiRow(int port, const std::string& units, const std::string& maker) {
  std::string unitsAnswer = {'\x81', static_cast<char>(units.size())};
  unitsAnswer += units + "\x90" + '\0';
  std::string makerAnswer = {'\x46', static_cast<char>(maker.size())};
  makerAnswer += maker + "\x90" + '\0';
  char row[CwxReaderScan::kCTAPIRowLength];
  formatCTAPIRow(port, reinterpret_cast<const unsigned char*>(unitsAnswer.data()), static_cast<int>(unitsAnswer.size()),
                 reinterpret_cast<const unsigned char*>(makerAnswer.data()), static_cast<int>(makerAnswer.size()), row);
  return std::string(row, sizeof row);
}

void setRows(CwxReaderScan& scan, const std::vector<std::string>& ctapiRows,
             const std::vector<std::string>& pcscNames) {
  std::memset(scan.getCTAPIRows(), 0, CwxReaderScan::kAreaSize);
  std::memset(scan.getPCSCRows(), 0, CwxReaderScan::kAreaSize);
  std::string ctapi;
  for (const std::string& row : ctapiRows) ctapi += row;
  std::memcpy(scan.getCTAPIRows(), ctapi.data(), ctapi.size());
  std::string pcsc;
  for (const std::string& name : pcscNames) {
    std::string row = name.substr(0, CwxReaderScan::kPCSCRowLength);
    pcsc += row + std::string(CwxReaderScan::kPCSCRowLength - row.size(), ' ');
  }
  std::memcpy(scan.getPCSCRows(), pcsc.data(), pcsc.size());
}

void DialogUser::willAttend() {
  platform::wintest::onNextDialog([](HWND) {});
}

bool DialogUser::waitUntil(const std::function<bool()>& done) {
  for (int i = 0; i < 3000; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return done();
}

HWND DialogUser::waitForDialog(HWND previous) {
  m_dialog = nullptr;
  waitUntil([&] {
    HWND found = FindWindowA(nullptr, kCaption);
    if (found && found != previous && IsWindowVisible(found)) m_dialog = found;
    return m_dialog != nullptr;
  });
  return m_dialog;
}

int DialogUser::rowCount() const {
  return static_cast<int>(SendDlgItemMessageA(m_dialog, readerdialog::kList, LVM_GETITEMCOUNT, 0, 0));
}

std::string DialogUser::text(int row, int column) const {
  char buffer[256] = {};
  LVITEMA item{};
  item.iSubItem = column;
  item.pszText = buffer;
  item.cchTextMax = sizeof buffer;
  SendDlgItemMessageA(m_dialog, readerdialog::kList, LVM_GETITEMTEXTA, static_cast<WPARAM>(row),
                      reinterpret_cast<LPARAM>(&item));
  return buffer;
}

bool DialogUser::checked(int row) const {
  const auto state = static_cast<UINT>(SendDlgItemMessageA(m_dialog, readerdialog::kList, LVM_GETITEMSTATE,
                                                           static_cast<WPARAM>(row), LVIS_STATEIMAGEMASK));
  return (state >> 12) == 2;
}

bool DialogUser::enabled(int controlId) const { return IsWindowEnabled(GetDlgItem(m_dialog, controlId)) != FALSE; }

std::string DialogUser::currentReader() const {
  char buffer[256] = {};
  GetDlgItemTextA(m_dialog, readerdialog::kCurrentReader, buffer, sizeof buffer);
  return buffer;
}

int DialogUser::row(const std::string& name) const {
  for (int i = 0, n = rowCount(); i < n; ++i)
    if (text(i, 0) == name) return i;
  return -1;
}

void DialogUser::tick(int row, bool on) {
  m_state = LVITEMA{};
  m_state.stateMask = LVIS_STATEIMAGEMASK;
  m_state.state = INDEXTOSTATEIMAGEMASK(on ? 2 : 1);
  PostMessageA(GetDlgItem(m_dialog, readerdialog::kList), LVM_SETITEMSTATE, static_cast<WPARAM>(row),
               reinterpret_cast<LPARAM>(&m_state));
  EXPECT_TRUE(waitUntil([&] { return checked(row) == on; })) << "row " << row;
}

void DialogUser::press(int controlId) { PostMessageA(GetDlgItem(m_dialog, controlId), BM_CLICK, 0, 0); }

void DialogUser::apply() {
  press(readerdialog::kApply);
  EXPECT_TRUE(waitUntil([&] { return enabled(IDOK); }));
}

void DialogUser::closeBox() { PostMessageA(m_dialog, WM_SYSCOMMAND, SC_CLOSE, 0); }

}  // namespace scantest
