// The tables of a production line's database and their version.
//
//   orn_schema  the schema's version (one row)
//   orn_pools   an identity pool per row: first, next and last MAC address
//               (BIGINT) and serial number (fixed-width hexadecimal text),
//               both increments, and `issued`, the identities handed out
//   orn_units   a unit per programming run: a client-made unit_id, the pool
//               it came from (NULL: its identity came from a file), its
//               outcome (reserved, programmed, failed), the keys of its
//               identity (mac_key: the MAC address as a number; serial_key:
//               the serial number in upper case, NULL when none), `guarded`
//               (1 or NULL), the order columns, and the 16 columns of the
//               production record by their CSV names
//
// The duplicate guard is two partial unique indexes: no two rows with
// guarded = 1 share mac_key, nor serial_key. A row guards its identity while
// it is reserved (the device may have been written) or programmed (verify
// passed), unless it is a rework; a failed run's row guards nothing.
//
// Only the table definitions differ between engines (text types, the
// PostgreSQL trigger); the statements that run while a line works are the
// same for PostgreSQL, SQL Server and SQLite.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace db {

// The version a database made by this program carries.
constexpr int kSchemaVersion = 1;

// Longest text stored in a record column; longer texts are cut.
constexpr size_t kMaxRecordText = 4000;

enum class Engine { kPostgreSQL, kSqlServer, kSQLite, kOther };

// The engine from the name the ODBC driver reports (SQL_DBMS_NAME).
Engine EngineFromDbmsName(std::string_view dbms_name);

// The statements that create the schema of kSchemaVersion on `engine`, in
// order, the version row last.
std::vector<std::string> SchemaStatements(Engine engine);

// What `orn5300db init --print-sql` prints: the PostgreSQL schema as one
// script, then a station role `orn_station` that may reserve identities and
// record units, but neither delete a row nor change a finished record.
std::string PostgresSetupScript();

}  // namespace db
