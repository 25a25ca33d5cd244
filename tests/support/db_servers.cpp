#include "support/db_servers.h"

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

#include "platform/odbc.h"

namespace test {

namespace {

std::string ReadTrimmed(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  std::string s = text.str();
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
  return s;
}

}  // namespace

std::optional<std::string> PostgresConnection(std::string& why) {
  if (const char* given = std::getenv("ORN_TEST_PG_CONNECTION"); given != nullptr && *given != '\0') {
    return std::string(given);
  }
  const std::string dir = ORN_PG_FIXTURE_DIR;
  const std::string connection = ReadTrimmed(dir + "/connection");
  if (!connection.empty()) return connection;
  const std::string skipped = ReadTrimmed(dir + "/skipped");
  why = !skipped.empty() ? skipped
                         : "no PostgreSQL server: run the test through ctest (fixture postgres) or "
                           "tools/pg_server.sh start " + dir;
  return std::nullopt;
}

std::optional<std::string> FreshPostgresDatabase(std::string& why) {
  const std::optional<std::string> server = PostgresConnection(why);
  if (!server) return std::nullopt;
  static std::atomic<unsigned> counter{0};
  std::random_device random;
  const std::string name = "orn_test_" + std::to_string(random() % 1000000000u) + "_" +
                           std::to_string(counter++);
  platform::odbc::Connection c;
  if (!c.Connect(*server, 10) || !c.Execute("CREATE DATABASE " + name)) {
    why = "cannot make a database on the test server: " + c.error().message;
    return std::nullopt;
  }
  return WithAttribute(*server, "Database", name);
}

std::optional<std::string> SqliteConnection(const std::string& path, std::string& why) {
  const std::string connection = "Driver={SQLite3};Database=" + path + ";";
  platform::odbc::Connection c;
  if (!c.Connect(connection, 10)) {
    why = "the SQLite ODBC driver (Debian libsqliteodbc) cannot be used: " + c.error().message;
    return std::nullopt;
  }
  return connection;
}

std::string WithAttribute(const std::string& connection, const std::string& key,
                          const std::string& value) {
  const std::string needle = key + "=";
  const size_t at = connection.find(needle);
  if (at == std::string::npos) return connection + key + "=" + value + ";";
  const size_t end = connection.find(';', at);
  return connection.substr(0, at) + needle + value +
         (end == std::string::npos ? "" : connection.substr(end));
}

}  // namespace test
