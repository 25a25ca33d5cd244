// A thin layer over ODBC (Windows: the system's odbc32; elsewhere unixODBC):
// one environment and connection per Connection object, statements with
// bound parameters only, manual transactions, and failures as SQLSTATE and
// message with a classification the callers act on. The connection string's
// password is kept only to remove it from every message this layer hands
// out; the connection string itself is never part of a message.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform::odbc {

// What a failure means to the caller.
enum class FailureKind {
  kNone,
  kConnectionLost,  // no link to the server: it never came (unreachable) or broke (08xxx,
                    // 57P01..57P03, HYT01, a driver's "no connection" text)
  kLoginRefused,    // the server refused the user or the password (28xxx, authentication texts)
  kConstraint,      // a constraint refused the change (23xxx, a driver's constraint text)
  kRetry,           // the transaction lost a race and may be tried again (40001, 40P01, busy)
  kOther,
};

struct Error {
  FailureKind kind = FailureKind::kNone;
  std::string sqlstate;  // of the first diagnostic record; empty when ODBC gave none
  std::string message;   // the diagnostic records joined by "; ", password removed
};

// The classification of one diagnostic (SQLSTATE and message text).
FailureKind ClassifyFailure(std::string_view sqlstate, std::string_view message);

// A bound parameter: an integer or a text, each possibly NULL.
struct Value {
  enum class Type { kInteger, kText };
  Type type = Type::kText;
  bool null = true;
  int64_t integer = 0;
  std::string text;

  static Value Int(int64_t v) { return {Type::kInteger, false, v, {}}; }
  static Value Text(std::string v) { return {Type::kText, false, 0, std::move(v)}; }
  static Value NullInt() { return {Type::kInteger, true, 0, {}}; }
  static Value NullText() { return {Type::kText, true, 0, {}}; }
  // NULL for an empty text.
  static Value TextOrNull(const std::string& v) { return v.empty() ? NullText() : Text(v); }
};

class Statement;

class Connection {
 public:
  Connection();
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Connects with an ODBC connection string ("DSN=...;" or "Driver={...};..."),
  // waiting at most `timeout_seconds` for the login. The connection starts in
  // auto-commit mode. false with error() set.
  bool Connect(const std::string& connection_string, int timeout_seconds);
  // Closes the connection (rolling back an open transaction); harmless when
  // not connected.
  void Disconnect();
  bool connected() const;

  // The engine as the driver names it: "PostgreSQL", "Microsoft SQL Server",
  // "SQLite", ...; empty when unknown.
  std::string DbmsName();

  // Manual transactions: with auto-commit off every statement belongs to the
  // open transaction until Commit or Rollback.
  bool SetAutoCommit(bool on);
  bool Commit();
  bool Rollback();

  // Runs one statement without result rows; `rows` receives the number of
  // rows it changed. false with error() set.
  bool Execute(const std::string& sql, const std::vector<Value>& params = {},
               int64_t* rows = nullptr);

  // The last failure of this connection or of one of its statements.
  const Error& error() const;

 private:
  friend class Statement;
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// One statement of a connection; it must not outlive the connection.
class Statement {
 public:
  explicit Statement(Connection& connection);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  // Runs the SQL text with its parameters ('?' markers, in order). false
  // with the connection's error() set.
  bool Execute(const std::string& sql, const std::vector<Value>& params = {});
  // Moves to the next result row: false at the end and on a failure (then
  // the connection's error() has a kind other than kNone).
  bool Fetch();
  // A column of the current row (from 1); nullopt for NULL and on a failure.
  std::optional<std::string> Text(int column);
  std::optional<int64_t> Integer(int column);
  // Rows changed by the last Execute.
  int64_t RowCount();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The password of a connection string: the value of its PWD or Password
// attribute (names in any case; a value in braces may hold ';' and '}}' for
// '}'); empty when there is none.
std::string ConnectionPassword(std::string_view connection_string);

// The connection string with the password's value replaced by "***", for
// showing which connection was meant.
std::string RedactConnectionString(std::string_view connection_string);

// `text` with every occurrence of `password` replaced by "***" (`text` as
// it is when the password is empty).
std::string RemovePassword(std::string_view text, std::string_view password);

}  // namespace platform::odbc
