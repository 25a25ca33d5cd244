// Verifying that a source holds what a station's INI file programs: the
// INI file is rendered as the write command would program it into this
// source (same layout, same memory, the source's own MAC address and serial
// number in place of the INI file's), and every field is compared. The
// identity is only checked to lie between the INI file's current and
// maximum values.
#pragma once

#include <string>
#include <vector>

#include "img/diff.h"
#include "img/image.h"

namespace img {

struct IdentityCheck {
  std::string field;  // CurrentMacAddress or CurrentSerialNumber
  int offset = -1;
  std::string found;  // the source's value, as text
  std::string low;    // the INI file's current value
  std::string high;   // the INI file's maximum value
  bool ok = false;
  std::string message;  // why it fails
};

struct VerifyReport {
  bool rendered = false;  // false: the INI file could not be rendered (see error)
  std::string error;
  std::vector<IdentityCheck> identity;
  std::vector<FieldChange> mismatches;  // old: what the INI programs, new: what the source holds
  bool Match() const;
};

VerifyReport VerifyAgainstIni(const std::string& ini_path, const Image& source);

}  // namespace img
