// Shared pieces of the orn5300img tests: images rendered from the examples
// (with changed keys and extra sections), images read from bytes as the
// tool reads a file, and byte patches.
#pragma once

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "img/image.h"
#include "img/render.h"
#include "support/tool_runner.h"

namespace img_test {

inline std::string Example(const std::string& name) {
  return test::ReadFile(std::string(ORN_SOURCE_DIR) + "/examples/" + name);
}

// The INI text with `key`'s value replaced; the key must be in the text.
inline std::string WithKey(const std::string& ini, const std::string& key, const std::string& value) {
  const std::regex line("(^|\n)" + key + " = [^\n]*");
  EXPECT_TRUE(std::regex_search(ini, line)) << key;
  return std::regex_replace(ini, line, "$1" + key + " = " + value);
}

// The ORN5300 example with every optional block: the wake-up filter, LTM
// BELT and the common test bus, and all four strings.
inline std::string Full5300() {
  std::string ini = Example("orn5300.ini");
  ini = WithKey(ini, "PMEWUFFEnable", "1");
  ini = WithKey(ini, "ConfigurationEnable", "1");
  ini = WithKey(ini, "InterfaceEnable", "1");
  ini = WithKey(ini, "ProductString", "ORN5300");
  ini += "\n[LTMBELTConfig]\nLTMBELTIdle0 = 0x11223344\nLTMBELTActive1 = 0x55667788\n"
         "\n[CommonTestBusConfig]\nCommonTestBusIn = 0xCAFEF00D\n";
  return ini;
}

// Reads bytes as the tool reads a binary file.
inline img::Image ImageOf(const std::vector<uint8_t>& file, bool otp = false) {
  img::Image image;
  image.name = "image.bin";
  image.raw = file;
  image.source_size = static_cast<long long>(file.size());
  img::ClassifyBytes(image, otp, false);
  image.layout = img::DetectLayout(image);
  return image;
}

// The file -z makes of the INI text.
inline std::vector<uint8_t> Render(const std::string& ini, bool otp = false) {
  img::RenderOptions options;
  options.otp = otp;
  const img::Rendered r = img::RenderIniText(ini, options);
  EXPECT_TRUE(r.ok) << r.error;
  return r.file;
}

inline img::Image RenderImage(const std::string& ini, bool otp = false) { return ImageOf(Render(ini, otp)); }

// Byte offsets of the items a slot names in an image (bias removed).
inline int SlotOffset(const img::Image& image, int slot) {
  return 2 * (image.bytes.at(static_cast<size_t>(slot + 1)) - img::BiasWords(image.kind));
}

}  // namespace img_test
