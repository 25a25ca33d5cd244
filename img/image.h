// A configuration image as orn5300img sees it: the bytes of one source (a
// binary file, an INI file rendered as -z would, or a device memory), what
// kind of image they hold and in which layout. Every offset and length
// inside comes from a file or a device, so the bytes are only ever read
// through the bounds-checked accessors below.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace img {

// The two image layouts: ORN5300 (models ORN5300 and ORN5301) and ORN5350.
enum class Layout { kUnknown, k5300, k5350 };

// Where the image lives and which configuration it is.
enum class ImageKind {
  kEeprom,          // an EEPROM image (signature 0xA5 when valid)
  kOtpFirst,        // OTP first configuration (0xF3), image from OTP offset 0
  kOtpSecond,       // OTP second configuration (0xF7), image byte k at OTP offset 256 + k
  kOtpEmpty,        // an OTP that holds no configuration (0x00)
  kOtpInvalidated,  // an OTP marked as no longer used (0xFF)
  kOtpInvalid,      // an OTP whose signature byte is none of the above
};

enum class SourceType { kFile, kIni, kDevice };

// Signature bytes at image offset 0.
constexpr uint8_t kSigEeprom = 0xA5;
constexpr uint8_t kSigOtpFirst = 0xF3;
constexpr uint8_t kSigOtpSecond = 0xF7;
constexpr uint8_t kSigOtpInvalidated = 0xFF;

// Largest image: the size of the image buffer of the library.
constexpr int kMaxImageBytes = 546;
// An OTP holds 512 bytes; an EEPROM 256 or 512.
constexpr int kOtpBytes = 512;
// File offset of image byte 1 in the file form of a second OTP configuration
// is this gap plus 1.
constexpr int kSecondFormGap = 256;
// Bytes of a file that are read: more than any file form can hold, so that
// an oversized file shows in its size.
constexpr int kMaxRawBytes = 1024;

struct Image {
  std::string name;                   // the source as named on the command line
  SourceType source = SourceType::kFile;
  std::vector<uint8_t> raw;           // the file or the memory as read (at most kMaxRawBytes)
  long long source_size = 0;          // size of the whole file or memory
  std::vector<uint8_t> bytes;         // image byte k at index k (at most kMaxImageBytes)
  ImageKind kind = ImageKind::kEeprom;
  Layout layout = Layout::kUnknown;
  bool layout_forced = false;
  bool otp_memory = false;            // read from an OTP, or an OTP file form
  int memory_size = 0;                // EEPROM or OTP size of a device source; 0 otherwise
  uint32_t chip_id = 0;               // chip ID register of a device source
};

// Bounds-checked reading of image bytes: offsets outside the image read as
// 0 and Has() tells whether a range lies inside.
class ByteView {
 public:
  explicit ByteView(const std::vector<uint8_t>& bytes) : data_(bytes.data()), size_(bytes.size()) {}
  ByteView(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  size_t size() const { return size_; }
  bool Has(long offset, long length) const {
    return offset >= 0 && length >= 0 && static_cast<size_t>(offset) <= size_ &&
           static_cast<size_t>(length) <= size_ - static_cast<size_t>(offset);
  }
  uint8_t U8(long offset) const { return Has(offset, 1) ? data_[offset] : 0; }
  uint16_t U16(long offset) const {
    return static_cast<uint16_t>(U8(offset) | (U8(offset + 1) << 8));
  }
  uint32_t U32(long offset) const {
    return static_cast<uint32_t>(U16(offset)) | (static_cast<uint32_t>(U16(offset + 2)) << 16);
  }
  // The bytes of [offset, offset + length) that lie inside the image.
  std::vector<uint8_t> Slice(long offset, long length) const;

 private:
  const uint8_t* data_;
  size_t size_;
};

// Word offset bias of an image: 128 words for a second OTP configuration.
inline int BiasWords(ImageKind kind) { return kind == ImageKind::kOtpSecond ? 128 : 0; }

const char* LayoutName(Layout layout);    // "ORN5300", "ORN5350", "unknown"
const char* KindName(ImageKind kind);     // "EEPROM", "OTP 0xF3", ...
const char* KindKey(ImageKind kind);      // "eeprom", "otp-f3", ... (JSON)
const char* SourceTypeKey(SourceType s);  // "file", "ini", "device"

// The ORN53xx model name of a chip ID register value, or null.
const char* ChipModelName(uint32_t chip_id);
// The layout of a chip ID register value (ORN530A has none).
Layout ChipLayout(uint32_t chip_id);

// Interprets the bytes of a binary file or of a memory dump. `otp` says the
// bytes are an OTP (file form or dump); `eeprom` forces an EEPROM image;
// with neither, a first byte 0xF3 or 0xF7 means an OTP file form.
void ClassifyBytes(Image& image, bool otp, bool eeprom);

// Detects the layout from the bytes: ORN5300 or ORN5350, or unknown when
// the descriptor slots and the BOS descriptor name neither.
Layout DetectLayout(const Image& image);

// Hexadecimal text of bytes, "00 80 0F" (with separator) or "00800f".
std::string HexBytes(const std::vector<uint8_t>& bytes, bool spaced = true);

}  // namespace img
