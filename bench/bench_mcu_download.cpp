// Firmware download and verify (-F) of a 16 KiB image against the simulated
// controller: about 33,000 bridge requests. Measures the flow in-process
// (request channel + simulator, progress output to a file) and the whole
// run of the built tool. Figures go to standard error, because the flow's
// own output is redirected to a file.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "core/run_settings.h"
#include "driver/request_channel.h"
#include "mcu/mcu_download.h"
#include "sim/simulator.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Counts the requests that pass through to the simulated device.
class CountingDevice : public platform::DeviceControl {
 public:
  explicit CountingDevice(platform::DeviceControl& inner) : inner_(inner) {}
  bool Control(uint32_t code, uint8_t* buffer, uint32_t in_len, uint32_t out_len,
               uint32_t& returned, uint32_t& error) override {
    ++requests;
    return inner_.Control(code, buffer, in_len, out_len, returned, error);
  }
  void Sleep(uint32_t ms) override { inner_.Sleep(ms); }
  uint64_t requests = 0;

 private:
  platform::DeviceControl& inner_;
};

void WriteBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

size_t Count(const std::string& text, const std::string& word) {
  size_t n = 0;
  for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) ++n;
  return n;
}

bool OutputLooksGood(const std::string& out) {
  return Count(out, "COMPLETED!") == 2 && out.find("ERROR") == std::string::npos;
}

}  // namespace

int main() {
  const fs::path dir = fs::temp_directory_path() /
                       ("orn_bench_mcu_" + std::to_string(Clock::now().time_since_epoch().count()));
  fs::create_directories(dir);
  std::string firmware(16384, '\0');
  for (size_t i = 0; i < firmware.size(); ++i) {
    firmware[i] = static_cast<char>((i * 31 + 7) & 0xFF);
  }
  const fs::path image = dir / "fw.bin";
  const fs::path state = dir / "state.json";
  const fs::path cli_state = dir / "cli_state.json";
  WriteBytes(image, firmware);
  WriteBytes(state, "{}");
  WriteBytes(cli_state, "{}");
  int status = 0;

#ifndef _WIN32
  // The whole run of the built tool, as a user starts it.
  {
    const fs::path out = dir / "cli_out.txt";
    const std::string command = "cd '" + dir.string() + "' && ORN5300_SIM='" + cli_state.string() +
                                "' ORN5300_SIM_TRACE= '" ORN_CLI_PATH "' -F fw.bin > '" +
                                out.string() + "'";
    const auto start = Clock::now();
    const int rc = std::system(command.c_str());
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (rc != 0 || !OutputLooksGood(ReadBytes(out))) {
      std::fprintf(stderr, "bench_mcu_download: orn5300cli -F did not complete (rc %d)\n", rc);
    } else {
      std::fprintf(stderr, "bench_mcu_download: orn5300cli -F 16 KiB: %.3f s wall\n", seconds);
    }
  }
#endif

  // The flow in-process against the simulated device.
  {
    uint32_t error = 0;
    auto sim = sim::OpenSimulatedDevice(state.string(), "", error);
    if (!sim) {
      std::fprintf(stderr, "bench_mcu_download: simulator not available (error %u)\n", error);
    } else {
      CountingDevice counter(*sim);
      RequestChannel ch;
      ch.device = &counter;
      RunSettings rs;
      rs.CommandCode = kCmdMcuDownloadVerify;
      rs.McuFileName = image.string();
      const fs::path out = dir / "flow_out.txt";
      std::fflush(stdout);
      if (std::freopen(out.string().c_str(), "w", stdout) == nullptr) return 1;
      const auto start = Clock::now();
      const bool ok = RunMcuDownload(ch, rs);
      std::fflush(stdout);
      const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
      sim.reset();
      if (!ok || !OutputLooksGood(ReadBytes(out))) {
        std::fprintf(stderr, "bench_mcu_download: in-process -F failed\n");
        status = 1;
      } else {
        std::fprintf(stderr,
                     "bench_mcu_download: in-process -F 16 KiB: %llu requests in %.4f s "
                     "(%.0f requests/s; target under 0.1 s: %s)\n",
                     static_cast<unsigned long long>(counter.requests), seconds,
                     static_cast<double>(counter.requests) / seconds,
                     seconds < 0.1 ? "met" : "missed");
      }
    }
  }
  std::error_code ec;
  fs::remove_all(dir, ec);
  return status;
}
