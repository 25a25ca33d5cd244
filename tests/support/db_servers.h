// The database servers of the tests.
//
// PostgreSQL: CTest's fixture "postgres" (tests/CMakeLists.txt) runs
// tools/pg_server.sh start <build>/pg_fixture before the tests that require
// it and stop after them; the server listens on 127.0.0.1 only. A test
// that needs it sets FIXTURES_REQUIRED postgres and calls
// FreshPostgresDatabase, which makes an empty database on that server and
// returns its ODBC connection string (superuser "orn" with its password).
// Outside CTest, start the server by hand with the same script, or set
// ORN_TEST_PG_CONNECTION to a connection string of a superuser. The plain
// connection string is in <build>/pg_fixture/connection; when the packages
// could not be installed, <build>/pg_fixture/skipped holds the reason
// instead, and the tests skip with it.
//
// SQLite: its ODBC driver (Debian libsqliteodbc, registered as "SQLite3"),
// one database file per test.
#pragma once

#include <optional>
#include <string>

namespace test {

// The server's own connection string (database "postgres"); nullopt with
// the reason in `why` when there is no server.
std::optional<std::string> PostgresConnection(std::string& why);

// A new, empty database on the fixture's server; nullopt with `why`.
std::optional<std::string> FreshPostgresDatabase(std::string& why);

// The connection string of the SQLite database file `path`; nullopt with
// `why` when the driver cannot be loaded.
std::optional<std::string> SqliteConnection(const std::string& path, std::string& why);

// The connection string with one attribute's value replaced (or added).
std::string WithAttribute(const std::string& connection, const std::string& key,
                          const std::string& value);

}  // namespace test
