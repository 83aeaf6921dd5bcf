// The card channel's own CPU per APDU with tracing off: CICC::perform over CT-API
// (encoding, the binding, the trace calls, the answer split), measured two ways.
//   channel_benchmark [--benchmark_filter=...]   (build type Release)
// - against the test bed's CT-API driver with a simulated card, beside the same
//   command sent to that driver's CT_data directly: the difference is the channel's;
// - against a driver function that answers 90 00 at once: what is left is the channel.
// The driver is bound through the binding's resolver hook, so CdllFactory's lookup
// by logical name is not part of either figure.
#include <benchmark/benchmark.h>

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cardaccess/reader/CAPDU.h"
#include "cardaccess/reader/CICC.h"
#include "cardaccess/reader/CTAPI.h"
#include "quarvel_bench.h"
#include "quarvel_test.h"

namespace {

using CtData = signed char (*)(unsigned short, unsigned char*, unsigned char*, unsigned short, unsigned char*,
                               unsigned short*, unsigned char*);

void* g_driver = nullptr;

void* simulatorFunction(const char*, const char* function) { return dlsym(g_driver, function); }

signed char answerAtOnce(unsigned short, unsigned char* dad, unsigned char* sad, unsigned short, unsigned char*,
                         unsigned short* lenr, unsigned char* response) {
  std::swap(*dad, *sad);
  response[0] = 0x90;
  response[1] = 0x00;
  *lenr = 2;
  return 0;
}

void* nullDriverFunction(const char*, const char* function) {
  return std::string(function) == "CT_data" ? reinterpret_cast<void*>(&answerAtOnce) : nullptr;
}

// SELECT of the master file by its FID, answered 90 00 by every card type.
CCommandAPDU selectMasterFile() {
  CCommandAPDU c(0x00, 0xA4, 0x00, 0x0C);
  c.setData(std::string("\x3F\x00", 2));
  return c;
}

bool openSimulator() {
  if (g_driver) return true;
  g_driver = dlopen(CARDSIM_CTAPI_LIBRARY, RTLD_NOW);
  if (!g_driver) return false;
  setCTAPIResolver(&simulatorFunction);
  setCTAPIDll("ctsim");
  if (ctInitInThread(1, 1) != 0) return false;
  // REQUEST ICC at the terminal (dad 1) powers the card up.
  unsigned char request[] = {0x20, 0x12, 0x01, 0x01, 0x00};
  unsigned char dad = 1, sad = 2, answer[64];
  unsigned short length = sizeof answer;
  return ctData(1, &dad, &sad, sizeof request, request, &length, answer) == 0 && length >= 2 &&
         answer[length - 2] == 0x90;
}

void BM_ChannelWithSimulatedCard(benchmark::State& state) {
  if (!openSimulator()) return state.SkipWithError("no CT-API simulator");
  setCTAPIResolver(&simulatorFunction);
  CICC channel("ctsim", 1, 2, 0);
  const CCommandAPDU command = selectMasterFile();
  for (auto _ : state) {
    CAPDU apdu(command);
    if (channel.perform(apdu) != 0 || apdu.response.SW != 0x9000) state.SkipWithError("no 90 00");
    benchmark::DoNotOptimize(apdu.response.SW);
  }
}
BENCHMARK(BM_ChannelWithSimulatedCard)->Unit(benchmark::kNanosecond);

void BM_SimulatedCardDriverAlone(benchmark::State& state) {
  if (!openSimulator()) return state.SkipWithError("no CT-API simulator");
  auto data = reinterpret_cast<CtData>(dlsym(g_driver, "CT_data"));
  unsigned char bytes[] = {0x00, 0xA4, 0x00, 0x0C, 0x02, 0x3F, 0x00};
  for (auto _ : state) {
    unsigned char dad = 0, sad = 2, response[258];
    unsigned short length = sizeof response;
    if (data(1, &dad, &sad, sizeof bytes, bytes, &length, response) != 0 || length != 2 || response[0] != 0x90)
      state.SkipWithError("no 90 00");
    benchmark::DoNotOptimize(response);
  }
}
BENCHMARK(BM_SimulatedCardDriverAlone)->Unit(benchmark::kNanosecond);

void BM_ChannelWithInstantDriver(benchmark::State& state) {
  setCTAPIResolver(&nullDriverFunction);
  setCTAPIDll("instant");
  CICC channel("instant", 1, 2, 0);
  const CCommandAPDU command = selectMasterFile();
  for (auto _ : state) {
    CAPDU apdu(command);
    if (channel.perform(apdu) != 0 || apdu.response.SW != 0x9000) state.SkipWithError("no 90 00");
    benchmark::DoNotOptimize(apdu.response.SW);
  }
}
BENCHMARK(BM_ChannelWithInstantDriver)->Unit(benchmark::kNanosecond);

}  // namespace

int main(int argc, char** argv) {
  // A simulator configuration of this run's own; no trace settings, so tracing is off.
  return quarveltest::runBenchmarks(argc, argv, [](const std::string& root) {
    const std::string config = root + "/ctapi.conf";
    std::ofstream(config) << "terminal 1\n  card asign\n";
    setenv("QUARVEL_CTAPI_SIM_CONFIG", config.c_str(), 1);
  });
}
