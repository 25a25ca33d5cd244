// The round trip that proves the decoder: an INI file rendered as -z does,
// the image decoded, and the decoded INI file rendered again must give the
// same file byte for byte, with nothing reported as inexpressible. Header
// only, shared by the unit test and the longer run under `make fuzz`.
#pragma once

#include <string>
#include <vector>

#include "img/decode.h"
#include "img/image.h"
#include "img/render.h"
#include "random_ini.h"

namespace roundtrip {

struct Outcome {
  bool ok = false;
  std::string failure;  // what went wrong, with the INI texts
};

inline Outcome Fail(const RandomIni& ini, const std::string& why, const std::string& decoded = "") {
  Outcome o;
  o.failure = "seed " + std::to_string(ini.seed) + ": " + why + "\n--- generated INI ---\n" + ini.text;
  if (!decoded.empty()) o.failure += "\n--- decoded INI ---\n" + decoded;
  return o;
}

inline Outcome RoundTrip(const RandomIni& ini) {
  img::RenderOptions options;
  options.otp = ini.kind != Kind::kEeprom;
  const img::Rendered first = img::RenderIniText(ini.text, options);
  if (!first.ok) return Fail(ini, "the generated INI file does not render: " + first.error);
  const img::Layout layout = ini.model_5350 ? img::Layout::k5350 : img::Layout::k5300;
  const img::ImageKind kind = ini.kind == Kind::kEeprom     ? img::ImageKind::kEeprom
                              : ini.kind == Kind::kOtpFirst ? img::ImageKind::kOtpFirst
                                                            : img::ImageKind::kOtpSecond;
  if (first.layout != layout || first.kind != kind) {
    return Fail(ini, "the generated INI file renders another layout or kind");
  }

  // The file as a user would hand it to the decoder.
  img::Image image;
  image.name = "seed " + std::to_string(ini.seed);
  image.raw = first.file;
  image.source_size = static_cast<long long>(first.file.size());
  img::ClassifyBytes(image, false, false);
  image.layout = img::DetectLayout(image);
  if (image.kind != kind) return Fail(ini, std::string("the file reads as ") + img::KindName(image.kind));
  if (image.layout != layout) return Fail(ini, std::string("the layout reads as ") + img::LayoutName(image.layout));

  const img::DecodeResult decoded = img::DecodeImage(image, image.name);
  if (!decoded.ok) return Fail(ini, "decode failed: " + decoded.error);
  if (!decoded.differences.empty() || !decoded.notes.empty()) {
    std::string why = "decode reports what no INI file gives:";
    for (const img::ByteRun& run : decoded.differences) {
      why += " offset " + std::to_string(run.offset) + " (" + run.fields + ")";
    }
    for (const img::DecodeNote& note : decoded.notes) why += " [" + note.key + ": " + note.message + "]";
    return Fail(ini, why, decoded.ini);
  }

  img::RenderOptions again;
  again.otp = options.otp;
  again.layout = image.layout;
  const img::Rendered second = img::RenderIniText(decoded.ini, again);
  if (!second.ok) return Fail(ini, "the decoded INI file does not render: " + second.error, decoded.ini);
  if (second.file != first.file) return Fail(ini, "the decoded INI file renders other bytes", decoded.ini);
  Outcome o;
  o.ok = true;
  return o;
}

}  // namespace roundtrip
