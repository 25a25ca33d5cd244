// Verifying that a source holds what a station's INI file programs: the
// INI file is rendered as the write command would program it into this
// source (same layout, same memory, the source's own MAC address and serial
// number in place of the INI file's, as -M and -S would put them), and
// every field is compared byte for byte.
//
// The identity is checked on its own, by one of two rules. By default it
// must be one the INI file's range can hand out: a unicast MAC address not
// above MaximumMacAddress, and a serial number of the INI file's length not
// above MaximumSerialNumber (hexadecimal digits in either case; a serial
// number with other characters is not compared, as orn5300cli does not
// compare it). The INI file's current values are no lower bound: after
// `orn5300cli -w -i station.ini -N` they name the next unit, not the one
// just programmed. With an expected identity (--identity) the MAC address,
// and the serial number when one is given, must be exactly that.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/run_settings.h"
#include "img/diff.h"
#include "img/image.h"
#include "img/render.h"

namespace img {

// The identity a unit must hold, for an exact check.
struct ExpectedIdentity {
  MacAddress mac{};
  OptText serial;  // none: the serial number is checked against the range
};

// "MAC" or "MAC,SERIAL"; the MAC address as 00:80:0F:53:00:01,
// 00-80-0f-53-00-01 or 00800F530001. False with `error` set.
bool ParseExpectedIdentity(const std::string& text, ExpectedIdentity& identity, std::string& error);

struct VerifyOptions {
  std::optional<ExpectedIdentity> identity;  // --identity
  std::string ini_name;  // how messages name the INI file (empty: its path)
  RenderCache* cache = nullptr;  // renders kept between calls (may be null)
};

enum class IdentityRule {
  kMaximum,  // not above the INI file's maximum
  kExact,    // the identity given
};

struct IdentityCheck {
  std::string field;  // CurrentMacAddress or CurrentSerialNumber
  int offset = -1;    // where the source holds it, -1 when it holds none
  std::optional<Field> found;  // the source's field
  std::string value;  // the source's value as text (characters only), empty when none
  IdentityRule rule = IdentityRule::kMaximum;
  std::string reference;  // the INI file's maximum or the identity given
  bool ok = false;
  std::string message;  // why it fails
};

struct VerifyReport {
  std::string error;    // the INI file cannot be used: nothing was compared (exit 2)
  std::string problem;  // the source cannot hold the configuration: blank, another layout...
  std::vector<IdentityCheck> identity;
  std::vector<FieldChange> mismatches;  // old: what the INI programs, new: what the source holds
  bool Match() const;
};

VerifyReport VerifyAgainstIni(const std::string& ini_path, const Image& source,
                              const VerifyOptions& options = {});

// Serial numbers compare as orn5300cli compares them: lower-case
// hexadecimal digits count as their upper-case equivalents.
std::string SerialKey(const std::string& serial);

}  // namespace img
