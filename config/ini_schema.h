// The INI schema: the section table, the section handlers and the checks
// over the whole INI configuration.
#pragma once

#include <cstdio>

#include "core/run_settings.h"

// A section handler: reads the lines of its section from `file` (positioned
// just after the header line) into the run settings record. 0, or -1 after
// its messages.
using IniSectionHandler = int (*)(std::FILE* file, RunSettings& rs);

struct IniSectionRow {
  const char* name;  // the complete header text, brackets included
  IniSectionHandler handler;
};

// The 26 known sections in comparison order, ended by a row with an empty
// name and no handler.
extern const IniSectionRow kIniSectionTable[];

// The row whose name equals `header` exactly (case-sensitive, brackets
// included), or nullptr.
const IniSectionRow* FindIniSection(const char* header);

// Identity sections.
int ParseMacAddressSection(std::FILE* file, RunSettings& rs);
int ParseSerialNumberSection(std::FILE* file, RunSettings& rs);
int ParseStringSection(std::FILE* file, RunSettings& rs);
int ParseIdSection(std::FILE* file, RunSettings& rs);
int ParsePowerSection(std::FILE* file, RunSettings& rs);
// Device configuration sections.
int ParseGpioPme0Section(std::FILE* file, RunSettings& rs);
int ParseGpioPme1Section(std::FILE* file, RunSettings& rs);
int ParseLedConfig0Section(std::FILE* file, RunSettings& rs);
int ParseLedConfig1Section(std::FILE* file, RunSettings& rs);
int ParseLedConfig2Section(std::FILE* file, RunSettings& rs);
int ParseLedBehaviorSection(std::FILE* file, RunSettings& rs);
int ParseGpioConfigSection(std::FILE* file, RunSettings& rs);
int ParsePollIntervalSection(std::FILE* file, RunSettings& rs);
int ParsePmeWufSection(std::FILE* file, RunSettings& rs);
int ParseConfigFlags0Section(std::FILE* file, RunSettings& rs);
// Override and extension sections.
int ParseConfigFlags1Section(std::FILE* file, RunSettings& rs);
int ParseConfigFlags2Section(std::FILE* file, RunSettings& rs);
int ParseConfigFlags3Section(std::FILE* file, RunSettings& rs);
int ParseConfigFlags4Section(std::FILE* file, RunSettings& rs);
int ParseConfigFlags5Section(std::FILE* file, RunSettings& rs);
int ParseOtpConfigSection(std::FILE* file, RunSettings& rs);
int ParseLtmBeltSection(std::FILE* file, RunSettings& rs);
int ParseCommonTestBusSection(std::FILE* file, RunSettings& rs);
int ParseUsbTestSection(std::FILE* file, RunSettings& rs);
int ParseUsb2ExtensionSection(std::FILE* file, RunSettings& rs);
int ParseUsb3ExtensionSection(std::FILE* file, RunSettings& rs);

// Longest USB string a string descriptor can hold (its one-byte length
// counts two bytes per character plus the two-byte header).
constexpr int kMaxUsbStringLength = 126;
// Longest serial number text.
constexpr int kMaxSerialNumberLength = 16;

// Converts rs.FilterMaskPattern ("1A 1B 1C ...") into
// rs.FilterMaskPatternBytes: 0, or -1 after its messages.
int ParseFilterMaskPattern(RunSettings& rs);

// Required-sections check with the LPM rule: 0, or -1 after its messages.
int CheckIniSections(const RunSettings& rs);

// GPIO wake cross-check: every wake GPIO must be an enabled input. 0, or -1
// after the message for the first offending GPIO.
int CheckGpioWakeConfig(const RunSettings& rs);
