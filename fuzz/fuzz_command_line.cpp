// Fuzz target: the command-line parse on arbitrary argument vectors. The
// input is the list of arguments separated by NUL bytes. The parse runs in
// a scratch folder that holds a valid INI file (a.ini) and a valid binary
// image (b.bin), so arguments naming them reach the INI reader and the
// image loader.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "core/run_settings.h"
#include "driver/request_channel.h"
#include "fuzz/fuzz_support.h"

namespace {

const char kIni[] =
    "[MacAddress]\n"
    "CurrentMacAddress=00:11:22:33:44:55\n"
    "MaximumMacAddress=00:11:22:33:FF:FF\n"
    "MacAddressIncrement=1\n"
    "[SerialNumber]\n"
    "CurrentSerialNumber=0001\n"
    "MaximumSerialNumber=FFFF\n"
    "SerialNumberIncrement=1\n";

// An EEPROM image with a MAC address and the serial number "0001".
std::vector<uint8_t> SampleImage() {
  std::vector<uint8_t> image(512, 0);
  image[0] = 0xA5;
  const uint8_t mac[] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x56};
  for (int i = 0; i < 6; ++i) image[1 + i] = mac[i];
  const char serial[] = "0001";
  const int pos = 192;
  image[0x29] = 2 * 4 + 2;
  image[0x2A] = pos / 2;
  image[pos] = image[0x29];
  image[pos + 1] = 0x03;
  for (int i = 0; i < 4; ++i) image[pos + 2 + 2 * i] = static_cast<uint8_t>(serial[i]);
  return image;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::SilenceStdout();
  const std::string& dir = fuzz::ScratchDir();
  fuzz::WriteScratchFile(fuzz::ScratchPath("a.ini"), reinterpret_cast<const uint8_t*>(kIni),
                         sizeof kIni - 1);
  const std::vector<uint8_t> image = SampleImage();
  fuzz::WriteScratchFile(fuzz::ScratchPath("b.bin"), image.data(), image.size());
  if (chdir(dir.c_str()) != 0) return 1;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Split at NUL bytes; a trailing NUL ends the last argument.
  std::vector<std::string> args{"orn5300cli"};
  std::string current;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      args.push_back(current);
      current.clear();
    } else {
      current.push_back(static_cast<char>(data[i]));
    }
  }
  if (!current.empty()) args.push_back(current);
  if (args.size() > 64) return 0;

  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  RunSettings rs;
  RequestChannel ch;
  ParseCommandLine(static_cast<int>(args.size()), argv.data(), rs, ch);
  return 0;
}
