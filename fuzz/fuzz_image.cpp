// Fuzz target: loading the identity out of a binary image (-w -b, with and
// without -O) and patching a serial number of varying length into the
// image, as the write flows and the stepping stage do.
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/run_settings.h"
#include "provision/binary_image.h"
#include "provision/provisioning.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::SilenceStdout();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = fuzz::ScratchPath("image.bin");
  fuzz::InputSplitter input(data, size);
  const uint8_t flags = input.TakeByte();
  const uint8_t serial_length = input.TakeByte() % 24;
  fuzz::WriteScratchFile(path, input.data(), input.size());

  RunSettings rs;
  rs.CommandCode = kCmdWrite;
  rs.BinaryFileName = path;
  rs.OtpMode = flags & 1;
  rs.EepromSize = (flags & 2) ? 256 : 512;
  static constexpr uint32_t kChips[] = {0x53000000u, 0x53010000u, 0x530A0000u, 0x53500000u};
  rs.ChipIdValue = kChips[(flags >> 2) & 3];
  if (flags & 0x10) {
    // A serial number from the command line replaces the image's.
    rs.CurrentSerialNumber = std::string(serial_length, 'A');
    rs.markers.Set("CurrentSerialNumber", kWellFormed);
  }
  if (flags & 0x20) {
    rs.MaximumSerialNumber = std::string(serial_length / 2 + 1, 'F');
    rs.markers.Set("MaximumSerialNumber", kWellFormed);
  }
  if (LoadBinaryImage(rs) != 0) return 0;

  // The write flows read the same file into their own buffer.
  ImageBuffer image{};
  const size_t count = input.size() < image.size() ? input.size() : image.size();
  for (size_t i = 0; i < count; ++i) image[i] = input.data()[i];
  rs.ImageByteCount = static_cast<int>(count);

  OptText serial;
  if (!(flags & 0x40)) {
    std::string text;
    for (int i = 0; i < serial_length; ++i) text.push_back("0123456789ABCDEF"[i % 16]);
    serial = text;
  }
  PatchImageIdentity(rs, image, rs.CurrentMacAddress, serial, rs.EepromSize);

  // The patched image must still read back as the identity written into it.
  if (!(flags & 0x80)) {
    RunSettings scratch;
    ExtractImageStrings(image, scratch, rs.ImageByteCount);
  }
  return 0;
}
