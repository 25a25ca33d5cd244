#include "core/parsers.h"

#include <cstdio>
#include <cstring>

namespace {

// HexStrToDword announces each failure with a row of bells before its message.
void RingBells() { std::fputs("\a\a\a\a\a\a\a\a", stdout); }

}  // namespace

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool HexStrToDword(const char* text, uint32_t& value) {
  const size_t length = text == nullptr ? 0 : std::strlen(text);
  if (length == 0) {
    RingBells();
    std::printf("  ERROR:  HexStrToDword:  empty string\n");
    return false;
  }
  if (length > 10) {
    RingBells();
    std::printf("  ERROR:  HexStrToDword:  bad strlen=%u\n", static_cast<unsigned>(length));
    return false;
  }
  uint32_t accumulator = 0;
  int digits = 0;
  for (size_t i = 0; i < length; ++i) {
    const char c = text[i];
    if (i == 0 && c == '0' && length > 1) continue;  // leading zero of "0x..."
    if (i == 1 && (c == 'x' || c == 'X')) continue;
    if (c == '_') {
      if (digits == 4) continue;
      RingBells();
      std::printf("  ERROR:  HexStrToDword, underscore must be between upper/lower words\n");
      return false;
    }
    const int digit = HexDigitValue(c);
    if (digit < 0) {
      RingBells();
      std::printf("  ERROR:  HexStrToDword, bad char szBuf[%d]=0x%02X\n", static_cast<int>(i),
                  static_cast<unsigned>(static_cast<unsigned char>(c)));
      return false;
    }
    accumulator = (accumulator << 4) + static_cast<uint32_t>(digit);
    ++digits;
  }
  value = accumulator;
  if (digits < 1 || digits > 8) {
    RingBells();
    std::printf("  ERROR:  HexStrToDword:  bad #digits =%d (s/b <= 8)\n", digits);
    return false;
  }
  return true;
}

int ParseHex16(const char* text, uint16_t& value) {
  if (text == nullptr) return -1;
  const size_t length = std::strlen(text);
  if (length > 6 || length < 2 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X')) return -1;
  value = 0;
  for (size_t i = 2; i < length; ++i) {
    const char c = text[i];
    if (c == ' ' || c == '\t') return 0;
    const int digit = HexDigitValue(c);
    if (digit < 0) return -1;
    value = static_cast<uint16_t>((value << 4) + digit);
  }
  return 0;
}

int ParseMacAddress(const char* text, MacAddress& mac) {
  if (text == nullptr) return -1;
  const char* p = text;
  for (size_t i = 0; i < mac.size(); ++i) {
    // Each pair is read only when both characters are there: the NUL ends
    // the text before any read past it.
    const int high = HexDigitValue(p[0]);
    if (high < 0) return -1;
    const int low = HexDigitValue(p[1]);
    if (low < 0) return -1;
    mac[i] = static_cast<uint8_t>((high << 4) | low);
    p += 2;
    if (i + 1 < mac.size()) {
      if (*p != ':' && *p != '-') return -1;
      ++p;
    }
  }
  return *p == '\0' ? 0 : -1;
}
