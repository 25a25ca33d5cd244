// Reads a complete, valid INI file padded to 10 MB with comment lines and
// unknown sections, and prints the reading speed and the peak memory of the
// process before and after (it must not grow with the file).
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "config/ini_reader.h"
#include "config/ini_schema.h"

namespace {

const char* const kSections[] = {
    "[MacAddress]\r\nCurrentMacAddress=00:11:22:33:44:55\r\nMaximumMacAddress=00:11:22:33:FF:FF\r\n"
    "MacAddressIncrement=1\r\n",
    "[SerialNumber]\r\nCurrentSerialNumber=0000000000000001\r\n"
    "MaximumSerialNumber=00000000000000FF\r\nSerialNumberIncrement=1\r\n",
    "[String]\r\nManufacturerString=Orion Networks\r\nProductString=ORN5300 Gigabit Ethernet\r\n"
    "ManufacturerEnable=1\r\nProductEnable=1\r\nConfigurationEnable=0\r\nInterfaceEnable=0\r\n",
    "[ID]\r\nVendorID=0x1F7B\r\nProductID=0x5300\r\nBcdDevice=0100\r\n",
    "[Power]\r\nSSMaxPower=896\r\nHSMaxPower=500\r\n",
    "[GPIOPME0]\r\nGPIOPMEEnable=1\r\nGPIOPMEConfiguration=0\r\nGPIOPMELength=1\r\n"
    "GPIOPMEPolarity=0\r\nGPIOBufferType=1\r\nGPIOPMEWOLSelect=0\r\nPMEMagicPacketEnable=1\r\n"
    "PMEPerfectDAEnable=0\r\n",
    "[GPIOPME1]\r\nGPIOConnectBufferType=1\r\nGPIOConnectEnable=0\r\nGPIOConnectPolarity=1\r\n"
    "PMEWUFFEnable=1\r\n",
    "[LEDConfig0]\r\nLED3Enable=0\r\nLED2Enable=1\r\nLED1Enable=1\r\nLED0Enable=1\r\n",
    "[LEDConfig1]\r\nLED1Function=10\r\nLED0Function=3\r\n",
    "[LEDConfig2]\r\nLED3Function=15\r\nLED2Function=0\r\n",
    "[LEDBehaviorConfig]\r\nLEDBehavior=0xA5C3\r\n",
    "[GPIOConfig]\r\nGPIOEnable=0x00F\r\nGPIOBuffer=0x003\r\nGPIODirection=0x00C\r\n"
    "GPIOData=0x004\r\nGPIOWake=0x001\r\nGPIOWakePolarity=0x001\r\n",
    "[InterruptPollInterval]\r\nFSPollInterval=255\r\nHSPollInterval=16\r\nSSPollInterval=8\r\n",
    "[PMEWUFConfiguration]\r\nFilterAddressType=2\r\nFilterPatternOffset=12\r\n"
    "FilterMaskPattern=1A 2B 3C 4D\r\n",
    "[ConfigFlags0]\r\nSWModeSuspendNSelect=3\r\nSWModePolarity=1\r\nRemoteWakeupEnable=1\r\n"
    "SelfPower=0\r\n",
};

// Peak resident memory of this process in kB, from the process status
// file where the system has one; -1 elsewhere.
long PeakRssKb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

}  // namespace

int main() {
  const std::filesystem::path path =
      std::filesystem::temp_directory_path() / "bench_ini_reader.ini";
  const size_t target = 10u << 20;
  const std::string padding =
      "# Padding: comment lines and an unknown section, as a long annotated file would have\r\n"
      "[VendorNotes]\r\nNote=ignored by the reader 0123456789 abcdefghijklmnopqrstuvwxyz\r\n"
      "\r\n";
  const size_t sections = sizeof(kSections) / sizeof(kSections[0]);
  {
    std::ofstream out(path, std::ios::binary);
    const size_t per_gap = target / (sections + 1);
    for (size_t s = 0; s <= sections; ++s) {
      for (size_t gap = 0; gap < per_gap; gap += padding.size()) {
        out << padding;
      }
      if (s < sections) out << kSections[s];
    }
  }
  const double megabytes =
      static_cast<double>(std::filesystem::file_size(path)) / (1024.0 * 1024.0);

  const long rss_before = PeakRssKb();
  const int rounds = 5;
  double best = 1e9;
  int failures = 0;
  for (int i = 0; i < rounds; ++i) {
    RunSettings rs;
    const auto start = std::chrono::steady_clock::now();
    failures += ReadIniFile(path.string().c_str(), rs) != 0;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (seconds < best) best = seconds;
    failures += CheckIniSections(rs) != 0;
  }
  const long rss_after = PeakRssKb();
  std::filesystem::remove(path);

  std::printf("bench_ini_reader: %.1f MB file, best of %d reads %.3f s = %.1f MB/s (target >= 50)\n",
              megabytes, rounds, best, megabytes / best);
  std::printf("bench_ini_reader: peak RSS %ld kB before, %ld kB after reading %d times\n",
              rss_before, rss_after, rounds);
  if (failures != 0) std::printf("bench_ini_reader: the padded file did not read cleanly\n");
  return failures == 0 ? 0 : 1;
}
