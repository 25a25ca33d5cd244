// Decoding an image into the INI file that `orn5300cli -z` turns back into
// the same bytes. The decoder reads every key's value out of the image,
// writes the INI text, and then proves it: the text is rendered by the
// library exactly as -z does and compared with the image byte for byte.
// Bytes that no INI value can give (a group MAC address, a 13th GPIO bit, a
// missing serial number) get the nearest value that validates, a comment in
// the INI text, and are listed as differences; they are never hidden.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "img/image.h"
#include "img/render.h"

namespace img {

// One run of consecutive bytes where the source and the rendered INI file
// differ.
struct ByteRun {
  int offset = 0;                 // image byte offset of the first byte
  std::vector<uint8_t> source;    // the source's bytes (fewer when it ends early)
  std::vector<uint8_t> rendered;  // what the INI file renders there (0 after its end)
  std::vector<std::string> field_names;  // the fields the run touches
  std::string fields;                    // the same names, joined with ", "
};

// A value the INI file cannot carry, and what stands in for it.
struct DecodeNote {
  std::string key;      // the INI key, or the field
  std::string message;  // one sentence
};

struct DecodeResult {
  bool ok = false;    // an INI text was made and rendered
  std::string error;  // why not
  std::string ini;
  std::vector<DecodeNote> notes;
  std::vector<ByteRun> differences;
  Rendered rendered;
};

// Decodes an EEPROM image or an OTP configuration in `image.layout`.
// `source_label` names the source in the INI text's heading; `heading_note`
// (one line, may be empty) is added to the heading as a comment.
DecodeResult DecodeImage(const Image& image, const std::string& source_label,
                         const std::string& heading_note = "");

// The runs where `rendered` (an image of the rendered byte count) differs
// from `source`. Source bytes after the rendered image differ unless they
// are zero (the space behind an image is written with zeros); rendered bytes
// after the end of the source always differ.
std::vector<ByteRun> CompareBytes(const std::vector<uint8_t>& source,
                                  const std::vector<uint8_t>& rendered);

// Longest wake-up filter pattern an INI line can hold: the line reader
// keeps 256 characters, "FilterMaskPattern = " takes 20 and each byte 3.
constexpr int kMaxIniPatternBytes = 79;

}  // namespace img
