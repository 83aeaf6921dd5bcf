// The plug-in's card channel over CT-API as it ships, tracing off: CICC::perform of
// the card library with the driver loaded by the file name the settings give (its DLL
// factory, no resolver put in place), beside the same driver's CT_data called directly
// with the same command; the difference is the channel's own CPU per command.
//   variant_channel_benchmark --benchmark_repetitions=20   (build type Release)
// - Instant: the small driver of the module loading tests, which answers at once;
// - SimulatedCard: the test bed's driver with a simulated card (SELECT of the MF).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "cardaccess/reader/CAPDU.h"
#include "cardaccess/reader/CICC.h"
#include "cardaccess/reader/CTAPI.h"
#include "cardvariant/CdllFactory.h"
#include "quarvel_bench.h"

namespace {

using CtData = signed char (*)(unsigned short, unsigned char*, unsigned char*, unsigned short, unsigned char*,
                               unsigned short*, unsigned char*);

// Opens terminal 1 of the driver (and powers the card up at the simulator).
bool open(const char* driver) {
  cardvariant::setCTAPIDll(driver);
  const unsigned char opened = cardvariant::ctInit(1, 1);
  if (opened != 0 && opened != 0xFF) return false;  // 0xFF from the simulator: open already
  unsigned char request[] = {0x20, 0x12, 0x01, 0x01, 0x00};
  unsigned char dad = 1, sad = 2, answer[64];
  unsigned short length = sizeof answer;
  return cardvariant::ctData(1, &dad, &sad, sizeof request, request, &length, answer) == 0;
}

cardvariant::CCommandAPDU selectMasterFile() {
  cardvariant::CCommandAPDU c(0x00, 0xA4, 0x00, 0x0C);
  c.setData(std::string("\x3F\x00", 2));
  return c;
}

void channel(benchmark::State& state, const char* driver) {
  if (!open(driver)) return state.SkipWithError("driver not usable");
  cardvariant::CICC card(driver, 1, 2, 0);
  const cardvariant::CCommandAPDU command = selectMasterFile();
  for (auto _ : state) {
    cardvariant::CAPDU apdu(command);
    if (card.perform(apdu) != 0) state.SkipWithError("no answer");
    benchmark::DoNotOptimize(apdu.response.SW);
  }
}

void driverAlone(benchmark::State& state, const char* driver) {
  if (!open(driver)) return state.SkipWithError("driver not usable");
  const auto data =
      reinterpret_cast<CtData>(cardvariant::CdllFactory::getInstance()->getFunction(driver, "CT_data", "Normal"));
  unsigned char bytes[] = {0x00, 0xA4, 0x00, 0x0C, 0x02, 0x3F, 0x00};
  for (auto _ : state) {
    unsigned char dad = 0, sad = 2, response[300];
    unsigned short length = sizeof response;
    if (data(1, &dad, &sad, sizeof bytes, bytes, &length, response) != 0 || length < 2)
      state.SkipWithError("no answer");
    benchmark::DoNotOptimize(response);
  }
}

void BM_VariantChannel_Instant(benchmark::State& state) { channel(state, QUARVEL_CTDRIVER); }
void BM_VariantDriverAlone_Instant(benchmark::State& state) { driverAlone(state, QUARVEL_CTDRIVER); }
void BM_VariantChannel_SimulatedCard(benchmark::State& state) { channel(state, CARDSIM_CTAPI_LIBRARY); }
void BM_VariantDriverAlone_SimulatedCard(benchmark::State& state) { driverAlone(state, CARDSIM_CTAPI_LIBRARY); }
BENCHMARK(BM_VariantChannel_Instant)->Unit(benchmark::kNanosecond);
BENCHMARK(BM_VariantDriverAlone_Instant)->Unit(benchmark::kNanosecond);
BENCHMARK(BM_VariantChannel_SimulatedCard)->Unit(benchmark::kNanosecond);
BENCHMARK(BM_VariantDriverAlone_SimulatedCard)->Unit(benchmark::kNanosecond);

}  // namespace

int main(int argc, char** argv) {
  // A simulator configuration of this run's own; no trace settings, so tracing is off.
  return quarveltest::runBenchmarks(argc, argv, [](const std::string& root) {
    const std::string config = root + "/ctapi.conf";
    std::ofstream(config) << "terminal 1\n  card asign\n";
    setenv("QUARVEL_CTAPI_SIM_CONFIG", config.c_str(), 1);
  });
}
