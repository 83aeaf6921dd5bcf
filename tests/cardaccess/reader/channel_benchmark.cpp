// The card channel over CT-API as the program ships it, tracing off: CICC::perform
// (encoding, the binding, the trace calls, the answer split) with the driver found as
// the product finds a vendor's driver, through its signed archive <name>.esw in the
// installation directory and CdllFactory in "Normal" mode. No resolver is put in
// place: what the binding does to reach CT_data on every command is in the figure.
//   channel_benchmark --benchmark_repetitions=20 --benchmark_report_aggregates_only=true
//   (build type Release)
// Each channel figure stands beside the same driver's CT_data called directly with the
// same command; the difference is the channel's own CPU per command:
// - Instant: the small driver of the module loading tests, which answers at once;
// - SimulatedCard: the test bed's driver with a simulated card (SELECT of the MF).
// First commands are told apart from warm ones: FirstCommand lets the factory go
// before each command (the module is loaded and its entry points resolved again),
// with the archive unchanged (its verified result kept) or rewritten (verified again).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include <windows.h>

#include "FoundationFixture.h"
#include "cardaccess/reader/CAPDU.h"
#include "cardaccess/reader/CICC.h"
#include "cardaccess/reader/CTAPI.h"
#include "foundation/core/CdllFactory.h"
#include "host/app/application_secure.h"
#include "quarvel_bench.h"
#include "quarvel_test.h"

namespace ft = foundationtest;

namespace {

using CtData = signed char (*)(unsigned short, unsigned char*, unsigned char*, unsigned short, unsigned char*,
                               unsigned short*, unsigned char*);

// The two drivers as installed: logical name, file in the installation directory.
struct Driver {
  const char* name;
  const char* library;
};
const Driver kInstant{"instant", QUARVEL_CTDRIVER};
const Driver kSimulator{"ctsim", CARDSIM_CTAPI_LIBRARY};

std::string driverFile(const Driver& driver) {
  return std::string(ft::kInstallDir) + "\\drivers\\" + driver.name + ".so";
}

std::string archiveOf(const Driver& driver, const std::string& version) {
  return ft::signedArchive(
      {eswtool::Section{"ctapi:" + driverFile(driver), {{"SectionName", driver.name}, {"Version", version}}, true}});
}

bool g_installed = false;

bool install() {
  if (g_installed) return true;
  if (application_secure::create(1, GetModuleHandleA(nullptr), 0) != 1) return false;
  ft::installDirectory();
  for (const Driver& driver : {kInstant, kSimulator}) {
    ft::writeFile(driverFile(driver), eswtool::readFile(driver.library));
    ft::installArchive(driver.name, archiveOf(driver, "1"));
    ft::settleFile(std::string(ft::kInstallDir) + "\\" + driver.name + ".esw");
  }
  g_installed = true;
  return true;
}

// Opens terminal 1 of the driver (and powers the card up at the simulator).
bool open(const Driver& driver) {
  if (!install()) return false;
  setCTAPIDll(driver.name);
  const signed char opened = ctInitInThread(1, 1);
  if (opened != 0 && opened != -1) return false;  // -1 from the simulator: open already
  unsigned char request[] = {0x20, 0x12, 0x01, 0x01, 0x00};
  unsigned char dad = 1, sad = 2, answer[64];
  unsigned short length = sizeof answer;
  return ctData(1, &dad, &sad, sizeof request, request, &length, answer) == 0;
}

CtData driverData(const Driver& driver) {
  return reinterpret_cast<CtData>(CdllFactory::getInstance()->getFunction(driver.name, "CT_data", "Normal"));
}

// SELECT of the master file by its FID: 90 00 from every card type (6D 00 from the
// instant driver, an answer all the same).
CCommandAPDU selectMasterFile() {
  CCommandAPDU c(0x00, 0xA4, 0x00, 0x0C);
  c.setData(std::string("\x3F\x00", 2));
  return c;
}

void channel(benchmark::State& state, const Driver& driver) {
  if (!open(driver)) return state.SkipWithError("driver not installed");
  CICC card(driver.name, 1, 2, 0);
  const CCommandAPDU command = selectMasterFile();
  for (auto _ : state) {
    CAPDU apdu(command);
    if (card.perform(apdu) != 0) state.SkipWithError("no answer");
    benchmark::DoNotOptimize(apdu.response.SW);
  }
}

void driverAlone(benchmark::State& state, const Driver& driver) {
  if (!open(driver)) return state.SkipWithError("driver not installed");
  const CtData data = driverData(driver);
  unsigned char bytes[] = {0x00, 0xA4, 0x00, 0x0C, 0x02, 0x3F, 0x00};
  for (auto _ : state) {
    unsigned char dad = 0, sad = 2, response[300];
    unsigned short length = sizeof response;
    if (data(1, &dad, &sad, sizeof bytes, bytes, &length, response) != 0 || length < 2)
      state.SkipWithError("no answer");
    benchmark::DoNotOptimize(response);
  }
}

void BM_Channel_Instant(benchmark::State& state) { channel(state, kInstant); }
void BM_DriverAlone_Instant(benchmark::State& state) { driverAlone(state, kInstant); }
void BM_Channel_SimulatedCard(benchmark::State& state) { channel(state, kSimulator); }
void BM_DriverAlone_SimulatedCard(benchmark::State& state) { driverAlone(state, kSimulator); }
BENCHMARK(BM_Channel_Instant)->Unit(benchmark::kNanosecond);
BENCHMARK(BM_DriverAlone_Instant)->Unit(benchmark::kNanosecond);
BENCHMARK(BM_Channel_SimulatedCard)->Unit(benchmark::kNanosecond);
BENCHMARK(BM_DriverAlone_SimulatedCard)->Unit(benchmark::kNanosecond);

// A terminal opening and its first command after the factory let its modules go (as
// in a process that has just started): CT_init and CT_data resolved through the
// archive, the module loaded. Argument 1: the archive rewritten before each round, so
// that it is read and verified again, as at a process's first command.
void BM_FirstCommand_Instant(benchmark::State& state) {
  if (!install()) return state.SkipWithError("driver not installed");
  const bool rewritten = state.range(0) != 0;
  const std::string archive = archiveOf(kInstant, "1");
  const std::string other = archiveOf(kInstant, "2");
  setCTAPIDll(kInstant.name);
  CTInitArguments terminal{1, 1};
  const CCommandAPDU command = selectMasterFile();
  CICC card(kInstant.name, 1, 2, 0);
  unsigned round = 0;
  for (auto _ : state) {
    state.PauseTiming();
    delete CdllFactory::getInstance();
    if (rewritten) ft::installArchive(kInstant.name, ++round % 2 ? other : archive);
    state.ResumeTiming();
    CAPDU apdu(command);
    if (ctInit(&terminal) != 0 || card.perform(apdu) != 0) state.SkipWithError("no answer");
    benchmark::DoNotOptimize(apdu.response.SW);
  }
}
BENCHMARK(BM_FirstCommand_Instant)->ArgName("rewritten")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  // A simulator configuration of this run's own; no trace settings, so tracing is off.
  return quarveltest::runBenchmarks(argc, argv, [](const std::string& root) {
    const std::string config = root + "/ctapi.conf";
    std::ofstream(config) << "terminal 1\n  card asign\n";
    setenv("QUARVEL_CTAPI_SIM_CONFIG", config.c_str(), 1);
  });
}
