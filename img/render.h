// Rendering an INI file into image bytes exactly as `orn5300cli -z` does:
// the INI reader and its section handlers, the identity and GPIO wake checks
// of the command-line parse, the required-sections check, the library's
// image builder and the file form. The library's messages go to standard
// error.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/run_settings.h"
#include "img/fields.h"
#include "img/image.h"

namespace img {

struct RenderOptions {
  Layout layout = Layout::kUnknown;  // unknown: the one layout the INI file renders in
  bool otp = false;                  // an OTP image (-z -O)
  // Signature of an OTP image when the INI file names none (-z takes 0xF3;
  // an OTP write takes 0xF7 when the first configuration is in place).
  uint8_t otp_signature_default = kSigOtpFirst;
  int eeprom_size = 512;  // space the image must fit
  // Identity put in place of the INI file's values, as -M and -S do.
  std::optional<MacAddress> mac;
  OptText serial;
  // The identity put in place may lie above the INI file's maximum values:
  // they become the identity itself (for comparing the rest of an image).
  bool beyond_maximum = false;
};

struct Rendered {
  bool ok = false;
  // Why it failed, with the first error message of the library (all of its
  // messages went to standard error).
  std::string error;
  // Not ok only because the image does not fit its file form (a second OTP
  // configuration beyond 256 bytes): `image`, `kind` and `layout` are set.
  bool oversize = false;
  Layout layout = Layout::kUnknown;
  ImageKind kind = ImageKind::kEeprom;
  std::vector<uint8_t> image;  // the image bytes (image byte count of them)
  std::vector<uint8_t> file;   // the file -z writes
  // The identity values of the INI file after the parse's checks (serial
  // numbers padded to one length), for range checks.
  MacAddress current_mac{};
  MacAddress maximum_mac{};
  OptText current_serial;
  OptText maximum_serial;
  int32_t otp_signature_given = 0;  // OtpSignature of the INI file, 0 when absent
};

// Renders the INI file at `path`.
Rendered RenderIniFile(const std::string& path, const RenderOptions& options);

// Renders INI text through a temporary file.
Rendered RenderIniText(const std::string& text, const RenderOptions& options);

// The layout an INI configuration renders in: the ORN5300 layout needs a
// SuperSpeed polling interval, the ORN5350 layout refuses one.
Layout LayoutForSettings(const RunSettings& rs);

// The rendered image as a source of its own (an INI source): its bytes,
// kind and layout, named `name`.
Image RenderedImage(const Rendered& rendered, bool otp, const std::string& name);

// Renders of INI files kept for the rest of a run, with the fields of their
// images, for commands that render one file many times (verify against many
// images). The files must not change while the cache is used.
class RenderCache {
 public:
  const Rendered& Get(const std::string& path, const RenderOptions& options);
  // ImageFields of RenderedImage(Get(path, options), options.otp, ...).
  const std::vector<Field>& Fields(const std::string& path, const RenderOptions& options);

 private:
  struct Entry {
    Rendered rendered;
    std::optional<std::vector<Field>> fields;
  };
  Entry& Find(const std::string& path, const RenderOptions& options);
  std::map<std::string, Entry> renders_;
};

// A temporary file that holds the given bytes while the object lives (an
// INI file read from standard input). path() is empty when it could not be
// written.
class TempFile {
 public:
  explicit TempFile(const std::string& bytes);
  ~TempFile();
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace img
