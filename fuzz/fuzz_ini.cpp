// Fuzz target: the INI reader with every section handler, the checks over
// the whole configuration, image generation from what was read, and the
// write-back of a stepped identity into the same file.
#include <cstddef>
#include <cstdint>

#include "core/run_settings.h"
#include "config/image_layout.h"
#include "config/ini_reader.h"
#include "config/ini_schema.h"
#include "provision/provisioning.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::SilenceStdout();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = fuzz::ScratchPath("config.ini");
  fuzz::WriteScratchFile(path, data, size);

  RunSettings rs;
  rs.IniFileName = path;
  rs.CommandCode = kCmdWrite;
  if (ReadIniFile(path.c_str(), rs) != 0) return 0;
  if (CheckIniSections(rs) != 0) return 0;
  CheckGpioWakeConfig(rs);

  // Lay the configuration out for each chip family and memory.
  for (const uint32_t chip : {0x53000000u, 0x53500000u}) {
    for (const int mode : {kImageModeEeprom, kImageModeOtp}) {
      RunSettings copy = rs;
      copy.ChipIdValue = chip;
      copy.OtpMode = mode == kImageModeOtp;
      ImageBuffer image{};
      GenerateImage(copy, image, mode);
    }
  }

  // Step the identity and write it back where the reader found it.
  if (RecordIniWriteBackTexts(rs) == 0) {
    rs.CurrentMacAddress[5] ^= 0x5A;
    if (rs.CurrentSerialNumber) rs.CurrentSerialNumber->append("1");
    WriteBackIni(path, rs);
  }
  return 0;
}
