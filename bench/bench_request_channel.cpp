// Throughput of the request channel against the simulated controller:
// one million READ_PHY requests, tracing off.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "driver/request_channel.h"
#include "sim/simulator.h"

int main() {
  namespace fs = std::filesystem;
  const fs::path state = fs::temp_directory_path() /
                         ("orn5300-bench-" + std::to_string(std::chrono::steady_clock::now()
                                                                .time_since_epoch()
                                                                .count()) +
                          ".json");
  std::ofstream(state) << "{}\n";

  uint32_t error = 0;
  auto device = sim::OpenSimulatedDevice(state.string(), "", error);
  if (!device) {
    std::fprintf(stderr, "cannot open the simulated device (error %u)\n", error);
    return 1;
  }
  RequestChannel ch;
  ch.device = device.get();

  constexpr int kRequests = 1000000;
  uint32_t sum = 0;
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < kRequests; ++i) {
    uint16_t value = 0;
    if (!ReadPhy16(ch, static_cast<uint32_t>(i & 31), value)) return 1;
    sum += value;
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  device.reset();
  fs::remove(state);

  std::printf("request channel -> simulator: %d READ_PHY in %.3f s = %.0f requests/s "
              "(checksum %u)\n",
              kRequests, seconds, kRequests / seconds, sum);
  return 0;
}
