// Text-to-number helpers shared by the command line and the INI schema:
// hexadecimal 32-bit values, "0x"-prefixed 16-bit identifiers, MAC
// addresses and single hexadecimal digits. None of them allocates.
#pragma once

#include <cstdint>

#include "core/run_settings.h"

// Reads a register address, PHY register index or value: up to 8
// hexadecimal digits, an optional "0x" prefix, and one '_' allowed between
// the upper and lower 16-bit words ("1234_5678"). On failure prints its own
// message (preceded by eight bell characters) and returns false. The value
// is stored also when only the digit count is wrong.
bool HexStrToDword(const char* text, uint32_t& value);

// Reads "0x1F7B"-style identifiers: "0x" or "0X" and at most 4 hexadecimal
// digits; a blank or tab ends the number. 0 on success, -1 on failure
// (silent; the value is untouched when the text is refused before the digits).
int ParseHex16(const char* text, uint16_t& value);

// Reads "00:11:22:33:44:55" (either case, ':' or '-' separators, which may
// be mixed). 0 on success, -1 on failure (silent); bytes read before a
// failure stay in `mac`.
int ParseMacAddress(const char* text, MacAddress& mac);

// Value of one hexadecimal digit: 0 to 15, or -1.
int HexDigitValue(char c);
