// Descriptor slots of a configuration image, located safely: every length and
// word offset comes from a file or a device, so each one is checked against
// the bytes the image actually holds before anything is read or written.
#pragma once

#include "core/run_settings.h"

// Header offsets of the slots (length byte; the word offset byte follows).
namespace slots {
constexpr int kManufacturer = 0x25;
constexpr int kProduct = 0x27;
constexpr int kSerial = 0x29;
constexpr int kConfiguration = 0x2B;
constexpr int kInterface = 0x2D;
constexpr int kFirstFixed = 0x2F;  // BOS, device and configuration descriptors
constexpr int kLastFixed = 0x3B;
constexpr int kWakeFilter = 0x3D;
constexpr int kLtmBelt = 0x3F;
constexpr int kTestBus = 0x41;
}  // namespace slots

// Signature of the second OTP configuration, whose word offsets carry a bias.
constexpr uint8_t kOtpSecondSignature = 0xF7;
constexpr int kOtpSecondBiasWords = 128;

// Word offset bias of an image: 128 words for a second OTP configuration.
int ImageBias(const ImageBuffer& image);

enum class SlotState { kAbsent, kValid, kBeforeImage, kPastEnd, kMalformed };

// Where a slot's item lies in the image buffer.
struct SlotSpan {
  SlotState state = SlotState::kAbsent;
  int offset = 0;  // byte offset in the buffer (bias removed)
  int length = 0;  // bytes covered
};

// Locates the item of `slot` within the first `byte_count` bytes of the
// image. A string slot (`is_string`) covers its header word and characters
// and must describe at least the header word.
SlotSpan LocateSlot(const ImageBuffer& image, int slot, int byte_count, bool is_string);

// Characters of a string descriptor: the slot length gives 2n+2 bytes.
inline int StringCharCount(int slot_length) { return slot_length / 2 - 1; }

// Prints "ERROR: " and why the item named `what` cannot be used; nothing
// for a valid or absent slot.
void ReportBadSlot(const char* what, const ImageBuffer& image, int slot, const SlotSpan& span,
                   int byte_count);
