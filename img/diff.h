// Field-level differences between two images: fields are matched by name,
// so strings and blocks that moved because an earlier string changed
// length compare by their content, and a slot that holds what the builder
// writes for the items' sizes is not reported on its own. Every other field
// compares byte for byte (a field of some bits of a byte, bit for bit).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "img/fields.h"

namespace img {

struct FieldChange {
  std::string name;
  std::optional<Field> old_field;  // absent: the field is only in the new image
  std::optional<Field> new_field;  // absent: the field is only in the old image
  bool identity = false;
};

struct DiffOptions {
  bool ignore_identity = false;
  // Field names to leave out; a name also covers its members
  // ("HighSpeedDevice" covers "HighSpeedDevice.VendorID").
  std::vector<std::string> ignore;
};

std::vector<FieldChange> DiffFields(const std::vector<Field>& old_fields,
                                    const std::vector<Field>& new_fields, const DiffOptions& options);

// True when `name` is left out by `ignore`.
bool IsIgnored(const std::string& name, const std::vector<std::string>& ignore);

}  // namespace img
