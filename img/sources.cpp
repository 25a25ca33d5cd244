#include "img/sources.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "app/device_open.h"
#include "driver/request_channel.h"
#include "img/fields.h"
#include "platform/file_replace.h"
#include "platform/stdout_redirect.h"

namespace img {

namespace {

constexpr int kEepromReadBytes = 512;

bool EndsWithIni(const std::string& path) {
  if (path.size() < 4) return false;
  std::string tail = path.substr(path.size() - 4);
  for (char& c : tail) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return tail == ".ini";
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

// The bytes of a file or of standard input: at most `limit` of them, and
// the count of all.
bool ReadSourceBytes(const SourceRef& ref, const SourceOptions& options, size_t limit, std::string& bytes,
                     long long& size, std::string& error) {
  if (ref.standard_input) {
    if (options.standard_input == nullptr) {
      error = "standard input was not read";
      return false;
    }
    bytes = options.standard_input->substr(0, limit);
    size = options.standard_input_size;
    return true;
  }
  std::unique_ptr<std::FILE, FileCloser> file(platform::OpenForReading(ref.path));
  if (!file) {
    error = "cannot open " + ref.path + ": " + std::strerror(errno);
    return false;
  }
  size = 0;
  char chunk[4096];
  for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, file.get())) > 0;) {
    size += static_cast<long long>(n);
    if (bytes.size() < limit) bytes.append(chunk, std::min(n, limit - bytes.size()));
  }
  if (std::ferror(file.get())) {
    error = "cannot read " + ref.path;
    return false;
  }
  return true;
}

Loaded LoadIni(const SourceRef& ref, const SourceOptions& options, const Image* reference,
               const std::string* text = nullptr);

Loaded LoadFile(const SourceRef& ref, const SourceOptions& options, const Image* reference) {
  Loaded out;
  std::string bytes;
  long long size = 0;
  const size_t limit = ref.standard_input ? kMaxInputBytes : static_cast<size_t>(kMaxRawBytes);
  if (!ReadSourceBytes(ref, options, limit, bytes, size, out.error)) return out;
  // INI text under another name is rendered, as decode would need it.
  if (!ref.type_given && LooksLikeIniText(bytes)) {
    if (ref.standard_input && size > static_cast<long long>(bytes.size())) {
      out.error = "standard input holds more than " + std::to_string(kMaxInputBytes) + " bytes of INI text";
      return out;
    }
    return ref.standard_input ? LoadIni(ref, options, reference, &bytes) : LoadIni(ref, options, reference);
  }
  Image& image = out.image;
  image.raw.assign(bytes.begin(), bytes.begin() + static_cast<long>(std::min(bytes.size(), size_t{kMaxRawBytes})));
  image.source_size = size;
  ClassifyBytes(image, options.otp, options.eeprom);
  return out.ok = true, out;
}

// Renders an INI file, or INI text read from standard input.
Loaded LoadIni(const SourceRef& ref, const SourceOptions& options, const Image* reference, const std::string* text) {
  Loaded out;
  RenderOptions render;
  render.layout = options.model;
  render.otp = options.otp;
  // Another INI file renders in its own layout and memory.
  if (reference != nullptr && reference->source != SourceType::kIni) {
    if (render.layout == Layout::kUnknown) render.layout = reference->layout;
    const bool reference_otp =
        reference->kind == ImageKind::kOtpFirst || reference->kind == ImageKind::kOtpSecond;
    if (!options.eeprom && reference_otp) render.otp = true;
    if (reference->kind == ImageKind::kOtpSecond) render.otp_signature_default = kSigOtpSecond;
    if (reference->source == SourceType::kDevice && !reference->otp_memory) {
      render.eeprom_size = reference->memory_size;
    }
  }
  std::string input;
  if (ref.standard_input && text == nullptr) {
    long long size = 0;
    if (!ReadSourceBytes(ref, options, kMaxInputBytes, input, size, out.error)) return out;
    if (size > static_cast<long long>(input.size())) {
      out.error = "standard input holds more than " + std::to_string(kMaxInputBytes) + " bytes of INI text";
      return out;
    }
    text = &input;
  }
  out.rendered = text != nullptr ? RenderIniText(*text, render) : RenderIniFile(ref.path, render);
  if (!out.rendered.ok) {
    out.error = ref.text + ": " + out.rendered.error;
    return out;
  }
  out.image = RenderedImage(out.rendered, render.otp, ref.text);
  return out.ok = true, out;
}

std::string OpenFailure(uint32_t error) {
  if (error == platform::kErrorFileNotFound) return "device not found";
  if (error == platform::kErrorAccessDenied) return "access to the device denied (run as Administrator)";
  return "cannot open the device (error " + std::to_string(error) + ")";
}

