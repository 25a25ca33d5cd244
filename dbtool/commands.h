// The commands of orn5300db: messages on standard error, reports and
// documents (the schema script, the pool table, the CSV export) on standard
// output.
#pragma once

#include <string>

#include "database/line_database.h"
#include "dbtool/db_cli.h"

namespace dbtool {

// Version of the JSON document's layout (pool list --json).
constexpr int kJsonSchemaVersion = 1;

// Runs the parsed command against the database of `connection_string`
// (ORN5300_DB); the exit code.
int RunDbCommand(const DbOptions& options, const std::string& connection_string);

// The exit code of a database result: kDbUnreachable for unreachable,
// refused logins and lost connections, kDbSchema for a missing or unknown
// schema, kDbNotDone for a pool name that is taken, kDbFailed otherwise.
int ExitCodeFor(db::Status status);

}  // namespace dbtool
