// The arithmetic of an identity pool: MAC addresses as 48-bit numbers,
// serial numbers as fixed-width hexadecimal numbers, a pool's range and
// increments, and how many identities it still holds. Nothing here talks
// to a database.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/run_settings.h"

namespace db {

constexpr uint64_t kMacLimit = (uint64_t{1} << 48) - 1;  // the largest MAC address
constexpr int kMaxPoolSerialDigits = 16;
constexpr size_t kMaxPoolNameLength = 64;

// A MAC address as a number, the first byte most significant, and back.
uint64_t MacNumber(const MacAddress& mac);
MacAddress MacFromNumber(uint64_t value);
// As the production record writes it: 00:80:0F:11:22:30.
std::string MacText(uint64_t value);
// "00:80:0F:11:22:30", "00-80-0f-11-22-30" (separators may mix); false
// for anything else.
bool ParseMacText(std::string_view text, uint64_t& value);

// The text under which serial numbers compare: lower-case letters as
// upper-case ones, so that "00a1" and "00A1" are one serial number.
std::string SerialKey(std::string_view serial);
// 1 to 16 hexadecimal digits, either case.
bool IsPoolSerial(std::string_view serial);
// The value of a serial number that IsPoolSerial accepts.
uint64_t SerialValue(std::string_view serial);
// Adds `increment` to a serial number that IsPoolSerial accepts, as a
// hexadecimal number of its width: the digits come out upper-case and the
// width stays. false (text unchanged) when the sum needs more digits.
bool StepSerial(std::string& serial, uint64_t increment);

// A pool's range and increments. The first identity is (first_mac,
// first_serial); each further one adds the increments to both; the pool
// ends after last_mac or last_serial, whichever comes first, or when a
// serial number would need more digits than first_serial has.
struct PoolSpec {
  std::string name;
  uint64_t first_mac = 0;
  uint64_t last_mac = 0;
  int mac_increment = 1;
  std::string first_serial;  // empty: the pool hands out no serial numbers
  std::string last_serial;
  int serial_increment = 1;
};

// Empty when the pool description makes a pool; else why not, as one sentence: a name
// of 1 to 64 letters, digits, '.', '_' or '-'; increments 1 to 255 (the
// duplicate guard refuses a repeated identity, so 0 cannot make a pool);
// first not above last; serial numbers of equal width, hexadecimal digits only.
std::string CheckPoolSpec(const PoolSpec& spec);

// A pool's spec from the identity keys of a station's INI file as the INI
// reader left them in `rs`: CurrentMacAddress, MaximumMacAddress,
// MacAddressIncrement, CurrentSerialNumber, MaximumSerialNumber,
// SerialNumberIncrement. Not checked: see CheckPoolSpec.
PoolSpec PoolSpecFromSettings(const std::string& name, const RunSettings& rs);

// Identities left in a pool whose next identity is `next_mac` and
// `next_serial` (nullopt: stepped beyond its width); 0 when exhausted.
uint64_t RemainingIdentities(const PoolSpec& spec, uint64_t next_mac,
                             const std::optional<std::string>& next_serial);

}  // namespace db
