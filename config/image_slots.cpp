#include "config/image_slots.h"

#include <algorithm>

#include "core/output.h"

int ImageBias(const ImageBuffer& image) {
  return image[0] == kOtpSecondSignature ? kOtpSecondBiasWords : 0;
}

SlotSpan LocateSlot(const ImageBuffer& image, int slot, int byte_count, bool is_string) {
  SlotSpan span;
  const int length = image[slot];
  if (length == 0) return span;
  const int word = static_cast<int>(image[slot + 1]) - ImageBias(image);
  if (is_string) {
    if (StringCharCount(length) < 0) {
      span.state = SlotState::kMalformed;
      return span;
    }
    span.length = 2 + 2 * StringCharCount(length);
  } else {
    span.length = length;
  }
  if (word < 0) {
    span.state = SlotState::kBeforeImage;
    return span;
  }
  span.offset = 2 * word;
  const int limit = std::clamp(byte_count, 0, kImageBufferSize);
  span.state = span.offset + span.length <= limit ? SlotState::kValid : SlotState::kPastEnd;
  return span;
}

void ReportBadSlot(const char* what, const ImageBuffer& image, int slot, const SlotSpan& span,
                   int byte_count) {
  switch (span.state) {
    case SlotState::kAbsent:
    case SlotState::kValid:
      return;
    case SlotState::kMalformed:
      PrintError("The %s descriptor has an invalid length %d\n", what, image[slot]);
      return;
    case SlotState::kBeforeImage:
      PrintError("The %s descriptor points before the start of the image (word offset 0x%02X)\n",
                 what, image[slot + 1]);
      return;
    case SlotState::kPastEnd:
      PrintError("The %s descriptor (%d bytes at offset %d) runs past the %d bytes of the image\n",
                 what, span.length, span.offset, byte_count);
      return;
  }
}
