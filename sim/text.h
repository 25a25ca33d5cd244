// Small text helpers of the simulator: hexadecimal digits and byte strings,
// UTF-8 to UTF-16, and operation names.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// Value of a hexadecimal digit, or -1.
int HexDigitValue(char c);

// Parses pairs of hexadecimal digits; blanks (spaces, tabs, line breaks)
// between and inside pairs are ignored.
bool ParseHexBytes(const std::string& text, std::vector<uint8_t>& out, std::string& problem);

// Converts UTF-8 to UTF-16; false on malformed input.
bool Utf8ToUtf16(const std::string& text, std::u16string& out);

// The operation code of a request-channel operation name.
bool OpCodeByName(const std::string& name, uint32_t& code);

// The request-channel name of an operation code, "UNKNOWN" for others.
const char* OpNameOf(uint32_t code);

}  // namespace sim
