#include "img/image.h"

#include <algorithm>
#include <cstdio>

namespace img {

std::vector<uint8_t> ByteView::Slice(long offset, long length) const {
  std::vector<uint8_t> out;
  if (offset < 0 || length <= 0 || static_cast<size_t>(offset) >= size_) return out;
  const size_t end = std::min(size_, static_cast<size_t>(offset) + static_cast<size_t>(length));
  out.assign(data_ + offset, data_ + end);
  return out;
}

const char* LayoutName(Layout layout) {
  switch (layout) {
    case Layout::k5300: return "ORN5300";
    case Layout::k5350: return "ORN5350";
    case Layout::kUnknown: break;
  }
  return "unknown";
}

const char* KindName(ImageKind kind) {
  switch (kind) {
    case ImageKind::kEeprom: return "EEPROM image";
    case ImageKind::kOtpFirst: return "OTP first configuration (0xF3)";
    case ImageKind::kOtpSecond: return "OTP second configuration (0xF7)";
    case ImageKind::kOtpEmpty: return "empty OTP (0x00)";
    case ImageKind::kOtpInvalidated: return "invalidated OTP (0xFF)";
    case ImageKind::kOtpInvalid: return "OTP with an invalid signature";
  }
  return "?";
}

const char* KindKey(ImageKind kind) {
  switch (kind) {
    case ImageKind::kEeprom: return "eeprom";
    case ImageKind::kOtpFirst: return "otp-f3";
    case ImageKind::kOtpSecond: return "otp-f7";
    case ImageKind::kOtpEmpty: return "otp-empty";
    case ImageKind::kOtpInvalidated: return "otp-invalidated";
    case ImageKind::kOtpInvalid: return "otp-invalid";
  }
  return "?";
}

const char* SourceTypeKey(SourceType s) {
  switch (s) {
    case SourceType::kFile: return "file";
    case SourceType::kIni: return "ini";
    case SourceType::kDevice: return "device";
  }
  return "?";
}

const char* ChipModelName(uint32_t chip_id) {
  switch (chip_id >> 16) {
    case 0x5300: return "ORN5300";
    case 0x5301: return "ORN5301";
    case 0x530A: return "ORN530A";
    case 0x5350: return "ORN5350";
    default: return nullptr;
  }
}

Layout ChipLayout(uint32_t chip_id) {
  switch (chip_id >> 16) {
    case 0x5300:
    case 0x5301: return Layout::k5300;
    case 0x5350: return Layout::k5350;
    default: return Layout::kUnknown;
  }
}

void ClassifyBytes(Image& image, bool otp, bool eeprom) {
  const std::vector<uint8_t>& raw = image.raw;
  const uint8_t first = raw.empty() ? 0 : raw[0];
  const size_t cap = static_cast<size_t>(kMaxImageBytes);
  image.bytes.clear();
  const bool otp_form = !eeprom && (otp || first == kSigOtpFirst || first == kSigOtpSecond);
  if (!otp_form || raw.empty()) {
    image.kind = otp_form ? ImageKind::kOtpEmpty : ImageKind::kEeprom;
    image.otp_memory = otp_form;
    image.bytes.assign(raw.begin(), raw.begin() + static_cast<long>(std::min(cap, raw.size())));
    return;
  }
  image.otp_memory = true;
  if (first == kSigOtpSecond) {
    // Signature at offset 0, image byte k at offset 256 + k.
    image.kind = ImageKind::kOtpSecond;
    image.bytes.push_back(first);
    const size_t from = kSecondFormGap + 1;
    if (raw.size() > from) {
      const size_t n = std::min(cap - 1, raw.size() - from);
      image.bytes.insert(image.bytes.end(), raw.begin() + static_cast<long>(from),
                         raw.begin() + static_cast<long>(from + n));
    }
    return;
  }
  image.bytes.assign(raw.begin(), raw.begin() + static_cast<long>(std::min(cap, raw.size())));
  switch (first) {
    case kSigOtpFirst: image.kind = ImageKind::kOtpFirst; break;
    case 0x00: image.kind = ImageKind::kOtpEmpty; break;
    case kSigOtpInvalidated: image.kind = ImageKind::kOtpInvalidated; break;
    default: image.kind = ImageKind::kOtpInvalid; break;
  }
}

Layout DetectLayout(const Image& image) {
  if (image.kind != ImageKind::kEeprom && image.kind != ImageKind::kOtpFirst &&
      image.kind != ImageKind::kOtpSecond) {
    return Layout::kUnknown;
  }
  const ByteView b(image.bytes);
  // The BOS descriptor's slot and its own total length: 22 bytes with the
  // SuperSpeed capability (ORN5300 layout), 12 without (ORN5350).
  for (long at : {0x2FL, 0x64L}) {
    if (!b.Has(at, 1)) continue;
    if (b.U8(at) == 22) return Layout::k5300;
    if (b.U8(at) == 12) return Layout::k5350;
  }
  // The high-speed device descriptor: byte 0x9C or byte 0x6E.
  if (b.Has(0x36, 1)) {
    const int word = b.U8(0x36) - BiasWords(image.kind);
    if (word == 0x4E) return Layout::k5300;
    if (word == 0x37) return Layout::k5350;
  }
  return Layout::kUnknown;
}

std::string HexBytes(const std::vector<uint8_t>& bytes, bool spaced) {
  std::string out;
  out.reserve(bytes.size() * 3);
  char text[4];
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (spaced && i > 0) out.push_back(' ');
    std::snprintf(text, sizeof text, "%02X", bytes[i]);
    out += text;
  }
  return out;
}

}  // namespace img
