#include "img/render.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <system_error>

#include "config/image_layout.h"
#include "config/ini_reader.h"
#include "config/ini_schema.h"
#include "core/output.h"
#include "platform/stdout_redirect.h"
#include "provision/binary_image.h"

namespace img {

namespace {

constexpr uint32_t kChipId5300 = 0x53000000;
constexpr uint32_t kChipId5350 = 0x53500000;
constexpr int kMaxFileBytes = 512;
constexpr size_t kMaxSerialLength = 16;

Rendered Fail(Rendered r, const char* why, const FirstErrorRecorder* first_error = nullptr) {
  r.ok = false;
  r.error = why;
  if (first_error != nullptr && !first_error->text().empty()) r.error += ": " + first_error->text();
  return r;
}

// A name in the temporary folder that no other run picks.
std::filesystem::path TempIniPath() {
  static std::mt19937_64 generator = [] {
    std::random_device device;
    const auto now = std::chrono::high_resolution_clock::now().time_since_epoch().count();
    std::seed_seq seed{device(), device(), static_cast<unsigned>(now),
                       static_cast<unsigned>(static_cast<unsigned long long>(now) >> 32)};
    return std::mt19937_64(seed);
  }();
  char name[48];
  std::snprintf(name, sizeof name, "orn5300img-%016llx.ini",
                static_cast<unsigned long long>(generator()));
  std::error_code ec;
  std::filesystem::path dir = std::filesystem::temp_directory_path(ec);
  if (ec) dir = ".";
  return dir / name;
}

}  // namespace

Layout LayoutForSettings(const RunSettings& rs) {
  return rs.SSPollInterval != 0 ? Layout::k5300 : Layout::k5350;
}

Rendered RenderIniFile(const std::string& path, const RenderOptions& options) {
  Rendered r;
  platform::StdoutToStderr messages_to_stderr;
  const FirstErrorRecorder first_error;

  // The parse of `orn5300cli -i FILE -z IMAGE -d MODEL [-O]`: a target file
  // is set, so an invalidation signature is refused while the file is read.
  RunSettings rs;
  rs.markers.Clear();
  rs.IniFileName = path;
  rs.TargetFileName = "image";
  rs.OtpMode = options.otp ? 1 : 0;
  if (ReadIniFile(path.c_str(), rs) != 0) return Fail(r, "the INI file was refused", &first_error);
  if (options.mac) {
    rs.CurrentMacAddress = *options.mac;
    rs.MacAddressGiven = 1;
    rs.markers.Set("CurrentMacAddress", kWellFormed);
    if (options.beyond_maximum && rs.MaximumMacAddress < *options.mac) rs.MaximumMacAddress = *options.mac;
  }
  if (options.serial) {
    if (options.serial->size() > kMaxSerialLength) return Fail(r, "the serial number is too long");
    rs.CurrentSerialNumber = options.serial;
    rs.markers.Set("CurrentSerialNumber", kWellFormed);
    if (options.beyond_maximum) {
      rs.MaximumSerialNumber = options.serial;
      rs.markers.Set("MaximumSerialNumber", kWellFormed);
    }
  }
  if (LoadBinaryImage(rs) != 0) return Fail(r, "the identity of the INI file was refused", &first_error);
  if (CheckGpioWakeConfig(rs) != 0) return Fail(r, "the GPIO wake settings were refused", &first_error);

  // Image generation.
  if (CheckIniSections(rs) != 0) return Fail(r, "the INI file does not validate", &first_error);
  r.otp_signature_given = rs.OtpSignature;
  if (rs.OtpSignature == 0) rs.OtpSignature = options.otp ? options.otp_signature_default : kSigOtpFirst;
  if (options.otp && rs.OtpSignature != kSigOtpFirst && rs.OtpSignature != kSigOtpSecond) {
    return Fail(r, "the OTP signature is neither 0xF3 nor 0xF7");
  }
  r.layout = options.layout != Layout::kUnknown ? options.layout : LayoutForSettings(rs);
  rs.ChipIdValue = r.layout == Layout::k5350 ? kChipId5350 : kChipId5300;
  rs.EepromSize = options.eeprom_size;
  ImageBuffer buffer{};
  if (GenerateImage(rs, buffer, options.otp ? kImageModeOtp : kImageModeEeprom) != 0) {
    return Fail(r, options.otp ? "generating the OTP image failed" : "generating the EEPROM image failed",
                &first_error);
  }
  const int count = rs.ImageByteCount;
  r.image.assign(buffer.begin(), buffer.begin() + count);
  r.kind = !options.otp ? ImageKind::kEeprom
                        : (buffer[0] == kSigOtpSecond ? ImageKind::kOtpSecond : ImageKind::kOtpFirst);

  // The file form: a second OTP configuration keeps the OTP's first half
  // free in its file.
  if (r.kind == ImageKind::kOtpSecond) {
    if (count + kSecondFormGap > kMaxFileBytes) {
      r.oversize = true;
      return Fail(r, "the OTP image is too large for its file");
    }
    r.file.assign(static_cast<size_t>(count + kSecondFormGap), 0);
    r.file[0] = buffer[0];
    std::copy(buffer.begin() + 1, buffer.begin() + count, r.file.begin() + kSecondFormGap + 1);
  } else {
    if (count > kMaxFileBytes) {
      r.oversize = true;
      return Fail(r, "the image is too large for its file");
    }
    r.file = r.image;
  }
  r.current_mac = rs.CurrentMacAddress;
  r.maximum_mac = rs.MaximumMacAddress;
  r.current_serial = rs.CurrentSerialNumber;
  r.maximum_serial = rs.MaximumSerialNumber;
  r.ok = true;
  return r;
}

Rendered RenderIniText(const std::string& text, const RenderOptions& options) {
  const TempFile file(text);
  if (file.path().empty()) return Fail(Rendered{}, "cannot write a temporary file");
  return RenderIniFile(file.path(), options);
}

TempFile::TempFile(const std::string& bytes) {
  const std::filesystem::path path = TempIniPath();
  std::FILE* file = std::fopen(path.string().c_str(), "wb");
  if (file == nullptr) return;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  const bool closed = std::fclose(file) == 0;
  path_ = path.string();
  if (!written || !closed) {
    std::error_code ec;
    std::filesystem::remove(path, ec);
    path_.clear();
  }
}

TempFile::~TempFile() {
  if (path_.empty()) return;
  std::error_code ec;
  std::filesystem::remove(path_, ec);
}

Image RenderedImage(const Rendered& rendered, bool otp, const std::string& name) {
  Image image;
  image.name = name;
  image.source = SourceType::kIni;
  image.raw = rendered.file;
  image.source_size = static_cast<long long>(rendered.file.size());
  image.bytes = rendered.image;
  image.kind = rendered.kind;
  image.layout = rendered.layout;
  image.layout_forced = true;
  image.otp_memory = otp;
  return image;
}

RenderCache::Entry& RenderCache::Find(const std::string& path, const RenderOptions& options) {
  std::string key = path;
  key += '\0';
  key += std::to_string(static_cast<int>(options.layout)) + "," + std::to_string(options.otp) + "," +
         std::to_string(options.otp_signature_default) + "," + std::to_string(options.eeprom_size) + "," +
         std::to_string(options.beyond_maximum) + ",";
  if (options.mac) key.append(options.mac->begin(), options.mac->end());
  key += '\0';
  if (options.serial) key += "s" + *options.serial;
  auto it = renders_.find(key);
  if (it == renders_.end()) it = renders_.emplace(key, Entry{RenderIniFile(path, options), std::nullopt}).first;
  return it->second;
}

const Rendered& RenderCache::Get(const std::string& path, const RenderOptions& options) {
  return Find(path, options).rendered;
}

const std::vector<Field>& RenderCache::Fields(const std::string& path, const RenderOptions& options) {
  Entry& entry = Find(path, options);
  if (!entry.fields) entry.fields = ImageFields(RenderedImage(entry.rendered, options.otp, path));
  return *entry.fields;
}

}  // namespace img
