// Fuzz target: arbitrary bytes as a binary source of orn5300img, through
// decode, check, the field walk and the OTP target check. None may crash or
// read outside the bytes; and whenever decode takes an image on, the INI
// text it writes must render (it substitutes what no INI value can give, so
// the file always validates).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "img/check.h"
#include "img/decode.h"
#include "img/fields.h"
#include "img/image.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::SilenceStdout();
  // The decoder renders its INI text through a temporary file.
  setenv("TMPDIR", fuzz::ScratchDir().c_str(), 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::InputSplitter input(data, size);
  const uint8_t flags = input.TakeByte();
  img::Image image;
  image.name = "input";
  image.raw.assign(input.data(), input.data() + std::min<size_t>(input.size(), img::kMaxRawBytes));
  image.source_size = static_cast<long long>(input.size());
  img::ClassifyBytes(image, (flags & 1) != 0, (flags & 2) != 0);
  // The layout as detected, or forced either way.
  static constexpr img::Layout kForced[] = {img::Layout::kUnknown, img::Layout::k5300, img::Layout::k5350,
                                            img::Layout::kUnknown};
  image.layout = kForced[(flags >> 2) & 3];
  if (image.layout == img::Layout::kUnknown) image.layout = img::DetectLayout(image);

  img::CheckReport report = img::CheckImage(image);
  img::CheckOtpTarget(image, image, report);
  for (const img::Field& field : img::ImageFields(image)) {
    if (img::FieldValueText(field).empty() && field.format != img::FieldFormat::kBytes) std::abort();
  }

  if ((flags & 0x10) == 0) {
    const img::DecodeResult decoded = img::DecodeImage(image, "input");
    const bool configuration = image.kind == img::ImageKind::kEeprom || image.kind == img::ImageKind::kOtpFirst ||
                               image.kind == img::ImageKind::kOtpSecond;
    if (configuration && image.layout != img::Layout::kUnknown && !decoded.ok) {
      std::fprintf(stderr, "decode wrote an INI file that does not render: %s\n%s\n", decoded.error.c_str(),
                   decoded.ini.c_str());
      std::abort();
    }
  }
  return 0;
}
