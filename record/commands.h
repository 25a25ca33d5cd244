// The three commands of orn5300log and their reports: text on standard
// output, messages on standard error, or one JSON document with --json.
#pragma once

#include <string>
#include <string_view>

#include "img/json_writer.h"
#include "provision/production_log.h"
#include "record/log_cli.h"
#include "record/log_reader.h"

namespace record {

int RunSummary(const LogOptions& options);
int RunDuplicates(const LogOptions& options);
int RunShow(const LogOptions& options);

// Version of the JSON documents' layout.
constexpr int kJsonSchemaVersion = 2;

// A logged text as the text reports show it: control characters as \xNN,
// so that a damaged or hostile field cannot steer the terminal.
std::string Shown(std::string_view text);

// A record in JSON: its line and every column by its name; adapter,
// bytes_written and exit_code as numbers, the others as text; a column the
// record leaves empty (or a number column that holds no number) is null.
void RecordJson(img::JsonWriter& j, uint64_t line, const ProductionRecord& record);
// The line counts in JSON.
void LinesJson(img::JsonWriter& j, const LineCounts& lines);

}  // namespace record
