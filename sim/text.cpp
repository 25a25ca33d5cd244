#include "sim/text.h"

#include <cstdio>

#include "driver/protocol.h"

namespace sim {

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ParseHexBytes(const std::string& text, std::vector<uint8_t>& out, std::string& problem) {
  out.clear();
  int high = -1;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r') continue;
    const int digit = HexDigitValue(c);
    if (digit < 0) {
      char what[96];
      std::snprintf(what, sizeof what, "character %zu is not a hexadecimal digit", i + 1);
      problem = what;
      return false;
    }
    if (high < 0) {
      high = digit;
    } else {
      out.push_back(static_cast<uint8_t>(high << 4 | digit));
      high = -1;
    }
  }
  if (high >= 0) {
    problem = "has an odd number of hexadecimal digits";
    return false;
  }
  return true;
}

bool Utf8ToUtf16(const std::string& text, std::u16string& out) {
  out.clear();
  size_t i = 0;
  while (i < text.size()) {
    const uint8_t lead = static_cast<uint8_t>(text[i]);
    uint32_t cp = 0;
    size_t extra = 0;
    uint32_t min = 0;
    if (lead < 0x80) {
      cp = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      cp = lead & 0x1F;
      extra = 1;
      min = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      cp = lead & 0x0F;
      extra = 2;
      min = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      cp = lead & 0x07;
      extra = 3;
      min = 0x10000;
    } else {
      return false;
    }
    if (i + extra >= text.size() && extra > 0) return false;  // cut short
    for (size_t k = 1; k <= extra; ++k) {
      const uint8_t c = static_cast<uint8_t>(text[i + k]);
      if ((c & 0xC0) != 0x80) return false;
      cp = cp << 6 | (c & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += extra + 1;
  }
  return true;
}

bool OpCodeByName(const std::string& name, uint32_t& code) {
  for (uint32_t c = 0; c < 64; ++c) {
    const char* n = OpName(c);
    if (n != nullptr && name == n) {
      code = c;
      return true;
    }
  }
  return false;
}

const char* OpNameOf(uint32_t code) {
  const char* n = OpName(code);
  return n == nullptr ? "UNKNOWN" : n;
}

}  // namespace sim
