// -z: generates an EEPROM or OTP image from the INI file and writes it to the
// target file in the form that the binary image loader reads back.
#include "eeprom/image_file.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>
#include <vector>

#include "core/exit_codes.h"
#include "core/output.h"
#include "config/image_layout.h"
#include "config/ini_schema.h"

namespace {

constexpr int kMaxImageFileSize = 512;
// Bytes of an 0xF7 file between its signature and image byte 1.
constexpr int kSecondHalfGap = 256;

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// A name beside the target that does not exist yet.
std::string TempNameBeside(const std::string& path) {
  std::error_code ec;
  std::string name = path + ".tmp";
  for (int i = 1; i < 100 && std::filesystem::exists(name, ec); ++i) {
    name = path + ".tmp" + std::to_string(i);
  }
  return name;
}

// Puts the file's bytes into `bytes`; false (after the message) when the
// image is too large for its file form.
bool FileForm(const ImageBuffer& image, int count, bool otp, std::vector<uint8_t>& bytes) {
  if (count < 1) count = 1;  // the signature byte at least
  if (otp && image[0] == kSignatureOtpSecond) {
    if (count + kSecondHalfGap > kMaxImageFileSize) {
      std::printf("Binary OTP image file size is greater than Max OTP (512 bytes) size\n");
      return false;
    }
    bytes.assign(static_cast<size_t>(count + kSecondHalfGap), 0);
    bytes[0] = image[0];
    std::copy(image.begin() + 1, image.begin() + count, bytes.begin() + kSecondHalfGap + 1);
    return true;
  }
  if (count > kMaxImageFileSize) {
    if (otp) {
      std::printf("Binary OTP image file size is greater than Max OTP (512 bytes) size\n");
    } else {
      std::printf("Binary EEPROM image file generated is greater than Max EEPROM (512 bytes) size\n");
    }
    return false;
  }
  bytes.assign(image.begin(), image.begin() + count);
  return true;
}

// An existing target must be writable: replacing it by a rename would
// otherwise get around its write protection.
bool TargetWritable(const std::string& path) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) return true;
  return FilePtr(std::fopen(path.c_str(), "ab")) != nullptr;
}

}  // namespace

int WriteImageFile(const std::string& path, const ImageBuffer& image, int count, bool otp) {
  const std::string temp = TempNameBeside(path);
  FilePtr file(TargetWritable(path) ? std::fopen(temp.c_str(), "wb") : nullptr);
  if (!file) {
    PrintError("Couldn't create file %s\n", path.c_str());
    return kExitIdentity;
  }
  std::error_code ec;
  auto discard = [&] {
    file.reset();
    std::filesystem::remove(temp, ec);
    return kExitIdentity;
  };

  std::vector<uint8_t> bytes;
  if (!FileForm(image, count, otp, bytes)) return discard();
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
  const bool closed = std::fclose(file.release()) == 0;
  if (!written || !closed) {
    PrintError("Couldn't write file %s\n", path.c_str());
    return discard();
  }
  std::filesystem::rename(temp, path, ec);
  if (ec) {
    PrintError("Couldn't create file %s\n", path.c_str());
    return discard();
  }

  const int size = static_cast<int>(bytes.size());
  if (!otp) {
    std::printf("Binary eeprom file %s generated, file size: %d bytes\n", path.c_str(), size);
  } else if (image[0] == kSignatureOtpSecond) {
    std::printf("Binary OTP file %s generated (first byte: 0xF7), file size: %d bytes\n",
                path.c_str(), size);
  } else {
    std::printf("Binary OTP file %s generated (first byte: 0xF3), file size: %d bytes\n",
                path.c_str(), size);
  }
  return kExitSuccess;
}

int GenerateImageFile(RunSettings& rs, ImageBuffer& image) {
  image.fill(0);
  if (CheckIniSections(rs) != 0) {
    PrintError("Validated ini file failed\n");
    return kExitEepromWrite;
  }

  const bool otp = rs.OtpMode != 0;
  if (rs.OtpSignature == 0) rs.OtpSignature = kSignatureOtpFirst;
  if (otp && rs.OtpSignature != kSignatureOtpFirst && rs.OtpSignature != kSignatureOtpSecond) {
    // Only a first or second configuration can be written to a file.
    PrintError("Invalid OtpSignature, should be '0xF3' or '0xF7'\n");
    PrintError("Generating OTP image failed\n");
    return kExitEepromWrite;
  }
  if (GenerateImage(rs, image, otp ? kImageModeOtp : kImageModeEeprom) != 0) {
    PrintError(otp ? "Generating OTP image failed\n" : "Generating EEPROM image failed\n");
    return kExitEepromWrite;
  }

  if (!rs.TargetFileName) {
    PrintError("No target file name is specified after -z\n");
    return kExitIdentity;
  }
  return WriteImageFile(*rs.TargetFileName, image, rs.ImageByteCount, otp);
}
