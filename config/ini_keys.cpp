#include "config/ini_keys.h"

#include "core/output.h"

bool StoreNumericKey(const IniNumericKey& key, char* value, RunSettings& rs) {
  const bool decimal = key.form == IniForm::kDecimal;
  const int check = decimal ? CheckDecimalValue(value, key.max_length)
                            : CheckHexValue(value, key.max_length);
  if (check != 0) {
    PrintError("%s", key.malformed);
    rs.markers.Set(key.name, kMalformed);
    return false;
  }
  key.field.set(rs, decimal ? DecimalTextValue(value) : HexTextValue(value));
  rs.markers.Set(key.name, kWellFormed);
  if (key.set_given != nullptr) key.set_given(rs);
  return true;
}

int ReadNumericKeys(const IniNumericKey* keys, size_t count, const IniKeyLine& line,
                    RunSettings& rs, bool& malformed) {
  for (size_t i = 0; i < count; ++i) {
    char* value = GetKeyValue(line.buf, keys[i].name, line.first);
    if (value == nullptr) continue;
    if (!StoreNumericKey(keys[i], value, rs)) malformed = true;
    return static_cast<int>(i);
  }
  return -1;
}

bool CheckNumericKeys(const IniNumericKey* keys, size_t count, IniFinalChecks order,
                      const RunSettings& rs) {
  bool ok = true;
  auto missing = [&](const IniNumericKey& key) {
    if (key.missing == nullptr || rs.markers.Get(key.name) != kNotSeen) return false;
    PrintError("%s", key.missing);
    ok = false;
    return true;
  };
  auto above = [&](const IniNumericKey& key) {
    if (key.above == nullptr || key.field.get(rs) <= key.limit) return;
    PrintError("%s", key.above);
    ok = false;
  };
  if (order == IniFinalChecks::kEachKey) {
    for (size_t i = 0; i < count; ++i) {
      if (!missing(keys[i])) above(keys[i]);
    }
  } else {
    for (size_t i = 0; i < count; ++i) missing(keys[i]);
    for (size_t i = 0; i < count; ++i) {
      if (rs.markers.Get(keys[i].name) != kNotSeen) above(keys[i]);
    }
  }
  return ok;
}

int ReadKeySection(std::FILE* file, RunSettings& rs, const IniKeySection& section) {
  bool malformed = false;
  const int read = ReadSectionKeyLines(file, [&](const IniKeyLine& line) {
    ReadNumericKeys(section.keys, section.count, line, rs, malformed);
  });
  if (read < 0 || malformed) return -1;
  if (!CheckNumericKeys(section.keys, section.count, section.order, rs)) return -1;
  if (section.header != nullptr) rs.markers.Complete(section.header);
  return 0;
}
