// Shared machinery of the section handlers: numeric keys described by
// table rows (name, form, maximum length, field, messages) and the common
// section reader that runs them, plus the small text parsers the schema
// needs (MAC address, 16-bit "0x" value, hex digit).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "core/run_settings.h"
#include "config/ini_reader.h"

// Where a numeric key's value lives in the run settings record.
struct IniField {
  void (*set)(RunSettings&, uint32_t);
  uint32_t (*get)(const RunSettings&);
};

#define INI_FIELD(field)                                                                   \
  IniField {                                                                               \
    [](RunSettings& rs, uint32_t v) { rs.field = static_cast<decltype(rs.field)>(v); },    \
        [](const RunSettings& rs) { return static_cast<uint32_t>(rs.field); }              \
  }
#define INI_SET_FLAG(field) [](RunSettings& rs) { rs.field = 1; }

enum class IniForm { kDecimal, kHex };

// One numeric key: its check, its field and its messages (each printed
// after "ERROR: "). `missing` is null for optional keys, `above` null when
// the final checks make no range check.
struct IniNumericKey {
  const char* name;
  IniForm form;
  int max_length;  // characters, the "0x" prefix included
  IniField field;
  const char* malformed;
  void (*set_given)(RunSettings&) = nullptr;
  const char* missing = nullptr;
  const char* above = nullptr;
  uint32_t limit = 0;  // `above` is printed for values greater than this
};

// A one-digit switch that must be present and 0 or 1.
#define INI_FLAG_KEY(key)                                                                   \
  IniNumericKey {                                                                           \
    #key, IniForm::kDecimal, 1, INI_FIELD(key), "Invalid " #key " (range 0-1)\n", nullptr,  \
        "The field " #key " is missing\n", "Invalid value for " #key " (range 0-1)\n", 1    \
  }

// An optional hexadecimal word with its given flag.
#define INI_OVERRIDE_KEY(key, given, length, message) \
  IniNumericKey { #key, IniForm::kHex, length, INI_FIELD(key), message, INI_SET_FLAG(given) }

// Checks `value` as `key` says, stores it and sets the presence marker and
// the given flag; prints the malformed message and marks the key
// malformed otherwise. True when well-formed.
bool StoreNumericKey(const IniNumericKey& key, char* value, RunSettings& rs);

// Looks the line up against `keys` in order; the first key that matches is
// stored. Sets `malformed` when its value is malformed. Returns the index of
// the matching key, or -1.
int ReadNumericKeys(const IniNumericKey* keys, size_t count, const IniKeyLine& line,
                    RunSettings& rs, bool& malformed);

// Final checks over numeric keys: missing keys and values above the limit.
// kEachKey reports per key (missing, else above the limit), in key order;
// kMissingFirst reports every missing key first, then every value above its
// limit. All failures are printed; true when none failed.
enum class IniFinalChecks { kEachKey, kMissingFirst };
bool CheckNumericKeys(const IniNumericKey* keys, size_t count, IniFinalChecks order,
                      const RunSettings& rs);

// A section made of numeric keys only.
struct IniKeySection {
  const char* header;  // completion marker to set, or nullptr (optional section)
  const IniNumericKey* keys;
  size_t count;
  IniFinalChecks order;
};
int ReadKeySection(std::FILE* file, RunSettings& rs, const IniKeySection& section);