Loaded LoadDevice(const SourceRef& ref, const SourceOptions& options) {
  Loaded out;
  Image& image = out.image;
  image.source = SourceType::kDevice;
  // The request channel prints its failures on standard output.
  platform::StdoutToStderr messages_to_stderr;
  uint32_t error = 0;
  std::unique_ptr<platform::DeviceControl> device = OpenDevice(error);
  if (!device) {
    out.error = ref.text + ": " + OpenFailure(error);
    return out;
  }
  auto channel = std::make_unique<RequestChannel>();
  channel->device = device.get();
  SelectAdapter(*channel, ref.adapter);

  if (!ReadRegister(*channel, 0, image.chip_id)) {
    out.error = ref.text + ": cannot read the chip ID";
    return out;
  }
  if (ChipModelName(image.chip_id) == nullptr) {
    char text[64];
    std::snprintf(text, sizeof text, ": not an ORN53xx device (chip ID 0x%08X)",
                  static_cast<unsigned>(image.chip_id));
    out.error = ref.text + text;
    return out;
  }

  if (options.otp) {
    image.raw.assign(kOtpBytes, 0);
    if (!OtpReadBlock(*channel, 0, kOtpBytes, image.raw.data())) {
      out.error = ref.text + ": cannot read the OTP";
      return out;
    }
    image.memory_size = kOtpBytes;
  } else {
    const int asked = options.eeprom_size;
    image.raw.assign(static_cast<size_t>(asked != 0 ? asked : kEepromReadBytes), 0);
    if (!E2pReadBlock(*channel, static_cast<uint16_t>(image.raw.size()), image.raw.data())) {
      out.error = ref.text + ": cannot read the EEPROM";
      return out;
    }
    image.memory_size = asked;
    if (asked == 0) {
      bool certain = true;
      image.memory_size = EepromSizeFromRead(image.raw, certain);
      image.raw.resize(static_cast<size_t>(image.memory_size));
      const bool blank = std::all_of(image.raw.begin(), image.raw.end(), [](uint8_t v) { return v == 0xFF; });
      if (!certain && !blank) {
        out.note = ref.text + ": the EEPROM's two halves are equal: taken as a 512-byte part "
                   "(give --eeprom-size 256 for a 256-byte one)";
      }
    }
  }
  channel->device = nullptr;
  device.reset();

  image.source_size = static_cast<long long>(image.raw.size());
  image.otp_memory = options.otp;
  ClassifyBytes(image, options.otp, !options.otp);
  return out.ok = true, out;
}

}  // namespace

bool LooksLikeIniText(const std::string& bytes) {
  if (bytes.find('\0') != std::string::npos) return false;
  size_t at = bytes.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0;
  at = bytes.find_first_not_of(" \t\r\n", at);
  return at != std::string::npos && (bytes[at] == '[' || bytes[at] == '#');
}

bool ParseSourceRef(const std::string& argument, SourceRef& ref, std::string& error) {
  ref = SourceRef{};
  ref.text = argument;
  if (argument == "device" || argument.rfind("device:", 0) == 0) {
    ref.type = SourceType::kDevice;
    if (argument.size() > 7) {
      const std::string number = argument.substr(7);
      char* end = nullptr;
      errno = 0;
      const long index = std::strtol(number.c_str(), &end, 10);
      if (number.empty() || *end != '\0' || errno == ERANGE || index < 0 || index > INT_MAX ||
          number[0] == '-' || number[0] == '+' || number[0] == ' ') {
        error = "invalid adapter number in " + argument;
        return false;
      }
      ref.adapter = static_cast<int>(index);
    } else if (argument.size() == 7) {
      error = "invalid adapter number in " + argument;
      return false;
    }
    return true;
  }
  if (argument.rfind("ini:", 0) == 0) {
    ref.type = SourceType::kIni;
    ref.type_given = true;
    ref.path = argument.substr(4);
  } else if (argument.rfind("bin:", 0) == 0) {
    ref.type = SourceType::kFile;
    ref.type_given = true;
    ref.path = argument.substr(4);
  } else {
    ref.type = EndsWithIni(argument) ? SourceType::kIni : SourceType::kFile;
    ref.path = argument;
  }
  if (ref.path.empty()) {
    error = "empty file name in " + argument;
    return false;
  }
  ref.standard_input = ref.path == "-";
  return true;
}

int EepromSizeFromRead(const std::vector<uint8_t>& read512, bool& certain) {
  certain = true;
  if (read512.size() < 512) return static_cast<int>(read512.size());
  if (!std::equal(read512.begin(), read512.begin() + 256, read512.begin() + 256)) return 512;
  // Equal halves: a 256-byte part, or a 512-byte part that happens to hold
  // the same bytes twice. An image written by the tool is followed by zeros,
  // so a genuine image that ends inside the first half tells a 256-byte part.
  Image half;
  half.raw.assign(read512.begin(), read512.begin() + 256);
  ClassifyBytes(half, false, true);
  half.layout = DetectLayout(half);
  if (half.bytes[0] == kSigEeprom && half.layout != Layout::kUnknown && ImageExtent(half) <= 256) {
    return 256;
  }
  certain = false;
  return 512;
}

Loaded LoadSource(const SourceRef& ref, const SourceOptions& options, const Image* reference) {
  Loaded out;
  switch (ref.type) {
    case SourceType::kFile: out = LoadFile(ref, options, reference); break;
    case SourceType::kIni: out = LoadIni(ref, options, reference); break;
    case SourceType::kDevice: out = LoadDevice(ref, options); break;
  }
  if (!out.ok) return out;
  out.image.name = ref.text;
  if (out.image.source != SourceType::kIni) {
    if (options.model != Layout::kUnknown) {
      out.image.layout = options.model;
      out.image.layout_forced = true;
    } else if (ref.type == SourceType::kDevice && ChipLayout(out.image.chip_id) != Layout::kUnknown) {
      out.image.layout = ChipLayout(out.image.chip_id);
    } else {
      out.image.layout = DetectLayout(out.image);
    }
  }
  return out;
}

}  // namespace img
