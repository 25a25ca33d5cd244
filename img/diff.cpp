#include "img/diff.h"

#include <unordered_map>

namespace img {

bool IsIgnored(const std::string& name, const std::vector<std::string>& ignore) {
  for (const std::string& prefix : ignore) {
    if (name == prefix) return true;
    if (name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0 &&
        name[prefix.size()] == '.') {
      return true;
    }
  }
  return false;
}

std::vector<FieldChange> DiffFields(const std::vector<Field>& old_fields,
                                    const std::vector<Field>& new_fields, const DiffOptions& options) {
  std::unordered_map<std::string, const Field*> by_name;
  for (const Field& f : new_fields) by_name.emplace(f.name, &f);
  auto left_out = [&](const Field& f) {
    return (options.ignore_identity && f.identity) || IsIgnored(f.name, options.ignore);
  };

  std::vector<FieldChange> changes;
  std::unordered_map<std::string, bool> seen;
  for (const Field& old_field : old_fields) {
    seen[old_field.name] = true;
    if (left_out(old_field)) continue;
    auto it = by_name.find(old_field.name);
    if (it == by_name.end()) {
      changes.push_back({old_field.name, old_field, std::nullopt, old_field.identity});
      continue;
    }
    const Field& new_field = *it->second;
    if (SameValue(old_field, new_field)) continue;
    // A slot that holds what the builder writes on both sides follows from
    // the items' own sizes; the items' differences tell the story.
    if (old_field.placement && old_field.canonical && new_field.canonical) continue;
    changes.push_back({old_field.name, old_field, new_field, old_field.identity || new_field.identity});
  }
  for (const Field& new_field : new_fields) {
    if (seen.count(new_field.name) != 0 || left_out(new_field)) continue;
    changes.push_back({new_field.name, std::nullopt, new_field, new_field.identity});
  }
  return changes;
}

}  // namespace img
